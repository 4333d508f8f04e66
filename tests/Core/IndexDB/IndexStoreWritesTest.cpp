#include "Core/IndexDB/IndexStore.h"

#include <algorithm>
#include <atomic>
#include <random>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::fileItem;
using test::folderItem;
using test::InstallGate;
using test::TempDir;

std::vector<std::string> rowPaths(const std::filesystem::path& db)
{
    sqlite::Connection c;
    EXPECT_EQ(c.open(db.string(), sqlite::Connection::Mode::ReadOnly), SQLITE_OK);
    sqlite::Statement s;
    EXPECT_EQ(s.prepare(c, "SELECT path FROM file_index ORDER BY path;"), SQLITE_OK);
    std::vector<std::string> out;
    while (s.step() == SQLITE_ROW)
        out.emplace_back(s.columnText(0));
    return out;
}

// The cached paths among `candidates`, in the order given.
std::vector<std::string> cachedPaths(const IndexStore& store, const std::vector<std::string>& candidates)
{
    return test::pathsOf(store.items(candidates, 1'000'000));
}

struct WritesFixture {
    TempDir dir;
    std::filesystem::path db = dir / "index.sqlite";
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::unique_ptr<test::ProbedStore> store;

    explicit WritesFixture(const std::vector<IndexedItem>& seed = {})
    {
        if (!seed.empty())
            test::seedDatabase(db, seed);
        store = std::make_unique<test::ProbedStore>(db, clock);
        test::bootstrapToComplete(*store, *clock);
    }
    void advance(Clock::Duration d) { test::advanceAsleep(*store, *clock, d); }
    void settle() { test::settle(*store, *clock); }
};

const std::vector<std::string> kTree{"/a/b", "/a/b/c", "/a/b/c/d.txt", "/a/bc", "/a/B", "/a/B/x", "/a/my_x",
                                     "/a/myAx", "/a/myAx/f", "/other/z"};

std::vector<IndexedItem> treeItems()
{
    std::vector<IndexedItem> items;
    for (const std::string& p : kTree)
        items.push_back(p.find('.') == std::string::npos ? folderItem(p) : fileItem(p));
    return items;
}

std::vector<std::string> without(std::vector<std::string> all, const std::vector<std::string>& gone)
{
    std::erase_if(all, [&](const std::string& p) { return std::find(gone.begin(), gone.end(), p) != gone.end(); });
    std::sort(all.begin(), all.end());
    return all;
}

TEST(IndexStoreWrites, UpsertReplacesExistingRowsAndLastDuplicateWins)
{
    WritesFixture f({fileItem("/d/one.txt", 1), fileItem("/d/two.txt", 2)});
    ASSERT_TRUE(f.store->upsert({fileItem("/d/one.txt", 10), fileItem("/d/three.txt", 3), fileItem("/d/three.txt", 33)}));
    EXPECT_EQ(f.store->indexedCount(), 3);
    const std::vector<IndexedItem> cached = f.store->items({"/d/one.txt", "/d/three.txt"}, 10);
    ASSERT_EQ(cached.size(), 2u);
    EXPECT_EQ(cached[0].size(), 10);
    EXPECT_EQ(cached[1].size(), 33);
    EXPECT_EQ(rowPaths(f.db), (std::vector<std::string>{"/d/one.txt", "/d/three.txt", "/d/two.txt"}));

    IndexStore reader(f.db, std::make_shared<FakeClock>());
    ASSERT_TRUE(reader.bootstrap());
    ASSERT_TRUE(eventually([&] { return reader.status().cacheReady; }));
    EXPECT_EQ(reader.items({"/d/three.txt"}, 1).at(0).size(), 33);
}

TEST(IndexStoreWrites, RemovalsReachExactlyThePathAndItsSubtree)
{
    struct Case {
        std::string removed;
        std::vector<std::string> gone;
    } cases[] = {
        {"/a/b", {"/a/b", "/a/b/c", "/a/b/c/d.txt"}},  // keeps /a/bc
        {"/a/B", {"/a/B", "/a/B/x"}},                  // letter case counts
        {"/a/my_x", {"/a/my_x"}},                      // "_" is no wildcard
        {"/a/b/c/", {"/a/b/c", "/a/b/c/d.txt"}},       // standardised first
        {"/", kTree},                                  // the root holds everything
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.removed);
        WritesFixture f(treeItems());
        ASSERT_TRUE(f.store->removePathPrefixes({c.removed}));
        EXPECT_EQ(rowPaths(f.db), without(kTree, c.gone));
        std::vector<std::string> cached = cachedPaths(*f.store, kTree);
        std::sort(cached.begin(), cached.end());
        EXPECT_EQ(cached, without(kTree, c.gone));
    }
}

