// The regular interpolation pass and its half-size variant, on negatives read from synthetic
// DNGs whose stage-1 plane is set by hand, and once over the colour sample photos.
#include "engine/vrel_negative.h"

#include "fixtures/samples.h"
#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

namespace {

using engine::VrelNegative;
using enginetest::MakeImage;
using enginetest::Negative;
using enginetest::WithoutEqualisation;
using fixtures::Mosaic;

// A negative of the given pattern and white level whose stage-1 plane is f(column, row).
std::unique_ptr<Negative> WithPlane(Mosaic mosaic, int32_t w, int32_t h,
                                    const std::function<uint16_t(int32_t, int32_t)>& f, uint32_t white = 16383)
{
    fixtures::DngSpec desc;
    desc.mosaic = mosaic;
    desc.width = 16;
    desc.height = 16;
    desc.whiteLevel = white;
    auto n = WithoutEqualisation(enginetest::FromSynthetic(desc));
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
    const int32_t w = in.Width(), h = in.Height();
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
            // gmin is the first gradient, replaced by any smaller one and while it is 0.
            double g[8] = {}, gmin = 0, gmax = 0;
            for (int i = 0; i < 8; ++i) {
                for (int k = 0; k < 6; ++k) {
                    const auto [ay, ax, by, bx] = kGradient[i][k];
                    g[i] += (k < 2 ? 1.0 : 0.5) * std::fabs(P(ay, ax) - P(by, bx));
                }
                gmin = g[i] < gmin || gmin == 0 ? g[i] : gmin;
                gmax = std::max(gmax, g[i]);
            }
            std::vector<int> chosen;
            double t = 1.5 * gmin + 0.5 * (gmax - gmin), sg = 0, so = 0;
            for (int attempt = 0; attempt <= 20 && chosen.empty(); ++attempt, t += 10)
                for (int i = 0; i < 8; ++i)
                    if (g[i] < t && g[i] != 0)
                        chosen.push_back(i);
            if (chosen.empty())
                chosen = {0, 1, 2, 3, 4, 5, 6, 7};
            for (int i : chosen) {
                sg += 0.5 * (P(kGreen[i].ay, kGreen[i].ax) + P(kGreen[i].by, kGreen[i].bx));
                so += 0.5 * (pc + P(kGradient[i][0].ay, kGradient[i][0].ax));
            }
            double v = pc * (so > 0 ? sg / so : 1.0);
            if (mn < 16383)
                v = std::max(v, mn);
            if (mx > 0)
                v = std::min(v, mx);
            out.push_back(uint16_t(std::min(v, 65535.0)));
        }
    return out;
}

// --- Known answers ---

