// live: searches at the window's cadence on a complete store, first idle, then
// while a writer changes one item at a time (adding a file, then removing it),
// as the watcher does on a desktop where files change. Prints both phases'
// search times and how often a search met indexes that were not complete.

#include <atomic>
#include <cstdio>
#include <thread>

#include "BenchSupport.h"
#include "Commands.h"

namespace pallix::bench {

namespace {

struct Phase {
    std::vector<double> ms;
    int incomplete = 0;  // searches that found the indexes incomplete
};

Phase searchFor(IndexStore& store, const std::vector<SearchQuery>& queries, std::size_t& next, int limit,
                std::chrono::milliseconds every, std::chrono::seconds length)
{
    Phase phase;
    const auto end = SteadyClock::now() + length;
    while (SteadyClock::now() < end) {
        const auto due = SteadyClock::now() + every;
        const SearchQuery& q = queries[next++ % queries.size()];
        phase.incomplete += !store.status().searchIndexesComplete;
        const auto start = SteadyClock::now();
        (void)store.search(q, limit);
        phase.ms.push_back(millisecondsSince(start));
        std::this_thread::sleep_until(due);
    }
    return phase;
}

void print(const char* name, const Phase& p)
{
    std::printf("live: %-6s %4zu searches  p50 %8.2f ms  p99 %8.2f ms  max %8.2f ms  incomplete %d\n", name,
                p.ms.size(), percentile(p.ms, 50), percentile(p.ms, 99), percentile(p.ms, 100), p.incomplete);
}

} // namespace

int runLive(const std::vector<std::string>& argv)
{
    const Args args(argv, {"db", "queries", "seconds", "limit", "write-ms", "search-ms"}, {});
    const std::filesystem::path db = args.required("db");
    requireDatabase(db);
    const int seconds = args.integer("seconds", 30, 1);
    const int limit = args.integer("limit", 10000, 1);
    const auto writeEvery = std::chrono::milliseconds(args.integer("write-ms", 1000, 1));
    const auto searchEvery = std::chrono::milliseconds(args.integer("search-ms", 300, 1));
    std::vector<SearchQuery> queries;
    for (const QueryCase& c : readQueries(args.required("queries")))
        queries.push_back(parseQuery(c.text, QueryOptions{}));
    if (queries.empty())
        throw UsageError("no queries");

    auto probe = std::make_shared<IndexStoreProbe>();
    std::unique_ptr<IndexStore> store = openCompleteStore(db, probe);
    waitForNameOrders(*probe);
    std::size_t next = 0;
    const Phase idle = searchFor(*store, queries, next, limit, searchEvery, std::chrono::seconds(seconds));

    std::atomic<bool> stop{false};
    int writes = 0;
    std::thread writer([&] {
        const std::string path = "/bench-live/changing-item-report.txt";
        while (!stop) {
            const auto due = SteadyClock::now() + writeEvery;
            FileMetadata m;
            m.isDirectory = false;
            m.fileSize = writes;
            if (writes % 2 == 0)
                (void)store->upsert({*IndexedItem::from(path, m)});
            else
                (void)store->removePathPrefixes({path});
            ++writes;
            std::this_thread::sleep_until(due);
        }
        (void)store->removePathPrefixes({path});
    });
    next = 0;
    const Phase busy = searchFor(*store, queries, next, limit, searchEvery, std::chrono::seconds(seconds));
    stop = true;
    writer.join();

    std::printf("live: %zu items, limit %d, a search every %lld ms, %d s per phase\n",
                probe->memoryUsage().itemCount, limit, static_cast<long long>(searchEvery.count()), seconds);
    print("idle", idle);
    print("writes", busy);
    std::printf("live: %d writes, one every %lld ms; ratio p50 %.2f, p99 %.2f\n", writes,
                static_cast<long long>(writeEvery.count()), percentile(busy.ms, 50) / percentile(idle.ms, 50),
                percentile(busy.ms, 99) / percentile(idle.ms, 99));
    return 0;
}

} // namespace pallix::bench
