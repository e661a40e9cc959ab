// How stored raw values become linear values: the active area, the linearization table, the
// black level pattern with its row and column deltas, and the white level.
#pragma once

#include "rect.h"

#include <array>
#include <cstdint>
#include <vector>

namespace dng {

struct LinearizationInfo {
    static constexpr uint32_t kMaxPattern = 8;
    static constexpr uint32_t kMaxPlanes = 4;

    Rect fActiveArea;
    std::vector<Rect> fMaskedArea;
    std::vector<uint16_t> fLinearizationTable; // empty: identity

    uint32_t fBlackLevelRepeatRows = 1;
    uint32_t fBlackLevelRepeatCols = 1;
    // [row][col][plane], in the units after the linearization table.
    std::array<std::array<std::array<double, kMaxPlanes>, kMaxPattern>, kMaxPattern> fBlackLevel{};
    std::vector<double> fBlackDeltaH; // one per active-area column, or empty
    std::vector<double> fBlackDeltaV; // one per active-area row, or empty
    std::array<double, kMaxPlanes> fWhiteLevel{65535.0, 65535.0, 65535.0, 65535.0};

    // Black level of one active-area position and plane, deltas included.
    double BlackLevel(uint32_t row, uint32_t col, uint32_t plane) const;
    // The largest black level of a plane over the pattern and the deltas.
    double MaxBlackLevel(uint32_t plane) const;

    // The active and masked areas moved by dy rows and dx columns, as their pixels moved.
    void MoveAreas(int32_t dy, int32_t dx);
    // Makes the masked areas fit an image of the given size and the active area: each is clipped
    // to the image and, where it overlaps the active area, cut back to its largest part beside
    // it; one with nothing left, or overlapping one kept before it, is dropped; at most
    // maxAreas are kept.
    void FitMaskedAreas(const Rect& image, size_t maxAreas);
};

} // namespace dng