TEST(IndexStoreWrites, FullRescanReplacesEverythingUnderItsRoots)
{
    {
        SCOPED_TRACE("a root with no items");
        WritesFixture f(treeItems());
        ASSERT_TRUE(f.store->applyFullRescan({"/a/b"}, {}));
        EXPECT_EQ(rowPaths(f.db), without(kTree, {"/a/b", "/a/b/c", "/a/b/c/d.txt"}));
        EXPECT_TRUE(cachedPaths(*f.store, {"/a/b", "/a/b/c"}).empty());
        EXPECT_TRUE(f.store->status().searchIndexesComplete) << "a small rescan patches the indexes";
        EXPECT_TRUE(f.store->search(test::wordsQuery({"d"}), 10).empty());
    }
    {
        SCOPED_TRACE("items partly outside the roots");
        WritesFixture f(treeItems());
        ASSERT_TRUE(f.store->applyFullRescan({"/a/B", "/a/my_x"}, {fileItem("/a/B/new.txt"), fileItem("/elsewhere/e.txt")}));
        EXPECT_EQ(rowPaths(f.db), without([] {
                      std::vector<std::string> all = kTree;
                      all.push_back("/a/B/new.txt");
                      all.push_back("/elsewhere/e.txt");
                      return all;
                  }(),
                                          {"/a/B", "/a/B/x", "/a/my_x"}));
        EXPECT_EQ(cachedPaths(*f.store, {"/a/myAx/f", "/elsewhere/e.txt", "/a/B/x"}),
                  (std::vector<std::string>{"/a/myAx/f", "/elsewhere/e.txt"}));
    }
    {
        SCOPED_TRACE("the root /");
        WritesFixture f(treeItems());
        ASSERT_TRUE(f.store->applyFullRescan({"/"}, {fileItem("/only.txt")}));
        EXPECT_EQ(rowPaths(f.db), std::vector<std::string>{"/only.txt"});
        EXPECT_EQ(f.store->indexedCount(), 1);
    }
}

