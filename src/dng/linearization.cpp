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

void LinearizationInfo::MoveAreas(int32_t dy, int32_t dx)
{
    auto move = [&](Rect& a) { a = Rect(a.t + dy, a.l + dx, a.b + dy, a.r + dx); };
    move(fActiveArea);
    for (Rect& m : fMaskedArea)
        move(m);
}

void LinearizationInfo::FitMaskedAreas(const Rect& image, size_t maxAreas)
{
    const Rect& a = fActiveArea;
    std::vector<Rect> kept;
    for (const Rect& area : fMaskedArea) {
        Rect m = Intersect(area, image);
        if (!Intersect(m, a).IsEmpty()) {
            // The parts above, below, left and right of the active area; the largest stays.
            const Rect parts[4] = {Rect(m.t, m.l, std::min(m.b, a.t), m.r), Rect(std::max(m.t, a.b), m.l, m.b, m.r),
                                   Rect(m.t, m.l, m.b, std::min(m.r, a.l)), Rect(m.t, std::max(m.l, a.r), m.b, m.r)};
            m = Rect();
            for (const Rect& part : parts)
                if (int64_t(part.W()) * part.H() > int64_t(m.W()) * m.H())
                    m = part;
        }
        const bool overlaps =
            std::any_of(kept.begin(), kept.end(), [&](const Rect& k) { return !Intersect(k, m).IsEmpty(); });
        if (!m.IsEmpty() && !overlaps && kept.size() < maxAreas)
            kept.push_back(m);
    }
    fMaskedArea = std::move(kept);
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
void LinearizePlane(Host& host, PlaneView<const T> src, View16 dst, const LinearizationInfo& info, uint32_t plane)
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
            host.KeepAlive();
        }
        return;
    }
    for (int32_t y = 0; y < dst.height; ++y) {
        const T* s = src.Row(y);
        uint16_t* d = dst.Row(y);
        for (int32_t x = 0; x < dst.width; ++x)
            d[x] = ToStage2(lin(s[x]), info.BlackLevel(uint32_t(y), uint32_t(x), plane), scale);
        host.KeepAlive();
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
            LinearizePlane<uint16_t>(host, stage1.ConstView16Of(p).Sub(area), stage2->View16Of(p), info, p);
        else
            LinearizePlane<uint8_t>(host, stage1.ConstView8Of(p).Sub(area), stage2->View16Of(p), info, p);
    }
    return stage2;
}

} // namespace dng
