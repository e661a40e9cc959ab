// The regular interpolation pass and its half-size variant, on negatives read from synthetic
// DNGs whose stage-1 plane is set by hand, and once over the colour sample photos.
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

using enginetest::FromFile;
using enginetest::FromSynthetic;
using enginetest::kNoEqualisation;
using enginetest::MakeImage;
using enginetest::Negative;
using enginetest::WithoutEqualisation;

// A negative of the given pattern and white level whose stage-1 plane is f(column, row).
std::unique_ptr<Negative> WithPlane(Mosaic mosaic, int32_t w, int32_t h,
                                    const std::function<uint16_t(int32_t, int32_t)>& f, uint32_t white = 16383)
{
    fixtures::DngSpec desc;
    desc.mosaic = mosaic;
    desc.width = 16;
    desc.height = 16;
    desc.whiteLevel = white;
    auto n = WithoutEqualisation(FromSynthetic(desc));
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

// The pass as its rules read, one photosite at a time in real64: the check for any plane.
// Gradient i is |A - B| summed over its six pairs (offsets dy, dx), the first two in full, the
// other four halved; its green estimate is the mean of G1 and G2, its own-colour partner is A of
// the first pair.
struct Pair {
    int ay, ax, by, bx;
};
constexpr Pair kGradient[8][6] = {
    {{-2, 0, 0, 0}, {-1, 0, 1, 0}, {-1, -1, 1, -1}, {-1, 1, 1, 1}, {-2, -1, 0, -1}, {-2, 1, 0, 1}},     // N
    {{0, 2, 0, 0}, {0, -1, 0, 1}, {-1, 1, -1, -1}, {1, 1, 1, -1}, {-1, 2, -1, 0}, {1, 2, 1, 0}},       // E
    {{2, 0, 0, 0}, {-1, 0, 1, 0}, {1, 1, -1, 1}, {1, -1, -1, -1}, {2, 1, 0, 1}, {2, -1, 0, -1}},       // S
    {{0, -2, 0, 0}, {0, -1, 0, 1}, {1, -1, 1, 1}, {-1, -1, -1, 1}, {1, -2, 1, 0}, {-1, -2, -1, 0}},    // W
    {{-2, 2, 0, 0}, {-1, 1, 1, -1}, {-2, 1, -1, 0}, {-1, 2, 0, 1}, {-1, 0, 0, -1}, {0, 1, 1, 0}},      // NE
    {{2, 2, 0, 0}, {-1, -1, 1, 1}, {2, 1, 1, 0}, {1, 2, 0, 1}, {-1, 0, 0, 1}, {0, -1, 1, 0}},          // SE
    {{-2, -2, 0, 0}, {-1, -1, 1, 1}, {-2, -1, -1, 0}, {-1, -2, 0, -1}, {-1, 0, 0, 1}, {0, -1, 1, 0}},  // NW
    {{2, -2, 0, 0}, {-1, 1, 1, -1}, {2, -1, 1, 0}, {1, -2, 0, -1}, {-1, 0, 0, -1}, {0, 1, 1, 0}},      // SW
};
constexpr Pair kGreen[8] = {{-1, 0, -1, 0}, {0, 1, 0, 1}, {1, 0, 1, 0}, {0, -1, 0, -1},
                            {-1, 0, 0, 1},  {1, 0, 0, 1}, {-1, 0, 0, -1}, {1, 0, 0, -1}};

std::vector<uint16_t> Reference(const VrelNegative& neg, const dng::Image& in)
{
    const int32_t w = in.Width();
    const int32_t h = in.Height();
    auto edge = [](int32_t i, int32_t n) { return i < 0 ? i + 2 : i >= n ? i - 2 : i; };
    std::vector<uint16_t> out;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            auto P = [&](int dy, int dx) -> double { return in.ConstView16Of(0).Row(edge(y + dy, h))[edge(x + dx, w)]; };
            const double pc = P(0, 0);
            if (neg.IsGreenPixel(x, y)) {
                out.push_back(uint16_t(pc));
                continue;
            }
            double mn = 16383.0, mx = 0.0;
            if (x >= 2 && x <= w - 3 && y >= 2 && y <= h - 3)
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx)
                        if (neg.IsGreenPixel(x + dx, y + dy)) {
                            mn = std::min(mn, P(dy, dx));
                            mx = std::max(mx, P(dy, dx));
                        }
            double g[8];
            for (int i = 0; i < 8; ++i) {
                g[i] = 0;
                for (int k = 0; k < 6; ++k) {
                    const Pair& t = kGradient[i][k];
                    g[i] += (k < 2 ? 1.0 : 0.5) * std::fabs(P(t.ay, t.ax) - P(t.by, t.bx));
                }
            }
            double gmin = g[0], gmax = g[0];
            for (int i = 1; i < 8; ++i) {
                if (g[i] < gmin || gmin == 0)
                    gmin = g[i];
                if (g[i] > gmax)
                    gmax = g[i];
            }
            double t = 1.5 * gmin + 0.5 * (gmax - gmin);
            std::vector<int> chosen;
            for (int attempt = 0; attempt <= 20 && chosen.empty(); ++attempt, t += 10)
                for (int i = 0; i < 8; ++i)
                    if (g[i] < t && g[i] != 0)
                        chosen.push_back(i);
            if (chosen.empty())
                chosen = {0, 1, 2, 3, 4, 5, 6, 7};
            double sg = 0, so = 0;
            for (int i : chosen) {
                sg += 0.5 * (P(kGreen[i].ay, kGreen[i].ax) + P(kGreen[i].by, kGreen[i].bx));
                so += 0.5 * (pc + P(kGradient[i][0].ay, kGradient[i][0].ax));
            }
            double v = pc * (so > 0 ? sg / so : 1.0);
            if (mn < 16383 && v < mn)
                v = mn;
            if (mx > 0 && v > mx)
                v = mx;
            out.push_back(uint16_t(std::min(v, 65535.0)));
        }
    return out;
}