TEST(IndexStoreWrites, FullRescanSparesFoldersItCouldNotList)
{
    // "-", "." and "0" sort around "/": siblings that share a kept folder's
    // name as a prefix sit between the folder and its children in byte order.
    const std::vector<std::string> tree{"/r",          "/r/a",        "/r/k",       "/r/k/in.txt", "/r/k/deep",
                                        "/r/k/deep/z", "/r/k-x",      "/r/k-x/in",  "/r/k-x/in/f", "/r/k.txt",
                                        "/r/k0",       "/r/kz",       "/r/m",       "/r/m/n",      "/other/z"};
    const auto seed = [&] {
        std::vector<IndexedItem> items;
        for (const std::string& p : tree)
            items.push_back(p.find('.') == std::string::npos ? folderItem(p) : fileItem(p));
        return items;
    };
    struct Case {
        const char* name;
        std::vector<std::string> roots;
        std::vector<std::string> kept;
        std::vector<std::string> gone;
    } cases[] = {
        {"kept folders and their subtrees stay, look-alike siblings go",
         {"/r"},
         {"/r/k/", "/r/k-x/in"},
         {"/r", "/r/a", "/r/k-x", "/r/k.txt", "/r/k0", "/r/kz", "/r/m", "/r/m/n"}},
        {"a kept folder inside another adds nothing", {"/r"}, {"/r/m/n", "/r/m"}, {"/r", "/r/a", "/r/k", "/r/k/in.txt",
         "/r/k/deep", "/r/k/deep/z", "/r/k-x", "/r/k-x/in", "/r/k-x/in/f", "/r/k.txt", "/r/k0", "/r/kz"}},
        {"a kept folder holding the root spares it whole", {"/r/k", "/r/m"}, {"/r"}, {}},
        {"kept folders outside the roots change nothing", {"/r/m"}, {"/other", "/r/k"}, {"/r/m", "/r/m/n"}},
        {"the root / with a kept folder", {"/"}, {"/r/k"}, [&] {
             std::vector<std::string> all = tree;
             std::erase_if(all, [](const std::string& p) { return paths::isUnder(p, "/r/k"); });
             return all;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WritesFixture f(seed());
        ASSERT_TRUE(f.store->applyFullRescan(c.roots, {fileItem("/r/k/new.txt")}, c.kept));
        std::vector<std::string> expected = tree;
        expected.push_back("/r/k/new.txt");
        EXPECT_EQ(rowPaths(f.db), without(expected, c.gone));
        std::vector<std::string> cached = cachedPaths(*f.store, expected);
        std::sort(cached.begin(), cached.end());
        EXPECT_EQ(cached, without(expected, c.gone));
    }
}

TEST(IndexStoreWrites, KeptFoldersOfARescanBeforeTheInstallAreKeptInTheCache)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/r/x.txt"), fileItem("/r/locked/y.txt")});
    test::ProbedStore store(dir / "index.sqlite", std::make_shared<FakeClock>());
    InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(store.applyFullRescan({"/r"}, {}, {"/r/locked"}));
    gate.open();
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    EXPECT_EQ(cachedPaths(store, {"/r/x.txt", "/r/locked/y.txt"}), std::vector<std::string>{"/r/locked/y.txt"});
    EXPECT_EQ(rowPaths(dir / "index.sqlite"), std::vector<std::string>{"/r/locked/y.txt"});
}

TEST(IndexStoreWrites, SynchronizeDropsVanishedChildrenWithTheirSubtrees)
{
    WritesFixture f(treeItems());
    // /a holds b, bc, B, my_x and myAx; the listing now has bc and a new one.
    ASSERT_TRUE(f.store->synchronizeFolders({{"/a/", {folderItem("/a/bc"), fileItem("/a/fresh.txt")}}}));
    EXPECT_EQ(rowPaths(f.db), (std::vector<std::string>{"/a/bc", "/a/fresh.txt", "/other/z"}));
    EXPECT_EQ(f.store->indexedCount(), 3);

    ASSERT_TRUE(f.store->synchronizeFolders({{"/other", {}}}));
    EXPECT_EQ(rowPaths(f.db), (std::vector<std::string>{"/a/bc", "/a/fresh.txt"}));
}

// "/" is stored with itself as its parent. A change at the top of the disk
// lists "/" again, at start-up or while running; that must not remove it and
// everything under it.
TEST(IndexStoreWrites, ListingTheTopOfTheDiskKeepsTheRowsBelowIt)
{
    WritesFixture f({folderItem("/"), folderItem("/usr"), folderItem("/usr/lib"), fileItem("/usr/lib/x.so"),
                     folderItem("/home"), fileItem("/home/合同.pdf"), fileItem("/old.txt")});
    ASSERT_TRUE(f.store->synchronizeFolders(
        {{"/", {folderItem("/usr"), folderItem("/home"), fileItem("/new.txt")}}}));
    const std::vector<std::string> left{"/", "/home", "/home/合同.pdf", "/new.txt", "/usr", "/usr/lib",
                                        "/usr/lib/x.so"};
    EXPECT_EQ(rowPaths(f.db), left);
    EXPECT_EQ(f.store->indexedCount(), 7);
    EXPECT_EQ(cachedPaths(*f.store, left), left);
}

TEST(IndexStoreWrites, SynchronizingSeveralFoldersWritesWhatChangedAndOnlyThat)
{
    WritesFixture f({folderItem("/p"), fileItem("/p/same.txt", 5), fileItem("/p/grown.txt", 5),
                     fileItem("/p/touched.txt", 5, 100.0), folderItem("/p/gone"), fileItem("/p/gone/deep.txt"),
                     folderItem("/q"), fileItem("/q/kept.txt", 7), fileItem("/q/vanished.txt")});
    // A listing that says what the rows say writes nothing: the names'
    // ordinals, which any write of an item voids, stay.
    ASSERT_TRUE(eventually([&] { return f.store->probe().nameOrdersReady(); }));
    ASSERT_TRUE(f.store->synchronizeFolders({{"/p/gone", {fileItem("/p/gone/deep.txt")}}}));
    EXPECT_TRUE(f.store->probe().nameOrdersReady());

    ASSERT_TRUE(f.store->synchronizeFolders(
        {{"/p", {fileItem("/p/same.txt", 5), fileItem("/p/grown.txt", 50), fileItem("/p/touched.txt", 5, 200.0),
                 folderItem("/p/new")}},
         {"/q/", {fileItem("/q/kept.txt", 7)}}}));
    const std::vector<std::string> left{"/p", "/p/grown.txt", "/p/new", "/p/same.txt", "/p/touched.txt", "/q",
                                        "/q/kept.txt"};
    EXPECT_EQ(rowPaths(f.db), left);
    EXPECT_EQ(f.store->indexedCount(), 7);
    const std::vector<IndexedItem> cached = f.store->items({"/p/grown.txt", "/p/touched.txt", "/p/same.txt"}, 10);
    ASSERT_EQ(cached.size(), 3u);
    EXPECT_EQ(cached[0].size(), 50);
    EXPECT_EQ(cached[1].modifiedAt(), 200.0);
    EXPECT_EQ(cached[2].size(), 5);
    EXPECT_EQ(cachedPaths(*f.store, {"/p/gone", "/p/gone/deep.txt", "/q/vanished.txt"}), std::vector<std::string>{});

    // A fresh load of the rows holds what the cache holds.
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore fresh(f.db, clock);
    test::bootstrapToComplete(fresh, *clock);
    const std::vector<IndexedItem> loaded = fresh.items({"/p/grown.txt", "/p/touched.txt"}, 10);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].size(), 50);
    EXPECT_EQ(loaded[1].modifiedAt(), 200.0);
    EXPECT_EQ(cachedPaths(fresh, left), left);
}

