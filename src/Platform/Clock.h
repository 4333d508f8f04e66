#pragma once
// One clock for every "now" and every sleep of the engine and the model, so
// that tests drive time by hand and never sleep for real.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace pallix {

class CancelToken;

class Clock {
public:
    using Duration = std::chrono::nanoseconds;
    using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

    virtual ~Clock() = default;

    // Monotonic time (the continuous clock).
    virtual TimePoint now() const = 0;
    // Wall-clock seconds since 1970 (dates of items, "dm:" parsing).
    virtual double wallSecondsSince1970() const = 0;
    // Sleeps for `d`; returns false early when `cancel` fires (an interrupted sleep is no error).
    virtual bool sleepFor(Duration d, const CancelToken* cancel = nullptr) = 0;

    // The process-wide real clock.
    static std::shared_ptr<Clock> system();
};

// A clock that only moves when a test calls advance(); sleepers wake when
// their deadline is reached.
class FakeClock final : public Clock {
public:
    explicit FakeClock(double wallStart = 1'700'000'000.0);

    TimePoint now() const override;
    double wallSecondsSince1970() const override;
    bool sleepFor(Duration d, const CancelToken* cancel = nullptr) override;

    void advance(Duration d);
    // Number of threads currently blocked in sleepFor (lets tests wait for a sleeper).
    int sleepers() const;
    // Blocks the calling (test) thread until at least `n` threads sleep.
    void waitForSleepers(int n) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    Duration m_elapsed{0};
    double m_wallStart;
    int m_sleepers = 0;
};

// A cancel flag shared by a job and whoever may cancel it. cancel() wakes
// sleepers of every clock that watches the token.
class CancelToken {
public:
    void cancel();
    bool isCancelled() const { return m_cancelled.load(std::memory_order_acquire); }

    // Used by clocks. A waiter registered with a null `waitMutex` waits on `cv`
    // holding mutex(); otherwise it waits holding `waitMutex`, which cancel()
    // takes before notifying so that no wake-up is lost. Register before
    // testing the flag, remove after the wait.
    std::mutex& mutex() const { return m_mutex; }
    void addWaiter(std::condition_variable* cv) const { addWaiter(cv, nullptr); }
    void addWaiter(std::condition_variable* cv, std::mutex* waitMutex) const;
    void removeWaiter(std::condition_variable* cv) const;
    // For a waiter that is not blocked on a condition (a coroutine on an event
    // loop): cancel() calls `wake` on the cancelling thread, under mutex(), so
    // it must only hand the news on. Once removeWaker() returns, `wake` is
    // neither running nor ever called.
    void addWaker(const void* key, std::function<void()> wake) const;
    void removeWaker(const void* key) const;

private:
    struct Waiter {
        std::condition_variable* cv;
        std::mutex* waitMutex;
    };
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_mutex;
    mutable std::vector<Waiter> m_waiters;
    mutable std::vector<std::pair<const void*, std::function<void()>>> m_wakers;
};

} // namespace pallix
