#include "engine/Class_vrel_host.h"
#include "engine/hat_transform.h"
#include "engine/progress_reporter.h"
#include "engine/vrel_negative.h"

#include "dng/error.h"
#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fake_engine_ui.h"
#include "fixtures/dng_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace {

using engine::VrelNegative;
using Image = std::unique_ptr<dng::Image>;

// A negative parsed from a synthetic DNG, for its colour-filter predicates.
struct Parsed {
    engine::VrelHost host;
    std::vector<uint8_t> bytes;
    std::unique_ptr<dng::MemoryStream> stream;
    dng::Info info;
    std::unique_ptr<dng::Negative> owner;
    VrelNegative& Neg() { return dynamic_cast<VrelNegative&>(*owner); }

    explicit Parsed(fixtures::Mosaic mosaic)
    {
        fixtures::DngSpec synthetic;
        synthetic.mosaic = mosaic;
        stream = std::make_unique<dng::MemoryStream>(bytes = fixtures::MakeDng(synthetic).bytes);
        info.Parse(host, *stream);
        info.PostParse(host);
        owner = host.Make_dng_negative();
        owner->Parse(host, *stream, info);
        owner->PostParse(host, *stream, info);
    }
};

Image MakeImage(int32_t w, int32_t h, const std::function<int32_t(int32_t, int32_t)>& f)
{
    auto img = std::make_unique<dng::Image>(w, h, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            img->Row16(y)[x] = static_cast<uint16_t>(std::clamp(f(x, y), 0, 65535));
    return img;
}

// Reproducible noise in [lo, hi] over a base picture.
Image Noisy(int32_t w, int32_t h, int32_t lo, int32_t hi, uint32_t seed,
            const std::function<int32_t(int32_t, int32_t)>& base = [](int32_t, int32_t) { return 0; })
{
    return MakeImage(w, h, [&](int32_t x, int32_t y) {
        seed = seed * 1664525u + 1013904223u;
        return base(x, y) + lo + int32_t((seed >> 8) % uint32_t(hi - lo + 1));
    });
}

std::vector<uint16_t> Samples(const dng::Image& img)
{
    return {img.Row16(0), img.Row16(0) + size_t(img.Width()) * size_t(img.Height())}; // one packed plane
}

int32_t At(const Image& img, int32_t x, int32_t y) { return img->Row16(y)[x]; }

Image Denoised(VrelNegative& neg, const Image& src, int32_t strength, int32_t detail, int32_t balance, int16_t sites = 0)
{
    auto img = src->Clone();
    neg.WaveletDenoise(*img, strength, detail, balance, sites, nullptr);
    return img;
}

// The noise reduction the plain way: three whole planes, each level smoothed by rows and then by
// columns, thresholds compared in double, planes 1 and 2 taking turns as the low-pass plane.
std::vector<uint16_t> Reference(const dng::Image& img, int32_t strength, int32_t detail, int32_t balance)
{
    const int32_t w = img.Width(), h = img.Height();
    const size_t n = size_t(w) * size_t(h);
    std::vector<float> work(3 * n + size_t(w + h));
    float* p[3] = {&work[0], &work[n], &work[2 * n]};
    float* scratch = &work[3 * n];
    const auto in = Samples(img);
    for (size_t i = 0; i < n; ++i)
        p[0][i] = float(128.0 * std::sqrt(4.0 * in[i]));
    const float noise[5] = {0.8002f, 0.2735f, 0.1202f, 0.0585f, 0.0291f};
    float* hp = p[0];
    for (int lev = 0; lev < 5; ++lev) {
        float* lp = p[1 + lev % 2];
        for (int32_t r = 0; r < h; ++r) {
            engine::HatTransform(scratch, hp + r * w, 1, w, 1 << lev);
            for (int32_t c = 0; c < w; ++c)
                lp[r * w + c] = float(scratch[c] * 0.25);
        }
        for (int32_t c = 0; c < w; ++c) {
            engine::HatTransform(scratch, lp + c, w, h, 1 << lev);
            for (int32_t r = 0; r < h; ++r)
                lp[r * w + c] = float(scratch[r] * 0.25);
        }
        const double t = strength * double(noise[lev]), b = 0.01 * (balance - 100) * strength;
        const double thi = b >= 0 ? std::max(t - b, 0.0) : t, tlo = b < 0 ? std::max(t + b, 0.0) : t;
        const double dhi = thi - 0.01 * thi * detail, dlo = tlo - 0.01 * tlo * detail;
        for (size_t i = 0; i < n; ++i) {
            float d = hp[i] - lp[i];
            d = d < -tlo ? float(d + dlo) : d > thi ? float(d - dhi) : 0.0f;
            hp[i] = d;
            if (lev > 0)
                p[0][i] = p[0][i] + d;
        }
        hp = lp;
    }
    std::vector<uint16_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        const double v = double(p[0][i]) + double(p[1][i]);
        out[i] = uint16_t(std::min(v * v / 65536, 65535.0));
    }
    return out;
}

