#include "Platform/Clock.h"

#include <future>
#include <thread>

#include <gtest/gtest.h>

using namespace pallix;
using namespace std::chrono_literals;

TEST(FakeClock, TimeMovesOnlyWhenAdvanced)
{
    FakeClock clock(1000.0);
    const auto start = clock.now();
    EXPECT_EQ(clock.now(), start);
    EXPECT_DOUBLE_EQ(clock.wallSecondsSince1970(), 1000.0);
    clock.advance(1500ms);
    EXPECT_EQ(clock.now() - start, 1500ms);
    EXPECT_DOUBLE_EQ(clock.wallSecondsSince1970(), 1001.5);
}

TEST(FakeClock, SleeperWakesExactlyAtItsDeadline)
{
    FakeClock clock;
    auto slept = std::async(std::launch::async, [&] { return clock.sleepFor(5s); });
    clock.waitForSleepers(1);

    clock.advance(4999ms);
    EXPECT_EQ(clock.sleepers(), 1);
    EXPECT_EQ(slept.wait_for(0s), std::future_status::timeout);

    clock.advance(1ms);
    EXPECT_TRUE(slept.get());
    EXPECT_EQ(clock.sleepers(), 0);
}

TEST(FakeClock, SleepersWakeInDeadlineOrder)
{
    FakeClock clock;
    auto shortSleep = std::async(std::launch::async, [&] { return clock.sleepFor(100ms); });
    auto longSleep = std::async(std::launch::async, [&] { return clock.sleepFor(300ms); });
    clock.waitForSleepers(2);

    clock.advance(200ms);
    EXPECT_TRUE(shortSleep.get());
    EXPECT_EQ(clock.sleepers(), 1);
    EXPECT_EQ(longSleep.wait_for(0s), std::future_status::timeout);

    clock.advance(100ms);
    EXPECT_TRUE(longSleep.get());
}

TEST(FakeClock, CancelInterruptsSleep)
{
    FakeClock clock;
    CancelToken token;
    auto slept = std::async(std::launch::async, [&] { return clock.sleepFor(1h, &token); });
    clock.waitForSleepers(1);
    token.cancel();
    EXPECT_FALSE(slept.get());
    EXPECT_TRUE(token.isCancelled());
    EXPECT_EQ(clock.sleepers(), 0);
}

TEST(FakeClock, CancelledTokenAndZeroSleepReturnAtOnce)
{
    FakeClock clock;
    CancelToken token;
    EXPECT_TRUE(clock.sleepFor(0s, &token));
    token.cancel();
    EXPECT_FALSE(clock.sleepFor(1h, &token));
    EXPECT_EQ(clock.sleepers(), 0);
}

// Many sleeps cancelled at random points: a wake-up lost between the flag test
// and the wait would hang this test.
TEST(FakeClock, CancelNeverLosesAWakeUp)
{
    FakeClock clock;
    for (int i = 0; i < 200; ++i) {
        CancelToken token;
        auto slept = std::async(std::launch::async, [&] { return clock.sleepFor(1h, &token); });
        token.cancel();
        EXPECT_FALSE(slept.get());
    }
}

TEST(SystemClock, CancelWakesALongSleep)
{
    auto clock = Clock::system();
    EXPECT_EQ(clock, Clock::system());
    for (int i = 0; i < 50; ++i) {
        CancelToken token;
        auto slept = std::async(std::launch::async, [&] { return clock->sleepFor(1h, &token); });
        token.cancel();
        EXPECT_FALSE(slept.get());
    }
}

TEST(CancelToken, WakersAreCalledOnCancelUntilRemoved)
{
    CancelToken token;
    int kept = 0, removed = 0;
    const int keptKey = 0, removedKey = 0;
    token.addWaker(&keptKey, [&] { ++kept; });
    token.addWaker(&removedKey, [&] { ++removed; });
    token.removeWaker(&removedKey);
    std::thread([&] { token.cancel(); }).join();
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(removed, 0);
    EXPECT_TRUE(token.isCancelled());
}

TEST(SystemClock, NowIsMonotonicAndWallClockIsCurrent)
{
    auto clock = Clock::system();
    const auto a = clock->now();
    const auto b = clock->now();
    EXPECT_LE(a, b);
    EXPECT_TRUE(clock->sleepFor(0s));
    EXPECT_GT(clock->wallSecondsSince1970(), 1.6e9);  // after 2020
}
