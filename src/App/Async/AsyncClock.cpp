#include "App/Async/AsyncClock.h"

#include "App/Async/QueuedFuture.h"

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

// The real clock's sleeps wait on a timer of the calling thread's event loop:
// one timed wake-up of that thread, where a sleeping pool thread and its
// future took three hand-offs between threads, each able to cost
// milliseconds on a busy machine. Cancelling fires the timer at once.
QCoro::Task<bool> AsyncClock::sleepOnTimer(Clock::Duration d, std::shared_ptr<const CancelToken> cancel)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    // Rounded up: a sleep never ends before its time.
    timer.start(std::chrono::ceil<std::chrono::milliseconds>(d));
    // Also gone with a coroutine destroyed while it sleeps, before the timer.
    struct Waking {
        const CancelToken* token;
        const void* key;
        ~Waking()
        {
            if (token)
                token->removeWaker(key);
        }
    } waking{cancel.get(), &timer};
    if (cancel)
        cancel->addWaker(&timer, [&timer] {
            QMetaObject::invokeMethod(&timer, [&timer] { timer.start(0); }, Qt::QueuedConnection);
        });
    if (!cancel || !cancel->isCancelled())
        co_await timer;
    co_return !(cancel && cancel->isCancelled());
}

} // namespace pallix
