// The "RAW - Red" / "RAW - Blue" plane: a full-resolution image of one colour (red or blue) from
// the colour-filter plane. Photosites of the chosen colour keep their values; every other
// photosite becomes its own value times a local ratio, chosen colour over own colour, taken in
// the directions of small gradient. Greens are filled first; the third colour is filled in a
// second sweep from the greens' new values, which by then carry the chosen colour.
#include "engine_ui.h"
#include "interpolation_common.h"
#include "progress_reporter.h"
#include "vrel_negative.h"
#include "worker_pool.h"

#include "dng/error.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

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

// The same window for a photosite at least two columns and rows from every edge: no reflection,
// and the rows y - 2 .. y + 2 are already converted to real64, so a sample is read straight from
// its row at column x + dx.
// I(dy, dx) reads the same sample as an integer from the 16-bit rows.
struct InteriorWindow {
    const double* const* rows;
    const uint16_t* const* rows16;
    int32_t x;
    double P(int dy, int dx) const { return rows[dy + 2][x + dx]; }
    int32_t I(int dy, int dx) const { return rows16[dy + 2][x + dx]; }
};

// In the interior the gradients are taken in integers, doubled: every term of a gradient is a
// whole difference or half of one, so twice a gradient is an exact integer (below 2^21) and each
// real64 partial sum of the gradient is exact as well; the two agree bit for bit.
inline int32_t AbsDiff(int32_t a, int32_t b)
{
    return a > b ? a - b : b - a;
}

// SelectDirections on doubled gradients G = 2 g, in quarter units: 4 g = 2 G, the threshold
// 4 T = 6 gmin + 2 (gmax - gmin) = 2 Gmin + Gmax, and a raise of 10 adds 40. All of it is exact
// in both forms, so the same directions are chosen.
[[gnu::always_inline]] inline unsigned SelectDirections2(const int32_t* G, int count)
{
    const unsigned all = (1u << count) - 1u;
    int32_t gmin = G[0];
    int32_t gmax = G[0];
    int32_t smallestNonZero = std::numeric_limits<int32_t>::max();
    for (int i = 0; i < count; ++i) {
        gmin = std::min(gmin, G[i]);
        gmax = std::max(gmax, G[i]);
        smallestNonZero = G[i] != 0 ? std::min(smallestNonZero, G[i]) : smallestNonZero;
    }
    if (smallestNonZero == std::numeric_limits<int32_t>::max())
        return all;
    const int32_t s4 = 2 * smallestNonZero;
    int32_t t4 = 2 * gmin + gmax;
    for (int32_t raises = 0; !(s4 < t4) && raises < kMaxThresholdRaises; ++raises)
        t4 += 40;
    if (!(s4 < t4))
        return all;
    unsigned chosen = 0;
    for (int i = 0; i < count; ++i)
        chosen |= unsigned(G[i] != 0 && 2 * G[i] < t4) << i;
    return chosen;
}

