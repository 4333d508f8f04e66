#include "Core/IndexDB/IndexStore.h"

#include <fstream>
#include <future>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using test::fileItem;
using test::folderItem;
using test::InstallGate;
using test::pathsOf;
using test::TempDir;
using test::wordsQuery;

// A store searching its database: the cache is held back before its install.
template <class ClockType>
struct DatabaseRoute {
    TempDir dir;
    std::shared_ptr<ClockType> clock = std::make_shared<ClockType>();
    InstallGate gate;
    std::unique_ptr<test::ProbedStore> store;

    explicit DatabaseRoute(const std::vector<IndexedItem>& items)
    {
        test::seedDatabase(dir / "index.sqlite", items);
        store = std::make_unique<test::ProbedStore>(dir / "index.sqlite", clock);
        store->probe().setBeforeCacheInstallHook(gate.hook());
        EXPECT_TRUE(store->bootstrap());
    }
    ~DatabaseRoute()
    {
        gate.open();
        store.reset();
    }
};

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

TEST(SqlSearch, DatabaseRouteFindsWhatTheMemoryRoutesFind)
{
    DatabaseRoute<FakeClock> db({fileItem("/d/École.pdf"), fileItem("/d/report.txt"), fileItem("/d/reports.doc"),
                                 fileItem("/d/IMG_0001.jpg"), fileItem("/d/IMGX0002.jpg"), fileItem("/d/a.png"),
                                 folderItem("/d/Photos")});
    ASSERT_FALSE(db.store->status().cacheReady);

    // Unicode letter case on the database too.
    EXPECT_EQ(pathsOf(db.store->search(wordsQuery({"école"}), 10)), std::vector<std::string>{"/d/École.pdf"});
    EXPECT_EQ(pathsOf(db.store->search(wordsQuery({"ÉCOLE"}), 10)), std::vector<std::string>{"/d/École.pdf"});

    // A regular expression is matched as one, not looked up as LIKE text.
    SearchQuery re = wordsQuery({"^rep.*t$"});
    re.useRegularExpression = true;
    EXPECT_EQ(pathsOf(db.store->search(re, 10)), std::vector<std::string>{"/d/report.txt"});

    // A wildcard pattern alone is a search, with "_" taken literally.
    SearchQuery wild = wordsQuery({});
    wild.rawText = "IMG_*.jpg";
    wild.wildcardPattern = "IMG_*.jpg";
    EXPECT_EQ(pathsOf(db.store->search(wild, 10)), std::vector<std::string>{"/d/IMG_0001.jpg"});

    // Content filters alone read rows without word clauses; {all} alone is no search.
    SearchQuery images = wordsQuery({});
    images.rawText = "";
    images.contentFilters = {SearchContentFilter::Images};
    EXPECT_EQ(sorted(pathsOf(db.store->search(images, 10))),
              (std::vector<std::string>{"/d/IMGX0002.jpg", "/d/IMG_0001.jpg", "/d/a.png"}));
    SearchQuery nothing = wordsQuery({});
    nothing.rawText = "x";  // a search intent, but no word, filter or pattern
    EXPECT_TRUE(db.store->search(nothing, 10).empty());

    // Filters become clauses.
    SearchQuery typed = wordsQuery({"p"});
    typed.typeFilter = IndexedItem::ItemType::Folder;
    EXPECT_EQ(pathsOf(db.store->search(typed, 10)), std::vector<std::string>{"/d/Photos"});
}

// Lines of /proc/self/maps that map `file` itself (not its -wal or -shm).
int mapsOf(const std::filesystem::path& file)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    int found = 0;
    while (std::getline(maps, line))
        found += line.ends_with(" " + file.string());
    return found;
}

