#include "ui/logic/gradient_ramp.h"

#include <cmath>
#include <cstdint>

namespace ui {

namespace {

constexpr int kStartGrey = 55;
constexpr int kWhiteStep = 200; // 55 + 200 would be past white: the ramp ends before it

// The grey step after a drawn line: the real quotient, truncated, modulo 256 as a pen colour byte.
int Step(double scale, int drawn)
{
    const auto g = static_cast<int64_t>(std::trunc(scale * drawn));
    return static_cast<int>(g % 256);
}

} // namespace

std::vector<RampLine> GradientRamp(int direction, int extent, int length)
{
    std::vector<RampLine> lines;
    int grey = kStartGrey;
    if (direction == kTopToBottom || direction == kLeftToRight) {
        for (int p = 0; p < length; ++p) {
            lines.push_back({p, grey});
            if (extent < 1)
                break;
            const int g = Step(double(length) / double(extent), p + 1);
            grey = kStartGrey + g;
            if (g >= kWhiteStep)
                break;
        }
    } else if (direction == kBottomToTop || direction == kRightToLeft) {
        for (int p = length - 1; p >= 0; --p) {
            lines.push_back({p, grey});
            if (length <= extent)
                break;
            const int g = Step(double(length) / double(length - extent), length - p);
            grey = kStartGrey + g;
            // The far edge line (0) is never drawn: the ramp stops at line 1.
            if (g >= kWhiteStep || p - 1 < 1)
                break;
        }
    }
    return lines;
}

int GradientPercent(int direction, int verticalExtent, int horizontalExtent)
{
    switch (direction) {
    case kTopToBottom: return verticalExtent / 2;
    case kBottomToTop: return (200 - verticalExtent) / 2;
    case kLeftToRight: return horizontalExtent / 2;
    case kRightToLeft: return (200 - horizontalExtent) / 2;
    default: return 200;
    }
}

} // namespace ui
