// The channel filters of the "RAW" and "RGB" methods. The RAW filters blend the regular result into
// the red or blue channel image by the method's strength. The RGB filters emulate a coloured lens
// filter: they add to (red, blue) or subtract from (green) the regular result a black-corrected,
// white-balanced copy of the channel image(s), by a factor that follows from the strength, the
// white balance and, optionally, a gradient that fades the factor out across the photo.
#include "engine_ui.h"
#include "progress_reporter.h"
#include "vrel_negative.h"
#include "worker_pool.h"

#include "dng/error.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

namespace {

// Channel values above the 14-bit range are read as its top; the black table covers that range.
constexpr int32_t kBlackEntries = 16384;
constexpr double kChannelTop = 16383.0;
constexpr double kSampleTop = 65535.0;
constexpr double kFiveNinths = 0.5555555555555556;

enum class RgbKind { kRed, kGreen, kBlue };

// A missing working image means the run prepared the wrong images: a sequencing fault.
dng::Image& Required(const std::unique_ptr<dng::Image>& image, const char* operation, const char* what)
{
    if (!image)
        throw dng::Error(dng::kErrorUnknown, std::string(operation) + ": there is no " + what);
    return *image;
}

void ShowFiltering(ProgressReporter* progress)
{
    if (progress)
        progress->SetText("Filtering...");
}

// Pumps the message loop once and tells whether the user asked to cancel.
bool RowCancelled(VrelNegative& n)
{
    if (n.fUi)
        n.fUi->ProcessMessages();
    return n.fCancelRequested;
}

// Blends the regular result into a channel image: the channel keeps 5s % of its own value and takes
// 100 - 5s % of the regular result. The sum ((a - c) / q + 0.5) + c is truncated as a whole; being a
// convex combination of two samples plus one half it is never negative, so that is rounding to the
// nearest integer (halves up) and stays within 0..65535. Truncating (a - c) / q + 0.5 alone before
// adding c would round toward c instead whenever the regular value lies below the channel's.
// Every pixel is blended, also the last row and column of an odd-sized image. Returns false when
// cancelled; otherwise the blended channel image also becomes the regular result.
bool BlendRawChannel(VrelNegative& n, dng::Image& channel, double s, ProgressReporter* progress)
{
    const dng::Image& mono = Required(n.fMonoImage, "Filter", "regular result");
    ShowFiltering(progress);

    const dng::ConstView16 regular = mono.ConstView16Of(0);
    const dng::View16 out = channel.View16Of(0);
    const int32_t w = std::min(regular.width, out.width);
    const int32_t h = std::min(regular.height, out.height);
    const double q = 100.0 / (100.0 - 5.0 * s);

    auto before = [&](int32_t y) {
        if (progress && progress->Bar())
            progress->Bar()->SetPosition(y);
        return !RowCancelled(n);
    };
    auto rows = [&](int32_t y0, int32_t y1, int32_t) {
        for (int32_t y = y0; y < y1; ++y) {
            const uint16_t* a = regular.Row(y);
            uint16_t* c = out.Row(y);
            for (int32_t x = 0; x < w; ++x) {
                const double av = a[x];
                const double cv = c[x];
                c[x] = static_cast<uint16_t>(((av - cv) / q + 0.5) + cv);
            }
        }
    };
    if (!ForEachRow(n.fPool, h, before, rows))
        return false;
    n.fMonoImage = channel.Clone();
    return true;
}

// Black table: entry i is the integer part of max(0, i - black) (the top only matters for a
// negative black level, which would otherwise push entries past 16 bits).
std::array<uint16_t, kBlackEntries> BlackTable(double black)
{
    std::array<uint16_t, kBlackEntries> table{};
    for (int32_t i = 0; i < kBlackEntries; ++i) {
        const double v = std::clamp(double(i) - black, 0.0, kSampleTop);
        table[size_t(i)] = static_cast<uint16_t>(v);
    }
    return table;
}

// Every channel value black-corrected by the table, white-balanced, with the black level added
// back (values above the 14-bit range read as its top).
std::vector<double> BalancedTable(const std::array<uint16_t, kBlackEntries>& table, double balance, double black)
{
    std::vector<double> balanced(kBlackEntries);
    for (size_t i = 0; i < balanced.size(); ++i) {
        const double v = double(table[i]) * balance + black;
        balanced[i] = v < 0.0 ? 0.0 : v;
    }
    return balanced;
}

inline double Balanced(uint16_t x, const std::vector<double>& balanced)
{
    return balanced[std::min<uint16_t>(x, uint16_t(kBlackEntries - 1))];
}

// The magnitude of the factor, taken in single precision.
inline double SingleAbs(double g)
{
    return double(std::fabs(static_cast<float>(g)));
}

// Red and blue: a moves toward the balanced channel value by |g| (g is never positive).
// The result is held in the 14-bit range. The test !(v >= 0) also catches a NaN.
inline uint16_t RedBlueValue(double a, double g, double x)
{
    double v = a * g + a + SingleAbs(g) * x;
    if (v >= kChannelTop)
        v = kChannelTop;
    if (!(v >= 0.0))
        v = 0.0;
    return static_cast<uint16_t>(v);
}

// Green: the regular value lifted by 2g and the red and blue channels subtracted by g. The result
// saturates at the 16-bit top, which a strong factor on a bright pixel can exceed.
inline uint16_t GreenValue(double a, double g, double b, double r)
{
    double v = (1.0 + g + g) * a - (g * b + g * r);
    if (!(v >= 0.0))
        v = 0.0;
    if (v > kSampleTop)
        v = kSampleTop;
    return static_cast<uint16_t>(v);
}

// Where the factor runs across the image. It starts at g0 on the gradient's starting edge (top,
// bottom, left, right) and falls by one step per row or column until the gradient's reach, then
// stays. The reach is percent of the photo's extent in real division (50 % of 3472 rows is 1736
// rows, 30 % of 3472 is 1041.6 rows): integer division of 100 by the percent would make every
// reach above 50 % cover the whole photo. Rows and columns are counted in the full photo, so a
// crop at (rowOffset, columnOffset) gets the same factors as those pixels of the full image.
struct Gradient {
    bool on = false;
    int32_t direction = 0;
    double extentV = 0.0; // the photo's extents
    double extentH = 0.0;
    double reachV = 0.0;
    double reachH = 0.0;
    double stepV = 0.0;
    double stepH = 0.0;

