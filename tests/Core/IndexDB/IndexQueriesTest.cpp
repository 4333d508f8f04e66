#include "Core/IndexDB/IndexStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::folderItem;
using test::pathsOf;
using test::TempDir;

struct QueriesFixture {
    TempDir dir;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::unique_ptr<test::ProbedStore> store;

    QueriesFixture()
    {
        test::seedDatabase(dir / "index.sqlite",
                           {folderItem("/p"), fileItem("/p/b.JPG"), fileItem("/p/a.png"), fileItem("/p/c.pdf"),
                            folderItem("/p/Trips 2024"), folderItem("/p/x.png"), fileItem("/p/Trips 2024/d.heic"),
                            folderItem("/q/trip notes"), folderItem("/q/École d'été"), folderItem("/a/b"),
                            fileItem("/a/b/c.txt"), fileItem("/a/myAx/f.txt")});
        store = std::make_unique<test::ProbedStore>(dir / "index.sqlite", clock);
        test::bootstrapToComplete(*store, *clock);
    }
};

TEST(IndexQueries, ImagePathsPageThroughImageFilesInPathOrder)
{
    QueriesFixture f;
    // b.JPG has the extension "jpg"; the folder x.png is no image file.
    EXPECT_EQ(f.store->imagePathsFromDatabase(10, ""),
              (std::vector<std::string>{"/p/Trips 2024/d.heic", "/p/a.png", "/p/b.JPG"}));
    EXPECT_EQ(f.store->imagePathsFromDatabase(1, ""), (std::vector<std::string>{"/p/Trips 2024/d.heic"}));
    // After a path, listed or not.
    EXPECT_EQ(f.store->imagePathsFromDatabase(2, "/p/Trips 2024/d.heic"),
              (std::vector<std::string>{"/p/a.png", "/p/b.JPG"}));
    EXPECT_EQ(f.store->imagePathsFromDatabase(10, "/p/a"), (std::vector<std::string>{"/p/a.png", "/p/b.JPG"}));
    EXPECT_TRUE(f.store->imagePathsFromDatabase(10, "/p/b.JPG").empty());
    EXPECT_TRUE(f.store->imagePathsFromDatabase(0, "").empty());
}

TEST(IndexQueries, FoldersWhoseNamesHoldEveryWord)
{
    QueriesFixture f;
    EXPECT_EQ(f.store->folderPathsMatchingNameTokens({"TRIP"}, false, 10),
              (std::vector<std::string>{"/p/Trips 2024", "/q/trip notes"}));
    EXPECT_EQ(f.store->folderPathsMatchingNameTokens({" trip ", "2024"}, false, 10),
              std::vector<std::string>{"/p/Trips 2024"});
    EXPECT_EQ(f.store->folderPathsMatchingNameTokens({"ÉCOLE"}, false, 10), std::vector<std::string>{"/q/École d'été"});
    EXPECT_EQ(f.store->folderPathsMatchingNameTokens({"trip"}, false, 1), std::vector<std::string>{"/p/Trips 2024"});
    EXPECT_TRUE(f.store->folderPathsMatchingNameTokens({" ", ""}, false, 10).empty());
    EXPECT_TRUE(f.store->folderPathsMatchingNameTokens({"trip"}, false, 0).empty());
    EXPECT_TRUE(f.store->folderPathsMatchingNameTokens({"c.pdf"}, false, 10).empty()) << "files are no answer";
}

