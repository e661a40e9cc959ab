#include "ui/logic/tools_preview_values.h"

namespace ui {

using engine::NoiseSlider;

std::array<bool, 6> StrengthSlidersOfMode(int mode)
{
    switch (mode) {
    case 0: return {false, true, true, true, false, false};
    case 1:
    case 3: return {true, true, true, true, true, false};
    case 2:
    case 5: return {true, true, true, true, false, true};
    case 4: return {false, false, false, true, false, false};
    case 6: return {true, false, true, false, true, false};
    case 7: return {true, true, false, false, false, true};
    default: return {false, false, false, false, false, false};
    }
}

PreviewStrengths PreviewStrengthsOf(const NoiseArray& p, NoiseFlags stopped, int mode)
{
    if (mode == 4) {
        stopped[Index(NoiseSlider::kRedChannel)] = stopped[Index(NoiseSlider::kBlueChannel)] =
            stopped[Index(NoiseSlider::kGreenChannel)];
        stopped[Index(NoiseSlider::kRedResult)] = stopped[Index(NoiseSlider::kBlueResult)] =
            stopped[Index(NoiseSlider::kRegularResult)];
    }
    const auto at = [&](NoiseSlider s, int32_t factor) {
        return stopped[Index(s)] ? 0 : p[Index(s)] * factor;
    };
    PreviewStrengths v;
    v.preGreen = at(NoiseSlider::kGreenChannel, 10);
    v.preRed = at(NoiseSlider::kRedChannel, 10);
    v.preBlue = at(NoiseSlider::kBlueChannel, 10);
    v.regular = at(NoiseSlider::kRegularResult, 6);
    v.red = at(NoiseSlider::kRedResult, 6);
    v.blue = at(NoiseSlider::kBlueResult, 6);
    v.detail = at(NoiseSlider::kDetail, 1);
    v.balance = stopped[Index(NoiseSlider::kBalance)] ? 100 : p[Index(NoiseSlider::kBalance)];
    return v;
}

bool AnyStrength(const NoiseArray& p)
{
    for (int i = 0; i < 6; ++i)
        if (p[i] > 0)
            return true;
    return false;
}

std::string NoiseLabel(NoiseSlider slider, int32_t position, bool stopped)
{
    if (stopped)
        return "0";
    if (slider != NoiseSlider::kBalance)
        return std::to_string(position);
    const int32_t v = position - 100;
    return (v > 0 ? "+" : "") + std::to_string(v);
}

} // namespace ui
