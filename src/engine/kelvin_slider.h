// The colour-temperature slider of the main window: its position (0..1000) and the temperature it
// stands for. One rule for the label, the white balance of a conversion and the slider's move to
// a photo's own white.
#pragma once

#include <string>

namespace engine {

constexpr int kKelvinSliderMaximum = 1000;

// 2000 K to 10000 K in steps of 10 K up to position 800, then faster: 2000 + p x ((p - 800) x c
// + 10), 50000.418 K at 1000.
double KelvinFromSliderPosition(int position);

// The position whose temperature is nearest below kelvin (the inverse of the rule above),
// clamped to 0..1000.
int KelvinSliderPosition(double kelvin);

// "5000 k": the temperature truncated to whole kelvin.
std::string KelvinLabel(double kelvin);

} // namespace engine
