#include "half_size_geometry.h"

#include "dng/error.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace engine {

namespace {

// The first (up to) count values at even indices, in order: value 2j becomes value j.
template <typename T>
std::vector<T> EvenIndexValues(const std::vector<T>& values, size_t count)
{
    std::vector<T> kept;
    for (size_t j = 0; j < count && 2 * j < values.size(); ++j)
        kept.push_back(values[2 * j]);
    return kept;
}

dng::URational Halved(dng::URational v)
{
    return dng::URational(uint32_t(v.As_real64() * 0.5), 1);
}

} // namespace

HalfSize EvenHalfSize(int32_t width, int32_t height)
{
    HalfSize half{width / 2, height / 2};
    half.width -= half.width & 1;
    half.height -= half.height & 1;
    if (half.width < 1 || half.height < 1)
        throw dng::Error(dng::kErrorFileIsDamaged, "its image of " + std::to_string(width) + " x " +
                                                       std::to_string(height) + " pixels is too small to halve");
    return half;
}

void HalveActiveAreaAndCrop(dng::Negative& negative, int32_t halfWidth, int32_t halfHeight,
                            CropWidthHalving cropWidth)
{
    if (dng::LinearizationInfo* lin = negative.GetLinearizationInfo())
        lin->fActiveArea = dng::Rect(lin->fActiveArea.t / 2, lin->fActiveArea.l / 2, halfHeight, halfWidth);
    dng::URational sizeH = cropWidth == CropWidthHalving::kRound
                                     ? dng::URational(uint32_t(negative.DefaultCropSizeH().As_real64() * 0.5 + 0.5), 1)
                                     : Halved(negative.DefaultCropSizeH());
    const dng::URational originH = Halved(negative.DefaultCropOriginH());
    const dng::URational originV = Halved(negative.DefaultCropOriginV());
    dng::URational sizeV = Halved(negative.DefaultCropSizeV());
    // The crop stays inside the halved active area: a rounded width, or an active area cut back
    // to an even size, would otherwise reach one past it.
    if (const dng::LinearizationInfo* lin = negative.GetLinearizationInfo()) {
        auto fit = [](dng::URational size, dng::URational origin, int32_t extent) {
            const double room = std::max(0.0, extent - origin.As_real64());
            return size.As_real64() > room ? dng::URational(uint32_t(room), 1) : size;
        };
        sizeH = fit(sizeH, originH, lin->fActiveArea.W());
        sizeV = fit(sizeV, originV, lin->fActiveArea.H());
    }
    negative.SetDefaultCropOrigin(originH, originV);
    negative.SetDefaultCropSize(sizeH, sizeV);
}

void HalveMaskedAreasAndDeltas(dng::Negative& negative, dng::Info& info, bool activeAreaHalved)
{
    dng::LinearizationInfo* lin = negative.GetLinearizationInfo();
    if (lin)
        for (dng::Rect& m : lin->fMaskedArea)
            m = dng::Rect(m.t / 2, m.l / 2, m.b / 2, m.r / 2);
    if (info.MainIndex() < 0 || size_t(info.MainIndex()) >= info.Ifds().size())
        return;
    dng::IfdInfo& raw = info.MutableMainIfd();
    // One delta per row (column) of the halved active area. That area is cut back to an even size
    // and reaches the halved image's edge, so it can hold one delta fewer than half of them (an
    // odd half), or more (rows that lay below or right of the active area, which had none: 0).
    const auto deltaCount = [&](size_t stored, int32_t extent) {
        return activeAreaHalved && lin ? size_t(std::max(extent, 0)) : stored >> 1;
    };
    const auto halve = [&](std::vector<dng::SRational>& stored, std::vector<double>* linear, int32_t extent) {
        if (stored.empty())
            return;
        const size_t count = deltaCount(stored.size(), extent);
        stored = EvenIndexValues(stored, count);
        stored.resize(count, dng::SRational(0, 1));
        if (linear) {
            *linear = EvenIndexValues(*linear, count);
            linear->resize(count, 0.0);
        }
    };
    halve(raw.blackLevelDeltaH, lin ? &lin->fBlackDeltaH : nullptr, lin ? lin->fActiveArea.W() : 0);
    halve(raw.blackLevelDeltaV, lin ? &lin->fBlackDeltaV : nullptr, lin ? lin->fActiveArea.H() : 0);
}

} // namespace engine
