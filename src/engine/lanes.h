// Helpers for the interpolation passes' pixel loops, written once for one photosite and for
// several at a time: V is int32_t or four int32 lanes (Lanes), real64 values are a double or two
// real64 lanes (RealPair, the width of an SSE2 register). Comparisons give a bool or a lane mask
// and ?: selects per photosite in both, so the same steps serve both forms. Real64 steps are the
// same IEEE operations in every lane, so a photosite gets the same value either way.
#pragma once

#include <cstdint>

namespace engine {

using Lanes = int32_t __attribute__((vector_size(16)));
using RealPair = double __attribute__((vector_size(16)));
using PairMask = int64_t __attribute__((vector_size(16)));

template <typename V>
[[gnu::always_inline]] inline V Splat(int32_t v)
{
    return V{} + v;
}

template <typename V>
[[gnu::always_inline]] inline V AbsDiff(V a, V b)
{
    const V d = a - b;
    return d < 0 ? -d : d;
}

template <typename V>
[[gnu::always_inline]] inline V Min(V a, V b)
{
    return a < b ? a : b;
}

template <typename V>
[[gnu::always_inline]] inline V Max(V a, V b)
{
    return a > b ? a : b;
}

// Lanes `first` and `first + 1` as real64.
[[gnu::always_inline]] inline RealPair RealPairOf(Lanes v, int first)
{
    return RealPair{double(v[first]), double(v[first + 1])};
}

} // namespace engine
