// Which files the explorer lists and in which order: plain rules, no Qt.
#pragma once

#include <string_view>

namespace ui {

// True for a name whose extension (from the last dot) is ".dng" in any letter case.
bool IsDngFileName(std::string_view name);

// Natural order of file names: runs of digits compare by value ("img2" before "img10"), letters
// without regard to case; names that differ only there fall back to plain byte order.
bool NaturalLess(std::string_view a, std::string_view b);

} // namespace ui
