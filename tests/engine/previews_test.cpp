// Precooked and cooked previews of the result.
#include "engine/Class_vrel_host.h"
#include "engine/vrel_negative.h"
#include "fake_engine_ui.h"

#include <gtest/gtest.h>

namespace {

using engine::VrelNegative;

struct Fixture {
    engine::VrelHost host;
    std::unique_ptr<dng::Negative> made = VrelNegative::Make(host);
    VrelNegative& n = dynamic_cast<VrelNegative&>(*made);
    enginetest::FakeEngineUi ui;
    Fixture() { n.fUi = &ui; }
};

uint32_t Grey(const platform::Bitmap& b, int32_t x, int32_t y)
{
    return b.ColorTable()[b.ScanLine(y)[x]] & 0xFF;
}

TEST(Previews, PaletteCarriesBrightnessAndContrast)
{
    platform::Bitmap b;
    VrelNegative::ApplyPreviewPalette(b, 0, 0);
    for (uint32_t i = 0; i < 256; ++i)
        ASSERT_EQ(b.ColorTable()[i], (i << 16) | (i << 8) | i);
    VrelNegative::ApplyPreviewPalette(b, 20, -75);
    for (uint32_t i = 0; i < 256; ++i)
        ASSERT_EQ(b.ColorTable()[i] & 0xFF, 148u);
    VrelNegative::ApplyPreviewPalette(b, 300, 0);
    EXPECT_EQ(b.ColorTable()[0] & 0xFF, 255u);
    VrelNegative::ApplyPreviewPalette(b, -300, 0);
    EXPECT_EQ(b.ColorTable()[255] & 0xFF, 0u);
}

TEST(Previews, PrecookedPreviewMapsThroughTheGammaTable)
{
    Fixture f;
    auto image = std::make_unique<dng::Image>(1003, 600, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < 600; ++y)
        for (int32_t x = 0; x < 1003; ++x)
            image->Row16(y)[x] = static_cast<uint16_t>(y == 0 ? 60000 : x * 40);
    f.n.SetStage2(std::move(image));
    platform::Bitmap b;
    f.n.RenderPrecookedPreview(b, 1.0, 0, 0, 0, false);
    EXPECT_EQ(b.Format(), platform::PixelFormat::k8Bit);
    EXPECT_EQ(b.Width(), 1000); // rounded down to a multiple of 4
    EXPECT_EQ(b.Height(), 600);
    EXPECT_EQ(Grey(b, 5, 0), 255u); // row 0 on top, values past the table clamp to its end
    EXPECT_EQ(Grey(b, 0, 1), 0u);
    EXPECT_EQ(Grey(b, 100, 9), f.n.fGammaTable22[4000]);
    f.n.RenderPrecookedPreview(b, 1.0, 1, 0, 0, false);
    EXPECT_EQ(Grey(b, 100, 9), f.n.fGammaTable18[4000]);
    f.n.RenderPrecookedPreview(b, 1.0, 2, 0, 0, false);
    EXPECT_EQ(Grey(b, 100, 9), 0u); // an unknown gamma gives black
    f.n.RenderPrecookedPreview(b, 2.0, 0, 0, 0, false);
    EXPECT_EQ(b.Width(), 500);
    EXPECT_EQ(b.Height(), 300);
    EXPECT_EQ(Grey(b, 100, 9), f.n.fGammaTable22[4000]); // the top-left part, not a sampled image
    EXPECT_EQ(f.ui.status.text, "Done...");
}

TEST(Previews, ClippingMarksAndCookedCopy)
{
    Fixture f;
    auto image = std::make_unique<dng::Image>(8, 4, 1, dng::PixelType::kUInt16);
    image->Row16(1)[2] = 65535;
    f.n.SetStage2(std::move(image));
    f.n.fClipImage = std::make_unique<dng::Image>(8, 4, 1, dng::PixelType::kUInt8);
    f.n.fClipImage->Row8(1)[2] = 1;
    platform::Bitmap b;
    f.n.RenderPrecookedPreview(b, 1.0, 0, 0, 0, true);
    ASSERT_EQ(b.Format(), platform::PixelFormat::k24Bit);
    const uint8_t* clipped = b.ScanLine(1) + 3 * 2;
    EXPECT_EQ(clipped[0], 255); // blue keeps the grey value
    EXPECT_EQ(clipped[1], 0);
    EXPECT_EQ(clipped[2], 255);
    const uint8_t* plain = b.ScanLine(1) + 3 * 3;
    EXPECT_EQ(plain[0], 0);
    EXPECT_EQ(plain[2], 0);

    dng::Image rendered(9, 3, 1, dng::PixelType::kUInt8);
    rendered.Row8(0)[7] = 200;
    f.n.RenderCookedPreview(b, rendered, 1.0);
    EXPECT_EQ(b.Width(), 8);
    EXPECT_EQ(b.Height(), 3);
    EXPECT_EQ(b.ScanLine(0)[3 * 7 + 1], 200);
}

} // namespace
