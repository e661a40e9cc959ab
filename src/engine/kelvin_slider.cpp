#include "kelvin_slider.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

// The growth of the upper part of the slider, kept in extended precision as the rule states it.
constexpr long double kUpperFactor = 0.19000209002299026L;

} // namespace

double KelvinFromSliderPosition(int position)
{
    const long double p = std::clamp(position, 0, kKelvinSliderMaximum);
    if (p <= 800.0L)
        return static_cast<double>(2000.0L + 10.0L * p);
    return static_cast<double>(2000.0L + p * ((p - 800.0L) * kUpperFactor + 10.0L));
}

// A temperature above 10000 K is placed by solving the quadratic for p, so that the slider stands
// where the main window reads the same temperature back (not at its end, which means 50000 K).
int KelvinSliderPosition(double kelvin)
{
    const double factor = static_cast<double>(kUpperFactor);
    double p = kelvin - 2000.0;
    if (p <= 8000.0) {
        p *= 0.1;
    } else {
        const double b = 10.0 - 800.0 * factor;
        const double disc = b * b + 4.0 * factor * (kelvin - 2000.0);
        p = (-b + std::sqrt(disc)) / (2.0 * factor);
    }
    if (!(p >= 0.0)) // NaN too
        return 0;
    if (p >= kKelvinSliderMaximum)
        return kKelvinSliderMaximum;
    return static_cast<int>(std::trunc(p));
}

// The clamp only keeps a freak value (a white next to the edge of the colour space) from an
// undefined conversion.
std::string KelvinLabel(double kelvin)
{
    const double whole = std::isfinite(kelvin) ? std::trunc(std::clamp(kelvin, -1e9, 1e9)) : 0.0;
    return std::to_string(static_cast<long long>(whole)) + " k";
}

} // namespace engine
