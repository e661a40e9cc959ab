// The conversion driver: identifying cameras, refusing photos with the exact messages, opening
// the samples, staging the raw data and cancelling.
#include "dng/error.h"
#include "engine/Class_dngconvert.h"
#include "fake_engine_ui.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "fixtures/temp_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

using enginetest::FakeEngineUi;
using platform::MessageIcon;

TEST(CameraCodes, TrimmedModelsAreComparedExactly)
{
    using engine::DNGConvert;
    EXPECT_EQ(DNGConvert::CameraCodeOf("M9 Digital Camera"), 0);
    EXPECT_EQ(DNGConvert::CameraCodeOf("Canon EOS 5D Mark III"), 17);
    EXPECT_EQ(DNGConvert::CameraCodeOf("Canon EOS 5D Mark II"), 15);
    EXPECT_EQ(DNGConvert::CameraCodeOf("Sony ILCE-7S"), 32);
    EXPECT_EQ(DNGConvert::CameraCodeOf("Nikon D800E"), 22);
    EXPECT_EQ(DNGConvert::CameraCodeOf("nikon d800"), -1);
    EXPECT_EQ(DNGConvert::CameraCodeOf("Nikon D800 "), -1);
}

struct SampleOutcome {
    const char* file;
    int32_t result;
    int cameraCode;      // -1: not looked at
    const char* caption; // message box shown, or null
};

TEST(OpenAndIdentify, SamplesAreAcceptedOrRefusedAsDescribed)
{
    const SampleOutcome outcomes[] = {
        {"m9-16bit-rggb.dng", 1, 0, nullptr},
        {"m9-8bit-squarelaw.dng", 1, 0, nullptr},
        {"d800-3000x2000.dng", 1, 21, nullptr},
        {"5d3-2400x1600.dng", 1, 17, nullptr},
        {"sony-a7s-bggr.dng", 1, 32, nullptr},
        {"leica-t-warp.dng", 1, 3, nullptr},
        {"leica-m240-jpegpreview.dng", 1, 2, nullptr},
        {"d200-grbg.dng", 1, 20, nullptr},
        {"m9-mono-linearraw.dng", 0, -1, "Already monochrome"},
        {"canon-7d-unsupported.dng", 0, -1, "Unknown camera"},
        {"not-a-dng.tif", 100006, -1, nullptr},
        {"real/canon-6d-linearraw-lossy.dng", 0, -1, "Unknown camera"},
        {"real/lg-h815-linearraw-lossy.dng", 0, -1, "Unknown camera"},
        {"real/iphone-proraw-stripped.dng", 0, -1, "Unknown camera"},
        {"real/gopro-hero6-vc5.dng", 0, -1, "Unknown camera"},
    };
    for (const SampleOutcome& o : outcomes) {
        SCOPED_TRACE(o.file);
        FakeEngineUi ui;
        engine::DNGConvert convert(ui);
        EXPECT_EQ(convert.OpenAndIdentify(fixtures::SamplePath(o.file), o.file), o.result);
        if (o.cameraCode >= 0) {
            EXPECT_EQ(convert.fCameraCode, o.cameraCode);
            ASSERT_NE(convert.fNegative, nullptr);
            EXPECT_NE(convert.fNegative->Stage1Image(), nullptr);
            EXPECT_EQ(convert.fNegative->Stage1Image()->Type(), dng::PixelType::kUInt16);
        }
        if (o.caption) {
            ASSERT_EQ(ui.boxes.shown.size(), 1u);
            EXPECT_EQ(ui.boxes.shown[0].caption, o.caption);
            EXPECT_EQ(ui.boxes.shown[0].icon, MessageIcon::kInformation);
            EXPECT_EQ(ui.boxes.shown[0].buttons, platform::MessageButtons::kOk);
            EXPECT_TRUE(ui.boxes.shown[0].ownedByMainWindow);
        } else {
            EXPECT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown[0].text;
        }
    }
}