TEST(IndexStoreWrites, SynchronizeBeforeTheCacheIsLoadedDropsVanishedChildrenToo)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite",
                       {folderItem("/s"), fileItem("/s/vanished.txt"), folderItem("/s/gone"), fileItem("/s/gone/x")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(store.synchronizeFolders({{"/s", {fileItem("/s/listed.txt")}}}));
    EXPECT_EQ(rowPaths(dir / "index.sqlite"), (std::vector<std::string>{"/s", "/s/listed.txt"}));
    gate.open();
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    EXPECT_EQ(cachedPaths(store, {"/s", "/s/vanished.txt", "/s/gone", "/s/gone/x", "/s/listed.txt"}),
              (std::vector<std::string>{"/s", "/s/listed.txt"}));
}

// Before the cache is installed the count is the rows', writes included:
// a run that ended first told the count the start had read.
TEST(IndexStoreWrites, TheCountBeforeTheCacheIsLoadedFollowsTheWrites)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/s/a.txt"), fileItem("/s/b.txt")});
    test::ProbedStore store(dir / "index.sqlite", std::make_shared<FakeClock>());
    InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());
    EXPECT_EQ(store.indexedCount(), 2);
    ASSERT_TRUE(store.upsert({fileItem("/s/c.txt"), fileItem("/s/a.txt")}));
    EXPECT_EQ(store.indexedCount(), 3);
    ASSERT_TRUE(store.removePathPrefixes({"/s/b.txt"}));
    EXPECT_EQ(store.indexedCount(), 2);
    ASSERT_FALSE(store.status().cacheReady);
    gate.open();
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    EXPECT_EQ(store.indexedCount(), 2);
}

std::vector<IndexedItem> burst(const std::string& folder, int count)
{
    std::vector<IndexedItem> items;
    for (int i = 0; i < count; ++i)
        items.push_back(fileItem(folder + "/" + std::to_string(i) + ".txt"));
    return items;
}

TEST(IndexStoreWrites, DelayedRebuildFollowsTheLastWriteOnceTheChangesAreMany)
{
    WritesFixture f;
    const std::int64_t start = f.store->probe().indexBuildGeneration();

    // A few changes are laid over the indexes: no build.
    ASSERT_TRUE(f.store->upsert({fileItem("/w/1.txt")}));
    ASSERT_TRUE(f.store->removePathPrefixes({"/w/1.txt"}));
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), start);
    EXPECT_TRUE(f.store->status().searchIndexesComplete);

    // Two bursts 200 ms apart that together pass 4,096 changes: one build, 380 ms after the second.
    ASSERT_TRUE(f.store->upsert(burst("/w/a", 2048)));
    f.advance(200ms);
    ASSERT_TRUE(f.store->upsert(burst("/w/b", 2048)));
    f.advance(379ms);
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), start);
    f.advance(1ms);
    ASSERT_TRUE(eventually([&] { return f.store->probe().indexBuildGeneration() == start + 1; }));
    EXPECT_TRUE(f.store->status().searchIndexesComplete) << "the patched indexes serve while the build runs";
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), start + 1);
    EXPECT_TRUE(f.store->status().searchIndexesComplete);

    // A burst, then a synchronisation 100 ms later: one build 90 ms after it
    // (4,096 + 4,096 / 16 changes are due now).
    ASSERT_TRUE(f.store->upsert(burst("/w/c", 4352)));
    f.advance(100ms);
    ASSERT_TRUE(f.store->synchronizeFolders({{"/w/c", burst("/w/c", 4000)}}));
    f.advance(89ms);
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), start + 1);
    f.advance(1ms);
    ASSERT_TRUE(eventually([&] { return f.store->probe().indexBuildGeneration() == start + 2; }));
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), start + 2);

    // An empty upsert neither schedules nor cancels.
    ASSERT_TRUE(f.store->upsert(burst("/w/d", 5000)));
    f.advance(200ms);
    ASSERT_TRUE(f.store->upsert({}));
    f.advance(180ms);
    ASSERT_TRUE(eventually([&] { return f.store->probe().indexBuildGeneration() == start + 3; }));
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), start + 3);
    ASSERT_TRUE(f.store->upsert({}));
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), start + 3);
    EXPECT_EQ(test::pathsOf(f.store->search(test::wordsQuery({"4999"}), 10)), std::vector<std::string>{"/w/d/4999.txt"});
}

