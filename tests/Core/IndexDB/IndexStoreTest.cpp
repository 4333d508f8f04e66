#include "Core/IndexDB/IndexStore.h"

#include <fstream>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::fileItem;
using test::InstallGate;
using test::folderItem;
using test::TempDir;

std::vector<std::string> column(const std::filesystem::path& db, const std::string& sql, int col = 0)
{
    sqlite::Connection c;
    EXPECT_EQ(c.open(db.string(), sqlite::Connection::Mode::ReadOnly), SQLITE_OK);
    sqlite::Statement s;
    EXPECT_EQ(s.prepare(c, sql), SQLITE_OK) << c.errorMessage();
    std::vector<std::string> out;
    while (s.step() == SQLITE_ROW)
        out.emplace_back(s.columnText(col));
    return out;
}

void rawExec(const std::filesystem::path& db, const std::string& sql)
{
    sqlite::Connection c;
    ASSERT_EQ(c.open(db.string(), sqlite::Connection::Mode::ReadWriteCreate), SQLITE_OK);
    ASSERT_EQ(c.exec(sql.c_str()), SQLITE_OK) << c.errorMessage();
}

TEST(IndexStore, BootstrapCreatesSchemaAndConnectionOptions)
{
    TempDir dir;
    const auto db = dir / "nested/deeper/index.sqlite";
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(db, clock);
    ASSERT_TRUE(store.bootstrap());
    EXPECT_TRUE(std::filesystem::exists(db));
    EXPECT_EQ(store.indexedCount(), 0);

    EXPECT_EQ(store.probe().pragmaValue("journal_mode"), "wal");
    EXPECT_EQ(store.probe().pragmaValue("synchronous"), "1");  // NORMAL
    EXPECT_EQ(store.probe().pragmaValue("temp_store"), "2");   // MEMORY
    EXPECT_EQ(store.probe().pragmaValue("cache_size"), "-16000");
    EXPECT_EQ(store.probe().pragmaValue("mmap_size"), "0");
    EXPECT_EQ(store.probe().pragmaValue("busy_timeout"), "3000");

    EXPECT_EQ(column(db, "PRAGMA table_info(file_index);", 1),
              (std::vector<std::string>{"path", "name", "parent_path", "extension", "size", "modified_at",
                                        "is_directory", "content_text", "lower_name"}));
    EXPECT_EQ(column(db, "PRAGMA table_info(file_index);", 2),
              (std::vector<std::string>{"TEXT", "TEXT", "TEXT", "TEXT", "INTEGER", "REAL", "INTEGER", "TEXT", "TEXT"}));
    EXPECT_EQ(column(db, "PRAGMA table_info(file_index);", 3),
              (std::vector<std::string>{"0", "1", "1", "1", "1", "1", "1", "1", "0"}));
    EXPECT_EQ(column(db, "PRAGMA table_info(file_index);", 5),
              (std::vector<std::string>{"1", "0", "0", "0", "0", "0", "0", "0", "0"}));
    EXPECT_EQ(column(db, "PRAGMA table_info(file_index);", 4)[7], "''");
    EXPECT_EQ(column(db, "SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL ORDER BY rowid;"),
              (std::vector<std::string>{"idx_file_index_name", "idx_file_index_parent_path", "idx_file_index_extension",
                                        "idx_file_index_modified_at", "idx_file_index_size",
                                        "idx_file_index_lower_name"}));
    EXPECT_EQ(column(db, "SELECT sql FROM sqlite_master WHERE name = 'idx_file_index_size';"),
              std::vector<std::string>{"CREATE INDEX idx_file_index_size ON file_index(size)"});
    EXPECT_TRUE(eventually([&] { return store.status().cacheReady && store.status().searchIndexesComplete; }));
}

