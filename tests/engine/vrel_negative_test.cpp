#include "engine/Class_vrel_host.h"
#include "engine/vrel_negative.h"

#include "dng/error.h"
#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using engine::VrelNegative;

// A parsed negative with the stream and bytes it was read from.
struct Loaded {
    engine::VrelHost host;
    std::vector<uint8_t> bytes;
    std::unique_ptr<dng::Stream> stream;
    dng::Info info;
    std::unique_ptr<dng::Negative> owner;
    VrelNegative* neg = nullptr;
};

std::unique_ptr<Loaded> Finish(std::unique_ptr<Loaded> l, bool decode)
{
    l->info.Parse(l->host, *l->stream);
    l->info.PostParse(l->host);
    l->owner = l->host.Make_dng_negative();
    l->neg = dynamic_cast<VrelNegative*>(l->owner.get());
    if (!l->neg)
        throw std::runtime_error("the host did not make a VrelNegative");
    l->owner->Parse(l->host, *l->stream, l->info);
    l->owner->PostParse(l->host, *l->stream, l->info);
    if (decode)
        l->owner->ReadStage1Image(l->host, *l->stream, l->info);
    return l;
}

std::unique_ptr<Loaded> LoadFixture(const fixtures::DngFixture& fx, bool decode = true)
{
    auto l = std::make_unique<Loaded>();
    l->bytes = fx.bytes;
    l->stream = std::make_unique<dng::MemoryStream>(l->bytes);
    return Finish(std::move(l), decode);
}

std::unique_ptr<Loaded> LoadSpec(const fixtures::DngSpec& spec, bool decode = true)
{
    return LoadFixture(fixtures::MakeDng(spec), decode);
}

std::unique_ptr<Loaded> LoadSample(const std::string& path)
{
    auto l = std::make_unique<Loaded>();
    l->stream = std::make_unique<dng::FileStream>(path);
    return Finish(std::move(l), false);
}

// A one-plane image whose every sample is f(x, y).
std::unique_ptr<dng::Image> MakeImage(int32_t w, int32_t h, dng::PixelType type,
                                      const std::function<uint32_t(int32_t, int32_t)>& f)
{
    auto img = std::make_unique<dng::Image>(w, h, 1, type);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (type == dng::PixelType::kUInt16)
                img->Row16(y)[x] = static_cast<uint16_t>(f(x, y));
            else
                img->Row8(y)[x] = static_cast<uint8_t>(f(x, y));
        }
    return img;
}

uint32_t At(const dng::Image& img, int32_t x, int32_t y)
{
    return img.Type() == dng::PixelType::kUInt16 ? img.Row16(y)[x] : img.Row8(y)[x];
}

// (x, y) coded into one 16-bit sample so that every position is told apart.
uint32_t Coord(int32_t x, int32_t y) { return uint32_t(y) * 256u + uint32_t(x); }

template <typename F>
void ExpectErrorCode(F&& f, int code)
{
    try {
        f();
        ADD_FAILURE() << "no dng::Error thrown";
    } catch (const dng::Error& e) {
        EXPECT_EQ(e.Code(), code) << e.what();
    }
}

// --- Colour-filter predicates ---------------------------------------------------------------

struct PatternCase {
    fixtures::Mosaic mosaic;
    const char* name;
    // What the predicates report at (col % 2, row % 2), indexed [row % 2][col % 2]: a letter per
    // predicate that says yes (R, B, G, 1 = G1, 2 = G2).
    const char* cells[2][2];
};

const PatternCase kPatterns[] = {
    {fixtures::Mosaic::kRGGB, "RGGB", {{"R", "G1"}, {"G2", "B"}}},
    {fixtures::Mosaic::kBGGR, "BGGR", {{"B", "G2"}, {"G1", "R"}}},
    // Green on the diagonal: G1 shares its row with red, G2 with blue, as in the other layouts.
    {fixtures::Mosaic::kGRBG, "GRBG", {{"G1", "R"}, {"B", "G2"}}},
    {fixtures::Mosaic::kGBRG, "GBRG", {{"G2", "B"}, {"R", "G1"}}},
};

