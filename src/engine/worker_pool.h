// A small pool of threads of the engine's own, made once by the driver, that spreads the rows of
// a pass over the machine's cores. The calling (window) thread works on the rows too and waits for
// the last of them; the workers never touch the windows, so progress, message pumping and cancel
// stay with the caller. Every row is computed by the same code whichever thread takes it, so the
// result does not depend on the number of threads. VELLORAY_THREADS=n sets the number of threads
// (1 runs everything on the calling thread).
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace engine {

class WorkerPool {
public:
    // threads counts the calling thread too; below 1 means 1.
    explicit WorkerPool(int32_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // VELLORAY_THREADS when it holds a positive number, else the machine's cores (at most 64).
    static int32_t ThreadsFromEnvironment();

    int32_t Threads() const { return int32_t(fWorkers.size()) + 1; }

    // Calls task(index, thread) once for every index in [0, count), spread over the threads
    // (thread 0 is the caller, the others 1 .. Threads() - 1, so per-thread scratch can be
    // indexed by it), and returns when every call is done. The first exception a call throws is
    // thrown here, after the others have finished.
    void Run(int32_t count, const std::function<void(int32_t index, int32_t thread)>& task);

private:
    void WorkerLoop(int32_t thread);
    void TakeTasks(int32_t thread);

    std::vector<std::thread> fWorkers;
    std::mutex fMutex;
    std::condition_variable fWake;
    std::condition_variable fDone;
    const std::function<void(int32_t, int32_t)>* fTask = nullptr;
    int32_t fCount = 0;
    int32_t fNext = 0;     // the next index to hand out
    int32_t fFinished = 0; // calls done of this round
    uint64_t fRound = 0;
    bool fStop = false;
    std::exception_ptr fError;
};

// The rows [0, h) of a pass, in order. before(y) runs on the calling thread ahead of row y (it
// steps the progress, pumps messages and tests cancel) and returns false to stop there; rows(y0,
// y1, thread) computes rows y0 .. y1 - 1. Without a pool (or with one thread) every row is
// computed right after its before(); with several threads the rows go in batches, before() for
// each row of a batch first, then the batch's bands of rows on every thread. Returns false when
// before() stopped the pass.
template <typename Before, typename Rows>
bool ForEachRow(WorkerPool* pool, int32_t h, Before&& before, Rows&& rows)
{
    const int32_t threads = pool ? pool->Threads() : 1;
    if (threads <= 1) {
        for (int32_t y = 0; y < h; ++y) {
            if (!before(y))
                return false;
            rows(y, y + 1, 0);
        }
        return true;
    }
    // Bands small enough to balance uneven threads, batches large enough to keep them all busy
    // and short enough for the window to answer between them.
    constexpr int32_t kBand = 8;
    const int32_t batch = kBand * threads * 4;
    for (int32_t y0 = 0; y0 < h; y0 += batch) {
        const int32_t y1 = std::min(h, y0 + batch);
        for (int32_t y = y0; y < y1; ++y)
            if (!before(y))
                return false;
        pool->Run((y1 - y0 + kBand - 1) / kBand, [&](int32_t band, int32_t thread) {
            const int32_t first = y0 + band * kBand;
            rows(first, std::min(y1, first + kBand), thread);
        });
    }
    return true;
}

} // namespace engine
