#include "engine/Class_fft.h"
#include "engine/motion_blur_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

using engine::ClassFFT;
using engine::MotionBlurGrid;
constexpr int N = ClassFFT::kBlock;

TEST(ClassFFT, IdentityFilterTilingGivesBackEveryPixelOnce)
{
    ClassFFT fft;
    const ClassFFT::Spectrum identity(size_t(N) * ClassFFT::kHalfColumns, 1.0 / (double(N) * N));
    std::mt19937 random(7);
    for (auto [w, h] : {std::pair{1, 1}, {255, 257}, {256, 256}, {257, 255}, {511, 513}, {512, 512}, {513, 511}, {3, 5001}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        dng::Image image(w, h, 1, dng::PixelType::kUInt16);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.Row16(y)[x] = uint16_t(random());
        std::vector<int> visits(size_t(w) * h);
        int wrong = 0;
        ASSERT_TRUE(fft.FilterBlocks(image.ConstView16Of(0), identity,
                                     [&](int32_t y, int32_t x0, const double* v, int32_t n) {
                                         for (int32_t i = 0; i < n; ++i) {
                                             ++visits[size_t(y) * w + x0 + i];
                                             wrong += std::lround(v[i]) != image.Row16(y)[x0 + i];
                                         }
                                     },
                                     nullptr, {}));
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(std::count(visits.begin(), visits.end(), 1), ptrdiff_t(w) * h);
    }
}

TEST(ClassFFT, CentreCellGivesTheRegularisedIdentity)
{
    MotionBlurGrid grid;
    grid.ClickCentre();
    const std::vector<double> kernel = ClassFFT::BuildKernel(grid);
    EXPECT_EQ(kernel[0], 1.0);
    EXPECT_EQ(std::count(kernel.begin(), kernel.end(), 0.0), ptrdiff_t(N) * N - 1);

    ClassFFT fft;
    for (int p : {0, 40}) {
        fft.SetParameters(p);
        const ClassFFT::Spectrum f = fft.InverseFilter(kernel, nullptr);
        const double k = 0.0001 * std::pow(1.07, p);
        double worst = 0;
        for (int u = 0; u < N; ++u)
            for (int v = 0; v < ClassFFT::kHalfColumns; ++v) {
                const double l = 4 - 2 * std::cos(2 * std::numbers::pi * u / N) - 2 * std::cos(2 * std::numbers::pi * v / N);
                const std::complex<double> expected = 1.0 / (1.0 + k * l * l) / (double(N) * N);
                worst = std::max(worst, std::abs(f[size_t(u) * ClassFFT::kHalfColumns + v] - expected) * N * N);
            }
        EXPECT_LT(worst, 1e-12) << p;
    }
}

// A 512 x 512 scene (one block, so the transform's wrap-around matches a circular blur): a dark
// and a bright rectangle on a mid background, blurred circularly by the drawn kernel.
struct Scene {
    static constexpr int kWhite = 16383;
    std::vector<uint16_t> sharp, blurred;
    Scene(const MotionBlurGrid& grid) : sharp(size_t(N) * N), blurred(size_t(N) * N)
    {
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x)
                sharp[size_t(y) * N + x] = (y >= 100 && y < 400 && x >= 256 && x < 420) ? 12000
                                           : (y >= 150 && y < 300 && x >= 60 && x < 160) ? 1000
                                                                                         : 4000;
        double sum = 0;
        for (int cx = 2; cx <= 98; ++cx)
            for (int cy = 2; cy <= 98; ++cy)
                sum += grid.Weight(cx, cy);
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                double v = 0;
                for (int cx = 40; cx <= 60; ++cx)
                    for (int cy = 40; cy <= 60; ++cy)
                        if (const double wt = grid.Weight(cx, cy); wt > 0)
                            v += wt * sharp[size_t((y - cy + 50 + N) % N) * N + (x - cx + 50 + N) % N];
                blurred[size_t(y) * N + x] = uint16_t(std::lround(v / sum));
            }
    }
    std::vector<uint16_t> Deblur(ClassFFT& fft, MotionBlurGrid& grid) const
    {
        dng::Image image(N, N, 1, dng::PixelType::kUInt16);
        std::copy(blurred.begin(), blurred.end(), image.Row16(0));
        EXPECT_TRUE(fft.Deblur(image, kWhite, 1.0, nullptr, grid));
        return {image.Row16(0), image.Row16(0) + size_t(N) * N};
    }
    double MeanError(const std::vector<uint16_t>& v) const
    {
        double e = 0;
        for (size_t i = 0; i < v.size(); ++i)
            e += std::abs(double(v[i]) - sharp[i]);
        return e / double(v.size());
    }
    // Where row 250 first reaches the middle of the bright rectangle's left edge.
    static int EdgeAt(const std::vector<uint16_t>& v)
    {
        int x = 200;
        while (v[size_t(250) * N + x] < 8000)
            ++x;
        return x;
    }
};

