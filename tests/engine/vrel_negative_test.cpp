#include "engine/vrel_negative.h"

#include "dng/error.h"
#include "dng/image.h"
#include "dng/info.h"
#include "dng/stream.h"
#include "fixtures/dng_fixture.h"
#include "fixtures/samples.h"
#include "negative_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using engine::VrelNegative;
constexpr dng::PixelType kU8 = dng::PixelType::kUInt8, kU16 = dng::PixelType::kUInt16;

// The default fixture description, changed by f.
template <typename F>
fixtures::DngSpec Desc(F f)
{
    fixtures::DngSpec d;
    f(d);
    return d;
}

// A negative parsed from fixture bytes (stage 1 decoded when asked) or from a sample file.
using Loaded = enginetest::ParsedNegative;

std::unique_ptr<Loaded> Load(std::vector<uint8_t> bytes, bool decode = false, const std::string& path = "")
{
    return path.empty() ? enginetest::FromBytes<Loaded>(std::move(bytes), decode)
                        : enginetest::FromFile<Loaded>(path, decode);
}

std::unique_ptr<Loaded> Load(const fixtures::DngSpec& desc) { return Load(fixtures::MakeDng(desc).bytes); }

// A negative made by the host and never parsed.
struct Bare {
    engine::VrelHost host;
    std::unique_ptr<dng::Negative> made = host.Make_dng_negative();
    VrelNegative& n = dynamic_cast<VrelNegative&>(*made);
};

// A one-plane image whose every sample is f(x, y).
std::unique_ptr<dng::Image> MakeImage(int32_t w, int32_t h, dng::PixelType type, const std::function<uint32_t(int32_t, int32_t)>& f)
{
    auto img = std::make_unique<dng::Image>(w, h, 1, type);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            type == kU16 ? void(img->Row16(y)[x] = uint16_t(f(x, y))) : void(img->Row8(y)[x] = uint8_t(f(x, y)));
    return img;
}

uint32_t At(const dng::Image& img, int32_t x, int32_t y) { return img.Type() == kU16 ? img.Row16(y)[x] : img.Row8(y)[x]; }

// (x, y) coded into one sample so that every position is told apart (fits 8 bits for 16 x 16).
uint32_t Coord(int32_t x, int32_t y, dng::PixelType type = kU16) { return uint32_t(y) * (type == kU16 ? 256u : 16u) + uint32_t(x); }

template <typename F>
int ErrorCode(F&& f)
{
    try {
        f();
    } catch (const dng::Error& e) {
        return e.Code();
    }
    return 0;
}

// What the predicates say at (col, row): a letter for each yes (R, B, G, 1 = G1, 2 = G2).
std::string Answers(const VrelNegative& n, int32_t c, int32_t r)
{
    return std::string(n.IsRedPixel(c, r) ? "R" : "") + (n.IsBluePixel(c, r) ? "B" : "") + (n.IsGreenPixel(c, r) ? "G" : "") +
           (n.IsG1Pixel(c, r) ? "1" : "") + (n.IsG2Pixel(c, r) ? "2" : "");
}