TEST(IndexStoreWrites, FilesMadeAndRemovedOverAndOverLeaveNoGarbageInTheTablePastAFold)
{
    WritesFixture f({fileItem("/keep/a.txt"), fileItem("/keep/b.txt")});
    std::size_t afterFirst = 0;
    for (int round = 0; round < 8; ++round) {
        ASSERT_TRUE(f.store->upsert(burst("/tmp/run" + std::to_string(round), 5000)));
        ASSERT_TRUE(f.store->removePathPrefixes({"/tmp/run" + std::to_string(round)}));
        f.settle();
        if (round == 0)
            afterFirst = f.store->probe().memoryUsage().items;
    }
    EXPECT_EQ(f.store->indexedCount(), 2);
    // Bursts of 5,000 names leave some 100 KB a round when nothing takes them back.
    EXPECT_LT(f.store->probe().memoryUsage().items, afterFirst + 32 * 1024) << "the removed items' bytes stayed";
    EXPECT_EQ(test::pathsOf(f.store->search(test::wordsQuery({"b.txt"}), 10)), std::vector<std::string>{"/keep/b.txt"});
}

// A chain of `depth` nested folders under `root`, with a file at the bottom.
std::vector<IndexedItem> deepChain(const std::string& root, int depth, const std::string& fileName)
{
    std::vector<IndexedItem> items;
    std::string path = root;
    for (int i = 0; i < depth; ++i) {
        path += "/d";
        items.push_back(folderItem(path));
    }
    items.push_back(fileItem(path + "/" + fileName));
    return items;
}

TEST(IndexStoreWrites, DeepTreesMadeAndRemovedLeaveNoGarbageEvenWhileNoFoldComes)
{
    // A deep folder's path is long, and each folder of a chain keeps its own:
    // a few hundred changes leave hundreds of kilobytes behind. The clock
    // stands still, so no fold ever compacts the table.
    WritesFixture f;
    const std::vector<IndexedItem> kept = deepChain("/keep", 400, "bottom-note.txt");
    ASSERT_TRUE(f.store->upsert(kept));
    std::size_t afterFirst = 0;
    for (int round = 0; round < 16; ++round) {
        const std::string root = "/tmp/run" + std::to_string(round);
        ASSERT_TRUE(f.store->upsert(deepChain(root, 400, "scratch.txt")));
        ASSERT_TRUE(f.store->removePathPrefixes({root}));
        if (round == 0)
            afterFirst = f.store->probe().memoryUsage().items;
    }
    EXPECT_EQ(f.store->indexedCount(), 401);
    // Each round leaves some 340 KB of paths when nothing takes them back.
    EXPECT_LT(f.store->probe().memoryUsage().items, afterFirst + 2 * 1024 * 1024) << "the removed folders' paths stayed";
    // The kept items still compose their paths from their folders.
    const std::string bottom(kept.back().path()), middle(kept[199].path());
    EXPECT_EQ(test::pathsOf(f.store->search(test::wordsQuery({"bottom-note"}), 10)), std::vector<std::string>{bottom});
    EXPECT_EQ(cachedPaths(*f.store, {middle}), std::vector<std::string>{middle});
}

TEST(IndexStoreWrites, AWriteWhileADueBuildWaitsToStartAsksForNoSecondBuild)
{
    WritesFixture f;
    const std::int64_t start = f.store->probe().indexBuildGeneration();
    ASSERT_TRUE(f.store->upsert(burst("/w/a", 4096)));
    f.advance(380ms);
    // The build is started and waits its 90 ms; a write comes meanwhile.
    ASSERT_TRUE(eventually([&] { return f.store->probe().indexBuildGeneration() == start + 1; }));
    ASSERT_TRUE(f.store->upsert({fileItem("/w/late.txt")}));
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), start + 1) << "the build was superseded and started over";
    EXPECT_TRUE(f.store->status().searchIndexesComplete);
    EXPECT_EQ(test::pathsOf(f.store->search(test::wordsQuery({"late"}), 10)), std::vector<std::string>{"/w/late.txt"});
}

