// The colour filter array of a raw image: its repeat pattern (at most 8 x 8) and plane colours.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace dng {

enum : uint8_t { kColorRed = 0, kColorGreen = 1, kColorBlue = 2 };

struct MosaicInfo {
    static constexpr uint32_t kMaxPattern = 8;

    uint32_t fCFAPatternRows = 0;
    uint32_t fCFAPatternCols = 0;
    // Indexed by row, then column; colour codes 0 red, 1 green, 2 blue (3.. other colours).
    std::array<std::array<uint8_t, kMaxPattern>, kMaxPattern> fCFAPattern{};
    std::vector<uint8_t> fCFAPlaneColor{kColorRed, kColorGreen, kColorBlue};
    uint32_t fCFALayout = 1;
    uint32_t fBayerGreenSplit = 0;

    bool IsColorFilterArray() const { return fCFAPatternRows > 0 && fCFAPatternCols > 0; }
};

} // namespace dng
