// The one-dimensional smoothing step of the wavelet noise reduction: the "hat" kernel
// (1 2 1) with holes, its taps sc samples apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// out[i] = 2 x[i] + x[i - sc] + x[i + sc] for i in [0, n), with x[k] = in[k * stride]. Positions
// beyond either end are mirrored about the end sample without repeating it (-k reads k,
// n - 1 + k reads n - 1 - k). Each sum is formed in double, left to right, and stored as a float.
// The caller guarantees n >= 2 * sc, so that every mirrored position lies inside [0, n).
inline void HatTransform(float* out, const float* in, ptrdiff_t stride, int32_t n, int32_t sc)
{
    const ptrdiff_t s = stride;
    const int32_t tail = n - sc; // from here on i + sc lies beyond the end
    for (int32_t i = 0; i < sc; ++i)
        out[i] = static_cast<float>(2.0 * in[i * s] + in[(sc - i) * s] + in[(i + sc) * s]);
    for (int32_t i = sc; i < tail; ++i)
        out[i] = static_cast<float>(2.0 * in[i * s] + in[(i - sc) * s] + in[(i + sc) * s]);
    for (int32_t i = tail; i < n; ++i)
        out[i] = static_cast<float>(2.0 * in[i * s] + in[(i - sc) * s] + in[(2 * n - 2 - (i + sc)) * s]);
}

} // namespace engine
