// Where the 100% crop of the result preview comes from: the click point in the preview control,
// scaled to the preview bitmap, centred, and kept inside the bitmap.
#pragma once

namespace ui {

// Both preview controls are this size; the crop shows this many bitmap pixels.
constexpr int kPreviewViewWidth = 368;
constexpr int kPreviewViewHeight = 244;

struct CropOrigin {
    double x = 0;
    double y = 0;
};

// The crop's top-left corner for a click at (clickX, clickY) of the 368 x 244 control over a
// bitmap of width x height. Never negative, and the crop ends at the bitmap's far edge when it
// would pass it; a bitmap smaller than the crop gives 0.
CropOrigin CropOriginFor(int clickX, int clickY, int width, int height);

} // namespace ui
