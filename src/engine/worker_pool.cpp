#include "worker_pool.h"

#include <cstdlib>
#include <string>
#include <utility>

namespace engine {

namespace {

constexpr int32_t kMaxThreads = 64;

} // namespace

WorkerPool::WorkerPool(int32_t threads)
{
    threads = std::clamp(threads, int32_t(1), kMaxThreads);
    fWorkers.reserve(size_t(threads - 1));
    for (int32_t t = 1; t < threads; ++t)
        fWorkers.emplace_back([this, t] { WorkerLoop(t); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(fMutex);
        fStop = true;
    }
    fWake.notify_all();
    for (std::thread& worker : fWorkers)
        worker.join();
}

int32_t WorkerPool::ThreadsFromEnvironment()
{
    if (const char* text = std::getenv("VELLORAY_THREADS")) {
        try {
            const int value = std::stoi(text);
            if (value > 0)
                return std::min(value, int(kMaxThreads));
        } catch (const std::exception&) {
        }
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(int32_t(cores), int32_t(1), kMaxThreads);
}

void WorkerPool::Run(int32_t count, const std::function<void(int32_t, int32_t)>& task)
{
    if (count <= 0)
        return;
    if (fWorkers.empty()) {
        for (int32_t i = 0; i < count; ++i)
            task(i, 0);
        return;
    }
    {
        std::lock_guard lock(fMutex);
        fTask = &task;
        fCount = count;
        fNext = 0;
        fFinished = 0;
        fError = nullptr;
        ++fRound;
    }
    fWake.notify_all();
    TakeTasks(0);
    std::unique_lock lock(fMutex);
    fDone.wait(lock, [this] { return fFinished == fCount; });
    fTask = nullptr;
    if (fError)
        std::rethrow_exception(std::exchange(fError, nullptr));
}

// Takes indices of the current round until none is left.
void WorkerPool::TakeTasks(int32_t thread)
{
    std::unique_lock lock(fMutex);
    while (fTask && fNext < fCount) {
        const int32_t index = fNext++;
        const auto* task = fTask;
        lock.unlock();
        std::exception_ptr error;
        try {
            (*task)(index, thread);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error && !fError)
            fError = error;
        if (++fFinished == fCount)
            fDone.notify_all();
    }
}

void WorkerPool::WorkerLoop(int32_t thread)
{
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(fMutex);
            fWake.wait(lock, [&] { return fStop || fRound != seen; });
            if (fStop)
                return;
            seen = fRound;
        }
        TakeTasks(thread);
    }
}

} // namespace engine
