// open: the store's start-up on an existing database (bootstrap, snapshot load,
// inverted indexes), timed, and the memory of the cache per item, both by the
// store's own accounting and by what the process gained.

#include <malloc.h>

#include <cstdio>
#include <thread>

#include "BenchSupport.h"
#include "Commands.h"

namespace pallix::bench {

namespace {

void printPerItem(const char* what, double bytes, double items)
{
    std::printf("open: %-34s %12.0f bytes  %7.1f bytes/item\n", what, bytes, items > 0 ? bytes / items : 0.0);
}

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
    const auto start = SteadyClock::now();
    auto probe = std::make_shared<IndexStoreProbe>();
    auto store = std::make_unique<IndexStore>(db, Clock::system(), probe);
    if (StoreResult<void> opened = store->bootstrap(); !opened)
        throw std::runtime_error(opened.error().description());
    const double bootstrapMs = millisecondsSince(start);
    const MemoryProbe opened = MemoryProbe::now();
    store->waitForSearchCacheReady();
    const double cacheMs = millisecondsSince(start);
    // Before the index build starts (90 ms after the install).
    malloc_trim(0);
    const MemoryProbe installed = MemoryProbe::now();
    waitForCompleteIndexes(*store);
    const double completeMs = millisecondsSince(start);
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
    return 0;
}

} // namespace pallix::bench
