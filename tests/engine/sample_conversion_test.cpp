// Every colour sample converted with every method, full size and 50%, deblurred with a line or a
// focus-disc kernel, and the written file read back by our reader, by LibRaw, by exiftool and by
// the reference DNG validator (skipped, with a message, where it is not there).
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"
#include "fixtures/read_dng.h"
#include "fixtures/samples.h"
#include "fixtures/validator.h"

#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"

#include <libraw/libraw.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Case {
    const char* file;
    bool half;
    int method = 0;             // 0 "Regular" ... 5 "RGB - Blue"
    int strength = 19;          // slider position
    bool bayerStripped = false; // "No interpolation [only for modified cameras]"
    enum Kernel { kNone, kLine, kDisc } kernel = kNone;
};

class SampleConversion : public testing::TestWithParam<Case> {};

std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

TEST_P(SampleConversion, WrittenFileIsReadByEveryReader)
{
    const Case c = GetParam();
    const fs::path dir = fs::temp_directory_path() /
                         ("velloray-sample-" + std::to_string(::getpid()) + "-" + c.file + (c.half ? "-half-" : "-full-") +
                          std::to_string(c.method) + (c.bayerStripped ? "-stripped" : ""));
    fs::remove_all(dir);
    fs::create_directories(dir);
    enginetest::FakeEngineUi ui;
    ui.autoSave = true;
    ui.autoSaveFolder = dir.string();
    ui.halfSize = c.half;
    ui.method = c.method;
    ui.strength = c.strength;
    ui.bayerStripped = c.bayerStripped;
    if (c.kernel == Case::kLine) {
        ui.kernel.SetLineKind(engine::MotionBlurGrid::kLineThroughCentre);
        ui.kernel.CellClick(54, 52);
    } else if (c.kernel == Case::kDisc) {
        ui.kernel.SetRadius(2);
        ui.kernel.SetMode(engine::MotionBlurGrid::kFocusDisc);
    }
    ui.deblur = {20, 100, 400, 300, 400, 50};
    engine::DNGConvert convert(ui);
    convert.fMethod = c.method;
    convert.fStrengthRed = convert.fStrengthBlue = c.strength;
    ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath(c.file), c.file), 1);
    ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
    ASSERT_FALSE(convert.fWrittenPath.empty());
    const auto& texts = ui.status.history;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Deblurring..."), c.kernel == Case::kNone ? 0 : 1);
    const dng::Image& result = *convert.fNegative->Stage1Image();

    // Our reader: the file passes every rule it applies to a DNG it opens (structure and values),
    // and holds the result as one LinearRaw plane.
    {
        dng::FileStream stream(convert.fWrittenPath);
        dng::Host host;
        const dng::Info info = fixtures::ParsedInfo(host, stream);
        ASSERT_TRUE(info.IsValidDNG()) << info.ValidityProblem();
        EXPECT_EQ(info.MainIfd().photometric, dng::kPhotometricLinearRaw);
        auto n = fixtures::ParsedNegative(host, stream, info);
        n->ReadStage1Image(host, stream, info);
        n->ValidateRawImageDigest(host);
        EXPECT_EQ(n->ColorChannels(), 1u);
        const dng::Image& written = *n->Stage1Image();
        ASSERT_EQ(written.Width(), result.Width());
        ASSERT_EQ(written.Height(), result.Height());
        for (int32_t y = 0; y < result.Height(); y += 97)
            for (int32_t x = 0; x < result.Width(); x += 89)
                ASSERT_EQ(written.Row16(y)[x], result.Row16(y)[x]);
        n->BuildStage2Image(host);
    }
    // LibRaw: one colour, the same values.
    {
        auto raw = std::make_unique<LibRaw>();
        ASSERT_EQ(raw->open_file(convert.fWrittenPath.c_str()), LIBRAW_SUCCESS);
        ASSERT_EQ(raw->unpack(), LIBRAW_SUCCESS);
        EXPECT_EQ(raw->imgdata.idata.colors, 1);
        ASSERT_EQ(raw->imgdata.sizes.raw_width, result.Width());
        ASSERT_NE(raw->imgdata.rawdata.raw_image, nullptr);
        const int pitch = raw->imgdata.sizes.raw_pitch / 2;
        EXPECT_EQ(raw->imgdata.rawdata.raw_image[size_t(result.Height() / 2) * pitch + result.Width() / 3],
                  result.Row16(result.Height() / 2)[result.Width() / 3]);
    }
    // exiftool: no warnings or errors.
    const std::string report = Capture("exiftool -validate -warning -error -a '" + convert.fWrittenPath + "' 2>&1");
    EXPECT_NE(report.find("Validate"), std::string::npos) << report;
    EXPECT_NE(report.find(": OK"), std::string::npos) << report;
    EXPECT_EQ(report.find("Warning"), std::string::npos) << report;
    // The reference validator: DNG readers accept the file.
    if (fixtures::ValidatorPath().empty()) {
        fs::remove_all(dir);
        GTEST_SKIP() << "no DNG validator beside the samples: the written file was not validated";
    }
    const fixtures::Validation validation = fixtures::Validate(convert.fWrittenPath);
    EXPECT_TRUE(validation.accepted) << validation.output;
    fs::remove_all(dir);
}

// Every colour sample with every method (full and 50%, the raw methods at full and partial
// strength), each deblurred with a line and a disc (one at full size, the other at 50%), and the
// conversion for cameras without colour filters.
std::vector<Case> AllCases()
{
    const char* files[] = {"m9-16bit-rggb.dng", "m9-8bit-squarelaw.dng", "d800-3000x2000.dng", "5d3-2400x1600.dng",
                           "sony-a7s-bggr.dng", "leica-t-warp.dng",      "leica-m240-jpegpreview.dng",
                           "d200-grbg.dng"};
    std::vector<Case> cases;
    for (const char* file : files) {
        for (bool half : {false, true}) {
            const size_t first = cases.size();
            cases.push_back({file, half, 0});
            cases.push_back({file, half, 1, half ? 19 : 7});
            cases.push_back({file, half, 2, half ? 7 : 19});
            for (int method : {3, 4, 5})
                cases.push_back({file, half, method, 9});
            for (size_t i = first; i < cases.size(); ++i)
                cases[i].kernel = (cases[i].method + half) % 2 ? Case::kDisc : Case::kLine;
        }
        cases.push_back({file, false, 0, 19, true});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleConversion, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string n = info.param.file;
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             const Case::Kernel k = info.param.kernel;
                             return n + (info.param.half ? "_half_m" : "_full_m") + std::to_string(info.param.method) +
                                    (info.param.bayerStripped ? "_stripped" : "") +
                                    (k == Case::kLine ? "_line" : k == Case::kDisc ? "_disc" : "");
                         });

} // namespace
