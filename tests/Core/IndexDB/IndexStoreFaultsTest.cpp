// The index store against a hostile world: database files damaged in the ways
// disks and crashes damage them, another process holding the write lock, and
// a regular expression that backtracks without end while writes wait.

#include "Core/IndexDB/IndexStore.h"

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "IndexDbTestSupport.h"
#include "TestSupport/DamagingSqliteVfs.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using test::fileItem;
using test::TempDir;

std::vector<IndexedItem> manyItems(int count)
{
    std::vector<IndexedItem> items;
    for (int i = 0; i < count; ++i)
        items.push_back(fileItem("/data/some-rather-long-folder-name/file-number-" + std::to_string(i) + ".txt"));
    return items;
}

void overwrite(const std::filesystem::path& file, std::uintmax_t offset, const std::string& bytes)
{
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Zeroes the root page of the index of names: the damage check sees it, a
// read of the table's rows never does. Returns the rows such a read finds.
int damageOnlyTheNameIndex(const std::filesystem::path& db)
{
    sqlite3* handle = nullptr;
    EXPECT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    auto single = [&](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(handle);
        EXPECT_EQ(sqlite3_step(statement), SQLITE_ROW) << sqlite3_errmsg(handle);
        const int value = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
        return value;
    };
    const int root = single("SELECT rootpage FROM sqlite_master WHERE name = 'idx_file_index_name';");
    const int pageSize = single("PRAGMA page_size;");
    sqlite3_close(handle);
    overwrite(db, std::uintmax_t(root - 1) * std::uintmax_t(pageSize), std::string(std::size_t(pageSize), '\0'));

    EXPECT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    const int rows = single("SELECT count(*) FROM (SELECT path, name FROM file_index NOT INDEXED);");
    sqlite3_close(handle);
    return rows;
}

// After a start-over: the store is empty, and a write and a search work on the fresh file.
void expectFreshStore(IndexStore& store)
{
    EXPECT_EQ(store.indexedCount(), 0);
    EXPECT_TRUE(store.search(test::wordsQuery({"file"}), 10).empty());
    ASSERT_TRUE(store.upsert({fileItem("/data/fresh.txt")}));
    EXPECT_EQ(store.indexedCount(), 1);
    EXPECT_EQ(store.search(test::wordsQuery({"fresh"}), 10).size(), 1u);
}

// The store's started-over handler, called on a worker thread; the test waits for it.
class StartedOverSignal {
public:
    explicit StartedOverSignal(IndexStore& store)
    {
        store.setStartedOverHandler([this] {
            std::lock_guard lock(m_mutex);
            ++m_calls;
            m_told.notify_all();
        });
    }
    bool waitForCall()
    {
        std::unique_lock lock(m_mutex);
        return m_told.wait_for(lock, 30s, [&] { return m_calls > 0; });
    }
    int calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_told;
    int m_calls = 0;
};

// One generated damaged file: how to make it from a sound one.
struct Damage {
    const char* name;
    std::function<void(const std::filesystem::path&)> apply;
};

TEST(IndexStoreDamage, DamagedFilesAreMovedAsideAndTheStoreStartsOverEmpty)
{
    const std::vector<Damage> damages = {
        {"garbage", [](const auto& f) { std::ofstream(f, std::ios::trunc) << std::string(8192, 'g'); }},
        {"truncated", [](const auto& f) { std::filesystem::resize_file(f, std::filesystem::file_size(f) / 3); }},
        {"header", [](const auto& f) { overwrite(f, 0, std::string(100, '\x5a')); }},
        // Pages in the middle of the table: the open, the schema and the count
        // all pass; only reading the pages finds it.
        {"zeroed pages", [](const auto& f) { overwrite(f, 4096 * 4, std::string(4096 * 12, '\0')); }},
        // Only the check meets it: the snapshot, read beside the check, reads
        // every row, and must not land.
        {"name index", [](const auto& f) { EXPECT_EQ(damageOnlyTheNameIndex(f), 3000) << "rows read whole"; }},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        TempDir dir;
        const auto db = dir / "index.sqlite";
        test::seedDatabase(db, manyItems(3000));
        damage.apply(db);
        std::ofstream(dir / "index.sqlite.corrupt") << "an older copy";
        std::ofstream(dir / "index.sqlite.corrupt-wal") << "its log";

        IndexStore store(db, std::make_shared<test::InstantClock>());
        ASSERT_TRUE(store.bootstrap());
        const std::optional<std::filesystem::path> copy = store.takeRecoveredFromDamage();
        ASSERT_TRUE(copy);
        EXPECT_FALSE(store.takeRecoveredFromDamage()) << "told once";
        EXPECT_EQ(*copy, dir / "index.sqlite.corrupt-2") << "a name of its own";
        EXPECT_GT(std::filesystem::file_size(*copy), 4096u) << "the damaged file";
        EXPECT_EQ(std::filesystem::file_size(dir / "index.sqlite.corrupt"), 13u) << "the older copy kept";
        EXPECT_EQ(std::filesystem::file_size(dir / "index.sqlite.corrupt-wal"), 7u) << "with its log";
        store.waitForSearchCacheReady();
        expectFreshStore(store);
    }
}

// A large file whose damage lies beyond what the start-up check reads: the
// snapshot meets it, and the store starts over instead of installing the part
// it read, then tells its owner once.
TEST(IndexStoreDamage, DamageOnlyTheSnapshotMeetsStartsOverInsteadOfHalfLoading)
{
    testsupport::DamagingSqliteVfs disk;
    TempDir dir;
    const auto db = dir / "index.sqlite";
    test::seedDatabase(db, {});
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer,
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 250000) "
                           "INSERT INTO file_index SELECT '/big/f' || i || '.txt', 'f' || i || '.txt', '/big', 'txt', "
                           "i, 1.5, 0, '', lower('f' || i || '.txt') FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(writer);
    // Pages in the middle of the table's rows, which the load must cross.
    const std::uintmax_t size = std::filesystem::file_size(db);
    disk.damagePagesForReaders(db, disk.middleRowPage(db, "file_index"), 40);

    IndexStore store(db, std::make_shared<test::InstantClock>());
    StartedOverSignal startedOver(store);
    ASSERT_TRUE(store.bootstrap());
    // The flag is not read here: the load may meet the damage before this
    // line on a fast machine. The started-over call says the load met it (the
    // start-up check's own recovery makes no such call).
    store.waitForSearchCacheReady();
    EXPECT_EQ(store.indexedCount(), 0) << "no part of the damaged file is installed";
    ASSERT_TRUE(startedOver.waitForCall());
    EXPECT_TRUE(store.takeRecoveredFromDamage());
    EXPECT_FALSE(store.takeRecoveredFromDamage()) << "told once";
    EXPECT_EQ(std::filesystem::file_size(dir / "index.sqlite.corrupt"), size) << "moved aside whole";
    expectFreshStore(store);
    EXPECT_EQ(startedOver.calls(), 1);
}

