// The single-channel pass (red or blue plane at full size), on negatives read from synthetic DNGs
// whose stage-1 plane is set by hand, against a plain transcription of its rules, and once over
// two colour sample photos.
#include "engine/row_table.h"
#include "engine/vrel_negative.h"

#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using engine::VrelNegative;
using fixtures::Mosaic;

constexpr Mosaic kLayouts[] = {Mosaic::kRGGB, Mosaic::kBGGR, Mosaic::kGRBG, Mosaic::kGBRG};

using enginetest::FromFile;
using enginetest::FromSynthetic;
using enginetest::MakeImage;
using enginetest::Negative;
using enginetest::WithoutEqualisation;

// A negative of the given pattern whose stage-1 plane is f(column, row).
std::unique_ptr<Negative> WithPlane(Mosaic mosaic, int32_t w, int32_t h,
                                    const std::function<uint16_t(int32_t, int32_t)>& f)
{
    fixtures::DngSpec file;
    file.mosaic = mosaic;
    file.width = 16;
    file.height = 16;
    file.whiteLevel = 16383;
    auto n = WithoutEqualisation(FromSynthetic(file));
    n->neg->SetStage1(MakeImage(w, h, f));
    return n;
}

// A negative whose greens, reds and blues each stand at one level.
std::unique_ptr<Negative> Leveled(Mosaic mosaic, int32_t w, int32_t h, uint16_t green, uint16_t red, uint16_t blue)
{
    auto n = WithPlane(mosaic, 1, 1, [](int32_t, int32_t) { return uint16_t(0); });
    const VrelNegative& neg = *n->neg;
    n->neg->SetStage1(MakeImage(w, h, [&](int32_t x, int32_t y) {
        return neg.IsGreenPixel(x, y) ? green : neg.IsRedPixel(x, y) ? red : blue;
    }));
    return n;
}