TEST(IndexStoreWrites, AnIndexBuildReadsItsItemsWhereTheWritesMadeMeanwhileMovedThem)
{
    // Three slices of names to copy: between the first and the second, half
    // the items go (some copied already, some not) and one comes.
    TempDir dir;
    std::vector<IndexedItem> seed;
    for (int i = 0; i < 20000; ++i)
        seed.push_back(fileItem("/data/a/report-" + std::to_string(i) + ".txt"));
    for (int i = 0; i < 20000; ++i)
        seed.push_back(fileItem("/data/b/memo-" + std::to_string(i) + ".txt"));
    test::seedDatabase(dir / "index.sqlite", seed);
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    std::atomic<bool> written{false};
    store.probe().setBetweenNameSlicesHook([&] {
        if (written.exchange(true))
            return;
        EXPECT_TRUE(store.removePathPrefixes({"/data/a"}));
        EXPECT_TRUE(store.upsert({fileItem("/data/c/added-1.txt")}));
    });
    test::bootstrapToComplete(store, *clock);
    test::settle(store, *clock);
    ASSERT_TRUE(written);

    auto found = [&](const std::string& word) {
        return test::pathsOf(store.search(test::wordsQuery({word}), 100000));
    };
    // Found through the indexes, not around them.
    auto aCandidate = [&](const std::string& word, const std::string& path) {
        const std::optional<std::vector<IndexedItem>> items = store.probe().fastCandidateItems(test::wordsQuery({word}));
        return items && std::ranges::count(test::pathsOf(*items), path) == 1;
    };
    EXPECT_EQ(found("report"), std::vector<std::string>{});
    for (int i : {0, 12767, 12768, 19999}) {
        const std::string word = "memo-" + std::to_string(i) + ".txt";
        EXPECT_EQ(found(word), std::vector<std::string>{"/data/b/" + word});
        EXPECT_TRUE(aCandidate(word, "/data/b/" + word)) << word;
    }
    EXPECT_EQ(found("memo").size(), 20000u);
    EXPECT_EQ(found("added-1"), std::vector<std::string>{"/data/c/added-1.txt"});
    EXPECT_TRUE(aCandidate("added-1", "/data/c/added-1.txt"));
    EXPECT_EQ(store.indexedCount(), 20001);
}

TEST(IndexStoreWrites, WritesBeforeTheInstallAreNotLost)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/r/old.txt"), fileItem("/r/gone/x.txt"), fileItem("/r/keep.txt")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());
    // The snapshot is read (all three rows) but not yet installed.
    ASSERT_TRUE(store.upsert({fileItem("/r/new.txt"), fileItem("/r/old.txt", 999)}));
    ASSERT_TRUE(store.removePathPrefixes({"/r/gone"}));
    ASSERT_TRUE(store.applyFullRescan({"/r/keep.txt"}, {}));
    gate.open();
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));

    const std::vector<std::string> all{"/r/old.txt", "/r/gone/x.txt", "/r/keep.txt", "/r/new.txt"};
    EXPECT_EQ(cachedPaths(store, all), (std::vector<std::string>{"/r/old.txt", "/r/new.txt"}));
    EXPECT_EQ(store.items({"/r/old.txt"}, 1).at(0).size(), 999);
    EXPECT_EQ(store.indexedCount(), 2);
    EXPECT_EQ(rowPaths(dir / "index.sqlite"), (std::vector<std::string>{"/r/new.txt", "/r/old.txt"}));
}

TEST(IndexStoreWrites, FailedWritesRollBackAndTouchNoCache)
{
    WritesFixture f({fileItem("/f/a.txt")});
    {
        sqlite::Connection c;
        ASSERT_EQ(c.open(f.db.string(), sqlite::Connection::Mode::ReadWriteCreate), SQLITE_OK);
        ASSERT_EQ(c.exec("CREATE TRIGGER refuse BEFORE INSERT ON file_index WHEN NEW.path = '/f/bad.txt' "
                         "BEGIN SELECT RAISE(ABORT, 'refused'); END;"),
                  SQLITE_OK);
    }
    const std::int64_t generation = f.store->probe().indexBuildGeneration();
    StoreResult<void> r = f.store->upsert({fileItem("/f/good.txt"), fileItem("/f/bad.txt")});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, IndexStoreError::Code::Step);
    EXPECT_EQ(r.error().description(), "执行 SQLite 语句失败：" + f.db.string() + "（违反数据约束（refused））");
    EXPECT_EQ(rowPaths(f.db), std::vector<std::string>{"/f/a.txt"});
    EXPECT_TRUE(cachedPaths(*f.store, {"/f/good.txt"}).empty());
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), generation) << "no rebuild after a failed write";

    // A failed full rescan leaves the cache in step with the rows it kept.
    r = f.store->applyFullRescan({"/f"}, {fileItem("/f/bad.txt")});
    ASSERT_FALSE(r);
    EXPECT_EQ(rowPaths(f.db), std::vector<std::string>{"/f/a.txt"});
    EXPECT_EQ(cachedPaths(*f.store, {"/f/a.txt"}), std::vector<std::string>{"/f/a.txt"});

    // The store writes on afterwards: the transaction was closed.
    EXPECT_TRUE(f.store->upsert({fileItem("/f/after.txt")}));
}

