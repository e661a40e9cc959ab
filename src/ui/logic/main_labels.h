// Texts of the main window that follow a control's value or a run's state.
#pragma once

#include <string>

namespace ui {

constexpr int kStrengthMaximum = 19;

// "5%" at position 0 up to "100%" at 19: position x 5 + 5.
std::string StrengthLabel(int position);
// "6470 k": the colour-temperature slider's position as whole kelvin.
std::string TemperatureLabel(int position);
// "photo 2 of 5".
std::string PhotoCounterLabel(int counter, int count);

// Kind of a file by the end of its name, letters A to Z lower-cased (no dot needed): "jpg" 0,
// "tif" or "tiff" 1, "dng" 2, anything else 3.
int FileKind(const std::string& name);
constexpr int kFileKindDng = 2;

// The manual G1/G2 value as typed: true with the value when it is a whole number from 50 to
// 10000 (blanks around it allowed).
bool ParseG1G2Entry(const std::string& text, int& value);

} // namespace ui
