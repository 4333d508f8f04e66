#include "App/Async/AsyncClock.h"

#include "App/Async/QueuedFuture.h"

#include <algorithm>
#include <coroutine>
#include <cstdint>
#include <optional>

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorotimer.h>

namespace pallix {

namespace {

// Sleeps park a thread each; they get their own pool so that a few long
// waits never hold back store and scan jobs on the model's pool. Never
// destroyed: a thread still asleep on a fake clock at exit must not hang it.
QThreadPool& sleeperPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(32);
        return p;
    }();
    return *pool;
}

// A kernel timer whose expiry the calling thread's event loop sees as a
// readable descriptor. Qt's timers on the GLib loop wait in whole
// milliseconds, rounded up: a 4 ms sleep ended half a millisecond late at
// the median and more than one at the tail. The descriptor wakes the loop
// when the kernel's timer expires.
class KernelDeadline {
public:
    explicit KernelDeadline(Clock::Duration d) : m_fd(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
    {
        if (m_fd < 0)
            return;
        // A zero expiry would disarm the timer for good.
        const auto ns = std::max<std::int64_t>(1, std::chrono::ceil<std::chrono::nanoseconds>(d).count());
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        if (timerfd_settime(m_fd, 0, &when, nullptr) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_notifier.emplace(m_fd, QSocketNotifier::Read);
    }
    ~KernelDeadline()
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    KernelDeadline(const KernelDeadline&) = delete;
    KernelDeadline& operator=(const KernelDeadline&) = delete;

    bool armed() const { return m_notifier.has_value(); }

    // Awaiting it resumes the sleeper from the loop's notice of the expiry
    // itself, as a timer's timeout does; the notifier allows being destroyed
    // in its own notice.
    auto expiry()
    {
        struct Expiry {
            QSocketNotifier* notifier;
            bool await_ready() const noexcept { return false; }
            void await_suspend(std::coroutine_handle<> sleeper) const
            {
                QObject::connect(notifier, &QSocketNotifier::activated, notifier, [n = notifier, sleeper] {
                    // The descriptor stays readable: one notice is all a sleep needs.
                    n->setEnabled(false);
                    sleeper.resume();
                });
            }
            void await_resume() const noexcept {}
        };
        return Expiry{&*m_notifier};
    }
    // From any thread: the timer expires at once.
    void expireNow() const
    {
        itimerspec now{};
        now.it_value.tv_nsec = 1;
        timerfd_settime(m_fd, 0, &now, nullptr);
    }

private:
    int m_fd;
    std::optional<QSocketNotifier> m_notifier;
};

// Removes the waker when the sleep ends, also when a coroutine is destroyed
// while it sleeps.
struct Waking {
    const CancelToken* token;
    const void* key;
    ~Waking()
    {
        if (token)
            token->removeWaker(key);
    }
};

} // namespace

AsyncClock::AsyncClock(std::shared_ptr<Clock> clock) : m_clock(std::move(clock)) {}

QCoro::Task<bool> AsyncClock::sleepFor(Clock::Duration d, std::shared_ptr<const CancelToken> cancel) const
{
    if (cancel && cancel->isCancelled())
        co_return false;
    if (d <= Clock::Duration::zero())
        co_return true;
    if (m_clock == Clock::system()) {
        const bool slept = co_await sleepOnTimer(d, cancel);
        co_return slept;
    }
    // The lambda owns the clock and the token, so neither can vanish under a
    // sleeping thread even if the model that asked is gone by then.
    auto sleeping = QueuedFuture(QtConcurrent::run(&sleeperPool(), [clock = m_clock, d, cancel] {
        return clock->sleepFor(d, cancel.get());
    }));
    const bool slept = co_await sleeping;
    co_return slept && !(cancel && cancel->isCancelled());
}

// The real clock's sleeps wait on the calling thread's event loop: one timed
// wake-up of that thread, where a sleeping pool thread and its future took
// three hand-offs between threads, each able to cost milliseconds on a busy
// machine. Cancelling ends the wait at once.
QCoro::Task<bool> AsyncClock::sleepOnTimer(Clock::Duration d, std::shared_ptr<const CancelToken> cancel)
{
    KernelDeadline deadline(d);
    if (deadline.armed()) {
        Waking waking{cancel.get(), &deadline};
        if (cancel)
            cancel->addWaker(&deadline, [&deadline] { deadline.expireNow(); });
        if (!cancel || !cancel->isCancelled())
            co_await deadline.expiry();
        co_return !(cancel && cancel->isCancelled());
    }

    // No descriptor to spare: a Qt timer, to the millisecond.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    // Rounded up: a sleep never ends before its time.
    timer.start(std::chrono::ceil<std::chrono::milliseconds>(d));
    Waking waking{cancel.get(), &timer};
    if (cancel)
        cancel->addWaker(&timer, [&timer] {
            QMetaObject::invokeMethod(&timer, [&timer] { timer.start(0); }, Qt::QueuedConnection);
        });
    if (!cancel || !cancel->isCancelled())
        co_await timer;
    co_return !(cancel && cancel->isCancelled());
}

} // namespace pallix