TEST(ClassFFT, DeconvolutionRestoresBlurredScenes)
{
    enum Drawing { kCentredLine, kDisc, kOneSidedLine };
    for (Drawing d : {kCentredLine, kDisc, kOneSidedLine}) {
        SCOPED_TRACE(d);
        MotionBlurGrid grid;
        if (d == kCentredLine) {
            grid.SetLineKind(MotionBlurGrid::kLineThroughCentre);
            grid.CellClick(54, 52);
        } else if (d == kDisc) {
            grid.SetRadius(2);
            grid.SetMode(MotionBlurGrid::kFocusDisc);
        } else {
            for (int x = 50; x <= 58; ++x)
                grid.CellClick(x, 50);
        }
        const Scene scene(grid);
        ClassFFT fft;
        fft.SetParameters(0);
        const std::vector<uint16_t> out = scene.Deblur(fft, grid);
        EXPECT_LT(scene.MeanError(out), 0.25 * scene.MeanError(scene.blurred));

        // Flat areas keep their values exactly.
        EXPECT_EQ(out[size_t(20) * N + 20], 4000);
        EXPECT_EQ(out[size_t(250) * N + 340], 12000);

        if (d == kOneSidedLine) {
            // The blur moved the edge right by half its length; the deconvolution moves it back.
            EXPECT_EQ(Scene::EdgeAt(scene.blurred), 260);
            EXPECT_NEAR(Scene::EdgeAt(out), 256, 1);

            // Zooming the editor after drawing changes nothing.
            grid.GrowView();
            grid.GrowView();
            grid.ShrinkView();
            EXPECT_EQ(scene.Deblur(fft, grid), out);

            // Localization at its maximum: no value beyond its 3 x 3 source neighbourhood.
            fft.SetArea(400, 400, 400, 400);
            const std::vector<uint16_t> limited = scene.Deblur(fft, grid);
            int outside = 0;
            for (int y = 1; y < N - 1; ++y)
                for (int x = 1; x < N - 1; ++x) {
                    int lo = 65535, hi = 0;
                    for (int j = -1; j <= 1; ++j)
                        for (int i = -1; i <= 1; ++i) {
                            lo = std::min<int>(lo, scene.blurred[size_t(y + j) * N + x + i]);
                            hi = std::max<int>(hi, scene.blurred[size_t(y + j) * N + x + i]);
                        }
                    const int v = limited[size_t(y) * N + x];
                    outside += v < lo || v > hi;
                }
            EXPECT_EQ(outside, 0);
        }
    }
}

TEST(ClassFFT, EmptyKernelSkipsThePass)
{
    MotionBlurGrid grid;
    grid.CellClick(1, 50); // outside the kernel's cells 2..98
    dng::Image image(8, 8, 1, dng::PixelType::kUInt16);
    image.Row16(3)[3] = 999;
    ClassFFT fft;
    EXPECT_FALSE(fft.Deblur(image, 4095, 1.0, nullptr, grid));
    EXPECT_EQ(image.Row16(3)[3], 999);
}

TEST(ClassFFT, SamplesAboveWhiteCannotPushTheBlendOutOfRange)
{
    MotionBlurGrid grid;
    grid.ClickCentre();
    dng::Image image(64, 64, 1, dng::PixelType::kUInt16);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            image.Row16(y)[x] = ((x / 8 + y / 8) % 2) ? 65535 : 100;
    ClassFFT fft;
    ASSERT_TRUE(fft.Deblur(image, 4095, 3.0, nullptr, grid));
    int changed = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint16_t v = image.Row16(y)[x];
            if ((x / 8 + y / 8) % 2 == 0) {
                changed += v != 100;
                EXPECT_LE(v, 4095);
            }
        }
    EXPECT_GT(changed, 0);
}

} // namespace
