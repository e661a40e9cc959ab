// The limits readers put on opcode parameters: byte counts, finite numbers, ranges, areas.
#include "dng/opcode_limits.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <initializer_list>

namespace {

// Big-endian parameter bytes built from LONGs, DOUBLEs and FLOATs.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes& L(std::initializer_list<uint32_t> values)
    {
        for (uint32_t v : values)
            for (int i = 3; i >= 0; --i)
                b.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }
    Bytes& D(std::initializer_list<double> values)
    {
        for (double v : values)
            for (int i = 7; i >= 0; --i)
                b.push_back(uint8_t(std::bit_cast<uint64_t>(v) >> (8 * i)));
        return *this;
    }
    Bytes& F(std::initializer_list<float> values)
    {
        for (float v : values)
            L({std::bit_cast<uint32_t>(v)});
        return *this;
    }
};

// Top, left, bottom, right, plane, planes, row pitch, column pitch.
Bytes Area(uint32_t bottom = 48, uint32_t pitch = 2)
{
    return Bytes().L({0, 0, bottom, 64, 0, 1, pitch, pitch});
}

Bytes GainMap(double spacing, uint32_t points, float gain)
{
    Bytes p = Area().L({points, 1}).D({spacing, 1.0, 0.0, 0.0}).L({1});
    for (uint32_t i = 0; i < points; ++i)
        p.F({gain});
    return p;
}

// WarpRectilinear with `sets` coefficient sets of a mild lens, kr0 of the second set as given.
Bytes Warp(uint32_t sets, double secondKr0 = 1.0)
{
    Bytes p = Bytes().L({sets});
    for (uint32_t i = 0; i < sets; ++i)
        p.D({i == 1 ? secondKr0 : 1.0, -0.03, 0.004, 0, 0, 0});
    return p.D({0.5, 0.5});
}

// WarpRectilinear2: `sets` sets of 15 radial and 2 tangential coefficients and the radii where the
// model holds, the centre, the reciprocal flag.
Bytes Warp2(uint32_t sets, double from = 0.0, double to = 1.0, double cx = 0.5)
{
    Bytes p = Bytes().L({sets});
    for (uint32_t i = 0; i < sets; ++i)
        p.D({1.0, 0, -0.03, 0, 0.004, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, from, to});
    return p.D({cx, 0.5}).L({0});
}

