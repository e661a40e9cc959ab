// Bicubic resampling: flat areas, averaging when shrinking, ramps when enlarging, clamping, and a
// full-size photo shrunk to preview size.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace {

TEST(Resample, FlatAreasStayFlatAtAnySize)
{
    dng::Host host;
    dng::Image src(37, 23, 2, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < 23; ++y)
        for (int32_t x = 0; x < 37; ++x) {
            src.Row16(y, 0)[x] = 40000;
            src.Row16(y, 1)[x] = 65535;
        }
    for (auto [w, h] : {std::pair{37, 23}, {11, 7}, {1, 1}, {100, 61}, {5, 90}}) {
        dng::Image dst(w, h, 2, dng::PixelType::kUInt16);
        dng::ResampleImage(host, src, src.Bounds(), dst);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                ASSERT_EQ(dst.Row16(y, 0)[x], 40000) << w << "x" << h;
                ASSERT_EQ(dst.Row16(y, 1)[x], 65535) << w << "x" << h;
            }
    }
}

TEST(Resample, ShrinkingACheckerboardAveragesIt)
{
    dng::Host host;
    dng::Image src(66, 48, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 66; ++x)
            src.Row16(y)[x] = ((x + y) & 1) ? 60000 : 20000;
    // Halving: the mean, edges included.
    dng::Image half(33, 24, 1, dng::PixelType::kUInt16);
    dng::ResampleImage(host, src, src.Bounds(), half);
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 33; ++x)
            ASSERT_NEAR(half.Row16(y)[x], 40000, 1) << x << "," << y;
    // A third: each output centre falls on one source pixel, which an unwidened kernel would copy.
    dng::Image third(22, 16, 1, dng::PixelType::kUInt16);
    dng::ResampleImage(host, src, src.Bounds(), third);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 22; ++x)
            ASSERT_NEAR(third.Row16(y)[x], 40000, 400) << x << "," << y;
}

TEST(Resample, EnlargingKeepsALinearRampInsideTheArea)
{
    dng::Host host;
    dng::Image src(24, 20, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 24; ++x)
            src.Row16(y)[x] = static_cast<uint16_t>(1000 * x + 300 * y + 100 + (x == 0 ? 7000 : 0));
    // Area from column 1: output pixel i sits at source position 1 + (i + 0.5) * 0.4 - 0.5. Where
    // all four taps are inside the area, the ramp comes out exactly.
    const dng::Rect area(0, 1, 16, 21);
    dng::Image dst(50, 40, 1, dng::PixelType::kUInt16);
    dng::ResampleImage(host, src, area, dst);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 50; ++x) {
            const double sx = 1 + (x + 0.5) * 0.4 - 0.5;
            const double sy = (y + 0.5) * 0.4 - 0.5;
            if (sx >= 2.0 && sx <= 19.0 && sy >= 1.0 && sy <= 14.0) {
                ASSERT_NEAR(dst.Row16(y)[x], 1000 * sx + 300 * sy + 100, 0.5) << x << "," << y;
            }
            if (x == 0) { // the bright column left of the area stays out
                ASSERT_LT(dst.Row16(y)[x], 3100 + 300 * std::max(sy, 0.0)) << y;
            }
        }
}

TEST(Resample, OvershootIsClampedAndBadArgumentsRefused)
{
    dng::Host host;
    dng::Image src(8, 1, 1, dng::PixelType::kUInt8);
    for (int32_t x = 4; x < 8; ++x)
        src.Row8(0)[x] = 255;
    dng::Image dst(64, 1, 1, dng::PixelType::kUInt8);
    dng::ResampleImage(host, src, src.Bounds(), dst);
    // The cubic's lobes dip below 0 before the step and above 255 after it.
    for (int32_t x = 0; x < 24; ++x)
        EXPECT_LT(dst.Row8(0)[x], 20) << x;
    for (int32_t x = 40; x < 64; ++x)
        EXPECT_GT(dst.Row8(0)[x], 235) << x;

    dng::Image planes(4, 1, 3, dng::PixelType::kUInt8);
    EXPECT_THROW(dng::ResampleImage(host, src, dng::Rect(0, 0, 2, 8), dst), dng::Error);
    EXPECT_THROW(dng::ResampleImage(host, src, src.Bounds(), planes), dng::Error);
}

TEST(Resample, FullSizePhotoToPreviewSize)
{
    dng::Host host;
    dng::Image src(6000, 4000, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < 4000; ++y)
        for (int32_t x = 0; x < 6000; ++x)
            src.Row16(y)[x] = static_cast<uint16_t>(10 * x + ((x ^ y) & 7));
    dng::Image dst(320, 213, 1, dng::PixelType::kUInt16);
    const auto start = std::chrono::steady_clock::now();
    dng::ResampleImage(host, src, src.Bounds(), dst);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
    // The ramp remains, the fine noise (mean 3.5) averages out.
    for (int32_t y : {0, 100, 212})
        for (int32_t x = 4; x < 316; x += 13)
            ASSERT_NEAR(dst.Row16(y)[x], 10 * ((x + 0.5) * 6000.0 / 320 - 0.5) + 3.5, 1.5) << x << "," << y;
}

} // namespace
