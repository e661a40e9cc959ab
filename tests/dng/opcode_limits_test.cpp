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

TEST(OpcodeLimits, ParametersOfEachKnownOpcode)
{
    using namespace dng;
    const struct {
        uint32_t id;
        Bytes params;
        const char* problem; // a part of the answer, or null for none
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
        {kOpcodeWarpRectilinear2, Bytes().L({1, 2, 3}), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "opcode " << c.id << ", " << c.params.b.size() << " bytes");
        const std::string problem = OpcodeProblem(Opcode{c.id, 0x01030000, 0, c.params.b}, 64, 48, 1.0);
        if (c.problem)
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
    EXPECT_EQ(OpcodeProblem(Opcode{99, 0x01030000, 1, {1, 2, 3}}, 64, 48, 1.0), "");
    EXPECT_EQ(OpcodeProblem(Opcode{0xFF01, 0x01030000, 3, {}}, 64, 48, 1.0), "");

    // A whole list: the sizes inside must add up, and the first opcode out of range is named.
    const Bytes good = Bytes().L({1, kOpcodeFixBadPixelsConstant, 0x01030000, 0, 8, 0, 1});
    EXPECT_EQ(OpcodeListProblem(good.b, "OpcodeList1", 64, 48, 1.0), "");
    EXPECT_NE(OpcodeListProblem(Bytes(good).L({0}).b, "OpcodeList1", 64, 48, 1.0).find("OpcodeList1: "), std::string::npos);
    const Bytes bad = Bytes().L({1, kOpcodeFixBadPixelsConstant, 0x01030000, 0, 8, 0, 7});
    EXPECT_EQ(OpcodeListProblem(bad.b, "OpcodeList2", 64, 48, 1.0), "OpcodeList2: FixBadPixelsConstant: Bayer phase 7 is not 0 to 3");
}

} // namespace
