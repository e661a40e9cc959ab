#include "xy_coord.h"

#include <cmath>

namespace dng {

Vector XYtoXYZ(const XYCoord& xy)
{
    XYCoord c = xy;
    if (!std::isfinite(c.x) || !std::isfinite(c.y) || !(c.y > 0.0))
        c = kD50;
    return Vector{c.x / c.y, 1.0, (1.0 - c.x - c.y) / c.y};
}

XYCoord XYZtoXY(const Vector& xyz)
{
    if (xyz.Count() != 3)
        return kD50;
    const double sum = xyz[0] + xyz[1] + xyz[2];
    // A non-positive (or non-finite) sum has no chromaticity; fall back to the working white.
    if (!std::isfinite(sum) || !(sum > 0.0))
        return kD50;
    return XYCoord{xyz[0] / sum, xyz[1] / sum};
}

double IlluminantToTemperature(uint32_t lightSource)
{
    struct Entry {
        uint32_t code;
        double kelvin;
    };
    // EXIF LightSource codes; the fluorescent classes use the middle of their current bands.
    static constexpr Entry kTable[] = {
        {1, 5500.0},  // daylight
        {2, 4150.0},  // fluorescent
        {3, 2850.0},  // tungsten
        {4, 5500.0},  // flash
        {9, 5500.0},  // fine weather
        {10, 6500.0}, // cloudy
        {11, 7500.0}, // shade
        {12, 6400.0}, // daylight fluorescent
        {13, 5050.0}, // day white fluorescent
        {14, 4150.0}, // cool white fluorescent
        {15, 3525.0}, // white fluorescent
        {16, 2925.0}, // warm white fluorescent
        {17, 2850.0}, // standard light A
        {18, 5500.0}, // standard light B
        {19, 6500.0}, // standard light C
        {20, 5500.0}, // D55
        {21, 6500.0}, // D65
        {22, 7500.0}, // D75
        {23, 5000.0}, // D50
        {24, 3200.0}, // ISO studio tungsten
    };
    for (const Entry& e : kTable)
        if (e.code == lightSource)
            return e.kelvin;
    return 0.0;
}

} // namespace dng
