// The parsed DNG structure: fields of the image directories, shared and EXIF fields, the choice
// of the main raw image and the validity rule, on hand-made files and on the sample photos.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// Writes a TIFF file: a header, then directories, each followed by its out-of-line data.
class TiffBytes {
public:
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> data; // in file order
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
    Entry Short(uint16_t tag, std::vector<int64_t> v) const { return Num(tag, dng::kTypeShort, std::move(v)); }
    Entry Long(uint16_t tag, std::vector<int64_t> v) const { return Num(tag, dng::kTypeLong, std::move(v)); }
    static Entry Text(uint16_t tag, const std::string& s)
    {
        return {tag, dng::kTypeAscii, static_cast<uint32_t>(s.size()), std::vector<uint8_t>(s.begin(), s.end())};
    }
    uint32_t Dir(const std::vector<Entry>& entries)
    {
        const uint32_t at = static_cast<uint32_t>((bytes.size() + 1) & ~size_t(1));
        size_t data = at + 2 + 12 * entries.size() + 4;
        Put(at, entries.size(), 2), Put(data - 4, 0, 4);
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            const size_t p = at + 2 + 12 * i;
            Put(p, e.tag, 2), Put(p + 2, e.type, 2), Put(p + 4, e.count, 4), Put(p + 8, 0, 4);
            if (e.data.size() <= 4) {
                std::copy(e.data.begin(), e.data.end(), bytes.begin() + p + 8);
            } else {
                data = (data + 1) & ~size_t(1);
                Put(p + 8, data, 4);
                bytes.resize(std::max(bytes.size(), data + e.data.size()));
                std::copy(e.data.begin(), e.data.end(), bytes.begin() + data);
                data += e.data.size();
            }
        }
        return at;
    }
    void First(uint32_t offset) { Put(4, offset, 4); }

    bool fBig;
    std::vector<uint8_t> bytes;
};

using Entries = std::vector<TiffBytes::Entry>;

void Set(Entries& es, TiffBytes::Entry e)
{
    for (auto& x : es)
        if (x.tag == e.tag) {
            x = std::move(e);
            return;
        }
    es.push_back(std::move(e));
}

void Drop(Entries& es, uint16_t tag)
{
    std::erase_if(es, [&](const TiffBytes::Entry& x) { return x.tag == tag; });
}

using Edit = std::function<void(TiffBytes&, Entries& ifd0, Entries& raw, Entries& exif)>;

// A small colour DNG: IFD0 is an RGB thumbnail with the shared tags, SubIFD 0 a 6x4 CFA raw
// image in two strips of two rows. The strip data are not there; the structure does not need them.
std::vector<uint8_t> MakeDng(bool big, const Edit& edit = {})
{
    TiffBytes t(big);
    Entries raw = {
        t.Long(254, {0}), t.Long(256, {6}), t.Long(257, {4}), t.Short(258, {16}), t.Short(259, {1}),
        t.Short(262, {32803}), t.Short(277, {1}), t.Long(278, {2}), t.Long(273, {100000, 100048}),
        t.Long(279, {48, 48}), t.Short(33421, {2, 2}), t.Num(33422, dng::kTypeByte, {1, 0, 2, 1}),
        t.Short(50717, {4095}), t.Num(50719, dng::kTypeRational, {1, 2, 1, 1}), t.Long(50720, {4, 2}),
        t.Num(51022, dng::kTypeUndefined, {0, 0, 0, 0, 9}),
    };
    Entries ifd0 = {
        t.Long(254, {1}), t.Long(256, {2}), t.Long(257, {2}), t.Short(258, {8, 8, 8}), t.Short(262, {2}),
        t.Short(277, {3}), t.Long(273, {8}), t.Long(279, {12}), TiffBytes::Text(271, "Maker"),
        TiffBytes::Text(272, "Model X"), t.Short(274, {6}), t.Num(50706, dng::kTypeByte, {1, 4, 0, 0}),
        TiffBytes::Text(50708, std::string("Maker X \0\0", 10)), TiffBytes::Text(50735, "IFD0-SN"),
        t.Num(50721, dng::kTypeSRational, {8, 10, -2, 10, 0, 1, -5, 10, 12, 10, 3, 10, -1, 10, 2, 10, 7, 10}),
        t.Num(50728, dng::kTypeRational, {1, 2, 1, 1, 3, 4}),
        t.Num(50730, dng::kTypeSRational, {-1, 2}),
        t.Num(700, dng::kTypeByte, {'<', 'x', '/', '>', ' '}),
    };
    Entries exif = {
        t.Num(0x829A, dng::kTypeRational, {1, 250}), t.Short(0x8827, {400}),
        TiffBytes::Text(0x9003, std::string("2014:06:21 20:41:07\0", 20)), TiffBytes::Text(0xA431, "EXIF-SN"),
    };
    if (edit)
        edit(t, ifd0, raw, exif);
    Set(ifd0, t.Long(330, {t.Dir(raw)}));
    if (!exif.empty())
        Set(ifd0, t.Long(34665, {t.Dir(exif)}));
    t.First(t.Dir(ifd0));
    return t.bytes;
}

