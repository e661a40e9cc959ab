#include "resample.h"

#include "error.h"
#include "host.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace dng {

double CatmullRom(double t)
{
    t = std::fabs(t);
    if (t < 1.0)
        return (1.5 * t - 2.5) * t * t + 1.0;
    if (t < 2.0)
        return ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
    return 0.0;
}

namespace {

// The weights of one output sample: taps on consecutive source indices first .. first + size - 1.
struct Taps {
    int32_t first = 0;
    std::vector<double> weights;
};

// The index that a tap at j (possibly outside 0 .. n-1) reads: the samples are mirrored about the
// first and last sample (-1 reads 1, n reads n - 2), repeatedly for kernels wider than the axis.
// Unlike repeating the edge sample this keeps the alternation of fine patterns, so they average
// out up to the edge, and it gives the edge sample no extra weight.
int32_t Reflect(int64_t j, int32_t n)
{
    if (n == 1)
        return 0;
    const int64_t period = 2 * static_cast<int64_t>(n - 1);
    int64_t k = j % period;
    if (k < 0)
        k += period;
    return static_cast<int32_t>(k < n ? k : period - k);
}

// The weights for every output position along one axis of srcCount samples mapped onto dstCount.
std::vector<Taps> MakeTaps(int32_t srcCount, int32_t dstCount)
{
    const double scale = static_cast<double>(srcCount) / static_cast<double>(dstCount);
    const double stretch = std::max(scale, 1.0);
    const double radius = 2.0 * stretch;

    std::vector<Taps> all(static_cast<size_t>(dstCount));
    for (int32_t i = 0; i < dstCount; ++i) {
        const double centre = (static_cast<double>(i) + 0.5) * scale - 0.5;
        const auto lo = static_cast<int64_t>(std::floor(centre - radius)) + 1;
        const auto hi = static_cast<int64_t>(std::ceil(centre + radius)) - 1;
        // The samples read, mirrored taps included, lie in [first, last].
        int32_t first = srcCount - 1;
        int32_t last = 0;
        for (int64_t j = lo; j <= hi; ++j) {
            first = std::min(first, Reflect(j, srcCount));
            last = std::max(last, Reflect(j, srcCount));
        }

        Taps& taps = all[static_cast<size_t>(i)];
        taps.first = first;
        taps.weights.assign(static_cast<size_t>(last - first + 1), 0.0);
        double sum = 0.0;
        for (int64_t j = lo; j <= hi; ++j) {
            const double w = CatmullRom((static_cast<double>(j) - centre) / stretch);
            taps.weights[static_cast<size_t>(Reflect(j, srcCount) - first)] += w;
            sum += w;
        }
        // The sum is near 1 (exactly so for plain interpolation); normalising keeps flat areas flat.
        for (double& w : taps.weights)
            w /= sum;
    }
    return all;
}

// Source rows resampled to the output width, kept in a ring of as many rows as the tallest column
// kernel needs: row r lives in slot r mod capacity, so the rows of one kernel never collide. As the
// kernel moves down each source row is resampled once (a row needed again after being replaced,
// which mirroring at the edges can cause, is simply resampled again).
template <typename T>
class RowCache {
public:
    RowCache(PlaneView<const T> src, const std::vector<Taps>& colTaps, size_t capacity)
        : fSrc(src), fColTaps(colTaps), fCapacity(capacity), fWidth(colTaps.size()),
          fRows(capacity * colTaps.size()), fHeld(capacity, -1)
    {
    }

    const double* Row(int32_t srcRow)
    {
        const size_t slot = static_cast<size_t>(srcRow) % fCapacity;
        double* out = fRows.data() + slot * fWidth;
        if (fHeld[slot] != srcRow) {
            const T* in = fSrc.Row(srcRow);
            // Four output samples at a time: each sum still adds its taps in their order, but the
            // four chains of additions run side by side instead of one after the other.
            size_t x = 0;
            for (; x + 4 <= fWidth; x += 4)
                Resample4(in, x, out + x);
            for (; x < fWidth; ++x)
                out[x] = Resample1(in, fColTaps[x], 0, 0.0);
            fHeld[slot] = srcRow;
        }
        return out;
    }

private:
    // The sum of the taps k0 .. of one output sample, added to `sum` in order.
    static double Resample1(const T* in, const Taps& c, size_t k0, double sum)
    {
        const T* p = in + c.first;
        for (size_t k = k0; k < c.weights.size(); ++k)
            sum += c.weights[k] * static_cast<double>(p[k]);
        return sum;
    }

