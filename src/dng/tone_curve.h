// A camera profile's tone curve (ProfileToneCurve): points (x, y) on linear values in [0, 1],
// from (0, 0) to (1, 1) with x strictly increasing, joined by a natural cubic spline (second
// derivative 0 at both ends). A curve that breaks any of these rules is no curve at all: readers
// then use their default curve.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace dng {

class ToneCurve {
public:
    // The curve of values stored as x0, y0, x1, y1, ...: at least two points, every value a finite
    // number in [0, 1], x strictly increasing, first point (0, 0), last (1, 1). Anything else
    // gives nothing.
    static std::optional<ToneCurve> FromValues(std::span<const double> values);

    // The curve at x (clipped to [0, 1] first); the result is clipped to [0, 1], since a spline
    // may swing past its points. Exact at the points.
    double Evaluate(double x) const;

    size_t PointCount() const { return fX.size(); }
    double X(size_t i) const { return fX[i]; }
    double Y(size_t i) const { return fY[i]; }

private:
    ToneCurve() = default;

    std::vector<double> fX;
    std::vector<double> fY;
    std::vector<double> fM; // second derivative of the spline at each point
};

} // namespace dng
