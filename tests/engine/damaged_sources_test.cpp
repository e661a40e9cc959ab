// Damaged copies of the sample photos, each patched in a few bytes (found with our own TIFF reader):
// every one is refused with the damaged-file message that names the photo and says what is wrong,
// and nothing is written.
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"
#include "fixtures/samples.h"
#include "fixtures/temp_file.h"
#include "fixtures/validator.h"

#include "dng/stream.h"
#include "dng/tiff_container.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

constexpr uint16_t kSubIfds = 330, kCfaPattern = 33422, kColorMatrix1 = 50721,
                   kColorMatrix2 = 50722, kAnalogBalance = 50727, kAsShotNeutral = 50728,
                   kBaselineExposure = 50730, kDefaultScale = 50718, kBestQualityScale = 50780,
                   kOpcodeList3 = 51022, kActiveArea = 50829, kCameraCalibration2 = 50724,
                   kBlackLevel = 50714, kBlackLevelDeltaH = 50715, kBlackLevelDeltaV = 50716, kBaselineNoise = 50731;

// A sample's bytes and its parsed container, to find where tags and directories lie.
struct Sample {
    std::vector<uint8_t> bytes;
    dng::TiffContainer container;

    // The first copy of a tag in any image directory.
    const dng::TiffTag& Tag(uint16_t code) const
    {
        for (const dng::TiffDirectory& dir : container.Images())
            if (const dng::TiffTag* t = dir.Find(code))
                return *t;
        throw std::runtime_error("the sample has no tag " + std::to_string(code));
    }
    // Where the entry of a tag lies in an image directory.
    uint32_t EntryOf(size_t image, uint16_t code) const
    {
        const uint32_t dir = container.Images().at(image).offset;
        const bool little = container.Order() == dng::ByteOrder::kLittle;
        const auto get16 = [&](uint64_t at) {
            return static_cast<uint16_t>(little ? bytes.at(at) | bytes.at(at + 1) << 8
                                                : bytes.at(at) << 8 | bytes.at(at + 1));
        };
        for (uint32_t i = 0, n = get16(dir); i < n; ++i)
            if (get16(dir + 2 + 12 * i) == code)
                return dir + 2 + 12 * i;
        throw std::runtime_error("no entry of tag " + std::to_string(code));
    }
    void Put32(uint64_t at, uint32_t v)
    {
        const bool little = container.Order() == dng::ByteOrder::kLittle;
        for (int i = 0; i < 4; ++i)
            bytes.at(at + i) = static_cast<uint8_t>(v >> (little ? 8 * i : 8 * (3 - i)));
    }
    // Value i of a SHORT or LONG tag.
    void PutInteger(uint16_t code, uint32_t i, uint32_t v)
    {
        const dng::TiffTag& t = Tag(code);
        if (t.type == 4)
            return Put32(t.dataOffset + 4 * i, v);
        const bool little = container.Order() == dng::ByteOrder::kLittle;
        bytes.at(t.dataOffset + 2 * i + (little ? 0 : 1)) = static_cast<uint8_t>(v);
        bytes.at(t.dataOffset + 2 * i + (little ? 1 : 0)) = static_cast<uint8_t>(v >> 8);
    }
    // The opcode ID of the first opcode of OpcodeList3 (after the count; always big-endian).
    void PutFirstOpcodeId(uint32_t id)
    {
        const uint64_t at = Tag(kOpcodeList3).dataOffset + 4;
        for (int i = 0; i < 4; ++i)
            bytes.at(at + i) = static_cast<uint8_t>(id >> (8 * (3 - i)));
    }
    // Coefficient k (kr0..kr3, kt0, kt1) of set `plane` of the WarpRectilinear opcode that opens
    // OpcodeList3.
    void PutWarpCoefficient(uint32_t plane, uint32_t k, double value)
    {
        const uint64_t at = Tag(kOpcodeList3).dataOffset + 4 + 16 + 4 + 48 * plane + 8 * k;
        const auto bits = std::bit_cast<uint64_t>(value);
        for (int i = 0; i < 8; ++i)
            bytes.at(at + i) = static_cast<uint8_t>(bits >> (8 * (7 - i)));
    }
    // The radial coefficients kr0..kr3 of every set of that opcode (tangential ones left as they are).
    void PutWarpOfEveryPlane(const std::array<double, 4>& kr)
    {
        for (uint32_t plane = 0; plane < 3; ++plane)
            for (uint32_t k = 0; k < 4; ++k)
                PutWarpCoefficient(plane, k, kr[k]);
    }
    // The optical centre's x (axis 0) or y (axis 1) of that opcode (three sets).
    void PutWarpCentre(uint32_t axis, double value)
    {
        PutBigDouble(Tag(kOpcodeList3).dataOffset + 4 + 16 + 4 + 48 * 3 + 8 * axis, value);
    }
    void PutBigDouble(uint64_t at, double value)
    {
        const auto bits = std::bit_cast<uint64_t>(value);
        for (int i = 0; i < 8; ++i)
            bytes.at(at + i) = static_cast<uint8_t>(bits >> (8 * (7 - i)));
    }
    // OpcodeList3 replaced by one lens warp (big-endian, version 1.3, or 1.6 for
    // WarpRectilinear2) of `sets` coefficient sets of the given values, then the centre (and for
    // WarpRectilinear2 a reciprocal flag of 0). The list goes after the file's end; the entry
    // points to it.
    void PutOtherWarp(uint32_t id, uint32_t sets, const std::vector<double>& set, double cx = 0.5, double cy = 0.5)
    {
        std::vector<uint8_t> params;
        const auto put32 = [](std::vector<uint8_t>& out, uint32_t v) {
            for (int i = 3; i >= 0; --i)
                out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        const auto putDouble = [&](double v) {
            const auto bits = std::bit_cast<uint64_t>(v);
            for (int i = 7; i >= 0; --i)
                params.push_back(static_cast<uint8_t>(bits >> (8 * i)));
        };
        put32(params, sets);
        for (uint32_t i = 0; i < sets; ++i)
            for (double v : set)
                putDouble(v);
        putDouble(cx), putDouble(cy);
        if (id == dng::kOpcodeWarpRectilinear2)
            put32(params, 0);
        std::vector<uint8_t> list;
        put32(list, 1), put32(list, id), put32(list, id == dng::kOpcodeWarpRectilinear2 ? 0x01060000 : 0x01030000);
        put32(list, 0), put32(list, static_cast<uint32_t>(params.size()));
        list.insert(list.end(), params.begin(), params.end());
        size_t image = 0;
        while (!container.Images().at(image).Find(kOpcodeList3))
            ++image;
        const uint32_t entry = EntryOf(image, kOpcodeList3);
        bytes.resize((bytes.size() + 1) & ~size_t(1));
        Put32(entry + 4, static_cast<uint32_t>(list.size()));
        Put32(entry + 8, static_cast<uint32_t>(bytes.size()));
        bytes.insert(bytes.end(), list.begin(), list.end());
    }
    // Black level deltas (SRATIONAL, numerator over 2) in an image directory: its BlackLevel entry
    // (a black of 0, the default) becomes the deltas' tag, whose values follow the file's end.
    void PutBlackDeltasOverBlackLevel(size_t image, uint16_t code, const std::vector<int32_t>& halves)
    {
        const uint32_t entry = EntryOf(image, kBlackLevel);
        const bool little = container.Order() == dng::ByteOrder::kLittle;
        bytes.resize((bytes.size() + 1) & ~size_t(1));
        const auto at = static_cast<uint32_t>(bytes.size());
        bytes.resize(bytes.size() + 8 * halves.size());
        for (size_t i = 0; i < halves.size(); ++i) {
            Put32(at + 8 * i, static_cast<uint32_t>(halves[i]));
            Put32(at + 8 * i + 4, 2);
        }
        const uint16_t head[2] = {code, 10};
        for (int i = 0; i < 2; ++i) {
            bytes.at(entry + 2 * i + (little ? 0 : 1)) = static_cast<uint8_t>(head[i]);
            bytes.at(entry + 2 * i + (little ? 1 : 0)) = static_cast<uint8_t>(head[i] >> 8);
        }
        Put32(entry + 4, static_cast<uint32_t>(halves.size()));
        Put32(entry + 8, at);
    }
    // The high half of the first coefficient (kr0 of the first set) of the WarpRectilinear opcode
    // that opens OpcodeList3 (count, id, version, flags, size, N, then the doubles, all big-endian).
    void PutWarpKr0High(uint32_t high)
    {
        const uint64_t at = Tag(kOpcodeList3).dataOffset + 4 + 16 + 4;
        for (int i = 0; i < 4; ++i)
            bytes.at(at + i) = static_cast<uint8_t>(high >> (8 * (3 - i)));
    }
};

// A window seam for a conversion with auto save into `out` by the method, at full or half size.
void SetUpAutoSave(enginetest::FakeEngineUi& ui, const fs::path& out, int method, bool half)
{
    ui.autoSave = true;
    ui.autoSaveFolder = out.string();
    ui.method = method;
    ui.halfSize = half;
}

// A sound source converted with auto save into `out`: nothing is refused, a file is written, and
// readers (where the validator is there) accept it.
void ExpectConvertedAndTaken(const fixtures::TempFile& source, const fs::path& out, int method, bool half,
                             bool validator)
{
    enginetest::FakeEngineUi ui;
    SetUpAutoSave(ui, out, method, half);
    engine::DNGConvert convert(ui);
    convert.fMethod = method;
    EXPECT_EQ(convert.OpenAndIdentify(source.PathString(), source.FileName()), 1);
    ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
    ASSERT_FALSE(convert.fWrittenPath.empty());
    if (validator) {
        const fixtures::Validation v = fixtures::Validate(convert.fWrittenPath);
        EXPECT_TRUE(v.accepted) << v.output;
    }
}

Sample LoadSample(const std::string& name)
{
    std::ifstream in(fixtures::SamplePath(name), std::ios::binary);
    Sample s{{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}, {}};
    s.container.Parse(dng::MemoryStream(s.bytes));
    return s;
}

// Deltas in halves for the M9 sample's 1334 rows (or 2000 columns): small ones, one set apart.
std::vector<int32_t> Deltas(size_t at, int32_t halves, size_t count = 1334)
{
    std::vector<int32_t> d(count);
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = static_cast<int32_t>(i % 7) - 3;
    d.at(at) = halves;
    return d;
}

struct Case {
    const char* name;
    const char* sample;
    int method;
    std::function<void(Sample&)> damage;
    const char* reason; // a part of the reason the message gives
    bool half = false;  // converted at half size
    // Refused when opened, or found by the conversion run (which returns 1 whatever its outcome).
    int32_t result = engine::kResultStopped;
};

const Case kCases[] = {
    {"DefaultScale of 2^31", "m9-16bit-rggb.dng", 0,
     [](Sample& s) { s.Put32(s.Tag(kDefaultScale).dataOffset, 0x80000000u); }, "DefaultScale"},
    {"BestQualityScale of 2^31 + 1", "d800-3000x2000.dng", 3,
     [](Sample& s) { s.Put32(s.Tag(kBestQualityScale).dataOffset, 0x80000001u); }, "BestQualityScale"},
    {"warp coefficient of 1e20", "leica-t-warp.dng", 5, [](Sample& s) { s.PutWarpKr0High(0x4415AF1Du); },
     "far outside the image"},
    // The written file keeps the green set: a zoom of 2.5 there leaves its corner tiles no source area.
    {"warp coefficient of 2.5", "leica-t-warp.dng", 5, [](Sample& s) { s.PutWarpCoefficient(1, 0, 2.5); },
     "no source area"},
    {"warp coefficient not a number", "leica-t-warp.dng", 5, [](Sample& s) { s.PutWarpKr0High(0x7FF80000u); },
     "not a finite number"},
    {"ColorMatrix1 over 0", "m9-16bit-rggb.dng", 0,
     [](Sample& s) { s.Put32(s.Tag(kColorMatrix1).dataOffset + 4, 0); }, "ColorMatrix1 has a zero denominator"},
    {"ColorMatrix2 over 0", "m9-16bit-rggb.dng", 3,
     [](Sample& s) { s.Put32(s.Tag(kColorMatrix2).dataOffset + 12, 0); }, "ColorMatrix2 has a zero denominator"},
    {"AsShotNeutral over 0", "m9-16bit-rggb.dng", 0,
     [](Sample& s) { s.Put32(s.Tag(kAsShotNeutral).dataOffset + 20, 0); }, "AsShotNeutral has a zero denominator"},
    {"AnalogBalance over 0", "d800-3000x2000.dng", 0,
     [](Sample& s) { s.Put32(s.Tag(kAnalogBalance).dataOffset + 4, 0); }, "AnalogBalance has a zero denominator"},
    {"BaselineExposure over 0", "d800-3000x2000.dng", 0,
     [](Sample& s) { s.Put32(s.Tag(kBaselineExposure).dataOffset + 4, 0); },
     "BaselineExposure has a zero denominator"},
    {"CFA pattern all red", "m9-16bit-rggb.dng", 1, [](Sample& s) { s.Put32(s.Tag(kCfaPattern).dataOffset, 0); },
     "does not contain all the colours"},
    {"CFA pattern without blue", "d200-grbg.dng", 2,
     [](Sample& s) { s.bytes.at(s.Tag(kCfaPattern).dataOffset + 2) = 1; }, "does not contain all the colours"},
    {"required opcode no DNG version defines", "leica-t-warp.dng", 5, [](Sample& s) { s.PutFirstOpcodeId(99); },
     "OpcodeList3: opcode 99 is unknown"},
    {"lens warp on an area 3 pixels wide", "leica-t-warp.dng", 0, [](Sample& s) { s.PutInteger(kActiveArea, 3, 3); },
     "too small to correct"},
    {"lens warp on an area 2 rows high", "leica-t-warp.dng", 4, [](Sample& s) { s.PutInteger(kActiveArea, 2, 2); },
     "too small to correct"},
    {"CameraCalibration2 that cannot be inverted", "real/canon-350d-stripped.dng", 2,
     [](Sample& s) { s.Put32(s.Tag(kCameraCalibration2).dataOffset + 8 * 8, 0); },
     "CameraCalibration2 cannot be inverted"},
    {"area 2 pixels wide halved", "sony-a7s-bggr.dng", 0, [](Sample& s) { s.PutInteger(kActiveArea, 3, 2); },
     "too small to halve", true, engine::kResultDone},
    {"area 3 pixels wide halved for one channel", "sony-a7s-bggr.dng", 2,
     [](Sample& s) { s.PutInteger(kActiveArea, 3, 3); }, "too small to halve", true, engine::kResultDone},
    // A lens warp that folds the picture through its centre, shrinks it out of a reader's reach or
    // runs back before the corner (readers refuse the written file: "empty source area", overflow).
    {"lens warp folded by kr0 = 0", "leica-t-warp.dng", 0, [](Sample& s) { s.PutWarpCoefficient(1, 0, 0.0); },
     "OpcodeList3: WarpRectilinear: the radial mapping of plane 1 is not positive"},
    {"lens warp folded by kr3 = -1.95", "leica-t-warp.dng", 4, [](Sample& s) { s.PutWarpCoefficient(1, 3, -1.95); },
     "OpcodeList3: WarpRectilinear: the radial mapping of plane 1 is not positive", true},
    {"lens warp running back from r = 0.69", "leica-t-warp.dng", 2,
     [](Sample& s) { s.PutWarpCoefficient(1, 1, -0.7), s.PutWarpCoefficient(1, 2, 0.0); },
     "runs back towards the centre across the tile of output pixels at (0, 458), which leaves it no source area "
     "(the picture folds over itself before its corner) in the one-plane file"},
    {"lens warp running back just past the readers' line", "leica-t-warp.dng", 1,
     [](Sample& s) { s.PutWarpOfEveryPlane({1.0, -0.6042595, 0, 0}); },
     "OpcodeList3: WarpRectilinear: the mapping runs back towards the centre across the tile of output pixels at (0, 687)",
     true},
    {"lens warp shrinking 100-fold", "leica-t-warp.dng", 3,
     [](Sample& s) {
         for (uint32_t k = 0; k < 3; ++k)
             s.PutWarpCoefficient(0, k, k == 0 ? 0.01 : 0.0);
     },
     "plane 0 shrinks the picture more than 50-fold"},
    // WarpFisheye and WarpRectilinear2 by their own mappings (readers: "empty source area", "area
    // exceeds tile size", "overflow computing buffer size").
    {"fisheye folded by kr0 = -1", "leica-t-warp.dng", 0,
     [](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpFisheye, 3, {-1, 0, 0, 0}); },
     "OpcodeList3: WarpFisheye: the radial mapping of plane 0 is not positive at r = 0.00"},
    {"fisheye shrinking at the corner", "leica-t-warp.dng", 2,
     [](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpFisheye, 1, {1, -1.5, 0, 0}); },
     "OpcodeList3: WarpFisheye: the radial mapping of plane 0 shrinks the picture more than 10-fold", true},
    {"fisheye shrinking 200-fold", "leica-t-warp.dng", 4,
     [](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpFisheye, 3, {0.005, 0, 0, 0}); },
     "OpcodeList3: WarpFisheye: the radial mapping of plane 0 shrinks the picture more than 10-fold at r = 0.00"},
    {"rectilinear2 folded by kr0 = -1", "leica-t-warp.dng", 1,
     [](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpRectilinear2, 1, {-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}); },
     "OpcodeList3: WarpRectilinear2: the radial mapping of plane 0 is not positive"},
    {"rectilinear2 shrinking 200-fold", "leica-t-warp.dng", 3,
     [](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpRectilinear2, 3, {0.005, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}); },
     "OpcodeList3: WarpRectilinear2: the radial mapping of plane 0 shrinks the picture more than 50-fold", true},
    {"rectilinear2 turning back", "leica-t-warp.dng", 5,
     [](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpRectilinear2, 1, {1, 0, -0.7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}); },
     "OpcodeList3: WarpRectilinear2: the mapping runs back towards the centre across the tile of output pixels at"},
    // Black levels that readers cannot scale to 16 bits (their linearisation overflows).
    {"BlackLevelDeltaV entry of -2684357.5", "m9-16bit-rggb.dng", 0,
     [](Sample& s) { s.PutBlackDeltasOverBlackLevel(1, kBlackLevelDeltaV, Deltas(12, -5368715)); },
     "BlackLevelDeltaV entry 12 (-2684357.5) is outside what a 16-bit sample can hold"},
    {"BlackLevelDeltaV entry 511 below the white level", "m9-16bit-rggb.dng", 5,
     [](Sample& s) { s.PutBlackDeltasOverBlackLevel(1, kBlackLevelDeltaV, Deltas(700, 2 * 15872)); },
     "WhiteLevel 16383 lies less than 512 above the largest black level (15872", true},
    // Values readers keep in hundredths in 32 bits.
    {"BaselineExposure of -2^31", "d800-3000x2000.dng", 1,
     [](Sample& s) { s.Put32(s.Tag(kBaselineExposure).dataOffset, 0x80000000u), s.Put32(s.Tag(kBaselineExposure).dataOffset + 4, 1); },
     "BaselineExposure (-2147483648) is larger than readers take"},
    {"BaselineNoise of 2^32 - 1", "d800-3000x2000.dng", 2,
     [](Sample& s) { s.Put32(s.Tag(kBaselineNoise).dataOffset, 0xFFFFFFFFu), s.Put32(s.Tag(kBaselineNoise).dataOffset + 4, 1); },
     "BaselineNoise (4294967295) is larger than readers take"},
    {"raw directory cut short", "d800-3000x2000.dng", 0,
     [](Sample& s) { s.bytes.resize(s.container.Images().at(1).offset + 2 + 12 * 5); }, "past the end"},
    {"raw directory pointed into IFD0", "m9-16bit-rggb.dng", 0,
     [](Sample& s) { s.Put32(s.Tag(kSubIfds).dataOffset, s.container.Images().at(0).offset + 2 + 12); },
     "past the end"},
    {"ColorMatrix1's values over IFD0", "leica-t-warp.dng", 0,
     [](Sample& s) { s.Put32(s.EntryOf(0, kColorMatrix1) + 8, s.container.Images().at(0).offset); }, "overlaps"},
    {"OpcodeList3's values over the raw directory", "leica-t-warp.dng", 5,
     [](Sample& s) { s.Put32(s.EntryOf(1, kOpcodeList3) + 8, s.container.Images().at(1).offset + 12); },
     "overlaps"},
};

