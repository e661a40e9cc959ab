// The engine's threads: every row once, cancel between rows on the calling thread, errors passed
// on, and conversions that do not depend on the number of threads.
#include "engine/Class_dngconvert.h"
#include "engine/worker_pool.h"
#include "fake_engine_ui.h"
#include "fixtures/samples.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using engine::WorkerPool;

TEST(WorkerPool, EveryRowOnceAndBeforeItInOrderOnTheCallingThread)
{
    for (int32_t threads : {1, 3, 8})
        for (int32_t h : {0, 1, 7, 500}) {
            WorkerPool pool(threads);
            std::vector<std::atomic<int>> computed(static_cast<size_t>(h));
            std::vector<int32_t> announced;
            const auto caller = std::this_thread::get_id();
            const bool done = engine::ForEachRow(
                &pool, h,
                [&](int32_t y) {
                    EXPECT_EQ(std::this_thread::get_id(), caller);
                    EXPECT_EQ(computed[size_t(y)].load(), 0) << "before() comes ahead of its row";
                    announced.push_back(y);
                    return true;
                },
                [&](int32_t y0, int32_t y1, int32_t thread) {
                    ASSERT_LT(thread, pool.Threads());
                    for (int32_t y = y0; y < y1; ++y)
                        ++computed[size_t(y)];
                });
            EXPECT_TRUE(done);
            ASSERT_EQ(announced.size(), size_t(h));
            for (int32_t y = 0; y < h; ++y) {
                EXPECT_EQ(announced[size_t(y)], y);
                EXPECT_EQ(computed[size_t(y)].load(), 1) << threads << " threads, row " << y;
            }
        }
}

TEST(WorkerPool, StopLeavesTheRowsFromTheStoppingBatchOnUntouched)
{
    for (int32_t threads : {1, 4}) {
        WorkerPool pool(threads);
        std::vector<int> computed(1000);
        const bool done = engine::ForEachRow(
            &pool, 1000, [](int32_t y) { return y != 300; },
            [&](int32_t y0, int32_t y1, int32_t) {
                for (int32_t y = y0; y < y1; ++y)
                    computed[size_t(y)] = 1;
            });
        EXPECT_FALSE(done);
        for (int32_t y = 300; y < 1000; ++y)
            ASSERT_EQ(computed[size_t(y)], 0) << y;
        if (threads == 1) {
            EXPECT_EQ(computed[299], 1) << "one thread computes every row before the stop";
        }
    }
}

TEST(WorkerPool, AnErrorOfARowReachesTheCallerAndThePoolStaysUsable)
{
    WorkerPool pool(4);
    EXPECT_THROW(pool.Run(100,
                          [](int32_t i, int32_t) {
                              if (i == 42)
                                  throw std::runtime_error("row 42");
                          }),
                 std::runtime_error);
    std::atomic<int> calls{0};
    pool.Run(100, [&](int32_t, int32_t) { ++calls; });
    EXPECT_EQ(calls.load(), 100);
}

// The same result on one thread as on several: "RAW - Red" at 50% runs the regular pass, the red
// channel and the blend; "RGB - Green" both channels, the regular pass and the lens filter.
TEST(WorkerPool, ConversionsDoNotDependOnTheNumberOfThreads)
{
    const char* file = "d200-grbg.dng";
    for (int method : {1, 4}) {
        std::vector<uint16_t> results[2];
        for (int k = 0; k < 2; ++k) {
            ::setenv("VELLORAY_THREADS", k == 0 ? "1" : "5", 1);
            enginetest::FakeEngineUi ui;
            ui.method = method;
            ui.strength = 9;
            engine::DNGConvert convert(ui);
            ::unsetenv("VELLORAY_THREADS");
            convert.fMethod = method;
            convert.fStrengthRed = convert.fStrengthBlue = 9;
            ASSERT_EQ(convert.OpenAndIdentify(fixtures::SamplePath(file), file), 1);
            const dng::Image& result = *convert.fNegative->Stage2Image();
            const uint16_t* first = result.Row16(0);
            results[k].assign(first, first + size_t(result.Width()) * size_t(result.Height()));
        }
        ASSERT_FALSE(results[0].empty());
        EXPECT_TRUE(results[0] == results[1]) << "method " << method;
    }
}

} // namespace
