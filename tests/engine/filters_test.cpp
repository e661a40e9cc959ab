// The RAW and RGB channel filters on hand-made images: blending and its rounding, odd sizes, the
// factors of the RGB filters, their limits, the gradient in all four directions and in crops.
#include "engine/Class_vrel_host.h"
#include "engine/vrel_negative.h"
#include "fake_engine_ui.h"

#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace {

using engine::VrelNegative;
using Pixel = std::function<uint16_t(int32_t, int32_t)>;

std::unique_ptr<dng::Image> MakeImage(int32_t w, int32_t h, const Pixel& f)
{
    auto img = std::make_unique<dng::Image>(w, h, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            img->View16Of(0).Row(y)[x] = f(x, y);
    return img;
}

Pixel Flat(uint16_t v)
{
    return [v](int32_t, int32_t) { return v; };
}

uint16_t At(const std::unique_ptr<dng::Image>& img, int32_t x, int32_t y)
{
    return img->View16Of(0).Row(y)[x];
}

struct Filters : ::testing::Test {
    engine::VrelHost host;
    std::unique_ptr<dng::Negative> made = VrelNegative::Make(host);
    VrelNegative& n = dynamic_cast<VrelNegative&>(*made);

    // Regular result, red and blue channel images of one size.
    void Images(int32_t w, int32_t h, const Pixel& regular, const Pixel& red, const Pixel& blue)
    {
        n.fMonoImage = MakeImage(w, h, regular);
        n.fMonoCopy1 = MakeImage(w, h, red);
        n.fMonoCopy2 = MakeImage(w, h, blue);
    }
};

TEST_F(Filters, RawBlendRoundsToNearestOverEveryPixelOfOddSizes)
{
    // s = 1: 95 % regular + 5 % channel; 0.95 x 0 + 0.05 x 3 = 0.15 rounds to 0 (truncating the
    // difference before adding the channel would give 1).
    Images(3, 1, [](int32_t x, int32_t) { return uint16_t(x == 0 ? 1000 : 0); },
           [](int32_t x, int32_t) { return uint16_t(x == 0 ? 3000 : 3); }, Flat(0));
    n.FilterRawRed(1.0, false, nullptr);
    EXPECT_EQ(At(n.fMonoCopy1, 0, 0), 1100);
    EXPECT_EQ(At(n.fMonoCopy1, 2, 0), 0);
    EXPECT_EQ(At(n.fMonoImage, 0, 0), 1100); // the result also becomes the regular image

    // s = 19: 5 % regular + 95 % channel; s = 10: half and half, also in the last row and column.
    for (double s : {19.0, 10.0}) {
        for (bool blue : {false, true}) {
            Images(5, 3, Flat(1000), Flat(3000), Flat(3000));
            blue ? n.FilterRawBlue(s, false, nullptr) : n.FilterRawRed(s, false, nullptr);
            const auto& out = blue ? n.fMonoCopy2 : n.fMonoCopy1;
            for (int32_t y = 0; y < 3; ++y)
                for (int32_t x = 0; x < 5; ++x)
                    ASSERT_EQ(At(out, x, y), s == 19.0 ? 2900 : 2000) << s << " " << blue << " " << x << "," << y;
        }
    }
}

TEST_F(Filters, CancelLeavesTheRegularResultAlone)
{
    enginetest::FakeEngineUi ui;
    n.fUi = &ui;
    ui.onPump = [this] { n.fCancelRequested = true; };
    Images(4, 4, Flat(1000), Flat(3000), Flat(3000));
    n.FilterRawRed(10.0, false, nullptr);
    EXPECT_EQ(At(n.fMonoImage, 0, 0), 1000);
    n.FilterRgbGreen(10.0, false, 0, 50, false, 0, 0, nullptr);
    EXPECT_EQ(At(n.fMonoImage, 3, 3), 1000);
    EXPECT_EQ(ui.pumps, 2); // once per row, stopped at the first
}

TEST_F(Filters, RgbRedMovesTowardTheBalancedChannelAndClampsTo14Bits)
{
    // s = 9: g = -0.5. 1000 - 500 + 0.5 x (1000 x 1.5) = 1250 everywhere without a gradient.
    n.fRedBalance = 1.5;
    Images(3, 2, Flat(1000), Flat(1000), Flat(0));
    n.FilterRgbRed(9.0, false, 0, 50, true, 0, 0, nullptr);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            EXPECT_EQ(At(n.fMonoCopy3, x, y), 1250);
    EXPECT_EQ(At(n.fMonoImage, 0, 0), 1000); // the result waits in the third copy

    // A channel value above 16383 reads as 16383: 0.5 x 16383 = 8191.5.
    n.fRedBalance = 1.0;
    Images(1, 1, Flat(0), Flat(30000), Flat(0));
    n.FilterRgbRed(9.0, false, 0, 50, false, 0, 0, nullptr);
    EXPECT_EQ(At(n.fMonoCopy3, 0, 0), 8191);
    // s = 20: a result above 16383 is held there.
    Images(1, 1, Flat(100), Flat(16000), Flat(0));
    n.FilterRgbRed(20.0, false, 0, 50, false, 0, 0, nullptr);
    EXPECT_EQ(At(n.fMonoCopy3, 0, 0), 16383);
}

TEST_F(Filters, RgbBlueSubtractsTheBlackLevelBeforeBalancing)
{
    fixtures::DngSpec photo;
    photo.width = 16;
    photo.height = 16;
    photo.blackLevel = {{512, 1}};
    const std::vector<uint8_t> bytes = fixtures::MakeDng(photo).bytes;
    dng::MemoryStream stream(bytes);
    dng::Info info;
    info.Parse(host, stream);
    info.PostParse(host);
    n.Parse(host, stream, info);
    n.PostParse(host, stream, info);

    // x' = (1512 - 512) x 2 + 512 = 2512; s = 9: 1000 - 500 + 1256 = 1756.
    n.fBlueBalance = 2.0;
    Images(1, 1, Flat(1000), Flat(0), Flat(1512));
    n.FilterRgbBlue(9.0, false, 0, 50, false, 0, 0, nullptr);
    EXPECT_EQ(At(n.fMonoCopy3, 0, 0), 1756);
}

TEST_F(Filters, RgbGreenFactorAtStrength10IsAThirdOfTheBalanceGap)
{
    // Channels 0: the result is (1 + 2g) a with g = |red - blue| / 3 = 0.5, whatever the sign.
    for (double red : {2.5, 1.0}) {
        n.fRedBalance = red;
        n.fBlueBalance = 3.5 - red;
        Images(1, 1, Flat(20000), Flat(0), Flat(0));
        n.FilterRgbGreen(10.0, false, 0, 50, true, 0, 0, nullptr); // boost needs the gradient
        EXPECT_EQ(At(n.fMonoCopy3, 0, 0), 40000) << red;
    }
    // Boost with gradient doubles g at the starting edge: g = 1, 3 x 30000 saturates at 65535.
    n.fScaleV = 100;
    Images(1, 1, Flat(30000), Flat(0), Flat(0));
    n.FilterRgbGreen(10.0, true, 0, 50, true, 0, 0, nullptr);
    EXPECT_EQ(At(n.fMonoCopy3, 0, 0), 65535);
    // Strong channels push the value below 0: held at 0.
    Images(1, 1, Flat(100), Flat(10000), Flat(10000));
    n.FilterRgbGreen(10.0, false, 0, 50, false, 0, 0, nullptr);
    EXPECT_EQ(At(n.fMonoCopy3, 0, 0), 0);
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
        const bool vertical = dir < 2;
        n.fScaleV = vertical ? len : 1;
        n.fScaleH = vertical ? 1 : len;
        Images(vertical ? 1 : len, vertical ? len : 1, Flat(1000), Flat(13000), Flat(0));
        n.FilterRgbRed(9.0, true, dir, 50, false, 0, 0, nullptr);
        // Pixel i counted from the gradient's starting edge.
        auto out = [&](int32_t i) {
            const int32_t p = dir % 2 == 0 ? i : len - 1 - i;
            return vertical ? At(n.fMonoCopy3, 0, p) : At(n.fMonoCopy3, p, 0);
        };
        const bool fromTopLeft = dir % 2 == 0;
        EXPECT_EQ(out(0), fromTopLeft ? 7000 : 6993) << dir;
        EXPECT_EQ(out(867), fromTopLeft ? 4003 : 3996) << dir; // half way down the ramp
        EXPECT_EQ(out(fromTopLeft ? 1735 : 1733), 1003) << dir; // the last step
        for (int32_t i = fromTopLeft ? 1736 : 1734; i < len; ++i)
            ASSERT_EQ(out(i), 1000) << "direction " << dir << " at " << i;
    }

    // The reach is a real fraction: 30 % of 100 rows is 30 rows, not 100 / 3.
    n.fScaleV = 100;
    Images(1, 100, Flat(1000), Flat(13000), Flat(0));
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
        const int32_t w = vertical ? 2 : side;
        const int32_t h = vertical ? side : 2;
        Images(w, h, Flat(1000), Flat(13000), Flat(0));
        n.FilterRgbRed(9.0, true, dir, 50, false, 0, 0, nullptr);
        auto full = std::move(n.fMonoCopy3);

        const int32_t cw = vertical ? w : side - offset;
        const int32_t ch = vertical ? side - offset : h;
        Images(cw, ch, Flat(1000), Flat(13000), Flat(0));
        n.FilterRgbRed(9.0, true, dir, 50, false, vertical ? offset : 0, vertical ? 0 : offset, nullptr);
        for (int32_t y = 0; y < ch; ++y)
            for (int32_t x = 0; x < cw; ++x)
                ASSERT_EQ(At(n.fMonoCopy3, x, y), At(full, vertical ? x : x + offset, vertical ? y + offset : y))
                    << "direction " << dir << " at " << x << "," << y;
    }
}

} // namespace
