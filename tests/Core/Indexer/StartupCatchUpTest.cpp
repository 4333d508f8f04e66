#include "Core/Indexer/StartupCatchUp.h"

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Core/IndexDB/IndexStore.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;
using test::TempTree;

// Folder times set an hour back, so that a change made in the same clock
// tick as the tree is still a new time.
void ageFolders(const std::string& root)
{
    const struct timespec old[2] = {{1'700'000'000, 0}, {1'700'000'000, 0}};
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_directory() && !entry.is_symlink())
            ::utimensat(AT_FDCWD, entry.path().c_str(), old, AT_SYMLINK_NOFOLLOW);
    ::utimensat(AT_FDCWD, root.c_str(), old, 0);
}

struct CatchUpFixture {
    TempTree tree;
    fs::path dbFolder = fs::path(tree.root()).parent_path() / (fs::path(tree.root()).filename().string() + "-db");
    std::unique_ptr<IndexStore> store;
    FileScanner scanner{FileScanner::Options{0, {}}};

    CatchUpFixture()
    {
        store = std::make_unique<IndexStore>(dbFolder / "index.sqlite", std::make_shared<FakeClock>());
        EXPECT_TRUE(store->bootstrap());
        store->waitForSearchCacheReady();
    }
    ~CatchUpFixture()
    {
        store.reset();
        fs::remove_all(dbFolder);
    }
    void indexWhole()
    {
        ageFolders(tree.root());
        ASSERT_TRUE(store->applyFullRescan({tree.root()}, scanner.scan({tree.root()}, {}, false).items));
    }
    int told = 0;  // calls of the "changes found" callback
    CatchUpOutcome catchUp()
    {
        return StartupCatchUp::run(*store, scanner, {tree.root()}, {}, false, nullptr, [this] { ++told; });
    }
    std::set<std::string> indexedPaths()
    {
        std::set<std::string> out;
        for (std::string after;;) {
            auto page = store->pathsBelow(tree.root(), after, 500);
            if (page.empty())
                break;
            after = page.back();
            out.insert(page.begin(), page.end());
        }
        return out;
    }
    std::set<std::string> diskPaths()
    {
        std::set<std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(tree.root()))
            out.insert(entry.path().string());
        return out;
    }
};

// Every kind of change made while nothing watched is found, and only the
// changed folders are listed; a second run finds nothing left to do.
TEST(StartupCatchUp, FindsEveryChangeByFolderTimesAndListsOnlyChangedFolders)
{
    CatchUpFixture f;
    for (int i = 0; i < 40; ++i)
        f.tree.file("still/s" + std::to_string(i) + ".txt");
    f.tree.file("docs/a.txt");
    f.tree.file("docs/b.txt");
    f.tree.file("docs/deep/c.txt");
    f.tree.file("old/sub/x.txt");
    f.tree.file("renamed/r.txt");
    f.tree.file("turns/into-folder");
    f.indexWhole();
    ASSERT_EQ(f.indexedPaths(), f.diskPaths());

    f.tree.file("docs/new.txt");                          // created
    fs::remove(f.tree.path("docs/b.txt"));                // deleted
    fs::rename(f.tree.path("docs/deep/c.txt"), f.tree.path("docs/deep/c2.txt"));  // renamed in place
    fs::remove_all(f.tree.path("old"));                   // a subtree gone
    fs::rename(f.tree.path("renamed"), f.tree.path("moved"));  // a folder renamed
    f.tree.file("fresh/inner/most/n.txt");                // a new subtree
    fs::remove(f.tree.path("turns/into-folder"));
    f.tree.file("turns/into-folder/inside.txt");          // a file become a folder

    const CatchUpOutcome outcome = f.catchUp();
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(f.indexedPaths(), f.diskPaths());
    EXPECT_TRUE(outcome.changedAnything());
    // root, docs, docs/deep, turns: listed; old, renamed: gone; still: untouched.
    EXPECT_EQ(outcome.foldersListed, 4u);
    EXPECT_EQ(outcome.foldersGone, 2u);
    EXPECT_EQ(outcome.foldersNew, 3u);  // moved, fresh, turns/into-folder
    EXPECT_EQ(f.told, 1);

    const CatchUpOutcome again = f.catchUp();
    EXPECT_FALSE(again.changedAnything());
    EXPECT_EQ(f.told, 1);  // nothing to say the second time
    std::size_t folders = 1;  // the root
    for (const std::string& path : f.diskPaths())
        folders += fs::is_directory(path) ? 1 : 0;
    EXPECT_EQ(again.foldersChecked, folders);
}

// A root that is not there (a disk not mounted) keeps its rows; so does a
// folder that cannot be looked at.
TEST(StartupCatchUp, AnAbsentRootKeepsItsRows)
{
    CatchUpFixture f;
    f.tree.file("disk/a.txt");
    f.indexWhole();
    const std::string disk = f.tree.path("disk");
    ASSERT_TRUE(f.store->applyFullRescan({disk}, f.scanner.scan({disk}, {}, false).items));
    fs::rename(disk, f.tree.path("elsewhere"));
    const CatchUpOutcome outcome = StartupCatchUp::run(*f.store, f.scanner, {disk}, {}, false);
    EXPECT_FALSE(outcome.changedAnything());
    EXPECT_FALSE(f.store->items({disk + "/a.txt"}, 1).empty());
}

