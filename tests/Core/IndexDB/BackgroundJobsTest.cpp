#include "Core/IndexDB/BackgroundJobs.h"

#include <atomic>

#include <gtest/gtest.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

TEST(BackgroundJobs, ShutdownCancelsSleepersAndJoinsEveryJob)
{
    auto clock = std::make_shared<FakeClock>();
    std::atomic<int> interrupted{0};
    std::atomic<int> finished{0};
    {
        BackgroundJobs jobs;
        for (int i = 0; i < 3; ++i)
            jobs.start([&](const CancelToken& token) {
                if (!clock->sleepFor(std::chrono::hours(1), &token))
                    ++interrupted;
                ++finished;
            });
        clock->waitForSleepers(3);
        EXPECT_EQ(jobs.running(), 3);
        jobs.shutdown();
        EXPECT_EQ(finished.load(), 3);
        EXPECT_EQ(interrupted.load(), 3);

        std::atomic<bool> ran{false};
        std::shared_ptr<CancelToken> late = jobs.start([&](const CancelToken&) { ran = true; });
        EXPECT_TRUE(late->isCancelled());
        EXPECT_FALSE(ran.load());
    }
}

TEST(BackgroundJobs, JobsMayStartJobsAndTokensCancelOne)
{
    auto clock = std::make_shared<FakeClock>();
    BackgroundJobs jobs;
    std::atomic<int> nested{0};
    jobs.start([&](const CancelToken&) { jobs.start([&](const CancelToken&) { ++nested; }); });
    EXPECT_TRUE(test::eventually([&] { return nested.load() == 1; }));

    std::atomic<bool> firstWoke{false};
    std::shared_ptr<CancelToken> first = jobs.start([&](const CancelToken& t) {
        firstWoke = !clock->sleepFor(std::chrono::hours(1), &t);
    });
    std::shared_ptr<CancelToken> second = jobs.start([&](const CancelToken& t) { clock->sleepFor(std::chrono::hours(1), &t); });
    clock->waitForSleepers(2);
    first->cancel();
    EXPECT_TRUE(test::eventually([&] { return firstWoke.load(); }));
    EXPECT_FALSE(second->isCancelled());
    jobs.shutdown();
    EXPECT_TRUE(second->isCancelled());
}

} // namespace
} // namespace pallix
