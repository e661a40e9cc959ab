// Damaged copies of the sample photos, each patched in a few bytes (found with our own TIFF reader):
// every one is refused with the damaged-file message that names the photo and says what is wrong,
// and nothing is written.
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"
#include "fixtures/samples.h"
#include "fixtures/temp_file.h"

#include "dng/stream.h"
#include "dng/tiff_container.h"

#include <gtest/gtest.h>

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
                   kOpcodeList3 = 51022, kActiveArea = 50829, kCameraCalibration2 = 50724;

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
    // The high half of the first coefficient (kr0 of the first set) of the WarpRectilinear opcode
    // that opens OpcodeList3 (count, id, version, flags, size, N, then the doubles, all big-endian).
    void PutWarpKr0High(uint32_t high)
    {
        const uint64_t at = Tag(kOpcodeList3).dataOffset + 4 + 16 + 4;
        for (int i = 0; i < 4; ++i)
            bytes.at(at + i) = static_cast<uint8_t>(high >> (8 * (3 - i)));
    }
};

Sample LoadSample(const std::string& name)
{
    std::ifstream in(fixtures::SamplePath(name), std::ios::binary);
    Sample s{{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}, {}};
    s.container.Parse(dng::MemoryStream(s.bytes));
    return s;
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
    {"warp coefficient of 2.5", "leica-t-warp.dng", 5, [](Sample& s) { s.PutWarpKr0High(0x40040000u); },
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
        ui.autoSave = true;
        ui.autoSaveFolder = out.string();
        ui.method = c.method;
        ui.halfSize = c.half;
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

} // namespace
