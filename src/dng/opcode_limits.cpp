#include "opcode_limits.h"

#include "byte_order.h"
#include "error.h"
#include "lens_warp.h"
#include "warp_rectilinear.h"

#include <bit>
#include <cmath>
#include <string>

namespace dng {

namespace {

constexpr uint64_t kAreaBytes = 32; // Top, Left, Bottom, Right, Plane, Planes, RowPitch, ColPitch
constexpr uint32_t kMaxBayerPhase = 3;
constexpr uint32_t kMaxTableSize = 65536;
constexpr uint32_t kMaxPolynomialDegree = 8;

// The parameters of one opcode, always big-endian, read with their size checked by the caller.
class Params {
public:
    explicit Params(const std::vector<uint8_t>& bytes) : fBytes(bytes) {}
    uint64_t Size() const { return fBytes.size(); }
    uint32_t Long(uint64_t at) const { return Get32(fBytes.data() + at, ByteOrder::kBig); }
    double Double(uint64_t at) const { return std::bit_cast<double>(Get64(fBytes.data() + at, ByteOrder::kBig)); }
    float Float(uint64_t at) const { return std::bit_cast<float>(Get32(fBytes.data() + at, ByteOrder::kBig)); }
    // Whether `count` doubles (or floats) from `at` on are all finite.
    bool FiniteDoubles(uint64_t at, uint64_t count) const
    {
        for (uint64_t i = 0; i < count; ++i)
            if (!std::isfinite(Double(at + 8 * i)))
                return false;
        return true;
    }
    bool FiniteFloats(uint64_t at, uint64_t count) const
    {
        for (uint64_t i = 0; i < count; ++i)
            if (!std::isfinite(Float(at + 4 * i)))
                return false;
        return true;
    }

private:
    const std::vector<uint8_t>& fBytes;
};

std::string Named(const char* opcode, const std::string& what)
{
    return std::string(opcode) + ": " + what;
}

std::string SizeProblem(const char* opcode, uint64_t have, uint64_t want)
{
    return Named(opcode, std::to_string(have) + " parameter bytes, " + std::to_string(want) + " expected");
}

bool IsFraction(double v)
{
    return v >= 0.0 && v <= 1.0;
}

// The area an opcode works on: a rectangle with a size, at least one plane, pitches of at least 1.
std::string AreaProblem(const char* opcode, const Params& p)
{
    if (p.Long(0) >= p.Long(8) || p.Long(4) >= p.Long(12))
        return Named(opcode, "its area is empty");
    if (p.Long(20) < 1 || p.Long(24) < 1 || p.Long(28) < 1)
        return Named(opcode, "its area has no plane or a pitch of 0");
    return {};
}

// One coefficient set for all planes, or one for each.
std::string SetCountProblem(const char* opcode, uint32_t sets, uint32_t planes)
{
    if (sets == 1 || sets == planes)
        return {};
    return Named(opcode, std::to_string(sets) + " coefficient sets for an image of " + std::to_string(planes) +
                             (planes == 1 ? " plane" : " planes"));
}

// A colour image's warp goes into the one-plane file made from it with one coefficient set
// (RewriteWarpForOnePlane), where readers judge it on that file's image: the same size, or half of
// it (each side halved, a pixel more or less as the active area's edges fall) for a half-size
// conversion. Readers accept the colour file on the sets joined, so a set they would refuse
// alone, or the smaller image, must stop the source before anything is written. `problem` judges
// the one-plane opcode on an image of the given size.
template <typename Judge>
std::string OnePlaneProblem(int32_t width, int32_t height, const Judge& problem)
{
    if (std::string full = problem(width, height); !full.empty())
        return full + " in the one-plane file";
    for (int32_t dh = -1; dh <= 1; ++dh) {
        for (int32_t dw = -1; dw <= 1; ++dw) {
            const int32_t w = width / 2 + dw, h = height / 2 + dh;
            if (w < 1 || h < 1)
                continue;
            if (std::string half = problem(w, h); !half.empty())
                return half + " in the half-size file of " + std::to_string(w) + " x " + std::to_string(h) + " pixels";
        }
    }
    return {};
}

std::string WarpRectilinearProblem(const Opcode& op, int32_t width, int32_t height, uint32_t planes,
                                   double pixelAspect)
{
    try {
        const WarpRectilinear warp = WarpRectilinear::Parse(op);
        if (std::string count = SetCountProblem("WarpRectilinear", warp.Planes(), planes); !count.empty())
            return count;
        if (!IsFraction(warp.CenterX()) || !IsFraction(warp.CenterY()))
            return "WarpRectilinear: the optical centre lies outside the image";
        if (std::string radial = warp.RadialProblem(); !radial.empty())
            return radial;
        if (std::string tiles = warp.TilesProblem(width, height, pixelAspect); !tiles.empty())
            return tiles;
        if (planes > 1 && (warp.Planes() == 1 || warp.Planes() == 3)) {
            const WarpRectilinear one = WarpRectilinear::Parse(RewriteForOnePlane(op));
            return OnePlaneProblem(width, height,
                                   [&](int32_t w, int32_t h) { return one.TilesProblem(w, h, pixelAspect); });
        }
        return {};
    } catch (const Error& e) {
        return e.what();
    }
}

// The parts WarpFisheye and WarpRectilinear2 share: a set count of 1 to 4 that fits the image's
// planes, a size that fits the count, and finite coefficients and centre.
std::string WarpSetsProblem(const WarpParamLayout& layout, const Params& p, uint32_t planes)
{
    const char* name = layout.name;
    if (p.Size() < 4)
        return SizeProblem(name, p.Size(), 4);
    const uint32_t n = p.Long(0);
    if (n < 1 || n > WarpRectilinear::kMaxPlanes)
        return Named(name, std::to_string(n) + " coefficient sets, 1 to 4 allowed");
    if (p.Size() != layout.Size(n))
        return SizeProblem(name, p.Size(), layout.Size(n));
    if (std::string count = SetCountProblem(name, n, planes); !count.empty())
        return count;
    if (!p.FiniteDoubles(4, uint64_t(layout.setDoubles) * n + 2))
        return Named(name, "a coefficient is not a finite number");
    return {};
}

// The optical centre that follows the n coefficient sets, as fractions of the image.
std::string WarpCentreProblem(const WarpParamLayout& layout, const Params& p)
{
    const uint64_t at = 4 + layout.SetBytes() * p.Long(0);
    if (!IsFraction(p.Double(at)) || !IsFraction(p.Double(at + 8)))
        return Named(layout.name, "the optical centre lies outside the image");
    return {};
}

// WarpFisheye and WarpRectilinear2 on the image, then in the one-plane file made from a colour
// image, at full and half size: the radial rules and readers' tiles, as for WarpRectilinear.
std::string OtherWarpProblem(const Opcode& op, int32_t width, int32_t height, uint32_t planes, double pixelAspect)
{
    try {
        const LensWarp warp = LensWarp::Parse(op);
        if (std::string problem = warp.Problem(width, height, pixelAspect); !problem.empty())
            return problem;
        if (planes > 1 && (warp.Planes() == 1 || warp.Planes() == 3)) {
            const LensWarp one = LensWarp::Parse(RewriteWarpForOnePlane(op));
            return OnePlaneProblem(width, height, [&](int32_t w, int32_t h) { return one.Problem(w, h, pixelAspect); });
        }
        return {};
    } catch (const Error& e) {
        return e.what();
    }
}

// WarpRectilinear2 (DNG 1.6): for each set 15 radial and 2 tangential coefficients and the radii
// between which the model holds (19 DOUBLEs), then the optical centre (2 DOUBLEs) and whether the
// radial model is a reciprocal one (LONG).
std::string WarpRectilinear2Problem(const Opcode& op, const Params& p, int32_t width, int32_t height, uint32_t planes,
                                    double pixelAspect)
{
    const WarpParamLayout& layout = kWarpRectilinear2Layout;
    if (std::string sets = WarpSetsProblem(layout, p, planes); !sets.empty())
        return sets;
    for (uint32_t set = 0, n = p.Long(0); set < n; ++set) {
        const uint64_t at = 4 + layout.SetBytes() * set;
        const double from = p.Double(at + 17 * 8), to = p.Double(at + 18 * 8);
        if (!(from >= 0.0 && from < to && to <= 1.0))
            return Named(layout.name, "the radii where the model of set " + std::to_string(set) +
                                          " holds are not 0 <= from < to <= 1");
    }
    if (std::string centre = WarpCentreProblem(layout, p); !centre.empty())
        return centre;
    return OtherWarpProblem(op, width, height, planes, pixelAspect);
}

// Opcodes whose parameters are an area, a count and that many floats (DeltaPer..., ScalePer...).
std::string PerLineProblem(const char* name, const Params& p)
{
    if (p.Size() < kAreaBytes + 4)
        return SizeProblem(name, p.Size(), kAreaBytes + 4);
    const uint64_t count = p.Long(kAreaBytes);
    if (p.Size() != kAreaBytes + 4 + 4 * count)
        return SizeProblem(name, p.Size(), kAreaBytes + 4 + 4 * count);
    if (const std::string area = AreaProblem(name, p); !area.empty())
        return area;
    if (!p.FiniteFloats(kAreaBytes + 4, count))
        return Named(name, "a value is not a finite number");
    return {};
}

} // namespace

std::string OpcodeProblem(const Opcode& op, int32_t width, int32_t height, uint32_t planes, double pixelAspect)
{
    const Params p(op.params);
    switch (op.id) {
    case kOpcodeWarpRectilinear:
        return WarpRectilinearProblem(op, width, height, planes, pixelAspect);
    case kOpcodeWarpFisheye:
        if (std::string sets = WarpSetsProblem(kWarpFisheyeLayout, p, planes); !sets.empty())
            return sets;
        if (std::string centre = WarpCentreProblem(kWarpFisheyeLayout, p); !centre.empty())
            return centre;
        return OtherWarpProblem(op, width, height, planes, pixelAspect);
    case kOpcodeFixVignetteRadial: {
        const char* name = "FixVignetteRadial";
        if (p.Size() != 56)
            return SizeProblem(name, p.Size(), 56);
        if (!p.FiniteDoubles(0, 7))
            return Named(name, "a coefficient is not a finite number");
        if (!IsFraction(p.Double(40)) || !IsFraction(p.Double(48)))
            return Named(name, "the optical centre lies outside the image");
        return {};
    }
    case kOpcodeFixBadPixelsConstant:
        if (p.Size() != 8)
            return SizeProblem("FixBadPixelsConstant", p.Size(), 8);
        if (p.Long(4) > kMaxBayerPhase)
            return Named("FixBadPixelsConstant", "Bayer phase " + std::to_string(p.Long(4)) + " is not 0 to 3");
        return {};
    case kOpcodeFixBadPixelsList: {
        const char* name = "FixBadPixelsList";
        if (p.Size() < 12)
            return SizeProblem(name, p.Size(), 12);
        const uint64_t want = 12 + 8ull * p.Long(4) + 16ull * p.Long(8);
        if (p.Size() != want)
            return SizeProblem(name, p.Size(), want);
        if (p.Long(0) > kMaxBayerPhase)
            return Named(name, "Bayer phase " + std::to_string(p.Long(0)) + " is not 0 to 3");
        return {};
    }
    case kOpcodeTrimBounds:
        if (p.Size() != 16)
            return SizeProblem("TrimBounds", p.Size(), 16);
        if (p.Long(0) >= p.Long(8) || p.Long(4) >= p.Long(12))
            return Named("TrimBounds", "the bounds are empty");
        return {};
    case kOpcodeMapTable: {
        const char* name = "MapTable";
        if (p.Size() < kAreaBytes + 4)
            return SizeProblem(name, p.Size(), kAreaBytes + 4);
        const uint32_t entries = p.Long(kAreaBytes);
        if (entries < 1 || entries > kMaxTableSize)
            return Named(name, std::to_string(entries) + " table entries, 1 to 65536 allowed");
        if (p.Size() != kAreaBytes + 4 + 2ull * entries)
            return SizeProblem(name, p.Size(), kAreaBytes + 4 + 2ull * entries);
        return AreaProblem(name, p);
    }
    case kOpcodeMapPolynomial: {
        const char* name = "MapPolynomial";
        if (p.Size() < kAreaBytes + 4)
            return SizeProblem(name, p.Size(), kAreaBytes + 4);
        const uint32_t degree = p.Long(kAreaBytes);
        if (degree > kMaxPolynomialDegree)
            return Named(name, "degree " + std::to_string(degree) + ", at most 8 allowed");
        if (p.Size() != kAreaBytes + 4 + 8ull * (degree + 1))
            return SizeProblem(name, p.Size(), kAreaBytes + 4 + 8ull * (degree + 1));
        if (const std::string area = AreaProblem(name, p); !area.empty())
            return area;
        if (!p.FiniteDoubles(kAreaBytes + 4, degree + 1))
            return Named(name, "a coefficient is not a finite number");
        return {};
    }
    case kOpcodeGainMap: {
        // Area, PointsV, PointsH, SpacingV, SpacingH, OriginV, OriginH, MapPlanes, then the gains.
        const char* name = "GainMap";
        constexpr uint64_t kHead = kAreaBytes + 8 + 32 + 4;
        if (p.Size() < kHead)
            return SizeProblem(name, p.Size(), kHead);
        const uint64_t points = uint64_t(p.Long(kAreaBytes)) * p.Long(kAreaBytes + 4);
        const uint64_t planes = p.Long(kHead - 4);
        if (points == 0 || planes == 0)
            return Named(name, "the map has no points or no planes");
        if (p.Size() != kHead + 4 * points * planes)
            return SizeProblem(name, p.Size(), kHead + 4 * points * planes);
        if (const std::string area = AreaProblem(name, p); !area.empty())
            return area;
        if (!p.FiniteDoubles(kAreaBytes + 8, 4) || !(p.Double(kAreaBytes + 8) > 0.0) ||
            !(p.Double(kAreaBytes + 16) > 0.0))
            return Named(name, "the spacing is not a positive number or the origin not a finite one");
        if (!p.FiniteFloats(kHead, points * planes))
            return Named(name, "a gain is not a finite number");
        return {};
    }
    case kOpcodeDeltaPerRow:
        return PerLineProblem("DeltaPerRow", p);
    case kOpcodeDeltaPerColumn:
        return PerLineProblem("DeltaPerColumn", p);
    case kOpcodeScalePerRow:
        return PerLineProblem("ScalePerRow", p);
    case kOpcodeScalePerColumn:
        return PerLineProblem("ScalePerColumn", p);
    case kOpcodeWarpRectilinear2:
        return WarpRectilinear2Problem(op, p, width, height, planes, pixelAspect);
    default:
        // The list is copied into the written file, whose readers would have to run it.
        if (!op.IsOptional())
            return "opcode " + std::to_string(op.id) + " is unknown to DNG readers and not marked optional";
        return {};
    }
}

std::string OpcodeListProblem(std::span<const uint8_t> bytes, const char* name, int32_t width, int32_t height,
                              uint32_t planes, double pixelAspect)
{
    OpcodeList list;
    try {
        list.Parse(bytes);
    } catch (const Error& e) {
        return std::string(name) + ": " + e.what();
    }
    for (const Opcode& op : list.Opcodes())
        if (std::string problem = OpcodeProblem(op, width, height, planes, pixelAspect); !problem.empty())
            return std::string(name) + ": " + problem;
    return {};
}

} // namespace dng