TEST(DamagedSources, AreRefusedByNameAndNothingIsWritten)
{
    if (!fs::exists(fixtures::SamplePath("leica-t-warp.dng")))
        GTEST_SKIP() << "no samples";
    const fs::path out = fs::temp_directory_path() / ("velloray-damaged-" + std::to_string(::getpid()));
    fs::remove_all(out);
    fs::create_directories(out);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Sample s = LoadSample(c.sample);
        c.damage(s);
        const fixtures::TempFile source(s.bytes);
        enginetest::FakeEngineUi ui;
        SetUpAutoSave(ui, out, c.method, c.half);
        engine::DNGConvert convert(ui);
        convert.fMethod = c.method;
        EXPECT_EQ(convert.OpenAndIdentify(source.PathString(), source.FileName()), c.result);
        ASSERT_EQ(ui.boxes.shown.size(), 1u);
        EXPECT_EQ(ui.boxes.shown[0].caption, "Damaged file");
        EXPECT_EQ(ui.boxes.shown[0].icon, platform::MessageIcon::kWarning);
        const std::string& text = ui.boxes.shown[0].text;
        const std::string head = "This DNG (" + source.FileName() + ") is damaged and cannot be converted:\n\n";
        EXPECT_EQ(text.rfind(head, 0), 0u) << text;
        EXPECT_NE(text.find(c.reason, head.size()), std::string::npos) << text;
        EXPECT_FALSE(convert.fResultReady);
        EXPECT_TRUE(fixtures::SortedFileNames(out).empty());
    }
    fs::remove_all(out);
}

