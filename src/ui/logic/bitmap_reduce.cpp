#include "ui/logic/bitmap_reduce.h"

#include <algorithm>
#include <vector>

namespace ui {

platform::Bitmap ReduceBitmap(const platform::Bitmap& source, int32_t width, int32_t height)
{
    platform::Bitmap out;
    out.SetPixelFormat(source.Format());
    out.ColorTable() = source.ColorTable();
    const int32_t sw = source.Width(), sh = source.Height();
    if (sw <= 0 || sh <= 0 || width <= 0 || height <= 0)
        return out;
    width = std::min(width, sw);
    height = std::min(height, sh);
    out.SetSize(width, height);
    const int32_t bpp = source.BytesPerPixel();
    // Source column span of every target column, in bytes.
    std::vector<int32_t> x0(size_t(width) + 1);
    for (int32_t x = 0; x <= width; ++x)
        x0[size_t(x)] = int32_t(int64_t(x) * sw / width);
    std::vector<uint32_t> sums(size_t(width) * size_t(bpp));
    for (int32_t y = 0; y < height; ++y) {
        const int32_t y0 = int32_t(int64_t(y) * sh / height), y1 = int32_t(int64_t(y + 1) * sh / height);
        std::fill(sums.begin(), sums.end(), 0u);
        for (int32_t sy = y0; sy < y1; ++sy) {
            const uint8_t* row = source.ScanLine(sy);
            for (int32_t x = 0; x < width; ++x) {
                uint32_t* s = &sums[size_t(x) * size_t(bpp)];
                for (int32_t sx = x0[size_t(x)]; sx < x0[size_t(x) + 1]; ++sx)
                    for (int32_t c = 0; c < bpp; ++c)
                        s[c] += row[size_t(sx) * size_t(bpp) + size_t(c)];
            }
        }
        uint8_t* d = out.ScanLine(y);
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t n = uint32_t(x0[size_t(x) + 1] - x0[size_t(x)]) * uint32_t(y1 - y0);
            for (int32_t c = 0; c < bpp; ++c)
                d[size_t(x) * size_t(bpp) + size_t(c)] = uint8_t((sums[size_t(x) * size_t(bpp) + size_t(c)] + n / 2) / n);
        }
    }
    return out;
}

} // namespace ui