TEST(IndexStoreWrites, HundredThousandItemsAreFoundAndRemoved)
{
    WritesFixture f;
    std::vector<IndexedItem> batch;
    batch.reserve(100000);
    for (int i = 0; i < 100000; ++i)
        batch.push_back(fileItem("/vol/project-" + std::to_string(i % 50) + "/doc-" + std::to_string(i) +
                                 (i % 3 == 0 ? ".pdf" : ".txt")));
    const std::int64_t generation = f.store->probe().indexBuildGeneration();
    ASSERT_TRUE(f.store->upsert(batch));
    EXPECT_EQ(f.store->indexedCount(), 100000);
    EXPECT_FALSE(f.store->status().searchIndexesComplete) << "so many are built, not laid over the indexes";
    EXPECT_GT(f.store->probe().indexBuildGeneration(), generation);
    f.settle();
    ASSERT_TRUE(f.store->status().searchIndexesComplete);
    const std::int64_t built = f.store->probe().indexBuildGeneration();

    SearchQuery q = test::wordsQuery({"doc-77777"});
    EXPECT_EQ(test::pathsOf(f.store->search(q, 10)), std::vector<std::string>{"/vol/project-27/doc-77777.txt"});
    q = test::wordsQuery({"doc-1233"});
    q.extensionFilter = "pdf";
    const std::vector<IndexedItem> pdfs = f.store->search(q, 10);
    ASSERT_FALSE(pdfs.empty());
    EXPECT_EQ(pdfs.front().path(), "/vol/project-33/doc-1233.pdf");

    // Remove five of the fifty folders: their 10,000 items go.
    for (int p = 25; p < 30; ++p)
        ASSERT_TRUE(f.store->removePathPrefixes({"/vol/project-" + std::to_string(p)}));
    EXPECT_EQ(f.store->indexedCount(), 90000);
    q = test::wordsQuery({"doc-77777"});
    EXPECT_TRUE(f.store->search(q, 10).empty()) << "found no more at once";
    EXPECT_TRUE(f.store->status().searchIndexesComplete) << "the indexes follow the removal";
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), built) << "10,000 of 100,000 need no new build";
    EXPECT_TRUE(f.store->search(q, 10).empty());
    EXPECT_EQ(test::pathsOf(f.store->search(test::wordsQuery({"doc-77770"}), 10)),
              std::vector<std::string>{"/vol/project-20/doc-77770.txt"});
    EXPECT_EQ(rowPaths(f.db).size(), 90000u);
}

TEST(IndexStoreWrites, NameOrdinalsFollowTheIndexesAndAWrittenItemHasNoneUntilTheNextBuild)
{
    WritesFixture f;
    std::vector<IndexedItem> items = {fileItem("/n/b.txt"), fileItem("/n/A.txt"), fileItem("/n/报告.txt"),
                                      fileItem("/n/Á.txt")};
    const auto rebuild = [&f] {
        const std::int64_t generation = f.store->probe().indexBuildGeneration();
        f.store->probe().rebuildSearchCache();
        ASSERT_TRUE(eventually([&] { return f.store->probe().indexBuildGeneration() > generation; }));
        f.advance(90ms);
        ASSERT_TRUE(eventually([&] { return f.store->status().searchIndexesComplete && f.store->probe().nameOrdersReady(); }));
    };
    ASSERT_TRUE(f.store->upsert(items));
    rebuild();

    // Sorted by name, with and without ordinals, as the plain engine sorts the records.
    SearchQuery q;
    q.contentFilters = {SearchContentFilter::All};
    q.extensionFilter = "txt";
    EXPECT_EQ(test::pathsOf(f.store->search(q, 10)), test::pathsOf(SearchEngine().search(items, q, 10)));
    // A write changes the items: the new one has no ordinal until a build made new ones.
    items.push_back(fileItem("/n/a2.txt"));
    ASSERT_TRUE(f.store->upsert({items.back()}));
    EXPECT_FALSE(f.store->probe().nameOrdersReady());
    EXPECT_EQ(test::pathsOf(f.store->search(q, 10)), test::pathsOf(SearchEngine().search(items, q, 10)));
    rebuild();
    EXPECT_EQ(test::pathsOf(f.store->search(q, 10)), test::pathsOf(SearchEngine().search(items, q, 10)));
}

