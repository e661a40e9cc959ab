#include "Class_fft.h"

#include "motion_blur_grid.h"
#include "progress_reporter.h"

#include "dng/error.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace engine {

namespace {

constexpr int32_t N = ClassFFT::kBlock;
constexpr size_t kRealSize = size_t(N) * N;
constexpr size_t kSpectrumSize = size_t(N) * ClassFFT::kHalfColumns;

struct FftwFree {
    void operator()(void* p) const { fftw_free(p); }
};
struct PlanFree {
    void operator()(std::remove_pointer_t<fftw_plan>* p) const { fftw_destroy_plan(p); }
};
using Plan = std::unique_ptr<std::remove_pointer_t<fftw_plan>, PlanFree>;

// The edge mask: the Sobel edge strength |Gx| + |Gy| (edges along both diagonals count) times
// the mask scale trunc((600000 div white) x gain), at most white, less the threshold, not below 0;
// 0 on the outermost rows and columns, where the 3 x 3 window does not fit. Then a 5 x 5 Gaussian
// (sigma 1.5, applied as two 1-D passes) smooths everything two pixels or more inside the image.
std::vector<uint16_t> EdgeMask(dng::ConstView16 o, int32_t white, double gain, int32_t threshold)
{
    const int32_t w = o.width, h = o.height;
    const double scale = std::trunc(static_cast<double>(600000 / white) * gain);
    const auto sobelRow = [&](int32_t r, uint16_t* dst) {
        std::fill(dst, dst + w, uint16_t(0));
        if (r < 1 || r > h - 2)
            return;
        const uint16_t* a = o.Row(r - 1);
        const uint16_t* b = o.Row(r);
        const uint16_t* c = o.Row(r + 1);
        for (int32_t x = 1; x < w - 1; ++x) {
            const int32_t gy = (a[x - 1] + 2 * a[x] + a[x + 1]) - (c[x - 1] + 2 * c[x] + c[x + 1]);
            const int32_t gx = (a[x + 1] + 2 * b[x + 1] + c[x + 1]) - (a[x - 1] + 2 * b[x - 1] + c[x - 1]);
            const double m = std::min(static_cast<double>(white), static_cast<double>(std::abs(gx) + std::abs(gy)) * scale);
            dst[x] = static_cast<uint16_t>(std::max(0.0, std::trunc(m) - threshold));
        }
    };

    double g[5], sum = 0.0;
    for (int32_t k = -2; k <= 2; ++k)
        sum += g[k + 2] = std::exp(-(k * k) / (2.0 * 1.5 * 1.5));
    for (double& v : g)
        v /= sum;

    std::vector<uint16_t> mask(size_t(w) * h);
    std::vector<uint16_t> ring(size_t(w) * 5); // Sobel rows r - 2 .. r + 2, row k in slot k mod 5
    std::vector<double> column(static_cast<size_t>(w));
    const auto slot = [&](int32_t r) { return ring.data() + size_t(r % 5) * w; };
    int32_t ready = 0;
    for (int32_t r = 0; r < h; ++r) {
        for (; ready < std::min(h, r + 3); ++ready)
            sobelRow(ready, slot(ready));
        const uint16_t* s = slot(r);
        uint16_t* out = mask.data() + size_t(r) * w;
        std::memcpy(out, s, size_t(w) * sizeof(uint16_t));
        if (r < 2 || r > h - 3 || w < 5)
            continue;
        for (int32_t x = 0; x < w; ++x) {
            double v = 0.0;
            for (int32_t j = 0; j < 5; ++j)
                v += g[j] * slot(r - 2 + j)[x];
            column[x] = v;
        }
        for (int32_t x = 2; x < w - 2; ++x) {
            double v = 0.0;
            for (int32_t i = 0; i < 5; ++i)
                v += g[i] * column[x - 2 + i];
            out[x] = static_cast<uint16_t>(std::trunc(v));
        }
    }
    return mask;
}

// Where the next block along one axis begins to write, relative to this block's start: the
// margin of a block inside the image is left to its neighbours.
struct Span {
    int32_t from, to;
};
Span WrittenSpan(int32_t start, int32_t extent, int32_t step)
{
    const int32_t from = start > 0 ? ClassFFT::kMargin : 0;
    const bool nextWrites = step < N && start + step + ClassFFT::kMargin < extent;
    const int32_t to = nextWrites ? step + ClassFFT::kMargin : std::min(N, extent - start);
    return {from, to};
}

} // namespace

struct ClassFFT::Transforms {
    std::unique_ptr<double, FftwFree> real;
    std::unique_ptr<fftw_complex, FftwFree> spectrum;
    Plan forward, inverse;
};

ClassFFT::ClassFFT() = default;
ClassFFT::~ClassFFT() = default;

