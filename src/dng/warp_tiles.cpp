#include "warp_tiles.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace dng {

WarpFrame WarpFrame::Of(int32_t width, int32_t height, double pixelAspect, double centreX, double centreY)
{
    const double w = static_cast<double>(width);
    const double h = static_cast<double>(height) / pixelAspect;
    const double cx = centreX * w;
    const double cy = centreY * h;
    const double farX = std::max(cx, w - cx);
    const double farY = std::max(cy, h - cy);
    return {cx, cy, std::sqrt(farX * farX + farY * farY), pixelAspect};
}

ReaderTiles ReaderTiles::Of(int32_t imageWidth, int32_t imageHeight)
{
    const int32_t across = (imageWidth + kTile - 1) / kTile;
    const int32_t down = (imageHeight + kTile - 1) / kTile;
    return {(imageWidth + across - 1) / across, (imageHeight + down - 1) / down};
}

std::vector<TileBounds> ReaderTileBounds(uint32_t sets, const WarpMapping& map, int32_t width, int32_t height)
{
    std::vector<TileBounds> bounds;
    if (width < 1 || height < 1)
        return bounds;
    const ReaderTiles tiles = ReaderTiles::Of(width, height);
    constexpr double kInf = std::numeric_limits<double>::infinity();
    for (int32_t top = 0; top < height; top += tiles.height) {
        const int32_t bottom = std::min(top + tiles.height, height) - 1;
        for (int32_t left = 0; left < width; left += tiles.width) {
            const int32_t right = std::min(left + tiles.width, width) - 1;
            TileBounds b{left, top, kInf, -kInf, kInf, -kInf};
            for (uint32_t set = 0; set < sets; ++set) {
                for (int32_t y = top; y <= bottom; ++y) {
                    b.x0 = std::min(b.x0, map(set, left, y).x);
                    b.x1 = std::max(b.x1, map(set, right, y).x);
                }
                for (int32_t x = left; x <= right; ++x) {
                    b.y0 = std::min(b.y0, map(set, x, top).y);
                    b.y1 = std::max(b.y1, map(set, x, bottom).y);
                }
            }
            bounds.push_back(b);
        }
    }
    return bounds;
}

std::string TileBoundsProblem(const char* name, const std::vector<TileBounds>& tiles, int32_t width, int32_t height,
                              TileRule rule)
{
    if (width < 1 || height < 1)
        return std::string(name) + ": no image to warp";
    for (const TileBounds& b : tiles) {
        const auto tile = [&] {
            return "the tile of output pixels at (" + std::to_string(b.left) + ", " + std::to_string(b.top) + ")";
        };
        if (rule == TileRule::kTurnBack) {
            // Whole pixels, rounded outward; a millionth of a pixel towards refusal keeps the
            // answer on the readers' side where their arithmetic rounds differently.
            constexpr double kMargin = 1e-6;
            if (std::floor(b.x0 + kMargin) > std::ceil(b.x1 - kMargin) ||
                std::floor(b.y0 + kMargin) > std::ceil(b.y1 - kMargin))
                return std::string(name) + ": the mapping runs back towards the centre across " + tile() +
                       ", which leaves it no source area (the picture folds over itself before its corner)";
        } else if (!(b.x1 >= 1.0 && b.y1 >= 1.0 && b.x0 <= width - 2.0 && b.y0 <= height - 2.0)) {
            return std::string(name) + ": " + tile() + " has no source area inside the image";
        }
    }
    return {};
}

std::string WarpTileProblem(const char* name, uint32_t sets, const WarpMapping& map, int32_t width, int32_t height,
                            TileRule rule)
{
    return TileBoundsProblem(name, ReaderTileBounds(sets, map, width, height), width, height, rule);
}

std::string WarpFarOutsideProblem(const char* name, uint32_t sets, const WarpMapping& map, int32_t width,
                                  int32_t height)
{
    const auto axis = [](int32_t n) {
        const int32_t step = std::clamp(n / 512, 1, 64);
        std::vector<int32_t> at;
        for (int32_t i = 0; i < n; i += step)
            at.push_back(i);
        if (at.back() != n - 1)
            at.push_back(n - 1);
        return at;
    };
    if (width < 1 || height < 1)
        return std::string(name) + ": no image to warp";
    const std::vector<int32_t> xs = axis(width);
    const std::vector<int32_t> ys = axis(height);
    const double w = width, h = height;
    for (uint32_t set = 0; set < sets; ++set)
        for (int32_t y : ys)
            for (int32_t x : xs) {
                const WarpSource s = map(set, x, y);
                if (!(s.x >= -w && s.x <= 2.0 * w && s.y >= -h && s.y <= 2.0 * h))
                    return std::string(name) + ": output pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                           ") reads from far outside the image";
            }
    return {};
}

} // namespace dng
