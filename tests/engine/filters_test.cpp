// The RAW and RGB channel filters on hand-made images: blending and its rounding, odd sizes, the
// factors of the RGB filters, their limits, the gradient in all four directions and in crops.
#include "engine/vrel_negative.h"

#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace {

using engine::VrelNegative;
using enginetest::MakeImage;
using Pixel = std::function<uint16_t(int32_t, int32_t)>;

Pixel Flat(uint16_t v)
{
    return [v](int32_t, int32_t) { return v; };
}

uint16_t At(const std::unique_ptr<dng::Image>& img, int32_t x, int32_t y)
{
    return img->View16Of(0).Row(y)[x];
}

// Regular result, red and blue channel images of one size.
void Images(VrelNegative& n, int32_t w, int32_t h, const Pixel& regular, const Pixel& red, const Pixel& blue)
{
    n.fMonoImage = MakeImage(w, h, regular);
    n.fMonoCopy1 = MakeImage(w, h, red);
    n.fMonoCopy2 = MakeImage(w, h, blue);
}

struct Filters : ::testing::Test {
    engine::VrelHost host;
    std::unique_ptr<dng::Negative> made = VrelNegative::Make(host);
    VrelNegative& n = dynamic_cast<VrelNegative&>(*made);
};

TEST_F(Filters, RawBlendRoundsToNearestOverEveryPixelOfOddSizes)
{
    // s = 1: 95 % regular + 5 % channel; 0.95 x 0 + 0.05 x 3 = 0.15 rounds to 0 (truncating the
    // difference before adding the channel would give 1).
    Images(n, 3, 1, [](int32_t x, int32_t) { return uint16_t(x == 0 ? 1000 : 0); },
           [](int32_t x, int32_t) { return uint16_t(x == 0 ? 3000 : 3); }, Flat(0));
    n.FilterRawRed(1.0, false, nullptr);
    EXPECT_EQ(At(n.fMonoCopy1, 0, 0), 1100);
    EXPECT_EQ(At(n.fMonoCopy1, 2, 0), 0);
    EXPECT_EQ(At(n.fMonoImage, 0, 0), 1100); // the result also becomes the regular image

    // s = 19: 5 % regular + 95 % channel; s = 10: half and half, also in the last row and column.
    for (double s : {19.0, 10.0})
        for (bool blue : {false, true}) {
            Images(n, 5, 3, Flat(1000), Flat(3000), Flat(3000));
            blue ? n.FilterRawBlue(s, false, nullptr) : n.FilterRawRed(s, false, nullptr);
            for (int32_t y = 0; y < 3; ++y)
                for (int32_t x = 0; x < 5; ++x)
                    ASSERT_EQ(At(blue ? n.fMonoCopy2 : n.fMonoCopy1, x, y), s == 19.0 ? 2900 : 2000)
                        << s << " " << blue << " " << x << "," << y;
        }
}

TEST_F(Filters, CancelLeavesTheRegularResultAlone)
{
    enginetest::FakeEngineUi ui;
    n.fUi = &ui;
    ui.onPump = [this] { n.fCancelRequested = true; };
    Images(n, 4, 4, Flat(1000), Flat(3000), Flat(3000));
    n.FilterRawRed(10.0, false, nullptr);
    EXPECT_EQ(At(n.fMonoImage, 0, 0), 1000);
    n.FilterRgbGreen(10.0, false, 0, 50, false, 0, 0, nullptr);
    EXPECT_EQ(At(n.fMonoImage, 3, 3), 1000);
    EXPECT_EQ(n.fMonoCopy3, nullptr) << "no half-filtered result is left to be taken";
    EXPECT_EQ(ui.pumps, 2); // once per row, stopped at the first
}

TEST_F(Filters, RgbFiltersMoveTowardTheBalancedChannelsWithinTheirLimits)
{
    // A photo with black level 512, for the filters to take it off before balancing.
    fixtures::DngSpec photo;
    photo.width = 16;
    photo.height = 16;
    photo.blackLevel = {{512, 1}};
    auto withBlack = enginetest::FromSynthetic<enginetest::ParsedNegative>(photo);
    const struct {
        char filter; // r, g or b
        bool black;
        double s, redBalance, blueBalance;
        uint16_t regular, red, blue;
        bool gradient, boost;
        uint16_t expected;
        const char* why;
    } cases[] = {
        {'r', false, 9, 1.5, 1, 1000, 1000, 0, false, true, 1250, "s = 9, g = -0.5: 1000 - 500 + 0.5 x 1500"},
        {'r', false, 9, 1, 1, 0, 30000, 0, false, false, 8191, "a channel above 16383 reads as 16383"},
        {'r', false, 20, 1, 1, 100, 16000, 0, false, false, 16383, "a result above 16383 is held there"},
        {'b', true, 9, 1, 2, 1000, 0, 1512, false, false, 1756, "x' = (1512 - 512) x 2 + 512; 500 + 1256"},
        // s = 10: g = |red - blue| / 3 = 0.5 whatever the sign; channels 0 give (1 + 2g) a.
        {'g', false, 10, 2.5, 1, 20000, 0, 0, false, true, 40000, "boost needs the gradient"},
        {'g', false, 10, 1, 2.5, 20000, 0, 0, false, true, 40000, "the other sign"},
        {'g', false, 10, 1, 2.5, 30000, 0, 0, true, true, 65535, "boost doubles g at the edge: 3 x 30000"},
        {'g', false, 10, 1, 2.5, 100, 10000, 10000, false, false, 0, "strong channels: held at 0"},
    };
    for (const auto& c : cases) {
        VrelNegative& v = c.black ? *withBlack->neg : n;
        v.fRedBalance = c.redBalance;
        v.fBlueBalance = c.blueBalance;
        v.fScaleV = 100;
        Images(v, 3, 1, Flat(c.regular), Flat(c.red), Flat(c.blue));
        c.filter == 'r'   ? v.FilterRgbRed(c.s, c.gradient, 0, 50, c.boost, 0, 0, nullptr)
        : c.filter == 'g' ? v.FilterRgbGreen(c.s, c.gradient, 0, 50, c.boost, 0, 0, nullptr)
                          : v.FilterRgbBlue(c.s, c.gradient, 0, 50, c.boost, 0, 0, nullptr);
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(At(v.fMonoCopy3, x, 0), c.expected) << c.why;
        EXPECT_EQ(At(v.fMonoImage, 2, 0), c.regular) << "the result waits in the third copy";
    }
}