TEST(IndexStore, OldTableGainsContentAndLowerCasedNameColumnsOnce)
{
    TempDir dir;
    const auto db = dir / "index.sqlite";
    rawExec(db, "CREATE TABLE file_index (path TEXT PRIMARY KEY, name TEXT NOT NULL, parent_path TEXT NOT NULL, "
                "extension TEXT NOT NULL, size INTEGER NOT NULL, modified_at REAL NOT NULL, is_directory INTEGER "
                "NOT NULL);"
                "INSERT INTO file_index VALUES ('/a/old.txt', 'old.txt', '/a', 'txt', 1, 2.0, 0);");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        IndexStore store(db, std::make_shared<FakeClock>());
        ASSERT_TRUE(store.bootstrap());
        EXPECT_EQ(store.indexedCount(), 1);
        EXPECT_EQ(column(db, "PRAGMA table_info(file_index);", 1).size(), 9u);
        EXPECT_EQ(column(db, "SELECT content_text FROM file_index;"), std::vector<std::string>{""});
    }
}

TEST(IndexStore, BothIndexFilesOpenCountAndReadBack)
{
    TempDir dir;
    for (const char* file : {"index.sqlite", "server_index.sqlite"}) {
        SCOPED_TRACE(file);
        const auto db = dir / file;
        const std::vector<IndexedItem> items{fileItem("/home/u/Report 2024.PDF", 4096, 1'650'000'000.25),
                                             folderItem("/home/u/Projects"), fileItem("/home/u/项目计划书.docx")};
        test::seedDatabase(db, items);

        auto clock = std::make_shared<FakeClock>();
        test::ProbedStore store(db, clock);
        InstallGate gate;
        store.probe().setBeforeCacheInstallHook(gate.hook());
        ASSERT_TRUE(store.bootstrap());
        EXPECT_EQ(store.indexedCount(), 3);  // the bootstrap's count while the cache loads
        EXPECT_FALSE(store.status().cacheReady);
        EXPECT_TRUE(store.items({std::string(items[0].path())}, 10).empty()) << "the cache answers only once loaded";
        gate.open();
        ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
        EXPECT_EQ(store.indexedCount(), 3);
        std::vector<IndexedItem> back = store.items({std::string(items[2].path()), "/nowhere", std::string(items[0].path()), std::string(items[1].path())}, 2);
        ASSERT_EQ(back.size(), 2u);
        EXPECT_EQ(back[0], items[2]);
        EXPECT_EQ(back[1], items[0]);
        EXPECT_TRUE(store.items({std::string(items[0].path())}, 0).empty());
        EXPECT_TRUE(store.items({}, 5).empty());
    }
}

TEST(IndexStore, RowsReadBackByTheRowRule)
{
    TempDir dir;
    const auto db = dir / "index.sqlite";
    // A table without NOT NULL, as an older writer may have left one.
    rawExec(db, "CREATE TABLE file_index (path TEXT PRIMARY KEY, name TEXT, parent_path TEXT, extension TEXT, "
                "size INTEGER, modified_at REAL, is_directory INTEGER);"
                "INSERT INTO file_index VALUES ('/a/two', 'two', '/a', NULL, 5, 10.5, 2);"
                "INSERT INTO file_index VALUES ('/a/one', 'one', '/a', 'x', 7, 11.0, 1);");
    auto clock = std::make_shared<FakeClock>();
    IndexStore store(db, clock);
    ASSERT_TRUE(store.bootstrap());
    // The database route (the store's connection) and the cache agree.
    const std::vector<IndexedItem> fromDatabase = store.relatedItemsInFolder("/a", 10);
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    const std::vector<IndexedItem> fromCache = store.items({"/a/two", "/a/one"}, 10);
    ASSERT_EQ(fromCache.size(), 2u);
    EXPECT_FALSE(fromCache[0].isDirectory()) << "is_directory 2 reads as a file";
    EXPECT_EQ(fromCache[0].fileExtension(), "") << "a NULL extension reads as empty";
    EXPECT_EQ(fromCache[0].modifiedAt(), 10.5);
    EXPECT_TRUE(fromCache[1].isDirectory());
    EXPECT_EQ(fromCache[1].searchableText(), "");
    ASSERT_EQ(fromDatabase.size(), 1u);  // only the folder: "two" is a file without image extension
    EXPECT_EQ(fromDatabase[0], fromCache[1]);
}

TEST(IndexStore, BootstrapFailuresAreDescribed)
{
    TempDir dir;
    std::ofstream(dir / "plain-file") << "x";
    std::filesystem::create_directories(dir / "a-folder.sqlite");
    struct Case {
        std::filesystem::path db;
        IndexStoreError::Code code;
        std::string prefix;
    } cases[] = {
        {dir / "plain-file/sub/index.sqlite", IndexStoreError::Code::FileSystem, ""},
        // A folder in the file's place is no damage: it stays, and the message names it.
        {dir / "a-folder.sqlite", IndexStoreError::Code::OpenDatabase, "打开索引数据库失败："},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.db.string());
        auto clock = std::make_shared<FakeClock>();
        IndexStore store(c.db, clock);
        StoreResult<void> r = store.bootstrap();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().code, c.code);
        EXPECT_TRUE(r.error().description().starts_with(c.prefix));
        EXPECT_GT(r.error().description().size(), c.prefix.size()) << "the message follows the prefix";
        if (c.code == IndexStoreError::Code::OpenDatabase) {
            EXPECT_TRUE(std::filesystem::is_directory(c.db)) << "what is in the way stays";
            EXPECT_NE(r.error().description().find(c.db.string()), std::string::npos) << "the path is named";
        }
        // No warm-up: the cache never becomes ready, and a timed wait gives up.
        auto waited = std::async(std::launch::async, [&] { return store.waitForSearchCacheReady(6s); });
        clock->waitForSleepers(1);
        clock->advance(6s);
        EXPECT_FALSE(waited.get());
        EXPECT_FALSE(store.status().cacheReady);
    }
}

