#include "ui/logic/crop_geometry.h"

#include <algorithm>

namespace ui {

CropOrigin CropOriginFor(int clickX, int clickY, int width, int height)
{
    // The scale factors 1/368 and 1/244 in extended precision, as the crop has always used.
    constexpr long double kInvW = 1.0L / kPreviewViewWidth;
    constexpr long double kInvH = 1.0L / kPreviewViewHeight;
    long double x = clickX * (width * kInvW) - kPreviewViewWidth * 0.5L;
    long double y = clickY * (height * kInvH) - kPreviewViewHeight * 0.5L;
    if (x + kPreviewViewWidth > width)
        x = static_cast<long double>(width) - kPreviewViewWidth;
    if (y + kPreviewViewHeight > height)
        y = static_cast<long double>(height) - kPreviewViewHeight;
    // The lower bound last: a bitmap narrower than the crop starts at its own edge.
    x = std::max(x, 0.0L);
    y = std::max(y, 0.0L);
    return {static_cast<double>(x), static_cast<double>(y)};
}

} // namespace ui