TEST(RegularPass, WorkedExamples)
{
    const struct {
        int32_t w, h;
        uint16_t green, red, blue;
        std::vector<std::tuple<int32_t, int32_t, uint16_t>> sites; // (x, y, value) apart from the levels
        int32_t x, y;            // the photosite checked
        uint16_t expected;
        const char* why;
        uint16_t code = enginetest::kNoEqualisation; // the camera
    } cases[] = {
        // Row 0 reads row 0 for row -2, so g[N] = 0; the others are |red two steps away - Pc|:
        // (0, 20, 3, 11, 20, 4, 11, 4). gmin runs 0 -> 20 -> 3, T = 13 takes S, W, SE, NW, SW:
        // 500 x 5000 / 2516.5 = 993.4 (the true minimum 0 would give T = 10 and 996).
        {16, 8, 1000, 500, 500, {{8, 0, 520}, {6, 2, 503}, {4, 0, 511}, {8, 2, 504}, {4, 2, 504}}, 6, 0, 993,
         "zero first gradient replaced by the next"},
        // A blue photosite (500) in the last column: g[E] = 0 and g[SW] = 0, so gmin ends at 0,
        // T = gmax / 2 and the threshold must be raised. Sites: N, S, W, NW.
        // (50, 0, 30, 40, 50, 30, 40, 0): T = 25 admits nothing, T = 35 admits S and SE:
        // 500 x 2000 / 1030 = 970.87 (the smallest non-zero gradient as gmin would give 961).
        {8, 10, 1000, 700, 500, {{7, 3, 550}, {7, 7, 530}, {5, 5, 540}, {5, 3, 540}}, 7, 5, 970, "one raise, truncated"},
        // (400, 0, 395, 400, ...): T = 200; only the 20th raise (T = 400) admits S and SE.
        {8, 10, 1000, 700, 500, {{7, 3, 900}, {7, 7, 895}, {5, 5, 900}, {5, 3, 900}}, 7, 5, 716, "the 20th raise"},
        // All non-zero gradients 400: no raise admits one, all eight are taken: 500 x 8000 / 5200.
        {8, 10, 1000, 700, 500, {{7, 3, 900}, {7, 7, 900}, {5, 5, 900}, {5, 3, 900}}, 7, 5, 769, "beyond 20 raises"},
        // One red photosite apart from flat levels: all eight directions are taken.
        {12, 12, 1000, 100, 100, {{6, 6, 900}}, 6, 6, 1000, "900 x 8000 / 4000 lowered to the largest green"},
        {12, 12, 1000, 100, 100, {{4, 0, 900}}, 4, 0, 1800, "the same at the edge, where there is no window range"},
        {12, 12, 1000, 2000, 2000, {{6, 6, 200}}, 6, 6, 1000, "200 x 8000 / 8800 raised to the smallest green"},
        {12, 12, 20000, 40000, 40000, {{6, 6, 4000}}, 6, 6, 3636, "not raised to a smallest green of 16383 or more"},
        {12, 12, 60000, 0, 0, {{0, 0, 60000}}, 0, 0, 65535, "corner: 60000 x 300000 / 150000 = 120000"},
        // A G2 photosite above its G1 neighbours (1000) is evened out for the M9 (1850), the M8
        // (3500) and the D200 (900) only; 60 above is beyond the D200's threshold
        // (900 / 16383 x 1060 = 58.2) but not the M9's.
        {12, 12, 1000, 800, 600, {{4, 5, 1005}}, 4, 5, 1000, "M9", 0},
        {12, 12, 1000, 800, 600, {{4, 5, 1005}}, 4, 5, 1000, "M8", 1},
        {12, 12, 1000, 800, 600, {{4, 5, 1005}}, 4, 5, 1000, "D200", 20},
        {12, 12, 1000, 800, 600, {{4, 5, 1005}}, 4, 5, 1005, "D800", 21},
        {12, 12, 1000, 800, 600, {{4, 5, 1005}}, 4, 5, 1005, "camera code 17", 17},
        {12, 12, 1000, 800, 600, {{4, 5, 1060}}, 4, 5, 1060, "D200, beyond its threshold", 20},
        {12, 12, 1000, 800, 600, {{4, 5, 1060}}, 4, 5, 1000, "M9, within its threshold", 0},
    };
    for (const auto& c : cases) {
        auto n = Leveled(c.w, c.h, c.green, c.red, c.blue);
        for (const auto& [x, y, v] : c.sites)
            n->Stage1().View16Of(0).Row(y)[x] = v;
        n->neg->fCameraCode = c.code;
        n->neg->InterpolateRegular(&n->progress);
        EXPECT_EQ(n->Out(c.x, c.y), c.expected) << c.why;
    }
}