std::string Answers(const VrelNegative& n, int32_t col, int32_t row)
{
    std::string s;
    if (n.IsRedPixel(col, row))
        s += "R";
    if (n.IsBluePixel(col, row))
        s += "B";
    if (n.IsGreenPixel(col, row))
        s += "G";
    if (n.IsG1Pixel(col, row))
        s += "1";
    if (n.IsG2Pixel(col, row))
        s += "2";
    return s;
}

TEST(VrelNegativePredicates, BayerPatternsAndNegativeCoordinates)
{
    for (const PatternCase& pc : kPatterns) {
        SCOPED_TRACE(pc.name);
        fixtures::DngSpec spec;
        spec.mosaic = pc.mosaic;
        auto l = LoadSpec(spec, false);
        for (int32_t row = 0; row < 6; ++row)
            for (int32_t col = 0; col < 6; ++col)
                EXPECT_EQ(Answers(*l->neg, col, row), pc.cells[row % 2][col % 2]) << "at " << col << "," << row;
        EXPECT_EQ(Answers(*l->neg, 40001, 30000), pc.cells[0][1]);
        for (auto [col, row] : {std::pair{-1, 0}, {0, -1}, {-1, -1}, {-2, 0}, {0, -2}, {-2, -2}, {-3, 4},
                                {std::numeric_limits<int32_t>::min(), 0}})
            EXPECT_EQ(Answers(*l->neg, col, row), "") << "at " << col << "," << row;
    }
}

TEST(VrelNegativePredicates, NoMosaicMeansNoColours)
{
    fixtures::DngSpec spec;
    spec.mosaic = fixtures::Mosaic::kLinearRaw;
    auto l = LoadSpec(spec, false);
    ASSERT_EQ(l->neg->GetMosaicInfo(), nullptr);
    for (int32_t row = 0; row < 2; ++row)
        for (int32_t col = 0; col < 2; ++col)
            EXPECT_EQ(Answers(*l->neg, col, row), "");

    engine::VrelHost host;
    auto bare = VrelNegative::Make(host); // never parsed
    EXPECT_EQ(Answers(dynamic_cast<VrelNegative&>(*bare), 0, 0), "");
}

// --- Construction -----------------------------------------------------------------------------

TEST(VrelNegativeMake, GammaTables)
{
    engine::VrelHost host;
    auto made = host.Make_dng_negative();
    auto* n = dynamic_cast<VrelNegative*>(made.get());
    ASSERT_NE(n, nullptr);
    const auto& g22 = n->fGammaTable22;
    const auto& g18 = n->fGammaTable18;
    EXPECT_EQ(g22[0], 0u);
    EXPECT_EQ(g18[0], 0u);
    EXPECT_EQ(g22[VrelNegative::kGammaEntries - 1], 255u);
    EXPECT_EQ(g18[VrelNegative::kGammaEntries - 1], 255u);
    // Half way: 255 * 0.5^(1/2.2) = 186.08, 255 * 0.5^(1/1.8) = 173.5007 (rounds up, just).
    EXPECT_EQ(g22[24576], 186u);
    EXPECT_EQ(g18[24576], 174u);
    // 1/64 of the range: 255 * (1/64)^(1/2.2) = 38.508 (rounds up), 255 * (1/64)^(1/1.8) = 25.30.
    EXPECT_EQ(g22[768], 39u);
    EXPECT_EQ(g18[768], 25u);
    // The first step: 255 * (1/49152)^(1/2.2) = 1.87 -> 2.
    EXPECT_EQ(g22[1], 2u);
    for (int i = 1; i < VrelNegative::kGammaEntries; ++i) {
        ASSERT_LE(g22[size_t(i - 1)], g22[size_t(i)]) << i;
        ASSERT_LE(g18[size_t(i - 1)], g18[size_t(i)]) << i;
        ASSERT_GE(g22[size_t(i)], g18[size_t(i)]) << i; // 1/2.2 lifts the shadows more than 1/1.8
    }
}

// --- Working images ---------------------------------------------------------------------------

