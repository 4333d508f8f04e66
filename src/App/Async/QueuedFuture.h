#pragma once
// Awaiting a QFuture from a coroutine on the GUI thread, always resuming from
// the event loop of the awaiting thread, also when the future has finished
// already. So the code after a co_await never runs inside the call that
// started the flow (rebuildIndex() returns with the rebuild still running,
// like any other detached job), whatever the pool's timing.

#include <coroutine>

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>

namespace pallix {

template <typename T>
class QueuedFuture {
public:
    explicit QueuedFuture(QFuture<T> future) : m_future(std::move(future)) {}

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> awaiting)
    {
        // The watcher lives on this thread; a finished future still reports
        // through a posted event, so the resumption is queued either way.
        auto* watcher = new QFutureWatcher<T>();
        QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, awaiting] {
            watcher->deleteLater();
            awaiting.resume();
        });
        watcher->setFuture(m_future);
    }

    T await_resume()
    {
        if constexpr (std::is_void_v<T>)
            m_future.waitForFinished();
        else
            return m_future.result();
    }

private:
    QFuture<T> m_future;
};

} // namespace pallix