// The four straight gradients N, E, S, W; both sweeps use them.
template <typename Win>
void StraightGradients(const Win& p, double pc, double g[4])
{
    using std::fabs;
    // |a - b| equals |b - a| exactly, so each difference shared by two directions is taken once;
    // the sums keep their order.
    const double v0 = fabs(p.P(-1, 0) - p.P(1, 0));
    const double vm = 0.5 * fabs(p.P(-1, -1) - p.P(1, -1));
    const double vp = 0.5 * fabs(p.P(-1, 1) - p.P(1, 1));
    const double h0 = fabs(p.P(0, 1) - p.P(0, -1));
    const double hm = 0.5 * fabs(p.P(-1, 1) - p.P(-1, -1));
    const double hp = 0.5 * fabs(p.P(1, 1) - p.P(1, -1));
    g[0] = v0 + fabs(p.P(-2, 0) - pc) + vm + vp + 0.5 * fabs(p.P(-2, -1) - p.P(0, -1)) +
           0.5 * fabs(p.P(-2, 1) - p.P(0, 1));
    g[1] = h0 + fabs(p.P(0, 2) - pc) + hm + hp + 0.5 * fabs(p.P(-1, 2) - p.P(-1, 0)) +
           0.5 * fabs(p.P(1, 2) - p.P(1, 0));
    g[2] = v0 + fabs(p.P(2, 0) - pc) + vp + vm + 0.5 * fabs(p.P(2, 1) - p.P(0, 1)) +
           0.5 * fabs(p.P(2, -1) - p.P(0, -1));
    g[3] = h0 + fabs(p.P(0, -2) - pc) + hp + hm + 0.5 * fabs(p.P(1, -2) - p.P(1, 0)) +
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
[[gnu::always_inline]] inline unsigned SelectDirections(const double* g, int count)
{
    const unsigned all = (1u << count) - 1u;
    double gmin = g[0];
    double gmax = g[0];
    double smallestNonZero = std::numeric_limits<double>::infinity();
    for (int i = 0; i < count; ++i) {
        gmin = std::min(gmin, g[i]);
        gmax = std::max(gmax, g[i]);
        smallestNonZero = g[i] != 0.0 ? std::min(smallestNonZero, g[i]) : smallestNonZero;
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
        chosen |= unsigned(g[i] != 0.0 && g[i] < t) << i;
    return chosen;
}

// Smallest and largest chosen-colour sample of the window, from the starting values 16383 and 0.
// chosenAt[dy & 1][dx & 1] tells whether the photosite at offset (dy, dx) has the chosen colour.
template <typename Win>
[[gnu::always_inline]] inline void ChosenRange(const Win& p, const bool chosenAt[2][2], double& lo, double& hi)
{
    lo = kWindowMinStart;
    hi = kWindowMaxStart;
    // With a single chosen-colour parity (the usual 2 x 2 layout) only its photosites are visited:
    // rows and columns from -2 + that parity in steps of two. Smallest and largest do not depend
    // on the order of the samples.
    int cells = 0;
    int cy = 0;
    int cx = 0;
    for (int py = 0; py < 2; ++py)
        for (int px = 0; px < 2; ++px)
            if (chosenAt[py][px]) {
                ++cells;
                cy = py;
                cx = px;
            }
    if (cells == 1) {
        for (int dy = -2 + cy; dy <= 2; dy += 2)
            for (int dx = -2 + cx; dx <= 2; dx += 2) {
                const double v = p.P(dy, dx);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        return;
    }
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
template <typename Win>
[[gnu::always_inline]] inline uint16_t Store(double v, const Win& p, const bool chosenAt[2][2], bool window)
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

// Four interior photosites two columns apart, x, x + 2, x + 4, x + 6, one per lane. The rows of
// the window are kept split by column parity as 32-bit integers, so the samples at offset dx of
// the four photosites are four consecutive entries.
using Lanes = int32_t __attribute__((vector_size(16)));

struct SplitRows {
    const int32_t* const* rows; // rows[(dy + 2) * 2 + parity], entry i = column 2 i + parity
    int32_t x;
    Lanes I(int dy, int dx) const
    {
        const int32_t c = x + dx;
        Lanes v;
        std::memcpy(&v, rows[(dy + 2) * 2 + (c & 1)] + (c >> 1), sizeof v);
        return v;
    }
};

inline Lanes AbsDiff(Lanes a, Lanes b)
{
    const Lanes d = a - b;
    return d < 0 ? -d : d;
}

// Twice the straight gradients N, E, S, W, exact in integers: for one photosite (int32_t over an
// InteriorWindow) or four at once (Lanes over SplitRows).
template <typename Win, typename V>
inline void StraightGradients2(const Win& p, V pc, V G[4])
{
    const V v0 = AbsDiff(p.I(-1, 0), p.I(1, 0));
    const V vm = AbsDiff(p.I(-1, -1), p.I(1, -1));
    const V vp = AbsDiff(p.I(-1, 1), p.I(1, 1));
    const V h0 = AbsDiff(p.I(0, 1), p.I(0, -1));
    const V hm = AbsDiff(p.I(-1, 1), p.I(-1, -1));
    const V hp = AbsDiff(p.I(1, 1), p.I(1, -1));
    G[0] = 2 * (v0 + AbsDiff(p.I(-2, 0), pc)) + vm + vp + AbsDiff(p.I(-2, -1), p.I(0, -1)) +
           AbsDiff(p.I(-2, 1), p.I(0, 1));
    G[1] = 2 * (h0 + AbsDiff(p.I(0, 2), pc)) + hm + hp + AbsDiff(p.I(-1, 2), p.I(-1, 0)) +
           AbsDiff(p.I(1, 2), p.I(1, 0));
    G[2] = 2 * (v0 + AbsDiff(p.I(2, 0), pc)) + vp + vm + AbsDiff(p.I(2, 1), p.I(0, 1)) +
           AbsDiff(p.I(2, -1), p.I(0, -1));
    G[3] = 2 * (h0 + AbsDiff(p.I(0, -2), pc)) + hp + hm + AbsDiff(p.I(1, -2), p.I(1, 0)) +
           AbsDiff(p.I(-1, -2), p.I(-1, 0));
}

// The chosen directions of the four photosites: sweep 1 with all eight, sweep 2 with the four
// straight ones.
inline void LaneDirections(const SplitRows& p, bool diagonals, unsigned chosen[4])
{
    const Lanes pc = p.I(0, 0);
    Lanes G[8];
    StraightGradients2(p, pc, G);
    int count = 4;
    if (diagonals) {
        G[4] = 2 * (AbsDiff(p.I(-1, 1), p.I(1, -1)) + AbsDiff(p.I(-2, 2), pc) + AbsDiff(p.I(-2, 1), p.I(0, -1)) +
                    AbsDiff(p.I(-1, 2), p.I(1, 0)));
        G[5] = 2 * (AbsDiff(p.I(1, 1), p.I(-1, -1)) + AbsDiff(p.I(2, 2), pc) + AbsDiff(p.I(1, 2), p.I(-1, 0)) +
                    AbsDiff(p.I(2, 1), p.I(0, -1)));
        G[6] = 2 * (AbsDiff(p.I(-1, -1), p.I(1, 1)) + AbsDiff(p.I(-2, -2), pc) + AbsDiff(p.I(-1, -2), p.I(1, 0)) +
                    AbsDiff(p.I(-2, -1), p.I(0, 1)));
        G[7] = 2 * (AbsDiff(p.I(1, -1), p.I(-1, 1)) + AbsDiff(p.I(2, -2), pc) + AbsDiff(p.I(2, -1), p.I(0, 1)) +
                    AbsDiff(p.I(1, -2), p.I(-1, 0)));
        count = 8;
    }
    for (int l = 0; l < 4; ++l) {
        int32_t g[8];
        for (int i = 0; i < count; ++i)
            g[i] = G[i][l];
        chosen[l] = SelectDirections2(g, count);
    }
}

// Sweep 1, at a green photosite: Sv gathers the chosen (or third) colour of the vertical
// neighbours, Sh that of the horizontal ones, Sc green estimates. The ratio is taken over the
// sum that holds the chosen colour: horizontal on the chosen colour's rows, vertical otherwise.
// The chosen directions of sweep 1 (N, E, S, W, then the four diagonals).
unsigned GreenDirections(const Window& p)
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
    return SelectDirections(g, 8);
}


[[gnu::always_inline]] inline unsigned GreenDirections(const InteriorWindow& p)
{
    const int32_t pc = p.I(0, 0);
    int32_t G[8];
    StraightGradients2(p, pc, G);
    G[4] = 2 * (AbsDiff(p.I(-1, 1), p.I(1, -1)) + AbsDiff(p.I(-2, 2), pc) + AbsDiff(p.I(-2, 1), p.I(0, -1)) +
                AbsDiff(p.I(-1, 2), p.I(1, 0)));
    G[5] = 2 * (AbsDiff(p.I(1, 1), p.I(-1, -1)) + AbsDiff(p.I(2, 2), pc) + AbsDiff(p.I(1, 2), p.I(-1, 0)) +
                AbsDiff(p.I(2, 1), p.I(0, -1)));
    G[6] = 2 * (AbsDiff(p.I(-1, -1), p.I(1, 1)) + AbsDiff(p.I(-2, -2), pc) + AbsDiff(p.I(-1, -2), p.I(1, 0)) +
                AbsDiff(p.I(-2, -1), p.I(0, 1)));
    G[7] = 2 * (AbsDiff(p.I(1, -1), p.I(-1, 1)) + AbsDiff(p.I(2, -2), pc) + AbsDiff(p.I(2, -1), p.I(0, 1)) +
                AbsDiff(p.I(1, -2), p.I(-1, 0)));
    return SelectDirections2(G, 8);
}

template <typename Win>
[[gnu::always_inline]] inline double GreenSiteValue(const Win& p, bool chosenIsHorizontal, unsigned chosen)
{
    const double pc = p.P(0, 0);

    double sv = 0.0;
    double sh = 0.0;
    double sc = 0.0;
    // An unchosen direction adds +0.0, which leaves the (non-negative) sums exactly as they are;
    // this keeps the accumulation free of unpredictable branches.
    auto add = [&](unsigned i, double v, double h, double x) {
        const bool on = (chosen >> i) & 1u;
        sv += on ? v : 0.0;
        sh += on ? h : 0.0;
        sc += on ? (pc + x) * 0.5 : 0.0;
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

// The chosen directions of sweep 2 (N, E, S, W).
unsigned ThirdDirections(const Window& p)
{
    double g[4];
    StraightGradients(p, p.P(0, 0), g);
    return SelectDirections(g, 4);
}

unsigned ThirdDirections(const InteriorWindow& p)
{
    int32_t G[4];
    StraightGradients2(p, p.I(0, 0), G);
    return SelectDirections2(G, 4);
}

// Sweep 2, at a photosite of the third colour: St gathers the direct neighbours (greens that now
// hold the chosen colour), Sc estimates of the photosite's own colour.
template <typename Win>
[[gnu::always_inline]] inline double ThirdSiteValue(const Win& p, unsigned chosen)
{
    const double pc = p.P(0, 0);

    const double near[4] = {p.P(-1, 0), p.P(0, 1), p.P(1, 0), p.P(0, -1)};
    const double far[4] = {p.P(-2, 0), p.P(0, 2), p.P(2, 0), p.P(0, -2)};
    double st = 0.0;
    double sc = 0.0;
    // As in sweep 1, an unchosen direction adds +0.0 to non-negative sums.
    for (unsigned i = 0; i < 4; ++i) {
        const bool on = (chosen >> i) & 1u;
        st += on ? near[i] : 0.0;
        sc += on ? (pc + far[i]) * 0.5 : 0.0;
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

    // Interior rows converted to real64 and split by column parity as integers (for the
    // four-at-a-time interior), once per sweep and thread; row r is kept in slot r % 5, so the five
    // rows of any interior window occupy distinct slots.
    const size_t splitStride = size_t(w / 2 + 1);
    struct ConvertedRows {
        std::vector<double> real;
        std::vector<int32_t> split;
        int32_t row[5];
    };
    std::vector<ConvertedRows> scratch(size_t(fPool ? fPool->Threads() : 1));
    for (ConvertedRows& c : scratch) {
        c.real.resize(size_t(5) * size_t(w));
        c.split.resize(size_t(10) * splitStride);
    }
    for (int sweep = 1; sweep <= 2; ++sweep) {
        if (sweep == 2)
            CopyBufferToRows(rows, stage1); // sweep 2 reads sweep 1's greens
        for (ConvertedRows& c : scratch)
            std::fill(c.row, c.row + 5, -1);
        const bool(&interpolated)[2][2] = sweep == 1 ? green : third;

        auto before = [&](int32_t) {
            if (progress)
                progress->Step(1);
            if (fUi)
                fUi->ProcessMessages();
            return !fCancelRequested;
        };
        // Each row reads the row table only and writes its own row of the image.
        auto row = [&](int32_t y, ConvertedRows& converted) {
            std::vector<double>& rowBuffer = converted.real;
            std::vector<int32_t>& splitBuffer = converted.split;
            int32_t* convertedRow = converted.row;
            const uint16_t* R[5];
            for (int32_t k = 0; k < 5; ++k)
                R[k] = rows.Row(ReflectIndex(y - 2 + k, h));
            uint16_t* dst = out.Row(y);
            const bool rowInside = y >= 2 && y <= h - 3;
            const double* D[5] = {};
            const int32_t* S[10] = {};
            if (rowInside) {
                for (int32_t k = 0; k < 5; ++k) {
                    const int32_t r = y - 2 + k;
                    const int32_t slot = r % 5;
                    double* d = rowBuffer.data() + size_t(slot) * size_t(w);
                    int32_t* even = splitBuffer.data() + size_t(2 * slot) * splitStride;
                    int32_t* odd = even + splitStride;
                    if (convertedRow[slot] != r) {
                        const uint16_t* s = R[k];
                        for (int32_t x = 0; x < w; ++x)
                            d[x] = s[x];
                        for (int32_t x = 0; x < w; x += 2)
                            even[x >> 1] = s[x];
                        for (int32_t x = 1; x < w; x += 2)
                            odd[x >> 1] = s[x];
                        convertedRow[slot] = r;
                    }
                    D[k] = d;
                    S[2 * k] = even;
                    S[2 * k + 1] = odd;
                }
            }
            const int32_t py = y & 1;

            // Photosites this sweep does not fill are written back as read; so is every zero.
            std::copy(R[2], R[2] + w, dst);
            for (int32_t px = 0; px < 2; ++px) {
                if (!interpolated[py][px])
                    continue;
                // Where the chosen colour sits relative to this photosite, by offset parity.
                const bool chosenAt[2][2] = {{chosen[py][px], chosen[py][px ^ 1]},
                                             {chosen[py ^ 1][px], chosen[py ^ 1][px ^ 1]}};
                // Sweep 1: a green of neither row kind has no ratio. G1 shares its row with red,
                // G2 with blue: the chosen colour lies beside the photosite on its own rows and
                // above / below it on the others.
                const bool keepAsRead = sweep == 1 && !g1[py][px] && !g2[py][px];
                const bool chosenIsHorizontal = g1[py][px] != blueChannel;
                auto valueWith = [&](const auto& p, uint16_t pc, bool inside, unsigned directions) {
                    double v;
                    if (keepAsRead)
                        v = double(pc);
                    else if (sweep == 1)
                        v = GreenSiteValue(p, chosenIsHorizontal, directions);
                    else
                        v = ThirdSiteValue(p, directions);
                    return Store(v, p, chosenAt, inside);
                };
                auto value = [&](const auto& p, uint16_t pc, bool inside) {
                    unsigned directions = 0;
                    if (!keepAsRead)
                        directions = sweep == 1 ? GreenDirections(p) : ThirdDirections(p);
                    return valueWith(p, pc, inside, directions);
                };
                int32_t x = px;
                // Interior photosites four at a time (columns x .. x + 6 within 2 .. w - 3); the
                // gradients of the four are taken together, the rest photosite by photosite.
                if (rowInside && !keepAsRead) {
                    for (; x < 2; x += 2) {
                        const uint16_t pc = R[2][x];
                        if (pc == 0)
                            continue;
                        int32_t C[5];
                        for (int32_t k = 0; k < 5; ++k)
                            C[k] = ReflectIndex(x - 2 + k, w);
                        dst[x] = value(Window{R, C}, pc, false);
                    }
                    for (; x + 6 <= w - 3; x += 8) {
                        unsigned directions[4];
                        LaneDirections(SplitRows{S, x}, sweep == 1, directions);
                        for (int32_t l = 0; l < 4; ++l) {
                            const int32_t xl = x + 2 * l;
                            const uint16_t pc = R[2][xl];
                            if (pc != 0)
                                dst[xl] = valueWith(InteriorWindow{D, R, xl}, pc, true, directions[l]);
                        }
                    }
                }
                for (; x < w; x += 2) {
                    const uint16_t pc = R[2][x];
                    if (pc == 0)
                        continue;
                    const bool inside = rowInside && x >= 2 && x <= w - 3;
                    // The same computation either way; the interior skips the column reflection.
                    if (inside) {
                        dst[x] = value(InteriorWindow{D, R, x}, pc, true);
                    } else {
                        int32_t C[5];
                        for (int32_t k = 0; k < 5; ++k)
                            C[k] = ReflectIndex(x - 2 + k, w);
                        dst[x] = value(Window{R, C}, pc, false);
                    }
                }
            }
        };
        if (!ForEachRow(fPool, h, before, [&](int32_t y0, int32_t y1, int32_t thread) {
                for (int32_t y = y0; y < y1; ++y)
                    row(y, scratch[size_t(thread)]);
            }))
            return;
    }

    // The noise reduction's own buffers need the room of the row table.
    const bool denoise = blueChannel ? fNoiseBlue > 0 : fNoiseRed > 0;
    if (denoise)
        rows = RowTable();
    if (!blueChannel && fNoiseRed > 0) {
        SetStatus(progress, "Applying noise reduction: red result...");
        WaveletDenoise(stage1, fNoiseRed, fNoiseDetail, fNoiseBalance, 0, progress);
    }
    if (blueChannel && fNoiseBlue > 0) {
        SetStatus(progress, "Applying noise reduction: blue result...");
        WaveletDenoise(stage1, fNoiseBlue, fNoiseDetail, fNoiseBalance, 0, progress);
    }
    fMonoImage = std::move(rows).CopyOf(stage1);
}

} // namespace engine
