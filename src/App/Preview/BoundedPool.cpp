#include "App/Preview/BoundedPool.h"

namespace pallix {

// The work and its watcher race to answer; both report on the GUI thread.
struct BoundedPool::Race {
    std::function<void(bool)> answer;
    CancelToken workEnded;  // wakes the watcher
    bool answered = false;  // GUI thread only
    bool overdue = false;   // answered by the watcher; GUI thread only
};

BoundedPool::BoundedPool(int maxThreads, std::shared_ptr<Clock> clock, Clock::Duration budget)
    : m_maxThreads(maxThreads), m_clock(std::move(clock)), m_budget(budget)
{
    m_pool.setMaxThreadCount(maxThreads);
    // A watcher per running work: at most the pool's threads, which grow
    // with the overdue ones.
    m_watchers.setMaxThreadCount(1024);
}

BoundedPool::~BoundedPool()
{
    m_pool.waitForDone();
    m_watchers.waitForDone();
}

void BoundedPool::finish(const std::shared_ptr<Race>& race, bool overdue)
{
    if (!race->answered) {
        race->answered = true;
        race->overdue = overdue;
        if (overdue) {
            ++m_overdue;
            m_pool.setMaxThreadCount(m_maxThreads + m_overdue);
        }
        race->answer(overdue);
    } else if (!overdue && race->overdue) {
        // The overdue work ended at last: its thread is the pool's again.
        --m_overdue;
        m_pool.setMaxThreadCount(m_maxThreads + m_overdue);
    }
}

void BoundedPool::startRace(std::function<void()> work, std::function<void(bool)> answer, int priority)
{
    auto race = std::make_shared<Race>();
    race->answer = std::move(answer);
    QObject* receiver = &m_receiver;
    m_pool.start(
        [this, work = std::move(work), receiver, race] {
            work();
            race->workEnded.cancel();
            QMetaObject::invokeMethod(receiver, [this, race] { finish(race, false); }, Qt::QueuedConnection);
        },
        priority);
    m_watchers.start([this, receiver, race] {
        if (!m_clock->sleepFor(m_budget, &race->workEnded))
            return;  // the work ended first
        QMetaObject::invokeMethod(receiver, [this, race] { finish(race, true); }, Qt::QueuedConnection);
    });
}

} // namespace pallix
