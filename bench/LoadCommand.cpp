// load: the corpus into a fresh index database through IndexStore::upsert, in
// the batch size of the application's start-up scan.

#include <cstdio>
#include <filesystem>

#include "BenchSupport.h"
#include "Commands.h"

namespace pallix::bench {

int runLoad(const std::vector<std::string>& argv)
{
    const Args args(argv, {"db", "list", "batch"}, {});
    const std::filesystem::path db = args.required("db");
    const std::filesystem::path list = args.required("list");
    const int batchSize = args.integer("batch", 5500, 1);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(list, ec))
        throw UsageError("no corpus at " + list.string());
    // Never written over: the file might be somebody's real index.
    if (std::filesystem::exists(db, ec))
        throw UsageError(db.string() + " exists; remove it first");

    IndexStore store(db);
    if (StoreResult<void> opened = store.bootstrap(); !opened)
        throw std::runtime_error(opened.error().description());
    // Writes made before the (empty) cache is installed would be queued for replay.
    store.waitForSearchCacheReady();

    double recordMs = 0, upsertMs = 0;
    std::size_t rows = 0;
    std::vector<IndexedItem> items;
    readCorpus(list, static_cast<std::size_t>(batchSize), [&](std::vector<CorpusEntry>& batch) {
        const auto made = SteadyClock::now();
        items.clear();
        for (const CorpusEntry& entry : batch)
            items.push_back(itemFromCorpus(entry));
        recordMs += millisecondsSince(made);
        const auto written = SteadyClock::now();
        if (StoreResult<void> r = store.upsert(items); !r)
            throw std::runtime_error(r.error().description());
        upsertMs += millisecondsSince(written);
        rows += items.size();
    });
    std::printf("load: %zu rows in batches of %d\n", rows, batchSize);
    std::printf("load: IndexStore.upsert %.2f s, %.0f rows/s\n", upsertMs / 1000, rows / (upsertMs / 1000));
    std::printf("load: item records (path forms, ICU folding) %.2f s; overall %.0f rows/s\n", recordMs / 1000,
                rows / ((upsertMs + recordMs) / 1000));
    return 0;
}

} // namespace pallix::bench
