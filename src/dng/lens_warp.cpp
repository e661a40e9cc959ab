#include "lens_warp.h"

#include "byte_order.h"
#include "error.h"
#include "warp_rectilinear.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

namespace dng {

namespace {

constexpr int32_t kMinSide = 8;
constexpr int kRadialSteps = 1024;

double GetDouble(const std::vector<uint8_t>& p, uint64_t at)
{
    return std::bit_cast<double>(Get64(p.data() + at, ByteOrder::kBig));
}

std::string Radius(double r)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", r);
    return text;
}

} // namespace

LensWarp LensWarp::Parse(const Opcode& opcode)
{
    if (opcode.id != kOpcodeWarpFisheye && opcode.id != kOpcodeWarpRectilinear2)
        ThrowBadFormat("opcode " + std::to_string(opcode.id) + " is not WarpFisheye or WarpRectilinear2");
    const bool fisheye = opcode.id == kOpcodeWarpFisheye;
    const WarpParamLayout& layout = fisheye ? kWarpFisheyeLayout : kWarpRectilinear2Layout;
    const std::vector<uint8_t>& p = opcode.params;
    const uint32_t n = p.size() >= 4 ? Get32(p.data(), ByteOrder::kBig) : 0;
    if (n < 1 || n > WarpRectilinear::kMaxPlanes || p.size() != layout.Size(n))
        ThrowBadFormat(std::string(layout.name) + ": parameters that do not fit 1 to 4 coefficient sets");
    std::vector<Coefficients> sets(n);
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t at = 4 + layout.SetBytes() * i;
        Coefficients& c = sets[i];
        if (fisheye) {
            for (size_t k = 0; k < 4; ++k)
                c.kr[k] = GetDouble(p, at + 8 * k);
        } else {
            for (size_t k = 0; k < 15; ++k)
                c.kr[k] = GetDouble(p, at + 8 * k);
            c.kt = {GetDouble(p, at + 15 * 8), GetDouble(p, at + 16 * 8)};
            c.minRadius = GetDouble(p, at + 17 * 8);
            c.maxRadius = GetDouble(p, at + 18 * 8);
        }
    }
    const uint64_t tail = 4 + layout.SetBytes() * n;
    const bool reciprocal = !fisheye && Get32(p.data() + tail + 16, ByteOrder::kBig) != 0;
    return LensWarp(opcode.id, std::move(sets), GetDouble(p, tail), GetDouble(p, tail + 8), reciprocal);
}

const char* LensWarp::Name() const
{
    return fId == kOpcodeWarpFisheye ? kWarpFisheyeLayout.name : kWarpRectilinear2Layout.name;
}

double LensWarp::MinRatio() const
{
    return fId == kOpcodeWarpFisheye ? 0.1 : 0.02;
}

double LensWarp::Ratio(uint32_t set, double r) const
{
    const Coefficients& c = fSets[std::min<size_t>(set, fSets.size() - 1)];
    if (fId == kOpcodeWarpFisheye) {
        if (r == 0.0)
            return c.kr[0];
        const double t = std::atan(r), t2 = t * t;
        return t * (c.kr[0] + t2 * (c.kr[1] + t2 * (c.kr[2] + t2 * c.kr[3]))) / r;
    }
    const double held = std::clamp(r, c.minRadius, c.maxRadius);
    double sum = 0.0;
    for (size_t k = c.kr.size(); k-- > 0;)
        sum = sum * held + c.kr[k];
    return fReciprocal ? 1.0 / sum : sum;
}

WarpSource LensWarp::MapPoint(const WarpFrame& frame, uint32_t set, double px, double py) const
{
    const Coefficients& c = fSets[std::min<size_t>(set, fSets.size() - 1)];
    const auto [dx, dy] = frame.Offset(px, py);
    const double r2 = dx * dx + dy * dy;
    const double ratio = Ratio(set, std::sqrt(r2));
    double tx = 0.0, ty = 0.0;
    if (fId == kOpcodeWarpRectilinear2) {
        tx = c.kt[0] * 2.0 * dx * dy + c.kt[1] * (r2 + 2.0 * dx * dx);
        ty = c.kt[1] * 2.0 * dx * dy + c.kt[0] * (r2 + 2.0 * dy * dy);
    }
    return frame.Position(ratio * dx + tx, ratio * dy + ty);
}

std::string LensWarp::RadialProblem() const
{
    for (uint32_t set = 0; set < Planes(); ++set) {
        const std::string plane = std::string(Name()) + ": the radial mapping of plane " + std::to_string(set);
        for (int i = 0; i <= kRadialSteps; ++i) {
            const double r = static_cast<double>(i) / kRadialSteps;
            const double ratio = Ratio(set, r);
            if (!std::isfinite(ratio))
                return plane + " is not a finite number at r = " + Radius(r);
            if (ratio <= 0.0)
                return plane + " is not positive at r = " + Radius(r) + " (the picture is folded through its centre)";
            if (ratio < MinRatio())
                return plane + " shrinks the picture more than " + std::to_string(std::lround(1.0 / MinRatio())) +
                       "-fold at r = " + Radius(r);
        }
    }
    return {};
}

std::string LensWarp::SlopeProblem() const
{
    for (uint32_t set = 0; set < Planes(); ++set) {
        double last = 0.0;
        for (int i = 1; i <= kRadialSteps; ++i) {
            const double r = static_cast<double>(i) / kRadialSteps;
            const double source = r * Ratio(set, r);
            if (source < last)
                return std::string(Name()) + ": the radial mapping of plane " + std::to_string(set) +
                       " runs back towards the centre at r = " + Radius(r) +
                       " (the picture folds over itself before its corner)";
            last = source;
        }
    }
    return {};
}

std::string LensWarp::Problem(int32_t width, int32_t height, double pixelAspect) const
{
    const std::string name = Name();
    if (width < 1 || height < 1 || !(std::isfinite(pixelAspect) && pixelAspect > 0.0))
        return name + ": no image to warp";
    if (width < kMinSide || height < kMinSide)
        return name + ": an image of " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels is too small to correct (at least " + std::to_string(kMinSide) + " x " +
               std::to_string(kMinSide) + " needed)";
    if (std::string radial = RadialProblem(); !radial.empty())
        return radial;
    const WarpMapping map = [this, frame = FrameOf(width, height, pixelAspect)](uint32_t set, int32_t x, int32_t y) {
        return MapPoint(frame, set, x, y);
    };
    if (std::string far = WarpFarOutsideProblem(Name(), Planes(), map, width, height); !far.empty())
        return far;
    const std::vector<TileBounds> tiles = ReaderTileBounds(Planes(), map, width, height);
    if (std::string area = TileBoundsProblem(Name(), tiles, width, height, TileRule::kSourceArea); !area.empty())
        return area;
    if (pixelAspect != 1.0)
        return SlopeProblem();
    return TileBoundsProblem(Name(), tiles, width, height, TileRule::kTurnBack);
}

} // namespace dng
