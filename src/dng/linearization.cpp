#include "linearization.h"

#include "error.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace dng {

double LinearizationInfo::BlackLevel(uint32_t row, uint32_t col, uint32_t plane) const
{
    double b = fBlackLevel[row % fBlackLevelRepeatRows][col % fBlackLevelRepeatCols][plane];
    if (col < fBlackDeltaH.size())
        b += fBlackDeltaH[col];
    if (row < fBlackDeltaV.size())
        b += fBlackDeltaV[row];
    return b;
}

double LinearizationInfo::MaxBlackLevel(uint32_t plane) const
{
    double maxPattern = -1e300;
    for (uint32_t r = 0; r < fBlackLevelRepeatRows; ++r)
        for (uint32_t c = 0; c < fBlackLevelRepeatCols; ++c)
            maxPattern = std::max(maxPattern, fBlackLevel[r][c][plane]);
    double maxH = fBlackDeltaH.empty() ? 0.0 : *std::max_element(fBlackDeltaH.begin(), fBlackDeltaH.end());
    double maxV = fBlackDeltaV.empty() ? 0.0 : *std::max_element(fBlackDeltaV.begin(), fBlackDeltaV.end());
    return maxPattern + maxH + maxV;
}

namespace {

inline uint16_t ToStage2(double value, double black, double scale)
{
    double y = (value - black) * scale;
    if (!(y > 0.0))
        return 0;
    if (y >= 65535.0)
        return 65535;
    return static_cast<uint16_t>(std::floor(y + 0.5));
}

template <typename T>
void LinearizePlane(PlaneView<const T> src, View16 dst, const LinearizationInfo& info, uint32_t plane)
{
    const std::vector<uint16_t>& table = info.fLinearizationTable;
    const size_t tableLast = table.empty() ? 0 : table.size() - 1;
    auto lin = [&](uint32_t v) -> double {
        return table.empty() ? double(v) : double(table[std::min<size_t>(v, tableLast)]);
    };
    const double white = info.fWhiteLevel[plane];
    const double range = white - info.MaxBlackLevel(plane);
    if (!(range > 0.0))
        ThrowBadFormat("white level does not lie above the black level");
    const double scale = 65535.0 / range;

    const bool uniformBlack = info.fBlackLevelRepeatRows == 1 && info.fBlackLevelRepeatCols == 1 &&
                              info.fBlackDeltaH.empty() && info.fBlackDeltaV.empty();
    if (uniformBlack) {
        // One black level: fold table, black and scale into one look-up table.
        const double black = info.fBlackLevel[0][0][plane];
        const uint32_t entries = sizeof(T) == 1 ? 256u : 65536u;
        std::vector<uint16_t> lut(entries);
        for (uint32_t v = 0; v < entries; ++v)
            lut[v] = ToStage2(lin(v), black, scale);
        for (int32_t y = 0; y < dst.height; ++y) {
            const T* s = src.Row(y);
            uint16_t* d = dst.Row(y);
            for (int32_t x = 0; x < dst.width; ++x)
                d[x] = lut[s[x]];
        }
        return;
    }
    for (int32_t y = 0; y < dst.height; ++y) {
        const T* s = src.Row(y);
        uint16_t* d = dst.Row(y);
        for (int32_t x = 0; x < dst.width; ++x)
            d[x] = ToStage2(lin(s[x]), info.BlackLevel(uint32_t(y), uint32_t(x), plane), scale);
    }
}

} // namespace

std::unique_ptr<Image> BuildLinearImage(Host& host, const Image& stage1, const LinearizationInfo& info)
{
    // A result smaller than the raw image it came from (a half-size plane) keeps the part of the
    // active area that it covers.
    const Rect area = info.fActiveArea.t < 0 || info.fActiveArea.l < 0 ? Rect() : Intersect(info.fActiveArea, stage1.Bounds());
    if (area.IsEmpty())
        ThrowBadFormat("active area does not lie inside the raw image");
    if (stage1.Planes() > LinearizationInfo::kMaxPlanes)
        ThrowBadFormat("too many planes");
    if (info.fBlackLevelRepeatRows < 1 || info.fBlackLevelRepeatRows > LinearizationInfo::kMaxPattern ||
        info.fBlackLevelRepeatCols < 1 || info.fBlackLevelRepeatCols > LinearizationInfo::kMaxPattern)
        ThrowBadFormat("bad black level pattern");
    auto stage2 = host.Make_dng_image(area.W(), area.H(), stage1.Planes(), PixelType::kUInt16, ImageFill::kUnset);
    for (uint32_t p = 0; p < stage1.Planes(); ++p) {
        if (stage1.Type() == PixelType::kUInt16)
            LinearizePlane<uint16_t>(stage1.ConstView16Of(p).Sub(area), stage2->View16Of(p), info, p);
        else
            LinearizePlane<uint8_t>(stage1.ConstView8Of(p).Sub(area), stage2->View16Of(p), info, p);
    }
    return stage2;
}

} // namespace dng
