// WarpRectilinear: parameters as stored, the mapping, its application per plane and the reduction
// to one plane for a monochrome file.
#include "dng/error.h"
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"
#include "dng/warp_rectilinear.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace {

using Set = std::array<double, 6>; // kr0 kr1 kr2 kr3 kt0 kt1
const Set kIdentity{1, 0, 0, 0, 0, 0};

// Parameter bytes as a file stores them (big-endian).
std::vector<uint8_t> Params(const std::vector<Set>& sets, double cx = 0.5, double cy = 0.5)
{
    std::vector<uint8_t> out;
    const auto put = [&out](uint64_t v, int bytes) {
        for (int i = bytes - 1; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(sets.size(), 4);
    for (const Set& s : sets)
        for (double v : s)
            put(std::bit_cast<uint64_t>(v), 8);
    put(std::bit_cast<uint64_t>(cx), 8);
    put(std::bit_cast<uint64_t>(cy), 8);
    return out;
}

dng::WarpRectilinear Warp(const std::vector<Set>& sets, double cx = 0.5, double cy = 0.5)
{
    return dng::WarpRectilinear::Parse(Params(sets, cx, cy));
}

dng::Opcode SampleOpcode()
{
    dng::FileStream s(fixtures::SamplePath("leica-t-warp.dng"));
    dng::Host host;
    dng::Info info;
    info.Parse(host, s);
    info.PostParse(host);
    auto neg = host.Make_dng_negative();
    neg->Parse(host, s, info);
    neg->PostParse(host, s, info);
    return neg->GetOpcodeList(2).Opcodes().at(0);
}

// An image of pseudo-random samples in every plane.
std::unique_ptr<dng::Image> Busy(int32_t w, int32_t h, uint32_t planes, dng::PixelType type)
{
    auto img = std::make_unique<dng::Image>(w, h, planes, type);
    uint32_t state = 12345;
    for (size_t i = 0; i < img->PlaneBytes() * planes; ++i) {
        state = state * 1664525u + 1013904223u;
        img->Data()[i] = static_cast<uint8_t>(state >> 24);
    }
    return img;
}

std::vector<uint8_t> PlaneBytes(const dng::Image& img, uint32_t p)
{
    return {img.Data() + p * img.PlaneBytes(), img.Data() + (p + 1) * img.PlaneBytes()};
}

TEST(WarpRectilinearParams, RefusesBadCountsSizesNumbersAndOtherOpcodes)
{
    const auto bad = [](const std::vector<uint8_t>& p) { EXPECT_THROW(dng::WarpRectilinear::Parse(p), dng::Error); };
    std::vector<uint8_t> p = Params({kIdentity, kIdentity});
    EXPECT_NO_THROW(dng::WarpRectilinear::Parse(p));
    bad({p.begin(), p.end() - 1}); // a byte too few
    p.push_back(0);
    bad(p); // a byte too many
    bad({0, 0, 1});
    bad(Params({})); // N = 0, with the byte count that fits it
    bad(Params({kIdentity, kIdentity, kIdentity, kIdentity, kIdentity}));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    bad(Params({{1, nan, 0, 0, 0, 0}}));
    bad(Params({kIdentity, {1, 0, 0, 0, 0, -inf}}));
    bad(Params({kIdentity}, 0.5, inf));

    dng::Opcode other{dng::kOpcodeWarpFisheye, 0x01030000, 0, Params({kIdentity})};
    EXPECT_THROW(dng::WarpRectilinear::Parse(other), dng::Error);
}

TEST(WarpRectilinearApply, IdentityLeavesImagesUnchanged)
{
    dng::Host host;
    for (dng::PixelType type : {dng::PixelType::kUInt16, dng::PixelType::kUInt8})
        for (double cx : {0.5, 0.2})
            for (double aspect : {1.0, 0.5, 1.5}) {
                auto img = Busy(41, 29, 3, type);
                auto before = img->Clone();
                Warp({kIdentity}, cx, 0.7).Apply(host, *img, aspect);
                for (uint32_t p = 0; p < 3; ++p)
                    EXPECT_EQ(PlaneBytes(*img, p), PlaneBytes(*before, p)) << cx << " " << aspect;
            }
}

TEST(WarpRectilinearApply, RadialTermMovesPointsAlongTheRadius)
{
    dng::Host host;
    // A horizontal ramp shows where each output pixel read from: value = 100 x column + 1000.
    dng::Image img(201, 101, 1, dng::PixelType::kUInt16);
    for (int32_t y = 0; y < 101; ++y)
        for (int32_t x = 0; x < 201; ++x)
            img.Row16(y)[x] = static_cast<uint16_t>(100 * x + 1000);
    Warp({{1, 0.5, 0, 0, 0, 0}}).Apply(host, img);
    // The centre (100.5, 50.5) is the middle of pixel (100, 50); m = sqrt(100.5^2 + 50.5^2) =
    // 112.4744. Pixel 150 of the centre row lies 50 to the right: r^2 = (50 / m)^2 = 0.197621,
    // so it reads 50 (1 + 0.5 r^2) = 54.9405 to the right, at column 154.9405.
    EXPECT_NEAR(img.Row16(50)[150], 100 * 154.9405 + 1000, 1.0);
    EXPECT_NEAR(img.Row16(50)[50], 100 * 45.0595 + 1000, 1.0); // as far to the left
    EXPECT_EQ(img.Row16(50)[100], 100 * 100 + 1000);           // the centre stays
    EXPECT_EQ(img.Row16(10)[100], 100 * 100 + 1000);           // straight above it: only vertical
}

TEST(WarpRectilinearApply, TangentialTermAndPixelAspect)
{
    // On the horizontal axis (dy = 0) kt0 moves a point vertically by m kt0 dx^2 and kt1
    // horizontally by m kt1 3 dx^2.
    const double m = std::sqrt(100.5 * 100.5 + 50.5 * 50.5);
    const double dx2 = (50 / m) * (50 / m);
    const auto p = Warp({{1, 0, 0, 0, 0.01, 0.02}}).SourcePoint(0, 201, 101, 1.0, 150, 50);
    EXPECT_NEAR(p.x, 150.5 + m * 0.02 * 3 * dx2, 1e-9);
    EXPECT_NEAR(p.y, 50.5 + m * 0.01 * dx2, 1e-9);

    // Pixels half as wide as tall: 25 rows are as far as 50 columns, so both move by one fraction.
    const auto radial = Warp({{1, 0.3, 0.1, 0, 0, 0}});
    const auto right = radial.SourcePoint(0, 201, 101, 0.5, 150, 50);
    const auto below = radial.SourcePoint(0, 201, 101, 0.5, 100, 75);
    EXPECT_NEAR(right.y, 50.5, 1e-9);
    EXPECT_NEAR(below.x, 100.5, 1e-9);
    EXPECT_GT((right.x - 100.5) / 50.0, 1.01);
    EXPECT_NEAR((right.x - 100.5) / 50.0, (below.y - 50.5) / 25.0, 1e-12);

    dng::Host host;
    dng::Image img(8, 8, 1, dng::PixelType::kUInt16);
    EXPECT_THROW(radial.Apply(host, img, 0.0), dng::Error);
}

TEST(WarpRectilinearApply, EachPlaneUsesItsOwnSetOrTheLastOne)
{
    dng::Host host;
    const Set shrink{0.9, 0, 0, 0, 0, 0};
    auto before = Busy(40, 30, 3, dng::PixelType::kUInt16);
    auto img = before->Clone();
    Warp({kIdentity, shrink, kIdentity}).Apply(host, *img);
    EXPECT_EQ(PlaneBytes(*img, 0), PlaneBytes(*before, 0));
    EXPECT_NE(PlaneBytes(*img, 1), PlaneBytes(*before, 1));
    EXPECT_EQ(PlaneBytes(*img, 2), PlaneBytes(*before, 2));

    auto grey = Busy(40, 30, 1, dng::PixelType::kUInt16); // one plane: the first of two sets
    auto greyBefore = grey->Clone();
    Warp({kIdentity, shrink}).Apply(host, *grey);
    EXPECT_EQ(PlaneBytes(*grey, 0), PlaneBytes(*greyBefore, 0));

    // Sources far outside the image, or not numbers at all, read only edge pixels (the sanitizers
    // watch the buffer).
    for (const Set& wild : {Set{5, 0, 0, 0, 0, 0}, Set{1e300, -1e300, 1e300, 0, 1e300, -1e300}})
        EXPECT_NO_THROW(Warp({wild}, 0.0, 1.0).Apply(host, *Busy(17, 13, 1, dng::PixelType::kUInt8)));
}

TEST(WarpRectilinearRewrite, KeepsTheGreenSetForOnePlane)
{
    const dng::Opcode op = SampleOpcode();
    const auto three = dng::WarpRectilinear::Parse(op);
    ASSERT_EQ(three.Planes(), 3u);
    EXPECT_EQ(three.Plane(0).kr, (std::array<double, 4>{1.0004, -0.03, 0.004, 0.0}));
    EXPECT_EQ(three.Params(), op.params);

    const dng::Opcode one = dng::RewriteForOnePlane(op);
    EXPECT_EQ(one.dngVersion, op.dngVersion);
    EXPECT_EQ(one.params.size(), 4u + 48u + 16u);
    const auto warp = dng::WarpRectilinear::Parse(one);
    ASSERT_EQ(warp.Planes(), 1u);
    EXPECT_EQ(warp.Plane(0), three.Plane(1));
    EXPECT_EQ(warp.CenterX(), 0.5);

    const dng::Opcode single{dng::kOpcodeWarpRectilinear, 0x01030000, 1, Params({{1, -0.02, 0, 0, 0.001, 0}}, 0.4, 0.6)};
    EXPECT_EQ(dng::RewriteForOnePlane(single).params, single.params);
    // Of two sets neither stands for the whole image.
    const dng::Opcode two{dng::kOpcodeWarpRectilinear, 0x01030000, 0, Params({kIdentity, kIdentity})};
    EXPECT_THROW(dng::RewriteForOnePlane(two), dng::Error);
}

} // namespace
