// Searches and writes from several threads at once on one store, while index
// builds start, get superseded and finish. Under the ThreadSanitizer build
// (`make test SANITIZE=thread`) a data race fails the run; in the other builds
// the results must still be consistent.

#include "Core/IndexDB/IndexStore.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::TempDir;

std::vector<IndexedItem> manyItems(int count, std::string_view folder)
{
    std::vector<IndexedItem> items;
    items.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        items.push_back(fileItem(std::string(folder) + "/report-" + std::to_string(i) + ".txt"));
    return items;
}

TEST(IndexStoreConcurrency, SearchesAndWritesOverlappingIndexBuildsStayConsistent)
{
    TempDir dir;
    // Several stem-copy slices, so a build is often caught in its copy.
    constexpr int kItems = 40000;
    test::seedDatabase(dir / "index.sqlite", manyItems(kItems, "/data"));
    auto clock = std::make_shared<test::InstantClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    ASSERT_TRUE(store.bootstrap());
    store.waitForSearchCacheReady();

    std::atomic<int> searchesLeft{4 * 40};
    std::atomic<bool> wrongAnswer{false};
    std::vector<std::thread> threads;
    for (int s = 0; s < 4; ++s)
        threads.emplace_back([&] {
            const SearchQuery query = test::wordsQuery({"report-1"});
            while (searchesLeft.fetch_sub(1) > 0)
                if (store.search(query, 50).empty())
                    wrongAnswer = true;
        });
    for (int w = 0; w < 2; ++w)
        threads.emplace_back([&, w] {
            for (int round = 0; round < 30; ++round) {
                // A write, then a rebuild that supersedes the build in flight.
                ASSERT_TRUE(store.upsert({fileItem("/w" + std::to_string(w) + "/n" + std::to_string(round))}));
                store.probe().rebuildSearchCache();
            }
        });
    for (std::thread& t : threads)
        t.join();

    EXPECT_FALSE(wrongAnswer) << "a search missed the seeded items";
    EXPECT_EQ(store.indexedCount(), kItems + 60);
    store.probe().rebuildSearchCache();
    EXPECT_TRUE(test::eventually([&] { return store.status().searchIndexesComplete; }));
}

} // namespace
} // namespace pallix
