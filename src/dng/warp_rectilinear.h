// The WarpRectilinear opcode: a radial and tangential lens-distortion correction, one coefficient
// set shared by all planes or one per colour plane.
#pragma once

#include "image.h"
#include "opcode_list.h"
#include "warp_tiles.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dng {

class Host;

class WarpRectilinear {
public:
    static constexpr uint32_t kMaxPlanes = 4;

    // Radial kr0..kr3 and tangential kt0, kt1 of one plane.
    struct Coefficients {
        std::array<double, 4> kr{1.0, 0.0, 0.0, 0.0};
        std::array<double, 2> kt{0.0, 0.0};
        friend bool operator==(const Coefficients&, const Coefficients&) = default;
    };

    // The parameters as stored (big-endian): N (LONG), N x {kr0 kr1 kr2 kr3 kt0 kt1} (DOUBLE), then
    // the optical centre cx, cy (DOUBLE, fractions of the image width and height). Throws
    // kErrorBadFormat unless N is 1..4, the byte count is exactly 4 + 48N + 16 and every number is
    // finite.
    static WarpRectilinear Parse(std::span<const uint8_t> params);
    // The same for an opcode, which must be a WarpRectilinear one.
    static WarpRectilinear Parse(const Opcode& opcode);

    WarpRectilinear(std::vector<Coefficients> planes, double cx, double cy);

    uint32_t Planes() const { return static_cast<uint32_t>(fPlanes.size()); }
    const Coefficients& Plane(uint32_t i) const { return fPlanes.at(i); }
    double CenterX() const { return fCX; }
    double CenterY() const { return fCY; }

    // The parameter bytes in the stored layout.
    std::vector<uint8_t> Params() const;

    // Where output pixel (x, y) of an image of the given size (at least 1 x 1) reads from, for coefficient set
    // `set`. Positions are continuous with pixel (x, y) covering [x, x+1) x [y, y+1), so the
    // returned point for an undistorted pixel is (x + 0.5, y + 0.5). pixelAspect is a stored
    // pixel's width over its height: vertical distances are measured in pixel widths (divided by
    // it) while the model is evaluated, so that the correction is radial on the real picture.
    //     Cx = cx W, Cy = cy H, m = distance from (Cx, Cy) to the farthest image corner
    //     dx = (px - Cx) / m, dy = (py - Cy) / m, r2 = min(dx^2 + dy^2, 1)
    //     f = kr0 + kr1 r2 + kr2 r2^2 + kr3 r2^3
    //     px' = Cx + m (f dx + kt0 2 dx dy + kt1 (r2 + 2 dx^2))
    //     py' = Cy + m (f dy + kt1 2 dx dy + kt0 (r2 + 2 dy^2))
    struct Point {
        double x;
        double y;
    };
    Point SourcePoint(uint32_t set, int32_t width, int32_t height, double pixelAspect, int32_t x, int32_t y) const;

    // Why a coefficient set's radial mapping f(r) = r (kr0 + kr1 r^2 + kr2 r^4 + kr3 r^6), over the
    // radii 0 < r <= 1 that the image covers, is no lens correction a reader can apply, or empty.
    // Each set must map outward, away from the centre:
    //  - f(r) > 0: a mapping that is not positive folds the picture through its centre;
    //  - f(r) / r at least kMinRadialRatio: readers size a tile's source area by the inverse of
    //    that ratio and overflow where a mapping shrinks the picture about 100-fold.
    // The answer names the plane and the radius where the mapping is least positive or shrinks
    // most. A mapping that turns back before the corner is judged on the image it runs on
    // (RunsBackProblem). The check is exact and needs no image: with s = r^2, f(r) / r is a cubic
    // in s, whose smallest value on [0, 1] lies at an end or where its derivative is 0.
    static constexpr double kMinRadialRatio = 0.02;
    std::string RadialProblem() const;
    // Why a reader could not apply the warp to an image of this size, or empty: an image under
    // kMinSide pixels a side (the resampling kernel has little or no room in it, and no camera
    // corrects a lens on so small a picture), source points far outside the image (readers'
    // integer coordinates overflow), or one of readers' tiles (equal tiles of at most 256 pixels,
    // bounds from its edge pixels, the sets joined: warp_tiles.h) whose source area lies wholly
    // outside the part of the image the resampling kernel reaches.
    static constexpr int32_t kMinSide = 8;
    std::string SourceAreaProblem(int32_t width, int32_t height, double pixelAspect) const;

