// Owning images of 8- or 16-bit unsigned samples with one or more planes, stored plane after
// plane, and the non-owning 2-D views that pixel loops work through (several at once if needed).
#pragma once

#include "rect.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace dng {

enum class PixelType : uint8_t { kUInt8 = 1, kUInt16 = 2 };

inline constexpr size_t PixelSize(PixelType t) { return t == PixelType::kUInt8 ? 1 : 2; }

// How a new image's samples start: at zero, or unset for a maker that writes every one of them
// (filling first would only touch every page of a large image one extra time).
enum class ImageFill : uint8_t { kZero, kUnset };

// A plane seen as rows of width samples, rowStep samples apart.
template <typename T>
struct PlaneView {
    T* data = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    ptrdiff_t rowStep = 0;

    // Debug builds check rows and rectangles: a view that overruns into the next row of the same
    // buffer stays inside the allocation, where the address sanitizer cannot see it.
    T* Row(int32_t y) const
    {
        assert(y >= 0 && y < height);
        return data + static_cast<ptrdiff_t>(y) * rowStep;
    }
    // A sub-rectangle of this view (the caller keeps it inside).
    PlaneView Sub(const Rect& r) const
    {
        assert(r.l >= 0 && r.t >= 0 && r.l <= r.r && r.t <= r.b && r.r <= width && r.b <= height);
        return {data + static_cast<ptrdiff_t>(r.t) * rowStep + r.l, r.W(), r.H(), rowStep};
    }
    operator PlaneView<const T>() const { return {data, width, height, rowStep}; }
};

using View16 = PlaneView<uint16_t>;
using ConstView16 = PlaneView<const uint16_t>;
using View8 = PlaneView<uint8_t>;
using ConstView8 = PlaneView<const uint8_t>;

class Image {
public:
    static constexpr int32_t kMaxSide = 65000;
    static constexpr uint64_t kMaxBytes = 3ull << 30;

    // A zero-filled image (or, with ImageFill::kUnset, one whose samples the caller writes). Throws
    // kErrorImageTooBig for a side outside 1..kMaxSide or more than kMaxBytes, kErrorMemory when
    // the memory cannot be had.
    Image(int32_t width, int32_t height, uint32_t planes, PixelType type, ImageFill fill = ImageFill::kZero);
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    virtual ~Image() = default;

    std::unique_ptr<Image> Clone() const;

    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }
    Rect Bounds() const { return Rect(fHeight, fWidth); }
    uint32_t Planes() const { return fPlanes; }
    PixelType Type() const { return fType; }

    // Row access; the caller keeps row and plane in range. The pixel type must match (checked).
    uint16_t* Row16(int32_t row, uint32_t plane = 0) { return View16Of(plane).Row(row); }
    const uint16_t* Row16(int32_t row, uint32_t plane = 0) const { return ConstView16Of(plane).Row(row); }
    uint8_t* Row8(int32_t row, uint32_t plane = 0) { return View8Of(plane).Row(row); }
    const uint8_t* Row8(int32_t row, uint32_t plane = 0) const { return ConstView8Of(plane).Row(row); }

    View16 View16Of(uint32_t plane = 0);
    ConstView16 ConstView16Of(uint32_t plane = 0) const;
    View8 View8Of(uint32_t plane = 0);
    ConstView8 ConstView8Of(uint32_t plane = 0) const;

    size_t PlaneBytes() const { return fPlaneSamples * PixelSize(fType); }
    uint8_t* Data() { return fData.get(); }
    const uint8_t* Data() const { return fData.get(); }

private:
    void CheckPlane(uint32_t plane, PixelType type) const;

    int32_t fWidth;
    int32_t fHeight;
    uint32_t fPlanes;
    PixelType fType;
    size_t fPlaneSamples;
    std::unique_ptr<uint8_t[]> fData;
};

} // namespace dng
