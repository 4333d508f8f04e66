#pragma once
// BackgroundJobs: the threads a store starts for its delayed and long work
// (cache warm-up, debounced rebuild, index build). Each job gets its own
// CancelToken; the owner cancels and joins all of them when it goes away, so a
// job may use its owner freely until it returns.
//
// Thread-safe. A job may start further jobs; after shutdown() starts nothing.

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "Platform/Clock.h"

namespace pallix {

class BackgroundJobs {
public:
    using Job = std::function<void(const CancelToken&)>;

    BackgroundJobs() = default;
    BackgroundJobs(const BackgroundJobs&) = delete;
    BackgroundJobs& operator=(const BackgroundJobs&) = delete;
    ~BackgroundJobs() { shutdown(); }

    // Runs `job` on a thread of its own; the returned token cancels it.
    // After shutdown() the job is not run and the token comes back cancelled.
    std::shared_ptr<CancelToken> start(Job job);

    // Cancels every job, refuses new ones and joins them all. Must not be
    // called from a job, nor while holding a lock that jobs take.
    void shutdown();

    // Number of jobs started and not yet finished (tests).
    int running() const;

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<CancelToken> token;
        bool finished = false;
    };
    void reapFinishedLocked(std::list<Entry>& reaped);

    mutable std::mutex m_mutex;
    std::list<Entry> m_entries;
    bool m_shutDown = false;
};

} // namespace pallix