TEST(IndexStoreWrites, RandomWritesKeepTheIndexesCompleteAndAnswerAsAFreshLoad)
{
    std::mt19937 random(7);
    const std::vector<std::string> syllables{"a", "re", "port", "ab", "x", "报", "告", "img", "2026"};
    auto randomName = [&] {
        std::string n;
        for (int i = 0, len = 1 + int(random() % 3); i < len; ++i)
            n += syllables[random() % syllables.size()];
        return n + (random() % 2 ? ".txt" : ".pdf");
    };
    auto folderOf = [&] { return "/r/f" + std::to_string(random() % 40); };
    std::vector<IndexedItem> seed;
    for (int f = 0; f < 40; ++f)
        seed.push_back(folderItem("/r/f" + std::to_string(f)));
    for (int i = 0; i < 3000; ++i)
        seed.push_back(fileItem(folderOf() + "/" + std::to_string(i) + randomName()));
    WritesFixture f(seed);
    const std::int64_t generation = f.store->probe().indexBuildGeneration();

    const std::vector<std::string> words{"a", "r", "报", "re", "ab", "port", "报告", "img2", "reportab", "1"};
    auto checkAgainstFreshLoad = [&] {
        auto clock = std::make_shared<FakeClock>();
        test::ProbedStore fresh(f.db, clock);
        test::bootstrapToComplete(fresh, *clock);
        for (const std::string& word : words) {
            for (int limit : {20, 2000}) {
                const SearchQuery q = test::wordsQuery({word});
                ASSERT_EQ(test::pathsOf(f.store->search(q, limit)), test::pathsOf(fresh.search(q, limit)))
                    << word << " limit " << limit;
            }
        }
    };
    // The files now, as the store should have them.
    std::vector<std::string> files;
    for (const IndexedItem& item : seed)
        if (!item.isDirectory())
            files.emplace_back(item.path());
    auto dropUnder = [&](const std::string& prefix) {
        std::erase_if(files, [&](const std::string& p) { return paths::isUnder(p, prefix); });
    };
    for (int step = 0; step < 60; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        ASSERT_FALSE(files.empty());
        const std::string some = files[random() % files.size()];
        switch (random() % 5) {
        case 0: {
            std::vector<IndexedItem> added;
            for (int i = 0, n = 1 + int(random() % 5); i < n; ++i) {
                added.push_back(fileItem(folderOf() + "/n" + std::to_string(step) + "-" + std::to_string(i) + randomName()));
                files.emplace_back(added.back().path());
            }
            ASSERT_TRUE(f.store->upsert(added));
            break;
        }
        case 1: ASSERT_TRUE(f.store->upsert({fileItem(some, 12345)})); break;
        case 2:
            ASSERT_TRUE(f.store->removePathPrefixes({some}));
            dropUnder(some);
            break;
        case 3: {
            const std::string folder = folderOf();
            ASSERT_TRUE(f.store->removePathPrefixes({folder}));
            dropUnder(folder);
            break;
        }
        case 4: {
            const std::string folder = folderOf();
            std::vector<IndexedItem> listing;
            for (const std::string& p : files)
                if (paths::deletingLastComponent(p) == folder && random() % 4 != 0)
                    listing.push_back(fileItem(p));
            listing.push_back(fileItem(folder + "/s" + std::to_string(step) + randomName()));
            ASSERT_TRUE(f.store->synchronizeFolders({{folder, listing}}));
            std::erase_if(files, [&](const std::string& p) { return paths::deletingLastComponent(p) == folder; });
            for (const IndexedItem& item : listing)
                files.emplace_back(item.path());
            break;
        }
        }
        // A write leaves the indexes complete: searches never fall back to a scan.
        ASSERT_TRUE(f.store->status().searchIndexesComplete);
        if (step % 12 == 11)
            checkAgainstFreshLoad();
    }
    f.settle();
    EXPECT_EQ(f.store->probe().indexBuildGeneration(), generation) << "these few changes need no new build";
    checkAgainstFreshLoad();
}

} // namespace
} // namespace pallix