class Wavelet : public testing::Test {
protected:
    engine::VrelHost host;
    std::unique_ptr<dng::Negative> owner = VrelNegative::Make(host);
    VrelNegative& neg = dynamic_cast<VrelNegative&>(*owner);
};

TEST(WaveletHatTransform, MirrorsAtBothEndsAndSumsInDouble)
{
    for (int32_t sc : {1, 2, 4, 8, 16}) {
        const int32_t n = 2 * sc + 3; // the shortest run each step allows, read through a stride
        std::vector<float> in(static_cast<size_t>(3 * n), -1.0f), out(static_cast<size_t>(n));
        for (int32_t k = 0; k < n; ++k)
            in[size_t(3 * k)] = float(k * k + 1);
        engine::HatTransform(out.data(), in.data(), 3, n, sc);
        auto x = [n](int32_t k) { const int32_t m = k < 0 ? -k : k > n - 1 ? 2 * (n - 1) - k : k; return float(m * m + 1); };
        for (int32_t i = 0; i < n; ++i)
            EXPECT_EQ(out[size_t(i)], 2 * x(i) + x(i - sc) + x(i + sc)) << "step " << sc << " at " << i;
    }
    // 2 + 2 x (3 x 2^-25) rounds up to the next float only when summed exactly and rounded once.
    std::vector<float> in(8, 3.0f * std::ldexp(1.0f, -25)), out(8);
    in[1] = 1.0f;
    engine::HatTransform(out.data(), in.data(), 1, 8, 1);
    EXPECT_EQ(out[1], std::nextafter(2.0f, 3.0f));
}

TEST_F(Wavelet, MatchesThePlainThreePlaneComputationBitForBit)
{
    const int32_t settings[][3] = {{30, 0, 100}, {100, 100, 100}, {100, 50, 150}, {60, 25, 40}, {1000, 0, 200}, {7, 100, 0}, {-20, 0, 100}};
    uint32_t seed = 1;
    // Odd sizes, the smallest side, sides shorter than the 33 rows a level keeps.
    for (auto [w, h] : {std::pair{32, 32}, {37, 45}, {45, 37}, {70, 33}, {33, 70}})
        for (auto [strength, detail, balance] : settings) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " " << strength << " " << detail << " " << balance);
            auto img = Noisy(w, h, -400, 400, seed++, [](int32_t x, int32_t y) { return 1000 + 60 * x + 40 * y; });
            EXPECT_EQ(Samples(*Denoised(neg, img, strength, detail, balance)), Reference(*img, strength, detail, balance));
        }
    auto wide = Noisy(40, 36, 0, 65535, 99);
    EXPECT_EQ(Samples(*Denoised(neg, wide, 300, 0, 100)), Reference(*wide, 300, 0, 100));
    // Pinned bits catch a build that rounds differently (contraction, fast math), which would move
    // the reference along.
    uint64_t hash = 1469598103934665603ull;
    for (uint16_t s : Samples(*Denoised(neg, Noisy(50, 40, 500, 12000, 1234), 70, 30, 120)))
        hash = (hash ^ s) * 1099511628211ull;
    EXPECT_EQ(hash, 0xbc8d5b12a0131915ull);
}

TEST_F(Wavelet, RebuiltValuesAboveTheRangeAreClampedNotWrapped)
{
    // Near white with dark pits: lifting the pits' coefficients pushes bright neighbours past 65535.
    uint32_t seed = 21;
    auto img = MakeImage(40, 40, [&](int32_t, int32_t) { return ((seed = seed * 1664525u + 1013904223u) >> 16) % 8 == 0 ? 30000 : 65400; });
    auto out = Denoised(neg, img, 2000, 100, 200);
    int32_t clamped = 0;
    for (int32_t i = 0; i < 40 * 40; ++i) {
        EXPECT_GE(At(out, i % 40, i / 40), At(img, i % 40, i / 40) > 60000 ? 60000 : 0) << i;
        clamped += At(out, i % 40, i / 40) == 65535;
    }
    EXPECT_GT(clamped, 0);
}

