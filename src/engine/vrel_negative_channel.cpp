// The "RAW - Red" / "RAW - Blue" plane: a full-resolution image of one colour (red or blue) from
// the colour-filter plane. Photosites of the chosen colour keep their values; every other
// photosite becomes its own value times a local ratio, chosen colour over own colour, taken in
// the directions of small gradient. Greens are filled first; the third colour is filled in a
// second sweep from the greens' new values, which by then carry the chosen colour.
#include "engine_ui.h"
#include "interpolation_common.h"
#include "progress_reporter.h"
#include "vrel_negative.h"

#include "dng/error.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace engine {

namespace {

constexpr int32_t kMaxThresholdRaises = 50;
constexpr double kThresholdRaise = 10.0;
// The window range starts at these; a lower bound of 16383 or more is never applied.
constexpr double kWindowMinStart = 16383.0;
constexpr double kWindowMaxStart = 0.0;

// The 5 x 5 window of one photosite: rows y - 2 .. y + 2 of the row table and the columns
// x - 2 .. x + 2 (reflected near the edges). P(dy, dx) reads a sample as real64.
struct Window {
    const uint16_t* const* rows;
    const int32_t* cols;
    double P(int dy, int dx) const { return rows[dy + 2][cols[dx + 2]]; }
};

// The four straight gradients N, E, S, W; both sweeps use them.
void StraightGradients(const Window& p, double pc, double g[4])
{
    using std::fabs;
    g[0] = fabs(p.P(-1, 0) - p.P(1, 0)) + fabs(p.P(-2, 0) - pc) + 0.5 * fabs(p.P(-1, -1) - p.P(1, -1)) +
           0.5 * fabs(p.P(-1, 1) - p.P(1, 1)) + 0.5 * fabs(p.P(-2, -1) - p.P(0, -1)) +
           0.5 * fabs(p.P(-2, 1) - p.P(0, 1));
    g[1] = fabs(p.P(0, 1) - p.P(0, -1)) + fabs(p.P(0, 2) - pc) + 0.5 * fabs(p.P(-1, 1) - p.P(-1, -1)) +
           0.5 * fabs(p.P(1, 1) - p.P(1, -1)) + 0.5 * fabs(p.P(-1, 2) - p.P(-1, 0)) +
           0.5 * fabs(p.P(1, 2) - p.P(1, 0));
    g[2] = fabs(p.P(1, 0) - p.P(-1, 0)) + fabs(p.P(2, 0) - pc) + 0.5 * fabs(p.P(1, 1) - p.P(-1, 1)) +
           0.5 * fabs(p.P(1, -1) - p.P(-1, -1)) + 0.5 * fabs(p.P(2, 1) - p.P(0, 1)) +
           0.5 * fabs(p.P(2, -1) - p.P(0, -1));
    g[3] = fabs(p.P(0, -1) - p.P(0, 1)) + fabs(p.P(0, -2) - pc) + 0.5 * fabs(p.P(1, -1) - p.P(1, 1)) +
           0.5 * fabs(p.P(-1, -1) - p.P(-1, 1)) + 0.5 * fabs(p.P(1, -2) - p.P(1, 0)) +
           0.5 * fabs(p.P(-1, -2) - p.P(-1, 0));
}

// The selected directions of g[0 .. count - 1] as a bit mask: those with 0 < g < T, where
// T = 1.5 gmin + 0.5 (gmax - gmin) is raised by 10 while none qualifies, at most 50 times; without
// a qualifying direction then (or without a non-zero gradient at all) every direction is taken.
//
// gmin is the true smallest gradient, a zero one included, so a zero gradient lowers T to half
// the largest. (The regular pass replaces a zero minimum by the next gradient; this pass does not.)
//
// A threshold admits a direction exactly when it lies above the smallest non-zero gradient, so
// the raises only have to be counted against that one. Gradients are multiples of 0.5 and T of
// 0.25 far below 2^52, so the repeated additions are exact.
unsigned SelectDirections(const double* g, int count)
{
    const unsigned all = (1u << count) - 1u;
    double gmin = g[0];
    double gmax = g[0];
    double smallestNonZero = std::numeric_limits<double>::infinity();
    for (int i = 0; i < count; ++i) {
        gmin = std::min(gmin, g[i]);
        gmax = std::max(gmax, g[i]);
        if (g[i] != 0.0 && g[i] < smallestNonZero)
            smallestNonZero = g[i];
    }
    if (std::isinf(smallestNonZero))
        return all;
    double t = 1.5 * gmin + 0.5 * (gmax - gmin);
    for (int32_t raises = 0; !(smallestNonZero < t) && raises < kMaxThresholdRaises; ++raises)
        t += kThresholdRaise;
    if (!(smallestNonZero < t))
        return all;
    unsigned chosen = 0;
    for (int i = 0; i < count; ++i)
        if (g[i] != 0.0 && g[i] < t)
            chosen |= 1u << i;
    return chosen;
}

// Smallest and largest chosen-colour sample of the window, from the starting values 16383 and 0.
// chosenAt[dy & 1][dx & 1] tells whether the photosite at offset (dy, dx) has the chosen colour.
void ChosenRange(const Window& p, const bool chosenAt[2][2], double& lo, double& hi)
{
    lo = kWindowMinStart;
    hi = kWindowMaxStart;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (chosenAt[dy & 1][dx & 1]) {
                const double v = p.P(dy, dx);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
}

// Clamp to the window range (inside the image only), round to nearest and store as 16 bits.
// Near the edges nothing bounds the ratio, so the value is saturated at 65535.
uint16_t Store(double v, const Window& p, const bool chosenAt[2][2], bool window)
{
    if (window) {
        double lo;
        double hi;
        ChosenRange(p, chosenAt, lo, hi);
        if (v < lo && lo < kWindowMinStart)
            v = lo;
        if (v > hi && hi > 0.0)
            v = hi;
    }
    v += 0.5;
    if (v > 65535.0)
        v = 65535.0;
    return static_cast<uint16_t>(v); // truncation of V + 0.5
}

// Sweep 1, at a green photosite: Sv gathers the chosen (or third) colour of the vertical
// neighbours, Sh that of the horizontal ones, Sc green estimates. The ratio is taken over the
// sum that holds the chosen colour: horizontal on the chosen colour's rows, vertical otherwise.
double GreenSiteValue(const Window& p, bool chosenIsHorizontal)
{
    const double pc = p.P(0, 0);
    double g[8];
    StraightGradients(p, pc, g);
    using std::fabs;
    g[4] = fabs(p.P(-1, 1) - p.P(1, -1)) + fabs(p.P(-2, 2) - pc) + fabs(p.P(-2, 1) - p.P(0, -1)) +
           fabs(p.P(-1, 2) - p.P(1, 0));
    g[5] = fabs(p.P(1, 1) - p.P(-1, -1)) + fabs(p.P(2, 2) - pc) + fabs(p.P(1, 2) - p.P(-1, 0)) +
           fabs(p.P(2, 1) - p.P(0, -1));
    g[6] = fabs(p.P(-1, -1) - p.P(1, 1)) + fabs(p.P(-2, -2) - pc) + fabs(p.P(-1, -2) - p.P(1, 0)) +
           fabs(p.P(-2, -1) - p.P(0, 1));
    g[7] = fabs(p.P(1, -1) - p.P(-1, 1)) + fabs(p.P(2, -2) - pc) + fabs(p.P(2, -1) - p.P(0, 1)) +
           fabs(p.P(1, -2) - p.P(-1, 0));
    const unsigned chosen = SelectDirections(g, 8);

    double sv = 0.0;
    double sh = 0.0;
    double sc = 0.0;
    auto add = [&](unsigned i, double v, double h, double x) {
        if (chosen & (1u << i)) {
            sv += v;
            sh += h;
            sc += (pc + x) * 0.5;
        }
    };
    add(0, p.P(-1, 0), p.P(0, -1), p.P(-2, 0));
    add(1, p.P(1, 0), p.P(0, 1), p.P(0, 2));
    add(2, p.P(1, 0), p.P(0, 1), p.P(2, 0));
    add(3, p.P(-1, 0), p.P(0, -1), p.P(0, -2));
    add(4, 0.5 * (p.P(-1, 0) + p.P(-1, 2)), 0.5 * (p.P(0, 1) + p.P(-2, 1)), p.P(-2, 2));
    add(5, 0.5 * (p.P(1, 0) + p.P(1, 2)), 0.5 * (p.P(0, 1) + p.P(2, 1)), p.P(2, 2));
    add(6, 0.5 * (p.P(-1, 0) + p.P(-1, -2)), 0.5 * (p.P(0, -1) + p.P(-2, -1)), p.P(-2, -2));
    add(7, 0.5 * (p.P(1, 0) + p.P(1, -2)), 0.5 * (p.P(0, -1) + p.P(2, -1)), p.P(2, -2));

    const double chosenSum = chosenIsHorizontal ? sh : sv;
    double q = 1.0;
    if (chosenSum > 0.0)
        q = sc / chosenSum;
    return q > 0.0 ? pc / q : pc;
}

// Sweep 2, at a photosite of the third colour: St gathers the direct neighbours (greens that now
// hold the chosen colour), Sc estimates of the photosite's own colour.
double ThirdSiteValue(const Window& p)
{
    const double pc = p.P(0, 0);
    double g[4];
    StraightGradients(p, pc, g);
    const unsigned chosen = SelectDirections(g, 4);

    const double near[4] = {p.P(-1, 0), p.P(0, 1), p.P(1, 0), p.P(0, -1)};
    const double far[4] = {p.P(-2, 0), p.P(0, 2), p.P(2, 0), p.P(0, -2)};
    double st = 0.0;
    double sc = 0.0;
    for (unsigned i = 0; i < 4; ++i)
        if (chosen & (1u << i)) {
            st += near[i];
            sc += (pc + far[i]) * 0.5;
        }
    double q = 1.0;
    if (sc > 0.0)
        q = st / sc;
    return pc * q;
}

} // namespace

// The result is left in the stage-1 image and cloned into fMonoImage at the end; a cancelled call
// leaves fMonoImage as it was (it is not released up front) and stage 1 partly rewritten. Unlike
// the regular pass this one does not touch the deblurring sliders. The white level is not read
// here, so no linearization info is made for it.
void VrelNegative::InterpolateRawChannel(bool blueChannel, ProgressReporter* progress)
{
    if (fUi)
        fUi->ProcessMessages();
    fStage2Image.reset();
    fStage3Image.reset();
    if (!fStage1Image)
        throw dng::Error(dng::kErrorUnknown, "InterpolateRawChannel: there is no stage-1 image");
    dng::Image& stage1 = *fStage1Image;

    // The other two colours may be smoothed first, green before the third; the chosen colour
    // itself is left as it is.
    if (fPreNoiseGreen > 0) {
        SetStatus(progress, "Applying noise reduction: green channel...");
        WaveletDenoise(stage1, fPreNoiseGreen, fNoiseDetail, fNoiseBalance, 1, progress);
    }
    if (!blueChannel && fPreNoiseBlue > 0) {
        SetStatus(progress, "Applying noise reduction: blue channel...");
        WaveletDenoise(stage1, fPreNoiseBlue, fNoiseDetail, fNoiseBalance, 3, progress);
    }
    if (blueChannel && fPreNoiseRed > 0) {
        SetStatus(progress, "Applying noise reduction: red channel...");
        WaveletDenoise(stage1, fPreNoiseRed, fNoiseDetail, fNoiseBalance, 2, progress);
    }
    SetStatus(progress, blueChannel ? "Processing blue result..." : "Processing red result...");

    // Registered points outside the image, negative ones included, are skipped there.
    if (fFixDeadPixels)
        RepairRegisteredDeadPixels();

    const dng::View16 out = stage1.View16Of(0);
    const int32_t w = out.width;
    const int32_t h = out.height;

    // Each sweep reads only this copy, so its estimates never see a photosite it has rewritten.
    RowTable rows(w, h);
    CopyBufferToRows(rows, stage1);
    if (const int32_t level = G2EqualisationLevel(fCameraCode); level != 0)
        EqualizeG2Pixels(rows, stage1, level, true);

    if (progress && progress->Bar()) {
        progress->Bar()->SetRange(0, 2 * h - 8);
        progress->Bar()->SetPosition(0);
    }

    // The colour layout by row and column parity, asked of the predicates once.
    bool green[2][2];
    bool g1[2][2];
    bool g2[2][2];
    bool chosen[2][2];
    bool third[2][2];
    for (int32_t py = 0; py < 2; ++py)
        for (int32_t px = 0; px < 2; ++px) {
            green[py][px] = IsGreenPixel(px, py);
            g1[py][px] = IsG1Pixel(px, py);
            g2[py][px] = IsG2Pixel(px, py);
            chosen[py][px] = blueChannel ? IsBluePixel(px, py) : IsRedPixel(px, py);
            third[py][px] = blueChannel ? IsRedPixel(px, py) : IsBluePixel(px, py);
        }

    for (int sweep = 1; sweep <= 2; ++sweep) {
        if (sweep == 2)
            CopyBufferToRows(rows, stage1); // sweep 2 reads sweep 1's greens
        const bool(&interpolated)[2][2] = sweep == 1 ? green : third;

        for (int32_t y = 0; y < h; ++y) {
            if (progress)
                progress->Step(1);
            if (fUi)
                fUi->ProcessMessages();
            if (fCancelRequested)
                return;

            const uint16_t* R[5];
            for (int32_t k = 0; k < 5; ++k)
                R[k] = rows.Row(ReflectIndex(y - 2 + k, h));
            uint16_t* dst = out.Row(y);
            const bool rowInside = y >= 2 && y <= h - 3;
            const int32_t py = y & 1;

            for (int32_t x = 0; x < w; ++x) {
                const int32_t px = x & 1;
                const uint16_t pc = R[2][x];
                // Zero stays zero; photosites this sweep does not fill are written back as read.
                if (pc == 0 || !interpolated[py][px]) {
                    dst[x] = pc;
                    continue;
                }
                // Where the chosen colour sits relative to this photosite, by offset parity.
                const bool chosenAt[2][2] = {{chosen[py][px], chosen[py][px ^ 1]},
                                             {chosen[py ^ 1][px], chosen[py ^ 1][px ^ 1]}};
                const bool inside = rowInside && x >= 2 && x <= w - 3;
                int32_t C[5];
                if (inside) {
                    for (int32_t k = 0; k < 5; ++k)
                        C[k] = x - 2 + k;
                } else {
                    for (int32_t k = 0; k < 5; ++k)
                        C[k] = ReflectIndex(x - 2 + k, w);
                }
                const Window p{R, C};
                double v;
                if (sweep == 1 && !g1[py][px] && !g2[py][px]) {
                    v = double(pc); // a green of neither row kind has no ratio
                } else if (sweep == 1) {
                    // G1 shares its row with red, G2 with blue: the chosen colour lies beside the
                    // photosite on its own rows and above / below it on the others.
                    const bool chosenIsHorizontal = g1[py][px] != blueChannel;
                    v = GreenSiteValue(p, chosenIsHorizontal);
                } else {
                    v = ThirdSiteValue(p);
                }
                dst[x] = Store(v, p, chosenAt, inside);
            }
        }
    }

    rows = RowTable();

    if (!blueChannel && fNoiseRed > 0) {
        SetStatus(progress, "Applying noise reduction: red result...");
        WaveletDenoise(stage1, fNoiseRed, fNoiseDetail, fNoiseBalance, 0, progress);
    }
    if (blueChannel && fNoiseBlue > 0) {
        SetStatus(progress, "Applying noise reduction: blue result...");
        WaveletDenoise(stage1, fNoiseBlue, fNoiseDetail, fNoiseBalance, 0, progress);
    }
    fMonoImage = stage1.Clone();
}

} // namespace engine
