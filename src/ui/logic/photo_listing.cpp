#include "ui/logic/photo_listing.h"

#include <cstddef>

namespace ui {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares the digit runs starting at a[i] and b[j] by value and advances both indices past them.
// Returns <0, 0 or >0. Leading zeros do not count, so arbitrarily long runs never overflow.
int CompareNumbers(std::string_view a, std::size_t& i, std::string_view b, std::size_t& j)
{
    while (i < a.size() && a[i] == '0') ++i;
    while (j < b.size() && b[j] == '0') ++j;
    const std::size_t startA = i, startB = j;
    while (i < a.size() && IsDigit(a[i])) ++i;
    while (j < b.size() && IsDigit(b[j])) ++j;
    const std::size_t lengthA = i - startA, lengthB = j - startB;
    if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
    return a.substr(startA, lengthA).compare(b.substr(startB, lengthB));
}

} // namespace

bool IsDngFileName(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot != 4) return false;
    return Lower(name[dot + 1]) == 'd' && Lower(name[dot + 2]) == 'n' && Lower(name[dot + 3]) == 'g';
}

bool NaturalLess(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            if (const int order = CompareNumbers(a, i, b, j); order != 0) return order < 0;
            continue;
        }
        const char ca = Lower(a[i]), cb = Lower(b[j]);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb);
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return j < b.size() && i >= a.size();
    return a < b;
}

} // namespace ui
