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

struct CropBlock {
    int x = 0, y = 0;          // source corner in the bitmap
    int width = 0, height = 0; // the part of the crop that lies inside the bitmap
};

// The block to copy: the crop at the (truncated) origin intersected with the bitmap.
CropBlock CropBlockFor(const CropOrigin& origin, int width, int height);

struct ViewRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Where a bitmap of width x height is drawn in a control of viewWidth x viewHeight: as large as
// fits with its aspect kept, centred. Empty for an empty bitmap.
ViewRect FittedRect(int width, int height, int viewWidth, int viewHeight);

// A mouse point in a control of viewWidth x viewHeight, showing the bitmap in `drawn`, as the
// point of a 368 x 244 control that shows the whole bitmap stretched; clamped to it.
void ToPreviewPoint(const ViewRect& drawn, int mouseX, int mouseY, int& clickX, int& clickY);

} // namespace ui
