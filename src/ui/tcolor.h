// Colours given as 0x00BBGGRR values (the form of every colour the windows' descriptions use).
#pragma once

#include <QColor>

#include <cstdint>

namespace ui {

// The named colours the windows use.
namespace tcolor {
constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kGreen = 0x008000; // clGreen
constexpr uint32_t kLime = 0x00FF00;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kYellow = 0x00FFFF;
constexpr uint32_t kOrange = 0x0080FF;
constexpr uint32_t kMaroon = 0x000080;
constexpr uint32_t kGrey = 0x808080;
constexpr uint32_t kSilver = 0xC0C0C0;
} // namespace tcolor

inline QColor ColorOfTColor(uint32_t c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

} // namespace ui