TEST_F(Wavelet, StrengthZeroAndImagesBelow32SamplesAreLeftAloneWithoutProgress)
{
    enginetest::FakeProgressBar bar;
    engine::ProgressReporter progress;
    progress.Bind(&bar, nullptr, nullptr);
    bar.position = 7;
    for (auto [w, h, strength] : {std::array{48, 40, 0}, {31, 64, 100}, {64, 31, 100}, {1, 1, 100}}) {
        auto img = Noisy(w, h, 0, 65535, 5);
        const auto before = Samples(*img);
        neg.WaveletDenoise(*img, strength, 50, 150, 0, &progress);
        EXPECT_EQ(Samples(*img), before) << w << "x" << h;
    }
    EXPECT_EQ(bar.position, 7);
    auto edge = Noisy(32, 32, 1000, 5000, 7);
    const auto before = Samples(*edge);
    neg.WaveletDenoise(*edge, 100, 0, 100, 0, &progress);
    EXPECT_NE(Samples(*edge), before);
    EXPECT_EQ((std::array{bar.minimum, bar.maximum, bar.position}), (std::array{0, 2 * 32 - 4, 0}));
    dng::Image eight(48, 40, 1, dng::PixelType::kUInt8);
    EXPECT_THROW(neg.WaveletDenoise(eight, 100, 0, 100, 0, nullptr), dng::Error);
}

TEST(WaveletSites, OneColourIsSmoothedAsAPlaneOfItsOwnAndNothingElseChanges)
{
    Parsed rggb(fixtures::Mosaic::kRGGB), mono(fixtures::Mosaic::kLinearRaw);
    VrelNegative& neg = rggb.Neg();
    // Plane cell (i, j) -> photosite: red at even row and column, blue at odd, green packed by rows.
    using Site = std::pair<int32_t, int32_t> (*)(int32_t, int32_t);
    const std::tuple<int16_t, int32_t, int32_t, Site> layouts[] = {
        {1, 48, 80, [](int32_t i, int32_t j) { return std::pair{2 * i + 1 - j % 2, j}; }},
        {2, 48, 40, [](int32_t i, int32_t j) { return std::pair{2 * i, 2 * j}; }},
        {3, 48, 40, [](int32_t i, int32_t j) { return std::pair{2 * i + 1, 2 * j + 1}; }}};
    auto noisy = Noisy(96, 80, 2000, 6000, 77);
    for (const auto& [sites, pw, ph, at] : layouts) {
        auto plane = MakeImage(pw, ph, [&, at = at](int32_t i, int32_t j) { return At(noisy, at(i, j).first, at(i, j).second); });
        auto expected = Denoised(neg, plane, 50, 20, 130);
        std::vector<bool> mine(96 * 80);
        for (int32_t k = 0; k < pw * ph; ++k)
            mine[size_t(at(k % pw, k / pw).second * 96 + at(k % pw, k / pw).first)] = true;
        for (int32_t other : {-1, 0, 65535}) { // the other colours' values do not enter, and stay as they were
            auto img = noisy->Clone();
            for (int32_t k = 0; other >= 0 && k < 96 * 80; ++k)
                if (!mine[size_t(k)])
                    img->Row16(k / 96)[k % 96] = uint16_t(other);
            const auto before = Samples(*img);
            neg.WaveletDenoise(*img, 50, 20, 130, sites, nullptr);
            for (int32_t k = 0; k < 96 * 80; ++k)
                ASSERT_TRUE(mine[size_t(k)] || img->Row16(k / 96)[k % 96] == before[size_t(k)]) << sites << " " << k;
            for (int32_t k = 0; k < pw * ph; ++k)
                ASSERT_EQ(img->Row16(at(k % pw, k / pw).second)[at(k % pw, k / pw).first], At(expected, k % pw, k / pw)) << sites << " " << other;
        }
    }
    // An odd width gives green rows of 49 and 48 photosites; still only green changes.
    auto odd = Noisy(97, 80, 2000, 6000, 78);
    auto out = Denoised(neg, odd, 50, 0, 100, 1);
    for (int32_t k = 0; k < 97 * 80; ++k)
        ASSERT_TRUE(neg.IsGreenPixel(k % 97, k / 97) || At(out, k % 97, k / 97) == At(odd, k % 97, k / 97)) << k;
    EXPECT_NE(Samples(*out), Samples(*odd));
    // Colour planes below 32 samples a side, missing colours and unknown sites are left alone.
    auto small = Noisy(60, 60, 2000, 6000, 3); // red and blue planes 30 x 30, green 30 x 60
    for (int16_t sites : {1, 2, 3, 4, -1})
        EXPECT_EQ(Samples(*Denoised(neg, small, 100, 0, 100, sites)), Samples(*small)) << sites;
    EXPECT_NE(Samples(*Denoised(neg, small, 100, 0, 100, 0)), Samples(*small));
    EXPECT_EQ(Samples(*Denoised(mono.Neg(), noisy, 100, 0, 100, 2)), Samples(*noisy));
}

} // namespace