    // Why a reader would find a tile of this image with an empty source area because the warp
    // turns back on itself inside it (a radial mapping with f'(r) < 0, or strong tangential
    // terms), or empty: the tile's edge pixels, mapped, give bounds that cross (warp_tiles.h).
    // Whether that happens depends on the image's size and centre, not on the coefficients alone
    // (f = r - k r^3 centred on 2400 x 1600 pixels is refused from k = 0.6044, on 1200 x 800 from
    // k = 0.8090), so every edge pixel of every tile is mapped. With pixels that are not square,
    // where readers draw the line slightly elsewhere, any coefficient set that runs back before
    // the corner is refused.
    std::string RunsBackProblem(int32_t width, int32_t height, double pixelAspect) const;

    // Both: SourceAreaProblem, then RunsBackProblem, with the tiles' bounds computed once.
    std::string TilesProblem(int32_t width, int32_t height, double pixelAspect) const;

    // Corrects the image in place: each output pixel is sampled with the Catmull-Rom bicubic at its
    // source point (edge pixels repeat beyond the image), rounded and clamped. Plane i uses
    // coefficient set min(i, N - 1); the image's own bounds are the frame of the model. Throws
    // kErrorBadFormat for a pixel aspect that is not a positive finite number.
    void Apply(Host& host, Image& image, double pixelAspect = 1.0) const;

private:
    // Where the continuous position (px, py) of an image reads from, for coefficient set `set`
    // (the model of SourcePoint), in the image's frame (FrameOf).
    Point MapPoint(const WarpFrame& frame, uint32_t set, double px, double py) const;
    WarpFrame FrameOf(int32_t width, int32_t height, double pixelAspect) const
    {
        return WarpFrame::Of(width, height, pixelAspect, fCX, fCY);
    }
    // An image too small to correct, or source points far outside it (SourceAreaProblem's first
    // rules), or empty.
    std::string ImageProblem(int32_t width, int32_t height, double pixelAspect) const;
    // The mapping at the points readers take a tile's bounds from: pixel (x, y) at (x, y).
    WarpMapping ReaderMapping(int32_t width, int32_t height, double pixelAspect) const;
    // Whether some coefficient set's radial mapping runs back (f'(r) < 0) on [0, 1]; the first such
    // plane's problem, or empty.
    std::string SlopeProblem() const;

    std::vector<Coefficients> fPlanes;
    double fCX;
    double fCY;
};

// A WarpRectilinear opcode for a one-plane (monochrome) file made from a colour one. N = 1 is kept
// as it is; N = 3 keeps only the green (middle) set: green lies between red and blue in wavelength,
// so its distortion lies between theirs, and it holds half the photosites of a Bayer sensor.
// Other plane counts have no plane that clearly stands for the whole image and throw
// kErrorBadFormat, as does an opcode that is not a WarpRectilinear one. Version and flags are kept.
Opcode RewriteForOnePlane(const Opcode& opcode);

// How the parameters of the other lens warps lie: a LONG N, then N coefficient sets of setDoubles
// DOUBLEs each, then tailBytes (the optical centre, and for WarpRectilinear2 whether its radial
// model is a reciprocal one).
struct WarpParamLayout {
    const char* name;
    uint32_t setDoubles;
    uint32_t tailBytes;
    uint64_t SetBytes() const { return 8ull * setDoubles; }
    uint64_t Size(uint32_t sets) const { return 4 + SetBytes() * sets + tailBytes; }
};
inline constexpr WarpParamLayout kWarpFisheyeLayout{"WarpFisheye", 4, 16};
inline constexpr WarpParamLayout kWarpRectilinear2Layout{"WarpRectilinear2", 19, 20};

// The same rule for the other lens warps, WarpFisheye and WarpRectilinear2 (and WarpRectilinear):
// their coefficient sets are copied as stored, the others dropped, and N set to 1. Throws
// kErrorBadFormat for another opcode, another set count or parameters whose size does not fit.
Opcode RewriteWarpForOnePlane(const Opcode& opcode);

} // namespace dng
