// The G1/G2 and red/blue correction for bodies without colour filters, on negatives read from
// synthetic DNGs (for their colour pattern and white level of 16383) whose stage-1 plane is set
// by hand.
#include "engine/vrel_negative.h"

#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

using engine::VrelNegative;
using fixtures::Mosaic;

std::vector<uint16_t> PlaneOf(const dng::Image& img)
{
    std::vector<uint16_t> v;
    for (int32_t y = 0; y < img.Height(); ++y)
        v.insert(v.end(), img.ConstView16Of(0).Row(y), img.ConstView16Of(0).Row(y) + img.Width());
    return v;
}

// The shared fixture's negative, with the correction call and the error texts shown.
struct Negative : enginetest::Negative {
    bool Run(bool g1g2, bool rb, bool automatic, int32_t manual = 50)
    {
        return neg->CorrectG1G2(g1g2, rb, automatic, manual, &progress);
    }
    // Whether the pass left the photosites as its working image.
    bool MonoMatches() { return neg->fMonoImage && PlaneOf(*neg->fMonoImage) == PlaneOf(Stage1()); }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto& r : ui.boxes.shown) {
            EXPECT_EQ(r.caption, "Error");
            EXPECT_EQ(r.icon, platform::MessageIcon::kError);
            texts.push_back(r.text);
        }
        return texts;
    }
};

// A negative of the given pattern whose stage-1 plane is w x h, f(negative, column, row).
std::unique_ptr<Negative> WithPlane(Mosaic mosaic, int32_t w, int32_t h,
                                    const std::function<uint16_t(const VrelNegative&, int32_t, int32_t)>& f)
{
    fixtures::DngSpec synth;
    synth.mosaic = mosaic;
    synth.width = 16;
    synth.height = 16;
    synth.valueBits = 14;
    synth.whiteLevel = 16383;
    auto n = enginetest::FromSynthetic<Negative>(synth);
    const VrelNegative& neg = *n->neg;
    n->neg->SetStage1(enginetest::MakeImage(w, h, [&](int32_t x, int32_t y) { return f(neg, x, y); }));
    return n;
}

// 12 x 12, G1 at 1000 (36 sites, sum 36000), red 700, blue 500. The 12 G2 sites the equaliser
// may reach stand at 1010 (pulled to 1000 from value 200 on: 200 / 16383 x 1010 > 10) except
// one at 1100 (pulled from 1500 on); the 24 G2 sites at the border stand at `border`.
constexpr int32_t kSide = 12;
constexpr int32_t kLateX = 6, kLateY = 5; // the G2 site at 1100 (RGGB)

std::unique_ptr<Negative> SearchField(uint16_t border)
{
    return WithPlane(Mosaic::kRGGB, kSide, kSide, [border](const VrelNegative& neg, int32_t x, int32_t y) -> uint16_t {
        if (neg.IsG1Pixel(x, y))
            return 1000;
        if (neg.IsG2Pixel(x, y)) {
            if (y < 3 || y > kSide - 2 || x < 3 || x > kSide - 3)
                return border;
            return x == kLateX && y == kLateY ? 1100 : 1010;
        }
        return neg.IsRedPixel(x, y) ? 700 : 500;
    });
}

TEST(CorrectG1G2, AutomaticSearchStopsAtTheFirstValueThatLiftsG1AboveG2)
{
    // Border G2 at 994: G2 sum 11 x 1010 + 1100 + 24 x 994 = 36066 until value 200, then
    // 11 x 1000 + 1100 + 23856 = 35956, the first sum below G1's 36000.
    auto n = SearchField(994);
    auto expected = PlaneOf(n->Stage1());
    std::replace(expected.begin(), expected.end(), uint16_t(1010), uint16_t(1000)); // only the 11 sites at 1010
    n->neg->fCorrectionRatios[4] = 0.5;
    EXPECT_TRUE(n->Run(true, false, true));
    EXPECT_DOUBLE_EQ(n->neg->fCorrectionRatios[4], 36000.0 / 35956.0);
    EXPECT_EQ(PlaneOf(n->Stage1()), expected);
    EXPECT_TRUE(n->MonoMatches());
    EXPECT_TRUE(n->ui.boxes.shown.empty());
    EXPECT_EQ(n->ui.status.history.front(), "Correcting G1G2 [auto setting, please wait]...");
    EXPECT_EQ(n->ui.g1g2Manual, "200"); // the value found is shown in the manual edit

    // Border G2 at 1010: even fully equalised the G2 sum (36240) stays above 36000, so the
    // photosites hold the result for 2450, which reaches the site at 1100 too.
    n = SearchField(1010);
    EXPECT_TRUE(n->Run(true, false, true));
    EXPECT_DOUBLE_EQ(n->neg->fCorrectionRatios[4], 36000.0 / 36240.0);
    EXPECT_EQ(n->Out(kLateX, kLateY), 1000);
    EXPECT_EQ(n->Out(4, 3), 1000);
    EXPECT_EQ(n->Out(0, 1), 1010);
    EXPECT_TRUE(n->ui.boxes.shown.empty());
    EXPECT_EQ(n->ui.g1g2Manual, "1000"); // nothing found: the edit keeps its text
}