// Small black level deltas, and a negative one as far as a 16-bit sample goes, are no damage: the
// photo converts (rows at full size, columns at half size), the written file carries them, and
// readers accept it.
TEST(DamagedSources, SmallBlackLevelDeltasAreNoDamage)
{
    if (!fs::exists(fixtures::SamplePath("m9-16bit-rggb.dng")))
        GTEST_SKIP() << "no samples";
    const fs::path out = fs::temp_directory_path() / ("velloray-deltas-" + std::to_string(::getpid()));
    // The 1334 rows halve to 667, of which the even-sized half-size active area keeps 666.
    for (int round : {0, 1, 2, 3}) {
        const bool half = round > 0;
        const bool rows = round != 1;
        SCOPED_TRACE(std::string(rows ? "rows" : "columns") + (half ? ", half size" : ", full size"));
        fs::remove_all(out);
        fs::create_directories(out);
        Sample s = LoadSample("m9-16bit-rggb.dng");
        if (!rows)
            s.PutBlackDeltasOverBlackLevel(1, kBlackLevelDeltaH, Deltas(40, -2 * 65535, 2000));
        else
            s.PutBlackDeltasOverBlackLevel(1, kBlackLevelDeltaV, Deltas(12, -2 * 65535));
        const fixtures::TempFile source(s.bytes);
        enginetest::FakeEngineUi ui;
        SetUpAutoSave(ui, out, round == 3 ? 4 : 0, half); // "RGB - Green" halves red, blue and regular
        engine::DNGConvert convert(ui);
        convert.fMethod = ui.method;
        EXPECT_EQ(convert.OpenAndIdentify(source.PathString(), source.FileName()), 1);
        ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
        ASSERT_FALSE(convert.fWrittenPath.empty());
        if (fixtures::ValidatorPath().empty())
            continue;
        const fixtures::Validation v = fixtures::Validate(convert.fWrittenPath);
        EXPECT_TRUE(v.accepted) << v.output;
    }
    fs::remove_all(out);
    if (fixtures::ValidatorPath().empty())
        GTEST_SKIP() << "no DNG validator beside the samples: the written files were not validated";
}

