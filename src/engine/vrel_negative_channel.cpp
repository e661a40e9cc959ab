// The "RAW - Red" / "RAW - Blue" plane: a full-resolution image of one colour (red or blue) from
// the colour-filter plane. Photosites of the chosen colour keep their values; every other
// photosite becomes its own value times a local ratio, chosen colour over own colour, taken in
// the directions of small gradient. Greens are filled first; the third colour is filled in a
// second sweep from the greens' new values, which by then carry the chosen colour.
#include "engine_ui.h"
#include "interpolation_common.h"
#include "lanes.h"
#include "progress_reporter.h"
#include "vrel_negative.h"
#include "worker_pool.h"

#include "dng/error.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace engine {

namespace {

constexpr int32_t kMaxThresholdRaises = 50;
// The window range starts at these; a lower bound of 16383 or more is never applied.
constexpr int32_t kWindowMinStart = 16383;
constexpr int32_t kWindowMaxStart = 0;

// The integer steps (gradients, directions, window range) take one photosite or four two columns
// apart; the real64 steps take them one or two at a time (lanes.h).

// The 5 x 5 window of one photosite: rows y - 2 .. y + 2 of the row table and the columns
// x - 2 .. x + 2 (reflected near the edges).
struct Window {
    const uint16_t* const* rows;
    const int32_t* cols;
    int32_t I(int dy, int dx) const { return rows[dy + 2][cols[dx + 2]]; }
    double P(int dy, int dx) const { return rows[dy + 2][cols[dx + 2]]; }
};

// The windows of four interior photosites x, x + 2, x + 4, x + 6 (at least two columns and rows
// from every edge). The rows of the window are kept split by column parity as 32-bit integers, so
// the samples at offset dx of the four photosites are four consecutive entries.
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

// The real64 samples of two of those photosites, x and x + 2.
struct PairRows {
    const int32_t* const* rows;
    int32_t x;
    RealPair P(int dy, int dx) const
    {
        const int32_t c = x + dx;
        const int32_t* s = rows[(dy + 2) * 2 + (c & 1)] + (c >> 1);
        return RealPair{double(s[0]), double(s[1])};
    }
};

// The chosen directions (bits) of a pair of photosites, each held in two 32-bit lanes, so that the
// test of one direction is a mask of two 64-bit lanes.
struct PairDirections {
    Lanes bits;
};

// Photosites `first` and `first + 1` of four lanes as a pair.
[[gnu::always_inline]] inline PairDirections PairOf(Lanes directions, int first)
{
    return {first == 0 ? __builtin_shufflevector(directions, directions, 0, 0, 1, 1)
                       : __builtin_shufflevector(directions, directions, 2, 2, 3, 3)};
}

// Whether direction i is chosen, as a selector of real64 values, and `v` where it is, +0.0 where
// it is not.
[[gnu::always_inline]] inline bool Taken(int32_t directions, int i)
{
    return ((directions >> i) & 1) != 0;
}

[[gnu::always_inline]] inline PairMask Taken(PairDirections directions, int i)
{
    return PairMask(((directions.bits >> i) & 1) != 0);
}

[[gnu::always_inline]] inline double IfTaken(bool on, double v)
{
    return on ? v : 0.0;
}

[[gnu::always_inline]] inline RealPair IfTaken(PairMask on, RealPair v)
{
    return RealPair(on & PairMask(v)); // the bits of v, or those of +0.0
}

// The gradients are taken in integers, doubled: every term of a gradient is a whole difference or
// half of one, so twice a gradient is an exact integer (below 2^21).
//
// Twice the four straight gradients N, E, S, W; both sweeps use them. |a - b| equals |b - a|, so
// each difference shared by two directions is taken once.
template <typename Win, typename V>
[[gnu::always_inline]] inline void StraightGradients2(const Win& p, V pc, V G[4])
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

// x / 40 for 0 <= x <= 2000, exactly: x / 8 is at most 250, where y / 5 = (y * 205) >> 10 holds.
template <typename V>
constexpr V DivideBy40(V x)
{
    return ((x >> 3) * 205) >> 10;
}

constexpr bool DivideBy40Holds()
{
    for (int32_t x = 0; x <= 2000; ++x)
        if (DivideBy40(x) != x / 40)
            return false;
    return true;
}
static_assert(DivideBy40Holds());

// The chosen directions as bits (sweep 1: N, E, S, W, then the diagonals NE, SE, NW, SW; sweep 2
// the four straight ones): those with 0 < g < T, where T = 1.5 gmin + 0.5 (gmax - gmin) is raised
// by 10 while none qualifies, at most 50 times; without a qualifying direction then (or without a
// non-zero gradient at all) every direction is taken.
//
// gmin is the true smallest gradient, a zero one included, so a zero gradient lowers T to half
// the largest. (The regular pass replaces a zero minimum by the next gradient; this pass does not.)
//
// On doubled gradients G = 2 g, in quarter units: 4 g = 2 G and 4 T = 2 Gmin + Gmax, a raise adds
// 40. A threshold admits a direction exactly when it lies above the smallest non-zero gradient, so
// the number of raises is the least that lifts 4T above twice that gradient, found directly; the
// shortfall is cut at the 51 raises that mean "all".
template <typename Win>
[[gnu::always_inline]] inline auto Directions(const Win& p, bool diagonals)
{
    using V = decltype(p.I(0, 0));
    const V pc = p.I(0, 0);
    V G[8];
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
    // Stands for "no non-zero gradient": far above any doubled gradient (at most 16 x 65535).
    const V none = Splat<V>(1 << 24);
    V gmin = G[0];
    V gmax = G[0];
    V smallestNonZero = G[0] != 0 ? G[0] : none;
    for (int i = 1; i < count; ++i) {
        gmin = Min(gmin, G[i]);
        gmax = Max(gmax, G[i]);
        smallestNonZero = Min(smallestNonZero, G[i] != 0 ? G[i] : none);
    }
    constexpr int32_t kStep = 40;
    constexpr int32_t kAll = kStep * kMaxThresholdRaises;
    const V base = 2 * gmin + gmax; // 4T
    const V shortfall = Min(2 * smallestNonZero - base, Splat<V>(kAll));
    const V raises = shortfall < 0 ? Splat<V>(0) : DivideBy40(shortfall) + 1;
    const V limit = base + kStep * raises;
    V chosen = Splat<V>(0);
    for (int i = 0; i < count; ++i)
        chosen |= ((G[i] != 0) & (2 * G[i] < limit)) ? Splat<V>(1 << i) : Splat<V>(0);
    return raises > kMaxThresholdRaises ? Splat<V>((1 << count) - 1) : chosen;
}

// Sweep 1, at a green photosite: Sv gathers the chosen (or third) colour of the vertical
// neighbours, Sh that of the horizontal ones, Sc green estimates. The ratio is taken over the
// sum that holds the chosen colour: horizontal on the chosen colour's rows, vertical otherwise.
template <typename Win, typename D>
[[gnu::always_inline]] inline auto GreenSiteValue(const Win& p, bool chosenIsHorizontal, D directions)
{
    using R = decltype(p.P(0, 0));
    const R pc = p.P(0, 0);

    R sv{};
    R sh{};
    R sc{};
    // An unchosen direction adds +0.0, which leaves the (non-negative) sums exactly as they are;
    // this keeps the accumulation free of unpredictable branches.
    auto add = [&](int i, R v, R h, R x) {
        const auto on = Taken(directions, i);
        sv += IfTaken(on, v);
        sh += IfTaken(on, h);
        sc += IfTaken(on, (pc + x) * 0.5);
    };
    add(0, p.P(-1, 0), p.P(0, -1), p.P(-2, 0));
    add(1, p.P(1, 0), p.P(0, 1), p.P(0, 2));
    add(2, p.P(1, 0), p.P(0, 1), p.P(2, 0));
    add(3, p.P(-1, 0), p.P(0, -1), p.P(0, -2));
    add(4, 0.5 * (p.P(-1, 0) + p.P(-1, 2)), 0.5 * (p.P(0, 1) + p.P(-2, 1)), p.P(-2, 2));
    add(5, 0.5 * (p.P(1, 0) + p.P(1, 2)), 0.5 * (p.P(0, 1) + p.P(2, 1)), p.P(2, 2));
    add(6, 0.5 * (p.P(-1, 0) + p.P(-1, -2)), 0.5 * (p.P(0, -1) + p.P(-2, -1)), p.P(-2, -2));
    add(7, 0.5 * (p.P(1, 0) + p.P(1, -2)), 0.5 * (p.P(0, -1) + p.P(2, -1)), p.P(2, -2));

    // q = Sc / S when S > 0, else 1; the value is Pc / q when q > 0, else Pc.
    const R chosenSum = chosenIsHorizontal ? sh : sv;
    const R q = chosenSum > 0.0 ? sc / chosenSum : R{} + 1.0;
    return q > 0.0 ? pc / q : pc;
}

// Sweep 2, at a photosite of the third colour: St gathers the direct neighbours (greens that now
// hold the chosen colour), Sc estimates of the photosite's own colour.
template <typename Win, typename D>
[[gnu::always_inline]] inline auto ThirdSiteValue(const Win& p, D directions)
{
    using R = decltype(p.P(0, 0));
    const R pc = p.P(0, 0);

    const R near[4] = {p.P(-1, 0), p.P(0, 1), p.P(1, 0), p.P(0, -1)};
    const R far[4] = {p.P(-2, 0), p.P(0, 2), p.P(2, 0), p.P(0, -2)};
    R st{};
    R sc{};
    // As in sweep 1, an unchosen direction adds +0.0 to non-negative sums.
    for (int i = 0; i < 4; ++i) {
        const auto on = Taken(directions, i);
        st += IfTaken(on, near[i]);
        sc += IfTaken(on, (pc + far[i]) * 0.5);
    }
    // q = St / Sc when Sc > 0, else 1.
    return sc > 0.0 ? pc * (st / sc) : pc;
}

// Smallest and largest chosen-colour sample of the window, from the starting values 16383 and 0.
// chosenAt[dy & 1][dx & 1] tells whether the photosite at offset (dy, dx) has the chosen colour;
// only those offsets are visited (a single parity in the usual 2 x 2 layout).
template <typename Win, typename V>
[[gnu::always_inline]] inline void ChosenRange(const Win& p, const bool chosenAt[2][2], V& lo, V& hi)
{
    lo = Splat<V>(kWindowMinStart);
    hi = Splat<V>(kWindowMaxStart);
    for (int py = 0; py < 2; ++py)
        for (int px = 0; px < 2; ++px) {
            if (!chosenAt[py][px])
                continue;
            for (int dy = -2 + py; dy <= 2; dy += 2)
                for (int dx = -2 + px; dx <= 2; dx += 2) {
                    lo = Min(lo, p.I(dy, dx));
                    hi = Max(hi, p.I(dy, dx));
                }
        }
}

// Clamp to the window range [lo, hi] (a bound of 16383 and more below, 0 above, is not applied;
// near the edges both are such), then v + 0.5, saturated at 65535, whose integer part is the
// 16-bit sample: rounding to nearest.
template <typename R>
[[gnu::always_inline]] inline R Rounded(R v, R lo, R hi)
{
    v = ((lo < double(kWindowMinStart)) & (v < lo)) ? lo : v;
    v = ((hi > 0.0) & (v > hi)) ? hi : v;
    v += 0.5;
    return v > 65535.0 ? R{} + 65535.0 : v;
}

// What a sweep computes at the photosites of one parity class of a row.
struct SiteRule {
    bool greenSweep;         // sweep 1 (greens) or sweep 2 (the third colour)
    bool chosenIsHorizontal; // sweep 1: the ratio is taken over the horizontal sum
    bool chosenAt[2][2];     // whether the photosite at offset (dy, dx) has the chosen colour, by parity
};

// The ratio estimate of one photosite (Window) or of a pair (PairRows).
template <typename Win, typename D>
[[gnu::always_inline]] inline auto Estimate(const Win& p, const SiteRule& rule, D directions)
{
    return rule.greenSweep ? GreenSiteValue(p, rule.chosenIsHorizontal, directions) : ThirdSiteValue(p, directions);
}

// Interior photosites four at a time, columns x .. x + 6, x + 8 .. x + 14, ... while x + 6 <= w - 3,
// their values in two pairs; returns the first column left. Zero photosites keep their zero.
// Processors with SSE4.1 run a copy that uses their integer minimum, maximum and absolute-value
// instructions: the same results in fewer steps.
[[gnu::target_clones("sse4.1", "default")]] int32_t FourAtATimeAcross(const int32_t* const S[10],
                                                                      const uint16_t* centre, uint16_t* dst,
                                                                      int32_t x, int32_t w, const SiteRule& rule)
{
    for (; x + 6 <= w - 3; x += 8) {
        const SplitRows p{S, x};
        const Lanes directions = Directions(p, rule.greenSweep);
        Lanes lo;
        Lanes hi;
        ChosenRange(p, rule.chosenAt, lo, hi);
        for (int first = 0; first < 4; first += 2) {
            const RealPair v = Rounded(Estimate(PairRows{S, x + 2 * first}, rule, PairOf(directions, first)),
                                       RealPairOf(lo, first), RealPairOf(hi, first));
            for (int32_t l = first; l < first + 2; ++l)
                if (centre[x + 2 * l] != 0)
                    dst[x + 2 * l] = static_cast<uint16_t>(v[l - first]);
        }
    }
    return x;
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

    // Interior rows split by column parity as integers (for the four-at-a-time interior), once
    // per sweep and thread; row r is kept in slot r % 5, so the five rows of any interior window
    // occupy distinct slots.
    const size_t splitStride = size_t(w / 2 + 1);
    struct SplitCache {
        std::vector<int32_t> split;
        int32_t row[5];
    };
    std::vector<SplitCache> scratch(size_t(fPool ? fPool->Threads() : 1));
    for (SplitCache& c : scratch)
        c.split.resize(size_t(10) * splitStride);
    for (int sweep = 1; sweep <= 2; ++sweep) {
        if (sweep == 2)
            CopyBufferToRows(rows, stage1); // sweep 2 reads sweep 1's greens
        for (SplitCache& c : scratch)
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
        auto row = [&](int32_t y, SplitCache& cache) {
            const uint16_t* R[5];
            for (int32_t k = 0; k < 5; ++k)
                R[k] = rows.Row(ReflectIndex(y - 2 + k, h));
            uint16_t* dst = out.Row(y);
            const bool rowInside = y >= 2 && y <= h - 3;
            const int32_t* S[10] = {};
            if (rowInside) {
                for (int32_t k = 0; k < 5; ++k) {
                    const int32_t r = y - 2 + k;
                    const int32_t slot = r % 5;
                    int32_t* even = cache.split.data() + size_t(2 * slot) * splitStride;
                    int32_t* odd = even + splitStride;
                    if (cache.row[slot] != r) {
                        const uint16_t* s = R[k];
                        for (int32_t x = 0; x < w; x += 2)
                            even[x >> 1] = s[x];
                        for (int32_t x = 1; x < w; x += 2)
                            odd[x >> 1] = s[x];
                        cache.row[slot] = r;
                    }
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
                // Sweep 1: a green of neither row kind has no ratio. G1 shares its row with red,
                // G2 with blue: the chosen colour lies beside the photosite on its own rows and
                // above / below it on the others.
                const bool keepAsRead = sweep == 1 && !g1[py][px] && !g2[py][px];
                const SiteRule rule{sweep == 1,
                                    g1[py][px] != blueChannel,
                                    {{chosen[py][px], chosen[py][px ^ 1]}, {chosen[py ^ 1][px], chosen[py ^ 1][px ^ 1]}}};
                // One photosite through its reflected window.
                auto one = [&](int32_t x) {
                    if (R[2][x] == 0)
                        return;
                    int32_t C[5];
                    for (int32_t k = 0; k < 5; ++k)
                        C[k] = ReflectIndex(x - 2 + k, w);
                    const Window p{R, C};
                    int32_t lo = kWindowMinStart;
                    int32_t hi = kWindowMaxStart;
                    if (rowInside && x >= 2 && x <= w - 3)
                        ChosenRange(p, rule.chosenAt, lo, hi);
                    const double v = keepAsRead ? p.P(0, 0) : Estimate(p, rule, Directions(p, rule.greenSweep));
                    dst[x] = static_cast<uint16_t>(Rounded(v, double(lo), double(hi)));
                };
                int32_t x = px;
                if (rowInside && !keepAsRead) {
                    for (; x < 2; x += 2)
                        one(x);
                    x = FourAtATimeAcross(S, R[2], dst, x, w, rule);
                }
                for (; x < w; x += 2)
                    one(x);
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
