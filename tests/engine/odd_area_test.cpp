// Photos whose active area starts on an odd row or column and that carry masked areas beside it:
// converted by every method, full size and 50%, the written file is read by our reader, LibRaw
// and exiftool, with its active and masked areas inside the image and apart from each other.
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/read_dng.h"
#include "fixtures/temp_file.h"

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
    const char* name;
    dng::Rect active;
    std::vector<dng::Rect> masked;
    dng::Rect farStripMoved; // the second masked area after the move by one
};

const Case kCases[] = {
    // A one-row strip above the active area and a strip below it.
    {"odd_top", dng::Rect(1, 0, 737, 1100), {dng::Rect(0, 0, 1, 1100), dng::Rect(738, 0, 740, 1100)},
     dng::Rect(737, 0, 739, 1100)},
    // A one-column strip left of the active area and one right of it.
    {"odd_left", dng::Rect(0, 1, 740, 1095), {dng::Rect(0, 0, 740, 1), dng::Rect(0, 1096, 740, 1100)},
     dng::Rect(0, 1095, 740, 1099)},
};

std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

class OddActiveArea : public testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(OddActiveArea, EveryMethodWritesAFileEveryReaderAccepts)
{
    const auto [caseIndex, method, half] = GetParam();
    const Case& c = kCases[caseIndex];
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = " Nikon D800 "; // identified trimmed, and written so
    spec.width = 1100;
    spec.height = 740;
    spec.activeArea = c.active;
    spec.maskedAreas = c.masked;
    spec.blackLevel = {{64, 1}};
    spec.whiteLevel = 16383;
    spec.valueBits = 14;
    const fixtures::TempFile source(fixtures::MakeDng(spec).bytes);
    const fs::path out = source.Path().string() + "-out";
    fs::create_directories(out);

    enginetest::FakeEngineUi ui;
    ui.autoSave = true;
    ui.autoSaveFolder = out.string();
    ui.halfSize = half;
    ui.method = method;
    ui.strength = 9;
    engine::DNGConvert convert(ui);
    convert.fMethod = method;
    convert.fStrengthRed = convert.fStrengthBlue = 9;
    ASSERT_EQ(convert.OpenAndIdentify(source.PathString(), source.FileName()), 1);
    ASSERT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
    ASSERT_FALSE(convert.fWrittenPath.empty());
    const std::string written = convert.fWrittenPath;

    {
        dng::FileStream stream(written);
        dng::Host host;
        const dng::Info info = fixtures::ParsedInfo(host, stream);
        ASSERT_TRUE(info.IsValidDNG()) << info.ValidityProblem();
        auto n = fixtures::ParsedNegative(host, stream, info);
        n->ReadStage1Image(host, stream, info);
        n->ValidateRawImageDigest(host);
        EXPECT_EQ(n->ModelName(), "Nikon D800");
        const dng::LinearizationInfo& lin = *n->GetLinearizationInfo();
        const dng::Rect image = n->Stage1Image()->Bounds();
        EXPECT_TRUE(image.Contains(lin.fActiveArea));
        for (size_t i = 0; i < lin.fMaskedArea.size(); ++i) {
            const dng::Rect& m = lin.fMaskedArea[i];
            EXPECT_TRUE(!m.IsEmpty() && image.Contains(m) && dng::Intersect(m, lin.fActiveArea).IsEmpty());
            for (size_t j = 0; j < i; ++j)
                EXPECT_TRUE(dng::Intersect(m, lin.fMaskedArea[j]).IsEmpty());
        }
        // At full size the strip on the far side of the active area stays, moved with the pixels
        // (at 50% the active area reaches the image's edges).
        if (!half) {
            EXPECT_EQ(lin.fMaskedArea, std::vector<dng::Rect>{c.farStripMoved});
        }
    }
    {
        auto raw = std::make_unique<LibRaw>();
        ASSERT_EQ(raw->open_file(written.c_str()), LIBRAW_SUCCESS);
        EXPECT_EQ(raw->unpack(), LIBRAW_SUCCESS);
        EXPECT_EQ(raw->imgdata.idata.colors, 1);
    }
    const std::string report = Capture("exiftool -validate -warning -error -a '" + written + "' 2>&1");
    EXPECT_NE(report.find(": OK"), std::string::npos) << report;
    EXPECT_EQ(report.find("Warning"), std::string::npos) << report;
    fs::remove_all(out);
}

INSTANTIATE_TEST_SUITE_P(Methods, OddActiveArea,
                         testing::Combine(testing::Values(0, 1), testing::Range(0, 6), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<int, int, bool>>& info) {
                             return std::string(kCases[std::get<0>(info.param)].name) + "_m" +
                                    std::to_string(std::get<1>(info.param)) +
                                    (std::get<2>(info.param) ? "_half" : "_full");
                         });

} // namespace