TEST(VrelNegativeImages, CopiesAreDeepAndMissingSourcesAreRefused)
{
    engine::VrelHost host;
    auto made = VrelNegative::Make(host);
    auto& n = dynamic_cast<VrelNegative&>(*made);
    auto coords = [](int32_t x, int32_t y) { return Coord(x, y); };

    // Nothing to copy yet: a clear error, and the destinations keep what they hold.
    n.fMonoCopy1 = MakeImage(2, 2, dng::PixelType::kUInt16, [](int32_t, int32_t) { return 7u; });
    for (auto op : std::vector<std::function<void()>>{[&] { n.SaveMonoCopy1(); }, [&] { n.SaveMonoCopy2(); },
                                                      [&] { n.CopyMonoToStage1(); }, [&] { n.RestoreMonoCopy3(); }})
        ExpectErrorCode(op, dng::kErrorUnknown);
    ASSERT_NE(n.fMonoCopy1, nullptr);
    EXPECT_EQ(n.fMonoCopy1->Row16(1)[1], 7u);

    n.fMonoImage = MakeImage(5, 3, dng::PixelType::kUInt16, coords);
    n.SaveMonoCopy1();
    n.SaveMonoCopy2();
    n.CopyMonoToStage1();
    n.fMonoImage->Row16(2)[4] = 9999;
    for (const dng::Image* copy : {n.fMonoCopy1.get(), n.fMonoCopy2.get(), n.Stage1Image()}) {
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->Width(), 5);
        EXPECT_EQ(At(*copy, 4, 2), Coord(4, 2));
    }

    n.fMonoCopy3 = MakeImage(4, 4, dng::PixelType::kUInt8, [](int32_t x, int32_t y) { return uint32_t(x + 10 * y); });
    n.RestoreMonoCopy3();
    n.fMonoCopy3->Row8(3)[3] = 0;
    ASSERT_EQ(n.fMonoImage->Type(), dng::PixelType::kUInt8);
    EXPECT_EQ(At(*n.fMonoImage, 3, 3), 33u);

    auto outside = MakeImage(3, 2, dng::PixelType::kUInt16, coords);
    n.SetStage1Image(*outside);
    n.RestoreStage2Image(*outside);
    outside->Row16(1)[2] = 1;
    EXPECT_EQ(At(*n.Stage1Image(), 2, 1), Coord(2, 1));
    EXPECT_EQ(At(*n.Stage2Image(), 2, 1), Coord(2, 1));
}

// --- Alignment to the colour pattern ------------------------------------------------------------

TEST(VrelNegativeAlign, OddActiveAreaOriginsMoveTheImage)
{
    struct Case {
        dng::Rect active; // top, left, bottom, right in the 64 x 48 fixture
        int32_t dx, dy;
    };
    const Case cases[] = {
        {{0, 0, 48, 64}, 0, 0},  {{2, 4, 48, 64}, 0, 0}, {{1, 0, 48, 64}, 0, 1},
        {{0, 1, 48, 64}, 1, 0},  {{3, 5, 47, 63}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "active area origin " << c.active.t << "," << c.active.l);
        fixtures::DngSpec spec;
        spec.activeArea = c.active;
        for (dng::PixelType type : {dng::PixelType::kUInt16, dng::PixelType::kUInt8}) {
            auto l = LoadSpec(spec, false);
            VrelNegative& n = *l->neg;
            const int32_t w = 7, h = 5;
            auto f = [&](int32_t x, int32_t y) {
                return type == dng::PixelType::kUInt16 ? Coord(x, y) : uint32_t(y * 16 + x);
            };
            auto before = MakeImage(w, h, type, f);
            n.SetStage1Image(*before);
            n.AlignStage1ToPattern(l->host);
            const dng::Image& after = *n.Stage1Image();
            ASSERT_EQ(after.Width(), w);
            ASSERT_EQ(after.Height(), h);
            ASSERT_EQ(after.Type(), type);
            // Every sample comes from dx columns right and dy rows down; the last row / column,
            // with nothing below / right of it, repeats the old last row / column.
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const int32_t sx = x + c.dx < w ? x + c.dx : w - 1;
                    const int32_t sy = y + c.dy < h ? y + c.dy : h - 1;
                    ASSERT_EQ(At(after, x, y), f(sx, sy)) << "at " << x << "," << y;
                }
            // The active area moves with the pixels and now starts on the pattern.
            const dng::Rect moved = n.GetLinearizationInfo()->fActiveArea;
            EXPECT_EQ(moved, dng::Rect(c.active.t - c.dy, c.active.l - c.dx, c.active.b - c.dy, c.active.r - c.dx));
        }
    }
}

