// A small copy of a large bitmap for a stretched view: each target pixel is the mean of the
// source pixels it covers (per byte, so the indices of an 8-bit bitmap and the three colours of
// a 24-bit one). The colour table is kept, so a palette change needs no new reduction.
#pragma once

#include "platform/bitmap.h"

namespace ui {

platform::Bitmap ReduceBitmap(const platform::Bitmap& source, int32_t width, int32_t height);

} // namespace ui