TEST(VrelNegativePredicates, AllFourBayerLayoutsNoPatternAndNegativeCoordinates)
{
    struct Case {
        fixtures::Mosaic mosaic;
        const char* cells[2][2]; // [row % 2][col % 2]
    };
    // G1 shares its row with red, G2 with blue, in every layout; no mosaic, no colours.
    const Case cases[] = {
        {fixtures::Mosaic::kRGGB, {{"R", "G1"}, {"G2", "B"}}},
        {fixtures::Mosaic::kBGGR, {{"B", "G2"}, {"G1", "R"}}},
        {fixtures::Mosaic::kGRBG, {{"G1", "R"}, {"B", "G2"}}},
        {fixtures::Mosaic::kGBRG, {{"G2", "B"}, {"R", "G1"}}},
        {fixtures::Mosaic::kLinearRaw, {{"", ""}, {"", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.mosaic));
        auto l = Load(Desc([&](auto& d) { d.mosaic = c.mosaic; }));
        for (int32_t row = 0; row < 4; ++row)
            for (int32_t col = 0; col < 4; ++col)
                EXPECT_EQ(Answers(*l->neg, col, row), c.cells[row % 2][col % 2]) << "at " << col << "," << row;
        EXPECT_EQ(Answers(*l->neg, 40001, 30000), c.cells[0][1]);
        for (auto [col, row] : {std::pair{-1, 0}, {0, -1}, {-2, -2}, {-3, 4}, {std::numeric_limits<int32_t>::min(), 0}})
            EXPECT_EQ(Answers(*l->neg, col, row), "") << "at " << col << "," << row;
    }
    EXPECT_EQ(Answers(Bare().n, 0, 0), "");
}

TEST(VrelNegativeMake, GammaTables)
{
    Bare b;
    const auto &g22 = b.n.fGammaTable22, &g18 = b.n.fGammaTable18;
    // 255 * (i / 49152)^(1/2.2) and ^(1/1.8), rounded: at half way 186.08 and 173.5007 (up, just).
    for (auto [i, v22, v18] : {std::tuple<size_t, uint32_t, uint32_t>{0, 0, 0}, {1, 2, 1}, {768, 39, 25}, {24576, 186, 174},
                               {VrelNegative::kGammaEntries - 1, 255, 255}})
        EXPECT_TRUE(g22[i] == v22 && g18[i] == v18) << i << ": " << g22[i] << " " << g18[i];
    for (size_t i = 1; i < VrelNegative::kGammaEntries; ++i) // 1/2.2 lifts the shadows more than 1/1.8
        ASSERT_TRUE(g22[i - 1] <= g22[i] && g18[i - 1] <= g18[i] && g22[i] >= g18[i]) << i;
}

// A stage 1 whose active area starts on an odd column or row moves so that the area starts on the
// pattern: every sample comes from dx columns right and dy rows down (the last column / row
// repeats), and the area moves with it; one row or column has nothing to move along that side.
TEST(VrelNegativeAlign, OddActiveAreaOriginsMoveTheImageAndTheArea)
{
    const std::tuple<dng::Rect, int32_t, int32_t> cases[] = { // active area in the 64 x 48 fixture, dx, dy
        {{0, 0, 48, 64}, 0, 0}, {{2, 4, 48, 64}, 0, 0}, {{1, 0, 48, 64}, 0, 1}, {{0, 1, 48, 64}, 1, 0}, {{3, 5, 47, 63}, 1, 1}};
    for (const auto& [active, dx, dy] : cases)
        for (dng::PixelType type : {kU16, kU8})
            for (auto [w, h] : {std::pair{7, 5}, {4, 1}, {1, 3}}) {
                SCOPED_TRACE(testing::Message() << "origin " << active.t << "," << active.l << " size " << w << "x" << h);
                auto l = Load(Desc([&](auto& d) { d.activeArea = active; }));
                auto f = [type](int32_t x, int32_t y) { return Coord(x, y, type); };
                l->neg->SetStage1Image(*MakeImage(w, h, type, f));
                l->neg->AlignStage1ToPattern(l->host);
                const dng::Image& after = *l->neg->Stage1Image();
                ASSERT_TRUE(after.Width() == w && after.Height() == h && after.Type() == type);
                const int32_t sx = std::min(dx, w - 1), sy = std::min(dy, h - 1);
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x)
                        ASSERT_EQ(At(after, x, y), f(std::min(x + sx, w - 1), std::min(y + sy, h - 1))) << x << "," << y;
                EXPECT_EQ(l->neg->GetLinearizationInfo()->fActiveArea,
                          dng::Rect(active.t - sy, active.l - sx, active.b - sy, active.r - sx));
            }
}

