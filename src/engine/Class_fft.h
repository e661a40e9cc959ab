// Deblurring by FFT deconvolution: a regularised inverse filter of the blur kernel the user drew,
// applied in overlapping 512 x 512 blocks, followed by two local safeguards: an edge mask (flat
// areas keep their values) and localization limits (no overshoot beyond the local minimum and
// maximum by more than a margin). One object for the whole program; its FFTW plans and block
// buffers are made on first use and kept.
#pragma once

#include "dng/image.h"

#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace engine {

class MotionBlurGrid;
class ProgressReporter;

class ClassFFT {
public:
    static constexpr int32_t kBlock = 512;             // N: the transform size
    static constexpr int32_t kStep = 256;              // block step of images larger than one block
    static constexpr int32_t kMargin = kBlock / 4;     // discarded margin of a block inside the image
    static constexpr int32_t kHalfColumns = kBlock / 2 + 1; // columns of a real transform's spectrum
    // A filter over the N x (N/2 + 1) frequencies of a real block, row-major.
    using Spectrum = std::vector<std::complex<double>>;
    // Receives count filtered values of image row y from column x on.
    using RowSink = std::function<void(int32_t y, int32_t x, const double* values, int32_t count)>;

    ClassFFT();
    ~ClassFFT();
    ClassFFT(const ClassFFT&) = delete;
    ClassFFT& operator=(const ClassFFT&) = delete;

    // The regularisation exponent p: K = 0.0001 x 1.07^p.
    void SetParameters(int32_t exponent) { fExponent = exponent; }
    // The two localization positions (0 = off) and their maxima; a position at its maximum allows
    // no overshoot at all.
    void SetArea(int32_t darkLimit, int32_t darkMaximum, int32_t brightLimit, int32_t brightMaximum);
    int32_t fMaskThreshold = 0; // subtracted from the edge mask

    // Deblurs a one-plane 16-bit image in place with the kernel drawn in grid (cells 2..98). white
    // is the white level, gain scales the edge mask. In grid-and-line mode the cells show their
    // weights afterwards. cancelled is asked between blocks (it may let the windows handle their
    // messages); when it answers true the pass stops at once. Returns false, with the image
    // untouched and the status saying so, when the kernel has no weight.
    bool Deblur(dng::Image& image, int32_t white, double gain, ProgressReporter* reporter, MotionBlurGrid& grid,
                const std::function<bool()>& cancelled = {});

    // The kernel as an N x N real block, normalised to sum 1, its centre cell (50, 50) at (0, 0)
    // and every other cell at its offset, wrapped around. All zero when no cell 2..98 weighs.
    static std::vector<double> BuildKernel(const MotionBlurGrid& grid);
    // conj(H) / (|H|^2 + K |L|^2) / N^2 with H the kernel's spectrum and L the five-point
    // Laplacian's; 0 where the denominator is.
    Spectrum InverseFilter(const std::vector<double>& kernel, ProgressReporter* reporter);
    // Filters the image block by block (step 256, or one block when it fits in 512 x 512) and
    // hands every pixel's value once to sink, from the middle of its block where there is one.
    // False when cancelled.
    bool FilterBlocks(dng::ConstView16 source, const Spectrum& filter, const RowSink& sink, ProgressReporter* reporter,
                      const std::function<bool()>& cancelled);

private:
    struct Transforms;
    Transforms& Plans();
    void Forward(); // the real block to its spectrum
    void Inverse(); // the spectrum back to the real block (not scaled)

    int32_t fExponent = 1;
    int32_t fDarkMaximum = 400;
    int32_t fDarkLimit = 0;
    int32_t fBrightMaximum = 400;
    int32_t fBrightLimit = 0;
    std::unique_ptr<Transforms> fPlans;
};

} // namespace engine
