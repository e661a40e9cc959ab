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
#include <random>
#include <string>
#include <vector>

namespace {

using dng::TiffContainer;
using dng::TiffTag;

// Writes a TIFF file: a header, then directories, each followed by its out-of-line data.
class TiffBytes {
public:
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> data; // in file order
        int64_t value = -1;        // >= 0: the value field as given, without data
    };
    explicit TiffBytes(bool big) : fBig(big), bytes{uint8_t(big ? 'M' : 'I'), uint8_t(big ? 'M' : 'I')} { Put(2, 42, 2), Put(4, 0, 4); }
    void Put(size_t at, uint64_t v, int n)
    {
        bytes.resize(std::max(bytes.size(), at + n));
        for (int i = 0; i < n; ++i)
            bytes[at + (fBig ? n - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
    }
    // Integers, or numerator/denominator pairs for the rational types.
    Entry Num(uint16_t tag, uint16_t type, std::vector<int64_t> v) const
    {
        const bool rational = type == dng::kTypeRational || type == dng::kTypeSRational;
        const int size = rational ? 4 : static_cast<int>(dng::TagTypeSize(type));
        Entry e{tag, type, static_cast<uint32_t>(rational ? v.size() / 2 : v.size()), {}};
        for (int64_t x : v)
            for (int i = 0; i < size; ++i)
                e.data.push_back(static_cast<uint8_t>(uint64_t(x) >> (8 * (fBig ? size - 1 - i : i))));
        return e;
    }
    uint32_t Next() const { return static_cast<uint32_t>((bytes.size() + 1) & ~size_t(1)); }
    uint32_t Dir(const std::vector<Entry>& entries, uint32_t next = 0)
    {
        const uint32_t at = Next();
        size_t data = at + 2 + 12 * entries.size() + 4;
        Put(at, entries.size(), 2);
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            const size_t p = at + 2 + 12 * i;
            Put(p, e.tag, 2), Put(p + 2, e.type, 2), Put(p + 4, e.count, 4), Put(p + 8, e.value < 0 ? 0 : e.value, 4);
            if (e.value < 0 && e.data.size() <= 4) {
                std::copy(e.data.begin(), e.data.end(), bytes.begin() + p + 8);
            } else if (e.value < 0) {
                data = (data + 1) & ~size_t(1);
                Put(p + 8, data, 4);
                bytes.resize(std::max(bytes.size(), data + e.data.size()));
                std::copy(e.data.begin(), e.data.end(), bytes.begin() + data);
                data += e.data.size();
            }
        }
        Put(at + 2 + 12 * entries.size(), next, 4);
        bytes.resize(std::max(bytes.size(), data));
        return at;
    }
    void First(uint32_t offset) { Put(4, offset, 4); }

    bool fBig;
    std::vector<uint8_t> bytes;
};

using Entry = TiffBytes::Entry;

Entry Text(uint16_t tag, const std::string& s)
{
    return {tag, dng::kTypeAscii, static_cast<uint32_t>(s.size()), std::vector<uint8_t>(s.begin(), s.end())};
}

TiffContainer Parse(const std::vector<uint8_t>& bytes)
{
    dng::MemoryStream stream(bytes);
    TiffContainer c;
    c.Parse(stream);
    return c;
}

int ErrorCode(const std::vector<uint8_t>& bytes)
{
    try {
        Parse(bytes);
    } catch (const dng::Error& e) {
        return e.Code();
    }
    return 0;
}

// IFD0 {A, B}, A {A1}, B {B1}, with EXIF (and interoperability) and GPS; a chained IFD after IFD0.
std::vector<uint8_t> Tree(bool big)
{
    TiffBytes t(big);
    auto leaf = [&](int id) { return t.Dir({t.Num(254, dng::kTypeLong, {id})}); };
    const uint32_t a1 = leaf(11), b1 = leaf(21);
    const uint32_t a = t.Dir({t.Num(254, dng::kTypeLong, {1}), t.Num(330, dng::kTypeIfd, {a1})});
    const uint32_t b = t.Dir({t.Num(254, dng::kTypeLong, {2}), t.Num(330, dng::kTypeLong, {b1})});
    const uint32_t interop = t.Dir({Text(1, "R98")});
    const uint32_t exif = t.Dir({t.Num(0x8827, dng::kTypeShort, {200}), t.Num(40965, dng::kTypeLong, {interop})});
    const uint32_t gps = t.Dir({t.Num(0, dng::kTypeByte, {2, 2, 0, 0})});
    const uint32_t chained = leaf(99);
    t.First(t.Dir({
        t.Num(330, dng::kTypeLong, {a, b}),
        t.Num(258, dng::kTypeShort, {8, 16, 12}),
        t.Num(50721, dng::kTypeSRational, {-2424, 10000, 7, -3}),
        t.Num(50718, dng::kTypeRational, {3, 2}),
        t.Num(1000, dng::kTypeSByte, {-5}),
        t.Num(1001, dng::kTypeSShort, {-300, 300}),
        t.Num(1002, dng::kTypeSLong, {-70000}),
        t.Num(1003, dng::kTypeDouble, {0x3FC0000000000000}), // 0.125
        Text(50708, std::string("Cam  \0\0", 7)),
        {1004, 99, 1, {}, 0},               // unknown type: skipped
        t.Num(1001, dng::kTypeShort, {1}),  // a duplicate: the first copy counts
        t.Num(34665, dng::kTypeLong, {exif}),
        t.Num(34853, dng::kTypeIfd, {gps}),
    }, chained));
    return t.bytes;
}

TEST(TiffContainer, ReadsTheTreeBreadthFirstInBothByteOrders)
{
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        const std::vector<uint8_t> bytes = Tree(big);
        TiffContainer c = Parse(bytes);
        EXPECT_EQ(c.Order(), big ? dng::ByteOrder::kBig : dng::ByteOrder::kLittle);

        // IFD0, A, B, A1, B1; the chained directory is not followed.
        const auto& img = c.Images();
        ASSERT_EQ(img.size(), 5u);
        const int64_t ids[] = {-1, 1, 2, 11, 21};
        const int32_t parents[] = {-1, 0, 0, 1, 2};
        for (size_t i = 1; i < 5; ++i) {
            EXPECT_EQ(img[i].Find(254)->AsSigned(0), ids[i]);
            EXPECT_EQ(img[i].parent, parents[i]);
        }
        ASSERT_TRUE(c.Exif() && c.Gps() && c.Interop());
        EXPECT_EQ(c.Exif()->Find(0x8827)->AsUnsigned(0), 200u);
        EXPECT_EQ(c.Interop()->Find(1)->AsString(), "R98");

        const dng::TiffDirectory& d = img[0];
        EXPECT_EQ(d.tags.size(), 12u);
        EXPECT_EQ(d.Find(1004), nullptr);
        // Values as stored, inline or not, found again at their data offset.
        for (const TiffTag& tag : d.tags)
            EXPECT_EQ(std::memcmp(bytes.data() + tag.dataOffset, tag.bytes.data(), tag.bytes.size()), 0) << tag.code;
        EXPECT_EQ(d.Find(258)->AsUnsigned(2), 12u);
        EXPECT_EQ(d.Find(1000)->AsSigned(0), -5);
        EXPECT_EQ(d.Find(1001)->AsSigned(0), -300);
        EXPECT_EQ(d.Find(1001)->AsSigned(1), 300);
        EXPECT_EQ(d.Find(1002)->AsSigned(0), -70000);
        EXPECT_EQ(d.Find(1003)->AsReal(0), 0.125);
        EXPECT_EQ(d.Find(50721)->AsSRational(0), dng::SRational(-2424, 10000));
        EXPECT_EQ(d.Find(50721)->AsReal(1), 7.0 / -3.0);
        EXPECT_EQ(d.Find(50718)->AsURational(0), dng::URational(3, 2));
        EXPECT_EQ(d.Find(50708)->AsString(), "Cam  ");
    }
}