TEST(OpenAndIdentify, RefusalTextsAreExact)
{
    FakeEngineUi ui;
    engine::DNGConvert convert(ui);
    convert.OpenAndIdentify(fixtures::SamplePath("m9-mono-linearraw.dng"), "mono name.dng");
    convert.OpenAndIdentify(fixtures::SamplePath("canon-7d-unsupported.dng"), "7d.dng");
    ASSERT_EQ(ui.boxes.shown.size(), 2u);
    EXPECT_EQ(ui.boxes.shown[0].text,
              "This DNG (mono name.dng) appears to be a monochrome DNG already...\n\nCan't process monochrome DNGs.");
    EXPECT_EQ(ui.boxes.shown[1].text,
              "Unknown camera... \n\nCurrently Velloray can only process DNGs from:\n"
              "- Leica M9, M8, M (typ 240), T (typ 701)\n"
              "- Canon EOS 350D, 500D, 550D, 30D, 40D, 5D mark II, 5D mark III\n"
              "- Nikon D200, D800, D800E\n"
              "- Sony A7s");
    // The refused negative stays, without images.
    ASSERT_NE(convert.fNegative, nullptr);
    EXPECT_EQ(convert.fNegative->Stage1Image(), nullptr);
}

TEST(OpenAndIdentify, MonochromeIsRefusedBeforeTheModelAndBlanksAreTrimmed)
{
    fixtures::DngSpec mono;
    mono.mosaic = fixtures::Mosaic::kLinearRaw;
    mono.linearSamples = 1;
    mono.uniqueCameraModel = "Some Other Camera";
    fixtures::TempFile monoFile(fixtures::MakeDng(mono).bytes);

    fixtures::DngSpec padded;
    padded.uniqueCameraModel = "  Nikon D800E  ";
    fixtures::TempFile paddedFile(fixtures::MakeDng(padded).bytes);

    fixtures::DngSpec lower;
    lower.uniqueCameraModel = "nikon d800e";
    fixtures::TempFile lowerFile(fixtures::MakeDng(lower).bytes);

    FakeEngineUi ui;
    engine::DNGConvert convert(ui);
    EXPECT_EQ(convert.OpenAndIdentify(monoFile.PathString(), monoFile.FileName()), 0);
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].caption, "Already monochrome");

    EXPECT_EQ(convert.OpenAndIdentify(paddedFile.PathString(), paddedFile.FileName()), 1);
    EXPECT_EQ(convert.fCameraCode, 22);
    EXPECT_EQ(ui.boxes.shown.size(), 1u);

    EXPECT_EQ(convert.OpenAndIdentify(lowerFile.PathString(), lowerFile.FileName()), 0);
    ASSERT_EQ(ui.boxes.shown.size(), 2u);
    EXPECT_EQ(ui.boxes.shown[1].caption, "Unknown camera");
    EXPECT_EQ(convert.fCameraCode, 0);
}

TEST(OpenAndIdentify, FailuresAreReportedWithTheirCaptions)
{
    FakeEngineUi ui;
    engine::DNGConvert convert(ui);
    // A file that cannot be opened.
    EXPECT_EQ(convert.OpenAndIdentify("/nonexistent/none.dng", "none.dng"), 0);
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].caption, "Velloray error");
    EXPECT_EQ(ui.boxes.shown[0].text, "Whoa... that's a bug...\n\nFailed to process this DNG...");
    EXPECT_EQ(ui.boxes.shown[0].icon, MessageIcon::kWarning);

    // A truncated file opens, but its conversion run fails on the missing pixels: the open still
    // returns 1 and the run says the photo is damaged (not a bug of the program).
    EXPECT_EQ(convert.OpenAndIdentify(fixtures::SamplePath("d800-truncated.dng"), "d800-truncated.dng"), 1);
    ASSERT_EQ(ui.boxes.shown.size(), 2u);
    EXPECT_EQ(ui.boxes.shown[1].caption, "Damaged file");
    EXPECT_EQ(ui.boxes.shown[1].text.rfind("This DNG (d800-truncated.dng) is damaged and cannot be converted:", 0), 0u)
        << ui.boxes.shown[1].text;
    EXPECT_FALSE(convert.fResultReady);
}

