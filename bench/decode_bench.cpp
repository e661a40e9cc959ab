// Decoding speed and peak memory: our reader (structure, stage 1, stage 2) against LibRaw's open
// and unpack of the same file. Each side runs in a child process of its own, so that its peak
// resident memory is its own; each is run several times and the fastest run is reported.
#include "dng/host.h"
#include "dng/info.h"
#include "dng/negative.h"
#include "dng/stream.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Timing {
    double decode = 0.0; // seconds to stage 1 (ours) or open + unpack (LibRaw)
    double stage2 = 0.0; // seconds for stage 2 (ours only)
    long pixels = 0;     // 16-bit samples of the raw image
};

double Seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

Timing RunOurs(const std::string& path)
{
    Timing t;
    auto start = Clock::now();
    dng::FileStream stream(path);
    dng::Host host;
    dng::Info info;
    info.Parse(host, stream);
    info.PostParse(host);
    if (!info.IsValidDNG())
        throw std::runtime_error("not a valid DNG");
    auto negative = host.Make_dng_negative();
    negative->Parse(host, stream, info);
    negative->PostParse(host, stream, info);
    negative->ReadStage1Image(host, stream, info);
    auto mid = Clock::now();
    negative->BuildStage2Image(host);
    auto end = Clock::now();
    t.decode = Seconds(start, mid);
    t.stage2 = Seconds(mid, end);
    t.pixels = long(negative->Stage1Image()->Width()) * negative->Stage1Image()->Height();
    return t;
}

Timing RunLibRaw(const std::string& path)
{
    Timing t;
    auto start = Clock::now();
    auto raw = std::make_unique<LibRaw>();
    if (raw->open_file(path.c_str()) != LIBRAW_SUCCESS || raw->unpack() != LIBRAW_SUCCESS)
        throw std::runtime_error("LibRaw cannot read the file");
    auto end = Clock::now();
    t.decode = Seconds(start, end);
    t.pixels = long(raw->imgdata.sizes.raw_width) * raw->imgdata.sizes.raw_height;
    return t;
}

// Runs one side in a child; returns its timing and its peak resident memory in bytes.
bool RunChild(bool ours, const std::string& path, Timing& timing, long& peakBytes)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Timing t;
        try {
            t = ours ? RunOurs(path) : RunLibRaw(path);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", ours ? "velloray" : "LibRaw", e.what());
            _exit(1);
        }
        if (write(fds[1], &t, sizeof t) != ssize_t(sizeof t))
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Timing t;
    ssize_t got = read(fds[0], &t, sizeof t);
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (got != ssize_t(sizeof t) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    timing = t;
    peakBytes = usage.ru_maxrss * 1024L;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_bench FILE.dng [runs]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    Timing bestOurs, bestRaw;
    long peakOurs = 0, peakRaw = 0;
    bestOurs.decode = bestRaw.decode = 1e30;
    for (int i = 0; i < runs; ++i) {
        Timing t;
        long peak = 0;
        if (!RunChild(true, path, t, peak))
            return 1;
        if (t.decode + t.stage2 < bestOurs.decode + bestOurs.stage2)
            bestOurs = t;
        peakOurs = std::max(peakOurs, peak);
        if (!RunChild(false, path, t, peak))
            return 1;
        if (t.decode < bestRaw.decode)
            bestRaw = t;
        peakRaw = std::max(peakRaw, peak);
    }
    const double raw16 = double(bestOurs.pixels) * 2.0;
    const double mb = 1024.0 * 1024.0;
    std::printf("file: %s (%ld photosites, 16-bit raw size %.1f MB), best of %d runs\n", path.c_str(), bestOurs.pixels,
                raw16 / mb, runs);
    std::printf("velloray: stage 1 %.3f s, stage 2 %.3f s, total %.3f s, peak memory %.1f MB (%.2f x raw)\n",
                bestOurs.decode, bestOurs.stage2, bestOurs.decode + bestOurs.stage2, double(peakOurs) / mb,
                double(peakOurs) / raw16);
    std::printf("LibRaw:   open + unpack %.3f s, peak memory %.1f MB (%.2f x raw)\n", bestRaw.decode,
                double(peakRaw) / mb, double(peakRaw) / raw16);
    std::printf("stage 1 against LibRaw: %.2f x its time\n", bestOurs.decode / bestRaw.decode);
    return 0;
}
