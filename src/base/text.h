// Text helpers shared by the layers: trimming blanks, ASCII case-insensitive comparison.
#pragma once

#include <string>
#include <string_view>

namespace base {

// Blanks are spaces, tabs and the other control characters (bytes up to 0x20), as a trim of a
// name or a path removes them.
constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Text without its leading and trailing blanks.
std::string_view Trim(std::string_view text);
inline std::string Trimmed(std::string_view text) { return std::string(Trim(text)); }

constexpr char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
std::string LowerAscii(std::string_view text);

// Equal when only the case of ASCII letters differs.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace base
