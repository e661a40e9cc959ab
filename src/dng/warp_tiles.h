// How readers resample a lens warp (WarpRectilinear, WarpFisheye, WarpRectilinear2) tile by tile,
// and the images on which they find a tile with nothing to resample. One model for every warp and
// every image size, so that a source is refused exactly where readers refuse the file made from it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dng {

// Readers cut the image into equal tiles of at most kTile pixels a side: ceil(width / kTile)
// across and ceil(height / kTile) down, the last ones cut at the image's edge.
struct ReaderTiles {
    static constexpr int32_t kTile = 256;
    int32_t width;  // of one tile
    int32_t height;
    static ReaderTiles Of(int32_t imageWidth, int32_t imageHeight);
};

struct WarpSource {
    double x;
    double y;
};

// The frame every lens warp is evaluated in, for an image of width x height pixels whose pixels
// are pixelAspect times as wide as high: the optical centre at (cx W, cy H'), with H' the height in
// pixel widths, and m the distance from it to the farthest image corner. Positions become offsets
// from the centre in units of m (vertical ones measured in pixel widths) and back.
struct WarpFrame {
    double cx;
    double cy;
    double m;
    double pixelAspect;

    static WarpFrame Of(int32_t width, int32_t height, double pixelAspect, double centreX, double centreY);
    // (px, py) as offsets (dx, dy) from the centre, in units of m.
    WarpSource Offset(double px, double py) const { return {(px - cx) / m, (py / pixelAspect - cy) / m}; }
    // The position at offsets (dx, dy) from the centre.
    WarpSource Position(double dx, double dy) const { return {cx + m * dx, (cy + m * dy) * pixelAspect}; }
};

// Where output pixel (x, y) reads from, for coefficient set `set`, with the pixel at the point
// (x, y) and the optical centre at (cx W, cy H): the positions readers take a tile's bounds from.
using WarpMapping = std::function<WarpSource(uint32_t set, int32_t x, int32_t y)>;

// The rules readers apply to each tile, with its source area taken from its edge pixels: the left
// bound is the lowest x' of its left column, the right bound the highest x' of its right column,
// the top and bottom likewise from its top and bottom rows, joined over the coefficient sets.
enum class TileRule {
    // The bounds rounded outward to whole pixels cross (left right of right, or top below bottom):
    // the mapping turns back across the tile, which leaves it no source area.
    kTurnBack,
    // The source area lies wholly outside the part of the image the resampling kernel reaches
    // (right bound below 1, left bound beyond width - 2, and likewise down).
    kSourceArea,
};

// One tile's source area: its top-left output pixel and the bounds taken from its edge pixels.
struct TileBounds {
    int32_t left;
    int32_t top;
    double x0, x1, y0, y1;
};

// The source areas of readers' tiles of a width x height image (at least 1 x 1), in reading order.
// Every edge pixel of every tile is mapped, for every set: the costly part of the rules, so a
// caller that applies both rules computes the bounds once.
std::vector<TileBounds> ReaderTileBounds(uint32_t sets, const WarpMapping& map, int32_t width, int32_t height);

// The first tile (in reading order) that breaks the rule, named after the opcode as "NAME: ...",
// or empty.
std::string TileBoundsProblem(const char* name, const std::vector<TileBounds>& tiles, int32_t width, int32_t height,
                              TileRule rule);

// The same from the mapping, for one rule.
std::string WarpTileProblem(const char* name, uint32_t sets, const WarpMapping& map, int32_t width, int32_t height,
                            TileRule rule);

// Why the warp's source points would lie far outside the image (beyond the image widened by its
// own size on each side, or not numbers), where readers' integer coordinates overflow, or empty.
// Checked on every pixel of an image under 1024 pixels a side, else on a grid of at most 64-pixel
// steps and the last row and column.
std::string WarpFarOutsideProblem(const char* name, uint32_t sets, const WarpMapping& map, int32_t width,
                                  int32_t height);

} // namespace dng
