// Exact TIFF rationals. Values are kept as stored so that they can be written back unchanged.
#pragma once

#include <cstdint>

namespace dng {

struct URational {
    uint32_t n = 0;
    uint32_t d = 0;

    constexpr URational() = default;
    constexpr URational(uint32_t num, uint32_t den) : n(num), d(den) {}
    bool IsValid() const { return d != 0; }
    // 0 when the denominator is 0.
    double As_real64() const { return d ? static_cast<double>(n) / static_cast<double>(d) : 0.0; }
    friend bool operator==(const URational&, const URational&) = default;
};

struct SRational {
    int32_t n = 0;
    int32_t d = 0;

    constexpr SRational() = default;
    constexpr SRational(int32_t num, int32_t den) : n(num), d(den) {}
    bool IsValid() const { return d != 0; }
    double As_real64() const { return d ? static_cast<double>(n) / static_cast<double>(d) : 0.0; }
    friend bool operator==(const SRational&, const SRational&) = default;
};

} // namespace dng
