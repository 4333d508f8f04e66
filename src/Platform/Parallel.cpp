#include "Platform/Parallel.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace pallix {

namespace {

// One call of onSliceWorkers(), on its caller's stack.
struct SliceJob {
    const std::function<void(unsigned)>* work = nullptr;
    unsigned slices = 0;
    std::atomic<unsigned> next{0};
    std::mutex mutex;
    std::condition_variable settled;
    unsigned done = 0;   // under mutex
    // Kept threads inside the job: one joins under the pool's mutex while
    // another leaves under `mutex`, hence atomic; leaving notifies under `mutex`.
    std::atomic<unsigned> users{0};

    // Runs slices until none is left to take.
    void runSlices()
    {
        for (unsigned t; (t = next.fetch_add(1, std::memory_order_relaxed)) < slices;) {
            (*work)(t);
            std::lock_guard lock(mutex);
            if (++done == slices)
                settled.notify_all();
        }
    }
};

class SliceWorkers {
public:
    static SliceWorkers& shared()
    {
        static SliceWorkers workers(spareThreads());
        return workers;
    }

    ~SliceWorkers()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }

    void run(SliceJob& job)
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(&job);
        }
        m_wake.notify_all();
        job.runSlices();
        // No kept thread joins the job once it is off the list.
        {
            std::lock_guard lock(m_mutex);
            std::erase(m_jobs, &job);
        }
        std::unique_lock lock(job.mutex);
        job.settled.wait(lock, [&] { return job.done == job.slices && job.users == 0; });
    }

private:
    explicit SliceWorkers(unsigned threads)
    {
        for (unsigned t = 0; t < threads; ++t)
            m_threads.emplace_back([this] { serve(); });
    }

    void serve()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            SliceJob* job = m_jobs.front();
            // A job whose slices are all taken leaves the list; its caller waits for them.
            if (job->next.load(std::memory_order_relaxed) >= job->slices) {
                m_jobs.pop_front();
                continue;
            }
            ++job->users;
            lock.unlock();
            job->runSlices();
            {
                std::lock_guard jobLock(job->mutex);
                --job->users;
                job->settled.notify_all();
            }
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<SliceJob*> m_jobs;  // under m_mutex
    bool m_stopping = false;       // under m_mutex
    std::vector<std::thread> m_threads;
};

} // namespace

void onSliceWorkers(unsigned slices, const std::function<void(unsigned)>& work)
{
    SliceJob job;
    job.work = &work;
    job.slices = slices;
    SliceWorkers::shared().run(job);
}

} // namespace pallix
