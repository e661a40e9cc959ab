#include "ui/logic/main_labels.h"

#include "engine/kelvin_slider.h"

#include <algorithm>
#include <charconv>

namespace ui {

std::string StrengthLabel(int position)
{
    return std::to_string(std::clamp(position, 0, kStrengthMaximum) * 5 + 5) + "%";
}

std::string TemperatureLabel(int position)
{
    return engine::KelvinLabel(engine::KelvinFromSliderPosition(position));
}

std::string PhotoCounterLabel(int counter, int count)
{
    return "photo " + std::to_string(counter) + " of " + std::to_string(count);
}

namespace {

std::string LowerTail(const std::string& name, size_t n)
{
    std::string tail = name.size() >= n ? name.substr(name.size() - n) : name;
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return tail;
}

} // namespace

int FileKind(const std::string& name)
{
    const std::string three = LowerTail(name, 3);
    if (three == "jpg")
        return 0;
    if (three == "tif" || LowerTail(name, 4) == "tiff")
        return 1;
    if (three == "dng")
        return kFileKindDng;
    return 3;
}

bool ParseG1G2Entry(const std::string& text, int& value)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return false;
    const size_t last = text.find_last_not_of(" \t");
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    if (*begin == '+')
        ++begin;
    int v = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || ptr != end || v < 50 || v > 10000)
        return false;
    value = v;
    return true;
}

} // namespace ui
