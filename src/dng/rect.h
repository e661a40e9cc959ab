// Integer rectangles with exclusive bottom and right edges, as DNG areas are given.
#pragma once

#include <algorithm>
#include <cstdint>

namespace dng {

struct Rect {
    int32_t t = 0;
    int32_t l = 0;
    int32_t b = 0;
    int32_t r = 0;

    constexpr Rect() = default;
    constexpr Rect(int32_t top, int32_t left, int32_t bottom, int32_t right) : t(top), l(left), b(bottom), r(right) {}
    constexpr Rect(int32_t height, int32_t width) : t(0), l(0), b(height), r(width) {}

    constexpr int32_t W() const { return r > l ? r - l : 0; }
    constexpr int32_t H() const { return b > t ? b - t : 0; }
    constexpr bool IsEmpty() const { return r <= l || b <= t; }
    constexpr bool Contains(const Rect& o) const { return o.t >= t && o.l >= l && o.b <= b && o.r <= r; }
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

constexpr Rect Intersect(const Rect& a, const Rect& b)
{
    Rect x(std::max(a.t, b.t), std::max(a.l, b.l), std::min(a.b, b.b), std::min(a.r, b.r));
    return x.IsEmpty() ? Rect() : x;
}

} // namespace dng