std::vector<uint16_t> PlaneOf(const dng::Image& img)
{
    std::vector<uint16_t> v;
    for (int32_t y = 0; y < img.Height(); ++y)
        v.insert(v.end(), img.ConstView16Of(0).Row(y), img.ConstView16Of(0).Row(y) + img.Width());
    return v;
}

// --- Known answers ---

TEST(RegularPass, FlatFieldsComeToTheGreenLevel)
{
    // Equal levels: every gradient is 0, all eight directions are taken and Q = 1. Greens 2000
    // over reds 1000 and blues 500: every photosite becomes 2000, edges included.
    for (Mosaic mosaic : {Mosaic::kRGGB, Mosaic::kBGGR, Mosaic::kGRBG, Mosaic::kGBRG})
        for (uint16_t green : {1000, 2000}) {
            auto n = Leveled(mosaic, 13, 11, green, 1000, green == 1000 ? 1000 : 500);
            n->neg->InterpolateRegular(&n->progress);
            const auto out = PlaneOf(n->Stage1());
            EXPECT_TRUE(std::all_of(out.begin(), out.end(), [&](uint16_t v) { return v == green; }))
                << "layout " << int(mosaic) << ", green " << green;
        }
}

TEST(RegularPass, ZeroFirstGradientIsReplacedByTheNext)
{
    // Row 0 reads row 0 for row -2, so the N gradient of a red photosite there is 0. With greens
    // and blues flat each gradient is |red two steps away - Pc|: (0, 20, 3, 11, 20, 4, 11, 4).
    // gmin runs 0 -> 20 -> 3, gmax = 20, T = 13: S, W, SE, NW and SW are taken.
    auto n = Leveled(Mosaic::kRGGB, 16, 8, 1000, 500, 500);
    Set(*n, 8, 0, 520); // E (and NE through the edge)
    Set(*n, 6, 2, 503); // S
    Set(*n, 4, 0, 511); // W (and NW)
    Set(*n, 8, 2, 504); // SE
    Set(*n, 4, 2, 504); // SW
    n->neg->InterpolateRegular(&n->progress);
    // Sg = 5000, So = 501.5 + 505.5 + 502 + 505.5 + 502 = 2516.5; 500 x 5000 / 2516.5 = 993.44.
    // (Taking the true minimum 0 would give T = 10, only S, SE, SW, and 996.)
    EXPECT_EQ(n->Out(6, 0), 993);
}

