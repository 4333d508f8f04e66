#include "App/Async/AsyncClock.h"

#include "App/Async/QueuedFuture.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

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
    // The lambda owns the clock and the token, so neither can vanish under a
    // sleeping thread even if the model that asked is gone by then.
    auto sleeping = QueuedFuture(QtConcurrent::run(&sleeperPool(), [clock = m_clock, d, cancel] {
        return clock->sleepFor(d, cancel.get());
    }));
    const bool slept = co_await sleeping;
    co_return slept && !(cancel && cancel->isCancelled());
}

} // namespace pallix
