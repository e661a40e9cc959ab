// Bicubic resampling: a plain transcription of its rules as the check for any image, flat areas,
// averaging when shrinking, ramps when enlarging, clamping, and a full-size photo shrunk to
// preview size.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

namespace {

// --- The rules, one output sample at a time ---

struct PlainTaps {
    int32_t first;
    std::vector<double> weights;
};

// Catmull-Rom weights stretched by the shrink factor around each output centre, taps beyond the
// axis mirrored about its end samples (folded onto the samples they read), normalised to sum 1.
std::vector<PlainTaps> PlainAxis(int32_t n, int32_t out)
{
    auto mirror = [n](int64_t j) {
        if (n == 1)
            return int32_t(0);
        const int64_t period = 2 * int64_t(n - 1);
        const int64_t k = ((j % period) + period) % period;
        return int32_t(k < n ? k : period - k);
    };
    const double scale = double(n) / double(out);
    const double stretch = std::max(scale, 1.0);
    std::vector<PlainTaps> axis;
    for (int32_t i = 0; i < out; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        const int64_t lo = int64_t(std::floor(centre - 2.0 * stretch)) + 1;
        const int64_t hi = int64_t(std::ceil(centre + 2.0 * stretch)) - 1;
        int32_t first = n - 1, last = 0;
        for (int64_t j = lo; j <= hi; ++j) {
            first = std::min(first, mirror(j));
            last = std::max(last, mirror(j));
        }
        PlainTaps t{first, std::vector<double>(size_t(last - first + 1), 0.0)};
        double sum = 0.0;
        for (int64_t j = lo; j <= hi; ++j) {
            const double w = dng::CatmullRom((double(j) - centre) / stretch);
            t.weights[size_t(mirror(j) - first)] += w;
            sum += w;
        }
        for (double& w : t.weights)
            w /= sum;
        axis.push_back(t);
    }
    return axis;
}

// Rows first: each source row's taps summed in order; then the columns' taps in order; rounded,
// clamped.
uint16_t PlainSample(const dng::Image& src, const dng::Rect& area, const std::vector<PlainTaps>& cols,
                     const std::vector<PlainTaps>& rows, int32_t x, int32_t y, double top)
{
    auto at = [&](int32_t r, int32_t c) -> double {
        return src.Type() == dng::PixelType::kUInt8 ? src.Row8(area.t + r)[area.l + c] : src.Row16(area.t + r)[area.l + c];
    };
    double acc = 0.0;
    const PlainTaps& ty = rows[size_t(y)];
    for (size_t k = 0; k < ty.weights.size(); ++k) {
        const PlainTaps& tx = cols[size_t(x)];
        double across = 0.0;
        for (size_t j = 0; j < tx.weights.size(); ++j)
            across += tx.weights[j] * at(ty.first + int32_t(k), tx.first + int32_t(j));
        acc += ty.weights[k] * across;
    }
    return uint16_t(std::clamp(std::floor(acc + 0.5), 0.0, top));
}

TEST(Resample, MatchesTheRulesOnRandomImages)
{
    // Shrinking by whole and broken factors (output widths with and without a rest of four),
    // enlarging, both at once, an area inside the image; 16 and 8 bits.
    std::mt19937 rng(31);
    const struct {
        int32_t w, h;
        dng::Rect area;
        int32_t outW, outH;
        dng::PixelType type;
    } cases[] = {
        {97, 53, dng::Rect(0, 0, 53, 97), 13, 7, dng::PixelType::kUInt16},
        {200, 31, dng::Rect(0, 0, 31, 200), 16, 9, dng::PixelType::kUInt16},
        {40, 30, dng::Rect(0, 0, 30, 40), 9, 17, dng::PixelType::kUInt16},
        {7, 5, dng::Rect(0, 0, 5, 7), 23, 11, dng::PixelType::kUInt16},
        {120, 80, dng::Rect(5, 9, 71, 110), 22, 15, dng::PixelType::kUInt8},
    };
    dng::Host host;
    for (const auto& c : cases) {
        dng::Image src(c.w, c.h, 1, c.type);
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x) {
                if (c.type == dng::PixelType::kUInt8)
                    src.Row8(y)[x] = uint8_t(rng());
                else
                    src.Row16(y)[x] = uint16_t(rng());
            }
        dng::Image dst(c.outW, c.outH, 1, c.type);
        dng::ResampleImage(host, src, c.area, dst);
        const auto cols = PlainAxis(c.area.W(), c.outW);
        const auto rows = PlainAxis(c.area.H(), c.outH);
        const double top = c.type == dng::PixelType::kUInt8 ? 255.0 : 65535.0;
        for (int32_t y = 0; y < c.outH; ++y)
            for (int32_t x = 0; x < c.outW; ++x) {
                const uint16_t got = c.type == dng::PixelType::kUInt8 ? dst.Row8(y)[x] : dst.Row16(y)[x];
                ASSERT_EQ(got, PlainSample(src, c.area, cols, rows, x, y, top))
                    << c.w << " x " << c.h << " to " << c.outW << " x " << c.outH << " at " << x << "," << y;
            }
    }
}

// --- Properties ---

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