// Lens warps that turn back before the corner, on both sides of the line readers draw on the lens
// sample (2400 x 1600, centred): f = r - k r^3 is refused from k = 0.6042595 on, at half size
// from 0.8089. What readers accept converts, at full and half size, and readers accept the written
// file; what readers refuse, in the photo or in the one-plane file made from it, is refused when
// opened. Readers join the three sets; the written file keeps the green one.
TEST(DamagedSources, LensWarpsThatTurnBackFollowReaders)
{
    if (!fs::exists(fixtures::SamplePath("leica-t-warp.dng")))
        GTEST_SKIP() << "no samples";
    const bool validator = !fixtures::ValidatorPath().empty();
    const fs::path out = fs::temp_directory_path() / ("velloray-turning-" + std::to_string(::getpid()));
    using Kr = std::array<double, 4>;
    const Kr lens{1.0, -0.03, 0.004, 0}, accepted{1.0, -0.6042585, 0, 0}, refused{1.0, -0.6042595, 0, 0},
        back{1.0, -0.7, 0, 0};
    const struct {
        const char* name;
        std::array<Kr, 3> sets;
        bool half;
        int method;
        bool photoTaken; // readers accept the photo
        bool converts;   // and the one-plane file made from it
    } cases[] = {
        {"just inside the line", {accepted, accepted, accepted}, false, 0, true, true},
        {"just inside the line, half size", {accepted, accepted, accepted}, true, 2, true, true},
        {"just past the line", {refused, refused, refused}, false, 1, false, false},
        {"just past the line, half size", {refused, refused, refused}, true, 0, false, false},
        {"red set turning back", {back, lens, lens}, false, 3, true, true},
        {"red set turning back, half size", {back, lens, lens}, true, 5, true, true},
        {"green set turning back", {lens, back, lens}, false, 0, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out);
        fs::create_directories(out);
        Sample s = LoadSample("leica-t-warp.dng");
        for (uint32_t plane = 0; plane < 3; ++plane)
            for (uint32_t k = 0; k < 4; ++k)
                s.PutWarpCoefficient(plane, k, c.sets[plane][k]);
        const fixtures::TempFile source(s.bytes);
        if (validator) {
            // Readers judge the photo on its joined sets, and the one-plane file on green alone.
            EXPECT_EQ(fixtures::Validate(source.PathString()).accepted, c.photoTaken);
            Sample green = LoadSample("leica-t-warp.dng");
            green.PutWarpOfEveryPlane(c.sets[1]);
            const fixtures::TempFile greenOnly(green.bytes);
            EXPECT_EQ(fixtures::Validate(greenOnly.PathString()).accepted, c.converts);
        }
        if (c.converts) {
            ExpectConvertedAndTaken(source, out, c.method, c.half, validator);
            continue;
        }
        enginetest::FakeEngineUi ui;
        SetUpAutoSave(ui, out, c.method, c.half);
        engine::DNGConvert convert(ui);
        convert.fMethod = c.method;
        EXPECT_EQ(convert.OpenAndIdentify(source.PathString(), source.FileName()), engine::kResultStopped);
        ASSERT_EQ(ui.boxes.shown.size(), 1u);
        EXPECT_NE(ui.boxes.shown[0].text.find("runs back towards the centre across the tile"), std::string::npos)
            << ui.boxes.shown[0].text;
        EXPECT_TRUE(fixtures::SortedFileNames(out).empty());
    }
    fs::remove_all(out);
    if (!validator)
        GTEST_SKIP() << "no DNG validator beside the samples: the outcomes were not checked against readers";
}

