// The "Regular" method: every red and blue photosite is brought to the level of the green ones
// around it by a local green-over-own-colour ratio taken in the directions of small gradient, so
// that the whole colour-filter plane reads as one monochrome plane on the green scale. The
// half-size variant keeps one G1 photosite per 2 x 2 block instead.
#include "engine_ui.h"
#include "half_size_geometry.h"
#include "interpolation_common.h"
#include "lanes.h"
#include "progress_reporter.h"
#include "vrel_negative.h"
#include "worker_pool.h"

#include "dng/error.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace engine {

namespace {

constexpr int32_t kMaxThresholdRaises = 20;
constexpr int32_t kThresholdRaise = 10;
// The window range starts at these; a lower bound of 16383 or more is never applied.
constexpr int32_t kWindowMinStart = 16383;
constexpr int32_t kWindowMaxStart = 0;
// Stands for "no non-zero gradient": far above any doubled gradient (at most 8 x 65535).
constexpr int32_t kNoGradient = 1 << 24;

// Which of the green photosites of the 5 x 5 window around a red or blue photosite exist, by the
// parity class of their offset (the photosite's own parity class is never green).
struct GreenClasses {
    bool oddRowEvenCol = false; // (dy odd, dx even): N, S and the four beside them
    bool evenRowOddCol = false; // (dy even, dx odd): W, E and the four above and below them
    bool oddRowOddCol = false;  // the four diagonal neighbours
};

// The Bayer layouts: greens beside and above / below every red and blue photosite, none diagonal.
constexpr GreenClasses kBayerGreens{true, true, false};

// The 5 x 5 window of one photosite (V = int32_t), or of four photosites two columns apart
// (V = four int32 lanes). Names are compass directions from the centre Pc; "2" marks two steps.
template <typename V>
struct Window {
    V pc;
    V n2, s2, w2, e2, nw2d, ne2d, sw2d, se2d; // same colour two steps away (straight, diagonal)
    V n, s, w, e, nw, ne, sw, se;             // direct neighbours and diagonals
    V n2w, n2e, s2w, s2e;                     // two rows away, one column aside
    V nw2, ne2, sw2, se2;                     // one row away, two columns aside
};

template <typename V>
struct Sums {
    V sg2; // twice the green estimate of the selected directions
    V so2; // twice the own-colour estimate
};

// The steps below are written once for a single photosite and for four lanes (lanes.h).
//
// Gradients, direction selection and the sums of the selected directions.
//
// The arithmetic is exact in integers: every gradient and every accumulated sum is a multiple of
// one half below 2^20, so they are kept doubled (G = 2g, Sg2 = 2Sg, So2 = 2So) and the threshold
// T = 1.5 gmin + 0.5 (gmax - gmin) is kept as 4T = 2 Gmin + Gmax. Only Q = Sg / So and V = Pc x Q
// round, in real64, as they would with the halves.
template <typename V>
[[gnu::always_inline]] inline Sums<V> DirectionSums(const Window<V>& p)
{
    const V nsCross = AbsDiff(p.n, p.s);
    const V weCross = AbsDiff(p.w, p.e);
    const V nwSe = AbsDiff(p.nw, p.se);
    const V neSw = AbsDiff(p.ne, p.sw);
    const V nW = AbsDiff(p.n, p.w), nE = AbsDiff(p.n, p.e), eS = AbsDiff(p.e, p.s), wS = AbsDiff(p.w, p.s);
    const V G[8] = {
        2 * AbsDiff(p.n2, p.pc) + 2 * nsCross + AbsDiff(p.nw, p.sw) + AbsDiff(p.ne, p.se) + AbsDiff(p.n2w, p.w) +
            AbsDiff(p.n2e, p.e), // N
        2 * AbsDiff(p.e2, p.pc) + 2 * weCross + AbsDiff(p.ne, p.nw) + AbsDiff(p.se, p.sw) + AbsDiff(p.ne2, p.n) +
            AbsDiff(p.se2, p.s), // E
        2 * AbsDiff(p.s2, p.pc) + 2 * nsCross + AbsDiff(p.se, p.ne) + AbsDiff(p.sw, p.nw) + AbsDiff(p.s2e, p.e) +
            AbsDiff(p.s2w, p.w), // S
        2 * AbsDiff(p.w2, p.pc) + 2 * weCross + AbsDiff(p.sw, p.se) + AbsDiff(p.nw, p.ne) + AbsDiff(p.sw2, p.s) +
            AbsDiff(p.nw2, p.n),                                                                           // W
        2 * AbsDiff(p.ne2d, p.pc) + 2 * neSw + AbsDiff(p.n2e, p.n) + AbsDiff(p.ne2, p.e) + nW + eS, // NE
        2 * AbsDiff(p.se2d, p.pc) + 2 * nwSe + AbsDiff(p.s2e, p.s) + AbsDiff(p.se2, p.e) + nE + wS, // SE
        2 * AbsDiff(p.nw2d, p.pc) + 2 * nwSe + AbsDiff(p.n2w, p.n) + AbsDiff(p.nw2, p.w) + nE + wS, // NW
        2 * AbsDiff(p.sw2d, p.pc) + 2 * neSw + AbsDiff(p.s2w, p.s) + AbsDiff(p.sw2, p.w) + nW + eS, // SW
    };

    // gmin / gmax in index order; a zero minimum is replaced by the next gradient, whatever it is.
    const V none = Splat<V>(kNoGradient);
    V gmin = G[0];
    V gmax = G[0];
    V smallestNonZero = G[0] != 0 ? G[0] : none;
    for (int i = 1; i < 8; ++i) {
        gmin = ((G[i] < gmin) | (gmin == 0)) ? G[i] : gmin;
        gmax = Max(gmax, G[i]);
        smallestNonZero = Min(smallestNonZero, G[i] != 0 ? G[i] : none);
    }

    // Directions with 0 < g < T. When none qualifies T is raised by 10 (40 in 4T units) up to 20
    // times: the first T that admits the smallest non-zero gradient is used, found directly as
    // the least number of raises that lifts 4T above twice that gradient. Without such a T (or
    // without a non-zero gradient) all eight directions are taken. The shortfall is cut at the
    // 21 raises that mean "all", where x / 40 = (x * 205) >> 13 holds exactly.
    constexpr int32_t kStep = 4 * kThresholdRaise;
    constexpr int32_t kAll = kStep * kMaxThresholdRaises;
    const V base = 2 * gmin + gmax; // 4T
    const V shortfall = Min(2 * smallestNonZero - base, Splat<V>(kAll));
    const V raises = shortfall < 0 ? Splat<V>(0) : ((shortfall * 205) >> 13) + 1;
    const auto all = raises > kMaxThresholdRaises;
    const V limit = base + kStep * Min(raises, Splat<V>(kMaxThresholdRaises));

    const V sg[8] = {2 * p.n, 2 * p.e, 2 * p.s, 2 * p.w, p.n + p.e, p.s + p.e, p.n + p.w, p.s + p.w};
    const V so[8] = {p.pc + p.n2,   p.pc + p.e2,   p.pc + p.s2,   p.pc + p.w2,
                     p.pc + p.ne2d, p.pc + p.se2d, p.pc + p.nw2d, p.pc + p.sw2d};
    Sums<V> sums{Splat<V>(0), Splat<V>(0)};
    for (int i = 0; i < 8; ++i) {
        const auto take = all | ((G[i] != 0) & (2 * G[i] < limit));
        sums.sg2 += take ? sg[i] : Splat<V>(0);
        sums.so2 += take ? so[i] : Splat<V>(0);
    }
    return sums;
}

// Smallest and largest green of the window, from the starting values 16383 and 0.
template <typename V>
[[gnu::always_inline]] inline void GreenRange(const Window<V>& p, GreenClasses greens, V& lo, V& hi)
{
    lo = Splat<V>(kWindowMinStart);
    hi = Splat<V>(kWindowMaxStart);
    auto take = [&](V g) {
        lo = Min(lo, g);
        hi = Max(hi, g);
    };
    if (greens.oddRowEvenCol) {
        take(p.nw2); take(p.n); take(p.ne2);
        take(p.sw2); take(p.s); take(p.se2);
    }
    if (greens.evenRowOddCol) {
        take(p.n2w); take(p.n2e);
        take(p.w); take(p.e);
        take(p.s2w); take(p.s2e);
    }
    if (greens.oddRowOddCol) {
        take(p.nw); take(p.ne); take(p.sw); take(p.se);
    }
}

// The value of one red or blue photosite from the 5 x 5 window R[dy + 2][C[dx + 2]].
uint16_t RegularValue(const uint16_t* const R[5], const int32_t C[5], bool applyWindow, GreenClasses greens)
{
    auto at = [&](int dy, int dx) -> int32_t { return R[dy + 2][C[dx + 2]]; };
    const Window<int32_t> p{at(0, 0),
                            at(-2, 0), at(2, 0), at(0, -2), at(0, 2), at(-2, -2), at(-2, 2), at(2, -2), at(2, 2),
                            at(-1, 0), at(1, 0), at(0, -1), at(0, 1), at(-1, -1), at(-1, 1), at(1, -1), at(1, 1),
                            at(-2, -1), at(-2, 1), at(2, -1), at(2, 1),
                            at(-1, -2), at(-1, 2), at(1, -2), at(1, 2)};
    const Sums<int32_t> sums = DirectionSums(p);

    double q = 1.0;
    if (sums.so2 > 0)
        q = double(sums.sg2) / double(sums.so2);
    double v = double(p.pc) * q;

    if (applyWindow) {
        int32_t lo;
        int32_t hi;
        GreenRange(p, greens, lo, hi);
        if (lo < kWindowMinStart && v < double(lo))
            v = double(lo);
        if (hi > 0 && v > double(hi))
            v = double(hi);
    }
    // Near the edge there is no window range, and a small own-colour estimate can lift the
    // product past the 16-bit range.
    if (v > 65535.0)
        v = 65535.0;
    return static_cast<uint16_t>(v); // truncation: the fraction is dropped
}

// Four photosites at once: x, x + 2, x + 4, x + 6 of a row at least 2 inside the image, in a
// Bayer layout, with row[x - 2 .. x + 13] inside every row. The same integer steps as above on
// int32 lanes, and the same real64 division, product, clamps and truncation per lane (two lanes at
// a time), so every photosite gets the value the one-photosite path gives it.
static_assert(std::endian::native == std::endian::little, "sample pairs are split as little-endian words");

// One row of the window of four photosites: the columns dx = -2 .. 2 from each of them.
struct RowLanes {
    Lanes m2, m1, c, p1, p2;
};

[[gnu::always_inline]] inline RowLanes LoadRow(const uint16_t* row, int32_t x)
{
    // 16 samples from x - 2, as two words of two samples each: the low half of a word is the
    // even-offset sample, the high half the odd-offset one.
    Lanes a;
    Lanes b;
    std::memcpy(&a, row + x - 2, sizeof a);
    std::memcpy(&b, row + x + 6, sizeof b);
    const Lanes evenA = a & 0xFFFF;
    const Lanes oddA = (a >> 16) & 0xFFFF;
    const Lanes evenB = b & 0xFFFF;
    const Lanes oddB = (b >> 16) & 0xFFFF;
    RowLanes r;
    r.m2 = evenA;                                            // x - 2, x, x + 2, x + 4
    r.c = __builtin_shufflevector(evenA, evenB, 1, 2, 3, 4);  // x, x + 2, x + 4, x + 6
    r.p2 = __builtin_shufflevector(evenA, evenB, 2, 3, 4, 5); // x + 2 .. x + 8
    r.m1 = oddA;                                             // x - 1 .. x + 5
    r.p1 = __builtin_shufflevector(oddA, oddB, 1, 2, 3, 4);   // x + 1 .. x + 7
    return r;
}

[[gnu::always_inline]] inline void RegularLanes(const uint16_t* const R[5], int32_t x, uint16_t* dst)
{
    const RowLanes a = LoadRow(R[0], x);
    const RowLanes b = LoadRow(R[1], x);
    const RowLanes c = LoadRow(R[2], x);
    const RowLanes d = LoadRow(R[3], x);
    const RowLanes f = LoadRow(R[4], x);
    const Window<Lanes> p{c.c,
                          a.c,  f.c,  c.m2, c.p2, a.m2, a.p2, f.m2, f.p2,
                          b.c,  d.c,  c.m1, c.p1, b.m1, b.p1, d.m1, d.p1,
                          a.m1, a.p1, f.m1, f.p1,
                          b.m2, b.p2, d.m2, d.p2};
    const Sums<Lanes> sums = DirectionSums(p);
    Lanes lo4;
    Lanes hi4;
    GreenRange(p, kBayerGreens, lo4, hi4);

    for (int first = 0; first < 4; first += 2) {
        const RealPair pc = RealPairOf(p.pc, first);
        const RealPair sg = RealPairOf(sums.sg2, first);
        const RealPair so = RealPairOf(sums.so2, first);
        const RealPair lo = RealPairOf(lo4, first);
        const RealPair hi = RealPairOf(hi4, first);
        // Q = Sg / So when So > 0, else 1 (and Pc x 1 is Pc).
        RealPair v = so > 0.0 ? pc * (sg / so) : pc;
        v = ((lo < double(kWindowMinStart)) & (v < lo)) ? lo : v;
        v = ((hi > 0.0) & (v > hi)) ? hi : v;
        v = v > 65535.0 ? RealPair{} + 65535.0 : v;
        dst[x + 2 * first] = static_cast<uint16_t>(v[0]); // truncation
        dst[x + 2 * first + 2] = static_cast<uint16_t>(v[1]);
    }
}

// RegularLanes for x, x + 8, ... while x + 13 < w; returns the first column left. Processors with
// SSE4.1 run a copy that uses their integer minimum, maximum and absolute-value instructions: the
// same results in fewer steps.
[[gnu::target_clones("sse4.1", "default")]] int32_t RegularLanesAcross(const uint16_t* const R[5], int32_t x,
                                                                       int32_t w, uint16_t* dst)
{
    for (; x + 13 < w; x += 8)
        RegularLanes(R, x, dst);
    return x;
}

// Colour layout of the negative by row and column parity, asked of its predicates once.
struct PhaseLayout {
    bool green[2][2];
    bool g1[2][2];
};

PhaseLayout LayoutOf(const VrelNegative& negative)
{
    PhaseLayout layout{};
    for (int32_t py = 0; py < 2; ++py)
        for (int32_t px = 0; px < 2; ++px) {
            layout.green[py][px] = negative.IsGreenPixel(px, py);
            layout.g1[py][px] = negative.IsG1Pixel(px, py);
        }
    return layout;
}

dng::Image& Stage1Of(dng::Image* stage1, const char* pass)
{
    if (!stage1)
        throw dng::Error(dng::kErrorUnknown, std::string(pass) + ": there is no stage-1 image");
    return *stage1;
}

} // namespace

