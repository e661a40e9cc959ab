// Stage 2: the stored values of the active area made linear, black-subtracted and scaled so
// that the white level maps to 65535, clipped to 0..65535.
#pragma once

#include "host.h"
#include "image.h"
#include "linearization_info.h"

#include <memory>

namespace dng {

// Throws kErrorBadFormat when the active area does not lie inside the stage-1 image or the white
// level does not lie above the black level.
std::unique_ptr<Image> BuildLinearImage(Host& host, const Image& stage1, const LinearizationInfo& info);

} // namespace dng
