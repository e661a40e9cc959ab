// The parsed DNG structure: fields of the image directories, shared and EXIF fields, the choice
// of the main raw image and the validity rule, on hand-made files and on the sample photos.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using dng::Rect;
using dng::SRational;
using dng::URational;

// A tag's type and values (numerator, denominator pairs for rationals); a directory by tag code.
struct V { uint16_t type; std::vector<int64_t> v; };
using D = std::map<uint16_t, V>;
constexpr uint16_t B = dng::kTypeByte, S = dng::kTypeShort, L = dng::kTypeLong, R = dng::kTypeRational,
                   SR = dng::kTypeSRational;
V Text(const std::string& s) { return {dng::kTypeAscii, {s.begin(), s.end()}}; }

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
    uint32_t Dir(const D& d)
    {
        const size_t at = (b.size() + 1) & ~size_t(1), p0 = at + 2;
        size_t data = p0 + 12 * d.size() + 4;
        Put(at, d.size(), 2), Put(data - 4, 0, 4);
        for (size_t p = p0; const auto& [tag, e] : d) {
            const bool rational = e.type == R || e.type == SR;
            const size_t size = rational ? 4 : dng::TagTypeSize(e.type);
            size_t to = p + 8;
            Put(p, tag, 2), Put(p + 2, e.type, 2), Put(p + 4, e.v.size() >> rational, 4);
            if (e.v.size() * size > 4)
                data = (data + 1) & ~size_t(1), Put(to, data, 4), to = data, data += e.v.size() * size;
            for (int64_t x : e.v)
                Put(to, x, size), to += size;
            p += 12;
        }
        return static_cast<uint32_t>(at);
    }
};

using Edit = std::function<void(D& ifd0, D& raw, D& exif)>;

