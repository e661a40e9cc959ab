// Speed and memory of the wavelet noise reduction on the stage-1 plane of a photo: every
// photosite (sites 0) at a typical after-interpolation strength, then the red photosites alone.
// Each case runs several times on a fresh copy; the fastest run is reported, together with the
// most heap memory the call held at once (its work area) and a hash of the result, so that
// builds can be compared for identical output.
//
// Usage: wavelet_bench photo.dng [runs]
#include "engine/Class_vrel_host.h"
#include "engine/vrel_negative.h"

#include "dng/image.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <malloc.h>
#include <memory>
#include <new>
#include <string>

namespace {

std::atomic<size_t> gLiveBytes{0};
std::atomic<size_t> gPeakBytes{0};

void* Allocate(size_t n)
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (!p)
        throw std::bad_alloc();
    const size_t live = gLiveBytes += malloc_usable_size(p);
    size_t peak = gPeakBytes.load();
    while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
    }
    return p;
}

void Release(void* p)
{
    if (!p)
        return;
    gLiveBytes -= malloc_usable_size(p);
    std::free(p);
}

} // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

using Clock = std::chrono::steady_clock;

uint64_t Hash(const dng::Image& image)
{
    uint64_t h = 1469598103934665603ull;
    for (int32_t y = 0; y < image.Height(); ++y) {
        const uint16_t* row = image.Row16(y);
        for (int32_t x = 0; x < image.Width(); ++x) {
            h = (h ^ row[x]) * 1099511628211ull;
        }
    }
    return h;
}

void RunCase(engine::VrelNegative& negative, const dng::Image& source, int32_t strength, int16_t sites, int runs)
{
    double best = 1e30;
    size_t workBytes = 0;
    uint64_t hash = 0;
    for (int i = 0; i < runs; ++i) {
        auto image = source.Clone();
        const size_t before = gLiveBytes.load();
        gPeakBytes = before;
        const auto start = Clock::now();
        negative.WaveletDenoise(*image, strength, 0, 100, sites, nullptr);
        const auto end = Clock::now();
        best = std::min(best, std::chrono::duration<double>(end - start).count());
        workBytes = gPeakBytes.load() - before;
        hash = Hash(*image);
    }
    const double plane = 4.0 * source.Width() * source.Height();
    std::printf("sites %d, strength %d: %.3f s (fastest of %d), work area %zu bytes = %.3f float planes, "
                "result hash %016llx\n",
                sites, strength, best, runs, workBytes, static_cast<double>(workBytes) / plane,
                static_cast<unsigned long long>(hash));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s photo.dng [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    try {
        dng::FileStream stream(argv[1]);
        engine::VrelHost host;
        dng::Info info;
        info.Parse(host, stream);
        info.PostParse(host);
        auto owner = host.Make_dng_negative();
        owner->Parse(host, stream, info);
        owner->PostParse(host, stream, info);
        owner->ReadStage1Image(host, stream, info);
        auto* negative = dynamic_cast<engine::VrelNegative*>(owner.get());
        const dng::Image* stage1 = owner->Stage1Image();
        if (!negative || !stage1) {
            std::fprintf(stderr, "no stage-1 image\n");
            return 1;
        }
        std::printf("%s: %d x %d\n", argv[1], stage1->Width(), stage1->Height());
        RunCase(*negative, *stage1, 6 * 5, 0, runs);
        RunCase(*negative, *stage1, 10 * 5, 2, runs);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
