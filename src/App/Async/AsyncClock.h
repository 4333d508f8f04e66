#pragma once
// AsyncClock: the injected Clock as seen from the model's coroutines. now()
// reads the clock; sleepFor() suspends the calling coroutine and resumes it
// on the caller's thread (the GUI thread) once the clock has moved on, so a
// FakeClock in a test releases model sleeps by advancing time. A sleep on
// any clock but the real one blocks a thread of a small process-wide pool,
// which is what lets one interface serve the fake clock too; the real clock
// waits on a timer of the caller's event loop.
// Copyable; every method may be called from the GUI thread.

#include <memory>

#include <QCoroTask>

#include "Platform/Clock.h"

namespace pallix {

class AsyncClock {
public:
    explicit AsyncClock(std::shared_ptr<Clock> clock);

    Clock& clock() const { return *m_clock; }
    const std::shared_ptr<Clock>& shared() const { return m_clock; }
    Clock::TimePoint now() const { return m_clock->now(); }

    // True when the whole duration passed; false when `cancel` fired first
    // (then the coroutine resumes at once). A token is required so that a job
    // that is given up never leaves a thread asleep on a clock nobody advances.
    QCoro::Task<bool> sleepFor(Clock::Duration d, std::shared_ptr<const CancelToken> cancel) const;

private:
    static QCoro::Task<bool> sleepOnTimer(Clock::Duration d, std::shared_ptr<const CancelToken> cancel);

    std::shared_ptr<Clock> m_clock;
};

} // namespace pallix
