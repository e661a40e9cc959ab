// Wavelet noise reduction: the square roots of the samples are split by an à-trous transform
// (the hat kernel with steps 1, 2, 4, 8, 16) into five detail levels and a low-pass residual;
// every detail coefficient is shrunk towards zero by a threshold that falls from level to level,
// and the image is rebuilt from the residual and the shrunk details.
//
// Each level smooths its input by rows and then by columns. The vertical step of row r needs
// only the row-smoothed rows r - step .. r + step, so the whole decomposition streams down the
// image: a level keeps a few input rows and row-smoothed rows in small rings, finishes row r as
// soon as row r + step has arrived and hands the residual row on to the next level; the last
// level hands it to the write-back together with the summed details. Every value is formed by
// the same operations in the same order as when each level runs over whole planes, so the result
// does not depend on this streaming; the work area is about 135 rows instead of whole planes, and
// every pass walks memory row by row.
#include "vrel_negative.h"

#include "hat_transform.h"
#include "progress_reporter.h"

#include "dng/error.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace engine {

namespace {

constexpr int kLevels = 5;
// Thresholds per level as fractions of the strength: the spread that white noise of unit
// strength leaves in each detail level of the hat transform.
constexpr std::array<float, kLevels> kNoiseTable{0.8002f, 0.2735f, 0.1202f, 0.0585f, 0.0291f};
// The largest step is 16; with a side of at least 32 every mirrored position stays inside.
constexpr int32_t kMinSide = 32;
// Planes from this size on are not supported; no supported camera comes near it.
constexpr uint64_t kMaxCells = 357892096;

constexpr int32_t StepOf(int level) { return int32_t{1} << level; }

// The last level finishes a row once the first has finished the 30 rows below it (the steps
// 2 + 4 + 8 + 16), so the summed details of at most 31 rows are alive at once.
constexpr int32_t kDetailRows = 2 * StepOf(kLevels - 1);

// The smallest float f >= v and the largest float f <= v: for every float d, d < v exactly when
// d < SmallestFloatFrom(v), and d > v exactly when d > LargestFloatUpTo(v). This lets the shrinking
// compare floats with floats and still decide exactly as a comparison in double does.
float SmallestFloatFrom(double v)
{
    float f = static_cast<float>(v);
    if (static_cast<double>(f) < v)
        f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

float LargestFloatUpTo(double v)
{
    float f = static_cast<float>(v);
    if (static_cast<double>(f) > v)
        f = std::nextafter(f, -std::numeric_limits<float>::infinity());
    return f;
}

// Shrinking of one level: coefficients below -lo gain dlo, those above hi lose dhi, the ones
// in between become 0.
struct Shrinkage {
    double lo = 0.0;
    double hi = 0.0;
    double dlo = 0.0;
    double dhi = 0.0;
};

Shrinkage LevelShrinkage(double strength, int level, int32_t detail, int32_t balance)
{
    const double t = strength * static_cast<double>(kNoiseTable[static_cast<size_t>(level)]);
    double hi = t;
    double lo = t;
    // The balance lowers one of the two thresholds by the same amount at every level.
    const double b = 0.01 * (balance - 100) * strength;
    if (b >= 0.0) {
        hi -= std::fabs(b);
        if (hi < 0.0)
            hi = 0.0;
    } else {
        lo -= std::fabs(b);
        if (lo < 0.0)
            lo = 0.0;
    }
    return {lo, hi, lo - 0.01 * lo * detail, hi - 0.01 * hi * detail};
}

// Without branches, so that the row loops vectorise: both shifted values are formed and one (or
// none) is kept through bit masks. The lower bound is tested first, as it must be when both
// hold (only possible with a negative strength).
inline float Shrink(float d, float below, float above, double dlo, double dhi)
{
    const double x = d;
    const uint32_t raised = std::bit_cast<uint32_t>(static_cast<float>(x + dlo));
    const uint32_t lowered = std::bit_cast<uint32_t>(static_cast<float>(x - dhi));
    const uint32_t keepRaised = 0u - static_cast<uint32_t>(d < below);
    const uint32_t keepLowered = (0u - static_cast<uint32_t>(d > above)) & ~keepRaised;
    return std::bit_cast<float>((raised & keepRaised) | (lowered & keepLowered));
}

// 16-bit samples on the transform's scale: entry v is 128 x sqrt(4 v). Built per call (a
// fraction of a millisecond) so that the engine keeps no state between calls.
std::vector<float> RootTable()
{
    std::vector<float> t(65536);
    for (size_t v = 0; v < t.size(); ++v)
        t[v] = static_cast<float>(128.0 * std::sqrt(4.0 * static_cast<double>(v)));
    return t;
}

// Back from the root scale: the square of details plus residual over 65536, truncated; values
// beyond the 16-bit range are clamped.
inline uint16_t Rebuilt(float detail, float smooth)
{
    const double s = static_cast<double>(detail) + static_cast<double>(smooth);
    double v = s * s * (1.0 / 65536.0);
    v = v < 65535.0 ? v : 65535.0;
    return static_cast<uint16_t>(static_cast<int32_t>(v));
}

// The five levels over a plane of width x height cells, fed one row at a time from the top.
class Decomposition {
public:
    Decomposition(int32_t width, int32_t height, double strength, int32_t detail, int32_t balance)
        : fWidth(width), fHeight(height)
    {
        size_t rows = 0;
        for (int k = 0; k < kLevels; ++k) {
            Level& level = fLevels[static_cast<size_t>(k)];
            level.step = StepOf(k);
            level.inputRows = std::min(level.step + 1, height);
            level.smoothRows = std::min(2 * level.step + 1, height);
            rows += static_cast<size_t>(level.inputRows + level.smoothRows);
            const Shrinkage s = LevelShrinkage(strength, k, detail, balance);
            level.below = SmallestFloatFrom(-s.lo);
            level.above = LargestFloatUpTo(s.hi);
            level.dlo = s.dlo;
            level.dhi = s.dhi;
        }
        fDetailRows = std::min(kDetailRows, height);
        rows += static_cast<size_t>(fDetailRows);
        try {
            fStorage = std::make_unique_for_overwrite<float[]>(rows * static_cast<size_t>(width));
        } catch (const std::bad_alloc&) {
            dng::ThrowMemory("out of memory for the noise reduction");
        }
        float* next = fStorage.get();
        auto take = [&next, width](int32_t n) {
            float* block = next;
            next += static_cast<ptrdiff_t>(n) * width;
            return block;
        };
        for (Level& level : fLevels) {
            level.input = take(level.inputRows);
            level.smooth = take(level.smoothRows);
        }
        fDetail = take(fDetailRows);
    }

    // Runs the levels: gather(r, row) fills row r of the plane (width cells); emit(r, detail,
    // smooth) receives the summed shrunk details and the residual of row r, rows in order.
    template <typename Gather, typename Emit>
    void Run(Gather&& gather, Emit&& emit)
    {
        for (int32_t r = 0; r < fHeight; ++r) {
            gather(r, InputRow(fLevels[0], r));
            Receive(0, r, emit);
        }
    }

private:
    struct Level {
        int32_t step = 1;
        float below = 0.0f; // coefficients below this gain dlo
        float above = 0.0f; // coefficients above this lose dhi
        double dlo = 0.0;
        double dhi = 0.0;
        float* input = nullptr;  // ring of input rows
        float* smooth = nullptr; // ring of row-smoothed input rows
        int32_t inputRows = 0;
        int32_t smoothRows = 0;
        int32_t finished = 0; // rows finished so far
    };

    float* InputRow(const Level& level, int32_t r) const
    {
        return level.input + static_cast<ptrdiff_t>(r % level.inputRows) * fWidth;
    }
    float* SmoothRow(const Level& level, int32_t r) const
    {
        return level.smooth + static_cast<ptrdiff_t>(r % level.smoothRows) * fWidth;
    }
    float* DetailRow(int32_t r) const { return fDetail + static_cast<ptrdiff_t>(r % fDetailRows) * fWidth; }

    // Input row r of level k has arrived: smooth it by rows, then finish every row whose
    // vertical neighbours are now all there (all remaining rows after the last one).
    template <typename Emit>
    void Receive(int k, int32_t r, Emit& emit)
    {
        Level& level = fLevels[static_cast<size_t>(k)];
        float* smooth = SmoothRow(level, r);
        HatTransform(smooth, InputRow(level, r), 1, fWidth, level.step);
        for (int32_t c = 0; c < fWidth; ++c)
            smooth[c] *= 0.25f;
        const int32_t last = r == fHeight - 1 ? r : r - level.step;
        while (level.finished <= last)
            Finish(k, level.finished++, emit);
    }

    // Row r of level k: the vertical step (mirrored at the top and bottom like HatTransform)
    // gives the residual, input minus residual the detail, which is shrunk and summed. The
    // residual goes on as the next level's input row.
    template <typename Emit>
    void Finish(int k, int32_t r, Emit& emit)
    {
        const Level& level = fLevels[static_cast<size_t>(k)];
        const int32_t sc = level.step;
        const int32_t h = fHeight;
        const int32_t w = fWidth;
        const float* mid = SmoothRow(level, r);
        const float* up = SmoothRow(level, r < sc ? sc - r : r - sc);
        const float* down = SmoothRow(level, r + sc < h ? r + sc : 2 * h - 2 - (r + sc));
        const float below = level.below;
        const float above = level.above;
        const double dlo = level.dlo;
        const double dhi = level.dhi;
        float* in = InputRow(level, r);
        float* sum = DetailRow(r);
        if (k == 0) {
            float* low = InputRow(fLevels[1], r);
            for (int32_t c = 0; c < w; ++c) {
                const float l = static_cast<float>(2.0 * mid[c] + up[c] + down[c]) * 0.25f;
                sum[c] = Shrink(in[c] - l, below, above, dlo, dhi);
                low[c] = l;
            }
            Receive(1, r, emit);
        } else if (k + 1 < kLevels) {
            float* low = InputRow(fLevels[static_cast<size_t>(k + 1)], r);
            for (int32_t c = 0; c < w; ++c) {
                const float l = static_cast<float>(2.0 * mid[c] + up[c] + down[c]) * 0.25f;
                sum[c] = sum[c] + Shrink(in[c] - l, below, above, dlo, dhi);
                low[c] = l;
            }
            Receive(k + 1, r, emit);
        } else {
            // The last residual replaces the input row, which is no longer needed.
            for (int32_t c = 0; c < w; ++c) {
                const float l = static_cast<float>(2.0 * mid[c] + up[c] + down[c]) * 0.25f;
                sum[c] = sum[c] + Shrink(in[c] - l, below, above, dlo, dhi);
                in[c] = l;
            }
            emit(r, static_cast<const float*>(sum), static_cast<const float*>(in));
        }
    }

    int32_t fWidth;
    int32_t fHeight;
    std::array<Level, kLevels> fLevels;
    float* fDetail = nullptr; // ring of summed details
    int32_t fDetailRows = 0;
    std::unique_ptr<float[]> fStorage;
};

using SitePredicate = bool (VrelNegative::*)(int32_t, int32_t) const;

} // namespace

void VrelNegative::WaveletDenoise(dng::Image& image, int32_t strength, int32_t detail, int32_t balance,
                                  int16_t sites, ProgressReporter* progress)
{
    if (strength == 0)
        return;
    const dng::View16 view = image.View16Of(0);
    const int32_t w = view.width;
    const int32_t h = view.height;
    if (w < kMinSide || h < kMinSide)
        return;

    SitePredicate belongs = nullptr;
    switch (sites) {
    case 0:
        break;
    case 1:
        belongs = &VrelNegative::IsGreenPixel;
        break;
    case 2:
        belongs = &VrelNegative::IsRedPixel;
        break;
    case 3:
        belongs = &VrelNegative::IsBluePixel;
        break;
    default:
        return; // no photosite belongs to an unknown selection
    }

    // The photosites of one colour become a plane of their own: every image row that holds
    // some of them gives one plane row, packed from the left. A row with fewer of them than
    // the widest (the shorter green rows of an odd width) is filled up with its own samples
    // mirrored about its last one, so that no cell of the plane is left without content.
    std::vector<int32_t> imageRow; // plane row -> image row
    std::vector<int32_t> rowSites; // plane row -> photosites in it
    int32_t pw = w;
    int32_t ph = h;
    if (belongs) {
        imageRow.reserve(static_cast<size_t>(h));
        rowSites.reserve(static_cast<size_t>(h));
        pw = 0;
        for (int32_t y = 0; y < h; ++y) {
            int32_t n = 0;
            for (int32_t x = 0; x < w; ++x)
                n += (this->*belongs)(x, y) ? 1 : 0;
            if (n > 0) {
                imageRow.push_back(y);
                rowSites.push_back(n);
                pw = std::max(pw, n);
            }
        }
        ph = static_cast<int32_t>(imageRow.size());
        if (pw < kMinSide || ph < kMinSide)
            return;
    }
    if (static_cast<uint64_t>(pw) * static_cast<uint64_t>(ph) >= kMaxCells)
        throw dng::Error(dng::kErrorImageTooBig, "image too big for the noise reduction");

    Decomposition levels(pw, ph, static_cast<double>(strength), detail, balance);

    if (progress && progress->Bar()) {
        progress->Bar()->SetRange(0, 2 * h - 4);
        progress->Bar()->SetPosition(0);
    }

    const std::vector<float> rootTable = RootTable();
    const float* root = rootTable.data();
    if (!belongs) {
        levels.Run(
            [&view, w, root](int32_t r, float* out) {
                const uint16_t* in = view.Row(r);
                for (int32_t x = 0; x < w; ++x)
                    out[x] = root[in[x]];
            },
            [&view, w](int32_t r, const float* sum, const float* low) {
                uint16_t* out = view.Row(r);
                for (int32_t x = 0; x < w; ++x)
                    out[x] = Rebuilt(sum[x], low[x]);
            });
        return;
    }

    levels.Run(
        [&](int32_t r, float* out) {
            const int32_t y = imageRow[static_cast<size_t>(r)];
            const int32_t n = rowSites[static_cast<size_t>(r)];
            const uint16_t* in = view.Row(y);
            int32_t j = 0;
            for (int32_t x = 0; x < w; ++x)
                if ((this->*belongs)(x, y))
                    out[j++] = root[in[x]];
            for (; j < pw; ++j)
                out[j] = out[std::max(2 * (n - 1) - j, 0)];
        },
        [&](int32_t r, const float* sum, const float* low) {
            const int32_t y = imageRow[static_cast<size_t>(r)];
            uint16_t* out = view.Row(y);
            int32_t j = 0;
            for (int32_t x = 0; x < w; ++x)
                if ((this->*belongs)(x, y)) {
                    out[x] = Rebuilt(sum[j], low[j]);
                    ++j;
                }
        });
}

} // namespace engine