struct Parsed {
    dng::Info info;
    int error = 0;
};

Parsed ParseBytes(const std::vector<uint8_t>& bytes)
{
    Parsed p;
    dng::Host host;
    dng::MemoryStream stream(bytes);
    try {
        p.info.Parse(host, stream);
        p.info.PostParse(host);
    } catch (const dng::Error& e) {
        p.error = e.Code();
    }
    return p;
}

TEST(Info, SmallDngInBothByteOrders)
{
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        const Parsed p = ParseBytes(MakeDng(big));
        ASSERT_EQ(p.error, 0);
        EXPECT_TRUE(p.info.IsValidDNG()) << p.info.ValidityProblem();
        ASSERT_EQ(p.info.MainIndex(), 1);
        const dng::IfdInfo& m = p.info.MainIfd();
        EXPECT_EQ(m.parent, 0);
        EXPECT_EQ(m.width, 6u);
        EXPECT_EQ(m.height, 4u);
        // Strips are tiles one image wide.
        EXPECT_FALSE(m.usesTiles);
        EXPECT_EQ(m.tileWidth, 6u);
        EXPECT_EQ(m.tileLength, 2u);
        EXPECT_EQ(m.tileOffsets, (std::vector<uint64_t>{100000, 100048}));
        EXPECT_EQ(m.cfaRepeatRows, 2u);
        EXPECT_EQ(m.cfaPattern[0][0], 1);
        EXPECT_EQ(m.cfaPattern[1][0], 2);
        EXPECT_EQ(m.activeArea, dng::Rect(0, 0, 4, 6));
        EXPECT_TRUE(m.hasWhiteLevel);
        EXPECT_EQ(m.whiteLevel[0], 4095u);
        EXPECT_EQ(m.blackLevel[0][0][0], dng::URational(0, 1));
        EXPECT_TRUE(m.hasDefaultCrop);
        EXPECT_EQ(m.defaultCropOriginH, dng::URational(1, 2));
        EXPECT_EQ(m.defaultCropSizeV, dng::URational(2, 1));
        EXPECT_EQ(m.opcodeList[2], (std::vector<uint8_t>{0, 0, 0, 0, 9}));
        EXPECT_FALSE(p.info.Ifds()[0].IsRaw());

        const dng::SharedInfo& s = p.info.Shared();
        EXPECT_EQ(s.dngBackwardVersion, (std::array<uint8_t, 4>{1, 4, 0, 0}));
        EXPECT_EQ(s.uniqueCameraModel, "Maker X ");
        EXPECT_EQ(s.orientation, 6u);
        EXPECT_EQ(s.ColorPlanes(), 3u);
        EXPECT_EQ(s.colorMatrix1[3], dng::SRational(-5, 10));
        ASSERT_EQ(s.asShotNeutral.size(), 3u);
        EXPECT_EQ(s.asShotNeutral[2], dng::URational(3, 4));
        EXPECT_EQ(s.baselineExposure, dng::SRational(-1, 2));
        EXPECT_EQ(s.xmp.size(), 5u);

        EXPECT_TRUE(p.info.HasExif());
        const dng::ExifInfo& e = p.info.Exif();
        EXPECT_EQ(e.make, "Maker");
        EXPECT_EQ(e.cameraSerialNumber, "EXIF-SN");
        EXPECT_EQ(e.exposureTime, dng::URational(1, 250));
        EXPECT_EQ(e.isoSpeed, 400u);
        EXPECT_EQ(e.dateTimeOriginal, "2014:06:21 20:41:07");
    }
}

