// Readers' tiles and the lens-warp rules built on them, for WarpRectilinear, WarpFisheye and
// WarpRectilinear2: each pair of values lies on both sides of the line the reference validator
// draws on a one-plane file of the size given (measured to 1e-6), so that a rule too strict and
// one too lenient both fail.
#include "dng/lens_warp.h"
#include "dng/opcode_limits.h"
#include "dng/warp_tiles.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <vector>

namespace {

using namespace dng;

std::vector<uint8_t> Big(const std::vector<double>& values, uint32_t sets, const std::vector<uint32_t>& tail = {})
{
    std::vector<uint8_t> out = {0, 0, 0, uint8_t(sets)};
    for (double v : values)
        for (int i = 7; i >= 0; --i)
            out.push_back(uint8_t(std::bit_cast<uint64_t>(v) >> (8 * i)));
    for (uint32_t v : tail)
        for (int i = 3; i >= 0; --i)
            out.push_back(uint8_t(v >> (8 * i)));
    return out;
}

// One coefficient set of each warp and the centre, as a file stores them.
Opcode Rectilinear(std::vector<double> k, double cx = 0.5, double cy = 0.5)
{
    k.resize(6, 0.0);
    k.insert(k.end(), {cx, cy});
    return {kOpcodeWarpRectilinear, 0x01030000, 0, Big(k, 1)};
}

Opcode Fisheye(std::vector<double> k, double cx = 0.5, double cy = 0.5)
{
    k.resize(4, 0.0);
    k.insert(k.end(), {cx, cy});
    return {kOpcodeWarpFisheye, 0x01030000, 0, Big(k, 1)};
}

struct Radii {
    double from = 0.0, to = 1.0;
    bool reciprocal = false;
};

Opcode Rectilinear2(std::vector<double> kr, std::array<double, 2> kt = {0, 0}, Radii radii = {})
{
    kr.resize(15, 0.0);
    kr.insert(kr.end(), {kt[0], kt[1], radii.from, radii.to, 0.5, 0.5});
    return {kOpcodeWarpRectilinear2, 0x01060000, 0, Big(kr, 1, {radii.reciprocal ? 1u : 0u})};
}

TEST(ReaderTiles, EqualTilesOfAtMost256Pixels)
{
    const struct {
        int32_t width, height, tileW, tileH;
    } cases[] = {
        {256, 256, 256, 256}, {257, 100, 129, 100}, {1200, 800, 240, 200}, {2400, 1600, 240, 229},
        {4256, 2848, 251, 238}, {1199, 799, 240, 200}, {8, 8, 8, 8},
    };
    for (const auto& c : cases) {
        const ReaderTiles t = ReaderTiles::Of(c.width, c.height);
        EXPECT_EQ(std::pair(t.width, t.height), std::pair(c.tileW, c.tileH)) << c.width << " x " << c.height;
    }
}

TEST(ReaderTiles, LensWarpsFollowTheValidatorsLine)
{
    using Family = std::function<Opcode(double)>;
    const struct {
        const char* name;
        Family family;
        int32_t width, height;
        double accepted, refused; // the last value readers accept, the first they refuse
    } cases[] = {
        // A uniform zoom reads beyond the image first in the tiles of the first row (their
        // bottom rows read above pixel 1) and the last column (its left column beyond width - 2).
        {"zoom", [](double k) { return Rectilinear({k}); }, 1200, 800, 1.6592797, 1.6592799},
        {"zoom, centre at the top left", [](double k) { return Rectilinear({k}, 0.0, 0.0); }, 1000, 1000, 1.3306666,
         1.3306668},
        {"zoom, centre at the bottom right", [](double k) { return Rectilinear({k}, 1.0, 1.0); }, 1000, 1000,
         1.3302263, 1.3302265},
        // A frame whose last row of 256-pixel tiles would be 32 pixels high.
        {"Sony A7s frame", [](double k) { return Rectilinear({1, k}); }, 4256, 2848, 0.1656179, 0.1656189},
        {"fisheye zoom", [](double k) { return Fisheye({k}); }, 1200, 800, 1.826497, 1.826500},
        {"fisheye outward", [](double k) { return Fisheye({1, k}); }, 1200, 800, 3.055541, 3.055544},
        {"fisheye outward off centre", [](double k) { return Fisheye({1, k}, 0.3, 0.8); }, 1200, 800, 1.600090,
         1.600093},
        {"fisheye turning back", [](double k) { return Fisheye({1, -k}); }, 1200, 800, 1.142816, 1.142819},
        {"fisheye turning back off centre", [](double k) { return Fisheye({1, -k}, 0.2, 0.1); }, 1200, 800, 0.938226,
         0.938229},
        {"fisheye turning back by t^7", [](double k) { return Fisheye({1, 0, 0, -k}); }, 1200, 800, 3.513874,
         3.513877},
        {"fisheye from 1.3", [](double k) { return Fisheye({1.3, -k}); }, 1200, 800, 1.479438, 1.479441},
        // WarpRectilinear2's coefficients run over every power of r.
        {"rectilinear2 turning back by r", [](double k) { return Rectilinear2({1, -k}); }, 1200, 800, 0.821262,
         0.821265},
        {"rectilinear2 turning back by r^2", [](double k) { return Rectilinear2({1, 0, -k}); }, 1200, 800, 0.808885,
         0.808888},
        {"rectilinear2 outward", [](double k) { return Rectilinear2({1, k}); }, 1200, 800, 1.150605, 1.150608},
        // Beyond the model's last radius the ratio holds its value there; before its first radius too.
        {"rectilinear2 held from r = 0.6", [](double k) { return Rectilinear2({1, 0, -k}, {0, 0}, {0.0, 0.6}); }, 1200,
         800, 1.966248, 1.966251},
        {"rectilinear2 held up to r = 0.3", [](double k) { return Rectilinear2({1, 0, -k}, {0, 0}, {0.3, 1.0}); }, 1200,
         800, 0.808885, 0.808888},
        {"rectilinear2 reciprocal", [](double k) { return Rectilinear2({1, 0, k}, {0, 0}, {0, 1, true}); }, 1200, 800,
         4.702113, 4.702116},
        {"rectilinear2 tangential kt0", [](double k) { return Rectilinear2({1}, {k, 0}); }, 1200, 800, 0.419144,
         0.419147},
        {"rectilinear2 tangential kt1", [](double k) { return Rectilinear2({1}, {0, -k}); }, 1200, 800, 0.267299,
         0.267302},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(OpcodeProblem(c.family(c.accepted), c.width, c.height, 1, 1.0), "");
        EXPECT_NE(OpcodeProblem(c.family(c.refused), c.width, c.height, 1, 1.0), "");
    }
}

// What readers refuse in a warp's radial model, named after the opcode: a mapping that folds the
// picture through its centre or shrinks it beyond readers' tile buffers.
TEST(ReaderTiles, RadialModelsOfTheOtherWarps)
{
    const struct {
        Opcode op;
        const char* problem; // a part of the answer, or null for none
    } cases[] = {
        {Fisheye({1}), nullptr},
        {Fisheye({-1}), "WarpFisheye: the radial mapping of plane 0 is not positive at r = 0.00"},
        {Fisheye({1, -1.5}), "WarpFisheye: the radial mapping of plane 0 shrinks the picture more than 10-fold"},
        {Fisheye({0.005}), "more than 10-fold"},
        {Fisheye({0.128}), nullptr}, // 0.1 at the corner, where t / r is 0.785
        {Rectilinear2({1}), nullptr},
        {Rectilinear2({-1}), "WarpRectilinear2: the radial mapping of plane 0 is not positive"},
        {Rectilinear2({0.005}), "more than 50-fold"},
        {Rectilinear2({1, -1}, {0, 0}, {0, 1, true}), "is not a finite number at r = 1.00"},
        {Rectilinear2({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1.5}), "shrinks the picture more than 50-fold at r = 0.97"},
    };
    for (const auto& c : cases) {
        const std::string problem = OpcodeProblem(c.op, 1200, 800, 1, 1.0);
        if (c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
    // The one-plane file keeps the green set, judged at full and at half size.
    std::vector<double> three;
    for (double kr0 : {1.0, -1.0, 1.0})
        three.insert(three.end(), {kr0, 0, 0, 0});
    three.insert(three.end(), {0.5, 0.5});
    const std::string green = OpcodeProblem({kOpcodeWarpFisheye, 0x01030000, 0, Big(three, 3)}, 2400, 1600, 3, 1.0);
    EXPECT_NE(green.find("plane 1 is not positive"), std::string::npos) << green;
    EXPECT_EQ(OpcodeProblem(Fisheye({1}), 18, 18, 3, 1.0), "");
    const std::string half = OpcodeProblem(Fisheye({1}), 17, 17, 3, 1.0);
    EXPECT_NE(half.find("too small to correct (at least 8 x 8 needed) in the half-size file of 7 x 7"), std::string::npos)
        << half;
}

} // namespace
