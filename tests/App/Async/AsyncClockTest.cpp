#include "App/Async/AsyncClock.h"

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

using namespace std::chrono_literals;

namespace pallix {
namespace {

struct SleepProbe {
    std::optional<bool> result;
    QThread* resumedOn = nullptr;
};

QCoro::Task<> sleepAndRecord(AsyncClock clock, Clock::Duration d, std::shared_ptr<CancelToken> token,
                             SleepProbe* probe)
{
    QCoro::Task<bool> sleeping = clock.sleepFor(d, token);
    probe->result = co_await sleeping;
    probe->resumedOn = QThread::currentThread();
}

struct AsyncClockTest : testing::Test {
    std::shared_ptr<FakeClock> fake = std::make_shared<FakeClock>();
    AsyncClock clock{fake};
    std::shared_ptr<CancelToken> token = std::make_shared<CancelToken>();
    SleepProbe probe;
};

TEST_F(AsyncClockTest, SleepEndsWhenTheFakeClockReachesTheDeadlineAndResumesOnTheCallingThread)
{
    sleepAndRecord(clock, 85ms, token, &probe);
    fake->waitForSleepers(1);
    fake->advance(84ms);
    QCoreApplication::processEvents();
    EXPECT_FALSE(probe.result.has_value());

    fake->advance(1ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return probe.result.has_value(); }, 5000));
    EXPECT_TRUE(*probe.result);
    EXPECT_EQ(probe.resumedOn, QCoreApplication::instance()->thread());
}

TEST_F(AsyncClockTest, CancelWakesTheSleeperWithFalse)
{
    sleepAndRecord(clock, 10s, token, &probe);
    fake->waitForSleepers(1);
    token->cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return probe.result.has_value(); }, 5000));
    EXPECT_FALSE(*probe.result);
    EXPECT_EQ(fake->sleepers(), 0);
}

TEST_F(AsyncClockTest, CancelledTokenAndZeroDurationAnswerAtOnce)
{
    sleepAndRecord(clock, 0ms, token, &probe);
    ASSERT_TRUE(probe.result.has_value());  // no suspension at all
    EXPECT_TRUE(*probe.result);

    SleepProbe cancelled;
    token->cancel();
    sleepAndRecord(clock, 1s, token, &cancelled);
    ASSERT_TRUE(cancelled.result.has_value());
    EXPECT_FALSE(*cancelled.result);
}

// The real clock waits on the caller's event loop, not on a pool thread.
TEST(AsyncSystemClock, SleepEndsNoSoonerThanAskedOnTheCallingThreadAndCancelEndsItAtOnce)
{
    const AsyncClock clock(Clock::system());
    auto token = std::make_shared<CancelToken>();
    SleepProbe shortSleep;
    const auto started = std::chrono::steady_clock::now();
    sleepAndRecord(clock, 3ms, token, &shortSleep);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shortSleep.result.has_value(); }, 5000));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 3ms);
    EXPECT_TRUE(*shortSleep.result);
    EXPECT_EQ(shortSleep.resumedOn, QCoreApplication::instance()->thread());

    // Cancelled from another thread, as a store job may.
    SleepProbe longSleep;
    sleepAndRecord(clock, 1h, token, &longSleep);
    std::thread([&] { token->cancel(); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return longSleep.result.has_value(); }, 5000));
    EXPECT_FALSE(*longSleep.result);
    EXPECT_EQ(longSleep.resumedOn, QCoreApplication::instance()->thread());

    // A token cancelled again later finds no sleeper left to wake.
    SleepProbe again;
    auto second = std::make_shared<CancelToken>();
    sleepAndRecord(clock, 1h, second, &again);
    second->cancel();
    second->cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.result.has_value(); }, 5000));
    EXPECT_FALSE(*again.result);
}

TEST_F(AsyncClockTest, NowFollowsTheInjectedClock)
{
    const auto before = clock.now();
    fake->advance(3s);
    EXPECT_EQ(clock.now() - before, 3s);
}

} // namespace
} // namespace pallix
