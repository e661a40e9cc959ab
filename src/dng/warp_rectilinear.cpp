#include "warp_rectilinear.h"

#include "byte_order.h"
#include "error.h"
#include "resample.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace dng {

namespace {

constexpr size_t kSetBytes = 6 * 8;

size_t ParamBytes(size_t planes)
{
    return 4 + kSetBytes * planes + 16;
}

double GetDouble(const uint8_t* p)
{
    return std::bit_cast<double>(Get64(p, ByteOrder::kBig));
}

void PutDouble(std::vector<uint8_t>& out, double v)
{
    const auto bits = std::bit_cast<uint64_t>(v);
    for (int shift = 56; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(bits >> shift));
}

void CheckFinite(double v, const char* what)
{
    if (!std::isfinite(v))
        ThrowBadFormat(std::string("WarpRectilinear: ") + what + " is not a finite number");
}

// Catmull-Rom weights for a sample at fraction t in [0, 1) past the second of four taps.
std::array<double, 4> CubicWeights(double t)
{
    return {CatmullRom(t + 1.0), CatmullRom(t), CatmullRom(1.0 - t), CatmullRom(2.0 - t)};
}

// Bicubic sample of a plane at continuous index position (ix, iy), edge pixels repeated.
template <typename T>
double Sample(PlaneView<const T> plane, double ix, double iy)
{
    // Far outside the image every tap is an edge pixel anyway; limiting the position first keeps
    // the integer conversion in range (and sends a NaN to the edge).
    const auto limit = [](double v, int32_t n) {
        const double lo = -2.0;
        const double hi = static_cast<double>(n) + 1.0;
        return v >= lo ? (v <= hi ? v : hi) : lo;
    };
    ix = limit(ix, plane.width);
    iy = limit(iy, plane.height);
    const double fx = std::floor(ix);
    const double fy = std::floor(iy);
    const auto x0 = static_cast<int32_t>(fx) - 1;
    const auto y0 = static_cast<int32_t>(fy) - 1;
    const std::array<double, 4> wx = CubicWeights(ix - fx);
    const std::array<double, 4> wy = CubicWeights(iy - fy);

    std::array<int32_t, 4> cols{};
    for (int32_t k = 0; k < 4; ++k)
        cols[static_cast<size_t>(k)] = std::clamp(x0 + k, 0, plane.width - 1);
    double acc = 0.0;
    for (int32_t j = 0; j < 4; ++j) {
        const T* row = plane.Row(std::clamp(y0 + j, 0, plane.height - 1));
        double across = 0.0;
        for (size_t k = 0; k < 4; ++k)
            across += wx[k] * static_cast<double>(row[cols[k]]);
        acc += wy[static_cast<size_t>(j)] * across;
    }
    return acc;
}

template <typename T>
void WarpPlane(const WarpRectilinear& warp, uint32_t set, PlaneView<T> plane, double pixelAspect, double maxValue)
{
    // The result goes to a copy first: every output pixel reads the uncorrected plane.
    std::vector<T> copy(static_cast<size_t>(plane.width) * static_cast<size_t>(plane.height));
    for (int32_t y = 0; y < plane.height; ++y)
        std::copy(plane.Row(y), plane.Row(y) + plane.width, copy.data() + static_cast<size_t>(y) * plane.width);
    const PlaneView<const T> src{copy.data(), plane.width, plane.height, plane.width};

    for (int32_t y = 0; y < plane.height; ++y) {
        T* out = plane.Row(y);
        for (int32_t x = 0; x < plane.width; ++x) {
            const WarpRectilinear::Point s = warp.SourcePoint(set, plane.width, plane.height, pixelAspect, x, y);
            // Pixel (i, j) has its centre at (i + 0.5, j + 0.5).
            const double v = std::floor(Sample(src, s.x - 0.5, s.y - 0.5) + 0.5);
            out[x] = static_cast<T>(std::clamp(v, 0.0, maxValue));
        }
    }
}

// A cubic c0 + c1 s + c2 s^2 + c3 s^3.
using Cubic = std::array<double, 4>;

double At(const Cubic& c, double s)
{
    return c[0] + s * (c[1] + s * (c[2] + s * c[3]));
}

// The smallest value of a cubic on (0, 1] (on [0, 1] withZero) and where it lies: at s = 1, at a
// zero of its derivative c1 + 2 c2 s + 3 c3 s^2 inside (0, 1), or at s = 0 when that counts.
struct Lowest {
    double value;
    double s;
};

Lowest LowestOnUnit(const Cubic& c, bool withZero)
{
    // The zeros of the derivative (a s^2 + b s + k); NaN stands for none.
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    std::array<double, 2> zeros{kNone, kNone};
    const double a = 3.0 * c[3], b = 2.0 * c[2], k = c[1];
    if (a == 0.0) {
        if (b != 0.0)
            zeros[0] = -k / b;
    } else if (const double disc = b * b - 4.0 * a * k; disc >= 0.0) {
        // The two roots without cancellation: q / a and k / q.
        const double q = -0.5 * (b + std::copysign(std::sqrt(disc), b));
        zeros[0] = q / a;
        if (q != 0.0)
            zeros[1] = k / q;
    }
    Lowest low{At(c, 1.0), 1.0};
    for (double s : zeros)
        if (s > 0.0 && s < 1.0 && At(c, s) < low.value)
            low = {At(c, s), s};
    if (withZero && c[0] < low.value)
        low = {c[0], 0.0};
    return low;
}

std::string Radius(double s)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::sqrt(s));
    return text;
}

} // namespace