TEST(RegularPass, ZeroLastGradientForcesThresholdRaisesAndTruncates)
{
    // A blue photosite (500) in the last column (E reads itself, so g[E] = 0) whose SW neighbour
    // of its colour equals it: gradients (gN, 0, gS, gW, gN, gS, gNW, 0). gmin ends at 0, so
    // T = gmax / 2 and the threshold must be raised.
    const struct {
        uint16_t north, south, west, northWest;
        uint16_t expected;
        const char* why;
    } cases[] = {
        // (50, 0, 30, 40, 50, 30, 40, 0): T = 25 admits nothing, T = 35 admits S and SE.
        // 500 x 2000 / 1030 = 970.87, written as 970 (the smallest non-zero gradient as gmin
        // would take all six and give 961).
        {550, 530, 540, 540, 970, "one raise, truncated"},
        // (400, 0, 395, 400, ...): T = 200; only the 20th raise (T = 400) admits S and SE.
        // 500 x 2000 / 1395 = 716.8.
        {900, 895, 900, 900, 716, "the 20th raise"},
        // All non-zero gradients 400: not even T + 200 = 400 admits one, so all eight are taken:
        // 500 x 8000 / 5200 = 769.2.
        {900, 900, 900, 900, 769, "beyond 20 raises"},
    };
    for (const auto& c : cases) {
        auto n = Leveled(Mosaic::kRGGB, 8, 10, 1000, 700, 500);
        Set(*n, 7, 3, c.north);     // N (and NE through the edge)
        Set(*n, 7, 7, c.south);     // S (and SE)
        Set(*n, 5, 5, c.west);      // W
        Set(*n, 5, 3, c.northWest); // NW
        n->neg->InterpolateRegular(&n->progress);
        EXPECT_EQ(n->Out(7, 5), c.expected) << c.why;
    }
}

TEST(RegularPass, ClampsToTheGreenRangeInsideAndTo16BitsAtTheEdge)
{
    // One red photosite set apart from flat levels; all eight directions are taken.
    const struct {
        uint16_t green, other, red;
        int32_t x, y;
        uint16_t expected;
        const char* why;
    } cases[] = {
        {1000, 100, 900, 6, 6, 1000, "900 x 8000 / 4000 = 1800 lowered to the largest green"},
        {1000, 100, 900, 4, 0, 1800, "the same at the edge, where there is no window range"},
        {1000, 2000, 200, 6, 6, 1000, "200 x 8000 / 8800 = 181.8 raised to the smallest green"},
        {20000, 40000, 4000, 6, 6, 3636, "not raised to a smallest green of 16383 or more"},
        {60000, 0, 60000, 0, 0, 65535, "corner: 60000 x 300000 / 150000 = 120000"},
    };
    for (const auto& c : cases) {
        auto n = Leveled(Mosaic::kRGGB, 12, 12, c.green, c.other, c.other);
        Set(*n, c.x, c.y, c.red);
        n->neg->InterpolateRegular(&n->progress);
        EXPECT_EQ(n->Out(c.x, c.y), c.expected) << c.why;
    }
}