TEST(CorrectG1G2, AutomaticSearchWithoutG2LightFailsWithOneMessage)
{
    // A ratio left over from an earlier photo (above or below 1) neither passes for a value found
    // nor changes; the (unchanged) photosites still become the working image.
    for (double earlier : {2.0, 0.5}) {
        auto n = WithPlane(Mosaic::kGRBG, 10, 10, [](const VrelNegative& neg, int32_t x, int32_t y) -> uint16_t {
            return neg.IsG2Pixel(x, y) ? 0 : uint16_t(900 + x + 7 * y);
        });
        n->neg->fCorrectionRatios[4] = earlier;
        const auto original = PlaneOf(n->Stage1());
        EXPECT_FALSE(n->Run(true, false, true));
        EXPECT_EQ(n->Messages(), std::vector<std::string>{"Error in ratio calculation: G2 == 0"});
        EXPECT_EQ(n->neg->fCorrectionRatios[4], earlier);
        EXPECT_EQ(PlaneOf(n->Stage1()), original);
        EXPECT_TRUE(n->MonoMatches());
    }
}

TEST(CorrectG1G2, ManualValueEqualisesWithThatValueOnly)
{
    // 150 is below what the 1010 sites need; 200 pulls them, 1500 the 1100 site as well.
    const std::vector<std::pair<int32_t, std::pair<uint16_t, uint16_t>>> cases = {
        {150, {1010, 1100}}, {200, {1000, 1100}}, {1500, {1000, 1000}}};
    for (const auto& [value, expected] : cases) {
        auto n = SearchField(994);
        n->neg->fCorrectionRatios[4] = 0.75;
        EXPECT_TRUE(n->Run(true, false, false, value));
        EXPECT_EQ(n->Out(4, 3), expected.first) << value;
        EXPECT_EQ(n->Out(kLateX, kLateY), expected.second) << value;
        EXPECT_EQ(n->Out(0, 1), 994) << value;
        EXPECT_EQ(n->neg->fCorrectionRatios[4], 0.75) << "no estimate in manual mode";
        EXPECT_EQ(n->ui.status.history,
                  (std::vector<std::string>{"Correcting G1G2...", "Writing values...", "Processing result..."}));
        EXPECT_TRUE(n->MonoMatches());
    }
}

TEST(CorrectG1G2, RedAndBlueAreScaledToTheG1SumInsideTheBorder)
{
    // Per 2 x 2 block G1 20000, red 500, blue 250; one red photosite at 40000 lifts the red sum.
    // Factors 600000 / 54500 (about 11) and 80: the bright red site would pass 65535.
    constexpr int32_t w = 10, h = 12;
    auto n = WithPlane(Mosaic::kBGGR, w, h, [](const VrelNegative& neg, int32_t x, int32_t y) -> uint16_t {
        if (neg.IsGreenPixel(x, y))
            return neg.IsG1Pixel(x, y) ? 20000 : 20003;
        if (neg.IsRedPixel(x, y))
            return x == 5 && y == 5 ? 40000 : 500;
        return 250;
    });
    const VrelNegative& neg = *n->neg;
    ASSERT_TRUE(neg.IsRedPixel(5, 5));
    const double g1Sum = 30 * 20000.0, redSum = 29 * 500.0 + 40000.0, blueSum = 30 * 250.0;
    const auto original = PlaneOf(n->Stage1());
    EXPECT_TRUE(n->Run(false, true, true));
    EXPECT_EQ(neg.fCorrectionRatios, (std::array<double, 5>{redSum / g1Sum, g1Sum / redSum, blueSum / g1Sum, 80.0,
                                                            neg.fCorrectionRatios[4]}));
    const auto redScaled = static_cast<uint16_t>(500.0 * (g1Sum / redSum));
    // The greens and the border are left alone; 40000 x 11 saturates.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const bool inside = x > 0 && y > 0 && x < w - 1 && y < h - 1 && !neg.IsGreenPixel(x, y);
            const uint16_t red = x == 5 && y == 5 ? 65535 : redScaled;
            EXPECT_EQ(n->Out(x, y), !inside ? original[size_t(y * w + x)] : neg.IsRedPixel(x, y) ? red : 20000)
                << x << "," << y;
        }
    EXPECT_TRUE(n->ui.boxes.shown.empty());
    EXPECT_EQ(n->ui.status.history,
              (std::vector<std::string>{"Correcting RB...", "Writing values...", "Processing result..."}));
    EXPECT_TRUE(n->MonoMatches());
}

