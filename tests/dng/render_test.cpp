// The one-channel renderer: tone curves (default and camera profile), black-point ramp, final
// encodings, and areas rendered through them.
#include "dng/acr3_tone_curve.h"
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/render.h"
#include "dng/stream.h"
#include "dng/tone_curve.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/read_dng.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <string>

namespace {

// Opens up the protected area renderer, as the program's renderer does.
class TestRender : public dng::Render {
public:
    using Render::Render;
    using Render::RenderArea;
};

constexpr uint16_t kMidGrey = 11796; // round(0.18 x 65535)

// The default curve's samples as the reference data gives them, when it is beside the samples.
std::vector<float> ReferenceAcrSamples()
{
    std::ifstream in(fixtures::SamplesDir() + "/../data/acr3-default-tone-curve.txt");
    std::vector<float> samples;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            samples.push_back(std::stof(line));
    return samples;
}

TEST(RenderCurves, DefaultToneCurveIsTheReadersTable)
{
    EXPECT_EQ(dng::AcrToneCurve(0.0), 0.0);
    EXPECT_EQ(dng::AcrToneCurve(1.0), 1.0);
    // Clipped first; a NaN is black.
    EXPECT_EQ(dng::AcrToneCurve(-0.5), 0.0);
    EXPECT_EQ(dng::AcrToneCurve(1.5), 1.0);
    EXPECT_EQ(dng::AcrToneCurve(std::numeric_limits<double>::quiet_NaN()), 0.0);
    // Mid grey is lifted to 0.388; the samples are joined linearly in single precision.
    EXPECT_NEAR(dng::AcrToneCurve(0.18), 0.38809, 1e-5);
    EXPECT_EQ(dng::AcrToneCurve(0.5), double(dng::kAcr3ToneCurve[512]));
    const float quarter = dng::kAcr3ToneCurve[512] * 0.75f + dng::kAcr3ToneCurve[513] * 0.25f;
    EXPECT_EQ(dng::AcrToneCurve(0.5 + 0.25 / 1024), double(quarter));
    // The last stretch, from sample 1023 to 1024, is reached from both sides.
    EXPECT_NEAR(dng::AcrToneCurve(1.0 - 0.5 / 1024), (dng::kAcr3ToneCurve[1023] + 1.0) / 2, 1e-7);
    double prev = 0.0;
    for (int i = 1; i <= 65535; ++i) {
        const double y = dng::AcrToneCurve(i / 65535.0);
        ASSERT_GE(y, prev) << i;
        prev = y;
    }

    const std::vector<float> reference = ReferenceAcrSamples();
    if (reference.empty())
        GTEST_SKIP() << "no tone-curve data beside the samples: the table was not compared with it";
    ASSERT_EQ(reference.size(), dng::kAcr3ToneSamples);
    for (size_t i = 0; i < reference.size(); ++i) {
        ASSERT_EQ(dng::kAcr3ToneCurve[i], reference[i]) << i;
        EXPECT_EQ(dng::AcrToneCurve(double(i) / 1024.0), double(reference[i])) << i;
    }
}

// Value and slope of f agree on both sides of x, looked at from e away.
template <typename F>
void ExpectSmoothJoint(F f, double x, const char* what, double e = 1e-9)
{
    const double left = (f(x - e) - f(x - 2 * e)) / e, right = (f(x + 2 * e) - f(x + e)) / e;
    EXPECT_NEAR(f(x - e), f(x + e), 3 * e * std::max(1.0, std::abs(right))) << what;
    EXPECT_NEAR(left, right, 1e-3 * std::max(1.0, std::abs(right))) << what;
}

TEST(RenderCurves, ExposureRampAtItsJoints)
{
    // Exposure 0, shadows 5: white 1, black 0.005, slope 1 / 0.995, knee radius 0.0025.
    const double b = dng::ShadowsBlack(5.0);
    EXPECT_DOUBLE_EQ(b, 0.005);
    EXPECT_EQ(dng::ExposureRamp(b - 0.0025, 1.0, b), 0.0);
    EXPECT_EQ(dng::ExposureRamp(0.0, 1.0, b), 0.0);
    EXPECT_NEAR(dng::ExposureRamp(b, 1.0, b), 0.0025 / 4 / 0.995, 1e-15); // the knee's middle
    EXPECT_NEAR(dng::ExposureRamp(0.5, 1.0, b), 0.495 / 0.995, 1e-15);
    EXPECT_DOUBLE_EQ(dng::ExposureRamp(1.0, 1.0, b), 1.0);
    EXPECT_EQ(dng::ExposureRamp(1.7, 1.0, b), 1.0);
    const auto ramp = [&](double x) { return dng::ExposureRamp(x, 1.0, b); };
    ExpectSmoothJoint(ramp, b - 0.0025, "foot of the knee");
    ExpectSmoothJoint(ramp, b + 0.0025, "top of the knee");

    // Exposure +1: white at 0.5, which is reached with the black point where it was.
    EXPECT_DOUBLE_EQ(dng::ExposureRamp(0.5, 0.5, b), 1.0);
    EXPECT_NEAR(dng::ExposureRamp(0.25, 0.5, b), 0.245 / 0.495, 1e-15);
    // Exposure +8: white 1/256 lies under the black point, which keeps to 0.99 of white; the knee
    // then narrows to 1/16 of the ramp's width.
    const double white = 1.0 / 256, black = 0.99 * white, radius = (white - black) / 16;
    const auto steep = [&](double x) { return dng::ExposureRamp(x, white, b); };
    EXPECT_EQ(steep(black - radius), 0.0);
    EXPECT_GT(steep(black), 0.0);
    EXPECT_EQ(steep(white), 1.0);
    EXPECT_LT(steep(white - radius), 1.0);
    ExpectSmoothJoint(steep, black + radius, "top of a narrow knee", 1e-12);
    // Shadows 0: no knee, the identity on [0, 1].
    EXPECT_EQ(dng::ExposureRamp(0.001, 1.0, 0.0), 0.001);
    EXPECT_EQ(dng::ExposureRamp(-0.1, 1.0, 0.0), 0.0);
}

TEST(RenderCurves, ExposureToneDarkensBelowAndKeepsWhite)
{
    for (double ev : {0.0, 0.5, 3.0})
        for (double y : {0.0, 0.1, 0.25, 0.7, 1.0})
            EXPECT_EQ(dng::ExposureTone(y, ev), y) << ev;
    for (double ev : {-0.25, -0.5, -1.0, -3.0}) {
        SCOPED_TRACE(ev);
        const double s = std::exp2(ev);
        EXPECT_DOUBLE_EQ(dng::ExposureTone(0.1, ev), 0.1 * s);
        EXPECT_DOUBLE_EQ(dng::ExposureTone(0.25, ev), 0.25 * s);
        EXPECT_NEAR(dng::ExposureTone(1.0, ev), 1.0, 1e-15);
        ExpectSmoothJoint([ev](double y) { return dng::ExposureTone(y, ev); }, 0.25, "0.25");
        double prev = 0.0;
        for (int i = 1; i <= 1000; ++i) {
            const double y = dng::ExposureTone(i / 1000.0, ev);
            ASSERT_GT(y, prev) << i;
            prev = y;
        }
    }
    // Half a stop down: 0.5 -> (a 0.5 + b) 0.5 + c with a = 16/9 (1 - 2^-0.5).
    const double s = std::exp2(-0.5), a = 16.0 / 9.0 * (1.0 - s), b = s - a / 2;
    EXPECT_NEAR(dng::ExposureTone(0.5, -0.5), (a * 0.5 + b) * 0.5 + 1.0 - a - b, 1e-15);
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
    auto neg = fixtures::ParsedNegative(host, s, fixtures::ParsedInfo(host, s));

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
    const dng::Info info = fixtures::ParsedInfo(host, stream);
    EXPECT_TRUE(info.IsValidDNG()) << info.ValidityProblem();
    return fixtures::ParsedNegative(host, stream, info);
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

    // Any value but 0 is output-referred: no default tone and no shadows, but a valid profile
    // curve still applies.
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
            EXPECT_EQ(r.UsesProfileToneCurve(), curve);
            EXPECT_EQ(r.Shadows(), 0.0);
            r.SetFinalSpace(dng::FinalSpace::kGrayGamma22);
            const std::vector<uint16_t> table = r.BuildTable();
            if (curve) {
                EXPECT_EQ(table[32768], 136); // the curve's 0.25, without the shadows' 0.005
                EXPECT_EQ(table[150], 9);     // the curve's 0.25 b + (b^3 - b) / 8 at b = 0.0046: 0.00057
            } else {
                EXPECT_EQ(table[150], 16);       // (150 / 65535)^(1/2.2) x 255 = 16.1
                EXPECT_EQ(table[kMidGrey], 117); // mid-grey as it is
                EXPECT_EQ(table[32768], 186);
            }
        }
    }
    fixtures::DngSpec zero;
    zero.colorimetricReference = 0;
    EXPECT_TRUE(TestRender(host, *NegativeOf(host, zero)).SceneReferred());
}

TEST(Render, MidGreyThroughTheWholeChain)
{
    // Scene-referred, baseline exposure -0.25 (as the D200 writes it), sRGB: ramp 0.17587, tone
    // 0.14789, curve 0.31575, sRGB 152.4.
    dng::Host host;
    fixtures::DngSpec spec;
    spec.baselineExposure = dng::SRational(-1, 4);
    auto neg = NegativeOf(host, spec);
    TestRender r(host, *neg);
    EXPECT_EQ(r.BuildTable()[kMidGrey], 152);
    // At baseline exposure 0 only the ramp and the curve act: curve 0.37921, sRGB 165.6.
    auto plain = host.Make_dng_negative();
    EXPECT_EQ(TestRender(host, *plain).BuildTable()[kMidGrey], 166);
}

TEST(Render, ARealProfileCurveIsTaken)
{
    // A phone's embedded profile: 257 points.
    dng::FileStream s(fixtures::SamplePath("real/iphone-proraw-stripped.dng"));
    dng::Host host;
    const dng::Info info = fixtures::ParsedInfo(host, s);
    ASSERT_EQ(info.Shared().profileToneCurve.size(), 514u);
    EXPECT_EQ(info.Shared().colorimetricReference, 0u);
}

} // namespace
