// A copy of the stage-1 plane, one row of 16-bit samples per image row, that the interpolation
// passes read while they write the image. Sized from the image (no row limit); the samples start
// unset, since every user copies the whole plane in first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace engine {

class RowTable {
public:
    RowTable() = default;
    RowTable(int32_t width, int32_t height)
        : fWidth(width), fHeight(height),
          fSamples(std::make_unique_for_overwrite<uint16_t[]>(size_t(width > 0 ? width : 0) *
                                                              size_t(height > 0 ? height : 0)))
    {
    }
    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }
    uint16_t* Row(int32_t y) { return fSamples.get() + size_t(y) * size_t(fWidth); }
    const uint16_t* Row(int32_t y) const { return fSamples.get() + size_t(y) * size_t(fWidth); }

private:
    int32_t fWidth = 0;
    int32_t fHeight = 0;
    std::unique_ptr<uint16_t[]> fSamples;
};

} // namespace engine
