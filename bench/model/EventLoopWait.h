#pragma once
// The benches that run the application model wait for it by running the Qt
// event loop on the calling (GUI) thread until a condition holds. The thread
// sleeps between events, as the application's does: a thread spinning here
// would take a core from the search it waits for.

#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace pallix::bench {

// False when `condition` did not hold within `timeoutMs`. The condition is
// looked at after each batch of events, and every 5 ms for what other
// threads change without an event.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer wake;
    wake.start(5);
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for `ms`, asleep between events.
inline void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace pallix::bench
