#include "App/Async/AsyncClock.h"

#include <chrono>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace std::chrono_literals;

namespace pallix {
namespace {

struct SleepProbe {
    std::optional<bool> result;
    QThread* resumedOn = nullptr;
    std::chrono::steady_clock::time_point resumedAt;
    std::function<void()> onResumed;
};

QCoro::Task<> sleepAndRecord(AsyncClock clock, Clock::Duration d, std::shared_ptr<CancelToken> token,
                             SleepProbe* probe)
{
    QCoro::Task<bool> sleeping = clock.sleepFor(d, token);
    probe->result = co_await sleeping;
    probe->resumedOn = QThread::currentThread();
    probe->resumedAt = std::chrono::steady_clock::now();
    if (probe->onResumed)
        probe->onResumed();
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
    // Lengths off the millisecond grid, started together: each ends no
    // sooner than asked, whatever the others do.
    const Clock::Duration lengths[] = {3ms, 1500us, 4200us, 250us};
    SleepProbe sleeps[std::size(lengths)];
    // The loop blocks as the application's does (a polling wait would
    // see the sleeps end only at its own ticks).
    QEventLoop loop;
    std::size_t pending = std::size(lengths);
    const auto started = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < std::size(lengths); ++i) {
        sleeps[i].onResumed = [&] {
            if (--pending == 0)
                loop.quit();
        };
        sleepAndRecord(clock, lengths[i], token, &sleeps[i]);
    }
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(pending, 0u);
    for (std::size_t i = 0; i < std::size(lengths); ++i) {
        EXPECT_GE(sleeps[i].resumedAt - started, lengths[i]) << i;
        EXPECT_TRUE(*sleeps[i].result) << i;
        EXPECT_EQ(sleeps[i].resumedOn, QCoreApplication::instance()->thread()) << i;
    }

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