// A read on the store's own connection that meets damage starts the store
// over at once instead of waiting for the next write.
TEST(IndexStoreDamage, ASearchThatMeetsDamageStartsTheStoreOver)
{
    testsupport::DamagingSqliteVfs disk;
    TempDir dir;
    const auto db = dir / "index.sqlite";
    test::seedDatabase(db, manyItems(3000));
    IndexStore store(db, std::make_shared<test::InstantClock>());
    StartedOverSignal startedOver(store);
    ASSERT_TRUE(store.bootstrap());
    store.waitForSearchCacheReady();
    disk.damage(db);
    // The folder's rows are read from the file, where the damage is met.
    (void)store.relatedItemsInFolder("/data/some-rather-long-folder-name", 10);
    ASSERT_TRUE(startedOver.waitForCall());
    EXPECT_TRUE(store.takeRecoveredFromDamage());
    EXPECT_TRUE(std::filesystem::exists(dir / "index.sqlite.corrupt"));
    expectFreshStore(store);
}

// Damage that appears while the store runs: the write that meets it fails and
// the store starts over before it returns, so its owner can fill it at once.
TEST(IndexStoreDamage, AWriteThatMeetsDamageStartsOverBeforeItReturns)
{
    TempDir dir;
    const auto db = dir / "index.sqlite";
    test::seedDatabase(db, manyItems(3000));
    IndexStore store(db, std::make_shared<test::InstantClock>());
    ASSERT_TRUE(store.bootstrap());
    store.waitForSearchCacheReady();
    ASSERT_EQ(store.indexedCount(), 3000);
    overwrite(db, 4096, std::string(std::filesystem::file_size(db) - 4096, '\0'));

    const StoreResult<void> removed = store.removePathPrefixes({"/data/some-rather-long-folder-name"});
    ASSERT_FALSE(removed);
    EXPECT_TRUE(sqlite::isDamage(removed.error().sqliteCode)) << removed.error().description();
    EXPECT_TRUE(store.takeRecoveredFromDamage()) << "not left for the next write to find";
    EXPECT_TRUE(std::filesystem::exists(dir / "index.sqlite.corrupt"));
    EXPECT_EQ(store.indexedCount(), 0);
    ASSERT_TRUE(store.upsert({fileItem("/data/fresh.txt")}));
    EXPECT_FALSE(store.takeRecoveredFromDamage());
    EXPECT_EQ(store.indexedCount(), 1);
}