TEST(CorrectG1G2, ColourWithoutLightIsLeftUnscaled)
{
    // Blue photosites all 0: only the blue message, red still scaled (250 -> 1000). G1 all 0:
    // both messages and neither colour scaled. Ratios of an earlier photo stay, the factors
    // return to 1.
    auto n = WithPlane(Mosaic::kRGGB, 8, 8, [](const VrelNegative& neg, int32_t x, int32_t y) -> uint16_t {
        return neg.IsBluePixel(x, y) ? 0 : neg.IsRedPixel(x, y) ? 250 : 1000;
    });
    n->neg->fCorrectionRatios = {0.1, 3.0, 0.2, 5.0, 1.0};
    EXPECT_TRUE(n->Run(false, true, false));
    EXPECT_EQ(n->Messages(), std::vector<std::string>{"Error in ratio calculation: blue == 0"});
    EXPECT_EQ(n->Out(2, 2), 1000);
    EXPECT_EQ(n->neg->fCorrectionRatios[2], 0.2);
    EXPECT_EQ(n->neg->fCorrectionRatios[3], 1.0);

    n = WithPlane(Mosaic::kGBRG, 8, 8, [](const VrelNegative& neg, int32_t x, int32_t y) -> uint16_t {
        return neg.IsG1Pixel(x, y) ? 0 : neg.IsRedPixel(x, y) ? 250 : 1000;
    });
    n->neg->fCorrectionRatios = {0.1, 3.0, 0.2, 5.0, 1.0};
    const auto original = PlaneOf(n->Stage1());
    EXPECT_TRUE(n->Run(false, true, false));
    EXPECT_EQ(n->Messages(), (std::vector<std::string>{"Error in ratio calculation: red == 0",
                                                       "Error in ratio calculation: blue == 0"}));
    EXPECT_EQ((std::array<double, 5>{0.1, 1.0, 0.2, 1.0, 1.0}), n->neg->fCorrectionRatios);
    EXPECT_EQ(PlaneOf(n->Stage1()), original);
}

TEST(CorrectG1G2, CorrectionsOffOrTinyImagesCopyThePhotositesWithoutReadingOutside)
{
    // Both corrections off, or no photosite inside the border: the plane is copied unchanged
    // over an earlier working image. A 3 x 4 plane has one such photosite.
    const struct {
        int32_t w, h;
        bool on, unchanged;
    } cases[] = {{9, 7, false, true}, {1, 2, true, true}, {2, 3, true, true}, {3, 4, true, false}};
    for (const auto& c : cases) {
        auto n = WithPlane(Mosaic::kRGGB, c.w, c.h, [](const VrelNegative&, int32_t x, int32_t y) {
            return uint16_t(100 + x * 7001 + y * 13);
        });
        const auto original = PlaneOf(n->Stage1());
        n->neg->fMonoImage = enginetest::MakeImage(2, 2, [](int32_t, int32_t) { return uint16_t(1); });
        EXPECT_TRUE(n->Run(c.on, c.on, !c.on, 10000));
        EXPECT_TRUE(!c.unchanged || PlaneOf(n->Stage1()) == original) << c.w << " x " << c.h;
        EXPECT_TRUE(n->MonoMatches()) << c.w << " x " << c.h;
    }
}

TEST(CorrectG1G2, CancelWhileWritingBackStopsWithoutWorkingImage)
{
    // Red scaled by 2 inside the border; Cancel arrives with the first pump of the write-back,
    // which comes before row 11: rows 0 to 10 are written, the rest keep their values.
    auto n = WithPlane(Mosaic::kRGGB, 8, 40, [](const VrelNegative& neg, int32_t x, int32_t y) -> uint16_t {
        return neg.IsRedPixel(x, y) ? 500 : 1000;
    });
    n->neg->fMonoImage = n->Stage1().Clone();
    n->ui.onPump = [&n] {
        if (n->ui.status.text == "Processing result...")
            n->neg->fCancelRequested = true;
    };
    EXPECT_FALSE(n->Run(false, true, false));
    EXPECT_EQ(n->neg->fMonoImage, nullptr);
    EXPECT_EQ(n->Out(2, 10), 1000);
    EXPECT_EQ(n->Out(2, 12), 500);
    EXPECT_EQ(n->Out(2, 38), 500);
}

} // namespace