TEST(OpenAndIdentify, ReadsTheOptionsOfTheMomentIntoTheNegative)
{
    FakeEngineUi ui;
    ui.fixDeadPixels = true;
    ui.noise = {{engine::NoiseSlider::kGreenChannel, 3}, {engine::NoiseSlider::kRedChannel, 4},
                {engine::NoiseSlider::kBlueChannel, 5}, {engine::NoiseSlider::kRegularResult, 6},
                {engine::NoiseSlider::kRedResult, 7},   {engine::NoiseSlider::kBlueResult, 8},
                {engine::NoiseSlider::kDetail, 9},      {engine::NoiseSlider::kBalance, 10}};
    ui.deadPixels["5011933"] = {{1256, 807}, {886, 744}};
    ui.deadPixels["someone else"] = {{1, 1}};
    engine::DNGConvert convert(ui);
    convert.fCameraSerial = "someone else"; // the photo selected last is of another body
    ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath("d200-grbg.dng"), "d200-grbg.dng"), 1);
    const engine::VrelNegative& n = *convert.fNegative;
    EXPECT_TRUE(n.fFixDeadPixels);
    // The dead pixels repaired are those of the body that took this photo.
    EXPECT_EQ(n.fDeadPixels, (std::vector<engine::PixelPoint>{{1256, 807}, {886, 744}}));
    EXPECT_EQ(n.fCameraCode, 20);
    EXPECT_EQ(n.fPreNoiseGreen, 30);
    EXPECT_EQ(n.fPreNoiseRed, 40);
    EXPECT_EQ(n.fPreNoiseBlue, 50);
    EXPECT_EQ(n.fNoiseRegular, 36);
    EXPECT_EQ(n.fNoiseRed, 42);
    EXPECT_EQ(n.fNoiseBlue, 48);
    EXPECT_EQ(n.fNoiseDetail, 9);
    EXPECT_EQ(n.fNoiseBalance, 10);
    EXPECT_GT(n.fRedBalance, 0.0);
    EXPECT_EQ(convert.fActiveAreaLeft, 0);
}

// A fixture big enough for the tools-preview crop, with a known stored value at every pixel.
struct Staged {
    fixtures::DngFixture fx;
    std::unique_ptr<fixtures::TempFile> file;
};

Staged MakeStaged(uint32_t width, uint32_t height, std::optional<dng::Rect> active = std::nullopt)
{
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    spec.width = width;
    spec.height = height;
    spec.rowsPerStrip = height;
    spec.activeArea = active;
    Staged s{fixtures::MakeDng(spec), nullptr};
    s.file = std::make_unique<fixtures::TempFile>(s.fx.bytes);
    return s;
}

TEST(StageRawData, DecodesOncePerPhotoAndScalesTheCrop)
{
    fixtures::DngSpec spec;
    spec.uniqueCameraModel = "Nikon D800";
    spec.defaultCropOrigin = {{{2, 1}, {2, 1}}};
    spec.defaultCropSize = {{{60, 1}, {40, 1}}};
    spec.defaultScale = {{{1, 1}, {2, 1}}};
    fixtures::TempFile file(fixtures::MakeDng(spec).bytes);

    FakeEngineUi ui;
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(file.PathString(), file.FileName()), 1);
    EXPECT_EQ(convert.RawDecodeCount(), 1);
    EXPECT_EQ(convert.fNegative->fScaleH, 60);
    EXPECT_EQ(convert.fNegative->fScaleV, 80); // twice the crop height: pixels twice as tall
    convert.StageRawData(false);
    ui.cropColumn = 0;
    convert.StageRawData(true);
    EXPECT_EQ(convert.RawDecodeCount(), 1);

    // The next open decodes again, with the 50% option the extent is halved.
    ui.halfSize = true;
    ASSERT_EQ(convert.OpenAndIdentify(file.PathString(), file.FileName()), 1);
    EXPECT_EQ(convert.RawDecodeCount(), 2);
    EXPECT_EQ(convert.fNegative->fScaleH, 30);
    EXPECT_EQ(convert.fNegative->fScaleV, 40);
}