TEST(VrelNegativeAlign, DegenerateSizesAndMissingStage1)
{
    fixtures::DngSpec spec;
    spec.activeArea = dng::Rect(1, 1, 48, 64);
    auto l = LoadSpec(spec, false);
    VrelNegative& n = *l->neg;
    ExpectErrorCode([&] { n.AlignStage1ToPattern(l->host); }, dng::kErrorUnknown);

    // One row, one column: nothing to move along that side, and nothing read outside.
    n.SetStage1Image(*MakeImage(4, 1, dng::PixelType::kUInt16, Coord));
    n.AlignStage1ToPattern(l->host);
    EXPECT_EQ(At(*n.Stage1Image(), 0, 0), Coord(1, 0));
    EXPECT_EQ(At(*n.Stage1Image(), 3, 0), Coord(3, 0));
    n.SetStage1Image(*MakeImage(1, 3, dng::PixelType::kUInt16, Coord));
    n.AlignStage1ToPattern(l->host);
    EXPECT_EQ(At(*n.Stage1Image(), 0, 0), Coord(0, 1));
    EXPECT_EQ(At(*n.Stage1Image(), 0, 2), Coord(0, 2));
}

TEST(VrelNegativeAlign, DecodedFileWithMaskedBorders)
{
    // A stored image with one masked row and column: after alignment the red photosite at the
    // active-area origin sits at an even stage-1 position the predicates call red.
    fixtures::DngSpec spec;
    spec.activeArea = dng::Rect(1, 1, 48, 64);
    const fixtures::DngFixture fx = fixtures::MakeDng(spec);
    auto l = LoadFixture(fx);
    l->neg->AlignStage1ToPattern(l->host);
    const dng::Image& s = *l->neg->Stage1Image();
    auto stored = [&](int32_t x, int32_t y) { return fx.stage1[size_t(y) * fx.width + size_t(x)]; };
    EXPECT_EQ(At(s, 0, 0), stored(1, 1));
    EXPECT_TRUE(l->neg->IsRedPixel(0, 0));
    EXPECT_EQ(At(s, 10, 20), stored(11, 21));
    EXPECT_EQ(At(s, 63, 47), stored(63, 47));
    EXPECT_EQ(At(s, 62, 47), stored(63, 47));
    EXPECT_EQ(At(s, 63, 46), stored(63, 47));
}

// --- Square-law expansion ---------------------------------------------------------------------