// OpcodeList3: one optional opcode of an id readers do not know, without parameters.
const std::vector<int64_t> kOpcodes{0, 0, 0, 1, 0, 0, 0, 99, 1, 3, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

// A small colour DNG: IFD0 is an RGB thumbnail with the shared tags, SubIFD 0 a 6x4 CFA raw
// image in two strips of two rows. The strip data are not there; the structure does not need them.
std::vector<uint8_t> MakeDng(bool big, const Edit& edit = {})
{
    D raw = {{254, {L, {0}}}, {256, {L, {6}}}, {257, {L, {4}}}, {258, {S, {16}}}, {259, {S, {1}}},
             {262, {S, {32803}}}, {277, {S, {1}}}, {278, {L, {2}}}, {273, {L, {100000, 100048}}},
             {279, {L, {48, 48}}}, {33421, {S, {2, 2}}}, {33422, {B, {1, 0, 2, 1}}}, {50717, {S, {4095}}},
             {50719, {R, {1, 2, 1, 1}}}, {50720, {L, {4, 2}}}, {51022, {dng::kTypeUndefined, kOpcodes}}};
    D ifd0 = {{254, {L, {1}}}, {256, {L, {2}}}, {257, {L, {2}}}, {258, {S, {8, 8, 8}}}, {262, {S, {2}}},
              {277, {S, {3}}}, {273, {L, {8}}}, {279, {L, {12}}}, {271, Text("Maker")}, {272, Text("Model X")},
              {274, {S, {6}}}, {50706, {B, {1, 4, 0, 0}}}, {50708, Text(std::string("Maker X \0\0", 10))},
              {50735, Text("IFD0-SN")}, {50728, {R, {1, 2, 1, 1, 3, 4}}}, {50730, {SR, {-1, 2}}},
              {50721, {SR, {8, 10, -2, 10, 0, 1, -5, 10, 12, 10, 3, 10, -1, 10, 2, 10, 7, 10}}},
              {700, {B, {'<', 'x', '/', '>', ' '}}}};
    D exif = {{0x829A, {R, {1, 250}}}, {0x8827, {S, {400}}}, {0xA431, Text("EXIF-SN")},
              {0x9003, Text(std::string("2014:06:21 20:41:07\0", 20))}};
    if (edit)
        edit(ifd0, raw, exif);
    Tiff t(big);
    ifd0[330] = {L, {t.Dir(raw)}};
    if (!exif.empty())
        ifd0[34665] = {L, {t.Dir(exif)}};
    t.Put(4, t.Dir(ifd0), 4);
    return t.b;
}

struct Parsed {
    dng::Info info;
    int error = 0;
};

Parsed Parse(const dng::Stream& stream)
{
    Parsed p;
    dng::Host host;
    try {
        p.info.Parse(host, stream);
        p.info.PostParse(host);
    } catch (const dng::Error& e) {
        p.error = e.Code();
    }
    return p;
}
Parsed Parse(const std::vector<uint8_t>& bytes) { return Parse(dng::MemoryStream(bytes)); }

TEST(Info, SmallDngInBothByteOrders)
{
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        const Parsed p = Parse(MakeDng(big));
        ASSERT_EQ(p.error, 0);
        EXPECT_TRUE(p.info.IsValidDNG()) << p.info.ValidityProblem();
        ASSERT_EQ(p.info.MainIndex(), 1);
        // Strips are tiles one image wide.
        const dng::IfdInfo& m = p.info.MainIfd();
        EXPECT_EQ(std::tie(m.width, m.height, m.usesTiles, m.tileWidth, m.tileLength, m.tileOffsets),
                  std::make_tuple(6u, 4u, false, 6u, 2u, std::vector<uint64_t>{100000, 100048}));
        EXPECT_EQ(std::tie(m.cfaPattern[1][0], m.whiteLevel[0], m.defaultCropOriginH, m.defaultCropSizeV, m.opcodeList[2]),
                  std::make_tuple(2, 4095u, URational(1, 2), URational(2, 1), std::vector<uint8_t>(kOpcodes.begin(), kOpcodes.end())));
        // Trailing NULs go, trailing spaces stay.
        const dng::SharedInfo& s = p.info.Shared();
        EXPECT_EQ(std::tie(s.dngBackwardVersion, s.uniqueCameraModel, s.orientation, s.xmp),
                  std::make_tuple(std::array<uint8_t, 4>{1, 4, 0, 0}, "Maker X ", 6u, std::vector<uint8_t>{'<', 'x', '/', '>', ' '}));
        ASSERT_EQ(std::make_tuple(s.ColorPlanes(), s.asShotNeutral.size()), std::make_tuple(3u, size_t{3}));
        EXPECT_EQ(std::tie(s.colorMatrix1[3], s.asShotNeutral[2], s.baselineExposure),
                  std::make_tuple(SRational(-5, 10), URational(3, 4), SRational(-1, 2)));
        const dng::ExifInfo& e = p.info.Exif();
        EXPECT_EQ(std::tie(e.make, e.cameraSerialNumber, e.dateTimeOriginal, e.exposureTime, e.isoSpeed),
                  std::make_tuple("Maker", "EXIF-SN", "2014:06:21 20:41:07", URational(1, 250), 400u));
    }
}

