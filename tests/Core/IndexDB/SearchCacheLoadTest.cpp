#include "Core/IndexDB/IndexStore.h"

#include <atomic>

#include <gtest/gtest.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::fileItem;
using test::TempDir;

TEST(SearchCacheLoad, EmptyIndexIsCompleteAtOnceWithoutABuild)
{
    TempDir dir;
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    EXPECT_TRUE(store.status().searchIndexesComplete);
    EXPECT_TRUE(eventually([&] { return store.probe().runningBackgroundJobs() == 0; })) << "no build was started";
    EXPECT_EQ(store.probe().indexBuildGeneration(), 1);
}

TEST(SearchCacheLoad, BuildWaitsNinetyMillisecondsAfterTheInstall)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/a/one"), fileItem("/a/two"), fileItem("/a/three")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    EXPECT_EQ(store.indexedCount(), 3);
    test::advanceAsleep(store, *clock, 89ms);
    EXPECT_FALSE(store.status().searchIndexesComplete);
    test::advanceAsleep(store, *clock, 1ms);
    EXPECT_TRUE(eventually([&] { return store.status().searchIndexesComplete; }));
}

TEST(SearchCacheLoad, SupersededBuildNeverCompletes)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/a/one"), fileItem("/a/two")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    std::atomic<int> installs{0};
    std::atomic<bool> rebuilt{false};
    std::atomic<bool> sawComplete{false};
    // The first build, done with its work, finds that a rebuild came first.
    store.probe().setBeforeIndexInstallHook([&] {
        if (installs++ == 0) {
            store.probe().rebuildSearchCache();
            rebuilt = true;
        }
    });
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    const std::int64_t installed = store.probe().indexBuildGeneration();
    test::advanceAsleep(store, *clock, 90ms);
    // The rebuild is asked for, and the old build has gone: only the new one waits.
    ASSERT_TRUE(eventually([&] { return rebuilt.load() && store.probe().runningBackgroundJobs() == 1; }));
    EXPECT_EQ(installs.load(), 1);
    EXPECT_EQ(store.probe().indexBuildGeneration(), installed + 1);
    sawComplete = store.status().searchIndexesComplete;
    EXPECT_FALSE(sawComplete) << "the old build must not mark the new indexes complete";

    test::advanceAsleep(store, *clock, 90ms);
    EXPECT_TRUE(eventually([&] { return store.status().searchIndexesComplete; }));
    EXPECT_EQ(installs.load(), 2);
}

TEST(SearchCacheLoad, RebuildBeforeTheDelayCancelsTheOldBuild)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/a/one")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    std::atomic<int> installs{0};
    store.probe().setBeforeIndexInstallHook([&] { ++installs; });
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    test::advanceAsleep(store, *clock, 50ms);
    store.probe().rebuildSearchCache();
    test::advanceAsleep(store, *clock, 90ms);
    ASSERT_TRUE(eventually([&] { return store.status().searchIndexesComplete; }));
    test::settle(store, *clock);
    EXPECT_EQ(installs.load(), 1) << "the cancelled build stopped before its work";
}

TEST(SearchCacheLoad, RebuildOfAnEmptyListIsCompleteAtOnce)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/a/one")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    test::bootstrapToComplete(store, *clock);
    ASSERT_TRUE(store.removePathPrefixes({"/a"}));
    store.probe().rebuildSearchCache();
    EXPECT_TRUE(store.status().searchIndexesComplete);
    EXPECT_TRUE(store.status().cacheReady);
    EXPECT_EQ(store.indexedCount(), 0);
}

TEST(SearchCacheLoad, StalePositionsAfterARemovalAreSkipped)
{
    // The build finishes after a removal shortened the list (a removal does not
    // supersede a build); its positions past the end must never be read.
    TempDir dir;
    std::vector<IndexedItem> items;
    for (int i = 0; i < 50; ++i)
        items.push_back(fileItem("/keep/alpha-" + std::to_string(i) + ".txt"));
    for (int i = 0; i < 50; ++i)
        items.push_back(fileItem("/drop/zeta-" + std::to_string(i) + ".txt"));
    test::seedDatabase(dir / "index.sqlite", items);
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    bool removed = false;
    store.probe().setBeforeIndexInstallHook([&] {
        if (!removed)
            removed = store.removePathPrefixes({"/drop"}).has_value();
    });
    test::bootstrapToComplete(store, *clock);
    ASSERT_TRUE(removed);
    EXPECT_EQ(store.indexedCount(), 50);
    ASSERT_TRUE(store.status().searchIndexesComplete);

    // Every candidate of "zeta" lies past the end: none, and the ranking of all items finds nothing.
    EXPECT_FALSE(store.probe().fastCandidateItems(test::wordsQuery({"zeta"})));
    EXPECT_TRUE(store.search(test::wordsQuery({"zeta"}), 10).empty());
    EXPECT_EQ(store.search(test::wordsQuery({"alpha-7"}), 10).size(), 1u);
}

} // namespace
} // namespace pallix