TEST(VrelNegativeSquareLaw, ExpandsEightAndSixteenBitValues)
{
    engine::VrelHost host;
    auto made = VrelNegative::Make(host);
    auto& n = dynamic_cast<VrelNegative&>(*made);
    ExpectErrorCode([&] { n.ExpandSquareLaw(); }, dng::kErrorUnknown);

    const std::vector<uint32_t> in8 = {0, 1, 2, 3, 4, 100, 254, 255};
    const std::vector<uint32_t> out8 = {0, 0, 1, 2, 4, 2500, 16129, 16256};
    n.SetStage1Image(*MakeImage(int32_t(in8.size()), 2, dng::PixelType::kUInt8,
                                [&](int32_t x, int32_t) { return in8[size_t(x)]; }));
    n.ExpandSquareLaw();
    ASSERT_EQ(n.Stage1Image()->Type(), dng::PixelType::kUInt16);
    ASSERT_EQ(n.Stage1Image()->Width(), int32_t(in8.size()));
    ASSERT_EQ(n.Stage1Image()->Height(), 2);
    for (size_t i = 0; i < in8.size(); ++i)
        for (int32_t y = 0; y < 2; ++y)
            EXPECT_EQ(At(*n.Stage1Image(), int32_t(i), y), out8[i]) << in8[i];

    // Beyond 511 the square no longer fits 16 bits.
    const std::vector<uint32_t> in16 = {0, 1, 3, 255, 510, 511, 512, 1000, 65535};
    const std::vector<uint32_t> out16 = {0, 0, 2, 16256, 65025, 65280, 65535, 65535, 65535};
    n.SetStage1Image(*MakeImage(int32_t(in16.size()), 1, dng::PixelType::kUInt16,
                                [&](int32_t x, int32_t) { return in16[size_t(x)]; }));
    n.ExpandSquareLaw();
    ASSERT_EQ(n.Stage1Image()->Type(), dng::PixelType::kUInt16);
    for (size_t i = 0; i < in16.size(); ++i)
        EXPECT_EQ(At(*n.Stage1Image(), int32_t(i), 0), out16[i]) << in16[i];
}

TEST(VrelNegativeSquareLaw, StageTwoAppliesTheCurveOnce)
{
    fixtures::DngSpec spec;
    spec.bitsPerSample = 8;
    const fixtures::DngFixture fx = fixtures::MakeDng(spec);
    ASSERT_FALSE(fx.linearizationTable.empty());
    auto l = LoadFixture(fx);
    VrelNegative& n = *l->neg;
    ASSERT_EQ(n.Stage1Image()->Type(), dng::PixelType::kUInt8);
    ASSERT_FALSE(n.GetLinearizationInfo()->fLinearizationTable.empty());

    n.ExpandSquareLaw();
    EXPECT_TRUE(n.GetLinearizationInfo()->fLinearizationTable.empty());
    EXPECT_EQ(n.GetLinearizationInfo()->fWhiteLevel[0], 16256.0);

    n.BuildStage2Image(l->host);
    const dng::Image& s2 = *n.Stage2Image();
    ASSERT_EQ(s2.Width(), int32_t(fx.width));
    ASSERT_EQ(s2.Height(), int32_t(fx.height));
    int bright = 0;
    for (int32_t y = 0; y < s2.Height(); ++y)
        for (int32_t x = 0; x < s2.Width(); ++x) {
            const uint32_t v = fx.stage1[size_t(y) * fx.width + size_t(x)];
            // The file's curve once, black 0, white 16256 scaled to 65535.
            const double linear = std::floor(double(v) * double(v) / 4.0);
            const auto expected = uint32_t(std::floor(linear * 65535.0 / 16256.0 + 0.5));
            ASSERT_EQ(At(s2, x, y), expected) << "at " << x << "," << y << " stored " << v;
            bright += v > 128 ? 1 : 0;
        }
    EXPECT_GT(bright, 0); // the fixture reaches the part of the curve a second pass would spoil
}

// --- Cropping ---------------------------------------------------------------------------------

