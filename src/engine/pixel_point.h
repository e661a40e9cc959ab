// One photosite of the raw colour-filter-array image: x is the column, y the row.
#pragma once

#include <cstdint>

namespace engine {

struct PixelPoint {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

} // namespace engine