    Gradient(double g0, bool useGradient, int32_t dir, int32_t percent, int32_t scaleH, int32_t scaleV)
        : on(useGradient), direction(dir), extentV(scaleV), extentH(scaleH)
    {
        const int32_t p = std::max(percent, int32_t(1));
        reachV = extentV / (100.0 / double(p));
        reachH = extentH / (100.0 / double(p));
        // A photo without an extent has no gradient to walk: no step rather than an infinite one.
        stepV = reachV > 0.0 ? g0 / reachV : 0.0;
        stepH = reachH > 0.0 ? g0 / reachH : 0.0;
    }

    // The factor at the starting edge: g0, but 0 for a gradient from the bottom or the right,
    // which climbs to g0 only toward that far edge.
    double Start(double g0) const { return on && (direction == 1 || direction == 3) ? 0.0 : g0; }

    // The factor after full-image row `row` (directions 0 and 1 only).
    double AfterRow(double g, int64_t row) const
    {
        if (!on)
            return g;
        if (direction == 0 && double(row) < reachV)
            return g - stepV;
        if (direction == 1 && double(row) > extentV - reachV)
            return g + stepV;
        return g;
    }

    // The factor after full-image column `col` (directions 2 and 3 only).
    double AfterColumn(double g, int64_t col) const
    {
        if (!on)
            return g;
        if (direction == 2 && double(col) < reachH)
            return g - stepH;
        if (direction == 3 && double(col) > extentH - reachH)
            return g + stepH;
        return g;
    }