// The gradient cases run the red filter at s = 9 (g0 = -0.5) on regular 1000 and channel 13000, so
// that a pixel shows its factor as 1000 + 12000 |g|.

TEST_F(Filters, GradientFallsLinearlyToZeroAtItsReachInEveryDirection)
{
    // 50 % of 3472 reaches 1736 pixels. From the top or left the factor falls by g0 / 1736 per pixel
    // to 0; from the bottom or right it is 0 over the first 1738 pixels from the top or left and then
    // climbs by one step per pixel, 1734 steps at the far edge.
    const int32_t len = 3472;
    for (int32_t dir = 0; dir < 4; ++dir) {
        const bool vertical = dir < 2, fromTopLeft = dir % 2 == 0;
        n.fScaleV = vertical ? len : 1;
        n.fScaleH = vertical ? 1 : len;
        Images(n, vertical ? 1 : len, vertical ? len : 1, Flat(1000), Flat(13000), Flat(0));
        n.FilterRgbRed(9.0, true, dir, 50, false, 0, 0, nullptr);
        // Pixel i counted from the gradient's starting edge.
        auto out = [&](int32_t i) {
            const int32_t p = fromTopLeft ? i : len - 1 - i;
            return vertical ? At(n.fMonoCopy3, 0, p) : At(n.fMonoCopy3, p, 0);
        };
        EXPECT_EQ(out(0), fromTopLeft ? 7000 : 6993) << dir;
        EXPECT_EQ(out(867), fromTopLeft ? 4003 : 3996) << dir; // half way down the ramp
        EXPECT_EQ(out(fromTopLeft ? 1735 : 1733), 1003) << dir; // the last step
        for (int32_t i = fromTopLeft ? 1736 : 1734; i < len; ++i)
            ASSERT_EQ(out(i), 1000) << "direction " << dir << " at " << i;
    }

    // The reach is a real fraction: 30 % of 100 rows is 30 rows, not 100 / 3.
    n.fScaleV = 100;
    Images(n, 1, 100, Flat(1000), Flat(13000), Flat(0));
    n.FilterRgbRed(9.0, true, 0, 30, false, 0, 0, nullptr);
    EXPECT_GT(At(n.fMonoCopy3, 0, 29), 1000);
    EXPECT_EQ(At(n.fMonoCopy3, 0, 30), 1000);
}

TEST_F(Filters, CropGetsTheFactorsOfTheFullImage)
{
    // Full 600 x 600 photo, 50 % reach; a crop inside the ramp of each direction starts with the
    // factor the full image has at the crop's first row or column (also from the bottom or right).
    const int32_t side = 600;
    n.fScaleV = side;
    n.fScaleH = side;
    for (int32_t dir = 0; dir < 4; ++dir) {
        const bool vertical = dir < 2;
        const int32_t offset = dir % 2 == 0 ? 100 : 400;
        Images(n, vertical ? 2 : side, vertical ? side : 2, Flat(1000), Flat(13000), Flat(0));
        n.FilterRgbRed(9.0, true, dir, 50, false, 0, 0, nullptr);
        auto full = std::move(n.fMonoCopy3);

        const int32_t cw = vertical ? 2 : side - offset, ch = vertical ? side - offset : 2;
        Images(n, cw, ch, Flat(1000), Flat(13000), Flat(0));
        n.FilterRgbRed(9.0, true, dir, 50, false, vertical ? offset : 0, vertical ? 0 : offset, nullptr);
        for (int32_t y = 0; y < ch; ++y)
            for (int32_t x = 0; x < cw; ++x)
                ASSERT_EQ(At(n.fMonoCopy3, x, y), At(full, vertical ? x : x + offset, vertical ? y + offset : y))
                    << "direction " << dir << " at " << x << "," << y;
    }
}

} // namespace