TEST(StageRawData, ToolsPreviewCropIsPlacedOnThePatternAndKeptInside)
{
    Staged s = MakeStaged(640, 400);
    FakeEngineUi ui;
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(s.file->PathString(), s.file->FileName()), 1);
    auto expectCropAt = [&](int32_t left, int32_t top, int32_t w, int32_t h) {
        const dng::Image& img = *convert.fNegative->Stage1Image();
        ASSERT_EQ(img.Width(), w);
        ASSERT_EQ(img.Height(), h);
        for (int32_t y : {0, h - 1})
            for (int32_t x : {0, 1, w - 1})
                EXPECT_EQ(img.Row16(y)[x], s.fx.stage1[size_t(top + y) * s.fx.width + size_t(left + x)])
                    << "crop at " << left << "," << top;
        // Dead pixels are registered in whole-image coordinates: the crop says where it lies.
        EXPECT_EQ(convert.fNegative->fStage1Origin.x, left);
        EXPECT_EQ(convert.fNegative->fStage1Origin.y, top);
    };
    ui.cropColumn = 101;
    ui.cropRow = 3;
    convert.StageRawData(true);
    expectCropAt(102, 4, 512, 368); // odd coordinates move to the next even one

    // A crop point near the right and bottom edges stays inside the raw image.
    ui.cropColumn = 600;
    ui.cropRow = 390;
    convert.StageRawData(true);
    expectCropAt(128, 32, 512, 368);
}

TEST(StageRawData, HalfSizeCropDoublesAroundTheActiveArea)
{
    Staged s = MakeStaged(1300, 900, dng::Rect(0, 6, 900, 1300));
    FakeEngineUi ui;
    ui.halfSize = true;
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(s.file->PathString(), s.file->FileName()), 1);
    ui.cropColumn = 101;
    ui.cropRow = 50;
    convert.StageRawData(true);
    const dng::Image& img = *convert.fNegative->Stage1Image();
    ASSERT_EQ(img.Width(), 1024);
    ASSERT_EQ(img.Height(), 736);
    // 2 x (102 + 3) = 210 across, 2 x 50 = 100 down.
    EXPECT_EQ(img.Row16(0)[0], s.fx.stage1[size_t(100) * s.fx.width + 210]);
    EXPECT_EQ(img.Row16(735)[1023], s.fx.stage1[size_t(835) * s.fx.width + 1233]);
}

TEST(StageRawData, EightBitDataAreExpandedOnceAtEveryStaging)
{
    FakeEngineUi ui;
    engine::DNGConvert convert(ui);
    ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath("m9-8bit-squarelaw.dng"), "m9.dng"), 1);
    for (int i = 0; i < 2; ++i) {
        convert.StageRawData(false);
        const dng::Image& img = *convert.fNegative->Stage1Image();
        ASSERT_EQ(img.Type(), dng::PixelType::kUInt16);
        // The hot pixel (1551,195) is stored as 255: expanded to the white level, once.
        EXPECT_EQ(img.Row16(195)[1551], 16256);
        convert.fNegative->BuildStage2Image(convert.fHost);
        EXPECT_EQ(convert.fNegative->Stage2Image()->Row16(195)[1551], 65535);
    }
    EXPECT_EQ(convert.RawDecodeCount(), 1);
}

TEST(Cancel, ReportedExactlyOnceAndClearedByTheNextOpen)
{
    FakeEngineUi ui;
    engine::DNGConvert convert(ui);
    EXPECT_FALSE(convert.CheckCancelled());
    ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath("d200-grbg.dng"), "d200.dng"), 1);
    ui.bar.position = 40;
    convert.fCancelRequest = true;
    EXPECT_TRUE(convert.CheckCancelled());
    EXPECT_EQ(convert.fNegative, nullptr);
    EXPECT_EQ(ui.status.text, "Cancelled...");
    EXPECT_EQ(ui.bar.position, 0);
    EXPECT_FALSE(convert.CheckCancelled());

    // A request left over from before is consumed by the next open, not by its run.
    convert.fCancelRequest = true;
    ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath("d200-grbg.dng"), "d200.dng"), 1);
    EXPECT_NE(convert.fNegative, nullptr);
    EXPECT_EQ(std::count(ui.status.history.begin(), ui.status.history.end(), "Cancelled..."), 1);
}

TEST(Cancel, EntryPointsDoNothingWithoutAPhoto)
{
    FakeEngineUi ui;
    engine::DNGConvert convert(ui);
    convert.RestoreStage2Image();
    EXPECT_THROW(convert.StageRawData(false), dng::Error);
    EXPECT_EQ(convert.fNegative, nullptr);
}

} // namespace