WarpRectilinear::WarpRectilinear(std::vector<Coefficients> planes, double cx, double cy)
    : fPlanes(std::move(planes)), fCX(cx), fCY(cy)
{
    if (fPlanes.empty() || fPlanes.size() > kMaxPlanes)
        ThrowBadFormat("WarpRectilinear: " + std::to_string(fPlanes.size()) + " coefficient sets, 1 to 4 allowed");
    for (const Coefficients& c : fPlanes) {
        for (double k : c.kr)
            CheckFinite(k, "a radial coefficient");
        for (double k : c.kt)
            CheckFinite(k, "a tangential coefficient");
    }
    CheckFinite(fCX, "the centre");
    CheckFinite(fCY, "the centre");
}

WarpRectilinear WarpRectilinear::Parse(std::span<const uint8_t> params)
{
    if (params.size() < 4)
        ThrowBadFormat("WarpRectilinear: parameters too short");
    const uint32_t n = Get32(params.data(), ByteOrder::kBig);
    if (n < 1 || n > kMaxPlanes)
        ThrowBadFormat("WarpRectilinear: " + std::to_string(n) + " coefficient sets, 1 to 4 allowed");
    if (params.size() != ParamBytes(n))
        ThrowBadFormat("WarpRectilinear: " + std::to_string(params.size()) + " parameter bytes for " +
                       std::to_string(n) + " sets, " + std::to_string(ParamBytes(n)) + " expected");

    const uint8_t* p = params.data() + 4;
    std::vector<Coefficients> planes(n);
    for (Coefficients& c : planes) {
        for (double& k : c.kr) {
            k = GetDouble(p);
            p += 8;
        }
        for (double& k : c.kt) {
            k = GetDouble(p);
            p += 8;
        }
    }
    const double cx = GetDouble(p);
    const double cy = GetDouble(p + 8);
    return WarpRectilinear(std::move(planes), cx, cy);
}

WarpRectilinear WarpRectilinear::Parse(const Opcode& opcode)
{
    if (opcode.id != kOpcodeWarpRectilinear)
        ThrowBadFormat("opcode " + std::to_string(opcode.id) + " is not WarpRectilinear");
    return Parse(std::span<const uint8_t>(opcode.params));
}

std::vector<uint8_t> WarpRectilinear::Params() const
{
    std::vector<uint8_t> out;
    out.reserve(ParamBytes(fPlanes.size()));
    const auto n = static_cast<uint32_t>(fPlanes.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(n >> shift));
    for (const Coefficients& c : fPlanes) {
        for (double k : c.kr)
            PutDouble(out, k);
        for (double k : c.kt)
            PutDouble(out, k);
    }
    PutDouble(out, fCX);
    PutDouble(out, fCY);
    return out;
}

