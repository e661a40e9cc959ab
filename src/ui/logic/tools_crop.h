// Where the tools preview's crop lies in the navigation picture: a click on the 366 x 244 control
// is mapped onto the picture, centred, made even (the colour-filter pattern repeats every two
// photosites) and then kept inside the picture, so that the crop never reaches a column or row
// outside it, whatever the picture's size or parity.
#pragma once

#include <cstdint>

namespace ui {

struct ToolsCropRequest {
    int32_t clickX = 0, clickY = 0;             // in the navigation control
    int32_t pictureWidth = 0, pictureHeight = 0; // the navigation picture (one pixel per image pixel)
    int32_t cropWidth = 512, cropHeight = 368;   // 256 x 184 at 200%
    bool halfSize = false;                       // "No interpolation: resize to 50% ..."
    int32_t activeAreaTop = 0;                   // of the photo's raw image
};

struct ToolsCropOrigin {
    int32_t x = 0, y = 0;
};

ToolsCropOrigin ToolsCropOriginOf(const ToolsCropRequest& request);

// The part of a w x h crop at origin that lies inside a picture: what is copied.
struct ToolsCropCopy {
    int32_t x = 0, y = 0, width = 0, height = 0;
};
ToolsCropCopy ToolsCropIntersection(ToolsCropOrigin origin, int32_t cropWidth, int32_t cropHeight,
                                    int32_t pictureWidth, int32_t pictureHeight);

} // namespace ui
