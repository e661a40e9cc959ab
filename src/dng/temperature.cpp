#include "temperature.h"

#include "error.h"

#include <cmath>

namespace dng {

namespace {

// Isotherms of the Planckian locus on the CIE 1960 uv diagram: r in mired (1e6 / kelvin), the
// locus point (u, v) and the slope t = dv/du of the isotherm through it. u at 325 mired is
// 0.24702 (0.24792 would be the smooth value); it is kept so that temperatures agree with the
// figures other raw converters show.
struct Isotherm {
    double r;
    double u;
    double v;
    double t;
};

constexpr Isotherm kIsotherms[] = {
    {0, 0.18006, 0.26352, -0.24341},   {10, 0.18066, 0.26589, -0.25479},
    {20, 0.18133, 0.26846, -0.26876},  {30, 0.18208, 0.27119, -0.28539},
    {40, 0.18293, 0.27407, -0.30470},  {50, 0.18388, 0.27709, -0.32675},
    {60, 0.18494, 0.28021, -0.35156},  {70, 0.18611, 0.28342, -0.37915},
    {80, 0.18740, 0.28668, -0.40955},  {90, 0.18880, 0.28997, -0.44278},
    {100, 0.19032, 0.29326, -0.47888}, {125, 0.19462, 0.30141, -0.58204},
    {150, 0.19962, 0.30921, -0.70471}, {175, 0.20525, 0.31647, -0.84901},
    {200, 0.21142, 0.32312, -1.0182},  {225, 0.21807, 0.32909, -1.2168},
    {250, 0.22511, 0.33439, -1.4512},  {275, 0.23247, 0.33904, -1.7298},
    {300, 0.24010, 0.34308, -2.0637},  {325, 0.24702, 0.34655, -2.4681},
    {350, 0.25591, 0.34951, -2.9641},  {375, 0.26400, 0.35200, -3.5814},
    {400, 0.27218, 0.35407, -4.3633},  {425, 0.28039, 0.35577, -5.3762},
    {450, 0.28863, 0.35714, -6.7262},  {475, 0.29685, 0.35823, -8.5955},
    {500, 0.30505, 0.35907, -11.324},  {525, 0.31320, 0.35968, -15.628},
    {550, 0.32129, 0.36011, -23.325},  {575, 0.32931, 0.36038, -40.770},
    {600, 0.33724, 0.36051, -116.45},
};
constexpr int kLast = 30; // index of the last isotherm

// uv distance along an isotherm to tint units. Negative because the isotherm direction points
// to the magenta side, and greenish whites (above the locus) get a positive tint.
constexpr double kTintScale = -3000.0;

// Unit vector along isotherm i, pointing to larger u (the magenta side).
void Direction(int i, double& du, double& dv)
{
    const double len = std::sqrt(1.0 + kIsotherms[i].t * kIsotherms[i].t);
    du = 1.0 / len;
    dv = kIsotherms[i].t / len;
}

} // namespace

void Temperature::Set_xy_coord(const XYCoord& xy)
{
    if (!std::isfinite(xy.x) || !std::isfinite(xy.y))
        throw Error(kErrorBadFormat, "white point is not a finite chromaticity");
    const double denom = 1.5 - xy.x + 6.0 * xy.y;
    const double u = 2.0 * xy.x / denom;
    const double v = 3.0 * xy.y / denom;
    if (!(denom > 0.0) || !std::isfinite(u) || !std::isfinite(v))
        throw Error(kErrorBadFormat, "white point has no temperature");

    double prevS = 0.0;
    double prevDu = 0.0;
    double prevDv = 0.0;
    for (int i = 1; i <= kLast; ++i) {
        double du = 0.0;
        double dv = 0.0;
        Direction(i, du, dv);
        const double qu = u - kIsotherms[i].u;
        const double qv = v - kIsotherms[i].v;
        // Signed distance from isotherm i: positive while the point is on the warmer side.
        double s = -qu * dv + qv * du;
        if (s <= 0.0 || i == kLast) {
            s = -std::fmin(s, 0.0);
            const double f = (i == 1) ? 0.0 : s / (prevS + s);
            fTemperature = 1.0e6 / (kIsotherms[i - 1].r * f + kIsotherms[i].r * (1.0 - f));
            const double uL = kIsotherms[i - 1].u * f + kIsotherms[i].u * (1.0 - f);
            const double vL = kIsotherms[i - 1].v * f + kIsotherms[i].v * (1.0 - f);
            double tu = du * (1.0 - f) + prevDu * f;
            double tv = dv * (1.0 - f) + prevDv * f;
            const double len = std::sqrt(tu * tu + tv * tv);
            tu /= len;
            tv /= len;
            fTint = ((u - uL) * tu + (v - vL) * tv) * kTintScale;
            return;
        }
        prevS = s;
        prevDu = du;
        prevDv = dv;
    }
}

XYCoord Temperature::Get_xy_coord() const
{
    if (std::isnan(fTemperature) || !std::isfinite(fTint))
        throw Error(kErrorBadFormat, "temperature or tint is not a number");
    // Mired clamped to 0 .. 600: infinity down to the coolest isotherm of the table (1667 K).
    const double maxMired = kIsotherms[kLast].r;
    double r = fTemperature > 0.0 ? 1.0e6 / fTemperature : maxMired;
    r = std::fmin(r, maxMired);
    const double offset = fTint / kTintScale;

    for (int i = 0; i < kLast; ++i) {
        if (r < kIsotherms[i + 1].r || i == kLast - 1) {
            const double f = (kIsotherms[i + 1].r - r) / (kIsotherms[i + 1].r - kIsotherms[i].r);
            double u = kIsotherms[i].u * f + kIsotherms[i + 1].u * (1.0 - f);
            double v = kIsotherms[i].v * f + kIsotherms[i + 1].v * (1.0 - f);
            double du0 = 0.0, dv0 = 0.0, du1 = 0.0, dv1 = 0.0;
            Direction(i, du0, dv0);
            Direction(i + 1, du1, dv1);
            double du = du0 * f + du1 * (1.0 - f);
            double dv = dv0 * f + dv1 * (1.0 - f);
            const double len = std::sqrt(du * du + dv * dv);
            u += du / len * offset;
            v += dv / len * offset;
            const double denom = u - 4.0 * v + 2.0;
            const XYCoord xy{1.5 * u / denom, v / denom};
            if (!std::isfinite(xy.x) || !std::isfinite(xy.y) || !(xy.y > 0.0))
                throw Error(kErrorBadFormat, "tint too large for a white point");
            return xy;
        }
    }
    return kD50; // not reached: the loop always returns at its last row
}

} // namespace dng