TEST(Info, LevelsTilesAndDecidedDefaults)
{
    // Black levels in the order row, column, sample; white level 2^bps - 1 when absent; tiles.
    const Parsed p = Parse(MakeDng(false, [](D& ifd0, D& raw, D& exif) {
        for (uint16_t tag : {273, 278, 279, 33421, 33422, 50717})
            raw.erase(tag);
        raw[262] = {S, {34892}}, raw[277] = {S, {2}}, raw[258] = {S, {12, 12}}, raw[50713] = {S, {1, 2}};
        raw[50714] = {R, {1, 1, 2, 1, 3, 1, 9, 2}}, raw[50716] = {SR, {-1, 4, 0, 1, 0, 1, 1, 4}};
        raw[322] = {S, {4}}, raw[323] = {S, {2}}, raw[324] = {L, {1, 2, 3, 4}}, raw[325] = {L, {1, 1, 1, 1}};
        ifd0.erase(50735);
        exif[0xA431] = Text(std::string("\0", 1));
    }));
    ASSERT_TRUE(p.info.IsValidDNG()) << p.info.ValidityProblem();
    const dng::IfdInfo& m = p.info.MainIfd();
    EXPECT_EQ(std::tie(m.blackLevel[0][0][1], m.blackLevel[0][1][0], m.blackLevel[0][1][1]),
              std::make_tuple(URational(2, 1), URational(3, 1), URational(9, 2)));
    EXPECT_EQ(m.blackLevelDeltaV.size(), 4u);
    EXPECT_EQ(std::tie(m.hasWhiteLevel, m.whiteLevel[1], m.usesTiles), std::make_tuple(false, 4095u, true));
    EXPECT_EQ(m.TilesAcross() * m.TilesDown(), 4u);
    EXPECT_EQ(p.info.Exif().cameraSerialNumber, "");

    // Without an EXIF serial number the DNG one is used. Without RowsPerStrip, one strip.
    const Parsed q = Parse(MakeDng(true, [](D&, D& raw, D& exif) {
        exif.clear(), raw.erase(278), raw[273] = {L, {100000}}, raw[279] = {L, {96}};
    }));
    EXPECT_TRUE(q.info.IsValidDNG()) << q.info.ValidityProblem();
    EXPECT_FALSE(q.info.HasExif());
    EXPECT_EQ(q.info.Exif().cameraSerialNumber, "IFD0-SN");
    EXPECT_EQ(std::make_tuple(q.info.MainIfd().tileLength, q.info.MainIfd().TilesDown()), std::make_tuple(4u, 1u));

    // Colour tags that do not fit the planes are dropped; a ColorMatrix1 of 8 values gives no
    // colour planes, and every colour tag goes.
    const Parsed c = Parse(MakeDng(false, [](D& ifd0, D&, D&) {
        ifd0[50722] = {SR, std::vector<int64_t>(12, 1)}, ifd0[50723] = {SR, {1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1}};
        ifd0[50728] = {R, {1, 2, 1, 1}};
    }));
    EXPECT_TRUE(c.info.IsValidDNG()) << c.info.ValidityProblem();
    EXPECT_TRUE(c.info.Shared().colorMatrix2.empty() && c.info.Shared().asShotNeutral.empty());
    EXPECT_EQ(c.info.Shared().cameraCalibration1.size(), 9u);
    const Parsed n = Parse(MakeDng(false, [](D& ifd0, D&, D&) { ifd0[50721] = {SR, std::vector<int64_t>(16, 1)}; }));
    EXPECT_EQ(n.info.Shared().ColorPlanes(), 1u);
    EXPECT_TRUE(n.info.Shared().asShotNeutral.empty());
}

// The first NewSubFileType-0 raw directory breadth-first; else the largest raw directory that
// is not marked as something else; else none.
TEST(Info, ChoosesTheMainRawImage)
{
    auto build = [](std::vector<int64_t> types) {
        // IFD0 {P, R1}, P {R0}: breadth-first order IFD0, P, R1, R0.
        Tiff t(false);
        auto dir = [&](int64_t type, int64_t w, std::vector<int64_t> subs) {
            D d = {{256, {L, {w}}}, {257, {L, {w}}}, {262, {S, {34892}}}};
            if (type >= 0)
                d[254] = {L, {type}};
            if (!subs.empty())
                d[330] = {L, subs};
            return t.Dir(d);
        };
        const uint32_t r0 = dir(types[3], 300, {}), r1 = dir(types[2], 200, {}), pv = dir(types[1], 100, {r0});
        t.Put(4, dir(types[0], 50, {pv, r1}), 4);
        return Parse(t.b);
    };
    EXPECT_EQ(build({1, 0, 0, 0}).info.MainIndex(), 1);
    EXPECT_EQ(build({1, 1, 0, 0}).info.MainIndex(), 2);
    EXPECT_EQ(build({-1, -1, 16, -1}).info.MainIndex(), 3);
    EXPECT_EQ(build({-1, 1, 16, 1}).info.MainIndex(), 0);
    const Parsed none = build({1, 1, 16, 1});
    EXPECT_EQ(none.info.MainIndex(), -1);
    EXPECT_FALSE(none.info.IsValidDNG());
    EXPECT_THROW(none.info.MainIfd(), dng::Error);
}