void Set(Negative& n, int32_t x, int32_t y, uint16_t v)
{
    n.Stage1().View16Of(0).Row(y)[x] = v;
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
// and the same-colour sample X of each direction.
struct Offset {
    int dy, dx;
};
constexpr Offset kVertical[8][2] = {{{-1, 0}, {-1, 0}}, {{1, 0}, {1, 0}},  {{1, 0}, {1, 0}},   {{-1, 0}, {-1, 0}},
                                    {{-1, 0}, {-1, 2}}, {{1, 0}, {1, 2}},  {{-1, 0}, {-1, -2}}, {{1, 0}, {1, -2}}};
constexpr Offset kHorizontal[8][2] = {{{0, -1}, {0, -1}}, {{0, 1}, {0, 1}},  {{0, 1}, {0, 1}},   {{0, -1}, {0, -1}},
                                      {{0, 1}, {-2, 1}},  {{0, 1}, {2, 1}},  {{0, -1}, {-2, -1}}, {{0, -1}, {2, -1}}};
constexpr Offset kFar[8] = {{-2, 0}, {0, 2}, {2, 0}, {0, -2}, {-2, 2}, {2, 2}, {-2, -2}, {2, -2}};
constexpr Offset kNear[4] = {{-1, 0}, {0, 1}, {1, 0}, {0, -1}};

std::vector<int> Selected(const double* g, int count)
{
    const double gmin = *std::min_element(g, g + count);
    const double gmax = *std::max_element(g, g + count);
    double t = 1.5 * gmin + 0.5 * (gmax - gmin);
    std::vector<int> chosen;
    for (int attempt = 0; attempt <= 50 && chosen.empty(); ++attempt, t += 10)
        for (int i = 0; i < count; ++i)
            if (g[i] < t && g[i] != 0)
                chosen.push_back(i);
    if (chosen.empty())
        for (int i = 0; i < count; ++i)
            chosen.push_back(i);
    return chosen;
}

// One sweep over `in` (w x h, row-major) into a new plane.
std::vector<uint16_t> Sweep(const VrelNegative& neg, const std::vector<uint16_t>& in, int32_t w, int32_t h, bool blue,
                            int sweep)
{
    auto edge = [](int32_t i, int32_t n) { return i < 0 ? i + 2 : i >= n ? i - 2 : i; };
    auto chosenColour = [&](int32_t x, int32_t y) { return blue ? neg.IsBluePixel(x, y) : neg.IsRedPixel(x, y); };
    auto thirdColour = [&](int32_t x, int32_t y) { return blue ? neg.IsRedPixel(x, y) : neg.IsBluePixel(x, y); };
    std::vector<uint16_t> out(in.size());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            auto P = [&](int dy, int dx) -> double {
                return in[size_t(edge(y + dy, h)) * size_t(w) + size_t(edge(x + dx, w))];
            };
            const double pc = P(0, 0);
            const bool fill = sweep == 1 ? neg.IsGreenPixel(x, y) : thirdColour(x, y);
            if (pc == 0 || !fill) {
                out[size_t(y) * size_t(w) + size_t(x)] = uint16_t(pc);
                continue;
            }
            double mn = 16383.0, mx = 0.0;
            if (x >= 2 && x <= w - 3 && y >= 2 && y <= h - 3)
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx)
                        if (chosenColour(x + dx, y + dy)) {
                            mn = std::min(mn, P(dy, dx));
                            mx = std::max(mx, P(dy, dx));
                        }
            const int count = sweep == 1 ? 8 : 4;
            double g[8];
            for (int i = 0; i < count; ++i) {
                g[i] = 0;
                for (const Term& t : kGradient[i])
                    g[i] += t.weight * std::fabs(P(t.ay, t.ax) - P(t.by, t.bx));
            }
            double v;
            if (sweep == 1) {
                double sv = 0, sh = 0, sc = 0;
                for (int i : Selected(g, count)) {
                    sv += 0.5 * (P(kVertical[i][0].dy, kVertical[i][0].dx) + P(kVertical[i][1].dy, kVertical[i][1].dx));
                    sh += 0.5 * (P(kHorizontal[i][0].dy, kHorizontal[i][0].dx) +
                                 P(kHorizontal[i][1].dy, kHorizontal[i][1].dx));
                    sc += (pc + P(kFar[i].dy, kFar[i].dx)) * 0.5;
                }
                double q = 1.0;
                const bool g1 = neg.IsG1Pixel(x, y);
                const bool g2 = neg.IsG2Pixel(x, y);
                if (!blue) {
                    if (g1 && sh > 0)
                        q = sc / sh;
                    if (g2 && sv > 0)
                        q = sc / sv;
                } else {
                    if (g1 && sv > 0)
                        q = sc / sv;
                    if (g2 && sh > 0)
                        q = sc / sh;
                }
                v = q > 0 ? pc / q : pc;
            } else {
                double st = 0, sc = 0;
                for (int i : Selected(g, count)) {
                    st += P(kNear[i].dy, kNear[i].dx);
                    sc += (pc + P(kFar[i].dy, kFar[i].dx)) * 0.5;
                }
                v = pc * (sc > 0 ? st / sc : 1.0);
            }
            if (v < mn && mn < 16383)
                v = mn;
            if (v > mx && mx > 0)
                v = mx;
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

TEST(RawChannelPass, FlatFieldsTakeTheChosenLevelEverywhere)
{
    // Every gradient is 0, so all directions are taken: greens become green x red / green, then
    // blues blue x red / blue, edges included (they read reflected samples of the same colour).
    for (Mosaic mosaic : kLayouts)
        for (bool blue : {false, true}) {
            auto n = Leveled(mosaic, 11, 9, 3000, 1200, 700);
            n->neg->InterpolateRawChannel(blue, &n->progress);
            const uint16_t want = blue ? 700 : 1200;
            const auto out = PlaneOf(n->Stage1());
            EXPECT_TRUE(std::all_of(out.begin(), out.end(), [&](uint16_t v) { return v == want; }))
                << "layout " << int(mosaic) << ", " << ChannelName(blue);
        }
}

TEST(RawChannelPass, ZerosStayZeroAndEmptySumsKeepTheOwnValue)
{
    // Zero photosites of every colour stay 0 although greens and blues would be filled.
    auto n = Leveled(Mosaic::kRGGB, 12, 12, 3000, 1200, 700);
    Set(*n, 5, 4, 0); // G1
    Set(*n, 4, 5, 0); // G2
    Set(*n, 5, 5, 0); // blue
    Set(*n, 6, 6, 0); // red
    n->neg->InterpolateRawChannel(false, &n->progress);
    for (auto [x, y] : {std::pair{5, 4}, std::pair{4, 5}, std::pair{5, 5}, std::pair{6, 6}})
        EXPECT_EQ(n->Out(x, y), 0) << x << "," << y;

    // Without any red there is no ratio: the greens keep their values, and so do the blues, whose
    // green neighbours are still their own level.
    auto noRed = Leveled(Mosaic::kGRBG, 12, 10, 3000, 0, 700);
    const auto before = PlaneOf(noRed->Stage1());
    noRed->neg->InterpolateRawChannel(false, nullptr);
    const auto after = PlaneOf(noRed->Stage1());
    for (size_t i = 0; i < after.size(); ++i) {
        const int32_t x = int32_t(i % 12), y = int32_t(i / 12);
        if (noRed->neg->IsGreenPixel(x, y)) {
            ASSERT_EQ(after[i], before[i]) << "green " << x << "," << y;
        }
    }
}

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
        auto n = Leveled(Mosaic::kRGGB, 12, 12, c.green, c.red, 300);
        Set(*n, c.x, c.y, c.site);
        n->neg->InterpolateRawChannel(false, &n->progress);
        EXPECT_EQ(n->Out(c.x, c.y), c.expected) << c.why;
    }
}

