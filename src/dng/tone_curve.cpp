#include "tone_curve.h"

#include <algorithm>
#include <cmath>

namespace dng {

namespace {

double Clip01(double v)
{
    // Written so that a NaN ends up as 0.
    return v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0;
}

} // namespace

std::optional<ToneCurve> ToneCurve::FromValues(std::span<const double> values)
{
    if (values.size() < 4 || values.size() % 2 != 0)
        return std::nullopt;
    for (double v : values)
        if (!(v >= 0.0 && v <= 1.0)) // also refuses NaN
            return std::nullopt;
    const size_t n = values.size() / 2;
    ToneCurve c;
    c.fX.resize(n);
    c.fY.resize(n);
    for (size_t i = 0; i < n; ++i) {
        c.fX[i] = values[2 * i];
        c.fY[i] = values[2 * i + 1];
        if (i > 0 && !(c.fX[i] > c.fX[i - 1]))
            return std::nullopt;
    }
    if (c.fX.front() != 0.0 || c.fY.front() != 0.0 || c.fX.back() != 1.0 || c.fY.back() != 1.0)
        return std::nullopt;

    // Second derivatives of the natural spline: for the inner points
    //     h[i-1] M[i-1] + 2 (h[i-1] + h[i]) M[i] + h[i] M[i+1] = 6 (d[i] - d[i-1])
    // with h[i] = x[i+1] - x[i], d[i] = (y[i+1] - y[i]) / h[i], and M = 0 at both ends. The system
    // is tridiagonal and strictly diagonally dominant, so elimination without pivoting is stable.
    c.fM.assign(n, 0.0);
    if (n > 2) {
        std::vector<double> upper(n, 0.0); // the eliminated super-diagonal, divided by the pivot
        std::vector<double> rhs(n, 0.0);
        for (size_t i = 1; i + 1 < n; ++i) {
            const double h0 = c.fX[i] - c.fX[i - 1];
            const double h1 = c.fX[i + 1] - c.fX[i];
            const double r = 6.0 * ((c.fY[i + 1] - c.fY[i]) / h1 - (c.fY[i] - c.fY[i - 1]) / h0);
            const double pivot = 2.0 * (h0 + h1) - h0 * upper[i - 1];
            upper[i] = h1 / pivot;
            rhs[i] = (r - h0 * rhs[i - 1]) / pivot;
        }
        for (size_t i = n - 2; i >= 1; --i)
            c.fM[i] = rhs[i] - upper[i] * c.fM[i + 1];
    }
    return c;
}

double ToneCurve::Evaluate(double x) const
{
    x = Clip01(x);
    // The segment [x[i], x[i+1]] that holds x; x = 1 falls in the last one.
    const auto above = std::upper_bound(fX.begin(), fX.end(), x);
    const size_t i = std::min<size_t>(static_cast<size_t>(above - fX.begin()), fX.size() - 1) - 1;
    const double h = fX[i + 1] - fX[i];
    const double b = (x - fX[i]) / h;
    const double a = 1.0 - b;
    const double y =
        a * fY[i] + b * fY[i + 1] + ((a * a * a - a) * fM[i] + (b * b * b - b) * fM[i + 1]) * (h * h) / 6.0;
    return Clip01(y);
}

} // namespace dng
