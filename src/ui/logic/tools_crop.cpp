#include "ui/logic/tools_crop.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

// The control is 366 x 244 pixels; the horizontal factor divides by 368, as the window always has.
constexpr double kPerColumn = 0.002717391304347826; // 1 / 368
constexpr double kPerRow = 0.004098360655737705;    // 1 / 244

// shown: the size of the part shown, on whose centre the click lies; block: the size processed.
int32_t Place(int32_t click, double factor, int32_t picture, int32_t shown, int32_t block)
{
    double v = click * (picture * factor) - shown / 2;
    if (v < 0)
        v = 0;
    int32_t o = static_cast<int32_t>(std::trunc(v));
    o += o % 2;
    // Clamped last, with the whole processed block: inside the picture at an even origin, and at
    // 0 when the picture is smaller than the block.
    int32_t last = picture - block;
    last -= last & 1;
    return std::max(0, std::min(o, last));
}

} // namespace

ToolsCropOrigin ToolsCropOriginOf(const ToolsCropRequest& r)
{
    return {Place(r.clickX, kPerColumn, r.pictureWidth, r.cropWidth, kToolsBlockWidth),
            Place(r.clickY, kPerRow, r.pictureHeight, r.cropHeight, kToolsBlockHeight)};
}

ToolsCropCopy ToolsCropIntersection(ToolsCropOrigin origin, int32_t cropWidth, int32_t cropHeight, int32_t pictureWidth,
                                    int32_t pictureHeight)
{
    const int32_t x0 = std::max(origin.x, 0), y0 = std::max(origin.y, 0);
    const int32_t x1 = std::min(origin.x + cropWidth, pictureWidth);
    const int32_t y1 = std::min(origin.y + cropHeight, pictureHeight);
    if (x1 <= x0 || y1 <= y0)
        return {x0, y0, 0, 0};
    return {x0, y0, x1 - x0, y1 - y0};
}

} // namespace ui
