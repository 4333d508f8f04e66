#include "Platform/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace pallix {
namespace {

// Every position of [0, count) in exactly one slice, slices in order and even.
TEST(Parallel, PooledSlicesCoverTheRangeOnce)
{
    for (const auto& [count, slices] : {std::pair<std::size_t, unsigned>{1000, 7}, {5, 7}, {0, 3}, {64, 1}, {9, 9}}) {
        std::vector<std::atomic<int>> seen(count);
        std::vector<std::pair<std::size_t, std::size_t>> ranges(slices);
        inPooledSlices(count, slices, [&](unsigned t, std::size_t begin, std::size_t end) {
            ranges[t] = {begin, end};
            for (std::size_t i = begin; i < end; ++i)
                ++seen[i];
        });
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(seen[i].load(), 1) << "position " << i << " of " << count << " in " << slices;
        for (unsigned t = 0; t < slices; ++t) {
            EXPECT_EQ(ranges[t].first, count * t / slices);
            EXPECT_EQ(ranges[t].second, count * (t + 1) / slices);
        }
    }
}

// While one slice holds a kept thread, another kept thread (or the caller)
// still runs the other slices: one slice waits for the last to have run.
TEST(Parallel, KeptThreadsTakeSlicesBesideTheCaller)
{
    if (spareThreads() < 2)
        GTEST_SKIP() << "one spare thread";
    std::mutex mutex;
    std::condition_variable ran;
    bool lastRan = false, firstSawIt = false;
    std::set<std::thread::id> threads;
    onSliceWorkers(2, [&](unsigned t) {
        std::unique_lock lock(mutex);
        threads.insert(std::this_thread::get_id());
        if (t == 1) {
            lastRan = true;
            ran.notify_all();
        } else {
            firstSawIt = ran.wait_for(lock, std::chrono::seconds(30), [&] { return lastRan; });
        }
    });
    EXPECT_TRUE(firstSawIt);
    EXPECT_EQ(threads.size(), 2u);
}

// Callers on many threads at once, and calls from inside a slice, all finish
// with every slice run: a busy pool leaves the slices to their caller.
TEST(Parallel, ConcurrentAndNestedCallsAllFinish)
{
    std::atomic<long> total{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 8; ++c)
        callers.emplace_back([&] {
            for (int round = 0; round < 40; ++round)
                inPooledSlices(100, 5, [&](unsigned, std::size_t begin, std::size_t end) {
                    inPooledSlices(end - begin, 3, [&](unsigned, std::size_t b, std::size_t e) {
                        total += static_cast<long>(e - b);
                    });
                });
        });
    for (std::thread& t : callers)
        t.join();
    EXPECT_EQ(total.load(), 8L * 40 * 100);
}

} // namespace
} // namespace pallix
