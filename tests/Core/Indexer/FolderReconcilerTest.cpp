#include "Core/Indexer/FolderReconciler.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "Core/IndexDB/IndexStore.h"
#include "Platform/DeepChain.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

using test::TempTree;

struct ReconcileFixture {
    TempTree tree;
    std::filesystem::path dbFolder = std::filesystem::path(tree.root()).parent_path() /
                                     (std::filesystem::path(tree.root()).filename().string() + "-db");
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::unique_ptr<IndexStore> store;

    ReconcileFixture()
    {
        store = std::make_unique<IndexStore>(dbFolder / "index.sqlite", clock);
        EXPECT_TRUE(store->bootstrap());
        store->waitForSearchCacheReady();
    }
    ~ReconcileFixture()
    {
        store.reset();
        std::filesystem::remove_all(dbFolder);
    }
    bool indexed(const std::string& path) { return !store->items({path}, 1).empty(); }
};

IndexedItem rowAt(const std::string& path)
{
    FileMetadata m;
    m.isDirectory = false;
    m.fileSize = 1;
    return *IndexedItem::from(path, m);
}

FileScanner scannerWith(FileScanner::ListingFault fault = {})
{
    return FileScanner(FileScanner::Options{0, std::move(fault)});
}

TEST(FolderReconciler, WritesWhatIsThereAndRemovesWhatWentKeepingWhatCouldNotBeRead)
{
    ReconcileFixture f;
    for (int i = 0; i < 300; ++i)
        f.tree.file("docs/d" + std::to_string(i) + ".txt");
    f.tree.file("locked/inside.txt");
    f.tree.file("old/sub/x.txt");
    ASSERT_TRUE(f.store->upsert(scannerWith().scan({f.tree.root()}, {}, false).items));

    // Changes the watcher lost: deletions, a new file, a folder gone with its subtree.
    for (int i = 0; i < 300; i += 2)
        std::filesystem::remove(f.tree.path("docs/d" + std::to_string(i) + ".txt"));
    f.tree.file("docs/new.txt");
    std::filesystem::remove_all(f.tree.path("old"));
    std::filesystem::remove(f.tree.path("locked/inside.txt"));

    const FileScanner scanner = scannerWith([&](const std::string& path) {
        return path == f.tree.path("locked") ? EACCES : 0;
    });
    const ReconcileOutcome outcome = FolderReconciler::reconcile(*f.store, scanner, f.tree.root(), {}, false);
    EXPECT_FALSE(outcome.error);
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_EQ(outcome.removed, 150u + 3u);  // old, old/sub, old/sub/x.txt
    for (int i = 0; i < 300; ++i) {
        const std::string path = f.tree.path("docs/d" + std::to_string(i) + ".txt");
        ASSERT_EQ(f.indexed(path), i % 2 == 1) << path;
    }
    EXPECT_TRUE(f.indexed(f.tree.path("docs/new.txt")));
    EXPECT_FALSE(f.indexed(f.tree.path("old/sub/x.txt")));
    EXPECT_TRUE(f.indexed(f.tree.path("locked/inside.txt"))) << "the walk could not say it went";
    // Exact prefixes: a sibling whose name continues the folder's is no row below it.
    EXPECT_EQ(f.store->indexedCount(), 1 + 1 + 150 + 1 + 1 + 1);  // root, docs, files, new, locked, inside
}

TEST(FolderReconciler, AChainPastThePathLimitIsReconciledAndACancelledOneRemovesNothing)
{
    ReconcileFixture f;
    const test::DeepChain chain(f.tree.root(), 2500);
    ::close(::openat(chain.bottom(), "b.txt", O_CREAT | O_WRONLY, 0644));
    ASSERT_TRUE(f.store->upsert({rowAt(chain.path() + "/gone.txt"), rowAt(f.tree.path("stale.txt"))}));

    CancelToken cancelled;
    cancelled.cancel();
    const ReconcileOutcome stopped =
        FolderReconciler::reconcile(*f.store, scannerWith(), f.tree.root(), {}, false, &cancelled);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.removed, 0u);
    EXPECT_TRUE(f.indexed(chain.path() + "/gone.txt"));

    const ReconcileOutcome outcome = FolderReconciler::reconcile(*f.store, FileScanner(), f.tree.root(), {}, false);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.written, 1u + 2500 + 1);
    EXPECT_EQ(outcome.removed, 2u);
    EXPECT_TRUE(f.indexed(chain.path() + "/b.txt"));
    EXPECT_FALSE(f.indexed(chain.path() + "/gone.txt"));
    EXPECT_FALSE(f.indexed(f.tree.path("stale.txt")));
    ::unlinkat(chain.bottom(), "b.txt", 0);
}

TEST(FolderReconciler, SiblingWithALongerNameIsLeftAlone)
{
    ReconcileFixture f;
    f.tree.file("a/kept.txt");
    ASSERT_TRUE(f.store->upsert(scannerWith().scan({f.tree.path("a")}, {}, false).items));
    ASSERT_TRUE(f.store->upsert({rowAt(f.tree.path("ab/elsewhere.txt"))}));
    const ReconcileOutcome outcome = FolderReconciler::reconcile(*f.store, scannerWith(), f.tree.path("a"), {}, false);
    EXPECT_EQ(outcome.removed, 0u);
    EXPECT_TRUE(f.indexed(f.tree.path("ab/elsewhere.txt")));
}

TEST(FolderReconciler, SearchesAnswerWhileALargeRootIsReconciled)
{
    ReconcileFixture f;
    f.tree.file("still-here.txt");
    // 200,000 rows under the root, of which the disk holds one.
    std::vector<IndexedItem> rows;
    rows.reserve(200000);
    for (int i = 0; i < 200000; ++i)
        rows.push_back(rowAt(f.tree.path("gone/" + std::to_string(i % 100) + "/f" + std::to_string(i))));
    rows.push_back(rowAt(f.tree.path("still-here.txt")));
    ASSERT_TRUE(f.store->upsert(rows));
    rows.clear();

    std::atomic<bool> done{false};
    std::thread reconciling([&] {
        FolderReconciler::reconcile(*f.store, scannerWith(), f.tree.root(), {}, false);
        done = true;
    });
    SearchQuery query;
    query.rawText = "still";
    query.tokens = {"still"};
    // By prefix: in contains mode the tree's random folder name could hold the
    // word's letters in order and let every item match through its path.
    query.matchMode = SearchMatchMode::Prefix;
    query.contentFilters = {SearchContentFilter::All};
    // Once the removals began, three searches answer before they end.
    while (!done && f.store->indexedCount() > 200001)
        std::this_thread::yield();
    int answeredMeanwhile = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.store->search(query, 10).size(), 1u);
        answeredMeanwhile += !done;
    }
    reconciling.join();
    EXPECT_EQ(answeredMeanwhile, 3) << "the store was held for the whole reconciliation";
    EXPECT_EQ(f.store->indexedCount(), 2);
}

} // namespace
} // namespace pallix