// The 8-bit file's curve becomes 16-bit values and leaves the file's description, so that stage 2
// applies it once; 16-bit values square, clipped beyond 511.
TEST(VrelNegativeSquareLaw, ExpandsOnceAndClips)
{
    const fixtures::DngFixture fx = fixtures::MakeDng(Desc([](auto& d) { d.bitsPerSample = 8; })); // table floor(i * i / 4)
    auto l = Load(fx.bytes, true);
    VrelNegative& n = *l->neg;
    ASSERT_EQ(n.Stage1Image()->Type(), kU8);
    n.ExpandSquareLaw();
    EXPECT_TRUE(n.GetLinearizationInfo()->fLinearizationTable.empty());
    EXPECT_EQ(n.GetLinearizationInfo()->fWhiteLevel[0], 16256.0);
    n.BuildStage2Image(l->host);
    const dng::Image& s2 = *n.Stage2Image();
    ASSERT_TRUE(s2.Width() == int32_t(fx.width) && s2.Height() == int32_t(fx.height));
    int bright = 0; // stored values that a second pass of the curve would spoil
    for (int32_t y = 0; y < s2.Height(); ++y)
        for (int32_t x = 0; x < s2.Width(); ++x) {
            const double v = fx.stage1[size_t(y) * fx.width + size_t(x)];
            ASSERT_EQ(At(s2, x, y), uint32_t(std::floor(std::floor(v * v / 4.0) * 65535.0 / 16256.0 + 0.5))) << x << "," << y;
            bright += v > 128;
        }
    EXPECT_GT(bright, 0);

    const std::vector<uint32_t> in = {0, 1, 3, 255, 510, 511, 512, 1000, 65535}, out = {0, 0, 2, 16256, 65025, 65280, 65535, 65535, 65535};
    n.SetStage1Image(*MakeImage(int32_t(in.size()), 1, kU16, [&in](int32_t x, int32_t) { return in[size_t(x)]; }));
    n.ExpandSquareLaw();
    for (size_t i = 0; i < in.size(); ++i)
        EXPECT_EQ(At(*n.Stage1Image(), int32_t(i), 0), out[i]) << in[i];
}

TEST(VrelNegativeCrop, PlacesTheRectangleAndRefusesOutside)
{
    Bare b;
    VrelNegative& n = b.n;
    EXPECT_EQ(ErrorCode([&] { n.CropStage1(b.host, 0, 0, 1, 1); }), dng::kErrorUnknown); // no stage 1
    for (dng::PixelType type : {kU16, kU8}) {
        auto f = [type](int32_t x, int32_t y) { return Coord(x, y, type); };
        for (auto [l, t, w, h] : {std::array{3, 2, 4, 5}, {0, 0, 10, 8}, {9, 7, 1, 1}}) {
            n.SetStage1Image(*MakeImage(10, 8, type, f));
            n.CropStage1(b.host, l, t, w, h);
            const dng::Image& c = *n.Stage1Image();
            ASSERT_TRUE(c.Width() == w && c.Height() == h && c.Type() == type);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    EXPECT_EQ(At(c, x, y), f(x + l, y + t));
        }
    }
    n.SetStage1Image(*MakeImage(10, 8, kU16, [](int32_t x, int32_t y) { return Coord(x, y); }));
    const int32_t big = std::numeric_limits<int32_t>::max();
    for (auto [l, t, w, h] : {std::array{-1, 0, 4, 4}, {0, -1, 4, 4}, {7, 0, 4, 4}, {0, 5, 4, 4}, {0, 0, 11, 8}, {0, 0, 10, 9},
                              {0, 0, 0, 4}, {0, 0, 4, 0}, {0, 0, -4, 4}, {10, 0, 1, 1}, {2, 2, big, 1}, {2, 2, 1, big}}) {
        EXPECT_EQ(ErrorCode([&] { n.CropStage1(b.host, l, t, w, h); }), dng::kErrorBadFormat);
        ASSERT_EQ(At(*n.Stage1Image(), 9, 7), Coord(9, 7)); // stage 1 stays as it was
    }
}

