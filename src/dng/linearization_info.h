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
};

} // namespace dng
