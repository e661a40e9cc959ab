#include "bitmap.h"

#include <stdexcept>

namespace platform {

void Bitmap::SetPixelFormat(PixelFormat format)
{
    if (format == fFormat)
        return;
    fFormat = format;
    Reallocate();
}

void Bitmap::SetSize(int32_t width, int32_t height)
{
    width = width < 0 ? 0 : width;
    height = height < 0 ? 0 : height;
    if (width > 65000 || height > 65000)
        throw std::length_error("bitmap too large");
    fWidth = width;
    fHeight = height;
    Reallocate();
}

void Bitmap::Reallocate()
{
    fPixels.assign(RowBytes() * size_t(fHeight), 0);
}

} // namespace platform