    void Resample4(const T* in, size_t x, double* out) const
    {
        const Taps* c[4] = {&fColTaps[x], &fColTaps[x + 1], &fColTaps[x + 2], &fColTaps[x + 3]};
        const T* p[4] = {in + c[0]->first, in + c[1]->first, in + c[2]->first, in + c[3]->first};
        const double* w[4] = {c[0]->weights.data(), c[1]->weights.data(), c[2]->weights.data(),
                              c[3]->weights.data()};
        size_t common = c[0]->weights.size();
        for (int i = 1; i < 4; ++i)
            common = std::min(common, c[i]->weights.size());
        double sum[4] = {0.0, 0.0, 0.0, 0.0};
        for (size_t k = 0; k < common; ++k)
            for (int i = 0; i < 4; ++i)
                sum[i] += w[i][k] * static_cast<double>(p[i][k]);
        for (int i = 0; i < 4; ++i)
            out[i] = Resample1(in, *c[i], common, sum[i]);
    }

    PlaneView<const T> fSrc;
    const std::vector<Taps>& fColTaps;
    size_t fCapacity;
    size_t fWidth;
    std::vector<double> fRows;
    std::vector<int32_t> fHeld; // the source row in each slot, -1 for none
};

// Rows first (each source row shrunk or grown to the output width), then columns.
template <typename T>
void ResamplePlane(Host& host, PlaneView<const T> src, PlaneView<T> dst, const std::vector<Taps>& colTaps,
                   const std::vector<Taps>& rowTaps, size_t ringRows, double maxValue)
{
    const auto width = static_cast<size_t>(dst.width);
    RowCache<T> cache(src, colTaps, ringRows);
    std::vector<double> acc(width);
    for (int32_t y = 0; y < dst.height; ++y) {
        const Taps& t = rowTaps[static_cast<size_t>(y)];
        std::fill(acc.begin(), acc.end(), 0.0);
        for (size_t k = 0; k < t.weights.size(); ++k) {
            const double w = t.weights[k];
            const double* in = cache.Row(t.first + static_cast<int32_t>(k));
            for (size_t x = 0; x < width; ++x)
                acc[x] += w * in[x];
        }
        T* out = dst.Row(y);
        for (size_t x = 0; x < width; ++x) {
            const double v = std::floor(acc[x] + 0.5);
            out[x] = static_cast<T>(std::clamp(v, 0.0, maxValue));
        }
        host.KeepAlive();
    }
}

} // namespace

void ResampleImage(Host& host, const Image& src, const Rect& srcArea, Image& dst)
{
    if (srcArea.IsEmpty() || !src.Bounds().Contains(srcArea))
        ThrowBadFormat("resample: the source area is empty or outside the source image");
    if (src.Planes() != dst.Planes() || src.Type() != dst.Type())
        ThrowBadFormat("resample: source and destination differ in planes or pixel type");

    const std::vector<Taps> colTaps = MakeTaps(srcArea.W(), dst.Width());
    const std::vector<Taps> rowTaps = MakeTaps(srcArea.H(), dst.Height());
    size_t ringRows = 1;
    for (const Taps& t : rowTaps)
        ringRows = std::max(ringRows, t.weights.size());
    // A very tall kernel over a very wide output (an extreme change of aspect) would need more
    // working memory than any image may have.
    if (static_cast<uint64_t>(ringRows) * static_cast<uint64_t>(dst.Width()) * sizeof(double) > Image::kMaxBytes)
        throw Error(kErrorImageTooBig, "resample: the size change needs too much working memory");
    for (uint32_t p = 0; p < src.Planes(); ++p) {
        if (src.Type() == PixelType::kUInt8)
            ResamplePlane<uint8_t>(host, src.ConstView8Of(p).Sub(srcArea), dst.View8Of(p), colTaps, rowTaps, ringRows, 255.0);
        else
            ResamplePlane<uint16_t>(host, src.ConstView16Of(p).Sub(srcArea), dst.View16Of(p), colTaps, rowTaps, ringRows, 65535.0);
    }
}

} // namespace dng
