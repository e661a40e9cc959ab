// The program's renderings: full-size grey for the cooked previews, and the small sRGB preview of
// a written file with and without its lens correction; the tone the camera profile asks for.
#include "engine/Class_dngconvert.h"
#include "engine/Class_vrel_host.h"
#include "engine/Class_vrel_render.h"
#include "fake_engine_ui.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "fixtures/validator.h"

#include "dng/info.h"
#include "dng/stream.h"
#include "dng/tag_codes.h"
#include "dng/tone_curve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

using engine::FilePreviewSize;

TEST(VrelRender, FilePreviewSizes)
{
    EXPECT_EQ(FilePreviewSize(1.5).width, 320);
    EXPECT_EQ(FilePreviewSize(1.5).height, 213);
    EXPECT_EQ(FilePreviewSize(0.5).width, 160);
    EXPECT_EQ(FilePreviewSize(0.5).height, 320);
    EXPECT_EQ(FilePreviewSize(700.0).height, 1);
    EXPECT_EQ(FilePreviewSize(1.0 / 700.0).width, 1);
}

struct Opened {
    engine::VrelHost host;
    std::unique_ptr<dng::FileStream> stream;
    dng::Info info;
    std::unique_ptr<dng::Negative> negative;
    engine::VrelNegative& Neg() { return dynamic_cast<engine::VrelNegative&>(*negative); }
};

// A sample's raw plane taken as a finished monochrome result.
std::unique_ptr<Opened> OpenAsResult(const std::string& name)
{
    auto o = std::make_unique<Opened>();
    o->stream = std::make_unique<dng::FileStream>(fixtures::SamplePath(name));
    o->info.Parse(o->host, *o->stream);
    o->info.PostParse(o->host);
    o->negative = o->host.Make_dng_negative();
    o->negative->Parse(o->host, *o->stream, o->info);
    o->negative->PostParse(o->host, *o->stream, o->info);
    o->negative->ReadStage1Image(o->host, *o->stream, o->info);
    o->negative->SetColorChannels(1);
    o->negative->ClearMosaicInfo();
    o->negative->BuildStage2Image(o->host);
    return o;
}

TEST(VrelRender, RenderingsHaveTheirSizesAndPlanes)
{
    auto o = OpenAsResult("m9-16bit-rggb.dng");
    engine::VrelRender render(o->host, o->Neg());
    render.SetFinalSpace(dng::FinalSpace::kGrayGamma22);
    auto full = render.RenderImage();
    EXPECT_EQ(full->Width(), 2000);
    EXPECT_EQ(full->Height(), 1334);
    EXPECT_EQ(full->Planes(), 1u);
    EXPECT_EQ(full->Type(), dng::PixelType::kUInt8);

    engine::VrelRender filePreview(o->host, o->Neg());
    auto small = filePreview.RenderWithArgs2(o->host, o->Neg());
    // Default crop 1992 x 1326: aspect 1.502, so 320 x 213.
    EXPECT_EQ(small->Width(), 320);
    EXPECT_EQ(small->Height(), 213);
    ASSERT_EQ(small->Planes(), 3u);
    for (int32_t y : {0, 100, 212})
        for (int32_t x : {0, 160, 319})
            EXPECT_EQ(small->Row8(y, 0)[x], small->Row8(y, 2)[x]);
}

TEST(VrelRender, LensCorrectionChangesOnlyTheFilePreview)
{
    auto o = OpenAsResult("leica-t-warp.dng");
    const dng::OpcodeList& list = o->Neg().GetOpcodeList(2);
    ASSERT_EQ(list.Count(), 1u);
    engine::VrelRender render(o->host, o->Neg());
    auto corrected = render.RenderWithArgs3(o->host, o->Neg(), list.Opcodes()[0]);
    auto plain = render.RenderWithArgs2(o->host, o->Neg());
    ASSERT_EQ(corrected->Width(), plain->Width());
    ASSERT_EQ(corrected->Height(), plain->Height());
    // Barrel correction moves the corners, not the centre.
    long cornerDiff = 0;
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 20; ++x)
            cornerDiff += std::abs(int(corrected->Row8(y)[x]) - int(plain->Row8(y)[x]));
    EXPECT_GT(cornerDiff, 0);
    const int32_t cx = plain->Width() / 2, cy = plain->Height() / 2;
    EXPECT_NEAR(corrected->Row8(cy)[cx], plain->Row8(cy)[cx], 2);
    // An opcode of another kind is ignored.
    dng::Opcode other = list.Opcodes()[0];
    other.id = dng::kOpcodeFixVignetteRadial;
    auto ignored = render.RenderWithArgs3(o->host, o->Neg(), other);
    EXPECT_EQ(ignored->Row8(0)[0], plain->Row8(0)[0]);
}

namespace fs = std::filesystem;

// A sample converted ("Regular", full size) with the cooked gamma-2.2 preview shown, from a copy
// with tags added to its first directory.
struct CookedRun {
    platform::Bitmap cooked;
    std::vector<uint16_t> result; // the stage-2 result, row by row
    int32_t width = 0;
    std::string written;
};