TEST(Info, LevelsPatternsAndDefaults)
{
    // Black levels in the order row, column, sample; white level 2^bps - 1 when absent; tiles.
    const Parsed p = ParseBytes(MakeDng(false, [](TiffBytes& t, Entries& ifd0, Entries& raw, Entries& exif) {
        Set(raw, t.Short(262, {34892}));
        Set(raw, t.Short(277, {2}));
        Set(raw, t.Short(258, {12, 12}));
        Set(raw, t.Short(50713, {1, 2}));
        Set(raw, t.Num(50714, dng::kTypeRational, {1, 1, 2, 1, 3, 1, 9, 2}));
        Set(raw, t.Num(50716, dng::kTypeSRational, {-1, 4, 0, 1, 0, 1, 1, 4}));
        Set(raw, t.Short(50829, {0, 2, 4, 6}));
        Drop(raw, 50717);
        for (uint16_t tag : {273, 278, 279, 33421, 33422})
            Drop(raw, tag);
        Set(raw, t.Short(322, {4}));
        Set(raw, t.Short(323, {2}));
        Set(raw, t.Long(324, {1, 2, 3, 4}));
        Set(raw, t.Long(325, {1, 1, 1, 1}));
        Drop(ifd0, 50735);
        Set(exif, TiffBytes::Text(0xA431, std::string("\0", 1)));
    }));
    ASSERT_EQ(p.error, 0);
    EXPECT_TRUE(p.info.IsValidDNG()) << p.info.ValidityProblem();
    const dng::IfdInfo& m = p.info.MainIfd();
    EXPECT_EQ(m.blackLevel[0][0][1], dng::URational(2, 1));
    EXPECT_EQ(m.blackLevel[0][1][0], dng::URational(3, 1));
    EXPECT_EQ(m.blackLevel[0][1][1], dng::URational(9, 2));
    EXPECT_EQ(m.blackLevelDeltaV.size(), 4u);
    EXPECT_FALSE(m.hasWhiteLevel);
    EXPECT_EQ(m.whiteLevel[1], 4095u);
    EXPECT_TRUE(m.usesTiles);
    EXPECT_EQ(m.TilesAcross() * m.TilesDown(), 4u);
    EXPECT_EQ(m.cfaRepeatRows, 0u);
    EXPECT_EQ(p.info.Exif().cameraSerialNumber, "");

    // Without an EXIF serial number the DNG one is used. Without RowsPerStrip, one strip.
    const Parsed q = ParseBytes(MakeDng(true, [](TiffBytes& t, Entries&, Entries& raw, Entries& exif) {
        exif.clear();
        Drop(raw, 278);
        Set(raw, t.Long(273, {100000}));
        Set(raw, t.Long(279, {96}));
    }));
    EXPECT_FALSE(q.info.HasExif());
    EXPECT_EQ(q.info.Exif().cameraSerialNumber, "IFD0-SN");
    EXPECT_TRUE(q.info.IsValidDNG()) << q.info.ValidityProblem();
    EXPECT_EQ(q.info.MainIfd().tileLength, 4u);
    EXPECT_EQ(q.info.MainIfd().TilesDown(), 1u);
}

TEST(Info, ColourTagsThatDoNotFitThePlanesAreDropped)
{
    const Parsed p = ParseBytes(MakeDng(false, [](TiffBytes& t, Entries& ifd0, Entries&, Entries&) {
        Set(ifd0, t.Num(50722, dng::kTypeSRational, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1})); // 6, not 9
        Set(ifd0, t.Num(50723, dng::kTypeSRational, std::vector<int64_t>(18, 1)));
        Set(ifd0, t.Num(50728, dng::kTypeRational, {1, 2, 1, 1}));
    }));
    const dng::SharedInfo& s = p.info.Shared();
    EXPECT_TRUE(s.colorMatrix2.empty());
    EXPECT_EQ(s.cameraCalibration1.size(), 9u);
    EXPECT_TRUE(s.asShotNeutral.empty());
    EXPECT_TRUE(p.info.IsValidDNG());

    // A ColorMatrix1 of 8 values gives no colour planes: every colour tag goes.
    const Parsed q = ParseBytes(MakeDng(false, [](TiffBytes& t, Entries& ifd0, Entries&, Entries&) {
        Set(ifd0, t.Num(50721, dng::kTypeSRational, std::vector<int64_t>(16, 1)));
    }));
    EXPECT_EQ(q.info.Shared().ColorPlanes(), 1u);
    EXPECT_TRUE(q.info.Shared().asShotNeutral.empty());
}

