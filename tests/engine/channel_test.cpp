// The single-channel pass (red or blue plane at full size), on negatives read from synthetic DNGs
// whose stage-1 plane is set by hand, against a plain transcription of its rules, and once over
// two colour sample photos.
#include "engine/row_table.h"
#include "engine/vrel_negative.h"

#include "fixtures/samples.h"
#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using engine::VrelNegative;
using enginetest::MakeImage;
using enginetest::Negative;
using enginetest::WithoutEqualisation;
using fixtures::Mosaic;

// A negative of the given pattern whose stage-1 plane is f(column, row).
std::unique_ptr<Negative> WithPlane(Mosaic mosaic, int32_t w, int32_t h,
                                    const std::function<uint16_t(int32_t, int32_t)>& f)
{
    fixtures::DngSpec file;
    file.mosaic = mosaic;
    file.width = 16;
    file.height = 16;
    file.whiteLevel = 16383;
    auto n = WithoutEqualisation(enginetest::FromSynthetic(file));
    n->neg->SetStage1(MakeImage(w, h, f));
    return n;
}

// An RGGB negative whose greens, reds and blues each stand at one level.
std::unique_ptr<Negative> Leveled(int32_t w, int32_t h, uint16_t green, uint16_t red, uint16_t blue)
{
    return WithPlane(Mosaic::kRGGB, w, h, [=](int32_t x, int32_t y) { return x % 2 != y % 2 ? green : x % 2 ? blue : red; });
}

std::vector<uint16_t> PlaneOf(const dng::Image& img)
{
    std::vector<uint16_t> v;
    for (int32_t y = 0; y < img.Height(); ++y)
        v.insert(v.end(), img.ConstView16Of(0).Row(y), img.ConstView16Of(0).Row(y) + img.Width());
    return v;
}

// --- The rules, one photosite at a time in real64, as the check for any plane ---