TEST(VrelNegativeCrop, PlacesTheRectangleAndRefusesOutside)
{
    engine::VrelHost host;
    auto made = VrelNegative::Make(host);
    auto& n = dynamic_cast<VrelNegative&>(*made);
    ExpectErrorCode([&] { n.CropStage1(host, 0, 0, 1, 1); }, dng::kErrorUnknown);

    for (dng::PixelType type : {dng::PixelType::kUInt16, dng::PixelType::kUInt8}) {
        auto f = [&](int32_t x, int32_t y) {
            return type == dng::PixelType::kUInt16 ? Coord(x, y) : uint32_t(y * 16 + x);
        };
        n.SetStage1Image(*MakeImage(10, 8, type, f));
        n.CropStage1(host, 3, 2, 4, 5);
        const dng::Image& c = *n.Stage1Image();
        ASSERT_EQ(c.Width(), 4);
        ASSERT_EQ(c.Height(), 5);
        ASSERT_EQ(c.Type(), type);
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 4; ++x)
                EXPECT_EQ(At(c, x, y), f(x + 3, y + 2));

        // The whole image and the last pixel are inside.
        n.SetStage1Image(*MakeImage(10, 8, type, f));
        n.CropStage1(host, 0, 0, 10, 8);
        EXPECT_EQ(At(*n.Stage1Image(), 9, 7), f(9, 7));
        n.CropStage1(host, 9, 7, 1, 1);
        EXPECT_EQ(At(*n.Stage1Image(), 0, 0), f(9, 7));
    }

    n.SetStage1Image(*MakeImage(10, 8, dng::PixelType::kUInt16, Coord));
    const int32_t big = std::numeric_limits<int32_t>::max();
    const int32_t bad[][4] = {
        {-1, 0, 4, 4}, {0, -1, 4, 4}, {7, 0, 4, 4}, {0, 5, 4, 4}, {0, 0, 11, 8}, {0, 0, 10, 9},
        {0, 0, 0, 4},  {0, 0, 4, 0},  {0, 0, -4, 4}, {10, 0, 1, 1}, {2, 2, big, 1}, {2, 2, 1, big},
    };
    for (const auto& r : bad) {
        ExpectErrorCode([&] { n.CropStage1(host, r[0], r[1], r[2], r[3]); }, dng::kErrorBadFormat);
        // A refused crop leaves stage 1 as it was.
        ASSERT_EQ(n.Stage1Image()->Width(), 10);
        ASSERT_EQ(At(*n.Stage1Image(), 9, 7), Coord(9, 7));
    }
}

// --- White balance ----------------------------------------------------------------------------

struct WhiteSample {
    const char* file;
    double neutral[3]; // AsShotNeutral
    double sceneKelvin;
};

// From the sample manifest.
const WhiteSample kWhiteSamples[] = {
    {"m9-16bit-rggb.dng", {0.42298, 1, 0.812886}, 5600},
    {"m9-8bit-squarelaw.dng", {0.437037, 1, 0.775619}, 5200},
    {"d800-3000x2000.dng", {0.457041, 1, 0.806737}, 6000},
    {"5d3-2400x1600.dng", {0.505024, 1, 0.594866}, 5000},
    {"sony-a7s-bggr.dng", {0.361366, 1, 0.70018}, 6500},
    {"leica-t-warp.dng", {0.356901, 1, 0.740446}, 6200},
    {"leica-m240-jpegpreview.dng", {0.428748, 1, 0.697581}, 4800},
    {"d200-grbg.dng", {0.439706, 1, 0.862779}, 7000},
};

TEST(VrelNegativeWhiteBalance, SamplesAtTheirAsShotTemperature)
{
    for (const WhiteSample& ws : kWhiteSamples) {
        SCOPED_TRACE(ws.file);
        const std::string path = fixtures::SamplePath(ws.file);
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "no sample " << path;
        auto l = LoadSample(path);
        VrelNegative& n = *l->neg;

        const double asShot = n.AsShotTemperature();
        EXPECT_NEAR(asShot, ws.sceneKelvin, 0.002 * ws.sceneKelvin);

        // At the file's own temperature (the tint kept) the multipliers are the as-shot ones.
        n.CalcWhiteBalanceRatios(asShot - 0.5);
        EXPECT_NEAR(n.fRedBalance, ws.neutral[1] / ws.neutral[0], 1e-4);
        EXPECT_NEAR(n.fBlueBalance, ws.neutral[1] / ws.neutral[2], 1e-4);

        // Warmer light: blue needs more gain, red less.
        const double red = n.fRedBalance;
        const double blue = n.fBlueBalance;
        n.CalcWhiteBalanceRatios(asShot - 1000.0);
        EXPECT_GT(n.fBlueBalance, blue * 1.05);
        EXPECT_LT(n.fRedBalance, red / 1.05);
        n.CalcWhiteBalanceRatios(asShot + 1000.0);
        EXPECT_LT(n.fBlueBalance, blue);
        EXPECT_GT(n.fRedBalance, red);
    }
}