TEST(RegularPass, MatchesTheRulesOnRandomPlanes)
{
    // Wide values, 14-bit values and tiny values (many zero gradients, so the gmin rule and the
    // threshold raises are met often), every layout, odd and even sizes down to 2 x 2; the edges
    // read the same-parity rows and columns (row -1 reads row 1, -2 reads 0, h reads h - 2).
    // Planes one photosite wide or high have no such rows: they must only stay inside.
    std::mt19937 rng(12345);
    const int32_t sizes[][2] = {{1, 1}, {1, 6}, {7, 1}, {2, 2}, {3, 5}, {6, 7}, {17, 12}, {40, 33}, {71, 8}};
    for (Mosaic mosaic : {Mosaic::kRGGB, Mosaic::kBGGR, Mosaic::kGRBG, Mosaic::kGBRG})
        for (uint32_t range : {65536u, 16384u, 3u})
            for (const auto& [w, h] : sizes) {
                auto n = WithPlane(mosaic, w, h, [&](int32_t, int32_t) { return uint16_t(rng() % range); });
                const auto input = n->Stage1().Clone();
                n->neg->InterpolateRegular(&n->progress);
                ASSERT_NE(n->neg->fMonoImage, nullptr);
                if (w == 1 || h == 1)
                    continue;
                ASSERT_EQ(PlaneOf(n->Stage1()), Reference(*n->neg, *input))
                    << "layout " << int(mosaic) << ", range " << range << ", " << w << " x " << h;
            }
}

// --- Run: sliders, cancel, the other steps ---

TEST(RegularPass, SetsTheSliderMaxima)
{
    // A white level below 4095 counts as 4096; localisation reaches a third of masking.
    for (const auto& [white, masking, localization] : {std::tuple{16383u, 16383, 5461}, std::tuple{1000u, 4096, 1365}}) {
        auto n = WithPlane(Mosaic::kRGGB, 8, 8, [](int32_t x, int32_t y) { return uint16_t(500 + x + 3 * y); }, white);
        n->neg->InterpolateRegular(&n->progress);
        EXPECT_EQ(n->ui.maskingMax, masking);
        EXPECT_EQ(n->ui.localizationMax, localization);
    }
}