TEST(RawChannelPass, MatchesTheRulesOnRandomPlanes)
{
    // Wide values (the edges overflow 16 bits), 14-bit values and tiny ones (many zero gradients,
    // so the threshold raises and the all-directions fallback are met often), every layout, both
    // channels, sizes from 2 x 2 up; the edges read the same-parity rows and columns.
    std::mt19937 rng(4711);
    const uint32_t ranges[] = {65536, 16384, 4};
    const int32_t sizes[][2] = {{2, 2}, {3, 5}, {6, 7}, {17, 12}, {33, 40}};
    for (Mosaic mosaic : kLayouts)
        for (bool blue : {false, true})
            for (uint32_t range : ranges)
                for (const auto& size : sizes) {
                    const int32_t w = size[0], h = size[1];
                    auto n = WithPlane(mosaic, w, h, [&](int32_t, int32_t) { return uint16_t(rng() % range); });
                    const auto input = PlaneOf(n->Stage1());
                    n->neg->InterpolateRawChannel(blue, &n->progress);
                    ASSERT_EQ(PlaneOf(n->Stage1()), Reference(*n->neg, input, w, h, blue))
                        << "layout " << int(mosaic) << ", " << ChannelName(blue) << ", range " << range << ", " << w
                        << " x " << h;
                }
}

TEST(RawChannelPass, OneSampleWideOrHighPlanesStayInside)
{
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{7, 1}})
        for (bool blue : {false, true}) {
            auto n = WithPlane(Mosaic::kBGGR, w, h, [](int32_t x, int32_t y) { return uint16_t(100 + 10 * x + y); });
            n->neg->InterpolateRawChannel(blue, &n->progress);
            ASSERT_NE(n->neg->fMonoImage, nullptr);
        }
}

// --- Run: equalisation, progress, cancel, noise and dead pixels ---