TEST(RegularPass, MatchesTheRulesOnRandomPlanes)
{
    // Wide values, 14-bit values and tiny values (many zero gradients, so the gmin rule and the
    // threshold raises are met often), every layout, odd and even sizes down to 2 x 2; the edges
    // read the same-parity rows and columns (row -1 reads row 1, -2 reads 0, h reads h - 2).
    std::mt19937 rng(12345);
    const uint32_t ranges[] = {65536, 16384, 3};
    const int32_t sizes[][2] = {{2, 2}, {3, 5}, {6, 7}, {17, 12}, {40, 33}, {71, 8}};
    for (Mosaic mosaic : {Mosaic::kRGGB, Mosaic::kBGGR, Mosaic::kGRBG, Mosaic::kGBRG})
        for (uint32_t range : ranges)
            for (const auto& size : sizes) {
                auto n = WithPlane(mosaic, size[0], size[1], [&](int32_t, int32_t) { return uint16_t(rng() % range); });
                const auto input = n->Stage1().Clone();
                n->neg->InterpolateRegular(&n->progress);
                ASSERT_EQ(PlaneOf(n->Stage1()), Reference(*n->neg, *input))
                    << "layout " << int(mosaic) << ", range " << range << ", " << size[0] << " x " << size[1];
            }
}

TEST(RegularPass, OneSampleWideOrHighPlanesStayInside)
{
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{7, 1}}) {
        auto n = WithPlane(Mosaic::kRGGB, w, h, [](int32_t x, int32_t y) { return uint16_t(100 + 10 * x + y); });
        n->neg->InterpolateRegular(&n->progress);
        ASSERT_NE(n->neg->fMonoImage, nullptr);
    }
}

// --- Run: equalisation, sliders, progress, cancel, the other passes ---

TEST(RegularPass, GreensKeepTheirValuesOrTheirEqualisedValues)
{
    // A G2 photosite above its G1 neighbours (1000) is evened out for the M9 (1850), the M8
    // (3500) and the D200 (900) only; 60 above is beyond the D200's threshold
    // (900 / 16383 x 1060 = 58.2) but not the M9's.
    const struct {
        uint16_t code, g2, expected;
    } cases[] = {{0, 1005, 1000}, {1, 1005, 1000}, {20, 1005, 1000}, {21, 1005, 1005},
                 {17, 1005, 1005}, {20, 1060, 1060}, {0, 1060, 1000}};
    for (const auto& c : cases) {
        auto n = Leveled(Mosaic::kRGGB, 12, 12, 1000, 800, 600);
        Set(*n, 4, 5, c.g2); // G2 (odd row, even column)
        n->neg->fCameraCode = c.code;
        n->neg->InterpolateRegular(&n->progress);
        EXPECT_EQ(n->Out(4, 5), c.expected) << "camera code " << c.code << ", G2 " << c.g2;
        EXPECT_EQ(n->Out(5, 4), 1000) << "G1 unchanged";
    }
}

TEST(RegularPass, SetsSliderMaximaProgressAndTexts)
{
    auto n = WithPlane(Mosaic::kRGGB, 12, 30, [](int32_t, int32_t) { return uint16_t(500); }, 16383);
    n->neg->InterpolateRegular(&n->progress);
    EXPECT_EQ(n->ui.maskingMax, 16383);
    EXPECT_EQ(n->ui.localizationMax, 5461);
    EXPECT_EQ(n->ui.status.history, std::vector<std::string>{"Processing regular result..."});
    EXPECT_EQ(n->ui.bar.minimum, 0);
    EXPECT_EQ(n->ui.bar.maximum, 26);
    EXPECT_EQ(n->ui.bar.position, 0) << "reset after the rows";
    // Once before the rows, then on rows 10 and 21.
    EXPECT_EQ(n->ui.pumps, 3);
    ASSERT_NE(n->neg->fMonoImage, nullptr);
    EXPECT_EQ(PlaneOf(*n->neg->fMonoImage), PlaneOf(n->Stage1()));
    EXPECT_NE(n->neg->fMonoImage.get(), n->neg->Stage1Image());

    // A white level below 4095 counts as 4096.
    auto low = WithPlane(Mosaic::kRGGB, 8, 8, [](int32_t, int32_t) { return uint16_t(500); }, 1000);
    low->neg->InterpolateRegular(nullptr);
    EXPECT_EQ(low->ui.maskingMax, 4096);
    EXPECT_EQ(low->ui.localizationMax, 1365);
}

