// The one-channel renderer: tone curve, black-point ramp, final encodings, and areas rendered
// through them.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/render.h"
#include "dng/stream.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Opens up the protected area renderer, as the program's renderer does.
class TestRender : public dng::Render {
public:
    using Render::Render;
    using Render::RenderArea;
};

constexpr uint16_t kMidGrey = 11796; // round(0.18 x 65535)

TEST(RenderCurves, ToneCurveAndRamp)
{
    // The tone curve: 0 -> 0, 1 -> 1, increasing, without kinks (the slope changes most at the
    // toe, about 0.012 per step), soft at both ends and steeper in the mid-tones.
    EXPECT_EQ(dng::DefaultToneCurve(0.0), 0.0);
    EXPECT_EQ(dng::DefaultToneCurve(1.0), 1.0);
    const double h = 1.0 / 20000;
    double prev = 0.0;
    double prevSlope = std::pow(0.6, 2.2); // the slope at 0
    for (int i = 1; i <= 20000; ++i) {
        const double v = dng::DefaultToneCurve(i * h);
        ASSERT_GT(v, prev) << i * h;
        ASSERT_NEAR((v - prev) / h, prevSlope, 0.02) << i * h;
        prevSlope = (v - prev) / h;
        prev = v;
    }
    const auto slope = [](double x) { return (dng::DefaultToneCurve(x + 1e-6) - dng::DefaultToneCurve(x - 1e-6)) / 2e-6; };
    EXPECT_LT(slope(1e-4), 1.0);
    EXPECT_LT(slope(1.0 - 1e-4), 1.0);
    EXPECT_GT(slope(std::pow(0.5, 2.2)), 1.15);
    EXPECT_NEAR(dng::DefaultToneCurve(0.18), 0.18, 0.01);

    // The ramp at shadows 5: black 0.005, zero below the knee (half-width 0.0025), white stays.
    const double b = dng::ShadowsBlack(5.0);
    EXPECT_DOUBLE_EQ(b, 0.005);
    EXPECT_EQ(dng::ExposureRamp(b * 0.5, b), 0.0);
    EXPECT_GT(dng::ExposureRamp(b * 0.75, b), 0.0);
    EXPECT_DOUBLE_EQ(dng::ExposureRamp(1.0, b), 1.0);
    EXPECT_EQ(dng::ExposureRamp(1.7, b), 1.0);
    EXPECT_NEAR(dng::ExposureRamp(0.5, b), (0.5 - b) / (1 - b), 1e-15);
    const double e = 1e-9; // value and slope meet at the top of the knee
    EXPECT_NEAR((dng::ExposureRamp(b * 1.5, b) - dng::ExposureRamp(b * 1.5 - e, b)) / e,
                (dng::ExposureRamp(b * 1.5 + e, b) - dng::ExposureRamp(b * 1.5, b)) / e, 1e-4);
    EXPECT_EQ(dng::ExposureRamp(0.001, 0.0), 0.001); // shadows 0: no ramp
}

TEST(Render, MidGreyInEachSpaceWithoutToneChange)
{
    dng::Host host;
    auto neg = host.Make_dng_negative(); // baseline exposure 0
    TestRender r(host, *neg);
    r.SetSceneReferred(false);

    dng::Image src(3, 1, 1, dng::PixelType::kUInt16);
    src.Row16(0)[1] = kMidGrey;
    src.Row16(0)[2] = 65535;
    // 0.18^(1/2.2) = 0.4587, 0.18^(1/1.8) = 0.3857, sRGB 0.4614 (of 255).
    for (auto [space, grey] : {std::pair{dng::FinalSpace::kGrayGamma22, 117}, {dng::FinalSpace::kGrayGamma18, 98},
                               {dng::FinalSpace::kSRGB, 118}}) {
        r.SetFinalSpace(space);
        auto out = r.RenderArea(src, src.Bounds(), 1);
        EXPECT_EQ(out->Row8(0)[0], 0);
        EXPECT_EQ(out->Row8(0)[1], grey);
        EXPECT_EQ(out->Row8(0)[2], 255);
    }
    EXPECT_NEAR(dng::EncodeFinalSpace(dng::FinalSpace::kSRGB, 0.002), 0.02584, 1e-12); // linear toe
    r.SetFinalPixelType(dng::PixelType::kUInt16);
    EXPECT_NEAR(r.RenderArea(src, src.Bounds(), 1)->Row16(0)[1], 0.461356 * 65535, 2);
}

TEST(Render, SceneReferredTableClipsShadowsAndIsMonotone)
{
    dng::Host host;
    auto neg = host.Make_dng_negative();
    TestRender r(host, *neg);
    const std::vector<uint16_t> table = r.BuildTable();
    EXPECT_EQ(table[163], 0); // 0.0025, the foot of the knee at shadows 5
    EXPECT_GT(table[400], 0);
    EXPECT_EQ(table[65535], 255);
    for (size_t i = 1; i < table.size(); ++i)
        ASSERT_GE(table[i], table[i - 1]) << i;
}

TEST(Render, SRGBPlanesAreEqualAndTheAreaIsHonoured)
{
    dng::Host host;
    auto neg = host.Make_dng_negative();
    TestRender r(host, *neg);
    dng::Image src(7, 5, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x)
            src.Row16(y)[x] = static_cast<uint16_t>(1000 * (y * 7 + x) + 500);
    auto out = r.RenderArea(src, dng::Rect(1, 2, 4, 6), 3);
    ASSERT_EQ(out->Width(), 4);
    ASSERT_EQ(out->Height(), 3);
    auto whole = r.RenderArea(src, src.Bounds(), 1);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(out->Row8(y, 0)[x], whole->Row8(y + 1)[x + 2]);
            EXPECT_EQ(out->Row8(y, 1)[x], out->Row8(y, 0)[x]);
            EXPECT_EQ(out->Row8(y, 2)[x], out->Row8(y, 0)[x]);
        }

    dng::Image colour(8, 8, 3, dng::PixelType::kUInt16);
    EXPECT_THROW(r.RenderArea(colour, colour.Bounds(), 1), dng::Error);
    EXPECT_THROW(r.RenderArea(src, dng::Rect(0, 0, 6, 7), 1), dng::Error);
    EXPECT_THROW(r.RenderArea(src, src.Bounds(), 2), dng::Error);
}

TEST(Render, BaselineExposureOfTheNegativeIsAGain)
{
    dng::FileStream s(fixtures::SamplePath("leica-t-warp.dng"));
    dng::Host host;
    dng::Info info;
    info.Parse(host, s);
    info.PostParse(host);
    auto neg = host.Make_dng_negative();
    neg->Parse(host, s, info);
    neg->PostParse(host, s, info);

    TestRender r(host, *neg);
    EXPECT_DOUBLE_EQ(r.BaselineExposure(), 0.25);
    r.SetSceneReferred(false);
    r.SetFinalSpace(dng::FinalSpace::kGrayGamma22);
    const std::vector<uint16_t> table = r.BuildTable();
    EXPECT_EQ(table[kMidGrey], 127); // (0.18 x 2^0.25)^(1/2.2) x 255 = 126.5
    EXPECT_EQ(table[55109], 255);    // 2^-0.25 of the range and up is white
    EXPECT_LT(table[50000], 255);
}

} // namespace
