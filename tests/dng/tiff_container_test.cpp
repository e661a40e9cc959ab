// The TIFF container: both byte orders, the directory tree, tag accessors, and damaged or
// hostile structures built byte by byte.
#include "dng/error.h"
#include "dng/stream.h"
#include "dng/tiff_container.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace dng;

// An entry: its values (numerator, denominator pairs for rationals). count and field, when >= 0,
// are written as given in place of the real count and the value field (no values then).
struct E { uint16_t tag, type; std::vector<int64_t> v; int64_t count = -1, field = -1; };
E Text(uint16_t tag, const std::string& s) { return {tag, kTypeAscii, {s.begin(), s.end()}}; }

// A TIFF file; each directory is followed by its out-of-line values.
struct Tiff {
    bool big;
    std::vector<uint8_t> b = std::vector<uint8_t>(8);
    explicit Tiff(bool big) : big(big) { b[0] = b[1] = big ? 'M' : 'I', Put(2, 42, 2); }
    void Put(size_t at, uint64_t v, size_t n)
    {
        b.resize(std::max(b.size(), at + n));
        for (size_t i = 0; i < n; ++i)
            b[at + (big ? n - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
    }
    uint32_t Next() const { return static_cast<uint32_t>((b.size() + 1) & ~size_t(1)); }
    uint32_t Dir(const std::vector<E>& es, uint32_t next = 0)
    {
        const uint32_t at = Next();
        size_t data = at + 6 + 12 * es.size();
        Put(at, es.size(), 2), Put(data - 4, next, 4);
        for (size_t i = 0; i < es.size(); ++i) {
            const E& e = es[i];
            const bool rational = e.type == kTypeRational || e.type == kTypeSRational;
            const size_t size = rational ? 4 : TagTypeSize(e.type), p = at + 2 + 12 * i;
            size_t to = p + 8;
            Put(p, e.tag, 2), Put(p + 2, e.type, 2), Put(p + 4, e.count >= 0 ? e.count : e.v.size() >> rational, 4);
            if (e.field >= 0 || e.v.size() * size > 4) {
                data = (data + 1) & ~size_t(1);
                Put(to, e.field >= 0 ? e.field : data, 4);
                to = data, data += e.v.size() * size;
            }
            for (int64_t x : e.v)
                Put(to, x, size), to += size;
        }
        return at;
    }
    void First(uint32_t at) { Put(4, at, 4); }
};

TiffContainer Parse(const Stream& stream) { TiffContainer c; c.Parse(stream); return c; }

int ErrorCode(const std::vector<uint8_t>& bytes)
{
    try {
        Parse(MemoryStream(bytes));
    } catch (const Error& e) {
        return e.Code();
    }
    return 0;
}

// IFD0 {A, B}, A {A1}, B {B1}, with EXIF (and interoperability) and GPS; a chained IFD after IFD0.
std::vector<uint8_t> Tree(bool big)
{
    Tiff t(big);
    auto leaf = [&](int64_t id) { return t.Dir({{254, kTypeLong, {id}}}); };
    const uint32_t a1 = leaf(11), b1 = leaf(21);
    const uint32_t a = t.Dir({{254, kTypeLong, {1}}, {330, kTypeIfd, {a1}}});
    const uint32_t b = t.Dir({{254, kTypeLong, {2}}, {330, kTypeLong, {b1}}});
    const uint32_t exif = t.Dir({{0x8827, kTypeShort, {200}}, {40965, kTypeLong, {t.Dir({Text(1, "R98")})}}});
    const uint32_t gps = t.Dir({{0, kTypeByte, {2, 2, 0, 0}}});
    const uint32_t chained = leaf(99);
    t.First(t.Dir({{330, kTypeLong, {a, b}}, {258, kTypeShort, {8, 16, 12}},
                   {50721, kTypeSRational, {-2424, 10000, 7, -3}}, {50718, kTypeRational, {3, 2}},
                   {1000, kTypeSByte, {-5}}, {1001, kTypeSShort, {-300, 300}}, {1002, kTypeSLong, {-70000}},
                   {1003, kTypeDouble, {0x3FC0000000000000}}, // 0.125
                   Text(50708, std::string("Cam  \0\0", 7)),
                   {1004, 99, {}, 1, 0},             // unknown type: skipped
                   {1001, kTypeShort, {1}},          // a duplicate: the first copy counts
                   {34665, kTypeLong, {exif}}, {34853, kTypeIfd, {gps}}},
                  chained));
    return t.b;
}

TEST(TiffContainer, ReadsTheTreeBreadthFirstInBothByteOrders)
{
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        const std::vector<uint8_t> bytes = Tree(big);
        const TiffContainer c = Parse(MemoryStream(bytes));
        EXPECT_EQ(c.Order(), big ? ByteOrder::kBig : ByteOrder::kLittle);
        // IFD0, A, B, A1, B1; the chained directory is not followed.
        const auto& img = c.Images();
        ASSERT_EQ(img.size(), 5u);
        const std::pair<int64_t, int32_t> idAndParent[] = {{0, -1}, {1, 0}, {2, 0}, {11, 1}, {21, 2}};
        for (size_t i = 1; i < 5; ++i)
            EXPECT_EQ(std::pair(img[i].Find(254)->AsSigned(0), img[i].parent), idAndParent[i]);
        ASSERT_TRUE(c.Exif() && c.Gps() && c.Interop());
        EXPECT_EQ(std::pair(c.Exif()->Find(0x8827)->AsUnsigned(0), c.Interop()->Find(1)->AsString()), std::pair(200ul, std::string("R98")));

        const TiffDirectory& d = img[0];
        EXPECT_EQ(d.tags.size(), 12u);
        EXPECT_EQ(d.Find(1004), nullptr);
        // Values as stored, inline or not, found again at their data offset.
        for (const TiffTag& tag : d.tags)
            EXPECT_EQ(std::memcmp(bytes.data() + tag.dataOffset, tag.bytes.data(), tag.bytes.size()), 0) << tag.code;
        const std::tuple<uint16_t, uint32_t, double> values[] = {
            {258, 2, 12}, {1000, 0, -5}, {1001, 0, -300}, {1001, 1, 300}, {1002, 0, -70000},
            {1003, 0, 0.125}, {50721, 0, -0.2424}, {50721, 1, 7.0 / -3.0}, {50718, 0, 1.5}};
        for (const auto& [tag, i, want] : values)
            EXPECT_EQ(d.Find(tag)->AsReal(i), want) << tag;
        EXPECT_EQ(d.Find(50708)->AsString(), "Cam  ");
    }
}

TEST(TiffContainer, TagAccessorsRefuseWhatDoesNotFit)
{
    auto tag = [](uint16_t type, uint32_t count, std::vector<uint8_t> bytes) {
        return TiffTag{1, type, count, ByteOrder::kBig, std::move(bytes), 0};
    };
    const TiffTag neg = tag(kTypeSShort, 1, {0xFF, 0xFF}), big = tag(kTypeRational, 1, {0x80, 0, 0, 0, 0, 0, 0, 1});
    const TiffTag flt = tag(kTypeFloat, 1, {0x3F, 0xC0, 0, 0}), cut = tag(kTypeLong, 4, {0, 0, 0, 1});
    EXPECT_EQ(std::pair(neg.AsSRational(0), big.AsURational(0)), std::pair(SRational(-1, 1), URational(0x80000000u, 1)));
    EXPECT_EQ(std::pair(flt.AsReal(0), tag(kTypeRational, 1, {0, 0, 0, 5, 0, 0, 0, 0}).AsReal(0)), std::pair(1.5, 0.0));
    EXPECT_EQ(tag(kTypeAscii, 3, {'a', 'b', ' '}).AsString(), "ab ");
    // Negative as unsigned; past the count, or past the bytes of a hand-made tag; too large for
    // a signed rational; not of the kind asked for.
    const std::function<void()> refused[] = {
        [&] { neg.AsUnsigned(0); }, [&] { neg.AsURational(0); }, [&] { neg.AsSigned(1); }, [&] { cut.AsUnsigned(1); },
        [&] { big.AsSRational(0); }, [&] { big.AsUnsigned(0); }, [&] { big.AsString(); }, [&] { flt.AsSigned(0); }};
    for (size_t i = 0; i < std::size(refused); ++i)
        EXPECT_THROW(refused[i](), Error) << i;
}

// Broken headers and directories are refused; every truncation and thousands of random byte
// changes give an Error or a clean parse, never a crash or a read outside the buffer.
TEST(TiffContainer, RefusesBrokenStructuresAndNeverCrashes)
{
    const std::vector<uint8_t> good = Tree(true);
    const std::pair<size_t, std::vector<uint8_t>> patches[] = {
        {0, {'M', 'I'}}, {2, {0, 43}} /* BigTIFF */, {4, {0, 0, 0, 0}} /* no IFD0 */, {4, {0, 0, 9, 0}}};
    for (const auto& [at, patch] : patches) {
        std::vector<uint8_t> b = good;
        std::copy(patch.begin(), patch.end(), b.begin() + at);
        EXPECT_EQ(ErrorCode(b), kErrorBadFormat) << at;
    }
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_EQ(ErrorCode({good.begin(), good.begin() + n}), kErrorBadFormat) << n;
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> b = good;
        for (int k = 0; k < 4; ++k)
            b[rng() % b.size()] = static_cast<uint8_t>(rng());
        const int code = ErrorCode(b);
        EXPECT_TRUE(code == 0 || code == kErrorBadFormat) << code;
    }