    bool Horizontal() const { return on && (direction == 2 || direction == 3); }
};

struct RgbOptions {
    double s = 1.0;
    bool useGradient = false;
    int32_t direction = 0;
    int32_t percent = 0;
    bool boost = false;
    int32_t rowOffset = 0;
    int32_t columnOffset = 0;
};

// Returns false when cancelled (without a third copy). The result is in fMonoCopy3; fMonoImage is
// left as it was.
bool ApplyRgbFilter(VrelNegative& n, RgbKind kind, const RgbOptions& o, ProgressReporter* progress)
{
    const char* op = "Filter";
    const dng::Image& mono = Required(n.fMonoImage, op, "regular result");
    const bool readsRed = kind != RgbKind::kBlue;
    const bool readsBlue = kind != RgbKind::kRed;
    const dng::Image* red = readsRed ? &Required(n.fMonoCopy1, op, "red channel image") : nullptr;
    const dng::Image* blue = readsBlue ? &Required(n.fMonoCopy2, op, "blue channel image") : nullptr;

    const dng::LinearizationInfo* lin = n.GetLinearizationInfo();
    const double black = lin ? lin->MaxBlackLevel(0) : 0.0;
    const std::array<uint16_t, kBlackEntries> table = BlackTable(black);

    // The area is the channel image's (the red one for green), kept inside every image involved.
    const dng::Image& area = kind == RgbKind::kBlue ? *blue : *red;
    int32_t w = std::min(area.Width(), mono.Width());
    int32_t h = std::min(area.Height(), mono.Height());
    if (kind == RgbKind::kGreen) {
        w = std::min(w, blue->Width());
        h = std::min(h, blue->Height());
    }

    // The filtered area is written below; anything outside it keeps the regular result.
    n.fMonoCopy3 = std::make_unique<dng::Image>(mono.Width(), mono.Height(), 1, dng::PixelType::kUInt16,
                                                dng::ImageFill::kUnset);
    const dng::ConstView16 regular = mono.ConstView16Of(0);
    const dng::View16 out = n.fMonoCopy3->View16Of(0);
    for (int32_t r = 0; r < mono.Height(); ++r) {
        const int32_t from = r < h ? std::max(w, int32_t(0)) : 0;
        std::copy(regular.Row(r) + from, regular.Row(r) + mono.Width(), out.Row(r) + from);
    }
    const dng::ConstView16 redView = red ? red->ConstView16Of(0) : dng::ConstView16{};
    const dng::ConstView16 blueView = blue ? blue->ConstView16Of(0) : dng::ConstView16{};

    const double f = o.useGradient && o.boost ? 2.0 : 1.0;
    double g0;
    if (kind == RgbKind::kGreen) {
        const double d = n.fRedBalance - n.fBlueBalance;
        g0 = (o.s - 10.0) * d / 30.0 + f * SingleAbs(d) / 3.0;
    } else {
        g0 = -kFiveNinths * f * o.s / 10.0;
    }

    const Gradient grad(g0, o.useGradient, o.direction, o.percent, n.fScaleH, n.fScaleV);
    double g = grad.Start(g0);
    for (int64_t i = 0; i < o.rowOffset; ++i)
        g = grad.AfterRow(g, i);
    // The factor of every row, in the order the gradient steps from row to row.
    std::vector<double> rowFactor(size_t(std::max(h, int32_t(0))));
    for (int32_t r = 0; r < h; ++r) {
        rowFactor[size_t(r)] = g;
        g = grad.AfterRow(g, int64_t(o.rowOffset) + r);
    }

    // Left-to-right and right-to-left gradients give every row the same factors by column.
    std::vector<double> columnFactor;
    if (grad.Horizontal()) {
        columnFactor.resize(size_t(std::max(w, int32_t(0))));
        double gc = grad.Start(g0);
        for (int64_t i = 0; i < o.columnOffset; ++i)
            gc = grad.AfterColumn(gc, i);
        for (int32_t c = 0; c < w; ++c) {
            columnFactor[size_t(c)] = gc;
            gc = grad.AfterColumn(gc, int64_t(o.columnOffset) + c);
        }
    }

    if (progress && progress->Bar()) {
        progress->Bar()->SetRange(0, h);
        progress->Bar()->SetPosition(0);
    }
    ShowFiltering(progress);

    auto before = [&](int32_t) {
        if (progress)
            progress->Step(1);
        return !RowCancelled(n);
    };
    const std::vector<double> redBalanced = red ? BalancedTable(table, n.fRedBalance, black) : std::vector<double>();
    const std::vector<double> blueBalanced =
        blue ? BalancedTable(table, n.fBlueBalance, black) : std::vector<double>();
    auto row = [&](int32_t r) {
        const double g = rowFactor[size_t(r)];
        const uint16_t* a = regular.Row(r);
        uint16_t* dst = out.Row(r);
        const uint16_t* xr = red ? redView.Row(r) : nullptr;
        const uint16_t* xb = blue ? blueView.Row(r) : nullptr;
        for (int32_t c = 0; c < w; ++c) {
            const double gp = grad.Horizontal() ? columnFactor[size_t(c)] : g;
            switch (kind) {
            case RgbKind::kRed:
                dst[c] = RedBlueValue(a[c], gp, Balanced(xr[c], redBalanced));
                break;
            case RgbKind::kBlue:
                dst[c] = RedBlueValue(a[c], gp, Balanced(xb[c], blueBalanced));
                break;
            case RgbKind::kGreen:
                dst[c] = GreenValue(a[c], gp, Balanced(xb[c], blueBalanced), Balanced(xr[c], redBalanced));
                break;
            }
        }
    };
    if (!ForEachRow(n.fPool, h, before, [&](int32_t r0, int32_t r1, int32_t) {
            for (int32_t r = r0; r < r1; ++r)
                row(r);
        })) {
        n.fMonoCopy3.reset(); // rows not reached are unset: no result at all
        return false;
    }
    return true;
}

} // namespace