// A start that fails after the load began leaves no cache behind; the next
// start loads again.
TEST(IndexStoreDamage, AFailedStartInstallsNothingAndTheNextStartLoads)
{
    TempDir dir;
    // The damaged file cannot be moved aside: a folder holds the copy's name,
    // and the next name would be longer than a name may be.
    const auto db = dir / ("index" + std::string(247 - 12, 'x') + ".sqlite");
    test::seedDatabase(db, manyItems(3000));
    ASSERT_EQ(damageOnlyTheNameIndex(db), 3000);
    const auto inTheWay = sqlite::damagedCopyPath(db);
    std::filesystem::create_directories(inTheWay / "in-the-way");

    test::ProbedStore store(db, std::make_shared<test::InstantClock>());
    std::atomic<int> installs{0};
    store.probe().whenSearchCacheReady([&] { ++installs; });
    const StoreResult<void> failed = store.bootstrap();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, IndexStoreError::Code::FileSystem) << failed.error().description();
    ASSERT_TRUE(test::eventually([&] { return store.probe().runningBackgroundJobs() == 0; }));
    EXPECT_EQ(installs.load(), 0);
    EXPECT_FALSE(store.status().cacheReady);
    EXPECT_EQ(store.indexedCount(), 0);

    std::filesystem::remove_all(inTheWay);
    ASSERT_TRUE(store.bootstrap());
    EXPECT_TRUE(store.takeRecoveredFromDamage());
    store.waitForSearchCacheReady();
    EXPECT_EQ(installs.load(), 1);
    EXPECT_EQ(store.indexedCount(), 0);
    ASSERT_TRUE(store.upsert({fileItem("/data/fresh.txt")}));
    EXPECT_EQ(store.search(test::wordsQuery({"fresh"}), 10).size(), 1u);
}

TEST(IndexStoreDamage, AnEmptyFileIsAFreshDatabaseNotDamage)
{
    TempDir dir;
    std::ofstream(dir / "index.sqlite");
    IndexStore store(dir / "index.sqlite", std::make_shared<test::InstantClock>());
    ASSERT_TRUE(store.bootstrap());
    EXPECT_FALSE(store.takeRecoveredFromDamage());
    EXPECT_FALSE(std::filesystem::exists(dir / "index.sqlite.corrupt"));
    EXPECT_TRUE(store.upsert({fileItem("/a/b")}));
}

// Another process (the sqlite3 shell, a backup) holds the write lock for a
// moment: writes wait for it instead of failing at once.
TEST(IndexStoreBusy, AWriteWaitsForALockHeldByAnotherConnection)
{
    TempDir dir;
    const auto db = dir / "index.sqlite";
    IndexStore store(db, std::make_shared<test::InstantClock>());
    ASSERT_TRUE(store.bootstrap());

    std::promise<void> locked;
    std::promise<void> release;
    std::thread holder([&, released = release.get_future()] {
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
        locked.set_value();
        released.wait();
        sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    });
    locked.get_future().wait();
    auto writing = std::async(std::launch::async, [&] { return store.upsert({fileItem("/a/waited.txt")}); });
    // Still waiting for the lock well after a refusal would have come.
    EXPECT_EQ(writing.wait_for(300ms), std::future_status::timeout) << "the write gave up at once";
    release.set_value();
    const StoreResult<void> written = writing.get();
    holder.join();
    ASSERT_TRUE(written) << written.error().description();
    store.waitForSearchCacheReady();
    EXPECT_EQ(store.indexedCount(), 1);
}

// Another program's write lock keeps a write waiting, not the searches: they
// answer from memory meanwhile, and the write lands once the lock is free.
TEST(IndexStoreBusy, SearchesAnswerWhileAWriteWaitsForTheLock)
{
    TempDir dir;
    const auto db = dir / "index.sqlite";
    test::seedDatabase(db, {fileItem("/a/present.txt")});
    IndexStore store(db, std::make_shared<test::InstantClock>());
    ASSERT_TRUE(store.bootstrap());
    store.waitForSearchCacheReady();

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
    auto writing = std::async(std::launch::async, [&] { return store.upsert({fileItem("/a/waited.txt")}); });
    EXPECT_EQ(writing.wait_for(300ms), std::future_status::timeout) << "the write gave up at once";
    EXPECT_EQ(test::pathsOf(store.search(test::wordsQuery({"present"}), 10)),
              std::vector<std::string>{"/a/present.txt"});
    EXPECT_EQ(writing.wait_for(0s), std::future_status::timeout) << "the search waited for the write";

    sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    const StoreResult<void> written = writing.get();
    ASSERT_TRUE(written) << written.error().description();
    EXPECT_EQ(test::pathsOf(store.search(test::wordsQuery({"waited"}), 10)),
              std::vector<std::string>{"/a/waited.txt"});
}

