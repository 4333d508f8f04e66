#pragma once
// The store's bulk steps (loading the cache, hashing its paths, building the
// indexes and the name ordinals) run on the calling thread and a few more.

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

namespace pallix {

// Up to six, leaving two cores to the rest of the application.
inline unsigned spareThreads()
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp(cores > 2 ? cores - 2 : 1u, 1u, 6u);
}

// Calls work(t, begin, end) for the t-th of `threads` even slices of
// [0, count), the first on the calling thread; returns when all are done.
template <class Work>
void inSlices(std::size_t count, unsigned threads, Work work)
{
    threads = std::max(1u, threads);
    const auto begin = [&](unsigned t) { return count * t / threads; };
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t)
        workers.emplace_back([&, t] { work(t, begin(t), begin(t + 1)); });
    work(0u, begin(0), begin(1));
    for (std::thread& w : workers)
        w.join();
}

} // namespace pallix
