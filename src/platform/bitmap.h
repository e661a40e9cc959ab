// A device-independent bitmap the previews draw into and the windows show: 8 bits per pixel
// with a 256-entry colour table, or 24 bits per pixel stored blue, green, red. Row 0 is the top
// row of the picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

enum class PixelFormat : uint8_t { k8Bit, k24Bit };

class Bitmap {
public:
    Bitmap() = default;

    PixelFormat Format() const { return fFormat; }
    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }
    bool IsEmpty() const { return fWidth == 0 || fHeight == 0; }

    // Changing the format or the size keeps no pixels: the new pixels are 0.
    void SetPixelFormat(PixelFormat format);
    // Sizes below 0 count as 0; throws std::length_error beyond 65000 x 65000.
    void SetSize(int32_t width, int32_t height);
    void Clear() { SetSize(0, 0); }

    int32_t BytesPerPixel() const { return fFormat == PixelFormat::k8Bit ? 1 : 3; }
    size_t RowBytes() const { return size_t(fWidth) * size_t(BytesPerPixel()); }
    // Row y counted from the top; the caller keeps y in range.
    uint8_t* ScanLine(int32_t y) { return fPixels.data() + size_t(y) * RowBytes(); }
    const uint8_t* ScanLine(int32_t y) const { return fPixels.data() + size_t(y) * RowBytes(); }

    // Colour table of 8-bit bitmaps: entries 0x00RRGGBB.
    std::array<uint32_t, 256>& ColorTable() { return fColorTable; }
    const std::array<uint32_t, 256>& ColorTable() const { return fColorTable; }

private:
    void Reallocate();

    PixelFormat fFormat = PixelFormat::k24Bit;
    int32_t fWidth = 0;
    int32_t fHeight = 0;
    std::vector<uint8_t> fPixels;
    std::array<uint32_t, 256> fColorTable{};
};

} // namespace platform