// Tells when `file` is opened anew: a write that meets another program's
// lock opens the file a second time to wait for it.
class FileOpenWatch {
public:
    explicit FileOpenWatch(const std::filesystem::path& file) : m_fd(inotify_init1(IN_CLOEXEC))
    {
        EXPECT_GE(inotify_add_watch(m_fd, file.c_str(), IN_OPEN), 0);
    }
    ~FileOpenWatch() { close(m_fd); }
    FileOpenWatch(const FileOpenWatch&) = delete;
    FileOpenWatch& operator=(const FileOpenWatch&) = delete;

    // Gives up after a real minute (a failure, not a timing).
    bool waitForOpen() const
    {
        pollfd ready{m_fd, POLLIN, 0};
        alignas(inotify_event) char events[4096];
        return poll(&ready, 1, 60000) == 1 && read(m_fd, events, sizeof events) > 0;
    }

private:
    int m_fd;
};

// The rows a listing was compared with before the write waited for another
// program's lock may have changed meanwhile: they are compared again, so a
// child that program wrote and the listing lacks is gone too.
TEST(IndexStoreBusy, AListingIsComparedAgainAfterWaitingForTheLock)
{
    TempDir dir;
    const auto db = dir / "index.sqlite";
    test::ProbedStore store(db, std::make_shared<test::InstantClock>());
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(store.upsert({fileItem("/s/kept.txt")}));
    // Quiet: no job of the store opens the file while the test watches it.
    ASSERT_TRUE(
        test::eventually([&] { return store.status().cacheReady && store.probe().runningBackgroundJobs() == 0; }));

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "BEGIN EXCLUSIVE; INSERT INTO file_index (path, name, parent_path, extension, size, "
                           "modified_at, is_directory) VALUES ('/s/sneaked.txt', 'sneaked.txt', '/s', 'txt', 1, 1, 0);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const FileOpenWatch opens(db);
    auto syncing = std::async(std::launch::async, [&] {
        return store.synchronizeFolders({{"/s", {fileItem("/s/kept.txt"), fileItem("/s/new.txt")}}});
    });
    // The write has compared the listing, met the lock, and waits for it.
    EXPECT_TRUE(opens.waitForOpen());
    sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    const StoreResult<void> synced = syncing.get();
    ASSERT_TRUE(synced) << synced.error().description();
    EXPECT_EQ(store.pathsBelow("/s", "", 10), (std::vector<std::string>{"/s/kept.txt", "/s/new.txt"}));
}

// re:^(\w+\s?)+$ backtracks exponentially on a long word that is not
// followed by the end (a name with an extension): without a budget each of
// these names takes seconds, all of them over a minute.
class IndexStoreRegex : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<IndexedItem> items;
        for (int i = 0; i < 20; ++i)
            items.push_back(fileItem("/data/abcdefghijklmnopqrstuvw" + std::to_string(i + 10) + ".txt"));
        items.push_back(fileItem("/data/report"));
        test::seedDatabase(m_dir / "index.sqlite", items);
        ASSERT_TRUE(m_store.bootstrap());
        m_store.waitForSearchCacheReady();
    }
    static SearchQuery expression(std::string pattern)
    {
        SearchQuery q = test::wordsQuery({std::move(pattern)});
        q.useRegularExpression = true;
        return q;
    }

    TempDir m_dir;
    IndexStore m_store{m_dir / "index.sqlite", std::make_shared<test::InstantClock>()};
    const SearchQuery m_runaway = expression("^(\\w+\\s?)+$");
};

// Each match has a budget, so the search ends, says the expression was too
// complex, and lets a write through meanwhile.
TEST_F(IndexStoreRegex, ARunawayExpressionIsBoundedAndLetsWritesThrough)
{
    IndexStore::SearchNotes notes;
    std::mutex mutex;
    std::condition_variable cv;
    bool searchDone = false;
    std::thread searching([&] {
        (void)m_store.search(m_runaway, 10000, nullptr, &notes);
        std::lock_guard lock(mutex);
        searchDone = true;
        cv.notify_all();
    });
    EXPECT_TRUE(m_store.upsert({fileItem("/data/written-meanwhile.txt")}));
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(cv.wait_for(lock, 20s, [&] { return searchDone; })) << "the search never ended";
    }
    searching.join();
    EXPECT_TRUE(notes.expressionTooComplex);

    IndexStore::SearchNotes plainNotes;
    EXPECT_EQ(m_store.search(expression("^report$"), 10, nullptr, &plainNotes).size(), 1u);
    EXPECT_FALSE(plainNotes.expressionTooComplex);
}

TEST_F(IndexStoreRegex, ACancelledSearchStopsMatchingAtOnce)
{
    CancelToken cancelled;
    cancelled.cancel();
    IndexStore::SearchNotes notes;
    EXPECT_TRUE(m_store.search(m_runaway, 10000, &cancelled, &notes).empty());
    EXPECT_FALSE(notes.expressionTooComplex) << "no match ran: nothing ran out of budget";
}

} // namespace
} // namespace pallix
