// Colours given as 0x00BBGGRR values (the form of every colour the windows' descriptions use).
#pragma once

#include <QColor>

#include <cstdint>

namespace ui {

inline QColor ColorOfTColor(uint32_t c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

} // namespace ui
