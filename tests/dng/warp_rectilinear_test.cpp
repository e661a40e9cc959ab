// WarpRectilinear: stored parameters, the mapping, its use per plane, the one-plane rewrite.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/warp_rectilinear.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>

namespace {

using Set = std::array<double, 6>; // kr0 kr1 kr2 kr3 kt0 kt1
const Set kIdentity{1, 0, 0, 0, 0, 0}, kShrink{0.9, 0, 0, 0, 0, 0};

// Parameter bytes as a file stores them (big-endian): N, N sets, the centre.
std::vector<uint8_t> Params(const std::vector<Set>& sets, double cx = 0.5, double cy = 0.5)
{
    std::vector<double> values;
    for (const Set& s : sets)
        values.insert(values.end(), s.begin(), s.end());
    values.insert(values.end(), {cx, cy});
    std::vector<uint8_t> out = {0, 0, 0, uint8_t(sets.size())};
    for (double v : values)
        for (int i = 7; i >= 0; --i)
            out.push_back(uint8_t(std::bit_cast<uint64_t>(v) >> (8 * i)));
    return out;
}

dng::WarpRectilinear Warp(const std::vector<Set>& sets, double cx = 0.5, double cy = 0.5)
{
    return dng::WarpRectilinear::Parse(Params(sets, cx, cy));
}

TEST(WarpRectilinear, RefusesBadCountsSizesNumbersAndOtherOpcodes)
{
    std::vector<uint8_t> good = Params({kIdentity, kIdentity}), shortBy1(good.begin(), good.end() - 1), longBy1 = good;
    longBy1.push_back(0);
    for (const auto& p : {shortBy1, longBy1, std::vector<uint8_t>{0, 0, 1}, Params({}), Params(std::vector(5, kIdentity)),
                          Params({{1, NAN, 0, 0, 0, 0}}), Params({kIdentity, {1, 0, 0, 0, 0, -HUGE_VAL}}), Params({kIdentity}, 0.5, HUGE_VAL)})
        EXPECT_THROW(dng::WarpRectilinear::Parse(p), dng::Error) << p.size();
    EXPECT_THROW(dng::WarpRectilinear::Parse(dng::Opcode{dng::kOpcodeWarpFisheye, 0x01030000, 0, good}), dng::Error);
}

TEST(WarpRectilinear, RadialAndTangentialTermsAndPixelAspect)
{
    // A horizontal ramp shows where each output pixel read from. Centre (100.5, 50.5), m = 112.4744:
    // column 150 reads 50 (1 + 0.5 (50 / m)^2) to the right of it, column 50 as far to the left.
    dng::Host host;
    dng::Image img(201, 101, 1, dng::PixelType::kUInt16);
    for (int32_t i = 0; i < 201 * 101; ++i)
        img.Row16(i / 201)[i % 201] = static_cast<uint16_t>(100 * (i % 201) + 1000);
    Warp({{1, 0.5, 0, 0, 0, 0}}).Apply(host, img);
    EXPECT_NEAR(img.Row16(50)[150], 100 * 154.9405 + 1000, 1.0);
    EXPECT_NEAR(img.Row16(50)[50], 100 * 45.0595 + 1000, 1.0);
    // On the horizontal axis kt0 moves a point vertically by m kt0 dx^2, kt1 horizontally by m kt1 3 dx^2.
    const double m = std::hypot(100.5, 50.5), dx2 = (50 / m) * (50 / m);
    const auto p = Warp({{1, 0, 0, 0, 0.01, 0.02}}).SourcePoint(0, 201, 101, 1.0, 150, 50);
    EXPECT_NEAR(p.x, 150.5 + m * 0.02 * 3 * dx2, 1e-9);
    EXPECT_NEAR(p.y, 50.5 + m * 0.01 * dx2, 1e-9);
    // Pixels half as wide as tall: 25 rows are as far as 50 columns, so both move by one fraction.
    const auto radial = Warp({{1, 0.3, 0.1, 0, 0, 0}});
    const auto right = radial.SourcePoint(0, 201, 101, 0.5, 150, 50), below = radial.SourcePoint(0, 201, 101, 0.5, 100, 75);
    EXPECT_EQ(std::pair(right.y, below.x), std::pair(50.5, 100.5));
    EXPECT_GT(right.x - 100.5, 50.5);
    EXPECT_NEAR((right.x - 100.5) / 50.0, (below.y - 50.5) / 25.0, 1e-12);
    EXPECT_THROW(radial.Apply(host, img, 0.0), dng::Error);
}

TEST(WarpRectilinear, EachPlaneUsesItsOwnSetOrTheFirstAndIdentityChangesNothing)
{
    dng::Host host;
    auto plane = [](const dng::Image& i, uint32_t p) { return std::vector(i.Data() + p * i.PlaneBytes(), i.Data() + (p + 1) * i.PlaneBytes()); };
    for (dng::PixelType type : {dng::PixelType::kUInt16, dng::PixelType::kUInt8})
        for (double aspect : {1.0, 0.5, 1.5}) {
            dng::Image before(41, 29, 3, type), grey(41, 29, 1, type);
            for (uint32_t i = 0, state = 1; i < before.PlaneBytes() * 3; ++i)
                before.Data()[i] = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
            auto img = before.Clone();
            Warp({kIdentity, kShrink, kIdentity}, 0.2, 0.7).Apply(host, *img, aspect);
            EXPECT_EQ(plane(*img, 0), plane(before, 0)) << aspect;
            EXPECT_NE(plane(*img, 1), plane(before, 1)) << aspect;
            EXPECT_EQ(plane(*img, 2), plane(before, 2)) << aspect;
            std::copy(before.Data(), before.Data() + before.PlaneBytes(), grey.Data());
            Warp({kIdentity, kShrink}).Apply(host, grey); // one plane: the first of two sets
            EXPECT_EQ(plane(grey, 0), plane(before, 0));
            // Sources far outside or not numbers read only edge pixels (the sanitizers watch).
            for (const Set& wild : {Set{5, 0, 0, 0, 0, 0}, Set{1e300, -1e300, 1e300, 0, 1e300, -1e300}})
                EXPECT_NO_THROW(Warp({wild}, 0.0, 1.0).Apply(host, grey));
        }
}

TEST(WarpRectilinear, OnePlaneRewriteKeepsTheGreenSetOfThreeOrTheOnlySet)
{
    const Set red{1.0004, -0.03, 0.004, 0, 0, 0}, green{1, -0.02, 0.003, 0, 0.001, 0}, blue{0.999, -0.01, 0, 0, 0, 0};
    const auto op = [](const std::vector<Set>& sets) { return dng::Opcode{dng::kOpcodeWarpRectilinear, 0x01030000, 1, Params(sets, 0.4, 0.6)}; };
    const dng::Opcode one = dng::RewriteForOnePlane(op({red, green, blue}));
    EXPECT_EQ(one.params, Params({green}, 0.4, 0.6));
    EXPECT_EQ(std::pair(one.dngVersion, one.flags), std::pair(0x01030000u, 1u));
    EXPECT_EQ(dng::RewriteForOnePlane(op({red})).params, Params({red}, 0.4, 0.6));
    for (size_t n : {2, 4}) // neither of two or four sets stands for the whole image
        EXPECT_THROW(dng::RewriteForOnePlane(op(std::vector(n, kIdentity))), dng::Error) << n;

    // The other warps by the same rule, from their stored bytes: WarpFisheye (4 doubles a set,
    // then the centre). One set is kept as it is; two sets, a size that does not add up and an
    // opcode that is no warp are refused.
    const auto fisheye = [](uint32_t sets, size_t size) {
        std::vector<uint8_t> p(size, 0);
        p[3] = uint8_t(sets);
        for (size_t i = 4; i < size; ++i)
            p[i] = uint8_t(i);
        return dng::Opcode{dng::kOpcodeWarpFisheye, 0x01030000, 0, p};
    };
    const dng::Opcode three = fisheye(3, 4 + 96 + 16);
    const dng::Opcode reduced = dng::RewriteWarpForOnePlane(three);
    ASSERT_EQ(reduced.params.size(), 4u + 32 + 16);
    EXPECT_EQ(reduced.params[3], 1);
    EXPECT_TRUE(std::equal(reduced.params.begin() + 4, reduced.params.begin() + 36, three.params.begin() + 36));
    EXPECT_TRUE(std::equal(reduced.params.begin() + 36, reduced.params.end(), three.params.begin() + 100));
    EXPECT_EQ(dng::RewriteWarpForOnePlane(fisheye(1, 52)).params, fisheye(1, 52).params);
    EXPECT_THROW(dng::RewriteWarpForOnePlane(fisheye(2, 4 + 64 + 16)), dng::Error);
    EXPECT_THROW(dng::RewriteWarpForOnePlane(fisheye(3, 4 + 96 + 15)), dng::Error);
    EXPECT_THROW(dng::RewriteWarpForOnePlane(dng::Opcode{dng::kOpcodeFixVignetteRadial, 0, 0, {}}), dng::Error);
    EXPECT_EQ(dng::RewriteWarpForOnePlane(op({red, green, blue})).params, one.params);
}

} // namespace