// A mount point whose disk is absent is an empty folder on the disk above
// it: what the index holds there is unavailable now, not gone.
TEST(StartupCatchUp, AnEmptyMountPointKeepsItsDisksRows)
{
    CatchUpFixture f;
    const std::string disk = f.tree.dir("disk");
    f.tree.file("disk/a.txt");
    f.tree.file("disk/sub/b.txt");
    ageFolders(disk);
    ASSERT_TRUE(f.store->applyFullRescan({disk}, f.scanner.scan({disk}, {}, false).items));
    fs::rename(disk, f.tree.path("away"));
    fs::create_directory(disk);

    EXPECT_FALSE(StartupCatchUp::run(*f.store, f.scanner, {disk}, {}, false).changedAnything());
    EXPECT_FALSE(f.store->items({disk + "/sub/b.txt"}, 1).empty());

    // The disk back, changed meanwhile: caught up with as usual.
    fs::remove(disk);
    fs::rename(f.tree.path("away"), disk);
    fs::remove_all(disk + "/sub");
    EXPECT_TRUE(StartupCatchUp::run(*f.store, f.scanner, {disk}, {}, false).changedAnything());
    EXPECT_TRUE(f.store->items({disk + "/sub/b.txt"}, 1).empty());
    EXPECT_FALSE(f.store->items({disk + "/a.txt"}, 1).empty());
}

// Rows below a folder without a row of its own, as a walk that met a folder
// deleted and made again left them: they go, and where the folder stands it
// is indexed anew. Below a folder the junk rule leaves out they are right.
TEST(StartupCatchUp, RowsBelowAFolderWithoutItsOwnRowAreMadeRight)
{
    CatchUpFixture f;
    f.tree.file("keep/a.txt");
    f.tree.file("._resource/inside.txt");
    f.tree.file("back/y.txt");
    f.tree.file("back/z.txt");
    ageFolders(f.tree.root());
    ASSERT_TRUE(f.store->applyFullRescan({f.tree.root()}, f.scanner.scan({f.tree.root()}, {}, true).items));
    ASSERT_TRUE(f.store->removePathPrefixes({f.tree.path("back")}));
    FileMetadata file;
    file.isDirectory = false;
    file.fileSize = 1;
    std::vector<IndexedItem> ghosts;
    for (const char* ghost : {"back/y.txt", "back/old.txt", "gone/x.txt", "gone/deeper/w.txt"})
        ghosts.push_back(*IndexedItem::from(f.tree.path(ghost), file));
    ASSERT_TRUE(f.store->upsert(ghosts));

    const CatchUpOutcome outcome = StartupCatchUp::run(*f.store, f.scanner, {f.tree.root()}, {}, true);
    EXPECT_FALSE(outcome.error);
    std::set<std::string> expected = f.diskPaths();
    expected.erase(f.tree.path("._resource"));
    EXPECT_EQ(f.indexedPaths(), expected);
    EXPECT_EQ(outcome.foldersNew, 1u);  // back
    EXPECT_FALSE(StartupCatchUp::run(*f.store, f.scanner, {f.tree.root()}, {}, true).changedAnything());
}

// A folder without a row of its own that still stands, as a burst written
// ahead of an interrupted first walk leaves one: while it is walked again,
// what the index held below it stays searchable, and the end is the disk.
TEST(StartupCatchUp, RowsBelowAStandingFolderWithoutItsOwnRowStaySearchableWhileItIsWalkedAgain)
{
    CatchUpFixture f;
    for (int i = 0; i < 40; ++i)
        f.tree.file("burst/d" + std::to_string(i / 10) + "/f" + std::to_string(i) + ".txt");
    f.tree.file("burst/top.txt");
    f.tree.file("other/o.txt");
    f.indexWhole();
    std::vector<IndexedItem> held = f.scanner.scan({f.tree.path("burst")}, {}, false).items;
    held.erase(held.begin());  // the folder's own row
    ASSERT_TRUE(f.store->removePathPrefixes({f.tree.path("burst")}));
    ASSERT_TRUE(f.store->upsert(held));
    std::vector<std::string> heldPaths;
    for (const IndexedItem& item : held)
        heldPaths.emplace_back(item.path());
    // Changes only the walk sees: the folder has no stored time to compare.
    fs::remove(f.tree.path("burst/top.txt"));
    f.tree.file("burst/late.txt");

    // The walk of the folder waits in its listing until the test lets it go on.
    std::mutex mutex;
    std::condition_variable cv;
    bool arrived = false;
    bool open = false;
    FileScanner heldScanner{FileScanner::Options{0, [&](const std::string& path) {
        if (path == f.tree.path("burst")) {
            std::unique_lock lock(mutex);
            arrived = true;
            cv.notify_all();
            cv.wait(lock, [&] { return open; });
        }
        return 0;
    }}};
    CatchUpOutcome outcome;
    std::thread catchUp([&] {
        outcome = StartupCatchUp::run(*f.store, heldScanner, {f.tree.root()}, {}, false);
    });
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return arrived; });
    }
    // The cache answers for every row the walk has not replaced yet, and so does the file.
    const std::vector<IndexedItem> searchable = f.store->items(heldPaths, int(heldPaths.size()) + 1);
    const std::set<std::string> stored = f.indexedPaths();
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    cv.notify_all();
    catchUp.join();

    EXPECT_EQ(searchable.size(), held.size());
    for (const std::string& path : heldPaths)
        EXPECT_TRUE(stored.contains(path)) << path;
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(f.indexedPaths(), f.diskPaths());
}

} // namespace
} // namespace pallix
