#pragma once
// The benches that run the application model wait for it by running the Qt
// event loop on the calling (GUI) thread until a condition holds.

#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

namespace pallix::bench {

// False when `condition` did not hold within `timeoutMs`.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace pallix::bench