    // Entries past the end or impossibly many; thousands of entries sharing one block (far more
    // tag bytes than the file holds); tag data past the end, also with a byte size beyond 32 bits,
    // in IFD0, a SubIFD and EXIF.
    for (uint32_t n : {500u, 5000u}) {
        Tiff t(false);
        t.First(t.Dir({{256, kTypeShort, {1}}}));
        t.b.resize(std::max<size_t>(t.b.size(), n > 4096 ? 8 + 6 + 12 * n : 0)), t.Put(8, n, 2);
        EXPECT_EQ(ErrorCode(t.b), kErrorBadFormat) << n;
    }
    Tiff many(true);
    std::vector<E> entries;
    for (uint16_t i = 0; i < 2000; ++i)
        entries.push_back({i, kTypeUndefined, {}, 1000, 8});
    many.First(many.Dir(entries));
    EXPECT_EQ(ErrorCode(many.b), kErrorBadFormat);
    for (uint16_t where : {0, 330, 34665}) {
        for (int64_t count : {100LL, 0x40000001LL, 0xFFFFFFFFLL}) {
            Tiff h(true);
            const E bad{700, kTypeLong, {}, count, 16};
            h.First(where ? h.Dir({{where, kTypeLong, {h.Dir({bad})}}}) : h.Dir({bad}));
            EXPECT_EQ(ErrorCode(h.b), kErrorBadFormat) << where << " " << count;
        }
    }
}

