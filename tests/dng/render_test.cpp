// The one-channel renderer: tone curves (default and camera profile), black-point ramp, final
// encodings, and areas rendered through them.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/render.h"
#include "dng/stream.h"
#include "dng/tone_curve.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

// A fixture's negative as the reader makes it (metadata only).
std::unique_ptr<dng::Negative> NegativeOf(dng::Host& host, const fixtures::DngSpec& spec)
{
    const std::vector<uint8_t> bytes = fixtures::MakeDng(spec).bytes;
    const dng::MemoryStream stream(bytes);
    dng::Info info;
    info.Parse(host, stream);
    info.PostParse(host);
    EXPECT_TRUE(info.IsValidDNG()) << info.ValidityProblem();
    auto neg = host.Make_dng_negative();
    neg->Parse(host, stream, info);
    neg->PostParse(host, stream, info);
    return neg;
}

// (0, 0), (0.5, 0.25), (1, 1): the natural spline through these has M = 3 at the middle point,
// so y = 0.25 b + (b^3 - b) / 8 with b = 2x on the first half.
const std::vector<float> kDarkerCurve = {0.0f, 0.0f, 0.5f, 0.25f, 1.0f, 1.0f};

TEST(ToneCurve, OnlyCurvesThatKeepTheRulesAreTaken)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        std::vector<double> values;
        bool valid;
    } cases[] = {
        {"two points", {0, 0, 1, 1}, true},
        {"three points", {0, 0, 0.5, 0.25, 1, 1}, true},
        {"flat part and a jump", {0, 0, 0.2, 0.0, 0.3, 1.0, 1, 1}, true},
        {"nothing", {}, false},
        {"one point", {0, 0}, false},
        {"odd count", {0, 0, 0.5, 1, 1}, false},
        {"x goes back", {0, 0, 0.6, 0.5, 0.4, 0.7, 1, 1}, false},
        {"x repeated", {0, 0, 0.5, 0.2, 0.5, 0.3, 1, 1}, false},
        {"y above 1", {0, 0, 0.5, 1.2, 1, 1}, false},
        {"y below 0", {0, 0, 0.5, -0.1, 1, 1}, false},
        {"x above 1", {0, 0, 1.5, 0.5, 1, 1}, false},
        {"not a number", {0, 0, nan, 0.5, 1, 1}, false},
        {"infinite", {0, 0, 0.5, inf, 1, 1}, false},
        {"starts above 0", {0, 0.1, 1, 1}, false},
        {"starts right of 0", {0.1, 0, 1, 1}, false},
        {"ends below 1", {0, 0, 1, 0.9}, false},
        {"ends left of 1", {0, 0, 0.9, 1}, false},
    };
    for (const auto& c : cases) {
        const auto curve = dng::ToneCurve::FromValues(c.values);
        EXPECT_EQ(curve.has_value(), c.valid) << c.what;
        if (curve) {
            EXPECT_EQ(curve->PointCount(), c.values.size() / 2) << c.what;
        }
    }
}

