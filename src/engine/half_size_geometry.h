// Geometry of a negative whose image is reduced to half its width and height: the metadata the
// written DNG carries about the image (active area, default crop, masked areas, black-level
// deltas) is brought to the smaller image. Shared by the half-size regular and channel passes.
#pragma once

#include "dng/info.h"
#include "dng/negative.h"

#include <cstdint>

namespace engine {

// How the default crop width is halved: truncated like the other three values, or rounded.
enum class CropWidthHalving { kTruncate, kRound };

// The even half size of a width x height frame (each side halved, then cut to an even number).
// A frame under 4 pixels a side has none: that throws kErrorFileIsDamaged, since a photo's area
// is never so small unless its geometry tags are damaged.
struct HalfSize {
    int32_t width;
    int32_t height;
};
HalfSize EvenHalfSize(int32_t width, int32_t height);

// Active area := (old top / 2, old left / 2, halfHeight, halfWidth): bottom and right become the
// new image's size. Default crop origin and size := each old value x 0.5, truncated; the crop
// width is rounded instead when asked. Without linearization info only the crop changes.
void HalveActiveAreaAndCrop(dng::Negative& negative, int32_t halfWidth, int32_t halfHeight,
                            CropWidthHalving cropWidth);

// Every masked rectangle halved (each side divided by 2), so that none lies outside the half-size
// image. Black-level deltas: the values of every second column (row), in the main IFD of `info`
// and in the negative's linearization info alike, so that counts and values agree; one per column
// (row) of the active area when it was halved, else half as many.
void HalveMaskedAreasAndDeltas(dng::Negative& negative, dng::Info& info, bool activeAreaHalved);

} // namespace engine
