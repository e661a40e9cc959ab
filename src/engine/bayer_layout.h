// Which colour filter covers each photosite of a camera body's raw image: known for the supported
// models, and read from a photo's own colour-filter pattern for the body that took it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace dng {
struct IfdInfo;
}

namespace engine {

enum class FilterColour : uint8_t { kRed, kGreen, kBlue };

// The colours of the 2 x 2 corner of the raw image as the engine stages it (an odd active-area
// origin moved to an even one), in which dead pixels are registered; the pattern repeats from it.
struct BayerLayout {
    std::array<std::array<FilterColour, 2>, 2> colour{}; // [row][column]

    FilterColour At(int32_t column, int32_t row) const { return colour[size_t(row & 1)][size_t(column & 1)]; }
    bool operator==(const BayerLayout&) const = default;
};

// The layout of a model's photos (the unique camera model, compared without regard to case or
// surrounding blanks). Models outside the table have red first, as most bodies do.
BayerLayout ModelBayerLayout(const std::string& model);

// The layout of a photo's main raw image: its 2 x 2 pattern. None for a raw image without such a
// pattern.
std::optional<BayerLayout> PhotoBayerLayout(const dng::IfdInfo& raw);

} // namespace engine