TEST(ToneCurve, NaturalCubicSplineThroughThePoints)
{
    const std::vector<double> darker(kDarkerCurve.begin(), kDarkerCurve.end());
    const auto c = dng::ToneCurve::FromValues(darker);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Evaluate(0.0), 0.0);
    EXPECT_EQ(c->Evaluate(0.5), 0.25);
    EXPECT_EQ(c->Evaluate(1.0), 1.0);
    EXPECT_DOUBLE_EQ(c->Evaluate(0.25), 0.078125);  // not 0.125 (straight) nor 0.0625 (x^2)
    EXPECT_DOUBLE_EQ(c->Evaluate(0.75), 0.578125);
    EXPECT_EQ(c->Evaluate(-0.5), 0.0); // inputs are clipped
    EXPECT_EQ(c->Evaluate(2.0), 1.0);

    const auto identity = dng::ToneCurve::FromValues(std::vector<double>{0, 0, 1, 1});
    for (double x : {0.001, 0.18, 0.5, 0.9})
        EXPECT_DOUBLE_EQ(identity->Evaluate(x), x);

    // Uneven spacing: the curve passes every point, and value, slope and curvature are continuous
    // at the inner points while the curvature is 0 at both ends.
    const std::vector<double> uneven = {0, 0, 0.05, 0.02, 0.3, 0.35, 0.45, 0.6, 0.8, 0.9, 1, 1};
    const auto u = dng::ToneCurve::FromValues(uneven);
    ASSERT_TRUE(u);
    const double e = 1e-5;
    const auto f = [&](double x) { return u->Evaluate(x); };
    for (size_t i = 0; i < uneven.size(); i += 2) {
        const double x = uneven[i];
        EXPECT_EQ(f(x), uneven[i + 1]) << x;
        if (x == 0.0 || x == 1.0)
            continue;
        EXPECT_NEAR((f(x + e) - f(x)) / e, (f(x) - f(x - e)) / e, 1e-3) << x;
        EXPECT_NEAR((f(x + 2 * e) - 2 * f(x + e) + f(x)) / (e * e), (f(x) - 2 * f(x - e) + f(x - 2 * e)) / (e * e), 0.1)
            << x;
    }
    EXPECT_NEAR((f(2 * e) - 2 * f(e) + f(0)) / (e * e), 0.0, 0.1);
    EXPECT_NEAR((f(1) - 2 * f(1 - e) + f(1 - 2 * e)) / (e * e), 0.0, 0.1);

    // A spline may swing past its points; its values stay in [0, 1].
    const auto wild = dng::ToneCurve::FromValues(std::vector<double>{0, 0, 0.01, 1, 0.02, 0, 0.03, 1, 1, 1});
    ASSERT_TRUE(wild);
    for (int i = 0; i <= 1000; ++i) {
        const double y = wild->Evaluate(i / 1000.0);
        ASSERT_TRUE(y >= 0.0 && y <= 1.0) << i;
    }
}

TEST(Render, ProfileToneCurveReplacesTheDefaultCurve)
{
    dng::Host host;
    fixtures::DngSpec spec;
    spec.profileToneCurve = kDarkerCurve;
    auto withCurve = NegativeOf(host, spec);
    ASSERT_TRUE(withCurve->ProfileToneCurve());
    auto plain = host.Make_dng_negative();
    TestRender r(host, *withCurve), reference(host, *plain);
    EXPECT_TRUE(r.UsesProfileToneCurve());
    EXPECT_EQ(r.Shadows(), 5.0);

    // 32931 and 16630 are 0.5 and 0.25 once the shadows ramp has taken its 0.005.
    dng::Image src(2, 1, 1, dng::PixelType::kUInt16);
    src.Row16(0)[0] = 32931;
    src.Row16(0)[1] = 16630;
    for (TestRender* each : {&r, &reference})
        each->SetFinalSpace(dng::FinalSpace::kGrayGamma22);
    auto out = r.RenderArea(src, src.Bounds(), 1);
    EXPECT_EQ(out->Row8(0)[0], 136); // 0.25^(1/2.2) x 255 = 135.8
    EXPECT_EQ(out->Row8(0)[1], 80);  // 0.078125^(1/2.2) x 255 = 80.0
    auto usual = reference.RenderArea(src, src.Bounds(), 1);
    EXPECT_GT(usual->Row8(0)[0], 180); // the default curve brightens the mid-tones instead

    // The curve's byte order is the file's.
    spec.order = dng::ByteOrder::kBig;
    auto bigEndian = NegativeOf(host, spec);
    TestRender big(host, *bigEndian);
    big.SetFinalSpace(dng::FinalSpace::kGrayGamma22);
    EXPECT_EQ(big.BuildTable(), r.BuildTable());
}

