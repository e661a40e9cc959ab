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

void HalveMaskedAreasAndDeltas(dng::Negative& negative, dng::Info& info)
{
    dng::LinearizationInfo* lin = negative.GetLinearizationInfo();
    if (lin)
        for (dng::Rect& m : lin->fMaskedArea)
            m = dng::Rect(m.t / 2, m.l / 2, m.b / 2, m.r / 2);
    if (info.MainIndex() < 0 || size_t(info.MainIndex()) >= info.Ifds().size())
        return;
    dng::IfdInfo& raw = info.MutableMainIfd();
    if (!raw.blackLevelDeltaH.empty()) {
        const size_t count = raw.blackLevelDeltaH.size() >> 1;
        raw.blackLevelDeltaH = EvenIndexValues(raw.blackLevelDeltaH, count);
        if (lin)
            lin->fBlackDeltaH = EvenIndexValues(lin->fBlackDeltaH, count);
    }
    if (!raw.blackLevelDeltaV.empty()) {
        const size_t count = raw.blackLevelDeltaV.size() >> 1;
        raw.blackLevelDeltaV = EvenIndexValues(raw.blackLevelDeltaV, count);
        if (lin)
            lin->fBlackDeltaV = EvenIndexValues(lin->fBlackDeltaV, count);
    }
}

} // namespace engine