// Sound lens corrections of the three kinds: readers render the photo, so it converts at full
// and at half size and readers accept the written one-plane file. Before readers' equal tiles
// were followed, the strong ones, the off-centre one, the tangential one and the zoom were
// refused (their last row or column of 256-pixel tiles is thin).
TEST(DamagedSources, SoundLensWarpsConvertAndReadersTakeTheFile)
{
    if (!fs::exists(fixtures::SamplePath("leica-t-warp.dng")))
        GTEST_SKIP() << "no samples";
    const bool validator = !fixtures::ValidatorPath().empty();
    const fs::path out = fs::temp_directory_path() / ("velloray-sound-warps-" + std::to_string(::getpid()));
    const auto every = [](std::array<double, 6> k) {
        return [k](Sample& s) {
            for (uint32_t plane = 0; plane < 3; ++plane)
                for (uint32_t i = 0; i < 6; ++i)
                    s.PutWarpCoefficient(plane, i, k[i]);
        };
    };
    const std::vector<double> r2Tail = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.01, -0.005, 0, 1};
    std::vector<double> r2{1.02, 0, -0.05, 0, 0.01};
    r2.insert(r2.end(), r2Tail.begin(), r2Tail.end());
    const struct {
        const char* name;
        std::function<void(Sample&)> lens;
    } cases[] = {
        {"outward, red and blue apart",
         [&](Sample& s) {
             every({1, 0.10, 0, 0, 0, 0})(s);
             s.PutWarpCoefficient(0, 0, 1.0004), s.PutWarpCoefficient(2, 0, 0.9996);
         }},
        {"1.15 back by 0.15", every({1.15, -0.15, 0, 0, 0, 0})},
        {"1.32 back by 0.32", every({1.32, -0.32, 0, 0, 0, 0})},
        {"1.32 with three terms", every({1.32, -0.2, -0.1, -0.02, 0, 0})},
        {"centre on the left edge",
         [&](Sample& s) { every({1, 0.05, 0, 0, 0, 0})(s), s.PutWarpCentre(0, 0.0); }},
        {"tangential", every({1, -0.03, 0, 0, 0.03, -0.03})},
        {"zoom 1.08", every({1.08, 0, 0, 0, 0, 0})},
        {"fisheye", [](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpFisheye, 3, {1, 0, 0, 0}); }},
        {"fisheye off centre", [](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpFisheye, 1, {1.1, 0.1, 0, 0}, 0.4, 0.6); }},
        {"rectilinear2", [&](Sample& s) { s.PutOtherWarp(dng::kOpcodeWarpRectilinear2, 3, r2); }},
    };
    int method = 0;
    for (const auto& c : cases) {
        for (bool half : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (half ? ", half size" : ""));
            fs::remove_all(out);
            fs::create_directories(out);
            Sample s = LoadSample("leica-t-warp.dng");
            c.lens(s);
            const fixtures::TempFile source(s.bytes);
            if (validator && !half) {
                EXPECT_TRUE(fixtures::Validate(source.PathString()).accepted);
            }
            ExpectConvertedAndTaken(source, out, method, half, validator);
            method = (method + 1) % 6;
        }
    }
    fs::remove_all(out);
    if (!validator)
        GTEST_SKIP() << "no DNG validator beside the samples: the written files were not validated";
}

} // namespace