CookedRun ConvertWithTags(const fs::path& dir, const std::string& sample, const std::vector<fixtures::AddedTag>& tags)
{
    std::ifstream in(fixtures::SamplePath(sample), std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!tags.empty())
        bytes = fixtures::WithIfd0Tags(std::move(bytes), tags);
    fs::create_directories(dir / "out");
    const fs::path source = dir / sample;
    std::ofstream(source, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    enginetest::FakeEngineUi ui;
    ui.cooked = true;
    ui.gamma = 0;
    ui.autoSave = true;
    ui.autoSaveFolder = (dir / "out").string();
    engine::DNGConvert convert(ui);
    CookedRun run;
    EXPECT_EQ(convert.OpenAndIdentify(source.string(), sample), 1);
    EXPECT_TRUE(ui.boxes.shown.empty()) << ui.boxes.shown.at(0).text;
    if (!convert.fNegative || !convert.fNegative->Stage2Image())
        return run;
    const dng::Image& result = *convert.fNegative->Stage2Image();
    run.width = result.Width();
    for (int32_t y = 0; y < result.Height(); ++y)
        run.result.insert(run.result.end(), result.Row16(y), result.Row16(y) + result.Width());
    run.cooked = ui.resultPreview;
    run.written = convert.fWrittenPath;
    return run;
}

uint8_t CookedAt(const CookedRun& run, size_t i)
{
    return run.cooked.ScanLine(static_cast<int32_t>(i / size_t(run.width)))[3 * (i % size_t(run.width))];
}

TEST(VrelRender, CookedPreviewOfAPhotoTakesItsProfileTone)
{
    using namespace dng::tags;
    const fs::path dir = fs::temp_directory_path() / ("velloray-tone-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const fixtures::AddedTag darker{kTagProfileToneCurve, {}, {0.0f, 0.0f, 0.5f, 0.25f, 1.0f, 1.0f}};
    const fixtures::AddedTag backwards{kTagProfileToneCurve, {}, {0.0f, 0.0f, 0.6f, 0.25f, 0.4f, 0.3f, 1.0f, 1.0f}};
    const fixtures::AddedTag outputReferred{kTagColorimetricReference, {1}, {}};

    const CookedRun usual = ConvertWithTags(dir / "usual", "d200-grbg.dng", {});
    const CookedRun curve = ConvertWithTags(dir / "curve", "d200-grbg.dng", {darker});
    const CookedRun invalid = ConvertWithTags(dir / "invalid", "d200-grbg.dng", {backwards});
    const CookedRun output = ConvertWithTags(dir / "output", "d200-grbg.dng", {darker, outputReferred});
    ASSERT_FALSE(usual.result.empty());
    for (const CookedRun* run : {&curve, &invalid, &output}) {
        // The tone of the rendering leaves the result itself alone.
        ASSERT_EQ(run->result, usual.result);
        ASSERT_EQ(run->cooked.Width(), usual.cooked.Width());
        ASSERT_EQ(run->cooked.Height(), usual.cooked.Height());
    }

    const auto darkerCurve = dng::ToneCurve::FromValues(std::vector<double>{0.0, 0.0, 0.5, 0.25, 1.0, 1.0});
    ASSERT_TRUE(darkerCurve);
    // The darker curve lies below the default curve everywhere; in the mid-tones by far.
    size_t midTones = 0, darkerByFar = 0, invalidDiffers = 0, outputDiffers = 0;
    for (size_t i = 0; i < usual.result.size(); ++i) {
        const int base = CookedAt(usual, i);
        ASSERT_LE(CookedAt(curve, i), base) << i;
        if (base >= 150 && base <= 220) {
            ++midTones;
            darkerByFar += base - CookedAt(curve, i) >= 30;
        }
        invalidDiffers += CookedAt(invalid, i) != base;
        // Output-referred: no black clip and no default curve, but the exposure tone of -0.25 EV
        // and the profile's own curve.
        const double toned = dng::ExposureTone(usual.result[i] / 65535.0, -0.25);
        const double linear = darkerCurve->Evaluate(toned);
        outputDiffers += CookedAt(output, i) != static_cast<uint8_t>(std::floor(std::pow(linear, 1 / 2.2) * 255 + 0.5));
    }
    EXPECT_GT(midTones, 1000u);
    EXPECT_EQ(darkerByFar, midTones);
    EXPECT_EQ(invalidDiffers, 0u); // an invalid curve renders as the default
    EXPECT_EQ(outputDiffers, 0u);

    // The written files carry no curve of their own, and readers accept them. Their small
    // previews (one strip of RGB bytes) take the same tone as the cooked ones.
    std::vector<double> previewMean;
    for (const CookedRun* run : {&usual, &curve, &invalid, &output}) {
        ASSERT_FALSE(run->written.empty());
        dng::FileStream stream(run->written);
        engine::VrelHost host;
        dng::Info info;
        info.Parse(host, stream);
        info.PostParse(host);
        EXPECT_TRUE(info.IsValidDNG()) << run->written << ": " << info.ValidityProblem();
        EXPECT_TRUE(info.Shared().profileToneCurve.empty());
        const dng::IfdInfo& preview = info.Ifds().at(0);
        ASSERT_EQ(preview.tileOffsets.size(), 1u);
        const std::vector<uint8_t> rgb = stream.ReadBytes(preview.tileOffsets[0], preview.tileByteCounts[0]);
        double sum = 0;
        for (uint8_t v : rgb)
            sum += v;
        previewMean.push_back(sum / double(rgb.size()));
        if (!fixtures::ValidatorPath().empty()) {
            const fixtures::Validation v = fixtures::Validate(run->written);
            EXPECT_TRUE(v.accepted) << run->written << "\n" << v.output;
        } else if (run == &usual) {
            GTEST_LOG_(INFO) << "no DNG validator beside the samples: the written files were not validated";
        }
    }
    ASSERT_EQ(previewMean.size(), 4u);
    EXPECT_LT(previewMean[1], previewMean[0] - 20);
    EXPECT_EQ(previewMean[2], previewMean[0]);
    EXPECT_NE(previewMean[3], previewMean[0]);
    fs::remove_all(dir);
}

} // namespace