// The first NewSubFileType-0 raw directory breadth-first; else the largest raw directory that
// is not marked as something else; else none.
TEST(Info, ChoosesTheMainRawImage)
{
    auto build = [](std::vector<int64_t> types) {
        // IFD0 {P, R1}, P {R0}: breadth-first order IFD0, P, R1, R0.
        TiffBytes t(false);
        auto dir = [&](int64_t type, int64_t w, std::vector<int64_t> subs) {
            Entries e = {t.Long(256, {w}), t.Long(257, {w}), t.Short(262, {34892})};
            if (type >= 0)
                e.push_back(t.Long(254, {type}));
            if (!subs.empty())
                e.push_back(t.Long(330, subs));
            return t.Dir(e);
        };
        const uint32_t r0 = dir(types[3], 300, {});
        const uint32_t r1 = dir(types[2], 200, {});
        const uint32_t pv = dir(types[1], 100, {r0});
        t.First(dir(types[0], 50, {pv, r1}));
        return ParseBytes(t.bytes);
    };
    EXPECT_EQ(build({1, 0, 0, 0}).info.MainIndex(), 1);
    EXPECT_EQ(build({1, 1, 0, 0}).info.MainIndex(), 2);
    EXPECT_EQ(build({-1, -1, 16, -1}).info.MainIndex(), 3);
    EXPECT_EQ(build({-1, 1, 16, 1}).info.MainIndex(), 0);
    const Parsed none = build({1, 1, 16, 1});
    EXPECT_EQ(none.info.MainIndex(), -1);
    EXPECT_FALSE(none.info.IsValidDNG());
    try {
        none.info.MainIfd();
        ADD_FAILURE() << "no main image, no error";
    } catch (const dng::Error& e) {
        EXPECT_EQ(e.Code(), dng::kErrorBadFormat);
    }
}

