// The default tone curve that DNG readers give a scene-referred negative whose camera profile has
// no valid curve of its own (the "ACR3" default curve), as samples and as a function.
#pragma once

#include <array>
#include <cstddef>

namespace dng {

inline constexpr std::size_t kAcr3ToneSamples = 1025;

// y at x = i / 1024, linear values in [0, 1]; the first is 0 and the last 1.
extern const std::array<float, kAcr3ToneSamples> kAcr3ToneCurve;

// The curve at a linear value (clipped to [0, 1] first; a NaN counts as 0), joined between the
// samples as readers join them: linearly, in single precision,
//     t = float(x) x 1024, i = min(int(t), 1023), f = t - i, y = s[i] (1 - f) + s[i + 1] f
double AcrToneCurve(double x);

} // namespace dng
