// Chromaticity coordinates and the standard white points.
#pragma once

#include "matrix.h"

namespace dng {

struct XYCoord {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const XYCoord&, const XYCoord&) = default;
};

inline constexpr XYCoord kStdA{0.4476, 0.4074};
inline constexpr XYCoord kD50{0.3457, 0.3585};
inline constexpr XYCoord kD55{0.3324, 0.3474};
inline constexpr XYCoord kD65{0.3127, 0.3290};
inline constexpr XYCoord kD75{0.2990, 0.3149};

// XYZ with Y = 1 from xy (y must be > 0; an invalid xy gives D50), and back.
Vector XYtoXYZ(const XYCoord& xy);
XYCoord XYZtoXY(const Vector& xyz);
// Temperature in kelvin that the DNG colour model gives an EXIF LightSource code; 0 when unknown.
double IlluminantToTemperature(uint32_t lightSource);

} // namespace dng
