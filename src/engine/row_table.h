// A copy of the stage-1 plane, one row of 16-bit samples per image row, that the interpolation
// passes read while they write the image. Sized from the image (no row limit); the samples start
// unset, since every user copies the whole plane in first.
#pragma once

#include "dng/image.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace engine {

class RowTable {
public:
    RowTable() = default;
    RowTable(int32_t width, int32_t height) : fWidth(width), fHeight(height)
    {
        if (width > 0 && height > 0) {
            fImage = std::make_unique<dng::Image>(width, height, 1, dng::PixelType::kUInt16, dng::ImageFill::kUnset);
            fSamples = fImage->Row16(0);
        }
    }
    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }
    uint16_t* Row(int32_t y) { return fSamples + size_t(y) * size_t(fWidth); }
    const uint16_t* Row(int32_t y) const { return fSamples + size_t(y) * size_t(fWidth); }

    // A copy of a one-plane 16-bit image: in the table's own memory when the table still has it
    // and the sizes match (its pages are in use already, where a new image's would first have
    // to be cleared by the system), else a clone. The table is empty afterwards.
    std::unique_ptr<dng::Image> CopyOf(const dng::Image& image) &&
    {
        std::unique_ptr<dng::Image> copy = std::move(fImage);
        *this = RowTable();
        if (!copy || copy->Width() != image.Width() || copy->Height() != image.Height() || image.Planes() != 1 ||
            image.Type() != dng::PixelType::kUInt16)
            return image.Clone();
        std::memcpy(copy->Data(), image.Data(), image.PlaneBytes());
        return copy;
    }

private:
    int32_t fWidth = 0;
    int32_t fHeight = 0;
    std::unique_ptr<dng::Image> fImage;
    uint16_t* fSamples = nullptr;
};

} // namespace engine
