#pragma once
// Bulk steps run on the calling thread and a few more: the store's (loading
// the cache, hashing its paths, building the indexes and the name ordinals)
// on threads of their own, and a search's (scanning and collecting the
// candidates of a large search) on a few threads kept for the whole process.

#include <algorithm>
#include <cstddef>
#include <functional>
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

// Calls work(t) for t in [0, slices) on the calling thread and the idle ones
// of spareThreads() threads started once and kept: a search of a few
// milliseconds neither starts threads nor sets up their per-thread state
// again. The calling thread takes slices too, so with every kept thread busy
// (another search, a nested call) all slices still run, on the caller alone.
// Returns when all are done. Any thread.
void onSliceWorkers(unsigned slices, const std::function<void(unsigned)>& work);

// Runs `first` and `second` at once, one on the calling thread and one on a
// kept thread when one is idle (else both on the caller, one after the
// other); returns when both are done. Each may start slices of its own.
template <class First, class Second>
void bothAtOnce(First first, Second second)
{
    onSliceWorkers(2, [&](unsigned t) { t == 0 ? first() : second(); });
}

// inSlices() on the kept threads.
template <class Work>
void inPooledSlices(std::size_t count, unsigned slices, Work work)
{
    slices = std::max(1u, slices);
    const auto begin = [&](unsigned t) { return count * t / slices; };
    if (slices == 1)
        return work(0u, begin(0), begin(1));
    onSliceWorkers(slices, [&](unsigned t) { work(t, begin(t), begin(t + 1)); });
}

} // namespace pallix