void ClassFFT::SetArea(int32_t darkLimit, int32_t darkMaximum, int32_t brightLimit, int32_t brightMaximum)
{
    fDarkLimit = darkLimit;
    fDarkMaximum = darkMaximum;
    fBrightLimit = brightLimit;
    fBrightMaximum = brightMaximum;
}

// Plans are made once with FFTW_ESTIMATE, which chooses without timing trials, so that every run
// on a machine takes the same code path and gives the same bits.
ClassFFT::Transforms& ClassFFT::Plans()
{
    if (fPlans)
        return *fPlans;
    auto t = std::make_unique<Transforms>();
    t->real.reset(fftw_alloc_real(kRealSize));
    t->spectrum.reset(fftw_alloc_complex(kSpectrumSize));
    if (!t->real || !t->spectrum)
        dng::ThrowMemory("no memory for the deblurring blocks");
    t->forward.reset(fftw_plan_dft_r2c_2d(N, N, t->real.get(), t->spectrum.get(), FFTW_ESTIMATE));
    t->inverse.reset(fftw_plan_dft_c2r_2d(N, N, t->spectrum.get(), t->real.get(), FFTW_ESTIMATE));
    if (!t->forward || !t->inverse)
        dng::ThrowMemory("no FFT plan for the deblurring blocks");
    fPlans = std::move(t);
    return *fPlans;
}

void ClassFFT::Forward()
{
    fftw_execute(Plans().forward.get());
}

void ClassFFT::Inverse()
{
    fftw_execute(Plans().inverse.get());
}

std::vector<double> ClassFFT::BuildKernel(const MotionBlurGrid& grid)
{
    // Every cell 2..98 counts, whatever part of the grid the editor shows.
    std::vector<double> kernel(kRealSize, 0.0);
    double sum = 0.0;
    for (int32_t x = 2; x <= 98; ++x)
        for (int32_t y = 2; y <= 98; ++y)
            sum += std::abs(grid.Weight(x, y));
    if (sum == 0.0)
        return kernel;
    const int32_t c = MotionBlurGrid::kCentre;
    for (int32_t x = 2; x <= 98; ++x)
        for (int32_t y = 2; y <= 98; ++y)
            if (const double v = grid.Weight(x, y); v != 0.0)
                kernel[size_t((y - c + N) % N) * N + size_t((x - c + N) % N)] = v / sum;
    return kernel;
}

ClassFFT::Spectrum ClassFFT::InverseFilter(const std::vector<double>& kernel, ProgressReporter* reporter)
{
    Transforms& t = Plans();
    double* real = t.real.get();
    const auto* spectrum = reinterpret_cast<const std::complex<double>*>(t.spectrum.get());

    if (reporter) {
        reporter->SetText("Forward transform of kernel matrix...");
        reporter->ResetSteps();
    }
    std::copy(kernel.begin(), kernel.end(), real);
    Forward();
    const Spectrum h(spectrum, spectrum + kSpectrumSize);

    // The five-point Laplacian, centred on (0, 0) and wrapped around the block's edges.
    if (reporter)
        reporter->SetText("Forward transform of low pass filter matrix...");
    std::fill(real, real + kRealSize, 0.0);
    real[0] = 4.0;
    real[1] = real[N] = real[N - 1] = real[size_t(N - 1) * N] = -1.0;
    Forward();

    const double k = 0.0001 * std::pow(1.07, fExponent);
    const double scale = 1.0 / (double(N) * N); // the inverse transform does not scale
    Spectrum filter(kSpectrumSize);
    for (size_t i = 0; i < kSpectrumSize; ++i) {
        const double d = k * std::norm(spectrum[i]) + std::norm(h[i]);
        filter[i] = d == 0.0 ? 0.0 : std::conj(h[i]) / d * scale;
    }
    return filter;
}