TEST(Info, ValidityRule)
{
    using T = TiffBytes;
    using E = Entries;
    struct Case {
        const char* what;
        bool valid;
        std::function<void(T& t, E& ifd0, E& raw)> edit;
    };
    auto linear = [](T& t, E& r, std::vector<int64_t> bits) {
        Set(r, t.Short(262, {34892}));
        Set(r, t.Short(277, {int64_t(bits.size())}));
        Set(r, t.Short(50717, std::vector<int64_t>(bits.size(), 255)));
        Set(r, t.Short(258, std::move(bits)));
    };
    const std::vector<int64_t> two{16, 16};
    const Case cases[] = {
        {"no DNGVersion", false, [](T&, E& i, E&) { Drop(i, 50706); }},
        {"version 2", false, [](T& t, E& i, E&) { Set(i, t.Num(50706, 1, {2, 0, 0, 0})); }},
        {"backward 1.8", false, [](T& t, E& i, E&) { Set(i, t.Num(50707, 1, {1, 8, 0, 0})); }},
        {"backward 1.7", true, [](T& t, E& i, E&) { Set(i, t.Num(50707, 1, {1, 7, 0, 0})); }},
        {"no model", false, [](T&, E& i, E&) { Set(i, T::Text(50708, std::string("\0", 1))); }},
        {"width 0", false, [](T& t, E&, E& r) { Set(r, t.Long(256, {0})); }},
        {"width 65001", false, [](T& t, E&, E& r) { Set(r, t.Long(256, {65001})); }},
        {"CFA with 2 samples", false, [&](T& t, E&, E& r) { linear(t, r, two), Set(r, t.Short(262, {32803})); }},
        {"LinearRaw 4 samples", true, [&](T& t, E&, E& r) { linear(t, r, {16, 16, 16, 16}); }},
        {"5 samples", false, [&](T& t, E&, E& r) { linear(t, r, {16, 16, 16, 16, 16}); }},
        {"planar samples", false, [&](T& t, E&, E& r) { linear(t, r, two), Set(r, t.Short(284, {2})); }},
        {"unequal bits", false, [&](T& t, E&, E& r) { linear(t, r, {16, 12}); }},
        {"7 bits", false, [](T& t, E&, E& r) { Set(r, t.Short(258, {7})); }},
        {"last strip short", true, [](T& t, E&, E& r) { Set(r, t.Long(278, {3})); }},
        {"no strip counts", false, [](T&, E&, E& r) { Drop(r, 279); }},
        {"fewer counts than offsets", false, [](T& t, E&, E& r) { Set(r, t.Long(279, {96})); }},
        {"RowsPerStrip 0", false, [](T& t, E&, E& r) { Set(r, t.Long(278, {0})); }},
        {"tile width 0", false, [](T& t, E&, E& r) { Drop(r, 273), Set(r, t.Long(322, {0})), Set(r, t.Long(324, {1})); }},
        {"pattern 9 rows", false, [](T& t, E&, E& r) { Set(r, t.Short(33421, {9, 2})); }},
        {"pattern too short", false, [](T& t, E&, E& r) { Set(r, t.Num(33422, 1, {0, 1, 1})); }},
        {"no pattern", false, [](T&, E&, E& r) { Drop(r, 33422), Drop(r, 33421); }},
        {"colour code 7", false, [](T& t, E&, E& r) { Set(r, t.Num(33422, 1, {0, 1, 1, 7})); }},
        {"active area outside", false, [](T& t, E&, E& r) { Set(r, t.Long(50829, {0, 0, 5, 6})); }},
        {"active area empty", false, [](T& t, E&, E& r) { Set(r, t.Long(50829, {2, 2, 2, 6})); }},
        {"black dim 9", false, [](T& t, E&, E& r) { Set(r, t.Short(50713, {9, 1})); }},
        {"black count", false, [](T& t, E&, E& r) { Set(r, t.Short(50713, {2, 2})), Set(r, t.Long(50714, {1, 2, 3})); }},
        {"delta H count", false, [](T& t, E&, E& r) { Set(r, t.Num(50715, 10, {1, 1, 1, 1})); }},
        {"white 0", false, [](T& t, E&, E& r) { Set(r, t.Short(50717, {0})); }},
        {"table of 1", false, [](T& t, E&, E& r) { Set(r, t.Short(50712, {5})); }},
        {"table of 65537", false, [](T& t, E&, E& r) { Set(r, t.Short(50712, std::vector<int64_t>(65537, 1))); }},
        {"table of 65536", true, [](T& t, E&, E& r) { Set(r, t.Short(50712, std::vector<int64_t>(65536, 1))); }},
        {"5 masked areas", false, [](T& t, E&, E& r) { Set(r, t.Short(50830, std::vector<int64_t>(20, 0))); }},
        {"opcode list of SHORTs", false, [](T& t, E&, E& r) { Set(r, t.Short(51022, {1, 2, 3})); }},
        // Neither the compression nor where the strips lie nor whether they cover the image is
        // judged here, but when the pixels are read.
        {"too few strips", true, [](T& t, E&, E& r) { Set(r, t.Long(278, {1})); }},
        {"compression 9", true, [](T& t, E&, E& r) { Set(r, t.Short(259, {9})); }},
        {"malformed advisory tag", true, [](T& t, E&, E& r) { Set(r, t.Num(50738, 10, {-1, 1})); }},
    };
    for (const Case& c : cases) {
        for (bool big : {false, true}) {
            const Parsed p = ParseBytes(MakeDng(big, [&](T& t, E& i, E& r, E&) { c.edit(t, i, r); }));
            EXPECT_EQ(p.error, 0) << c.what;
            EXPECT_EQ(p.info.IsValidDNG(), c.valid) << c.what << ": " << p.info.ValidityProblem();
        }
    }
}