TEST(RegularPass, CancelStopsBetweenRowsWithoutAResult)
{
    auto n = Leveled(12, 40, 2000, 1000, 500);
    n->neg->fMonoImage = std::make_unique<dng::Image>(2, 2, 1, dng::PixelType::kUInt16);
    n->ui.onPump = [&] {
        if (n->ui.pumps == 2) // the first pump of the rows, on row 10
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
    // smoothing of the result (the smoothing and the median repair do not commute). Points
    // outside the image are skipped.
    const auto make = [](bool steps) {
        auto n = WithPlane(Mosaic::kRGGB, 96, 80, [](int32_t x, int32_t y) {
            const bool dead = (x == 10 && y == 10) || (x == 21 && y == 13) || (y == 30 && (x == 30 || x == 31));
            return uint16_t(dead ? 16000 : 2000 + (x * 7919 + y * 6007 + x * y * 31) % 600);
        });
        VrelNegative& neg = *n->neg;
        neg.fPreNoiseRed = steps ? 40 : 0;
        neg.fPreNoiseBlue = steps ? 60 : 0;
        neg.fNoiseRegular = steps ? 30 : 0;
        neg.fNoiseDetail = 3;
        neg.fNoiseBalance = 2;
        neg.fFixDeadPixels = steps;
        neg.fDeadPixels = {{10, 10}, {21, 13}, {30, 30}, {31, 30}, {500, 2}, {-1, 3}};
        return n;
    };

    auto whole = make(true);
    whole->neg->InterpolateRegular(&whole->progress);
    EXPECT_EQ(whole->ui.status.history,
              (std::vector<std::string>{"Applying noise reduction: red channel...",
                                        "Applying noise reduction: blue channel...", "Processing regular result...",
                                        "Applying noise reduction: regular result..."}));
    auto n = make(false);
    VrelNegative& neg = *n->neg;
    neg.WaveletDenoise(n->Stage1(), 40, 3, 2, 2, nullptr);
    neg.WaveletDenoise(n->Stage1(), 60, 3, 2, 3, nullptr);
    neg.RepairRegisteredDeadPixels();
    neg.InterpolateRegular(nullptr);
    neg.WaveletDenoise(n->Stage1(), 30, 3, 2, 0, nullptr);
    EXPECT_EQ(PlaneOf(whole->Stage1()), PlaneOf(n->Stage1()));
    EXPECT_EQ(PlaneOf(*whole->neg->fMonoImage), PlaneOf(whole->Stage1()));
}

// --- Half size ---

// A negative (2088 x 1390 unless told) with active area from (4, 6), masked areas, black-level
// deltas i (columns) and -i / 2 (rows) and a default crop, its stage-1 plane a position code.
uint16_t Code(int32_t x, int32_t y)
{
    return uint16_t((x * 31 + y * 7) & 0xFFFF);
}

std::unique_ptr<Negative> HalfSizeNegative(Mosaic mosaic, uint32_t width = 2088, uint32_t height = 1390)
{
    fixtures::DngSpec desc;
    desc.mosaic = mosaic;
    desc.width = width;
    desc.height = height;
    desc.whiteLevel = 16383;
    desc.activeArea = dng::Rect(4, 6, int32_t(height), int32_t(width));
    desc.maskedAreas = {dng::Rect(0, 0, 4, int32_t(width)), dng::Rect(4, 0, int32_t(height), 6)};
    for (int32_t i = 0; i < int32_t(width) - 6; ++i)
        desc.blackLevelDeltaH.emplace_back(i, 1);
    for (int32_t i = 0; i < int32_t(height) - 4; ++i)
        desc.blackLevelDeltaV.emplace_back(-i, 2);
    desc.defaultCropOrigin = std::array<dng::URational, 2>{dng::URational(7, 1), dng::URational(5, 1)};
    desc.defaultCropSize = std::array<dng::URational, 2>{dng::URational(width - 13, 1), dng::URational(height - 11, 1)};
    auto n = WithoutEqualisation(enginetest::FromSynthetic(desc));
    n->neg->SetStage1(MakeImage(int32_t(width), int32_t(height), Code));
    return n;
}

TEST(RegularHalf, TakesTheG1PhotositeOfEveryBlockAndHalvesTheGeometry)
{
    const struct {
        Mosaic mosaic;
        int32_t row, col; // G1 within the 2 x 2 block
    } layouts[] = {{Mosaic::kRGGB, 0, 1}, {Mosaic::kBGGR, 1, 0}, {Mosaic::kGRBG, 0, 0}, {Mosaic::kGBRG, 1, 1}};
    // Column and row deltas alike: the values of every second column / row, one per column / row
    // of the halved active area (693 rows halve to 692, the active area being cut to an even
    // height).
    std::vector<dng::SRational> deltaH, deltaV;
    std::vector<double> realH, realV;
    for (int32_t i = 0; i < 1041; ++i)
        deltaH.emplace_back(2 * i, 1), realH.push_back(2.0 * i);
    for (int32_t i = 0; i < 692; ++i)
        deltaV.emplace_back(-2 * i, 2), realV.push_back(-1.0 * i);
    for (const auto& l : layouts) {
        SCOPED_TRACE(int(l.mosaic));
        auto n = HalfSizeNegative(l.mosaic);
        VrelNegative& neg = *n->neg;
        const auto before = PlaneOf(n->Stage1());
        neg.ExtractRegularHalf(n->host, n->info, &n->progress);
        const dng::Image& half = *neg.fMonoImage;
        // 2088 / 2 = 1044; 1390 / 2 = 695, odd, so 694.
        ASSERT_EQ(half.Width(), 1044);
        ASSERT_EQ(half.Height(), 694);
        for (int32_t r = 0; r < 694; ++r)
            for (int32_t c = 0; c < 1044; ++c)
                ASSERT_EQ(half.ConstView16Of(0).Row(r)[c], Code(2 * c + l.col, 2 * r + l.row)) << c << "," << r;
        EXPECT_EQ(PlaneOf(n->Stage1()), before) << "stage 1 is left alone";

        const dng::LinearizationInfo& lin = *neg.GetLinearizationInfo();
        EXPECT_EQ(lin.fActiveArea, dng::Rect(2, 3, 694, 1044));
        EXPECT_EQ(neg.DefaultCropOriginH(), dng::URational(3, 1));
        EXPECT_EQ(neg.DefaultCropOriginV(), dng::URational(2, 1));
        EXPECT_EQ(neg.DefaultCropSizeH(), dng::URational(1038, 1)) << "2075 x 0.5 + 0.5";
        EXPECT_EQ(neg.DefaultCropSizeV(), dng::URational(689, 1)) << "1379 x 0.5";
        EXPECT_EQ(lin.fMaskedArea, (std::vector<dng::Rect>{dng::Rect(0, 0, 2, 1044), dng::Rect(2, 0, 695, 3)}));
        const dng::IfdInfo& raw = n->info.Ifds()[size_t(n->info.MainIndex())];
        EXPECT_EQ(raw.blackLevelDeltaH, deltaH);
        EXPECT_EQ(raw.blackLevelDeltaV, deltaV);
        EXPECT_EQ(lin.fBlackDeltaH, realH);
        EXPECT_EQ(lin.fBlackDeltaV, realV);
    }
}

TEST(RegularHalf, NarrowImageKeepsAreaAndCropAndWideOneStopsAtTheActiveArea)
{
    // A tools-preview crop 1024 wide: active area and crop stay, masked area and deltas halve.
    auto n = HalfSizeNegative(Mosaic::kRGGB, 1024, 600);
    n->neg->CropStage1(n->host, 0, 0, 1024, 600);
    const dng::Rect area = n->neg->GetLinearizationInfo()->fActiveArea;
    n->neg->ExtractRegularHalf(n->host, n->info, nullptr);
    EXPECT_EQ(n->neg->GetLinearizationInfo()->fActiveArea, area);
    EXPECT_EQ(n->neg->DefaultCropOriginH(), dng::URational(7, 1));
    EXPECT_EQ(n->neg->DefaultCropSizeH(), dng::URational(1011, 1));
    EXPECT_EQ(n->neg->GetLinearizationInfo()->fMaskedArea[0], dng::Rect(0, 0, 2, 512));
    EXPECT_EQ(n->info.Ifds()[size_t(n->info.MainIndex())].blackLevelDeltaH.size(), 509u);
    EXPECT_EQ(n->neg->fMonoImage->Width(), 512);
    EXPECT_EQ(n->neg->fMonoImage->Height(), 300);

    // A whole photo as narrow halves its geometry with its pixels, as a wide one does.
    n = HalfSizeNegative(Mosaic::kRGGB, 1024, 600);
    n->neg->ExtractRegularHalf(n->host, n->info, nullptr);
    EXPECT_EQ(n->neg->GetLinearizationInfo()->fActiveArea, dng::Rect(2, 3, 300, 512));
    EXPECT_EQ(n->neg->DefaultCropSizeH(), dng::URational(506, 1)) << "1011 x 0.5 + 0.5, kept inside";

    // Active area ending 100 columns short of a 1500-wide image: w = 1400, half 700; 10 / 2 = 5
    // is odd, so 4 rows.
    n = HalfSizeNegative(Mosaic::kRGGB, 1500, 10);
    n->neg->GetLinearizationInfo()->fActiveArea = dng::Rect(0, 0, 10, 1400);
    n->neg->ExtractRegularHalf(n->host, n->info, nullptr);
    EXPECT_EQ(n->neg->fMonoImage->Width(), 700);
    EXPECT_EQ(n->neg->fMonoImage->Height(), 4);
    EXPECT_EQ(n->neg->fMonoImage->ConstView16Of(0).Row(3)[699], Code(1399, 6)) << "G1 of column 1399";

    // Without a colour pattern no photosite is G1: the new image stays zero.
    n->neg->ClearMosaicInfo();
    n->neg->ExtractRegularHalf(n->host, n->info, nullptr);
    const auto cells = PlaneOf(*n->neg->fMonoImage);
    EXPECT_TRUE(std::all_of(cells.begin(), cells.end(), [](uint16_t v) { return v == 0; }));
}

TEST(RegularHalf, SmoothsTheNewImageWhenAskedAndNothingElse)
{
    const auto fill = [](int32_t x, int32_t y) { return uint16_t(3000 + (x * 7919 + y * 6007 + x * y * 31) % 500); };

    auto plain = WithPlane(Mosaic::kGRBG, 80, 72, fill);
    plain->neg->ExtractRegularHalf(plain->host, plain->info, nullptr);
    plain->neg->WaveletDenoise(*plain->neg->fMonoImage, 30, 2, 1, 0, nullptr);

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
    EXPECT_EQ(PlaneOf(*neg.fMonoImage), PlaneOf(*plain->neg->fMonoImage));
    EXPECT_EQ(PlaneOf(smoothed->Stage1()), PlaneOf(*MakeImage(80, 72, fill)));
}

TEST(RegularHalf, CancelKeepsThePreviousResult)
{
    auto n = HalfSizeNegative(Mosaic::kRGGB, 1100, 40);
    VrelNegative& neg = *n->neg;
    neg.fMonoImage = std::make_unique<dng::Image>(3, 3, 1, dng::PixelType::kUInt16);
    const dng::Image* kept = neg.fMonoImage.get();
    n->ui.onPump = [&] { neg.fCancelRequested = true; };
    neg.ExtractRegularHalf(n->host, n->info, &n->progress);
    EXPECT_EQ(neg.fMonoImage.get(), kept);
    EXPECT_EQ(n->ui.pumps, 1) << "stopped on row 10";
    EXPECT_EQ(neg.GetLinearizationInfo()->fActiveArea, dng::Rect(2, 3, 20, 550)) << "geometry already halved";
}

// --- Sample photos ---

TEST(RegularPass, RunsOverTheColourSamples)
{
    // d800-fullsize is left to the benchmark: 36 MP under the sanitizers takes too long here.
    for (const char* file : {"m9-16bit-rggb.dng", "m9-8bit-squarelaw.dng", "d800-3000x2000.dng", "5d3-2400x1600.dng",
                             "sony-a7s-bggr.dng", "leica-t-warp.dng", "leica-m240-jpegpreview.dng", "d200-grbg.dng",
                             "canon-7d-unsupported.dng"}) {
        SCOPED_TRACE(file);
        auto n = WithoutEqualisation(enginetest::FromFile(fixtures::SamplePath(file)));
        VrelNegative& neg = *n->neg;
        if (n->Stage1().Type() == dng::PixelType::kUInt8)
            neg.ExpandSquareLaw();
        const std::string model = neg.ModelName();
        neg.fCameraCode = model == "M9 Digital Camera" ? 0 : model == "Nikon D200" ? 20 : enginetest::kNoEqualisation;
        const auto before = PlaneOf(n->Stage1());
        neg.InterpolateRegular(&n->progress);
        ASSERT_NE(neg.fMonoImage, nullptr);
        const auto after = PlaneOf(n->Stage1());
        const size_t w = size_t(n->Stage1().Width());
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i) {
            changed += before[i] != after[i];
            ASSERT_TRUE(!neg.IsG1Pixel(int32_t(i % w), int32_t(i / w)) || before[i] == after[i]) << "G1 at " << i;
        }
        EXPECT_GT(changed, after.size() / 4) << "red and blue photosites are rescaled";
        EXPECT_EQ(PlaneOf(*neg.fMonoImage), after);
        EXPECT_NE(neg.fMonoImage.get(), neg.Stage1Image()) << "a copy, not the working plane";
    }
}

} // namespace