TEST(Render, InvalidProfileCurvesRenderAsTheDefault)
{
    dng::Host host;
    auto plain = host.Make_dng_negative();
    const std::vector<uint16_t> usual = TestRender(host, *plain).BuildTable();
    const struct {
        const char* what;
        std::vector<float> curve;
    } cases[] = {
        {"one point", {0.0f, 0.0f}},
        {"odd count", {0.0f, 0.0f, 0.5f, 0.25f, 1.0f}},
        {"x goes back", {0.0f, 0.0f, 0.6f, 0.25f, 0.4f, 0.3f, 1.0f, 1.0f}},
        {"y outside 0..1", {0.0f, 0.0f, 0.5f, 1.5f, 1.0f, 1.0f}},
        {"x outside 0..1", {0.0f, 0.0f, -0.5f, 0.25f, 1.0f, 1.0f}},
        {"not a number", {0.0f, 0.0f, 0.5f, std::numeric_limits<float>::quiet_NaN(), 1.0f, 1.0f}},
        {"does not end at (1, 1)", {0.0f, 0.0f, 0.5f, 0.25f, 1.0f, 0.8f}},
    };
    for (const auto& c : cases) {
        fixtures::DngSpec spec;
        spec.profileToneCurve = c.curve;
        auto neg = NegativeOf(host, spec);
        EXPECT_FALSE(neg->ProfileToneCurve()) << c.what;
        TestRender r(host, *neg);
        EXPECT_FALSE(r.UsesProfileToneCurve()) << c.what;
        EXPECT_EQ(r.BuildTable(), usual) << c.what;
    }
}

TEST(Render, OutputReferredNegativesKeepTheirToneAndShadows)
{
    dng::Host host;
    auto plain = host.Make_dng_negative();
    TestRender sceneReferred(host, *plain);
    sceneReferred.SetFinalSpace(dng::FinalSpace::kGrayGamma22);
    EXPECT_EQ(sceneReferred.BuildTable()[150], 0); // shadows 5 crushes 0.0023 to black

    // Any value but 0 is output-referred, whatever the profile's curve says.
    for (const uint16_t reference : {uint16_t(1), uint16_t(2), uint16_t(0xFFFF)}) {
        for (const bool curve : {false, true}) {
            SCOPED_TRACE(testing::Message() << "ColorimetricReference " << reference << (curve ? " with curve" : ""));
            fixtures::DngSpec spec;
            spec.colorimetricReference = reference;
            if (curve)
                spec.profileToneCurve = kDarkerCurve;
            auto neg = NegativeOf(host, spec);
            EXPECT_EQ(neg->ColorimetricReference(), reference);
            TestRender r(host, *neg);
            EXPECT_FALSE(r.SceneReferred());
            EXPECT_FALSE(r.UsesProfileToneCurve());
            EXPECT_EQ(r.Shadows(), 0.0);
            r.SetFinalSpace(dng::FinalSpace::kGrayGamma22);
            const std::vector<uint16_t> table = r.BuildTable();
            EXPECT_EQ(table[150], 16);     // (150 / 65535)^(1/2.2) x 255 = 16.1
            EXPECT_EQ(table[kMidGrey], 117); // mid-grey as it is
            EXPECT_EQ(table[32768], 186);  // not darkened to the curve's 136
        }
    }
    fixtures::DngSpec zero;
    zero.colorimetricReference = 0;
    EXPECT_TRUE(TestRender(host, *NegativeOf(host, zero)).SceneReferred());
}

TEST(Render, ARealProfileCurveIsTaken)
{
    // A phone's embedded profile: 257 points.
    dng::FileStream s(fixtures::SamplePath("real/iphone-proraw-stripped.dng"));
    dng::Host host;
    dng::Info info;
    info.Parse(host, s);
    info.PostParse(host);
    ASSERT_EQ(info.Shared().profileToneCurve.size(), 514u);
    EXPECT_EQ(info.Shared().colorimetricReference, 0u);
}

} // namespace