void VrelNegative::InterpolateRegular(ProgressReporter* progress)
{
    double white = GetLinearizationInfo() ? GetLinearizationInfo()->fWhiteLevel[0] : 65535.0;
    if (white < 4095.0)
        white = 4096.0;

    // The deblurring sliders span the photo's white level (localization a third of it).
    if (fUi) {
        const long double third = 1.0L / 3.0L;
        fUi->SetDeblurSliderMaxima(static_cast<int>(white), static_cast<int>(static_cast<long double>(white) * third));
        fUi->ProcessMessages();
    }

    fMonoImage.reset();
    Stage1Of(fStage1Image.get(), "InterpolateRegular");

    // Smoothing of the red and the blue photosites before they are scaled; green is left alone.
    if (fPreNoiseRed > 0) {
        SetStatus(progress, "Applying noise reduction: red channel...");
        WaveletDenoise(*fStage1Image, fPreNoiseRed, fNoiseDetail, fNoiseBalance, 2, progress);
    }
    if (fPreNoiseBlue > 0) {
        SetStatus(progress, "Applying noise reduction: blue channel...");
        WaveletDenoise(*fStage1Image, fPreNoiseBlue, fNoiseDetail, fNoiseBalance, 3, progress);
    }
    if (fFixDeadPixels)
        RepairRegisteredDeadPixels();

    dng::Image& stage1 = Stage1Of(fStage1Image.get(), "InterpolateRegular");
    const dng::View16 out = stage1.View16Of(0);
    const int32_t w = out.width;
    const int32_t h = out.height;

    // Estimates read only this copy, so they never see a photosite already rewritten.
    RowTable rows(w, h);
    CopyBufferToRows(rows, stage1);
    if (const int32_t level = G2EqualisationLevel(fCameraCode); level != 0)
        EqualizeG2Pixels(rows, stage1, level, true);

    ResetBar(progress, h);
    SetStatus(progress, "Processing regular result...");

    const PhaseLayout layout = LayoutOf(*this);
    int32_t rowsSincePump = 0;
    auto before = [&](int32_t) {
        StepProgress(progress);
        PumpEveryFewRows(fUi, rowsSincePump);
        return !fCancelRequested;
    };
    // Each row reads the row table only and writes its own row of the image.
    auto row = [&](int32_t y) {
        const uint16_t* R[5];
        for (int32_t k = 0; k < 5; ++k)
            R[k] = rows.Row(ReflectIndex(y - 2 + k, h));
        uint16_t* dst = out.Row(y);
        // Green photosites keep their (possibly equalised) values; the others are replaced below.
        std::memcpy(dst, R[2], size_t(w) * sizeof(uint16_t));

        const bool rowInside = y >= 2 && y <= h - 3;
        const int32_t py = y & 1;
        for (int32_t px = 0; px < 2; ++px) {
            if (layout.green[py][px])
                continue;
            GreenClasses greens;
            greens.oddRowEvenCol = layout.green[py ^ 1][px];
            greens.evenRowOddCol = layout.green[py][px ^ 1];
            greens.oddRowOddCol = layout.green[py ^ 1][px ^ 1];

            // Columns of this parity: those at least 2 inside need no reflection.
            const int32_t innerFirst = 2 + px;
            const int32_t innerLast = w - 3;
            int32_t x = px;
            for (; x < w && x < innerFirst; x += 2) {
                const int32_t C[5] = {ReflectIndex(x - 2, w), ReflectIndex(x - 1, w), x, ReflectIndex(x + 1, w),
                                      ReflectIndex(x + 2, w)};
                dst[x] = RegularValue(R, C, false, greens);
            }
            if (rowInside) {
                // Four at a time while their 16-sample loads stay inside the row.
                if (greens.oddRowEvenCol && greens.evenRowOddCol && !greens.oddRowOddCol)
                    x = RegularLanesAcross(R, x, w, dst);
                for (; x <= innerLast; x += 2) {
                    const int32_t C[5] = {x - 2, x - 1, x, x + 1, x + 2};
                    dst[x] = RegularValue(R, C, true, greens);
                }
            }
            for (; x < w; x += 2) {
                const int32_t C[5] = {ReflectIndex(x - 2, w), ReflectIndex(x - 1, w), x, ReflectIndex(x + 1, w),
                                      ReflectIndex(x + 2, w)};
                dst[x] = RegularValue(R, C, false, greens);
            }
        }
    };
    if (!ForEachRow(fPool, h, before, [&](int32_t y0, int32_t y1, int32_t) {
            for (int32_t y = y0; y < y1; ++y)
                row(y);
        }))
        return;

    ResetBar(progress, h);

    if (fNoiseRegular > 0) {
        rows = RowTable(); // the noise reduction's own buffers need its room
        SetStatus(progress, "Applying noise reduction: regular result...");
        WaveletDenoise(stage1, fNoiseRegular, fNoiseDetail, fNoiseBalance, 0, progress);
    }
    fMonoImage = std::move(rows).CopyOf(stage1);
}