TEST(TiffContainer, RefusesDirectoriesAndValuesThatOverlap)
{
    // Two values in one block, two apart, or one value over its own directory (at 300).
    const std::pair<int64_t, int64_t> fields[] = {{200, 200}, {200, 208}, {200, 240}, {300, 240}};
    for (const auto& [first, second] : fields) {
        Tiff t(false);
        t.b.resize(300);
        t.First(t.Dir({{700, kTypeLong, {}, 4, first}, {701, kTypeLong, {}, 4, second}}));
        EXPECT_EQ(ErrorCode(t.b), second - first >= 16 ? 0 : kErrorBadFormat) << first << " " << second;
    }
}

TEST(TiffContainer, LoopsDepthAndCountsAreBounded)
{
    // A SubIFD pointing to itself and one back to IFD0; EXIF pointing to IFD0.
    Tiff t(true);
    const uint32_t self = t.Next();
    t.Dir({{330, kTypeLong, {self}}});
    const uint32_t ifd0 = t.Next();
    t.First(t.Dir({{330, kTypeLong, {self, ifd0, 0}}, {34665, kTypeLong, {ifd0}}}));
    const TiffContainer c = Parse(MemoryStream(t.b));
    EXPECT_EQ(c.Images().size(), 2u);
    EXPECT_EQ(c.Exif(), nullptr);

    // Nested 30 deep: read down to kMaxDepth below IFD0. 300 SubIFDs: kMaxDirectories in all.
    Tiff deep(false), wide(true);
    uint32_t child = deep.Dir({{254, kTypeLong, {30}}});
    for (int64_t level = 29; level >= 0; --level)
        child = deep.Dir({{254, kTypeLong, {level}}, {330, kTypeLong, {child}}});
    deep.First(child);
    const TiffContainer d = Parse(MemoryStream(deep.b));
    ASSERT_EQ(d.Images().size(), TiffContainer::kMaxDepth + 1);
    EXPECT_EQ(d.Images().back().Find(254)->AsUnsigned(0), TiffContainer::kMaxDepth);
    std::vector<int64_t> children;
    for (int64_t i = 0; i < 300; ++i)
        children.push_back(wide.Dir({{254, kTypeLong, {i}}}));
    wide.First(wide.Dir({{330, kTypeLong, children}}));
    EXPECT_EQ(Parse(MemoryStream(wide.b)).Images().size(), TiffContainer::kMaxDirectories);
}

// Counts what the parser reads, to show that a large file is never read whole.
struct CountingStream final : Stream {
    explicit CountingStream(const Stream& inner) : inner(inner) {}
    uint64_t Length() const override { return inner.Length(); }
    void DoRead(uint64_t offset, std::span<uint8_t> dst) const override { bytesRead += dst.size(), inner.Read(offset, dst); }
    const Stream& inner;
    mutable uint64_t bytesRead = 0;
};

TEST(TiffContainer, LargeFileStructureIsReadQuicklyAndSparingly)
{
    const std::string path = fixtures::SamplePath("d800-fullsize.dng");
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "no sample " << path;
    const FileStream file(path);
    const CountingStream counting(file);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Parse(counting).Images().size(), 3u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_LT(counting.bytesRead / 10, 64u * 1024);
}

} // namespace
