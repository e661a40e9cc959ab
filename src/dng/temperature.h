// Correlated colour temperature and tint of a white point (Robertson's method on the CIE 1960
// uv diagram, with the isotherm table the DNG colour model uses), and back.
#pragma once

#include "xy_coord.h"

namespace dng {

class Temperature {
public:
    Temperature() = default;
    Temperature(double kelvin, double tint) : fTemperature(kelvin), fTint(tint) {}
    explicit Temperature(const XYCoord& xy) { Set_xy_coord(xy); }

    double Kelvin() const { return fTemperature; }
    double Tint() const { return fTint; }
    void SetKelvin(double kelvin) { fTemperature = kelvin; }
    void SetTint(double tint) { fTint = tint; }

    void Set_xy_coord(const XYCoord& xy);
    XYCoord Get_xy_coord() const; // temperature clamped to 1667 K .. infinity

private:
    double fTemperature = 0.0;
    double fTint = 0.0;
};

} // namespace dng