// A reader needs a source area inside the image for every tile of output pixels, and source points
// its integer coordinates can hold.
TEST(WarpRectilinear, SourceAreaRule)
{
    const Set kLens{1.0004, -0.03, 0.004, 0, 0, 0};
    const struct {
        Set set;
        double cx, aspect;
        int32_t width, height;
        const char* problem; // a part of the answer, or null for none
    } cases[] = {
        {kIdentity, 0.5, 1.0, 1024, 768, nullptr},
        {kLens, 0.5, 1.0, 2400, 1600, nullptr},
        {kLens, 0.5, 2.0, 2400, 800, nullptr},
        // Below 8 pixels a side the resampling kernel has little or no room inside the image.
        {kIdentity, 0.5, 1.0, 8, 8, nullptr},
        {kIdentity, 0.5, 1.0, 1, 1, "too small to correct"},
        {kLens, 0.5, 1.0, 3, 1600, "3 x 1600 pixels is too small"},
        {kLens, 0.5, 1.0, 2400, 7, "too small"},
        {{1e-300, 0, 0, 0, 0, 0}, 0.5, 1.0, 1024, 768, nullptr}, // everything from the centre
        // Everything from the left edge, where the resampling kernel does not fit inside.
        {{1e-300, 0, 0, 0, 0, 0}, 0.0, 1.0, 64, 48, "no source area"},
        {kShrink, 0.0, 1.0, 1024, 768, nullptr},
        // The corner tiles read only from beyond the image's corners.
        {{2.5, 0, 0, 0, 0, 0}, 0.5, 1.0, 1024, 768, "no source area"},
        {{4.0, 0, 0, 0, 0, 0}, 0.5, 1.0, 1024, 768, "far outside"},
        {{1.0, 0, 0, 0, 0.9, 0}, 0.5, 1.0, 1024, 768, "far outside"},
        {{1e20, 0, 0, 0, 0, 0}, 0.5, 1.0, 64, 48, "far outside"},
        {{1.0, 0, 0, 1e12, 0, 0}, 0.5, 1.0, 64, 48, "far outside"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.set[0] << " " << c.set[3] << " " << c.set[4] << " " << c.width);
        const std::string problem = Warp({c.set}, c.cx).SourceAreaProblem(c.width, c.height, c.aspect);
        if (c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
}

// Every coefficient set must map outward all the way to the corner: a radial mapping that is not
// positive folds the picture through its centre, one that shrinks it about 100-fold overflows a
// reader's source area, one that turns back folds it over itself. The lines between are exact:
// the smallest values lie at the ends or where a derivative is 0, also inside (0, 1).
TEST(WarpRectilinear, RadialMappingRule)
{
    const Set kRed{1.0004, -0.03, 0.004, 0, 0, 0}, kGreen{1.0, -0.03, 0.004, 0, 0, 0};
    const struct {
        Set set;
        const char* problem; // a part of the answer about the second set, or null for none
    } cases[] = {
        {kIdentity, nullptr},
        {kShrink, nullptr},
        {{1.2, 0.3, -0.1, 0.02, 0.01, -0.01}, nullptr},
        // The lens sample's green set with kr0 = 0 or kr3 = -1.95: the picture folded.
        {{0, -0.03, 0.004, 0, 0, 0}, "plane 1 is not positive at r = 1.00"},
        {{1.0, -0.03, 0.004, -1.95, 0, 0}, "plane 1 is not positive at r = 1.00"},
        {{-0.5, 0.6, 0.4, 0, 0, 0}, "not positive near the centre"},
        // Positive at both ends, below 0 between them (g(s) = 1 - 4.2 s + 4 s^2, least at s = 0.525).
        {{1.0, -4.2, 4.0, 0, 0, 0}, "not positive at r = 0.72"},
        // f(r) / r: 0.02 at the least is taken, a little less shrinks more than 50-fold.
        {{0.02, 0, 0, 0, 0, 0}, nullptr},
        {{0.0199, 0, 0, 0, 0, 0}, "shrinks the picture more than 50-fold"},
        {{0.0372, -0.03, 0.004, 0, 0, 0}, "more than 50-fold at r = 1.00"},
        {{0, 0.5, 0, 0, 0, 0}, "more than 50-fold"},
        // A mapping that turns back is judged on the image (RunsBackRule).
        {{1.0, -0.9, 0, 0, 0, 0}, nullptr},
        // Tangential terms are the source-area rule's to judge.
        {{1.0, 0, 0, 0, 0.9, 0}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.set[0] << " " << c.set[1] << " " << c.set[2] << " " << c.set[3]);
        const std::string problem = Warp({kRed, c.set, kRed}).RadialProblem();
        if (c.problem) {
            EXPECT_EQ(problem.rfind("WarpRectilinear: the radial mapping of plane 1 ", 0), 0u) << problem;
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        } else {
            EXPECT_EQ(problem, "");
        }
    }
    EXPECT_EQ(Warp({kGreen}).RadialProblem(), "");
    EXPECT_NE(Warp({{0.0199, 0, 0, 0, 0, 0}, kGreen}).RadialProblem().find("plane 0 shrinks"), std::string::npos);
}

// A mapping that turns back before the corner leaves a tile of the image without a source area
// where readers find the tile's outer edge reading nearer the centre than its inner one. The line
// depends on the image's size, its tiles and the centre; each pair of cases lies on both sides of
// the line the reference validator draws (measured to 1e-6 in k on the lens sample, its active
// area cut to the size given), so that both a rule too strict and one too lenient fail.
TEST(WarpRectilinear, RunsBackRule)
{
    using K = std::function<Set(double)>;
    const K r3 = [](double k) { return Set{1, -k, 0, 0, 0, 0}; };
    const K r5 = [](double k) { return Set{1, 0, -k, 0, 0, 0}; };
    const K r7 = [](double k) { return Set{1, 0, 0, -k, 0, 0}; };
    const K r35 = [](double k) { return Set{1, -k, -k, 0, 0, 0}; };
    const K up5 = [](double k) { return Set{1, 0.3, -k, 0, 0, 0}; };
    const K low = [](double k) { return Set{0.7, -k, 0, 0, 0, 0}; };
    const struct {
        const char* name;
        K family;
        int32_t width, height;
        double cx, cy;
        double accepted, refused; // the last k readers accept, the first they refuse
    } cases[] = {
        {"r^3 centred", r3, 2400, 1600, 0.5, 0.5, 0.6042585, 0.6042595},
        {"r^3 centred, half the size", r3, 1200, 800, 0.5, 0.5, 0.8088865, 0.8088875},
        {"r^5", r5, 2400, 1600, 0.5, 0.5, 0.6328802, 0.6328812},
        {"r^5, half the size", r5, 1200, 800, 0.5, 0.5, 0.9667015, 0.9667025},
        {"r^7", r7, 2400, 1600, 0.5, 0.5, 0.7241497, 0.7241507},
        {"r^3 and r^5", r35, 2400, 1600, 0.5, 0.5, 0.3094063, 0.3094072},
        {"r^3 and r^5, half the size", r35, 1200, 800, 0.5, 0.5, 0.4395685, 0.4395695},
        {"outward, then back by r^5", up5, 2400, 1600, 0.5, 0.5, 0.9462442, 0.9462452},
        {"kr0 = 0.7", low, 1200, 800, 0.5, 0.5, 0.5681458, 0.5681467},
        {"square", r3, 1600, 1600, 0.5, 0.5, 0.9234581, 0.9234591},
        {"tall strip", r3, 64, 1600, 0.5, 0.5, 0.4532232, 0.4532242},
        {"wide strip", r3, 2400, 32, 0.5, 0.5, 0.4125729, 0.4125738},
        {"wide strip of three tiles", r3, 600, 32, 0.5, 0.5, 0.6986475, 0.6986485},
        {"r^7, wide strip", r7, 2400, 32, 0.5, 0.5, 0.2543020, 0.2543030},
        {"centre at a corner", r3, 2400, 1600, 0.0, 0.0, 0.5525885, 0.5525894},
        {"centre at a corner, half the size", r35, 1200, 800, 0.0, 0.0, 0.3196688, 0.3196697},
        {"centre off the middle", r3, 2400, 1600, 0.3, 0.6, 0.5299788, 0.5299797},
        {"centre on the right edge", r35, 2400, 1600, 1.0, 0.2, 0.2211695, 0.2211704},
        {"centre near the bottom", r3, 1200, 800, 0.9, 1.0, 0.6883087, 0.6883097},
        {"r^5 off centre, square", r5, 1600, 1600, 0.37, 0.81, 0.7492952, 0.7492962},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Warp({c.family(c.accepted)}, c.cx, c.cy).RunsBackProblem(c.width, c.height, 1.0), "");
        const std::string problem = Warp({c.family(c.refused)}, c.cx, c.cy).RunsBackProblem(c.width, c.height, 1.0);
        EXPECT_EQ(problem.rfind("WarpRectilinear: the mapping runs back towards the centre across the tile of output "
                                "pixels at (",
                                0),
                  0u)
            << problem;
    }

    // Readers join the coefficient sets: one set that turns back among sets that do not leaves
    // every tile a source area.
    const Set back = r3(0.7);
    EXPECT_NE(Warp({back}).RunsBackProblem(2400, 1600, 1.0), "");
    EXPECT_EQ(Warp({back, kIdentity, kIdentity}).RunsBackProblem(2400, 1600, 1.0), "");
    EXPECT_EQ(Warp({kIdentity, back, kIdentity}).RunsBackProblem(2400, 1600, 1.0), "");
    // The sample's own sets, and an image of one tile, where the turn lies inside it.
    EXPECT_EQ(Warp({{1.0004, -0.03, 0.004, 0, 0, 0}, {1.0, -0.03, 0.004, 0, 0, 0}}).RunsBackProblem(2400, 1600, 1.0), "");
    EXPECT_EQ(Warp({r3(0.9)}).RunsBackProblem(200, 150, 1.0), "");

    // Pixels that are not square: any set that runs back before the corner (f'(1) = 1 + 3 kr1
    // is 0 at kr1 = -1/3).
    EXPECT_EQ(Warp({r3(1.0 / 3.0)}).RunsBackProblem(2400, 1600, 2.0), "");
    EXPECT_NE(Warp({kIdentity, r3(0.34)}).RunsBackProblem(2400, 1600, 2.0).find("plane 1 runs back towards the centre "
                                                                               "at r = 1.00"),
              std::string::npos);
    EXPECT_NE(Warp({{1.0, -1.5, 0.9, 0, 0, 0}}).RunsBackProblem(2400, 1600, 0.5).find("at r = 0.71"), std::string::npos);
    EXPECT_NE(Warp({kIdentity}).RunsBackProblem(0, 1600, 1.0), "");
}