WarpRectilinear::Point WarpRectilinear::SourcePoint(uint32_t set, int32_t width, int32_t height, double pixelAspect,
                                                    int32_t x, int32_t y) const
{
    return MapPoint(FrameOf(width, height, pixelAspect), set, static_cast<double>(x) + 0.5,
                    static_cast<double>(y) + 0.5);
}

WarpRectilinear::Point WarpRectilinear::MapPoint(const WarpFrame& frame, uint32_t set, double px, double py) const
{
    const Coefficients& c = fPlanes[std::min<size_t>(set, fPlanes.size() - 1)];
    const auto [dx, dy] = frame.Offset(px, py);
    const double r2 = std::min(dx * dx + dy * dy, 1.0);
    const double f = c.kr[0] + r2 * (c.kr[1] + r2 * (c.kr[2] + r2 * c.kr[3]));
    const double tx = c.kt[0] * 2.0 * dx * dy + c.kt[1] * (r2 + 2.0 * dx * dx);
    const double ty = c.kt[1] * 2.0 * dx * dy + c.kt[0] * (r2 + 2.0 * dy * dy);
    const WarpSource source = frame.Position(f * dx + tx, f * dy + ty);
    return {source.x, source.y};
}

WarpMapping WarpRectilinear::ReaderMapping(int32_t width, int32_t height, double pixelAspect) const
{
    return [this, frame = FrameOf(width, height, pixelAspect)](uint32_t set, int32_t x, int32_t y) {
        const Point p = MapPoint(frame, set, x, y);
        return WarpSource{p.x, p.y};
    };
}