TEST(RegularPass, CancelStopsBetweenRowsWithoutAResult)
{
    auto n = Leveled(Mosaic::kRGGB, 12, 40, 2000, 1000, 500);
    n->neg->fMonoImage = std::make_unique<dng::Image>(2, 2, 1, dng::PixelType::kUInt16);
    int pumps = 0;
    n->ui.onPump = [&] {
        if (++pumps == 2) // the first pump of the rows, on row 10
            n->neg->fCancelRequested = true;
    };
    n->neg->InterpolateRegular(&n->progress);
    EXPECT_EQ(n->neg->fMonoImage, nullptr);
    EXPECT_EQ(n->Out(1, 9), 2000) << "rows before the cancel are written";
    EXPECT_EQ(n->Out(0, 10), 1000) << "the row where it stopped is not";
    EXPECT_EQ(n->Out(1, 39), 500);
}

TEST(RegularPass, NoiseAndDeadPixelStepsRunInOrder)
{
    // The pass must equal: red smoothing, blue smoothing, dead-pixel repair, interpolation,
    // smoothing of the result. The smoothing and the median repair do not commute, so another
    // order gives another plane.
    std::mt19937 rng(99);
    std::vector<uint16_t> plane(96 * 80);
    for (auto& v : plane)
        v = uint16_t(2000 + rng() % 600);
    const auto fill = [&](int32_t x, int32_t y) { return plane[size_t(y) * 96 + size_t(x)]; };
    const std::vector<engine::PixelPoint> dead = {{10, 10}, {21, 13}, {30, 30}, {31, 30}, {500, 2}, {-1, 3}};
    for (auto p : {std::pair{10, 10}, std::pair{21, 13}, std::pair{30, 30}, std::pair{31, 30}})
        plane[size_t(p.second) * 96 + size_t(p.first)] = 16000;

    const auto configure = [&](VrelNegative& neg, bool steps) {
        neg.fPreNoiseRed = steps ? 40 : 0;
        neg.fPreNoiseBlue = steps ? 60 : 0;
        neg.fNoiseRegular = steps ? 30 : 0;
        neg.fNoiseDetail = 3;
        neg.fNoiseBalance = 2;
        neg.fFixDeadPixels = steps;
        neg.fDeadPixels = dead;
    };

    auto whole = WithPlane(Mosaic::kRGGB, 96, 80, fill);
    configure(*whole->neg, true);
    whole->neg->InterpolateRegular(&whole->progress);
    EXPECT_EQ(whole->ui.status.history,
              (std::vector<std::string>{"Applying noise reduction: red channel...",
                                        "Applying noise reduction: blue channel...", "Processing regular result...",
                                        "Applying noise reduction: regular result..."}));

    const auto byHand = [&](bool repairFirst) {
        auto n = WithPlane(Mosaic::kRGGB, 96, 80, fill);
        VrelNegative& neg = *n->neg;
        configure(neg, false);
        if (repairFirst)
            neg.RepairRegisteredDeadPixels();
        neg.WaveletDenoise(n->Stage1(), 40, 3, 2, 2, nullptr);
        neg.WaveletDenoise(n->Stage1(), 60, 3, 2, 3, nullptr);
        if (!repairFirst)
            neg.RepairRegisteredDeadPixels();
        neg.InterpolateRegular(nullptr);
        neg.WaveletDenoise(n->Stage1(), 30, 3, 2, 0, nullptr);
        return PlaneOf(n->Stage1());
    };
    EXPECT_EQ(PlaneOf(whole->Stage1()), byHand(false));
    EXPECT_NE(PlaneOf(whole->Stage1()), byHand(true));
    EXPECT_EQ(PlaneOf(*whole->neg->fMonoImage), PlaneOf(whole->Stage1()));
}

// --- Half size ---

struct HalfCase {
    std::unique_ptr<Negative> n;
    std::vector<dng::SRational> deltaH;
    std::vector<dng::SRational> deltaV;
};