TEST(IndexStore, WithoutConnectionWritesFailWithUnknownMessage)
{
    TempDir dir;
    IndexStore store(dir / "index.sqlite", std::make_shared<FakeClock>());
    StoreResult<void> upsert = store.upsert({fileItem("/a/x")});
    ASSERT_FALSE(upsert);
    const std::string file = (dir / "index.sqlite").string();
    EXPECT_EQ(upsert.error().description(), "执行 SQLite 命令失败：" + file + "（未知 SQLite 错误）");
    StoreResult<void> remove = store.removePathPrefixes({"/a"});
    ASSERT_FALSE(remove);
    EXPECT_EQ(remove.error().description(), "准备 SQLite 语句失败：" + file + "（未知 SQLite 错误）");
    EXPECT_TRUE(store.search(test::wordsQuery({"x"}), 10).empty());
    EXPECT_TRUE(store.relatedItemsInFolder("/a", 10).empty());
}

// A store whose cache is loaded and complete, on a clock whose sleeps pass at once.
struct BusyFixture {
    TempDir dir;
    std::shared_ptr<test::InstantClock> clock = std::make_shared<test::InstantClock>();
    std::unique_ptr<test::ProbedStore> store;

    BusyFixture()
    {
        test::seedDatabase(dir / "index.sqlite",
                           {folderItem("/p/sub"), fileItem("/p/a.png"), fileItem("/p/b.jpg"), fileItem("/p/c.pdf")});
        store = std::make_unique<test::ProbedStore>(dir / "index.sqlite", clock);
        EXPECT_TRUE(store->bootstrap());
        EXPECT_TRUE(eventually([&] { return store->status().searchIndexesComplete && store->probe().runningBackgroundJobs() == 0; }));
        clock->clearSleeps();
    }
};