bool ClassFFT::FilterBlocks(dng::ConstView16 source, const Spectrum& filter, const RowSink& sink,
                            ProgressReporter* reporter, const std::function<bool()>& cancelled)
{
    const int32_t w = source.width, h = source.height;
    const int32_t step = (w <= N && h <= N) ? N : kStep;
    if (reporter) {
        reporter->ResetSteps();
        if (auto* bar = reporter->Bar()) {
            bar->SetRange(0, (w / kStep + 1) * (h / kStep + 1));
            bar->SetPosition(0);
        }
    }
    Transforms& t = Plans();
    double* real = t.real.get();
    auto* spectrum = reinterpret_cast<std::complex<double>*>(t.spectrum.get());

    for (int32_t r0 = 0; r0 < h; r0 += step) {
        const Span rows = WrittenSpan(r0, h, step);
        for (int32_t c0 = 0; c0 < w && rows.from < rows.to; c0 += step) {
            const Span cols = WrittenSpan(c0, w, step);
            if (cols.from >= cols.to)
                continue;
            if (cancelled && cancelled())
                return false;
            if (reporter)
                reporter->Step(1);

            const int32_t bh = std::min(N, h - r0), bw = std::min(N, w - c0);
            std::fill(real, real + kRealSize, 0.0);
            for (int32_t i = 0; i < bh; ++i) {
                const uint16_t* s = source.Row(r0 + i) + c0;
                double* d = real + size_t(i) * N;
                for (int32_t j = 0; j < bw; ++j)
                    d[j] = s[j];
            }
            Forward();
            for (size_t i = 0; i < kSpectrumSize; ++i)
                spectrum[i] *= filter[i];
            Inverse();
            for (int32_t i = rows.from; i < rows.to; ++i)
                sink(r0 + i, c0 + cols.from, real + size_t(i) * N + cols.from, cols.to - cols.from);
        }
    }
    return true;
}

bool ClassFFT::Deblur(dng::Image& image, int32_t white, double gain, ProgressReporter* reporter, MotionBlurGrid& grid,
                      const std::function<bool()>& cancelled)
{
    const dng::View16 out = image.View16Of(0);
    const int32_t w = out.width, h = out.height;
    white = std::clamp(white, 1, 65535);

    // In grid-and-line mode the cells show the weights the kernel is built from.
    if (grid.GetMode() == MotionBlurGrid::kGridAndLine)
        for (int32_t x = 0; x < MotionBlurGrid::kCells; ++x)
            for (int32_t y = 0; y < MotionBlurGrid::kCells; ++y)
                grid.SetCellValue(x, y, grid.Weight(x, y));

    const std::vector<double> kernel = BuildKernel(grid);
    if (std::all_of(kernel.begin(), kernel.end(), [](double v) { return v == 0.0; })) {
        // An empty kernel would take away everything but the regulariser: every edge darkened.
        if (reporter)
            reporter->SetText("Deblurring skipped: the blur kernel has no weight");
        return false;
    }
    const Spectrum filter = InverseFilter(kernel, reporter);

    // The source stays as it was while the blocks overwrite the image.
    std::vector<uint16_t> copy(size_t(w) * h);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(copy.data() + size_t(y) * w, out.Row(y), size_t(w) * sizeof(uint16_t));
    const dng::ConstView16 src{copy.data(), w, h, w};
    const std::vector<uint16_t> mask = EdgeMask(src, white, gain, fMaskThreshold);

    if (reporter)
        reporter->SetText("Deblurring...");
    const double whiteLevel = white, half = whiteLevel * 0.5;
    const int32_t darkMargin = std::abs(fDarkLimit - fDarkMaximum);
    const int32_t brightMargin = std::abs(fBrightLimit - fBrightMaximum);

    const auto finish = [&](int32_t y, int32_t x0, const double* values, int32_t count) {
        const uint16_t* o = src.Row(y);
        const uint16_t* m = mask.data() + size_t(y) * w;
        uint16_t* dst = out.Row(y);
        const bool innerRow = y > 0 && y < h - 1;
        for (int32_t x = x0; x < x0 + count; ++x) {
            if (m[x] == 0) {
                dst[x] = o[x]; // flat: no edge to sharpen
                continue;
            }
            double v = values[x - x0];
            // Localization: no more overshoot than the margin beyond the 3 x 3 neighbourhood.
            const bool dark = fDarkLimit > 0 && v < half, bright = fBrightLimit > 0 && v > half;
            const bool limited = (dark || bright) && innerRow && x > 0 && x < w - 1;
            double lo = 0.0, hi = 0.0;
            if (limited) {
                const int32_t margin = v > half ? brightMargin : darkMargin;
                int32_t mn = o[x], mx = o[x];
                for (const uint16_t* row : {o - w, o, o + w})
                    for (int32_t i = x - 1; i <= x + 1; ++i) {
                        mn = std::min<int32_t>(mn, row[i]);
                        mx = std::max<int32_t>(mx, row[i]);
                    }
                lo = std::max(0, mn - margin);
                hi = std::min(white, mx + margin);
            }
            v = std::clamp(v, 0.0, whiteLevel);
            if (limited)
                v = std::min(std::max(v, lo), hi);
            // Blend: strong edges take the deblurred value, weaker ones part of it.
            v = o[x] - (o[x] - v) / whiteLevel * m[x];
            dst[x] = static_cast<uint16_t>(std::clamp(std::floor(v + 0.5), 0.0, 65535.0));
        }
    };
    FilterBlocks(src, filter, finish, reporter, cancelled);
    return true;
}

} // namespace engine