// Random byte changes of a small DNG: an Error or a clean parse, never a crash or undefined
// behaviour (the sanitizers watch).
TEST(Info, DamagedFilesNeverCrash)
{
    for (bool big : {false, true}) {
        const std::vector<uint8_t> good = MakeDng(big);
        std::mt19937 rng(big ? 11 : 5);
        for (int i = 0; i < 3000; ++i) {
            std::vector<uint8_t> b = good;
            for (int k = 0; k < 3; ++k)
                b[rng() % b.size()] = static_cast<uint8_t>(rng());
            const Parsed p = ParseBytes(b);
            (void)p.info.IsValidDNG();
            // Whatever the tags say, the counts that index fixed arrays stay inside them.
            for (const dng::IfdInfo& ifd : p.info.Ifds()) {
                ASSERT_LE(ifd.samplesPerPixel, dng::kMaxSamplesPerPixel);
                ASSERT_LE(std::max(ifd.cfaRepeatRows, ifd.cfaRepeatCols), dng::kMaxPatternSize);
                ASSERT_LE(std::max(ifd.blackLevelRepeatRows, ifd.blackLevelRepeatCols), dng::kMaxPatternSize);
            }
        }
    }
}

// ---- The sample photos ----

struct Sample {
    const char* file;
    const char* model;
    uint32_t width, height;
    dng::Rect active;
    uint8_t cfa[4]; // 2x2 pattern; 9 for LinearRaw
    uint32_t bits, compression, tileWidth, tileLength, black, white;
    double cropX, cropY, cropW, cropH;
    const char* serial;
    const char* dateTimeOriginal;
};

const Sample kSamples[] = {
    {"m9-16bit-rggb.dng", "M9 Digital Camera", 2000, 1334, {0, 0, 1334, 2000}, {0, 1, 1, 2}, 16, 1, 2000, 1334, 0, 16383, 4, 4, 1992, 1326, "3912307", "2014:06:21 20:41:07"},
    {"m9-8bit-squarelaw.dng", "M9 Digital Camera", 1800, 1200, {0, 0, 1200, 1800}, {0, 1, 1, 2}, 8, 1, 1800, 16, 0, 16256, 2, 2, 1796, 1196, "3912318", "2014:10:12 15:03:44"},
    {"d800-3000x2000.dng", "Nikon D800", 3000, 2000, {0, 0, 2000, 3000}, {0, 1, 1, 2}, 16, 7, 256, 256, 0, 15892, 6, 6, 2988, 1988, "3004417", "2013:05:02 10:17:55"},
    {"d800-fullsize.dng", "Nikon D800", 7424, 4924, {0, 0, 4924, 7424}, {0, 1, 1, 2}, 16, 7, 256, 256, 0, 15892, 32, 6, 7360, 4912, "3004418", "2013:05:03 09:12:31"},
    {"5d3-2400x1600.dng", "Canon EOS 5D Mark III", 2400, 1600, {18, 60, 1600, 2400}, {0, 1, 1, 2}, 16, 7, 240, 272, 2048, 15000, 4, 4, 2332, 1574, "052021001377", "2015:02:14 13:22:09"},
    {"sony-a7s-bggr.dng", "Sony ILCE-7S", 2400, 1600, {0, 0, 1600, 2400}, {2, 1, 1, 0}, 16, 7, 240, 272, 512, 16300, 8, 8, 2384, 1584, "3201847", "2015:07:30 16:40:12"},
    {"leica-t-warp.dng", "LEICA T (Typ 701)", 2400, 1600, {0, 0, 1600, 2400}, {0, 1, 1, 2}, 16, 1, 2400, 64, 0, 16383, 8, 8, 2384, 1584, "4871122", "2015:03:08 11:05:47"},
    {"leica-m240-jpegpreview.dng", "LEICA M (Typ 240)", 2000, 1334, {0, 0, 1334, 2000}, {0, 1, 1, 2}, 16, 1, 2000, 1334, 0, 16383, 4, 4, 1992, 1326, "4605519", "2014:09:27 18:31:02"},
    {"d200-grbg.dng", "Nikon D200", 1600, 1072, {0, 0, 1072, 1600}, {1, 0, 2, 1}, 16, 1, 1600, 1072, 0, 4095, 2, 2, 1596, 1068, "5011933", "2008:07:14 21:55:40"},
    {"canon-7d-unsupported.dng", "Canon EOS 7D", 1600, 1080, {20, 64, 1080, 1600}, {0, 1, 1, 2}, 16, 1, 1600, 1080, 2047, 13800, 4, 4, 1528, 1052, "1280521947", "2012:08:19 12:00:31"},
    {"m9-mono-linearraw.dng", "M9 Digital Camera", 1200, 800, {0, 0, 800, 1200}, {9}, 16, 1, 1200, 800, 0, 16383, 4, 4, 1192, 792, "3912350", "2014:11:02 08:44:16"},
    {"d800-truncated.dng", "Nikon D800", 3000, 2000, {0, 0, 2000, 3000}, {0, 1, 1, 2}, 16, 7, 256, 256, 0, 15892, 6, 6, 2988, 1988, "3004417", "2013:05:02 10:17:55"},
};

