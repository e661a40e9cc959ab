// Bicubic resampling of an area of one image into the whole of another.
#pragma once

#include "image.h"
#include "rect.h"

namespace dng {

class Host;

// The Catmull-Rom cubic (a = -0.5): 1 at 0, 0 at the other integers, support (-2, 2). It
// interpolates the samples and reproduces linear ramps exactly.
double CatmullRom(double t);

// Resamples srcArea of src into all of dst, every plane, separably (rows first, then columns).
// Pixel centres are matched (dst pixel x sits at srcArea.l + (x + 0.5) * scale - 0.5). When
// shrinking, the kernel is stretched by the scale factor so that it averages over the footprint
// of each output pixel instead of skipping pixels; the weights are normalised to sum to 1. Taps
// beyond the area read it mirrored about its edge pixels: nothing outside srcArea is read. Results
// are rounded and clamped to the pixel type's range.
// Throws kErrorBadFormat when srcArea is empty or not inside src, or when the two images differ in
// plane count or pixel type; kErrorImageTooBig when an extreme change of aspect would need more
// working memory than an image may have.
void ResampleImage(Host& host, const Image& src, const Rect& srcArea, Image& dst);

} // namespace dng