TEST(TiffContainer, TagAccessorsRefuseWhatDoesNotFit)
{
    auto tag = [](uint16_t type, uint32_t count, std::vector<uint8_t> bytes) {
        return TiffTag{1, type, count, dng::ByteOrder::kBig, std::move(bytes), 0};
    };
    const TiffTag neg = tag(dng::kTypeSShort, 1, {0xFF, 0xFF});
    EXPECT_EQ(neg.AsSigned(0), -1);
    EXPECT_EQ(neg.AsSRational(0), dng::SRational(-1, 1));
    EXPECT_THROW(neg.AsUnsigned(0), dng::Error);
    EXPECT_THROW(neg.AsURational(0), dng::Error);
    EXPECT_THROW(neg.AsSigned(1), dng::Error); // past the count

    const TiffTag big = tag(dng::kTypeRational, 1, {0x80, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(big.AsURational(0), dng::URational(0x80000000u, 1));
    EXPECT_THROW(big.AsSRational(0), dng::Error);
    EXPECT_THROW(big.AsUnsigned(0), dng::Error);
    EXPECT_THROW(big.AsString(), dng::Error);
    EXPECT_EQ(tag(dng::kTypeRational, 1, {0, 0, 0, 5, 0, 0, 0, 0}).AsReal(0), 0.0);
    const TiffTag flt = tag(dng::kTypeFloat, 1, {0x3F, 0xC0, 0, 0});
    EXPECT_EQ(flt.AsReal(0), 1.5);
    EXPECT_THROW(flt.AsSigned(0), dng::Error);

    // Fewer bytes than the count claims (a hand-made tag) are not read past.
    EXPECT_THROW(tag(dng::kTypeLong, 4, {0, 0, 0, 1}).AsUnsigned(1), dng::Error);
    EXPECT_EQ(tag(dng::kTypeAscii, 3, {'a', 'b', ' '}).AsString(), "ab ");
    EXPECT_EQ(tag(dng::kTypeAscii, 0, {}).AsString(), "");
}

TEST(TiffContainer, RefusesWhatIsNoTiffOrCannotBeRead)
{
    const std::vector<uint8_t> good = Tree(false);
    auto with = [&](size_t at, std::vector<uint8_t> patch) {
        std::vector<uint8_t> b = good;
        std::copy(patch.begin(), patch.end(), b.begin() + at);
        return ErrorCode(b);
    };
    EXPECT_EQ(ErrorCode({'I', 'I', 42}), dng::kErrorBadFormat);
    EXPECT_EQ(with(0, {'I', 'M'}), dng::kErrorBadFormat);
    EXPECT_EQ(with(2, {43, 0}), dng::kErrorBadFormat);      // BigTIFF
    EXPECT_EQ(with(4, {0, 0, 0, 0}), dng::kErrorBadFormat); // no IFD0
    EXPECT_EQ(with(4, {0, 0, 0, 9}), dng::kErrorBadFormat); // IFD0 past the end

    // A directory whose entries run past the end, or with impossibly many entries.
    TiffBytes t(false);
    t.First(t.Dir({t.Num(256, dng::kTypeShort, {1})}));
    t.Put(8, 500, 2);
    EXPECT_EQ(ErrorCode(t.bytes), dng::kErrorBadFormat);
    t.Put(8 + 2 + 12 * 5000, 0, 4);
    t.Put(8, 5000, 2);
    EXPECT_EQ(ErrorCode(t.bytes), dng::kErrorBadFormat);

    // Thousands of entries pointing at one block: far more tag bytes than the file holds.
    TiffBytes many(true);
    std::vector<Entry> entries;
    for (uint16_t i = 0; i < 2000; ++i)
        entries.push_back({i, dng::kTypeUndefined, 1000, {}, 8});
    many.First(many.Dir(entries));
    EXPECT_EQ(ErrorCode(many.bytes), dng::kErrorBadFormat);

    // Tag data past the end, also with a byte size beyond 32 bits; in IFD0, a SubIFD and EXIF.
    for (uint16_t where : {0, 330, 34665}) {
        for (uint32_t count : {100u, 0x40000001u, 0xFFFFFFFFu}) {
            TiffBytes h(true);
            const Entry bad{700, dng::kTypeLong, count, {}, 16};
            h.First(where ? h.Dir({h.Num(where, dng::kTypeLong, {h.Dir({bad})})}) : h.Dir({bad}));
            EXPECT_EQ(ErrorCode(h.bytes), dng::kErrorBadFormat) << where << " " << count;
        }
    }
}

TEST(TiffContainer, LoopsDepthAndCountsAreBounded)
{
    for (bool big : {false, true}) {
        // A SubIFD pointing to itself and one back to IFD0; EXIF pointing to IFD0.
        TiffBytes t(big);
        const uint32_t self = t.Next();
        t.Dir({t.Num(330, dng::kTypeLong, {self})});
        const uint32_t ifd0 = t.Next();
        t.Dir({t.Num(330, dng::kTypeLong, {self, ifd0, 0}), t.Num(34665, dng::kTypeLong, {ifd0})});
        t.First(ifd0);
        TiffContainer c = Parse(t.bytes);
        EXPECT_EQ(c.Images().size(), 2u);
        EXPECT_EQ(c.Exif(), nullptr);
    }

    // Nested 30 deep: read down to kMaxDepth below IFD0.
    TiffBytes deep(false);
    uint32_t child = deep.Dir({deep.Num(254, dng::kTypeLong, {30})});
    for (int level = 29; level >= 0; --level)
        child = deep.Dir({deep.Num(254, dng::kTypeLong, {level}), deep.Num(330, dng::kTypeLong, {child})});
    deep.First(child);
    TiffContainer d = Parse(deep.bytes);
    ASSERT_EQ(d.Images().size(), TiffContainer::kMaxDepth + 1);
    EXPECT_EQ(d.Images().back().Find(254)->AsUnsigned(0), TiffContainer::kMaxDepth);

    // 300 SubIFDs: no more than kMaxDirectories directories in all.
    TiffBytes wide(true);
    std::vector<int64_t> children;
    for (int i = 0; i < 300; ++i)
        children.push_back(wide.Dir({wide.Num(254, dng::kTypeLong, {i})}));
    wide.First(wide.Dir({wide.Num(330, dng::kTypeLong, children)}));
    EXPECT_EQ(Parse(wide.bytes).Images().size(), TiffContainer::kMaxDirectories);
}

// Every truncation and a few thousand random byte changes of a good file: an Error or a clean
// parse, never a crash or a read outside the buffer (the sanitizers watch).
TEST(TiffContainer, DamagedBytesNeverCrash)
{
    const std::vector<uint8_t> good = Tree(true);
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_EQ(ErrorCode({good.begin(), good.begin() + n}), dng::kErrorBadFormat);
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        std::vector<uint8_t> b = good;
        for (int k = 0; k < 4; ++k)
            b[rng() % b.size()] = static_cast<uint8_t>(rng());
        const int code = ErrorCode(b);
        EXPECT_TRUE(code == 0 || code == dng::kErrorBadFormat) << code;
    }
}

// Counts what the parser reads, to show that a large file is never read whole.
class CountingStream final : public dng::Stream {
public:
    explicit CountingStream(const dng::Stream& inner) : fInner(inner) {}
    uint64_t Length() const override { return fInner.Length(); }
    mutable uint64_t bytesRead = 0;

private:
    void DoRead(uint64_t offset, std::span<uint8_t> dst) const override
    {
        bytesRead += dst.size();
        fInner.Read(offset, dst);
    }
    const dng::Stream& fInner;
};

TEST(TiffContainer, LargeFileStructureIsReadQuicklyAndSparingly)
{
    const std::string path = fixtures::SamplePath("d800-fullsize.dng");
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "no sample " << path;
    dng::FileStream file(path);
    CountingStream counting(file);
    TiffContainer c;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i)
        c.Parse(counting);
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / 10;
    EXPECT_EQ(c.Images().size(), 3u);
    EXPECT_LT(counting.bytesRead / 10, 64u * 1024);
    EXPECT_LT(ms, 20.0);
}

} // namespace
