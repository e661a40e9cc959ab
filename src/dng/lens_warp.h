// The lens warps besides WarpRectilinear: WarpFisheye and WarpRectilinear2. Their coefficient
// sets, where an output pixel reads from, and the limits readers put on them, by the same rules
// as WarpRectilinear's (warp_tiles.h).
#pragma once

#include "opcode_list.h"
#include "warp_tiles.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dng {

class LensWarp {
public:
    // One coefficient set. WarpFisheye uses kr[0..3]; WarpRectilinear2 all 15 radial and the two
    // tangential coefficients, and the radii (fractions of the distance to the farthest corner)
    // outside which its radial model holds the value at the nearer end.
    struct Coefficients {
        std::array<double, 15> kr{};
        std::array<double, 2> kt{};
        double minRadius = 0.0;
        double maxRadius = 1.0;
    };

    // A WarpFisheye or WarpRectilinear2 opcode. Throws kErrorBadFormat for another opcode, a set
    // count outside 1..4 or parameters whose size does not fit it.
    static LensWarp Parse(const Opcode& opcode);

    const char* Name() const;
    uint32_t Planes() const { return static_cast<uint32_t>(fSets.size()); }

    // The source radius over the output radius at radius r (a fraction of the distance from the
    // optical centre to the farthest image corner), for coefficient set `set`:
    //  - WarpFisheye: (kr0 t + kr1 t^3 + kr2 t^5 + kr3 t^7) / r with t = atan(r) (kr0 at r = 0);
    //  - WarpRectilinear2: kr0 + kr1 r + ... + kr14 r^14, with r held between the set's radii, or
    //    its reciprocal when the opcode says so.
    double Ratio(uint32_t set, double r) const;

    // Where the continuous position (px, py) of an image of the given size reads from, with the
    // centre at (cx W, cy H) and m the distance to the farthest corner (vertical distances in pixel
    // widths while the model is evaluated, as for WarpRectilinear):
    //     dx = (px - Cx) / m, dy = (py - Cy) / m, r = sqrt(dx^2 + dy^2)
    //     px' = Cx + m (Ratio(r) dx + tx),   py' = Cy + m (Ratio(r) dy + ty)
    // where WarpRectilinear2 adds tx = kt0 2 dx dy + kt1 (r^2 + 2 dx^2), ty = kt1 2 dx dy + kt0 (r^2
    // + 2 dy^2), and WarpFisheye nothing.
    WarpSource MapPoint(const WarpFrame& frame, uint32_t set, double px, double py) const;
    // The frame of an image of this size (warp_tiles.h), which MapPoint takes.
    WarpFrame FrameOf(int32_t width, int32_t height, double pixelAspect) const
    {
        return WarpFrame::Of(width, height, pixelAspect, fCX, fCY);
    }

    // Why some coefficient set's radial mapping, over the radii 0..1 the image covers (looked at
    // every 1/1024), is no lens correction a reader can apply, or empty: a ratio that is not a
    // positive number folds the picture through its centre (or divides by zero); one under
    // MinRatio() shrinks the picture beyond what readers' tile buffers hold.
    std::string RadialProblem() const;
    // WarpRectilinear2's readers overflow near a 100-fold shrink, as for WarpRectilinear; with
    // WarpFisheye they run out of tile buffer from a shrink of 25-fold to 100-fold by the image's
    // size (measured with the reference validator), so it is held to 10-fold.
    double MinRatio() const;

    // Why a reader would refuse the warp on an image of this size, or empty: the radial rules, an
    // image under 8 pixels a side, source points far outside the image, a tile whose source area
    // lies outside the image or whose mapping turns back across it (with pixels that are not
    // square, any set whose source radius turns back before the corner).
    std::string Problem(int32_t width, int32_t height, double pixelAspect) const;

private:
    LensWarp(uint32_t id, std::vector<Coefficients> sets, double cx, double cy, bool reciprocal)
        : fId(id), fSets(std::move(sets)), fCX(cx), fCY(cy), fReciprocal(reciprocal)
    {
    }
    std::string SlopeProblem() const;

    uint32_t fId;
    std::vector<Coefficients> fSets;
    double fCX;
    double fCY;
    bool fReciprocal;
};

} // namespace dng