TEST(VrelNegativeWhiteBalance, SamplesAtTheirAsShotTemperature)
{
    // AsShotNeutral and scene temperature from the sample manifest.
    const std::tuple<const char*, std::array<double, 3>, double> samples[] = {
        {"m9-16bit-rggb.dng", {0.42298, 1, 0.812886}, 5600},   {"m9-8bit-squarelaw.dng", {0.437037, 1, 0.775619}, 5200},
        {"d800-3000x2000.dng", {0.457041, 1, 0.806737}, 6000}, {"5d3-2400x1600.dng", {0.505024, 1, 0.594866}, 5000},
        {"sony-a7s-bggr.dng", {0.361366, 1, 0.70018}, 6500},   {"leica-t-warp.dng", {0.356901, 1, 0.740446}, 6200},
        {"leica-m240-jpegpreview.dng", {0.428748, 1, 0.697581}, 4800}, {"d200-grbg.dng", {0.439706, 1, 0.862779}, 7000},
    };
    for (const auto& [file, neutral, kelvin] : samples) {
        SCOPED_TRACE(file);
        auto l = Load({}, false, fixtures::SamplePath(file));
        VrelNegative& n = *l->neg;
        const double asShot = n.AsShotTemperature();
        EXPECT_NEAR(asShot, kelvin, 0.002 * kelvin);
        // At the file's own temperature the multipliers are the as-shot ones; warmer light needs
        // more blue gain and less red, cooler light the opposite.
        n.CalcWhiteBalanceRatios(asShot - 0.5);
        const double red = n.fRedBalance, blue = n.fBlueBalance;
        EXPECT_NEAR(red, neutral[1] / neutral[0], 1e-4);
        EXPECT_NEAR(blue, neutral[1] / neutral[2], 1e-4);
        n.CalcWhiteBalanceRatios(asShot - 1000.0);
        EXPECT_TRUE(n.fBlueBalance > blue * 1.05 && n.fRedBalance < red / 1.05);
        n.CalcWhiteBalanceRatios(asShot + 1000.0);
        EXPECT_TRUE(n.fBlueBalance < blue && n.fRedBalance > red);
    }
}

TEST(VrelNegativeWhiteBalance, WhiteChromaticityAndDaylightFallback)
{
    // McCamy's cubic, good to a few kelvin near daylight.
    auto mcCamy = [](double x, double y) {
        const double k = (x - 0.3320) / (0.1858 - y);
        return ((449.0 * k + 3525.0) * k + 6823.3) * k + 5520.33;
    };
    auto white = [](uint32_t x, uint32_t y) {
        return Load(Desc([&](auto& d) { d.asShotWhiteXY = std::array{dng::URational{x, 10000}, dng::URational{y, 10000}}; }));
    };
    auto d55 = white(3324, 3474);
    ASSERT_FALSE(d55->neg->HasCameraNeutral());
    EXPECT_NEAR(d55->neg->AsShotTemperature(), mcCamy(0.3324, 0.3474), 10.0);

    // No usable neutral (one entry 0) and no white xy: D65, exactly as a file that stores D65.
    auto none = Load(Desc([](auto& d) { d.asShotNeutral = {{0, 1}, {1, 1}, {681, 1000}}; })), d65 = white(3127, 3290);
    ASSERT_FALSE(none->neg->HasCameraNeutral() || none->neg->HasCameraWhiteXY());
    EXPECT_NEAR(none->neg->AsShotTemperature(), mcCamy(0.3127, 0.3290), 10.0);
    EXPECT_EQ(none->neg->AsShotTemperature(), d65->neg->AsShotTemperature());
    for (double kelvin : {3200.0, 6500.0, 9000.0}) {
        none->neg->CalcWhiteBalanceRatios(kelvin);
        d65->neg->CalcWhiteBalanceRatios(kelvin);
        EXPECT_TRUE(std::isfinite(none->neg->fRedBalance) && none->neg->fRedBalance > 0.0 && none->neg->fRedBalance != 1.0);
        EXPECT_EQ(none->neg->fRedBalance, d65->neg->fRedBalance) << kelvin;
        EXPECT_EQ(none->neg->fBlueBalance, d65->neg->fBlueBalance) << kelvin;
    }
}

TEST(VrelNegativeWhiteBalance, SingularColourMatricesAreRefusedAndTheMultipliersKept)
{
    auto l = Load(Desc([](auto& d) { d.colorMatrix1.assign(9, dng::SRational{0, 1}); d.colorMatrix2 = d.colorMatrix1; }));
    l->neg->fRedBalance = 1.25;
    EXPECT_THROW(l->neg->CalcWhiteBalanceRatios(5000.0), dng::Error);
    EXPECT_THROW(l->neg->AsShotTemperature(), dng::Error);
    EXPECT_EQ(l->neg->fRedBalance, 1.25);
}

} // namespace