struct Term {
    int ay, ax, by, bx;
    double weight;
};
// Gradients of the eight directions N, E, S, W, NE, SE, NW, SW (weight 0 pads the diagonals).
constexpr Term kGradient[8][6] = {
    {{-1, 0, 1, 0, 1}, {-2, 0, 0, 0, 1}, {-1, -1, 1, -1, .5}, {-1, 1, 1, 1, .5}, {-2, -1, 0, -1, .5}, {-2, 1, 0, 1, .5}},
    {{0, 1, 0, -1, 1}, {0, 2, 0, 0, 1}, {-1, 1, -1, -1, .5}, {1, 1, 1, -1, .5}, {-1, 2, -1, 0, .5}, {1, 2, 1, 0, .5}},
    {{1, 0, -1, 0, 1}, {2, 0, 0, 0, 1}, {1, 1, -1, 1, .5}, {1, -1, -1, -1, .5}, {2, 1, 0, 1, .5}, {2, -1, 0, -1, .5}},
    {{0, -1, 0, 1, 1}, {0, -2, 0, 0, 1}, {1, -1, 1, 1, .5}, {-1, -1, -1, 1, .5}, {1, -2, 1, 0, .5}, {-1, -2, -1, 0, .5}},
    {{-1, 1, 1, -1, 1}, {-2, 2, 0, 0, 1}, {-2, 1, 0, -1, 1}, {-1, 2, 1, 0, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
    {{1, 1, -1, -1, 1}, {2, 2, 0, 0, 1}, {1, 2, -1, 0, 1}, {2, 1, 0, -1, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
    {{-1, -1, 1, 1, 1}, {-2, -2, 0, 0, 1}, {-1, -2, 1, 0, 1}, {-2, -1, 0, 1, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
    {{1, -1, -1, 1, 1}, {2, -2, 0, 0, 1}, {2, -1, 0, 1, 1}, {1, -2, -1, 0, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},
};
// Vertical and horizontal sums as the mean of two samples (equal for the straight directions),
// the same-colour sample of each direction, and the third-colour neighbours of the second sweep.
struct Offset {
    int dy, dx;
};
constexpr Offset kVertical[8][2] = {{{-1, 0}, {-1, 0}}, {{1, 0}, {1, 0}},  {{1, 0}, {1, 0}},   {{-1, 0}, {-1, 0}},
                                    {{-1, 0}, {-1, 2}}, {{1, 0}, {1, 2}},  {{-1, 0}, {-1, -2}}, {{1, 0}, {1, -2}}};
constexpr Offset kHorizontal[8][2] = {{{0, -1}, {0, -1}}, {{0, 1}, {0, 1}},  {{0, 1}, {0, 1}},   {{0, -1}, {0, -1}},
                                      {{0, 1}, {-2, 1}},  {{0, 1}, {2, 1}},  {{0, -1}, {-2, -1}}, {{0, -1}, {2, -1}}};
constexpr Offset kFar[8] = {{-2, 0}, {0, 2}, {2, 0}, {0, -2}, {-2, 2}, {2, 2}, {-2, -2}, {2, -2}};
constexpr Offset kNear[4] = {{-1, 0}, {0, 1}, {1, 0}, {0, -1}};

// One sweep over `in` (w x h, row-major) into a new plane: sweep 1 fills the greens, sweep 2 the
// third colour.
std::vector<uint16_t> Sweep(const VrelNegative& neg, const std::vector<uint16_t>& in, int32_t w, int32_t h, bool blue,
                            int sweep)
{
    auto edge = [](int32_t i, int32_t n) { return i < 0 ? i + 2 : i >= n ? i - 2 : i; };
    std::vector<uint16_t> out(in);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            auto P = [&](int dy, int dx) -> double {
                return in[size_t(edge(y + dy, h)) * size_t(w) + size_t(edge(x + dx, w))];
            };
            auto P2 = [&](const Offset (&o)[2]) { return 0.5 * (P(o[0].dy, o[0].dx) + P(o[1].dy, o[1].dx)); };
            const double pc = P(0, 0);
            if (pc == 0 || !(sweep == 1 ? neg.IsGreenPixel(x, y) : blue ? neg.IsRedPixel(x, y) : neg.IsBluePixel(x, y)))
                continue;
            double mn = 16383.0, mx = 0.0;
            if (x >= 2 && x <= w - 3 && y >= 2 && y <= h - 3)
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx)
                        if (blue ? neg.IsBluePixel(x + dx, y + dy) : neg.IsRedPixel(x + dx, y + dy)) {
                            mn = std::min(mn, P(dy, dx));
                            mx = std::max(mx, P(dy, dx));
                        }
            const int count = sweep == 1 ? 8 : 4;
            double g[8] = {};
            for (int i = 0; i < count; ++i)
                for (const Term& t : kGradient[i])
                    g[i] += t.weight * std::fabs(P(t.ay, t.ax) - P(t.by, t.bx));
            const double gmin = *std::min_element(g, g + count), gmax = *std::max_element(g, g + count);
            double t = 1.5 * gmin + 0.5 * (gmax - gmin);
            std::vector<int> chosen;
            for (int attempt = 0; attempt <= 50 && chosen.empty(); ++attempt, t += 10)
                for (int i = 0; i < count; ++i)
                    if (g[i] < t && g[i] != 0)
                        chosen.push_back(i);
            if (chosen.empty())
                for (int i = 0; i < count; ++i)
                    chosen.push_back(i);
            double sv = 0, sh = 0, sc = 0, st = 0;
            for (int i : chosen) {
                sv += P2(kVertical[i]);
                sh += P2(kHorizontal[i]);
                sc += (pc + P(kFar[i].dy, kFar[i].dx)) * 0.5;
                st += i < 4 ? P(kNear[i].dy, kNear[i].dx) : 0;
            }
            // Greens for red: G1 against the horizontal sum, G2 the vertical; for blue the other way.
            const double s = neg.IsG1Pixel(x, y) != blue ? sh : sv;
            double v = sweep == 1 ? pc / (s > 0 ? sc / s : 1.0) : pc * (sc > 0 ? st / sc : 1.0);
            if (mn < 16383)
                v = std::max(v, mn);
            if (mx > 0)
                v = std::min(v, mx);
            out[size_t(y) * size_t(w) + size_t(x)] = uint16_t(std::min(v + 0.5, 65535.0));
        }
    return out;
}

std::vector<uint16_t> Reference(const VrelNegative& neg, const std::vector<uint16_t>& in, int32_t w, int32_t h,
                                bool blue)
{
    return Sweep(neg, Sweep(neg, in, w, h, blue, 1), w, h, blue, 2);
}

const char* ChannelName(bool blue)
{
    return blue ? "blue" : "red";
}

// --- Known answers ---

TEST(RawChannelPass, ClampsToTheChosenRangeInsideAndTo16BitsAtTheEdge)
{
    // One G1 photosite (RGGB: even row, odd column) set apart from flat levels; every direction
    // gives the same ratio inside, so the selection does not matter there.
    const struct {
        uint16_t green, red, site;
        int32_t x, y;
        uint16_t expected;
        const char* why;
    } cases[] = {
        {1000, 500, 2000, 5, 6, 500, "2000 x 500 / 1500 = 666.7 lowered to the largest red"},
        {1000, 500, 100, 5, 6, 500, "100 x 500 / 550 = 90.9 raised to the smallest red"},
        {1000, 20000, 100, 5, 6, 3636, "100 x 20000 / 550 = 3636.4, not raised to a red of 16383 or more"},
        {1, 65535, 60000, 5, 0, 65535, "no range at the edge: above 65535 is saturated"},
    };
    for (const auto& c : cases) {
        auto n = Leveled(12, 12, c.green, c.red, 300);
        n->Stage1().View16Of(0).Row(c.y)[c.x] = c.site;
        n->neg->InterpolateRawChannel(false, &n->progress);
        EXPECT_EQ(n->Out(c.x, c.y), c.expected) << c.why;
    }
}

TEST(RawChannelPass, MatchesTheRulesOnRandomPlanes)
{
    // Wide values (the edges overflow 16 bits), 14-bit values and tiny ones (many zero photosites,
    // empty sums and zero gradients, so the threshold raises and the all-directions fallback are
    // met often), every layout, both channels, sizes from 2 x 2 up; the edges read the same-parity
    // rows and columns. Planes one photosite wide or high have none: they must only stay inside.
    std::mt19937 rng(4711);
    const int32_t sizes[][2] = {{1, 1}, {1, 6}, {7, 1}, {2, 2}, {3, 5}, {6, 7}, {17, 12}, {33, 40}};
    for (Mosaic mosaic : {Mosaic::kRGGB, Mosaic::kBGGR, Mosaic::kGRBG, Mosaic::kGBRG})
        for (bool blue : {false, true})
            for (uint32_t range : {65536u, 16384u, 4u})
                for (const auto& [w, h] : sizes) {
                    auto n = WithPlane(mosaic, w, h, [&](int32_t, int32_t) { return uint16_t(rng() % range); });
                    const auto input = PlaneOf(n->Stage1());
                    n->neg->InterpolateRawChannel(blue, &n->progress);
                    ASSERT_NE(n->neg->fMonoImage, nullptr);
                    if (w == 1 || h == 1)
                        continue;
                    ASSERT_EQ(PlaneOf(n->Stage1()), Reference(*n->neg, input, w, h, blue))
                        << "layout " << int(mosaic) << ", " << ChannelName(blue) << ", range " << range << ", " << w
                        << " x " << h;
                }
}

// --- Run: equalisation, cancel, noise and dead pixels ---

TEST(RawChannelPass, EqualisesG2ForTheBodiesThatNeedItAndDropsTheLaterStages)
{
    // For the M9 the first sweep reads the equalised greens; the result is the rules applied to
    // the equalised plane.
    std::mt19937 rng(7);
    auto m9 = WithPlane(Mosaic::kRGGB, 40, 30, [&](int32_t, int32_t) { return uint16_t(2000 + rng() % 40); });
    VrelNegative& neg = *m9->neg;
    const auto plane = PlaneOf(m9->Stage1());
    neg.fCameraCode = 0;
    engine::RowTable rows(40, 30);
    neg.CopyBufferToRows(rows, m9->Stage1());
    neg.EqualizeG2Pixels(rows, m9->Stage1(), 1850, true);
    std::vector<uint16_t> equalised;
    for (int32_t y = 0; y < 30; ++y)
        equalised.insert(equalised.end(), rows.Row(y), rows.Row(y) + 40);
    ASSERT_NE(equalised, plane) << "the plane must give the equalisation something to do";
    neg.SetStage2(MakeImage(2, 2, [](int32_t, int32_t) { return uint16_t(1); }));
    neg.SetStage3(MakeImage(2, 2, [](int32_t, int32_t) { return uint16_t(1); }));
    neg.InterpolateRawChannel(true, &m9->progress);
    EXPECT_EQ(PlaneOf(m9->Stage1()), Reference(neg, equalised, 40, 30, true));
    EXPECT_EQ(neg.Stage2Image(), nullptr);
    EXPECT_EQ(neg.Stage3Image(), nullptr);
    ASSERT_NE(neg.fMonoImage, nullptr);
    EXPECT_NE(neg.fMonoImage.get(), neg.Stage1Image());
    EXPECT_EQ(PlaneOf(*neg.fMonoImage), PlaneOf(m9->Stage1()));
}

TEST(RawChannelPass, CancelInTheSecondSweepKeepsTheFirstAndThePreviousResult)
{
    // 12 rows: pump 1 before the sweeps, 2 .. 13 in sweep 1, 14 on row 0 of sweep 2. Cancelling
    // on pump 17 stops before row 3 of sweep 2.
    auto n = Leveled(10, 12, 2000, 1000, 500);
    n->neg->fMonoImage = std::make_unique<dng::Image>(3, 3, 1, dng::PixelType::kUInt16);
    const dng::Image* kept = n->neg->fMonoImage.get();
    n->ui.onPump = [&] {
        if (n->ui.pumps == 17)
            n->neg->fCancelRequested = true;
    };
    n->neg->InterpolateRawChannel(false, &n->progress);
    EXPECT_EQ(n->neg->fMonoImage.get(), kept);
    for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 10; ++x)
            ASSERT_EQ(n->Out(x, y), n->neg->IsBluePixel(x, y) && y >= 3 ? 500 : 1000) << x << "," << y;
}

TEST(RawChannelPass, NoiseAndDeadPixelStepsRunInOrder)
{
    // The pass must equal: green smoothing, smoothing of the third colour, dead-pixel repair,
    // the two sweeps, smoothing of the result. The chosen colour is never smoothed beforehand and
    // the other colour's result strength is not used. Points outside the image are skipped.
    const auto make = [](bool steps) {
        auto n = WithPlane(Mosaic::kGRBG, 64, 48, [](int32_t x, int32_t y) {
            const bool dead = (x == 10 && y == 10) || (x == 21 && y == 13) || (y == 30 && (x == 30 || x == 31));
            return uint16_t(dead ? 16000 : 2000 + (x * 7919 + y * 6007 + x * y * 31) % 600);
        });
        VrelNegative& neg = *n->neg;
        neg.fPreNoiseGreen = steps ? 40 : 0;
        neg.fPreNoiseRed = steps ? 60 : 0;
        neg.fPreNoiseBlue = steps ? 50 : 0;
        neg.fNoiseRed = steps ? 30 : 0;
        neg.fNoiseBlue = steps ? 35 : 0;
        neg.fNoiseDetail = 3;
        neg.fNoiseBalance = 2;
        neg.fFixDeadPixels = steps;
        neg.fDeadPixels = {{10, 10}, {21, 13}, {30, 30}, {31, 30}, {500, 2}, {-1, 3}, {4, -2}};
        return n;
    };
    for (bool blue : {false, true}) {
        SCOPED_TRACE(ChannelName(blue));
        auto whole = make(true);
        whole->neg->InterpolateRawChannel(blue, &whole->progress);
        const std::string chosen = ChannelName(blue), third = ChannelName(!blue);
        EXPECT_EQ(whole->ui.status.history,
                  (std::vector<std::string>{"Applying noise reduction: green channel...",
                                            "Applying noise reduction: " + third + " channel...",
                                            "Processing " + chosen + " result...",
                                            "Applying noise reduction: " + chosen + " result..."}));
        auto n = make(false);
        VrelNegative& neg = *n->neg;
        neg.WaveletDenoise(n->Stage1(), 40, 3, 2, 1, nullptr);
        neg.WaveletDenoise(n->Stage1(), blue ? 60 : 50, 3, 2, blue ? 2 : 3, nullptr);
        neg.RepairRegisteredDeadPixels();
        neg.InterpolateRawChannel(blue, nullptr);
        neg.WaveletDenoise(n->Stage1(), blue ? 35 : 30, 3, 2, 0, nullptr);
        EXPECT_EQ(PlaneOf(whole->Stage1()), PlaneOf(n->Stage1()));
        EXPECT_EQ(PlaneOf(*whole->neg->fMonoImage), PlaneOf(whole->Stage1()));
    }
}

// --- Sample photos ---

TEST(RawChannelPass, RunsOverColourSamples)
{
    const struct {
        const char* file;
        uint16_t cameraCode;
        bool blue;
    } samples[] = {{"d200-grbg.dng", 20, false}, {"sony-a7s-bggr.dng", 32, true}};
    for (const auto& s : samples) {
        SCOPED_TRACE(s.file);
        auto n = WithoutEqualisation(enginetest::FromFile(fixtures::SamplePath(s.file)));
        VrelNegative& neg = *n->neg;
        neg.fCameraCode = s.cameraCode;
        const auto before = PlaneOf(n->Stage1());
        neg.InterpolateRawChannel(s.blue, &n->progress);
        ASSERT_NE(neg.fMonoImage, nullptr);
        const auto after = PlaneOf(n->Stage1());
        const size_t w = size_t(n->Stage1().Width());
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i) {
            const int32_t x = int32_t(i % w), y = int32_t(i / w);
            changed += before[i] != after[i];
            const bool chosen = s.blue ? neg.IsBluePixel(x, y) : neg.IsRedPixel(x, y);
            ASSERT_TRUE(!(chosen || before[i] == 0) || before[i] == after[i]) << "chosen colour or zero at " << x << "," << y;
        }
        EXPECT_GT(changed, after.size() / 2) << "greens and the third colour are rescaled";
        EXPECT_EQ(PlaneOf(*neg.fMonoImage), after);
    }
}

} // namespace
