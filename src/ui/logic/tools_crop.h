// Where the tools preview's crop lies in the navigation picture: a click on the 366 x 244 control
// is mapped onto the picture and centred on the part shown, made even (the colour-filter pattern
// repeats every two photosites) and then kept inside the picture.
//
// A preview run always processes a 512 x 368 block of the picture starting at the crop origin; at
// 200% only that block's top-left 256 x 184 are shown. The origin is therefore kept inside the
// picture with the whole block at both zooms, and it is always even: the navigation picture's
// pixel (0, 0) is the first photosite of the active area, from which the colour pattern counts,
// and the conversion driver moves an odd origin to the next even photosite. An odd origin (an odd
// upper bound, or one row up for an odd active-area top) would make it process a block one pixel
// away from the one shown, or read past the picture's edge.
#pragma once

#include <cstdint>

namespace ui {

// The block a preview run processes, in navigation-picture pixels at both zooms.
inline constexpr int32_t kToolsBlockWidth = 512;
inline constexpr int32_t kToolsBlockHeight = 368;

struct ToolsCropRequest {
    int32_t clickX = 0, clickY = 0;              // in the navigation control
    int32_t pictureWidth = 0, pictureHeight = 0; // the navigation picture (one pixel per image pixel)
    int32_t cropWidth = 512, cropHeight = 368;   // the part shown: 256 x 184 at 200%
};

struct ToolsCropOrigin {
    int32_t x = 0, y = 0;
};

ToolsCropOrigin ToolsCropOriginOf(const ToolsCropRequest& request);

// The part of a w x h crop at origin that lies inside a picture: what is copied.
struct ToolsCropCopy {
    int32_t x = 0, y = 0, width = 0, height = 0;
};
ToolsCropCopy ToolsCropIntersection(ToolsCropOrigin origin, int32_t cropWidth, int32_t cropHeight, int32_t pictureWidth,
                                    int32_t pictureHeight);

} // namespace ui
