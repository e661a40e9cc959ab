// Speed of the regular interpolation pass against LibRaw's VNG interpolation of the same file, on
// one thread each. The file is decoded once; the pass then runs on a fresh copy of the stage-1
// plane per run. LibRaw runs open, unpack and dcraw_process with VNG (user_qual 1) per run; its
// progress reports mark where the interpolation stage starts and where the next stage starts, and
// that span is its interpolation time (the whole dcraw_process time is printed beside it). The
// fastest run of each side is reported, with a checksum of our plane so that builds can be
// compared for identical results.
#include "engine/Class_vrel_host.h"
#include "engine/vrel_negative.h"

#include "dng/info.h"
#include "dng/stream.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// FNV-1a over the samples of plane 0, row by row.
uint64_t Checksum(const dng::Image& image)
{
    uint64_t h = 1469598103934665603ull;
    for (int32_t y = 0; y < image.Height(); ++y) {
        const uint16_t* row = image.ConstView16Of(0).Row(y);
        for (int32_t x = 0; x < image.Width(); ++x) {
            h = (h ^ (row[x] & 0xFFu)) * 1099511628211ull;
            h = (h ^ (row[x] >> 8)) * 1099511628211ull;
        }
    }
    return h;
}

struct OursResult {
    double best = 1e30;
    uint64_t checksum = 0;
    int32_t width = 0;
    int32_t height = 0;
};

OursResult RunOurs(const std::string& path, int runs)
{
    engine::VrelHost host;
    dng::FileStream stream(path);
    dng::Info info;
    info.Parse(host, stream);
    info.PostParse(host);
    if (!info.IsValidDNG())
        throw std::runtime_error("not a valid DNG");
    auto owner = host.Make_dng_negative();
    auto& negative = dynamic_cast<engine::VrelNegative&>(*owner);
    negative.Parse(host, stream, info);
    negative.PostParse(host, stream, info);
    negative.ReadStage1Image(host, stream, info);
    if (negative.Stage1Image()->Type() == dng::PixelType::kUInt8)
        negative.ExpandSquareLaw();
    negative.fCameraCode = 21; // as the driver sets it for this body: no G2 equalisation
    const auto staged = negative.Stage1Image()->Clone();

    OursResult r;
    r.width = staged->Width();
    r.height = staged->Height();
    for (int i = 0; i < runs; ++i) {
        negative.SetStage1Image(*staged);
        const auto start = Clock::now();
        negative.InterpolateRegular(nullptr);
        const auto end = Clock::now();
        r.best = std::min(r.best, Seconds(start, end));
        const uint64_t sum = Checksum(*negative.fMonoImage);
        if (i > 0 && sum != r.checksum)
            throw std::runtime_error("the regular pass gave different results on the same input");
        r.checksum = sum;
    }
    return r;
}

// LibRaw's progress reports of one dcraw_process, with their times.
struct Report {
    LibRaw_progress stage;
    Clock::time_point when;
};

int Record(void* data, LibRaw_progress stage, int /*iteration*/, int /*expected*/)
{
    static_cast<std::vector<Report>*>(data)->push_back({stage, Clock::now()});
    return 0; // go on
}

struct LibRawResult {
    double interpolation = 1e30; // from the interpolation report to the next stage's report
    double process = 1e30;       // the whole dcraw_process
};

LibRawResult RunLibRaw(const std::string& path, int runs)
{
    LibRawResult r;
    for (int i = 0; i < runs; ++i) {
        auto raw = std::make_unique<LibRaw>();
        std::vector<Report> reports;
        raw->set_progress_handler(Record, &reports);
        if (raw->open_file(path.c_str()) != LIBRAW_SUCCESS || raw->unpack() != LIBRAW_SUCCESS)
            throw std::runtime_error("LibRaw cannot read the file");
        raw->imgdata.params.user_qual = 1; // VNG
        reports.clear();
        const auto start = Clock::now();
        if (raw->dcraw_process() != LIBRAW_SUCCESS)
            throw std::runtime_error("LibRaw cannot process the file");
        const auto end = Clock::now();
        r.process = std::min(r.process, Seconds(start, end));

        const auto first = std::find_if(reports.begin(), reports.end(),
                                        [](const Report& p) { return p.stage == LIBRAW_PROGRESS_INTERPOLATE; });
        if (first == reports.end())
            throw std::runtime_error("LibRaw reported no interpolation stage");
        const auto next = std::find_if(first, reports.end(), [](const Report& p) { return p.stage > LIBRAW_PROGRESS_INTERPOLATE; });
        const Clock::time_point stop = next == reports.end() ? end : next->when;
        r.interpolation = std::min(r.interpolation, Seconds(first->when, stop));
    }
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: regular_bench FILE.dng [runs]\n");
        return 2;
    }
    // LibRaw interpolates with OpenMP, whose thread count is read when the runtime loads, before
    // main: run again with one thread set in the environment.
    if (!std::getenv("OMP_NUM_THREADS")) {
        setenv("OMP_NUM_THREADS", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("regular_bench: cannot run itself again");
        return 1;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    try {
        const OursResult ours = RunOurs(path, runs);
        const LibRawResult raw = RunLibRaw(path, runs);
        std::printf("file: %s (%d x %d), best of %d runs, one thread (OMP_NUM_THREADS=%s)\n", path.c_str(), ours.width,
                    ours.height, runs, std::getenv("OMP_NUM_THREADS"));
        std::printf("velloray InterpolateRegular:       %.3f s  (checksum %016llx)\n", ours.best,
                    static_cast<unsigned long long>(ours.checksum));
        std::printf("LibRaw VNG interpolation stage:    %.3f s\n", raw.interpolation);
        std::printf("LibRaw dcraw_process with VNG:     %.3f s\n", raw.process);
        std::printf("regular pass against VNG stage:    %.3f x its time (target at most 0.333)\n",
                    ours.best / raw.interpolation);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "regular_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
