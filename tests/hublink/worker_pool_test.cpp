// The threads that searches share: every index runs once whatever number of
// threads could be started, and the threads are kept, not started anew.
#include "search/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace hublink {
namespace {

using namespace std::chrono_literals;

// Starts real threads until `allowed` have been started, then fails.
WorkerPool::Starter startingAtMost(std::size_t allowed) {
    auto started = std::make_shared<std::size_t>(0);
    return [started, allowed](std::function<void()> body) {
        if (*started == allowed) return false;
        ++*started;
        return WorkerPool::detachedThread(std::move(body));
    };
}

struct PoolRun {
    std::vector<int> done;
    int mostAtOnce = 0;
};

PoolRun runOn(WorkerPool& pool, std::size_t count, std::size_t width) {
    PoolRun out;
    out.done.assign(count, 0);
    std::atomic<int> running{0}, most{0};
    pool.run(count, width, [&](std::size_t i) {
        const int now = ++running;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(3ms);
        ++out.done[i];
        --running;
    });
    out.mostAtOnce = most;
    return out;
}

TEST(WorkerPool, EveryIndexRunsOnceWhateverThreadsCanStart) {
    struct Case {
        std::size_t startable;
        std::size_t width;
        std::size_t count;
        int expectedMost;  // threads at work at once: the caller and the started ones
    };
    const std::vector<Case> cases = {
        {0, 8, 20, 1},   // no thread at all: the caller does everything
        {1, 8, 20, 2},
        {3, 8, 20, 4},
        {7, 4, 20, 4},   // the width bounds the threads asked for
        {7, 8, 1, 1},    // one index needs no helper
        {7, 8, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "startable " << c.startable << " width " << c.width);
        WorkerPool pool(16, startingAtMost(c.startable));
        const PoolRun run = runOn(pool, c.count, c.width);
        EXPECT_EQ(run.done, std::vector<int>(c.count, 1));
        EXPECT_LE(run.mostAtOnce, c.expectedMost);
        if (c.count >= 8) {
            EXPECT_GE(run.mostAtOnce, std::min(c.expectedMost, 2));
        }
        EXPECT_LE(pool.threads(), c.startable);
    }
}

TEST(WorkerPool, ThreadsAreKeptAcrossRunsAndBoundedByTheirMaximum) {
    WorkerPool pool(5);
    for (int round = 0; round < 20; ++round) {
        const PoolRun run = runOn(pool, 12, 8);
        ASSERT_EQ(run.done, std::vector<int>(12, 1));
        ASSERT_LE(pool.threads(), 5U);
    }
    EXPECT_GE(pool.threads(), 1U);
    // Two callers at once share the threads and both finish.
    std::thread other([&] { EXPECT_EQ(runOn(pool, 10, 4).done, std::vector<int>(10, 1)); });
    EXPECT_EQ(runOn(pool, 10, 4).done, std::vector<int>(10, 1));
    other.join();
    EXPECT_LE(pool.threads(), 5U);
}

}  // namespace
}  // namespace hublink
