#include "Core/Indexer/LiveChanges.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>

#include <gtest/gtest.h>

#include "Core/IndexDB/IndexStore.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;
using test::TempTree;

// A tree indexed by a walk, with a scanner that notes every folder it lists.
struct LiveFixture {
    TempTree tree;
    fs::path dbFolder = fs::path(tree.root()).parent_path() / (fs::path(tree.root()).filename().string() + "-db");
    std::unique_ptr<IndexStore> store;
    std::mutex mutex;
    std::vector<std::string> listed;
    FileScanner scanner{FileScanner::Options{0, [this](const std::string& path) {
                                                 std::lock_guard lock(mutex);
                                                 listed.push_back(path);
                                                 return 0;
                                             }}};
    LiveScope scope{{tree.root()}, {}, false};

    LiveFixture()
    {
        for (int i = 0; i < 5; ++i)
            tree.file("a/a" + std::to_string(i) + ".txt");
        tree.file("b/b1.txt");
        tree.file("c/sub/deep/x.txt");
        // Folder times in the past: a change in the tick of the tree's making
        // would leave its folder's time as it was.
        const timespec old[2] = {{1'700'000'000, 0}, {1'700'000'000, 0}};
        for (const auto& entry : fs::recursive_directory_iterator(tree.root()))
            if (entry.is_directory())
                ::utimensat(AT_FDCWD, entry.path().c_str(), old, 0);
        ::utimensat(AT_FDCWD, tree.root().c_str(), old, 0);
        store = std::make_unique<IndexStore>(dbFolder / "index.sqlite");
        EXPECT_TRUE(store->bootstrap());
        store->waitForSearchCacheReady();
        EXPECT_TRUE(store->upsert(scanner.scan({tree.root()}, {}, false).items));
        listed.clear();
    }
    ~LiveFixture()
    {
        store.reset();
        fs::remove_all(dbFolder);
    }
    std::set<std::string> indexed()
    {
        std::set<std::string> out;
        for (std::string after;;) {
            const std::vector<std::string> page = store->pathsBelow(tree.root(), after, 1000);
            if (page.empty())
                return out;
            after = page.back();
            out.insert(page.begin(), page.end());
        }
    }
    std::set<std::string> onDisk()
    {
        std::set<std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(tree.root()))
            out.insert(entry.path().string());
        return out;
    }
    long timesListed(const std::string& relative)
    {
        std::lock_guard lock(mutex);
        return std::count(listed.begin(), listed.end(), tree.path(relative));
    }
};

// Behind, the changed paths are not looked at one by one: the folders that
// hold them are listed once each, and a folder met for the first time is
// walked; creations, removals and renames all come out exactly as on disk.
TEST(LiveChanges, TheBacklogRoadListsEachFolderOnceAndEndsAsTheDisk)
{
    LiveFixture f;
    std::vector<std::string> reported;
    for (int i = 0; i < 3; ++i)
        reported.push_back(f.tree.file("a/new" + std::to_string(i) + ".txt"));
    fs::remove(f.tree.path("a/a0.txt"));
    fs::rename(f.tree.path("a/a1.txt"), f.tree.path("a/renamed.txt"));
    fs::remove_all(f.tree.path("b"));
    f.tree.file("n/inner/y.txt");
    for (const char* path : {"a/a0.txt", "a/a1.txt", "a/renamed.txt", "b/b1.txt", "b", "n", "n/inner", "n/inner/y.txt"})
        reported.push_back(f.tree.path(path));

    const LiveOutcome outcome = LiveChanges::relist(*f.store, f.scanner, reported, f.scope);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(f.indexed(), f.onDisk());
    EXPECT_EQ(f.timesListed("a"), 1);
    EXPECT_EQ(f.timesListed("c/sub"), 0);
    EXPECT_EQ(f.timesListed("n/inner"), 1);  // walked as new, not listed again for its own report
}

// A root reported alone means its events were lost: the folders whose times
// changed are listed, the others are passed by.
TEST(LiveChanges, ARootReportedAloneIsBroughtInLineByItsFoldersTimes)
{
    LiveFixture f;
    f.tree.file("c/sub/deep/new.txt");
    fs::remove(f.tree.path("c/sub/deep/x.txt"));
    f.tree.file("c/sub/deep/fresh/z.txt");

    const LiveOutcome outcome = LiveChanges::apply(*f.store, f.scanner, {f.tree.root()}, f.scope);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(f.indexed(), f.onDisk());
    EXPECT_EQ(f.timesListed("c/sub/deep"), 1);
    EXPECT_EQ(f.timesListed("a"), 0);
    EXPECT_EQ(f.timesListed("c/sub"), 0);
}

// A burst in two folders with two quiet changes among it: the quiet ones go
// first on their own, then the burst in bounded slices, a folder's paths
// together, and nothing is lost.
TEST(LiveChanges, ABatchIsWrittenInSlicesTheQuietFoldersFirst)
{
    const std::vector<std::string> roots{"/r"};
    std::vector<std::string> paths;
    for (int i = 0; i < 3000; ++i) {
        paths.push_back("/r/big2/f" + std::to_string(i));
        if (i < 1500)
            paths.push_back("/r/big1/f" + std::to_string(i));
        if (i == 700)
            paths.insert(paths.end(), {"/r/y/b.txt", "/r/x/a.txt"});
    }
    const std::vector<std::vector<std::string>> slices = LiveChanges::slices(paths, roots);
    ASSERT_GE(slices.size(), 2u);
    EXPECT_EQ(slices.front(), (std::vector<std::string>{"/r/x/a.txt", "/r/y/b.txt"}));
    std::vector<std::size_t> sizes;
    std::set<std::string> written;
    for (const std::vector<std::string>& slice : slices) {
        sizes.push_back(slice.size());
        written.insert(slice.begin(), slice.end());
    }
    EXPECT_TRUE(std::all_of(slices[1].begin(), slices[1].end(),
                            [](const std::string& p) { return p.starts_with("/r/big1/"); }));
    EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 1500, 2000, 1000}));
    EXPECT_EQ(written, std::set<std::string>(paths.begin(), paths.end()));
}

} // namespace
} // namespace pallix
