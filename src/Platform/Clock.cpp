#include "Platform/Clock.h"

#include <algorithm>
#include <thread>

namespace pallix {

namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override
    {
        return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
    }

    double wallSecondsSince1970() const override
    {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }

    bool sleepFor(Duration d, const CancelToken* cancel) override
    {
        if (cancel && cancel->isCancelled())
            return false;
        if (d <= Duration::zero())
            return true;
        if (!cancel) {
            std::this_thread::sleep_for(d);
            return true;
        }
        // A private mutex and condition per sleep; cancel() wakes it through the token.
        std::mutex mutex;
        std::condition_variable cv;
        const auto deadline = std::chrono::steady_clock::now() + d;
        cancel->addWaiter(&cv, &mutex);
        bool cancelled = false;
        {
            std::unique_lock lock(mutex);
            cancelled = cv.wait_until(lock, deadline, [cancel] { return cancel->isCancelled(); });
        }
        cancel->removeWaiter(&cv);
        return !cancelled;
    }
};

} // namespace

std::shared_ptr<Clock> Clock::system()
{
    static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

FakeClock::FakeClock(double wallStart) : m_wallStart(wallStart) {}

Clock::TimePoint FakeClock::now() const
{
    std::lock_guard lock(m_mutex);
    return TimePoint(m_elapsed);
}

double FakeClock::wallSecondsSince1970() const
{
    std::lock_guard lock(m_mutex);
    return m_wallStart + std::chrono::duration<double>(m_elapsed).count();
}

bool FakeClock::sleepFor(Duration d, const CancelToken* cancel)
{
    if (cancel && cancel->isCancelled())
        return false;
    if (d <= Duration::zero())
        return true;
    if (cancel)
        cancel->addWaiter(&m_cv, &m_mutex);
    bool reached = false;
    {
        std::unique_lock lock(m_mutex);
        const Duration deadline = m_elapsed + d;
        ++m_sleepers;
        m_cv.notify_all();  // waitForSleepers
        m_cv.wait(lock, [&] { return m_elapsed >= deadline || (cancel && cancel->isCancelled()); });
        --m_sleepers;
        reached = m_elapsed >= deadline;
    }
    // Outside m_mutex: cancel() takes the token's lock before ours.
    if (cancel)
        cancel->removeWaiter(&m_cv);
    return reached;
}

void FakeClock::advance(Duration d)
{
    std::lock_guard lock(m_mutex);
    m_elapsed += d;
    m_cv.notify_all();
}

int FakeClock::sleepers() const
{
    std::lock_guard lock(m_mutex);
    return m_sleepers;
}

void FakeClock::waitForSleepers(int n) const
{
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [&] { return m_sleepers >= n; });
}

void CancelToken::cancel()
{
    m_cancelled.store(true, std::memory_order_release);
    std::lock_guard lock(m_mutex);
    for (const Waiter& w : m_waiters) {
        // Taking the waiter's mutex orders the flag before its next test, so the
        // notification cannot fall between its test and its wait.
        if (w.waitMutex)
            std::lock_guard waitLock(*w.waitMutex);
        w.cv->notify_all();
    }
    for (const auto& [key, wake] : m_wakers)
        wake();
}

void CancelToken::addWaiter(std::condition_variable* cv, std::mutex* waitMutex) const
{
    std::lock_guard lock(m_mutex);
    m_waiters.push_back({cv, waitMutex});
}

void CancelToken::addWaker(const void* key, std::function<void()> wake) const
{
    std::lock_guard lock(m_mutex);
    m_wakers.emplace_back(key, std::move(wake));
}

void CancelToken::removeWaker(const void* key) const
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_wakers, [key](const auto& waker) { return waker.first == key; });
}

void CancelToken::removeWaiter(std::condition_variable* cv) const
{
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_waiters.begin(), m_waiters.end(), [cv](const Waiter& w) { return w.cv == cv; });
    if (it != m_waiters.end())
        m_waiters.erase(it);
}

} // namespace pallix
