#include "ui/logic/crop_geometry.h"

#include <algorithm>
#include <cmath>

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

CropBlock CropBlockFor(const CropOrigin& origin, int width, int height)
{
    CropBlock b;
    b.x = std::clamp(static_cast<int>(std::trunc(origin.x)), 0, std::max(width, 0));
    b.y = std::clamp(static_cast<int>(std::trunc(origin.y)), 0, std::max(height, 0));
    b.width = std::clamp(width - b.x, 0, kPreviewViewWidth);
    b.height = std::clamp(height - b.y, 0, kPreviewViewHeight);
    if (b.width == 0 || b.height == 0)
        b.width = b.height = 0;
    return b;
}

ViewRect FittedRect(int width, int height, int viewWidth, int viewHeight)
{
    if (width <= 0 || height <= 0 || viewWidth <= 0 || viewHeight <= 0)
        return {};
    ViewRect r;
    // Compare the aspects in 64 bits: width x viewHeight against height x viewWidth.
    if (static_cast<long long>(width) * viewHeight >= static_cast<long long>(height) * viewWidth) {
        r.width = viewWidth;
        r.height = std::max(1, static_cast<int>(static_cast<long long>(height) * viewWidth / width));
    } else {
        r.height = viewHeight;
        r.width = std::max(1, static_cast<int>(static_cast<long long>(width) * viewHeight / height));
    }
    r.x = (viewWidth - r.width) / 2;
    r.y = (viewHeight - r.height) / 2;
    return r;
}

void ToPreviewPoint(const ViewRect& drawn, int mouseX, int mouseY, int& clickX, int& clickY)
{
    if (drawn.width <= 0 || drawn.height <= 0) {
        clickX = clickY = 0;
        return;
    }
    const long long dx = std::clamp(mouseX - drawn.x, 0, drawn.width);
    const long long dy = std::clamp(mouseY - drawn.y, 0, drawn.height);
    clickX = static_cast<int>(dx * kPreviewViewWidth / drawn.width);
    clickY = static_cast<int>(dy * kPreviewViewHeight / drawn.height);
}

} // namespace ui