// A 2088 x 1390 negative (wider than 1024) with active area, masked areas, black-level deltas
// and default crop, its stage-1 plane a position code.
HalfCase HalfSizeNegative(Mosaic mosaic, uint32_t width = 2088, uint32_t height = 1390)
{
    fixtures::DngSpec desc;
    desc.mosaic = mosaic;
    desc.width = width;
    desc.height = height;
    desc.whiteLevel = 16383;
    desc.activeArea = dng::Rect(4, 6, int32_t(height), int32_t(width));
    desc.maskedAreas = {dng::Rect(0, 0, 4, int32_t(width)), dng::Rect(4, 0, int32_t(height), 6)};
    HalfCase c;
    for (uint32_t i = 0; i < width - 6; ++i)
        c.deltaH.push_back(dng::SRational(int32_t(i), 1));
    for (uint32_t i = 0; i < height - 4; ++i)
        c.deltaV.push_back(dng::SRational(-int32_t(i), 2));
    desc.blackLevelDeltaH = c.deltaH;
    desc.blackLevelDeltaV = c.deltaV;
    desc.defaultCropOrigin = std::array<dng::URational, 2>{dng::URational(7, 1), dng::URational(5, 1)};
    desc.defaultCropSize = std::array<dng::URational, 2>{dng::URational(width - 13, 1), dng::URational(height - 11, 1)};
    c.n = WithoutEqualisation(FromSynthetic(desc));
    c.n->neg->SetStage1(MakeImage(int32_t(width), int32_t(height),
                                  [](int32_t x, int32_t y) { return uint16_t((x * 31 + y * 7) & 0xFFFF); }));
    return c;
}

TEST(RegularHalf, TakesTheG1PhotositeOfEveryBlock)
{
    const struct {
        Mosaic mosaic;
        int32_t row, col; // G1 within the 2 x 2 block
    } layouts[] = {{Mosaic::kRGGB, 0, 1}, {Mosaic::kBGGR, 1, 0}, {Mosaic::kGRBG, 0, 0}, {Mosaic::kGBRG, 1, 1}};
    for (const auto& l : layouts) {
        HalfCase c = HalfSizeNegative(l.mosaic);
        const auto before = PlaneOf(c.n->Stage1());
        c.n->neg->ExtractRegularHalf(c.n->host, c.n->info, &c.n->progress);
        const dng::Image& half = *c.n->neg->fMonoImage;
        // 2088 / 2 = 1044; 1390 / 2 = 695, odd, so 694.
        ASSERT_EQ(half.Width(), 1044);
        ASSERT_EQ(half.Height(), 694);
        for (int32_t r = 0; r < 694; ++r)
            for (int32_t col = 0; col < 1044; ++col)
                ASSERT_EQ(half.ConstView16Of(0).Row(r)[col], uint16_t(((2 * col + l.col) * 31 + (2 * r + l.row) * 7) & 0xFFFF))
                    << "layout " << int(l.mosaic) << " at " << col << "," << r;
        EXPECT_EQ(PlaneOf(c.n->Stage1()), before) << "stage 1 is left alone";
        EXPECT_EQ(c.n->ui.status.history, std::vector<std::string>{"Processing regular result..."});
        EXPECT_EQ(c.n->ui.bar.maximum, 1386);
    }
}