TEST(OpcodeLimits, ParametersOfEachKnownOpcode)
{
    using namespace dng;
    const struct {
        uint32_t id;
        Bytes params;
        const char* problem; // a part of the answer, or null for none
        uint32_t planes = 1; // of the image the opcode runs on
    } cases[] = {
        {kOpcodeGainMap, GainMap(0.5, 3, 1.1f), nullptr},
        {kOpcodeGainMap, GainMap(0.0, 3, 1.1f), "spacing"},
        {kOpcodeGainMap, GainMap(0.5, 3, NAN), "not a finite number"},
        {kOpcodeGainMap, Bytes(GainMap(0.5, 3, 1.1f)).L({0}), "expected"},
        {kOpcodeFixBadPixelsConstant, Bytes().L({65535, 3}), nullptr},
        {kOpcodeFixBadPixelsConstant, Bytes().L({65535, 4}), "Bayer phase"},
        {kOpcodeFixBadPixelsList, Bytes().L({1, 1, 1, 5, 6, 0, 0, 2, 2}), nullptr},
        {kOpcodeFixBadPixelsList, Bytes().L({1, 2, 0, 5, 6}), "expected"},
        {kOpcodeTrimBounds, Bytes().L({4, 4, 4, 60}), "empty"},
        {kOpcodeMapTable, Area().L({0}), "table entries"},
        {kOpcodeMapPolynomial, Bytes(Area()).L({1}).D({0.0, 1.0}), nullptr},
        {kOpcodeMapPolynomial, Bytes(Area()).L({9}).D({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "degree"},
        {kOpcodeMapPolynomial, Bytes(Area(0)).L({0}).D({1.0}), "area is empty"},
        {kOpcodeScalePerRow, Bytes(Area(48, 0)).L({1}).F({1.0f}), "pitch"},
        {kOpcodeDeltaPerColumn, Bytes(Area()).L({2}).F({1.0f, INFINITY}), "not a finite number"},
        {kOpcodeFixVignetteRadial, Bytes().D({0.1, 0, 0, 0, 0, 0.5, 0.5}), nullptr},
        {kOpcodeFixVignetteRadial, Bytes().D({0.1, 0, 0, 0, 0, 2.0, 0.5}), "centre"},
        {kOpcodeWarpFisheye, Bytes().L({1}).D({1, 0, 0, NAN, 0.5, 0.5}), "not a finite number"},
        {kOpcodeWarpRectilinear, Bytes().L({1}).D({1, 0, 0, 0, 0, 0, 0.5, -0.1}), "centre"},
        // An opcode no DNG version defines may only be skipped (when optional, below).
        {99, Bytes().L({1, 2, 3}), "opcode 99 is unknown to DNG readers and not marked optional"},
        {0, Bytes(), "opcode 0 is unknown"},
        // Lens warps: one coefficient set, or one per plane.
        {kOpcodeWarpRectilinear, Warp(3), nullptr, 3},
        {kOpcodeWarpRectilinear, Warp(3), "3 coefficient sets for an image of 1 plane"},
        {kOpcodeWarpRectilinear, Warp(2), "2 coefficient sets for an image of 3 planes", 3},
        {kOpcodeWarpFisheye, Bytes().L({3}).D({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0.5, 0.5}), nullptr, 3},
        {kOpcodeWarpFisheye, Bytes().L({3}).D({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0.5, 0.5}), "3 coefficient sets"},
        // The radial mapping of the second set folds the picture through its centre.
        {kOpcodeWarpRectilinear, Warp(3, 0.0), "WarpRectilinear: the radial mapping of plane 1 is not positive", 3},
        {kOpcodeWarpRectilinear2, Warp2(1), nullptr},
        {kOpcodeWarpRectilinear2, Warp2(3), nullptr, 3},
        {kOpcodeWarpRectilinear2, Warp2(3), "WarpRectilinear2: 3 coefficient sets for an image of 1 plane"},
        {kOpcodeWarpRectilinear2, Bytes().L({1, 2, 3}), "parameter bytes"},
        {kOpcodeWarpRectilinear2, Warp2(1).L({0}), "parameter bytes"},
        {kOpcodeWarpRectilinear2, Warp2(1, 0.5, 0.5), "radii"},
        {kOpcodeWarpRectilinear2, Warp2(1, 0.0, 1.5), "radii"},
        {kOpcodeWarpRectilinear2, Warp2(1, 0.0, 1.0, 1.5), "centre"},
        {kOpcodeWarpRectilinear2, Warp2(1, 0.0, NAN), "not a finite number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "opcode " << c.id << ", " << c.params.b.size() << " bytes");
        const std::string problem = OpcodeProblem(Opcode{c.id, 0x01030000, 0, c.params.b}, 64, 48, c.planes, 1.0);
        if (c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
    EXPECT_EQ(OpcodeProblem(Opcode{99, 0x01030000, 1, {1, 2, 3}}, 64, 48, 1, 1.0), "");
    EXPECT_EQ(OpcodeProblem(Opcode{0xFF01, 0x01030000, 3, {}}, 64, 48, 1, 1.0), "");

    // A whole list: the sizes inside must add up, and the first opcode out of range is named.
    const Bytes good = Bytes().L({1, kOpcodeFixBadPixelsConstant, 0x01030000, 0, 8, 0, 1});
    EXPECT_EQ(OpcodeListProblem(good.b, "OpcodeList1", 64, 48, 1, 1.0), "");
    EXPECT_NE(OpcodeListProblem(Bytes(good).L({0}).b, "OpcodeList1", 64, 48, 1, 1.0).find("OpcodeList1: "), std::string::npos);
    const Bytes bad = Bytes().L({1, kOpcodeFixBadPixelsConstant, 0x01030000, 0, 8, 0, 7});
    EXPECT_EQ(OpcodeListProblem(bad.b, "OpcodeList2", 64, 48, 1, 1.0), "OpcodeList2: FixBadPixelsConstant: Bayer phase 7 is not 0 to 3");
    Bytes folded = Bytes().L({1, kOpcodeWarpRectilinear, 0x01030000, 0, 4 + 3 * 48 + 16});
    const Bytes warp = Warp(3, 0.0);
    folded.b.insert(folded.b.end(), warp.b.begin(), warp.b.end());
    EXPECT_EQ(OpcodeListProblem(folded.b, "OpcodeList3", 64, 48, 3, 1.0).rfind("OpcodeList3: WarpRectilinear: the radial "
                                                                               "mapping of plane 1 is not positive at r = 1.00", 0),
              0u);
}

// A WarpRectilinear that turns back is judged as readers judge the colour image (its sets joined)
// and as they judge the one-plane file made from it (the middle set alone, at the image's size
// and at half of it). The k of f = r - k r^3 on both sides of the validator's line at 2400 x 1600
// (0.6042585 accepted, 0.6042595 refused); at half that size the line lies at 0.8089.
TEST(OpcodeLimits, WarpThatTurnsBackOnTheColourImageAndTheOnePlaneFile)
{
    using namespace dng;
    const auto sets = [](double k0, double k1, double k2) {
        Bytes p = Bytes().L({3});
        for (double k : {k0, k1, k2})
            p.D({1.0, -k, 0, 0, 0, 0});
        return p.D({0.5, 0.5});
    };
    const struct {
        const char* name;
        Bytes params;
        int32_t width, height;
        uint32_t planes;
        const char* problem; // a part of the answer, or null for none
    } cases[] = {
        {"every set just accepted", sets(0.6042585, 0.6042585, 0.6042585), 2400, 1600, 3, nullptr},
        {"every set just refused", sets(0.6042595, 0.6042595, 0.6042595), 2400, 1600, 3, "across the tile"},
        {"at half the size", sets(0.8, 0.8, 0.8), 1200, 800, 3, nullptr},
        {"one plane file of the half", Bytes().L({1}).D({1.0, -0.8, 0, 0, 0, 0, 0.5, 0.5}), 1200, 800, 1, nullptr},
        {"three sets for one plane", sets(0.8, 0.8, 0.8), 1200, 800, 1, "3 coefficient sets for an image of 1 plane"},
        // Readers take the colour image with the red set turning back; the file keeps green.
        {"red set turning back", sets(0.7, 0.03, 0.03), 2400, 1600, 3, nullptr},
        {"green set turning back", sets(0.03, 0.7, 0.03), 2400, 1600, 3, "across the tile"},
        {"green set turning back, named", sets(0.03, 0.7, 0.03), 2400, 1600, 3, "in the one-plane file"},
        // The half-size file of a 17-pixel image can be 7 pixels a side (an active area from pixel
        // 2 to 19 halves to 1 to 8), too small for readers to correct.
        {"image of 18 pixels a side", sets(0.03, 0.03, 0.03), 18, 18, 3, nullptr},
        {"image of 17 pixels a side", sets(0.03, 0.03, 0.03), 17, 17, 3, "too small to correct"},
        {"image of 17 pixels a side, in the half", sets(0.03, 0.03, 0.03), 17, 17, 3, "in the half-size file of 7 x 7"},
        {"one-plane image of 17 pixels a side", Bytes().L({1}).D({1.0, -0.03, 0, 0, 0, 0, 0.5, 0.5}), 17, 17, 1,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string problem = OpcodeProblem(Opcode{kOpcodeWarpRectilinear, 0x01030000, 0, c.params.b}, c.width,
                                                  c.height, c.planes, 1.0);
        if (c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
}

} // namespace
