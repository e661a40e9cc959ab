// The program's renderings: full-size grey for the cooked previews, and the small sRGB preview of
// a written file with and without its lens correction.
#include "engine/Class_vrel_host.h"
#include "engine/Class_vrel_render.h"
#include "fixtures/samples.h"

#include "dng/info.h"
#include "dng/stream.h"

#include <gtest/gtest.h>

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

} // namespace
