// The gradient dialog's picture and reach, without widgets: which lines of the 200 x 200 panel the
// grey ramp covers and in which grey, and the reach in percent that the conversion reads.
#pragma once

#include <vector>

namespace ui {

// 0 top to bottom, 1 bottom to top, 2 left to right, 3 right to left.
enum GradientDirection : int { kTopToBottom = 0, kBottomToTop = 1, kLeftToRight = 2, kRightToLeft = 3 };

// One drawn line of the ramp: a row (directions 0 and 1) or a column (2 and 3), in grey g, g, g.
struct RampLine {
    int position = 0;
    int grey = 0;
    friend bool operator==(const RampLine&, const RampLine&) = default;
};

// The lines drawn over a white panel, in drawing order. length is the panel's height for the
// vertical directions and its width for the horizontal ones; extent is the slider of that
// direction (0..200). The ramp starts in grey 55 at its edge and stops one step short of white.
std::vector<RampLine> GradientRamp(int direction, int extent, int length);

// The reach in percent of the photo (0..100) for the two extents; 200 for an unknown direction.
int GradientPercent(int direction, int verticalExtent, int horizontalExtent);

} // namespace ui
