#include "Platform/BackgroundWorker.h"

#include "Platform/ThreadPriority.h"

namespace pallix {

BackgroundWorker::BackgroundWorker(bool backgroundPriority)
    : m_thread([this, backgroundPriority] { run(backgroundPriority); })
{
}

BackgroundWorker::~BackgroundWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void BackgroundWorker::post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void BackgroundWorker::run(bool backgroundPriority)
{
    if (backgroundPriority)
        lowerCurrentThreadToBackground();
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;  // stopping, and every posted job has run
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

} // namespace pallix
