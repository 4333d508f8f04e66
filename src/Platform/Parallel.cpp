#include "Platform/Parallel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace pallix {

namespace {

// A thread woken from sleep on a lock or a condition runs again tens of
// microseconds later, on a busy or virtual machine milliseconds. So a caller
// spins this long for its slices to end, and a thread for a lock.
constexpr auto kStayAwake = std::chrono::microseconds(1000);
// A kept thread spins this long after a job for the next one, which often
// follows at once. Not longer: between the jobs of one search the caller
// ranks on its own for a millisecond or more, and six threads spinning
// meanwhile slowed it (a search 40 ms after the one before took 6.5 to 7.4
// ms at the median with 1 ms of spinning, 4.9 to 5.6 ms with 0.25 ms).
constexpr auto kIdleSpin = std::chrono::microseconds(250);

void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Spins until `ready()` or for `span`; true when ready.
template <class Ready>
bool spinUntil(Ready ready, std::chrono::microseconds span = kStayAwake)
{
    const auto until = std::chrono::steady_clock::now() + span;
    for (unsigned k = 0;; ++k) {
        if (ready())
            return true;
        if ((k & 63) == 63 && std::chrono::steady_clock::now() >= until)
            return false;
        relax();
    }
}

// Takes `mutex`, spinning first: its holders keep it for a few instructions.
void lockSpinning(std::unique_lock<std::mutex>& lock)
{
    if (!spinUntil([&] { return lock.try_lock(); }))
        lock.lock();
}

// One call of onSliceWorkers(), on its caller's stack.
struct SliceJob {
    const std::function<void(unsigned)>* work = nullptr;
    unsigned slices = 0;
    std::atomic<unsigned> next{0};
    std::mutex mutex;
    std::condition_variable settled;
    std::atomic<unsigned> done{0};
    // Kept threads inside the job: one joins under the pool's mutex while
    // another leaves under `mutex`, hence atomic; leaving notifies under `mutex`.
    std::atomic<unsigned> users{0};

    bool isSettled() const
    {
        return done.load(std::memory_order_acquire) == slices && users.load(std::memory_order_acquire) == 0;
    }

    // Runs slices until none is left to take.
    void runSlices()
    {
        for (unsigned t; (t = next.fetch_add(1, std::memory_order_relaxed)) < slices;) {
            (*work)(t);
            if (done.fetch_add(1, std::memory_order_acq_rel) + 1 == slices) {
                std::lock_guard lock(mutex);
                settled.notify_all();
            }
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
            m_posted.fetch_add(1, std::memory_order_release);
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
            m_posted.fetch_add(1, std::memory_order_release);
        }
        m_wake.notify_all();
        job.runSlices();
        // No kept thread joins the job once it is off the list.
        {
            std::unique_lock lock(m_mutex, std::defer_lock);
            lockSpinning(lock);
            std::erase(m_jobs, &job);
        }
        spinUntil([&] { return job.isSettled(); });
        // Under the job's mutex: a kept thread that left it has let go of it too.
        std::unique_lock lock(job.mutex);
        job.settled.wait(lock, [&] { return job.isSettled(); });
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
            if (!m_stopping && m_jobs.empty()) {
                const std::uint64_t seen = m_posted.load(std::memory_order_relaxed);
                lock.unlock();
                spinUntil([&] { return m_posted.load(std::memory_order_acquire) != seen; }, kIdleSpin);
                lockSpinning(lock);
            }
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
            lockSpinning(lock);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<SliceJob*> m_jobs;  // under m_mutex
    std::atomic<std::uint64_t> m_posted{0};  // jobs ever listed, for the threads staying awake
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