// Correlated colour temperature by McCamy's cubic, good to a few kelvin near daylight.
double McCamy(double x, double y)
{
    const double k = (x - 0.3320) / (0.1858 - y);
    return ((449.0 * k + 3525.0) * k + 6823.3) * k + 5520.33;
}

TEST(VrelNegativeWhiteBalance, WhiteChromaticityAndDaylightFallback)
{
    // A file that stores its white as xy (D55).
    fixtures::DngSpec xySpec;
    xySpec.asShotWhiteXY = std::array<dng::URational, 2>{dng::URational{3324, 10000}, dng::URational{3474, 10000}};
    auto xy = LoadSpec(xySpec, false);
    ASSERT_FALSE(xy->neg->HasCameraNeutral());
    EXPECT_NEAR(xy->neg->AsShotTemperature(), McCamy(0.3324, 0.3474), 10.0);

    // A file with no usable neutral (one entry 0) and no white xy falls back to D65, and so
    // behaves exactly like a file that stores D65 as its white.
    fixtures::DngSpec noneSpec;
    noneSpec.asShotNeutral = {{0, 1}, {1, 1}, {681, 1000}};
    auto none = LoadSpec(noneSpec, false);
    ASSERT_FALSE(none->neg->HasCameraNeutral());
    ASSERT_FALSE(none->neg->HasCameraWhiteXY());
    EXPECT_NEAR(none->neg->AsShotTemperature(), McCamy(0.3127, 0.3290), 10.0);

    fixtures::DngSpec d65Spec;
    d65Spec.asShotWhiteXY = std::array<dng::URational, 2>{dng::URational{3127, 10000}, dng::URational{3290, 10000}};
    auto d65 = LoadSpec(d65Spec, false);
    EXPECT_EQ(none->neg->AsShotTemperature(), d65->neg->AsShotTemperature());
    for (double kelvin : {3200.0, 5000.0, 6500.0, 9000.0}) {
        none->neg->CalcWhiteBalanceRatios(kelvin);
        d65->neg->CalcWhiteBalanceRatios(kelvin);
        for (double m : {none->neg->fRedBalance, none->neg->fBlueBalance}) {
            EXPECT_TRUE(std::isfinite(m));
            EXPECT_GT(m, 0.0);
        }
        EXPECT_NE(none->neg->fRedBalance, 1.0);
        EXPECT_EQ(none->neg->fRedBalance, d65->neg->fRedBalance) << kelvin;
        EXPECT_EQ(none->neg->fBlueBalance, d65->neg->fBlueBalance) << kelvin;
    }
}

TEST(VrelNegativeWhiteBalance, MonochromeAndBadMatrices)
{
    fixtures::DngSpec monoSpec;
    monoSpec.mosaic = fixtures::Mosaic::kLinearRaw;
    monoSpec.linearSamples = 1;
    auto mono = LoadSpec(monoSpec, false);
    ASSERT_EQ(mono->neg->ColorChannels(), 1u);
    mono->neg->fRedBalance = 1.25;
    mono->neg->fBlueBalance = 0.75;
    EXPECT_NO_THROW(mono->neg->CalcWhiteBalanceRatios(4000.0));
    EXPECT_EQ(mono->neg->fRedBalance, 1.25);
    EXPECT_EQ(mono->neg->fBlueBalance, 0.75);

    // A colour matrix that cannot be inverted: the error reaches the caller and the
    // multipliers stay.
    fixtures::DngSpec badSpec;
    badSpec.colorMatrix1.assign(9, dng::SRational{0, 1});
    badSpec.colorMatrix2.assign(9, dng::SRational{0, 1});
    auto bad = LoadSpec(badSpec, false);
    bad->neg->fRedBalance = 2.0;
    bad->neg->fBlueBalance = 1.5;
    EXPECT_THROW(bad->neg->CalcWhiteBalanceRatios(5000.0), dng::Error);
    EXPECT_THROW(bad->neg->AsShotTemperature(), dng::Error);
    EXPECT_EQ(bad->neg->fRedBalance, 2.0);
    EXPECT_EQ(bad->neg->fBlueBalance, 1.5);
}

} // namespace
