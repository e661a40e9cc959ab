#include "ui/logic/bitmap_reduce.h"
#include "ui/logic/tools_crop.h"
#include "ui/logic/tools_preview_values.h"

#include <gtest/gtest.h>

using engine::NoiseSlider;

TEST(ToolsCrop, OriginIsEvenThenClampedInsideThePicture)
{
    struct Case {
        ui::ToolsCropRequest request;
        int32_t x, y;
    };
    const Case cases[] = {
        {{183, 122, 7360, 4912, 512, 368}, 3404, 2272},  // centre of a full-size photo
        {{0, 0, 7360, 4912, 512, 368}, 0, 0},            // top left
        {{101, 0, 1104, 736, 512, 368}, 48, 0},          // 303 - 256 = 47 made even
        {{365, 243, 1001, 701, 512, 368}, 488, 332},     // odd size: even, one short of the edge
        {{365, 243, 1001, 701, 256, 184}, 488, 332},     // 200%: clamped with the processed block
        {{200, 100, 300, 200, 512, 368}, 0, 0},          // picture smaller than the crop
        {{0, 100, 7360, 4912, 512, 368}, 0, 1830},       // even: the rows count from the active area
    };
    for (const Case& c : cases) {
        const ui::ToolsCropOrigin o = ui::ToolsCropOriginOf(c.request);
        EXPECT_EQ(o.x, c.x) << c.request.clickX << "," << c.request.clickY;
        EXPECT_EQ(o.y, c.y) << c.request.clickX << "," << c.request.clickY;
        const ui::ToolsCropCopy copy = ui::ToolsCropIntersection(o, c.request.cropWidth, c.request.cropHeight,
                                                                 c.request.pictureWidth, c.request.pictureHeight);
        EXPECT_GE(copy.x, 0);
        EXPECT_LE(copy.x + copy.width, c.request.pictureWidth);
        EXPECT_LE(copy.y + copy.height, c.request.pictureHeight);
        EXPECT_EQ(copy.width, std::min(c.request.cropWidth, c.request.pictureWidth));
    }
}

TEST(ToolsPreviewValues, StrengthsFromPositionsAndStops)
{
    const ui::NoiseArray p{10, 20, 30, 40, 50, 60, 70, 130};
    ui::NoiseFlags none{};
    ui::PreviewStrengths v = ui::PreviewStrengthsOf(p, none, 1);
    EXPECT_EQ((std::array<int32_t, 8>{v.preGreen, v.preRed, v.preBlue, v.regular, v.red, v.blue, v.detail, v.balance}),
              (std::array<int32_t, 8>{100, 200, 300, 240, 300, 360, 70, 130}));
    ui::NoiseFlags stops{};
    stops[ui::Index(NoiseSlider::kRegularResult)] = stops[ui::Index(NoiseSlider::kBalance)] = true;
    v = ui::PreviewStrengthsOf(p, stops, 1);
    EXPECT_EQ(v.regular, 0);
    EXPECT_EQ(v.balance, 100);
    EXPECT_EQ(v.red, 300);
    v = ui::PreviewStrengthsOf(p, stops, 4); // the followers of regular leave with it
    EXPECT_EQ(v.red + v.blue, 0);
    EXPECT_TRUE(ui::PreviewStrengthsOf(p, none, 0).NoiseActive());
    EXPECT_FALSE(ui::PreviewStrengthsOf({0, 0, 0, 0, 0, 0, 50, 100}, none, 0).NoiseActive());
}

TEST(ToolsPreviewValues, LabelsAndModeTable)
{
    EXPECT_EQ(ui::NoiseLabel(NoiseSlider::kBalance, 130, false), "+30");
    EXPECT_EQ(ui::NoiseLabel(NoiseSlider::kBalance, 80, false), "-20");
    EXPECT_EQ(ui::NoiseLabel(NoiseSlider::kBalance, 100, false), "0");
    EXPECT_EQ(ui::NoiseLabel(NoiseSlider::kDetail, 50, false), "50");
    EXPECT_EQ(ui::NoiseLabel(NoiseSlider::kRegularResult, 40, true), "0");
    using M = std::array<bool, 6>;
    EXPECT_EQ(ui::StrengthSlidersOfMode(0), (M{false, true, true, true, false, false}));
    EXPECT_EQ(ui::StrengthSlidersOfMode(3), (M{true, true, true, true, true, false}));
    EXPECT_EQ(ui::StrengthSlidersOfMode(5), (M{true, true, true, true, false, true}));
    EXPECT_EQ(ui::StrengthSlidersOfMode(4), (M{false, false, false, true, false, false}));
    EXPECT_EQ(ui::StrengthSlidersOfMode(6), (M{true, false, true, false, true, false}));
    EXPECT_EQ(ui::StrengthSlidersOfMode(7), (M{true, true, false, false, false, true}));
}

TEST(BitmapReduce, MeansOfTheCoveredPixelsKeepTheColourTable)
{
    platform::Bitmap b;
    b.SetPixelFormat(platform::PixelFormat::k8Bit);
    b.SetSize(4, 2);
    const uint8_t rows[2][4] = {{0, 10, 100, 200}, {20, 30, 101, 201}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            b.ScanLine(y)[x] = rows[y][x];
    b.ColorTable()[7] = 0x123456;
    const platform::Bitmap r = ui::ReduceBitmap(b, 2, 1);
    ASSERT_EQ(r.Width(), 2);
    EXPECT_EQ(r.ScanLine(0)[0], 15);
    EXPECT_EQ(r.ScanLine(0)[1], 151); // 602 / 4 rounded
    EXPECT_EQ(r.ColorTable()[7], 0x123456u);
}
