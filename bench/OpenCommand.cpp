// open: the store's start-up on an existing database (bootstrap, snapshot load,
// inverted indexes), timed, and the memory of the cache per item, both by the
// store's own accounting and by what the process gained, and the highest
// private memory the process reached on the way to complete indexes.

#include <malloc.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "BenchSupport.h"
#include "SmapsRollup.h"
#include "Commands.h"

namespace pallix::bench {

namespace {

void printPerItem(const char* what, double bytes, double items)
{
    std::printf("open: %-34s %12.0f bytes  %7.1f bytes/item\n", what, bytes, items > 0 ? bytes / items : 0.0);
}

// The highest private and anonymous memory and heap in use, sampled every 25 ms from its
// construction to stop().
class PeakSampler {
public:
    PeakSampler() : m_thread([this] { run(); }) {}
    ~PeakSampler() { stop(); }
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        sample();
    }
    std::int64_t privatePeak() const { return m_privatePeak; }
    std::int64_t privatePeakSoFar()
    {
        std::lock_guard lock(m_mutex);
        return std::max(m_privatePeak, readSmapsRollup().privateBytes);
    }
    std::int64_t anonymousPeak() const { return m_anonymousPeak; }
    std::int64_t heapPeak() const { return m_heapPeak; }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopped) {
            sample();
            m_wake.wait_for(lock, std::chrono::milliseconds(25), [this] { return m_stopped; });
        }
    }
    void sample()
    {
        const SmapsRollup now = readSmapsRollup();
        m_privatePeak = std::max(m_privatePeak, now.privateBytes);
        m_anonymousPeak = std::max(m_anonymousPeak, now.anonymousBytes);
        const struct mallinfo2 info = mallinfo2();
        m_heapPeak = std::max(m_heapPeak, static_cast<std::int64_t>(info.uordblks + info.hblkhd));
    }
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopped = false;
    std::int64_t m_privatePeak = 0;
    std::int64_t m_anonymousPeak = 0;
    std::int64_t m_heapPeak = 0;
    std::thread m_thread;
};

} // namespace

int runOpen(const std::vector<std::string>& argv)
{
    const Args args(argv, {"db"}, {});
    const std::filesystem::path db = args.required("db");
    requireDatabase(db);
    // ICU's data and the parser's tables are loaded before the baseline.
    parseQuery("warm ÉCOLE 项目", QueryOptions{});
    IndexedItem::normalizedSearchText("Crème brûlée 报告");

    malloc_trim(0);
    const MemoryProbe before = MemoryProbe::now();
    const SmapsRollup privateBefore = readSmapsRollup();
    PeakSampler peak;
    const auto start = SteadyClock::now();
    auto probe = std::make_shared<IndexStoreProbe>();
    auto store = std::make_unique<IndexStore>(db, Clock::system(), probe);
    if (StoreResult<void> opened = store->bootstrap(); !opened)
        throw std::runtime_error(opened.error().description());
    const double bootstrapMs = millisecondsSince(start);
    const MemoryProbe opened = MemoryProbe::now();
    store->waitForSearchCacheReady();
    const double cacheMs = millisecondsSince(start);
    const std::int64_t loadPeak = peak.privatePeakSoFar();
    // Before the index build starts (90 ms after the install).
    malloc_trim(0);
    const MemoryProbe installed = MemoryProbe::now();
    waitForCompleteIndexes(*store);
    const double completeMs = millisecondsSince(start);
    peak.stop();
    waitForNameOrders(*probe);
    const double ordersMs = millisecondsSince(start);
    // The build's job frees its last buffers after the ordinals are in.
    while (probe->runningBackgroundJobs() > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    const MemoryProbe settled = MemoryProbe::now();
    malloc_trim(0);
    const MemoryProbe trimmed = MemoryProbe::now();

    const IndexStoreProbe::MemoryUsage usage = probe->memoryUsage();
    const double items = double(usage.itemCount);
    std::printf("open: %zu items\n", usage.itemCount);
    std::printf("open: bootstrap %.0f ms, cache installed at %.0f ms, indexes complete at %.0f ms\n", bootstrapMs,
                cacheMs, completeMs);
    std::printf("open:   (the index build waits 90 ms before it starts); name ordinals at %.0f ms\n", ordersMs);
    printPerItem("accounting: item table + path map", double(usage.items), items);
    printPerItem("accounting: character index", double(usage.characterIndex), items);
    printPerItem("accounting: pair index", double(usage.bigramIndex), items);
    printPerItem("accounting: prefix index", double(usage.prefixIndex), items);
    printPerItem("accounting: total", double(usage.total()), items);
    printPerItem("heap in use, growth", double(trimmed.heapInUse - before.heapInUse), items);
    printPerItem("  of it at bootstrap's end", double(opened.heapInUse - before.heapInUse), items);
    printPerItem("  of it at the install, before the indexes", double(installed.heapInUse - before.heapInUse), items);
    printPerItem("resident anonymous, growth", double(settled.rssAnon - before.rssAnon), items);
    printPerItem("resident anonymous, after trim", double(trimmed.rssAnon - before.rssAnon), items);
    printPerItem("  of it at the install, before the indexes", double(installed.rssAnon - before.rssAnon), items);
    printPerItem("resident file pages, growth", double(trimmed.rssFile - before.rssFile), items);
    printPerItem("private, peak to complete indexes", double(peak.privatePeak()), items);
    printPerItem("  its growth", double(peak.privatePeak() - privateBefore.privateBytes), items);
    printPerItem("  its growth to the cache install", double(loadPeak - privateBefore.privateBytes), items);
    printPerItem("anonymous, peak growth", double(peak.anonymousPeak() - privateBefore.anonymousBytes), items);
    printPerItem("heap in use, peak growth", double(peak.heapPeak() - before.heapInUse), items);
    return 0;
}

} // namespace pallix::bench
