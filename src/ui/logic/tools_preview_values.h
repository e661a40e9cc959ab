// The tools preview's slider arithmetic, free of widgets: which strength sliders a method uses,
// the strengths a preview run gets from the positions and the stop buttons, the number labels, and
// the snapshot of the values that were applied last.
#pragma once

#include "engine/engine_ui.h"

#include <array>
#include <cstdint>
#include <string>

namespace ui {

// Indexed by engine::NoiseSlider.
constexpr int kNoiseSliderCount = 8;
using NoiseArray = std::array<int32_t, kNoiseSliderCount>;
using NoiseFlags = std::array<bool, kNoiseSliderCount>;

inline constexpr int Index(engine::NoiseSlider s) { return static_cast<int>(s); }

// The six strength sliders (green, red, blue channel; regular, red, blue result) a method uses:
// mode 0 Regular ... 5 RGB - Blue, 6 and 7 RAW - Red and RAW - Blue at full strength.
std::array<bool, 6> StrengthSlidersOfMode(int mode);

// What a preview run gets: channels x 10, results x 6, detail and balance as they are; a stopped
// slider gives 0, a stopped balance 100. In mode 4 the red and blue sliders follow green or regular,
// and are left out with it.
struct PreviewStrengths {
    int32_t preGreen = 0, preRed = 0, preBlue = 0;
    int32_t regular = 0, red = 0, blue = 0;
    int32_t detail = 0, balance = 100;
    bool NoiseActive() const { return preGreen > 0 || preRed > 0 || preBlue > 0 || regular > 0 || red > 0 || blue > 0; }
};
PreviewStrengths PreviewStrengthsOf(const NoiseArray& positions, NoiseFlags stopped, int mode);

// Any of the six strength sliders above 0: detail and balance then take part.
bool AnyStrength(const NoiseArray& positions);

// The number label of a slider: its position, the balance as position - 100 with "+" before a
// positive value; "0" while stopped.
std::string NoiseLabel(engine::NoiseSlider slider, int32_t position, bool stopped);

// Defaults of the sliders: everything 0 but detail 50, balance 100, focus radius 1.
constexpr int32_t kDefaultDetail = 50;
constexpr int32_t kDefaultBalance = 100;
constexpr int32_t kDefaultFocusRadius = 1;

// The deblurring sliders' positions.
struct DeblurPositions {
    int32_t lowPass = 0, masking = 0, dark = 0, bright = 0, focusRadius = kDefaultFocusRadius;
    bool operator==(const DeblurPositions&) const = default;
};

// Slider positions as last applied (the kernel is kept beside it by the window).
struct ToolsPreviewSnapshot {
    NoiseArray noise{0, 0, 0, 0, 0, 0, kDefaultDetail, kDefaultBalance};
    DeblurPositions deblur;
    bool operator==(const ToolsPreviewSnapshot&) const = default;
};

} // namespace ui