// A 3 x 3 SRATIONAL matrix (the identity) with a zero denominator at `zeroAt` (-1: none).
V Matrix(int zeroAt)
{
    std::vector<int64_t> v;
    for (int k = 0; k < 9; ++k)
        v.insert(v.end(), {k % 4 == 0 ? 1 : 0, k == zeroAt ? 0 : 1});
    return {SR, v};
}

// An opcode list of one WarpRectilinear opcode with one set (kr0, 0, 0, 0, 0, 0) and centre (cx, 0.5).
V Warp(double kr0, double cx)
{
    std::vector<int64_t> b = {0, 0, 0, 1, 0, 0, 0, 1, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 68, 0, 0, 0, 1};
    for (double d : {kr0, 0.0, 0.0, 0.0, 0.0, 0.0, cx, 0.5})
        for (int i = 7; i >= 0; --i)
            b.push_back(static_cast<uint8_t>(std::bit_cast<uint64_t>(d) >> (8 * i)));
    return {dng::kTypeUndefined, b};
}

// An OpcodeList with one opcode of ID 99, which no DNG version defines, and no parameters.
V UnknownOpcode(int64_t flags)
{
    return {dng::kTypeUndefined, {0, 0, 0, 1, 0, 0, 0, 99, 1, 3, 0, 0, 0, 0, 0, flags, 0, 0, 0, 0}};
}

