#include "image.h"

#include "error.h"

#include <cstring>
#include <new>

namespace dng {

Image::Image(int32_t width, int32_t height, uint32_t planes, PixelType type, ImageFill fill)
    : fWidth(width), fHeight(height), fPlanes(planes), fType(type), fPlaneSamples(0)
{
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || planes < 1 || planes > 4)
        throw Error(kErrorImageTooBig, "image size out of range");
    uint64_t samples = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    uint64_t bytes = samples * planes * PixelSize(type);
    if (bytes > kMaxBytes)
        throw Error(kErrorImageTooBig, "image too big");
    fPlaneSamples = static_cast<size_t>(samples);
    try {
        fData = fill == ImageFill::kZero ? std::make_unique<uint8_t[]>(static_cast<size_t>(bytes))
                                         : std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
        ThrowMemory("out of memory for an image");
    }
}

std::unique_ptr<Image> Image::Clone() const
{
    auto copy = std::make_unique<Image>(fWidth, fHeight, fPlanes, fType, ImageFill::kUnset);
    std::memcpy(copy->fData.get(), fData.get(), PlaneBytes() * fPlanes);
    return copy;
}

void Image::CheckPlane(uint32_t plane, PixelType type) const
{
    if (plane >= fPlanes)
        throw Error(kErrorUnknown, "image plane out of range");
    if (type != fType)
        throw Error(kErrorUnknown, "Pixel type access mismatch");
}

View16 Image::View16Of(uint32_t plane)
{
    CheckPlane(plane, PixelType::kUInt16);
    auto* base = reinterpret_cast<uint16_t*>(fData.get()) + plane * fPlaneSamples;
    return {base, fWidth, fHeight, fWidth};
}

ConstView16 Image::ConstView16Of(uint32_t plane) const
{
    CheckPlane(plane, PixelType::kUInt16);
    auto* base = reinterpret_cast<const uint16_t*>(fData.get()) + plane * fPlaneSamples;
    return {base, fWidth, fHeight, fWidth};
}

View8 Image::View8Of(uint32_t plane)
{
    CheckPlane(plane, PixelType::kUInt8);
    return {fData.get() + plane * fPlaneSamples, fWidth, fHeight, fWidth};
}

ConstView8 Image::ConstView8Of(uint32_t plane) const
{
    CheckPlane(plane, PixelType::kUInt8);
    return {fData.get() + plane * fPlaneSamples, fWidth, fHeight, fWidth};
}

} // namespace dng