std::string WarpRectilinear::ImageProblem(int32_t width, int32_t height, double pixelAspect) const
{
    if (width < 1 || height < 1 || !(std::isfinite(pixelAspect) && pixelAspect > 0.0))
        return "WarpRectilinear: no image to warp";
    if (width < kMinSide || height < kMinSide)
        return "WarpRectilinear: an image of " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels is too small to correct (at least " + std::to_string(kMinSide) + " x " +
               std::to_string(kMinSide) + " needed)";
    return WarpFarOutsideProblem("WarpRectilinear", Planes(), ReaderMapping(width, height, pixelAspect), width,
                                 height);
}

std::string WarpRectilinear::SourceAreaProblem(int32_t width, int32_t height, double pixelAspect) const
{
    if (std::string image = ImageProblem(width, height, pixelAspect); !image.empty())
        return image;
    return WarpTileProblem("WarpRectilinear", Planes(), ReaderMapping(width, height, pixelAspect), width, height,
                           TileRule::kSourceArea);
}

std::string WarpRectilinear::TilesProblem(int32_t width, int32_t height, double pixelAspect) const
{
    if (std::string image = ImageProblem(width, height, pixelAspect); !image.empty())
        return image;
    const std::vector<TileBounds> tiles =
        ReaderTileBounds(Planes(), ReaderMapping(width, height, pixelAspect), width, height);
    if (std::string area = TileBoundsProblem("WarpRectilinear", tiles, width, height, TileRule::kSourceArea);
        !area.empty())
        return area;
    if (pixelAspect != 1.0)
        return SlopeProblem();
    return TileBoundsProblem("WarpRectilinear", tiles, width, height, TileRule::kTurnBack);
}

std::string WarpRectilinear::RadialProblem() const
{
    for (uint32_t set = 0; set < Planes(); ++set) {
        const std::array<double, 4>& k = fPlanes[set].kr;
        const std::string plane = "WarpRectilinear: the radial mapping of plane " + std::to_string(set);
        // f(r) / r, over (0, 1]: below 0 at the centre when kr0 is, else at one of its points.
        const Cubic ratio{k[0], k[1], k[2], k[3]};
        const Lowest inside = LowestOnUnit(ratio, false);
        if (k[0] < 0.0)
            return plane + " is not positive near the centre (the picture is folded through its centre)";
        if (inside.value <= 0.0)
            return plane + " is not positive at r = " + Radius(inside.s) +
                   " (the picture is folded through its centre)";
        if (k[0] < kMinRadialRatio || inside.value < kMinRadialRatio)
            return plane + " shrinks the picture more than " + std::to_string(std::lround(1.0 / kMinRadialRatio)) +
                   "-fold at r = " + Radius(k[0] < inside.value ? 0.0 : inside.s);
    }
    return {};
}

std::string WarpRectilinear::SlopeProblem() const
{
    for (uint32_t set = 0; set < Planes(); ++set) {
        const std::array<double, 4>& k = fPlanes[set].kr;
        // f'(r) = kr0 + 3 kr1 r^2 + 5 kr2 r^4 + 7 kr3 r^6, over [0, 1].
        const Lowest slope = LowestOnUnit(Cubic{k[0], 3.0 * k[1], 5.0 * k[2], 7.0 * k[3]}, true);
        if (slope.value < 0.0)
            return "WarpRectilinear: the radial mapping of plane " + std::to_string(set) +
                   " runs back towards the centre at r = " + Radius(slope.s) +
                   " (the picture folds over itself before its corner)";
    }
    return {};
}

std::string WarpRectilinear::RunsBackProblem(int32_t width, int32_t height, double pixelAspect) const
{
    if (width < 1 || height < 1 || !(std::isfinite(pixelAspect) && pixelAspect > 0.0))
        return "WarpRectilinear: no image to warp";
    if (pixelAspect != 1.0)
        return SlopeProblem();
    return WarpTileProblem("WarpRectilinear", Planes(), ReaderMapping(width, height, 1.0), width, height,
                           TileRule::kTurnBack);
}

void WarpRectilinear::Apply(Host& /*host*/, Image& image, double pixelAspect) const
{
    if (!(std::isfinite(pixelAspect) && pixelAspect > 0.0))
        ThrowBadFormat("WarpRectilinear: the pixel aspect ratio must be a positive number");
    for (uint32_t p = 0; p < image.Planes(); ++p) {
        if (image.Type() == PixelType::kUInt8)
            WarpPlane<uint8_t>(*this, p, image.View8Of(p), pixelAspect, 255.0);
        else
            WarpPlane<uint16_t>(*this, p, image.View16Of(p), pixelAspect, 65535.0);
    }
}

Opcode RewriteForOnePlane(const Opcode& opcode)
{
    const WarpRectilinear warp = WarpRectilinear::Parse(opcode);
    if (warp.Planes() != 1 && warp.Planes() != 3)
        ThrowBadFormat("WarpRectilinear: " + std::to_string(warp.Planes()) +
                       " coefficient sets cannot be reduced to one plane");
    Opcode out = opcode;
    if (warp.Planes() == 3)
        out.params = WarpRectilinear({warp.Plane(1)}, warp.CenterX(), warp.CenterY()).Params();
    return out;
}

Opcode RewriteWarpForOnePlane(const Opcode& opcode)
{
    if (opcode.id == kOpcodeWarpRectilinear)
        return RewriteForOnePlane(opcode);
    if (opcode.id != kOpcodeWarpFisheye && opcode.id != kOpcodeWarpRectilinear2)
        ThrowBadFormat("opcode " + std::to_string(opcode.id) + " is no lens warp");
    const WarpParamLayout& layout =
        opcode.id == kOpcodeWarpFisheye ? kWarpFisheyeLayout : kWarpRectilinear2Layout;
    const std::vector<uint8_t>& p = opcode.params;
    if (p.size() < 4)
        ThrowBadFormat("a lens warp without its set count");
    const uint32_t sets = Get32(p.data(), ByteOrder::kBig);
    if ((sets != 1 && sets != 3) || p.size() != layout.Size(sets))
        ThrowBadFormat("a lens warp of " + std::to_string(sets) + " coefficient sets cannot be reduced to one plane");
    const auto setBytes = std::ptrdiff_t(layout.SetBytes());
    Opcode out = opcode;
    if (sets == 3) {
        const auto kept = p.begin() + 4 + setBytes;
        const auto tail = p.begin() + 4 + setBytes * 3;
        out.params = {0, 0, 0, 1};
        out.params.insert(out.params.end(), kept, kept + setBytes);
        out.params.insert(out.params.end(), tail, p.end());
    }
    return out;
}

} // namespace dng