Parsed ParseFile(const std::string& path)
{
    Parsed p;
    dng::Host host;
    dng::FileStream stream(path);
    p.info.Parse(host, stream);
    p.info.PostParse(host);
    return p;
}

TEST(Info, SamplePhotos)
{
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.file);
        const std::string path = fixtures::SamplePath(s.file);
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "no sample " << path;
        const Parsed p = ParseFile(path);
        EXPECT_TRUE(p.info.IsValidDNG()) << p.info.ValidityProblem();
        EXPECT_EQ(p.info.MainIndex(), 1);
        const dng::IfdInfo& m = p.info.MainIfd();
        EXPECT_EQ(m.width, s.width);
        EXPECT_EQ(m.height, s.height);
        EXPECT_EQ(m.activeArea, s.active);
        EXPECT_EQ(m.bitsPerSample[0], s.bits);
        EXPECT_EQ(m.compression, s.compression);
        EXPECT_EQ(m.usesTiles, s.compression == 7);
        EXPECT_EQ(m.tileWidth, s.tileWidth);
        EXPECT_EQ(m.tileLength, s.tileLength);
        EXPECT_EQ(m.TileCount(), uint64_t(m.TilesAcross()) * m.TilesDown());
        EXPECT_EQ(m.blackLevel[0][0][0].As_real64(), s.black);
        EXPECT_EQ(m.whiteLevel[0], s.white);
        EXPECT_EQ(m.defaultCropOriginH.As_real64(), s.cropX);
        EXPECT_EQ(m.defaultCropOriginV.As_real64(), s.cropY);
        EXPECT_EQ(m.defaultCropSizeH.As_real64(), s.cropW);
        EXPECT_EQ(m.defaultCropSizeV.As_real64(), s.cropH);
        const dng::SharedInfo& sh = p.info.Shared();
        EXPECT_EQ(sh.uniqueCameraModel, s.model);
        EXPECT_EQ(p.info.Exif().cameraSerialNumber, s.serial);
        EXPECT_EQ(p.info.Exif().dateTimeOriginal, s.dateTimeOriginal);
        if (s.cfa[0] == 9) {
            EXPECT_EQ(m.photometric, dng::kPhotometricLinearRaw);
            EXPECT_EQ(sh.ColorPlanes(), 1u);
            EXPECT_TRUE(sh.asShotNeutral.empty());
        } else {
            EXPECT_EQ(m.photometric, dng::kPhotometricCFA);
            ASSERT_EQ(m.cfaRepeatRows, 2u);
            ASSERT_EQ(m.cfaRepeatCols, 2u);
            EXPECT_EQ((std::vector<uint8_t>{m.cfaPattern[0][0], m.cfaPattern[0][1], m.cfaPattern[1][0], m.cfaPattern[1][1]}),
                      (std::vector<uint8_t>(s.cfa, s.cfa + 4)));
            EXPECT_EQ(sh.colorMatrix1.size(), 9u);
            EXPECT_EQ(sh.colorMatrix2.size(), 9u);
            EXPECT_EQ(sh.asShotNeutral.size(), 3u);
            EXPECT_EQ(sh.asShotNeutral[1].As_real64(), 1.0);
        }
    }
}