TEST(IndexStore, BusyReadsRetryThreeTimesTenMillisecondsApart)
{
    BusyFixture f;
    const int runs = f.store->probe().readRuns();
    f.store->probe().injectTransientReadFailures(100, SQLITE_BUSY);
    EXPECT_TRUE(f.store->relatedItemsInFolder("/p", 10).empty());
    EXPECT_EQ(f.store->probe().readRuns() - runs, 4);
    EXPECT_EQ(f.clock->sleeps(), (std::vector<std::chrono::milliseconds>{10ms, 10ms, 10ms}));

    // Free again on the third run: that run's rows.
    f.clock->clearSleeps();
    f.store->probe().injectTransientReadFailures(2, SQLITE_LOCKED);
    EXPECT_EQ(f.store->relatedItemsInFolder("/p", 10).size(), 3u);
    EXPECT_EQ(f.clock->sleeps(), (std::vector<std::chrono::milliseconds>{10ms, 10ms}));
}

TEST(IndexStore, FourTransientFailuresWithinTheWindowReopenOnce)
{
    // Database searches record the failures; a store whose cache is not
    // installed yet searches the database.
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/p/a.png"), fileItem("/p/b.jpg")});
    auto clock = std::make_shared<test::InstantClock>();
    test::ProbedStore held(dir / "index.sqlite", clock);
    InstallGate gate;
    held.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(held.bootstrap());
    const SearchQuery fastFail = test::wordsQuery({"apple"});  // one word of four or more: one attempt

    held.probe().injectTransientReadFailures(1000, SQLITE_BUSY);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(held.search(fastFail, 10).empty());
        clock->advance(400ms);
    }
    EXPECT_EQ(held.probe().transientSearchFailureStreak(), 3);
    EXPECT_EQ(held.probe().reopenCount(), 0);
    EXPECT_TRUE(held.search(fastFail, 10).empty());
    EXPECT_EQ(held.probe().reopenCount(), 1);
    EXPECT_EQ(held.probe().transientSearchFailureStreak(), 0);
    EXPECT_TRUE(clock->sleeps().empty()) << "a fast-fail query never waits";

    // Three, then one more after 1.3 s: the run starts over at one.
    for (int i = 0; i < 3; ++i)
        held.search(fastFail, 10);
    clock->advance(1300ms);
    held.search(fastFail, 10);
    EXPECT_EQ(held.probe().transientSearchFailureStreak(), 1);
    EXPECT_EQ(held.probe().reopenCount(), 1);

    // The reopened connection works.
    held.probe().injectTransientReadFailures(0, SQLITE_BUSY);
    EXPECT_EQ(test::pathsOf(held.search(test::wordsQuery({"a.png"}), 10)), std::vector<std::string>{"/p/a.png"});
    gate.open();
}

TEST(IndexStore, CacheReadyWaitersResumeInOrder)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/a/x.txt")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());

    std::vector<int> order;
    std::mutex orderMutex;
    for (int i = 1; i <= 3; ++i)
        store.probe().whenSearchCacheReady([&, i] {
            std::lock_guard lock(orderMutex);
            order.push_back(i);
        });
    auto untimed = std::async(std::launch::async, [&] { store.waitForSearchCacheReady(); });
    auto timedOut = std::async(std::launch::async, [&] { return store.waitForSearchCacheReady(6s); });
    clock->waitForSleepers(1);
    clock->advance(2s);
    auto timedIn = std::async(std::launch::async, [&] { return store.waitForSearchCacheReady(6s); });
    clock->waitForSleepers(2);
    // Six seconds for the first wait: it gives up; the second has two to go.
    clock->advance(4s);
    EXPECT_FALSE(timedOut.get());
    EXPECT_EQ(untimed.wait_for(0s), std::future_status::timeout);

    gate.open();
    untimed.get();
    EXPECT_TRUE(timedIn.get());
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(store.waitForSearchCacheReady(0s)) << "after the install: true at once";
    bool ranAtOnce = false;
    store.probe().whenSearchCacheReady([&] { ranAtOnce = true; });
    EXPECT_TRUE(ranAtOnce);
}

} // namespace
} // namespace pallix