TEST(SqlSearch, TheStoreKeepsNoMapOfItsFile)
{
    // A map's pages stay in the process for as long as the map does: one the
    // store kept would hold every page it ever read.
    std::vector<IndexedItem> items;
    for (int i = 0; i < 3000; ++i)
        items.push_back(fileItem("/d/f" + std::to_string(i) + "/report " + std::to_string(i) + ".txt"));
    TempDir dir;
    const std::filesystem::path file = dir / "index.sqlite";
    test::seedDatabase(file, items);
    test::ProbedStore store(file, std::make_shared<FakeClock>());
    // Held where the snapshot's read has ended, before its install (the gate
    // opens as the test ends, before the store goes).
    InstallGate gate;
    auto loaded = std::make_shared<std::promise<void>>();
    std::future<void> readEnded = loaded->get_future();
    store.probe().setBeforeCacheInstallHook([loaded, wait = gate.hook()] {
        loaded->set_value();
        wait();
    });
    ASSERT_TRUE(store.bootstrap());
    readEnded.wait();
    EXPECT_EQ(mapsOf(file), 0) << "after the open's damage check";

    SearchQuery re = wordsQuery({"^report 29..\\.txt$"});
    re.useRegularExpression = true;
    EXPECT_EQ(store.search(re, 1000).size(), 100u);
    EXPECT_EQ(store.typingFastDatabaseSearch(wordsQuery({"report"}), 10).size(), 10u);
    EXPECT_EQ(mapsOf(file), 0) << "after the searches";

    ASSERT_TRUE(store.upsert({fileItem("/d/new report.txt")}));
    EXPECT_EQ(mapsOf(file), 0) << "after a write";
}

TEST(SqlSearch, BusyDatabaseRetriesByQueryKind)
{
    DatabaseRoute<test::InstantClock> db({fileItem("/b/ab.txt"), fileItem("/b/abcdef.txt")});
    const SearchQuery shortWord = wordsQuery({"ab"});
    const SearchQuery longWord = wordsQuery({"abcdef"});

    // A plain word of four or more characters: one attempt, no wait.
    int runs = db.store->probe().readRuns();
    db.store->probe().injectTransientReadFailures(1000, SQLITE_BUSY);
    EXPECT_TRUE(db.store->search(longWord, 10).empty());
    EXPECT_EQ(db.store->probe().readRuns() - runs, 1);
    EXPECT_TRUE(db.clock->sleeps().empty());
    EXPECT_EQ(db.store->probe().transientSearchFailureStreak(), 1);

    // Any other query: three attempts 12, 24 and 36 ms apart, four failures
    // recorded in all, which reopens the connection.
    db.clock->advance(2s);  // a fresh run of failures
    runs = db.store->probe().readRuns();
    EXPECT_TRUE(db.store->search(shortWord, 10).empty());
    EXPECT_EQ(db.store->probe().readRuns() - runs, 3);
    EXPECT_EQ(db.clock->sleeps(), (std::vector<std::chrono::milliseconds>{12ms, 24ms, 36ms}));
    EXPECT_EQ(db.store->probe().reopenCount(), 1);
    EXPECT_EQ(db.store->probe().transientSearchFailureStreak(), 0);

    // Free on the second attempt: that attempt's ranking.
    db.clock->clearSleeps();
    db.clock->advance(2s);
    db.store->probe().injectTransientReadFailures(1, SQLITE_LOCKED);
    EXPECT_EQ(pathsOf(db.store->search(shortWord, 10)), (std::vector<std::string>{"/b/ab.txt", "/b/abcdef.txt"}));
    EXPECT_EQ(db.clock->sleeps(), std::vector<std::chrono::milliseconds>{12ms});
}

TEST(SqlSearch, FailedReopenLeavesTheStoreWithoutConnectionNotCrashed)
{
    DatabaseRoute<test::InstantClock> db({fileItem("/b/ab.txt")});
    db.store->probe().setReopenFails(true);
    db.store->probe().injectTransientReadFailures(1000, SQLITE_BUSY);
    // Three quick failures, then a search whose first failure reopens (and fails to).
    for (int i = 0; i < 3; ++i)
        db.store->search(wordsQuery({"abcd"}), 10);
    const int runs = db.store->probe().readRuns();
    EXPECT_TRUE(db.store->search(wordsQuery({"ab"}), 10).empty());
    EXPECT_EQ(db.store->probe().reopenCount(), 1);
    EXPECT_EQ(db.store->probe().readRuns() - runs, 1) << "no prepare on the missing connection";

    db.store->probe().injectTransientReadFailures(0, SQLITE_BUSY);
    EXPECT_TRUE(db.store->search(wordsQuery({"ab"}), 10).empty());
    EXPECT_TRUE(db.store->typingFastDatabaseSearch(wordsQuery({"ab"}), 10).empty());
    EXPECT_TRUE(db.store->imagePathsFromDatabase(10, "").empty());
    EXPECT_FALSE(db.store->hasIndexedItems({"/b"}));
    StoreResult<void> write = db.store->upsert({fileItem("/b/new.txt")});
    ASSERT_FALSE(write);
    EXPECT_EQ(write.error().description(), "执行 SQLite 命令失败：" + (db.dir / "index.sqlite").string() + "（未知 SQLite 错误）");
}

} // namespace
} // namespace pallix