TEST(Info, ValidityRule)
{
    auto linear = [](D& r, std::vector<int64_t> bits) {
        r[262] = {S, {34892}}, r[277] = {S, {int64_t(bits.size())}};
        r[50717] = {S, std::vector<int64_t>(bits.size(), 255)}, r[258] = {S, std::move(bits)};
    };
    const std::vector<int64_t> two{16, 16};
    const std::tuple<const char*, bool, std::function<void(D& ifd0, D& raw)>> cases[] = {
        {"no DNGVersion", false, [](D& i, D&) { i.erase(50706); }},
        {"version 2", false, [](D& i, D&) { i[50706] = {B, {2, 0, 0, 0}}; }},
        {"backward 1.8", false, [](D& i, D&) { i[50707] = {B, {1, 8, 0, 0}}; }},
        {"backward 1.7", true, [](D& i, D&) { i[50707] = {B, {1, 7, 0, 0}}; }},
        {"no model", false, [](D& i, D&) { i[50708] = Text(std::string("\0", 1)); }},
        {"width 0", false, [](D&, D& r) { r[256] = {L, {0}}; }},
        {"width 65001", false, [](D&, D& r) { r[256] = {L, {65001}}; }},
        {"CFA with 2 samples", false, [&](D&, D& r) { linear(r, two), r[262] = {S, {32803}}; }},
        {"LinearRaw 4 samples", true, [&](D&, D& r) { linear(r, {16, 16, 16, 16}); }},
        {"5 samples", false, [&](D&, D& r) { linear(r, {16, 16, 16, 16, 16}); }},
        {"planar samples", false, [&](D&, D& r) { linear(r, two), r[284] = {S, {2}}; }},
        {"unequal bits", false, [&](D&, D& r) { linear(r, {16, 12}); }},
        {"7 bits", false, [](D&, D& r) { r[258] = {S, {7}}; }},
        {"last strip short", true, [](D&, D& r) { r[278] = {L, {3}}; }},
        {"no strip counts", false, [](D&, D& r) { r.erase(279); }},
        {"fewer counts than offsets", false, [](D&, D& r) { r[279] = {L, {96}}; }},
        {"RowsPerStrip 0", false, [](D&, D& r) { r[278] = {L, {0}}; }},
        {"tile width 0", false, [](D&, D& r) { r.erase(273), r[322] = {L, {0}}, r[324] = {L, {1}}; }},
        {"pattern 9 rows", false, [](D&, D& r) { r[33421] = {S, {9, 2}}; }},
        {"pattern too short", false, [](D&, D& r) { r[33422] = {B, {0, 1, 1}}; }},
        {"no pattern", false, [](D&, D& r) { r.erase(33422), r.erase(33421); }},
        {"colour code 7", false, [](D&, D& r) { r[33422] = {B, {0, 1, 1, 7}}; }},
        {"pattern colour not a plane", false, [](D&, D& r) { r[33422] = {B, {0, 1, 1, 3}}; }},
        {"pattern colour of 4 planes", true, [](D&, D& r) { r[33422] = {B, {0, 1, 3, 2}}, r[50710] = {B, {0, 1, 2, 3}}; }},
        {"CFALayout 0", false, [](D&, D& r) { r[50711] = {S, {0}}; }},
        {"CFALayout 10", false, [](D&, D& r) { r[50711] = {S, {10}}; }},
        {"CFALayout 9", true, [](D&, D& r) { r[50711] = {S, {9}}; }},
        {"DefaultScale x/0", false, [](D&, D& r) { r[50718] = {R, {1, 1, 1, 0}}; }},
        {"DefaultScale 0/1", true, [](D&, D& r) { r[50718] = {R, {0, 1, 1, 1}}; }},
        {"crop origin x/0", false, [](D&, D& r) { r[50719] = {R, {0, 0, 0, 1}}; }},
        {"crop size x/0", false, [](D&, D& r) { r[50720] = {R, {4, 1, 2, 0}}; }},
        {"active area outside", false, [](D&, D& r) { r[50829] = {L, {0, 0, 5, 6}}; }},
        {"active area empty", false, [](D&, D& r) { r[50829] = {L, {2, 2, 2, 6}}; }},
        {"black dim 9", false, [](D&, D& r) { r[50713] = {S, {9, 1}}; }},
        {"black count", false, [](D&, D& r) { r[50713] = {S, {2, 2}}, r[50714] = {L, {1, 2, 3}}; }},
        {"delta H count", false, [](D&, D& r) { r[50715] = {SR, {1, 1, 1, 1}}; }},
        {"white 0", false, [](D&, D& r) { r[50717] = {S, {0}}; }},
        {"table of 1", false, [](D&, D& r) { r[50712] = {S, {5}}; }},
        {"table of 65537", false, [](D&, D& r) { r[50712] = {S, std::vector<int64_t>(65537, 1)}; }},
        {"table of 65536", true, [](D&, D& r) { r[50712] = {S, std::vector<int64_t>(65536, 1)}; }},
        {"5 masked areas", false, [](D&, D& r) { r[50830] = {S, std::vector<int64_t>(20, 0)}; }},
        {"opcode list of SHORTs", false, [](D&, D& r) { r[51022] = {S, {1, 2, 3}}; }},
        // Neither the compression nor where the strips lie nor whether they cover the image is
        // judged here, but when the pixels are read.
        {"too few strips", true, [](D&, D& r) { r[278] = {L, {1}}; }},
        {"compression 9", true, [](D&, D& r) { r[259] = {S, {9}}; }},
        {"malformed advisory tag", true, [](D&, D& r) { r[50738] = {SR, {-1, 1}}; }},
        // Damaged values: zero denominators of what is read, scales that no reader takes, colour
        // filter patterns without a colour, opcodes out of range.
        {"ColorMatrix2 x/0", false, [](D& i, D&) { i[50722] = Matrix(7); }},
        {"ColorMatrix2", true, [](D& i, D&) { i[50722] = Matrix(-1); }},
        {"CameraCalibration1 x/0", false, [](D& i, D&) { i[50723] = Matrix(0); }},
        {"ForwardMatrix2 x/0", false, [](D& i, D&) { i[50965] = Matrix(4); }},
        {"AnalogBalance x/0", false, [](D& i, D&) { i[50727] = {R, {1, 1, 1, 0, 1, 1}}; }},
        {"AsShotNeutral x/0", false, [](D& i, D&) { i[50728] = {R, {1, 2, 1, 0, 3, 4}}; }},
        {"AsShotWhiteXY x/0", false, [](D& i, D&) { i.erase(50728), i[50729] = {R, {3457, 10000, 3585, 0}}; }},
        {"BaselineExposure x/0", false, [](D& i, D&) { i[50730] = {SR, {-1, 0}}; }},
        {"ShadowScale x/0", false, [](D& i, D&) { i[50739] = {R, {1, 0}}; }},
        {"BlackLevel x/0", false, [](D&, D& r) { r[50714] = {R, {256, 0}}; }},
        {"BlackLevelDeltaV x/0", false, [](D&, D& r) { r[50716] = {SR, {1, 1, 1, 0, 1, 1, 1, 1}}; }},
        {"DefaultScale 2^31", false, [](D&, D& r) { r[50718] = {R, {0x80000000, 1, 1, 1}}; }},
        {"DefaultScale 1/2", true, [](D&, D& r) { r[50718] = {R, {1, 2, 1, 2}}; }},
        {"6 pixels scaled to 300000", true, [](D&, D& r) { r[50718] = {R, {25000, 1, 1, 1}}, r[50780] = {R, {2, 1}}; }},
        {"6 pixels scaled to 300006", false, [](D&, D& r) { r[50718] = {R, {50001, 1, 1, 1}}; }},
        {"DefaultScale 1/10", false, [](D&, D& r) { r[50718] = {R, {1, 10, 1, 1}}; }},
        {"BestQualityScale 2^31 + 1", false, [](D&, D& r) { r[50780] = {R, {0x80000001, 1}}; }},
        {"BestQualityScale x/0", false, [](D&, D& r) { r[50780] = {R, {3, 0}}; }},
        {"BestQualityScale 3/2", true, [](D&, D& r) { r[50780] = {R, {3, 2}}; }},
        {"all red pattern", false, [](D&, D& r) { r[33422] = {B, {0, 0, 0, 0}}; }},
        {"pattern without blue", false, [](D&, D& r) { r[33422] = {B, {1, 0, 1, 1}}; }},
        {"warp on 6 x 4 pixels, too few to correct", false, [](D&, D& r) { r[51022] = Warp(1.0, 0.5); }},
        {"optional opcode no version defines", true, [](D&, D& r) { r[51022] = UnknownOpcode(1); }},
        {"required opcode no version defines", false, [](D&, D& r) { r[51022] = UnknownOpcode(0); }},
        {"warp not finite", false, [](D&, D& r) { r[51022] = Warp(NAN, 0.5); }},
        {"warp centre outside", false, [](D&, D& r) { r[51022] = Warp(1.0, 1.5); }},
        {"warp far outside", false, [](D&, D& r) { r[51022] = Warp(1e20, 0.5); }},
        {"warp in list 1", false, [](D&, D& r) { r[51008] = Warp(1e20, 0.5); }},
    };
    for (const auto& [what, valid, edit] : cases) {
        for (bool big : {false, true}) {
            const Parsed p = Parse(MakeDng(big, [&](D& i, D& r, D&) { edit(i, r); }));
            EXPECT_EQ(p.error, 0) << what;
            EXPECT_EQ(p.info.IsValidDNG(), valid) << what << ": " << p.info.ValidityProblem();
        }
    }
}

