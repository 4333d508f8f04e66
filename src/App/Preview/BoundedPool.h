#pragma once
// BoundedPool: a thread pool of its own for work with a time budget on the
// clock (decoding an unknown file). Work that overruns its budget is
// answered as overdue and no longer holds a place: the pool takes one more
// thread until that work ends, so the work behind it goes on. A decoder
// cannot be stopped in the middle; this is what bounds the wait for it.
// Created, called and answered on the GUI thread; the destructor waits for
// the work that runs.

#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QThreadPool>

#include "Platform/Clock.h"

namespace pallix {

class BoundedPool {
public:
    BoundedPool(int maxThreads, std::shared_ptr<Clock> clock, Clock::Duration budget);
    ~BoundedPool();
    BoundedPool(const BoundedPool&) = delete;
    BoundedPool& operator=(const BoundedPool&) = delete;

    // Runs `work` on the pool (higher `priority` first); `answer` gets its
    // result, or nothing once the budget passed first. Called once, later.
    template <class T>
    void start(std::function<T()> work, std::function<void(std::optional<T>)> answer, int priority = 0)
    {
        auto result = std::make_shared<std::optional<T>>();
        startRace([work = std::move(work), result] { *result = work(); },
                  [answer = std::move(answer), result](bool overdue) {
                      answer(overdue ? std::nullopt : std::move(*result));
                  },
                  priority);
    }

    // Work answered as overdue that still runs (GUI thread).
    int overdue() const { return m_overdue; }

private:
    struct Race;
    void startRace(std::function<void()> work, std::function<void(bool overdue)> answer, int priority);
    void finish(const std::shared_ptr<Race>& race, bool overdue);

    const int m_maxThreads;
    const std::shared_ptr<Clock> m_clock;
    const Clock::Duration m_budget;
    int m_overdue = 0;
    QThreadPool m_pool;
    QThreadPool m_watchers;  // one sleeper on the clock per running work
    QObject m_receiver;      // on the GUI thread: where the answers are delivered
};

} // namespace pallix