TEST(RawChannelPass, EqualisesG2ForTheBodiesThatNeedIt)
{
    // For the M9 the first sweep reads the equalised greens; the result is the rules applied to
    // the equalised plane.
    std::mt19937 rng(7);
    std::vector<uint16_t> plane(40 * 30);
    for (auto& v : plane)
        v = uint16_t(2000 + rng() % 40);
    const auto fill = [&](int32_t x, int32_t y) { return plane[size_t(y) * 40 + size_t(x)]; };

    auto m9 = WithPlane(Mosaic::kRGGB, 40, 30, fill);
    m9->neg->fCameraCode = 0;
    engine::RowTable rows(40, 30);
    m9->neg->CopyBufferToRows(rows, m9->Stage1());
    m9->neg->EqualizeG2Pixels(rows, m9->Stage1(), 1850, true);
    std::vector<uint16_t> equalised;
    for (int32_t y = 0; y < 30; ++y)
        equalised.insert(equalised.end(), rows.Row(y), rows.Row(y) + 40);
    ASSERT_NE(equalised, plane) << "the plane must give the equalisation something to do";
    m9->neg->InterpolateRawChannel(true, &m9->progress);
    EXPECT_EQ(PlaneOf(m9->Stage1()), Reference(*m9->neg, equalised, 40, 30, true));
}

TEST(RawChannelPass, ReportsProgressPumpsEveryRowAndKeepsAClone)
{
    auto n = Leveled(Mosaic::kGBRG, 12, 30, 2000, 1000, 500);
    n->neg->SetStage2(MakeImage(2, 2, [](int32_t, int32_t) { return uint16_t(1); }));
    n->neg->SetStage3(MakeImage(2, 2, [](int32_t, int32_t) { return uint16_t(1); }));
    n->neg->InterpolateRawChannel(true, &n->progress);
    EXPECT_EQ(n->ui.status.history, std::vector<std::string>{"Processing blue result..."});
    EXPECT_EQ(n->ui.bar.minimum, 0);
    EXPECT_EQ(n->ui.bar.maximum, 52);
    EXPECT_EQ(n->ui.bar.position, 60) << "one step per row of each sweep";
    EXPECT_EQ(n->ui.pumps, 61) << "once before, then every row of both sweeps";
    EXPECT_EQ(n->neg->Stage2Image(), nullptr);
    EXPECT_EQ(n->neg->Stage3Image(), nullptr);
    ASSERT_NE(n->neg->fMonoImage, nullptr);
    EXPECT_NE(n->neg->fMonoImage.get(), n->neg->Stage1Image());
    EXPECT_EQ(PlaneOf(*n->neg->fMonoImage), PlaneOf(n->Stage1()));
}

TEST(RawChannelPass, CancelInTheSecondSweepKeepsTheFirstAndThePreviousResult)
{
    // 12 rows: pump 1 before the sweeps, 2 .. 13 in sweep 1, 14 on row 0 of sweep 2. Cancelling
    // on pump 17 stops before row 3 of sweep 2.
    auto n = Leveled(Mosaic::kRGGB, 10, 12, 2000, 1000, 500);
    auto previous = std::make_unique<dng::Image>(3, 3, 1, dng::PixelType::kUInt16);
    const dng::Image* kept = previous.get();
    n->neg->fMonoImage = std::move(previous);
    n->ui.onPump = [&] {
        if (n->ui.pumps == 17)
            n->neg->fCancelRequested = true;
    };
    n->neg->InterpolateRawChannel(false, &n->progress);
    EXPECT_EQ(n->neg->fMonoImage.get(), kept);
    for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 10; ++x) {
            const bool blueSite = n->neg->IsBluePixel(x, y);
            const uint16_t want = blueSite && y >= 3 ? 500 : 1000;
            ASSERT_EQ(n->Out(x, y), want) << x << "," << y;
        }
}