TEST(RegularHalf, HalvesTheGeometryConsistently)
{
    HalfCase c = HalfSizeNegative(Mosaic::kRGGB);
    VrelNegative& neg = *c.n->neg;
    neg.ExtractRegularHalf(c.n->host, c.n->info, &c.n->progress);
    const dng::LinearizationInfo& lin = *neg.GetLinearizationInfo();

    EXPECT_EQ(lin.fActiveArea, dng::Rect(2, 3, 694, 1044));
    EXPECT_EQ(neg.DefaultCropOriginH(), dng::URational(3, 1));
    EXPECT_EQ(neg.DefaultCropOriginV(), dng::URational(2, 1));
    EXPECT_EQ(neg.DefaultCropSizeH(), dng::URational(1038, 1)) << "2075 x 0.5 + 0.5";
    EXPECT_EQ(neg.DefaultCropSizeV(), dng::URational(689, 1)) << "1379 x 0.5";
    ASSERT_EQ(lin.fMaskedArea.size(), 2u);
    EXPECT_EQ(lin.fMaskedArea[0], dng::Rect(0, 0, 2, 1044));
    EXPECT_EQ(lin.fMaskedArea[1], dng::Rect(2, 0, 695, 3)) << "every masked rectangle is halved";

    // Column and row deltas alike: half the count, the values of every second column / row.
    const auto thinned = [](const std::vector<dng::SRational>& v) {
        std::vector<dng::SRational> kept;
        for (size_t i = 0; i + 1 < v.size(); i += 2)
            kept.push_back(v[i]);
        return kept;
    };
    const auto real = [](const std::vector<dng::SRational>& v) {
        std::vector<double> r;
        for (const auto& d : v)
            r.push_back(d.As_real64());
        return r;
    };
    const dng::IfdInfo& raw = c.n->info.Ifds()[size_t(c.n->info.MainIndex())];
    EXPECT_EQ(raw.blackLevelDeltaH, thinned(c.deltaH));
    EXPECT_EQ(raw.blackLevelDeltaV, thinned(c.deltaV));
    EXPECT_EQ(lin.fBlackDeltaH, real(thinned(c.deltaH)));
    EXPECT_EQ(lin.fBlackDeltaV, real(thinned(c.deltaV)));
}

TEST(RegularHalf, NarrowImageKeepsAreaAndCropButHalvesTheRest)
{
    // A tools-preview crop 1024 wide: active area and crop stay, masked area and deltas halve.
    HalfCase c = HalfSizeNegative(Mosaic::kRGGB, 1024, 600);
    VrelNegative& neg = *c.n->neg;
    const dng::Rect area = neg.GetLinearizationInfo()->fActiveArea;
    neg.ExtractRegularHalf(c.n->host, c.n->info, nullptr);
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea, area);
    EXPECT_EQ(neg.DefaultCropOriginH(), dng::URational(7, 1));
    EXPECT_EQ(neg.DefaultCropSizeH(), dng::URational(1011, 1));
    EXPECT_EQ(neg.GetLinearizationInfo()->fMaskedArea[0], dng::Rect(0, 0, 2, 512));
    EXPECT_EQ(c.n->info.Ifds()[size_t(c.n->info.MainIndex())].blackLevelDeltaH.size(), 509u);
    EXPECT_EQ(neg.fMonoImage->Width(), 512);
    EXPECT_EQ(neg.fMonoImage->Height(), 300);
}

TEST(RegularHalf, WidthStopsAtTheActiveAreaAndEmptyCellsAreZero)
{
    // Active area ending 100 columns short of a 1500-wide image: w = 1400, half 700.
    fixtures::DngSpec desc;
    desc.width = 1500;
    desc.height = 10;
    desc.activeArea = dng::Rect(0, 0, 10, 1400);
    auto n = WithoutEqualisation(FromSynthetic(desc));
    n->neg->SetStage1(MakeImage(1500, 10, [](int32_t x, int32_t) { return uint16_t(x + 1); }));
    n->neg->ExtractRegularHalf(n->host, n->info, nullptr);
    EXPECT_EQ(n->neg->fMonoImage->Width(), 700);
    EXPECT_EQ(n->neg->fMonoImage->Height(), 4) << "10 / 2 = 5 is odd";
    EXPECT_EQ(n->neg->fMonoImage->ConstView16Of(0).Row(3)[699], 1400) << "G1 of column 1399";

    // Without a colour pattern no photosite is G1: the new image stays zero.
    n->neg->ClearMosaicInfo();
    n->neg->ExtractRegularHalf(n->host, n->info, nullptr);
    const auto cells = PlaneOf(*n->neg->fMonoImage);
    EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](uint16_t v) { return v == 0; }));
}