TEST(Info, SamplePhotoDetails)
{
    const std::string dir = fixtures::SamplesDir();
    if (!std::filesystem::exists(dir + "/leica-t-warp.dng"))
        GTEST_SKIP() << "no samples in " << dir;
    // One WarpRectilinear opcode in list 3 (big-endian count 1, then ID 1).
    const Parsed warp = ParseFile(dir + "/leica-t-warp.dng");
    const std::vector<uint8_t>& list3 = warp.info.MainIfd().opcodeList[2];
    ASSERT_GE(list3.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(list3.begin(), list3.begin() + 8), (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(warp.info.Shared().dngBackwardVersion[1], 3);

    const Parsed square = ParseFile(dir + "/m9-8bit-squarelaw.dng");
    ASSERT_EQ(square.info.MainIfd().linearizationTable.size(), 256u);
    EXPECT_EQ(square.info.MainIfd().linearizationTable[255], 16256);
    EXPECT_EQ(square.info.MainIfd().TileCount(), 75u);

    const Parsed canon = ParseFile(dir + "/5d3-2400x1600.dng");
    EXPECT_EQ(canon.info.MainIfd().maskedAreas, (std::vector<dng::Rect>{{0, 0, 18, 2400}, {18, 0, 1600, 60}}));

    // The truncated file is valid: its tiles lie past the cut, which only the pixel reader sees.
    const Parsed cut = ParseFile(dir + "/d800-truncated.dng");
    const dng::IfdInfo& m = cut.info.MainIfd();
    EXPECT_GT(m.tileOffsets.back() + m.tileByteCounts.back(), cut.info.FileLength());

    const Parsed tif = ParseFile(dir + "/not-a-dng.tif");
    EXPECT_FALSE(tif.info.IsValidDNG());
    EXPECT_EQ(tif.info.ValidityProblem(), "no DNGVersion");
}

// Files from cameras and other programs: they parse and are valid, so that the program can
// refuse them for their camera model or their data.
TEST(Info, RealWorldFiles)
{
    const std::string dir = fixtures::SamplesDir() + "/real";
    if (!std::filesystem::exists(dir))
        GTEST_SKIP() << "no " << dir;
    struct Real {
        const char* file;
        const char* model;
        int32_t main;
        uint32_t photometric, compression, spp, bits;
    };
    const Real reals[] = {
        {"canon-6d-linearraw-lossy.dng", "Canon EOS 6D", 1, 34892, 34892, 3, 8},
        {"lg-h815-linearraw-lossy.dng", "LG-H815", 1, 34892, 34892, 3, 8},
        {"iphone-proraw-stripped.dng", "iPhone13,3 back camera", 1, 34892, 7, 3, 12},
        {"gopro-hero6-vc5.dng", "GoPro HERO6 Black", 0, 32803, 9, 1, 16},
    };
    for (const Real& r : reals) {
        SCOPED_TRACE(r.file);
        const Parsed p = ParseFile(dir + "/" + r.file);
        EXPECT_TRUE(p.info.IsValidDNG()) << p.info.ValidityProblem();
        EXPECT_EQ(p.info.Shared().uniqueCameraModel, r.model);
        ASSERT_EQ(p.info.MainIndex(), r.main);
        const dng::IfdInfo& m = p.info.MainIfd();
        EXPECT_EQ(m.photometric, r.photometric);
        EXPECT_EQ(m.compression, r.compression);
        EXPECT_EQ(m.samplesPerPixel, r.spp);
        EXPECT_EQ(m.bitsPerSample[r.spp - 1], r.bits);
        EXPECT_EQ(p.info.Shared().ColorPlanes(), 3u);
    }

    // The stripped Canon file keeps one tile offset for a grid of 14 x 10 tiles: valid, its
    // metadata readable; reading its pixels is what fails.
    const Parsed canon = ParseFile(dir + "/canon-350d-stripped.dng");
    EXPECT_TRUE(canon.info.IsValidDNG()) << canon.info.ValidityProblem();
    EXPECT_EQ(canon.info.Shared().uniqueCameraModel, "Canon EOS 350D");
    EXPECT_EQ(canon.info.Exif().make, "Canon");
    ASSERT_EQ(canon.info.MainIndex(), 1);
    const dng::IfdInfo& m = canon.info.MainIfd();
    EXPECT_EQ(m.activeArea, dng::Rect(14, 42, 2328, 3516));
    EXPECT_EQ(m.whiteLevel[0], 4095u);
    EXPECT_EQ(m.TileCount(), 1u);
}

} // namespace