void VrelNegative::ExtractRegularHalf(dng::Host& host, dng::Info& info, ProgressReporter* progress)
{
    const dng::Image& stage1 = Stage1Of(fStage1Image.get(), "ExtractRegularHalf");
    const dng::ConstView16 src = stage1.ConstView16Of(0);
    dng::LinearizationInfo* lin = GetLinearizationInfo();

    // A full frame is taken up to the right edge of its active area; a narrow tools-preview crop
    // whole, with its geometry left as it is. A photo 1024 columns wide or less is a full frame
    // too: its geometry must be halved with its pixels, or the written file's active area would
    // not lie inside its image.
    int32_t w = src.width;
    const int32_t h = src.height;
    const bool fullFrame = w > 1024 || !fStage1IsCrop;
    if (fullFrame && lin)
        w = std::min(lin->fActiveArea.r, src.width);

    const auto [hw, hh] = EvenHalfSize(w, h);
    auto half = host.Make_dng_image(hw, hh, 1, dng::PixelType::kUInt16);

    if (fullFrame)
        HalveActiveAreaAndCrop(*this, hw, hh, CropWidthHalving::kRound);
    HalveMaskedAreasAndDeltas(*this, info, fullFrame);

    ResetBar(progress, h);
    SetStatus(progress, "Processing regular result...");

    // The stage-1 image is only read here, so the samples are taken from it directly.
    const dng::View16 dst = half->View16Of(0);
    const PhaseLayout layout = LayoutOf(*this);
    int32_t rowsSincePump = 0;
    for (int32_t y = 0; y < h; ++y) {
        StepProgress(progress);
        PumpEveryFewRows(fUi, rowsSincePump);
        if (fCancelRequested)
            return;
        // G1 photosites whose cell lies outside the (even-sized) new image are skipped; cells that
        // receive none stay zero.
        if (y / 2 >= hh)
            continue;
        CopyHalfRow(src.Row(y), dst.Row(y / 2), layout.g1[y & 1], w, hw);
    }

    if (fNoiseRegular > 0) {
        SetStatus(progress, "Applying noise reduction: regular result...");
        WaveletDenoise(*half, fNoiseRegular, fNoiseDetail, fNoiseBalance, 0, progress);
    }
    fMonoImage = std::move(half);
}

} // namespace engine