TEST(RegularHalf, SmoothsTheNewImageWhenAskedAndNothingElse)
{
    std::mt19937 rng(3);
    std::vector<uint16_t> plane(80 * 72);
    for (auto& v : plane)
        v = uint16_t(3000 + rng() % 500);
    const auto fill = [&](int32_t x, int32_t y) { return plane[size_t(y) * 80 + size_t(x)]; };

    auto plain = WithPlane(Mosaic::kGRBG, 80, 72, fill);
    plain->neg->ExtractRegularHalf(plain->host, plain->info, nullptr);

    auto smoothed = WithPlane(Mosaic::kGRBG, 80, 72, fill);
    VrelNegative& neg = *smoothed->neg;
    neg.fNoiseRegular = 30;
    neg.fNoiseDetail = 2;
    neg.fNoiseBalance = 1;
    neg.fPreNoiseRed = 50; // no pre-smoothing, repair or equalisation in the half-size pass
    neg.fFixDeadPixels = true;
    neg.fDeadPixels = {{5, 4}};
    neg.fCameraCode = 0;
    neg.ExtractRegularHalf(smoothed->host, smoothed->info, &smoothed->progress);
    EXPECT_EQ(smoothed->ui.status.history,
              (std::vector<std::string>{"Processing regular result...", "Applying noise reduction: regular result..."}));

    plain->neg->WaveletDenoise(*plain->neg->fMonoImage, 30, 2, 1, 0, nullptr);
    EXPECT_EQ(PlaneOf(*neg.fMonoImage), PlaneOf(*plain->neg->fMonoImage));
    EXPECT_EQ(PlaneOf(smoothed->Stage1()), PlaneOf(*MakeImage(80, 72, fill)));
}

TEST(RegularHalf, CancelKeepsThePreviousResult)
{
    HalfCase c = HalfSizeNegative(Mosaic::kRGGB, 1100, 40);
    VrelNegative& neg = *c.n->neg;
    auto previous = std::make_unique<dng::Image>(3, 3, 1, dng::PixelType::kUInt16);
    const dng::Image* kept = previous.get();
    neg.fMonoImage = std::move(previous);
    c.n->ui.onPump = [&] { neg.fCancelRequested = true; };
    neg.ExtractRegularHalf(c.n->host, c.n->info, &c.n->progress);
    EXPECT_EQ(neg.fMonoImage.get(), kept);
    EXPECT_EQ(c.n->ui.pumps, 1) << "stopped on row 10";
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea, dng::Rect(2, 3, 20, 550)) << "geometry already halved";
}

// --- Sample photos ---

uint16_t CameraCodeOf(const std::string& model)
{
    if (model == "M9 Digital Camera")
        return 0;
    if (model == "Nikon D200")
        return 20;
    return kNoEqualisation;
}

TEST(RegularPass, RunsOverTheColourSamples)
{
    // d800-fullsize is left to the benchmark: 36 MP under the sanitizers takes too long here.
    for (const char* file : {"m9-16bit-rggb.dng", "m9-8bit-squarelaw.dng", "d800-3000x2000.dng", "5d3-2400x1600.dng",
                             "sony-a7s-bggr.dng", "leica-t-warp.dng", "leica-m240-jpegpreview.dng", "d200-grbg.dng",
                             "canon-7d-unsupported.dng"}) {
        SCOPED_TRACE(file);
        auto n = WithoutEqualisation(FromFile(fixtures::SamplePath(file)));
        VrelNegative& neg = *n->neg;
        if (n->Stage1().Type() == dng::PixelType::kUInt8)
            neg.ExpandSquareLaw();
        neg.fCameraCode = CameraCodeOf(neg.ModelName());
        const auto before = PlaneOf(n->Stage1());
        neg.InterpolateRegular(&n->progress);
        ASSERT_NE(neg.fMonoImage, nullptr);
        const auto after = PlaneOf(n->Stage1());
        const int32_t w = n->Stage1().Width();
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i) {
            changed += before[i] != after[i];
            if (neg.IsG1Pixel(int32_t(i % size_t(w)), int32_t(i / size_t(w)))) {
                ASSERT_EQ(before[i], after[i]) << "G1 at " << i;
            }
        }
        EXPECT_GT(changed, after.size() / 4) << "red and blue photosites are rescaled";
        EXPECT_EQ(PlaneOf(*neg.fMonoImage), after);
    }
}

} // namespace