void VrelNegative::FilterRawRed(double s, bool /*halfSize*/, ProgressReporter* progress)
{
    BlendRawChannel(*this, Required(fMonoCopy1, "FilterRawRed", "red channel image"), s, progress);
}

void VrelNegative::FilterRawBlue(double s, bool /*halfSize*/, ProgressReporter* progress)
{
    BlendRawChannel(*this, Required(fMonoCopy2, "FilterRawBlue", "blue channel image"), s, progress);
}

void VrelNegative::FilterRgbRed(double s, bool useGradient, int32_t direction, int32_t percent, bool boost,
                                int32_t rowOffset, int32_t columnOffset, ProgressReporter* progress)
{
    ApplyRgbFilter(*this, RgbKind::kRed, {s, useGradient, direction, percent, boost, rowOffset, columnOffset},
                   progress);
}

void VrelNegative::FilterRgbGreen(double s, bool useGradient, int32_t direction, int32_t percent, bool boost,
                                  int32_t rowOffset, int32_t columnOffset, ProgressReporter* progress)
{
    ApplyRgbFilter(*this, RgbKind::kGreen, {s, useGradient, direction, percent, boost, rowOffset, columnOffset},
                   progress);
}

void VrelNegative::FilterRgbBlue(double s, bool useGradient, int32_t direction, int32_t percent, bool boost,
                                 int32_t rowOffset, int32_t columnOffset, ProgressReporter* progress)
{
    ApplyRgbFilter(*this, RgbKind::kBlue, {s, useGradient, direction, percent, boost, rowOffset, columnOffset},
                   progress);
}

} // namespace engine