TEST(RawChannelPass, NoiseAndDeadPixelStepsRunInOrder)
{
    // The pass must equal: green smoothing, smoothing of the third colour, dead-pixel repair,
    // the two sweeps, smoothing of the result. The chosen colour is never smoothed beforehand and
    // the other colour's result strength is not used. Smoothing and median repair do not commute.
    std::mt19937 rng(99);
    std::vector<uint16_t> plane(64 * 48);
    for (auto& v : plane)
        v = uint16_t(2000 + rng() % 600);
    for (auto p : {std::pair{10, 10}, std::pair{21, 13}, std::pair{30, 30}, std::pair{31, 30}})
        plane[size_t(p.second) * 64 + size_t(p.first)] = 16000;
    const auto fill = [&](int32_t x, int32_t y) { return plane[size_t(y) * 64 + size_t(x)]; };
    const std::vector<engine::PixelPoint> dead = {{10, 10}, {21, 13}, {30, 30}, {31, 30}, {500, 2}, {-1, 3}, {4, -2}};

    for (bool blue : {false, true}) {
        SCOPED_TRACE(ChannelName(blue));
        const auto configure = [&](VrelNegative& neg, bool steps) {
            neg.fPreNoiseGreen = steps ? 40 : 0;
            neg.fPreNoiseRed = steps ? 60 : 0;
            neg.fPreNoiseBlue = steps ? 50 : 0;
            neg.fNoiseRed = steps ? 30 : 0;
            neg.fNoiseBlue = steps ? 35 : 0;
            neg.fNoiseDetail = 3;
            neg.fNoiseBalance = 2;
            neg.fFixDeadPixels = steps;
            neg.fDeadPixels = dead;
        };

        auto whole = WithPlane(Mosaic::kGRBG, 64, 48, fill);
        configure(*whole->neg, true);
        whole->neg->InterpolateRawChannel(blue, &whole->progress);
        const std::vector<std::string> texts =
            blue ? std::vector<std::string>{"Applying noise reduction: green channel...",
                                            "Applying noise reduction: red channel...", "Processing blue result...",
                                            "Applying noise reduction: blue result..."}
                 : std::vector<std::string>{"Applying noise reduction: green channel...",
                                            "Applying noise reduction: blue channel...", "Processing red result...",
                                            "Applying noise reduction: red result..."};
        EXPECT_EQ(whole->ui.status.history, texts);

        const auto byHand = [&](bool repairFirst) {
            auto n = WithPlane(Mosaic::kGRBG, 64, 48, fill);
            VrelNegative& neg = *n->neg;
            configure(neg, false);
            if (repairFirst)
                neg.RepairRegisteredDeadPixels();
            neg.WaveletDenoise(n->Stage1(), 40, 3, 2, 1, nullptr);
            neg.WaveletDenoise(n->Stage1(), blue ? 60 : 50, 3, 2, blue ? 2 : 3, nullptr);
            if (!repairFirst)
                neg.RepairRegisteredDeadPixels();
            neg.InterpolateRawChannel(blue, nullptr);
            neg.WaveletDenoise(n->Stage1(), blue ? 35 : 30, 3, 2, 0, nullptr);
            return PlaneOf(n->Stage1());
        };
        EXPECT_EQ(PlaneOf(whole->Stage1()), byHand(false));
        EXPECT_NE(PlaneOf(whole->Stage1()), byHand(true));
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
        auto n = WithoutEqualisation(FromFile(fixtures::SamplePath(s.file)));
        VrelNegative& neg = *n->neg;
        neg.fCameraCode = s.cameraCode;
        const auto before = PlaneOf(n->Stage1());
        neg.InterpolateRawChannel(s.blue, &n->progress);
        ASSERT_NE(neg.fMonoImage, nullptr);
        const auto after = PlaneOf(n->Stage1());
        const int32_t w = n->Stage1().Width();
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i) {
            const int32_t x = int32_t(i % size_t(w)), y = int32_t(i / size_t(w));
            changed += before[i] != after[i];
            const bool chosen = s.blue ? neg.IsBluePixel(x, y) : neg.IsRedPixel(x, y);
            if (chosen || before[i] == 0) {
                ASSERT_EQ(before[i], after[i]) << "chosen colour or zero at " << x << "," << y;
            }
        }
        EXPECT_GT(changed, after.size() / 2) << "greens and the third colour are rescaled";
        EXPECT_EQ(PlaneOf(*neg.fMonoImage), after);
    }
}

} // namespace