// Random byte changes of a small DNG: an Error or a clean parse, never a crash or undefined
// behaviour (the sanitizers watch); the counts that index fixed arrays stay inside them.
TEST(Info, DamagedFilesNeverCrash)
{
    for (bool big : {false, true}) {
        const std::vector<uint8_t> good = MakeDng(big);
        std::mt19937 rng(big ? 11 : 5);
        for (int i = 0; i < 3000; ++i) {
            std::vector<uint8_t> b = good;
            for (int k = 0; k < 3; ++k)
                b[rng() % b.size()] = static_cast<uint8_t>(rng());
            const Parsed p = Parse(b);
            (void)p.info.IsValidDNG();
            for (const dng::IfdInfo& ifd : p.info.Ifds()) {
                ASSERT_LE(ifd.samplesPerPixel, dng::kMaxSamplesPerPixel);
                ASSERT_LE(std::max({ifd.cfaRepeatRows, ifd.cfaRepeatCols, ifd.blackLevelRepeatRows,
                                    ifd.blackLevelRepeatCols}), dng::kMaxPatternSize);
            }
        }
    }
}

// ---- The sample photos, against the values of their manifest ----

Parsed ParseFile(const std::string& path) { return Parse(dng::FileStream(path)); }

// The main image's size, active area, 2x2 pattern (9: LinearRaw), bits, compression, tile size,
// black and white levels, crop origin and size; the camera's serial number and the time taken.
struct Sample {
    const char *file, *model;
    uint32_t width, height;
    Rect active;
    uint8_t cfa[4];
    uint32_t bits, compression, tileWidth, tileLength, black, white;
    double cropX, cropY, cropW, cropH;
    const char *serial, *dateTimeOriginal;
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

TEST(Info, SamplePhotos)
{
    const std::string dir = fixtures::SamplesDir();
    if (!std::filesystem::exists(dir + "/leica-t-warp.dng"))
        GTEST_SKIP() << "no samples in " << dir;
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.file);
        const Parsed p = ParseFile(dir + "/" + s.file);
        ASSERT_EQ(std::make_tuple(p.error, p.info.IsValidDNG(), p.info.MainIndex()), std::make_tuple(0, true, 1));
        const dng::IfdInfo& m = p.info.MainIfd();
        const dng::SharedInfo& sh = p.info.Shared();
        EXPECT_EQ(std::tie(m.width, m.height, m.activeArea, m.bitsPerSample[0], m.compression, m.tileWidth, m.tileLength),
                  std::tie(s.width, s.height, s.active, s.bits, s.compression, s.tileWidth, s.tileLength));
        EXPECT_EQ(std::make_tuple(m.blackLevel[0][0][0].As_real64(), m.whiteLevel[0], m.defaultCropOriginH.As_real64(),
                                  m.defaultCropOriginV.As_real64(), m.defaultCropSizeH.As_real64(), m.defaultCropSizeV.As_real64()),
                  std::make_tuple(double(s.black), s.white, s.cropX, s.cropY, s.cropW, s.cropH));
        EXPECT_EQ(std::tie(sh.uniqueCameraModel, p.info.Exif().cameraSerialNumber, p.info.Exif().dateTimeOriginal),
                  std::make_tuple(s.model, s.serial, s.dateTimeOriginal));
        const bool mono = s.cfa[0] == 9;
        const std::vector<uint8_t> cfa = {m.cfaPattern[0][0], m.cfaPattern[0][1], m.cfaPattern[1][0], m.cfaPattern[1][1]};
        EXPECT_EQ(std::make_tuple(m.usesTiles, m.photometric, sh.ColorPlanes(), sh.colorMatrix2.size(), sh.asShotNeutral.size()),
                  std::make_tuple(s.compression == 7, uint32_t(mono ? dng::kPhotometricLinearRaw : dng::kPhotometricCFA),
                                  mono ? 1u : 3u, size_t{mono ? 0u : 9u}, size_t{mono ? 0u : 3u}));
        if (!mono) {
            EXPECT_EQ(std::tie(m.cfaRepeatRows, m.cfaRepeatCols), std::make_tuple(2u, 2u));
            EXPECT_EQ(cfa, std::vector<uint8_t>(s.cfa, s.cfa + 4));
        }
    }

    // Masked areas; a plain TIFF refused for what it lacks.
    EXPECT_EQ(ParseFile(dir + "/5d3-2400x1600.dng").info.MainIfd().maskedAreas,
              (std::vector<Rect>{{0, 0, 18, 2400}, {18, 0, 1600, 60}}));
    EXPECT_EQ(ParseFile(dir + "/not-a-dng.tif").info.ValidityProblem(), "no DNGVersion");
}

} // namespace
