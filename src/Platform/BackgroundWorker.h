#pragma once
// BackgroundWorker: one thread that runs posted jobs in order, lowered to
// background priority when asked (lowerCurrentThreadToBackground). Callers
// that hold locks others wait for stay on their own threads and hand only the
// long, lock-free work here, so a starved background thread never holds up
// anyone but its own caller.
//
// Thread-safe: post() may be called from any thread. The destructor runs the
// jobs already posted, then joins the thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pallix {

class BackgroundWorker {
public:
    explicit BackgroundWorker(bool backgroundPriority);
    BackgroundWorker(const BackgroundWorker&) = delete;
    BackgroundWorker& operator=(const BackgroundWorker&) = delete;
    ~BackgroundWorker();

    void post(std::function<void()> job);

private:
    void run(bool backgroundPriority);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;  // under m_mutex
    bool m_stopping = false;                   // under m_mutex
    std::thread m_thread;                      // last: it uses the members above
};

} // namespace pallix