// The folder-name question is answered from the cache once it is installed
// and from the file before: both give the same folders, words found as typed.
TEST(IndexQueries, FolderNamesFromTheCacheAnswerAsTheFileDoes)
{
    TempDir dir;
    const std::filesystem::path db = dir / "index.sqlite";
    test::seedDatabase(db, {folderItem("/p/Trips 2024"), folderItem("/p/trip notes"), folderItem("/q/École d'été"),
                            folderItem("/a/my_x"), folderItem("/a/myAx"), folderItem("/a/100% done"),
                            folderItem("/a/100 done"), fileItem("/p/trip.png")});
    test::ProbedStore store(db, std::make_shared<FakeClock>());
    test::InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());
    struct Case {
        std::vector<std::string> words;
        bool caseSensitive;
        int limit;
        std::vector<std::string> expected;
    } cases[] = {
        {{"TRIP"}, false, 10, {"/p/Trips 2024", "/p/trip notes"}},
        {{"trip"}, false, 1, {"/p/Trips 2024"}},
        {{"trip"}, true, 10, {"/p/trip notes"}},
        {{"Trip", " 2024 "}, true, 10, {"/p/Trips 2024"}},
        {{"ÉCOLE", "été"}, false, 10, {"/q/École d'été"}},
        {{"École"}, true, 10, {"/q/École d'été"}},
        {{"my_x"}, false, 10, {"/a/my_x"}},
        {{"0% "}, false, 10, {"/a/100% done"}},
        {{"trip.png"}, false, 10, {}},
    };
    std::vector<std::vector<std::string>> fromFile;
    for (const Case& c : cases)
        fromFile.push_back(store.folderPathsMatchingNameTokens(c.words, c.caseSensitive, c.limit));
    ASSERT_FALSE(store.status().cacheReady);
    gate.open();
    ASSERT_TRUE(test::eventually([&] { return store.status().cacheReady; }));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(fromFile[i], cases[i].expected) << "file, case " << i;
        EXPECT_EQ(store.folderPathsMatchingNameTokens(cases[i].words, cases[i].caseSensitive, cases[i].limit),
                  cases[i].expected)
            << "cache, case " << i;
    }

    // A row written behind the store's back is not in its cache: the answer
    // comes from memory.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw,
                           "INSERT INTO file_index (path, name, parent_path, extension, size, modified_at, "
                           "is_directory) VALUES ('/z/trip late', 'trip late', '/z', '', 0, 0, 1);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_EQ(store.folderPathsMatchingNameTokens({"trip"}, false, 10),
              (std::vector<std::string>{"/p/Trips 2024", "/p/trip notes"}));
}

TEST(IndexQueries, RelatedItemsAreSubfoldersAndImagesDirectlyInside)
{
    QueriesFixture f;
    std::vector<std::string> related = pathsOf(f.store->relatedItemsInFolder("/p", 10));
    std::sort(related.begin(), related.end());
    EXPECT_EQ(related, (std::vector<std::string>{"/p/Trips 2024", "/p/a.png", "/p/b.JPG", "/p/x.png"}));
    EXPECT_EQ(f.store->relatedItemsInFolder("/p", 3).size(), 3u);
    EXPECT_TRUE(f.store->relatedItemsInFolder("/p", 0).empty());
    EXPECT_TRUE(f.store->relatedItemsInFolder("/p/", 10).empty()) << "the folder path is taken as given";
}

TEST(IndexQueries, RootsNeedRowsAtOrBelowThemExactly)
{
    QueriesFixture f;
    struct Case {
        std::vector<std::string> roots;
        bool expected;
    } cases[] = {
        {{}, false},
        {{"/p"}, true},
        {{"/p", "/nowhere"}, false},
        {{"/"}, true},
        {{"/p/Trips 2024/../x.png"}, true},
        {{"/a/B"}, false},      // no case folding: /a/b's rows are not /a/B's
        {{"/a/myAx/"}, true},
        {{"/a/my_x"}, false},   // "_" is no wildcard: /a/myAx's rows are not /a/my_x's
        {{"/a/my"}, false},     // a name prefix is no folder
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.roots.empty() ? "no roots" : c.roots.front());
        EXPECT_EQ(f.store->hasIndexedItems(c.roots), c.expected);
    }
    TempDir empty;
    IndexStore none(empty / "index.sqlite", f.clock);
    ASSERT_TRUE(none.bootstrap());
    EXPECT_FALSE(none.hasIndexedItems({"/"}));
}

TEST(IndexQueries, RootsContainPathsAtOrBelowThem)
{
    struct Case {
        std::string path;
        std::vector<std::string> roots;
        bool expected;
    } cases[] = {
        {"/Users/a/photo", {"/Users/a/photo"}, true},
        {"/Users/a/photo/x.jpg", {"/other", "/Users/a/photo/"}, true},
        {"/Users/a/photos/x.jpg", {"/Users/a/photo"}, false},
        {"/Users/a/photo/../photos/x.jpg", {"/Users/a/photo"}, false},
        {"/anything/at/all", {"/"}, true},
        {"/", {"/"}, true},
        {"/x", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(indexedRootsContain(c.path, c.roots), c.expected);
    }
}

} // namespace
} // namespace pallix
