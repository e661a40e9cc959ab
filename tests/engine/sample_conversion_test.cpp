// Every colour sample converted with "Regular", full size and 50%, and the written file read back
// by our reader, by LibRaw and by exiftool.
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"
#include "fixtures/samples.h"

#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"

#include <libraw/libraw.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;

struct Case {
    const char* file;
    bool half;
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
    const fs::path dir = fs::temp_directory_path() / ("velloray-sample-" + std::to_string(::getpid()) + "-" +
                                                       c.file + (c.half ? "-half" : "-full"));
    fs::remove_all(dir);
    fs::create_directories(dir);
    enginetest::FakeEngineUi ui;
    ui.autoSave = true;
    ui.autoSaveFolder = dir.string();
    ui.halfSize = c.half;
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath(c.file), c.file), 1);
    ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
    ASSERT_FALSE(convert.fWrittenPath.empty());
    const dng::Image& result = *convert.fNegative->Stage1Image();

    // Our reader: one LinearRaw plane holding the result.
    {
        dng::FileStream stream(convert.fWrittenPath);
        dng::Host host;
        dng::Info info;
        info.Parse(host, stream);
        info.PostParse(host);
        ASSERT_TRUE(info.IsValidDNG()) << info.ValidityProblem();
        EXPECT_EQ(info.MainIfd().photometric, dng::kPhotometricLinearRaw);
        auto n = host.Make_dng_negative();
        n->Parse(host, stream, info);
        n->PostParse(host, stream, info);
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
    fs::remove_all(dir);
}

const Case kCases[] = {
    {"m9-16bit-rggb.dng", false},          {"m9-16bit-rggb.dng", true},
    {"m9-8bit-squarelaw.dng", false},      {"m9-8bit-squarelaw.dng", true},
    {"d800-3000x2000.dng", false},         {"d800-3000x2000.dng", true},
    {"5d3-2400x1600.dng", false},          {"5d3-2400x1600.dng", true},
    {"sony-a7s-bggr.dng", false},          {"sony-a7s-bggr.dng", true},
    {"leica-t-warp.dng", false},           {"leica-t-warp.dng", true},
    {"leica-m240-jpegpreview.dng", false}, {"leica-m240-jpegpreview.dng", true},
    {"d200-grbg.dng", false},              {"d200-grbg.dng", true},
};

INSTANTIATE_TEST_SUITE_P(Samples, SampleConversion, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string n = info.param.file;
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n + (info.param.half ? "_half" : "_full");
                         });

} // namespace
