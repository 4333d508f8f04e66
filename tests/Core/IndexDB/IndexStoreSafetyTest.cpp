// The index store as another local user, or a careless program, would meet
// it: its files must stay private, it must never write through a link or into
// another program's database, it must refuse a folder someone else owns, and
// an index the user may only read is still searched.

#include "Core/IndexDB/IndexStore.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Core/Semantic/ImageSemanticStore.h"
#include "IndexDbTestSupport.h"
#include "TestSupport/RawQuery.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;
using test::fileItem;
using test::rawQuery;
using test::TempDir;

constexpr int kIndexStamp = 0x50584958;
constexpr uid_t kOtherUser = 65534;

unsigned modeOf(const fs::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string bytesOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<IndexedItem> manyItems(int count)
{
    std::vector<IndexedItem> items;
    for (int i = 0; i < count; ++i)
        items.push_back(fileItem("/data/a-rather-long-folder-name-to-fill-pages/file-number-" + std::to_string(i) +
                                 "-with-a-long-tail-of-words.txt"));
    return items;
}

// An index a store of ours wrote (its triggers and marks included), then
// without its stamp: what the release before the stamp left. `more` runs after.
void writeUnstampedIndex(const fs::path& file, const std::vector<IndexedItem>& items, const std::string& more = {})
{
    {
        IndexStore store(file, std::make_shared<FakeClock>());
        ASSERT_TRUE(store.bootstrap());
        if (!items.empty()) {
            ASSERT_TRUE(store.upsert(items));
        }
    }
    ASSERT_EQ(rawQuery(file, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger';"), "2");
    rawQuery(file, "PRAGMA application_id = 0; " + more);
}

// Every file the test makes gets the usual umask's modes unless the store decides otherwise.
class IndexStoreSafetyTest : public ::testing::Test {
protected:
    void SetUp() override { m_savedMask = ::umask(022); }
    void TearDown() override { ::umask(m_savedMask); }

    TempDir dir;

private:
    mode_t m_savedMask = 0;
};

TEST_F(IndexStoreSafetyTest, FoldersAndFilesAreTheUsersAlone)
{
    const fs::path folder = dir / "share" / "app";
    IndexStore store(folder / "index.sqlite", std::make_shared<FakeClock>());
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(store.upsert({fileItem("/a/private-name.txt")}));

    EXPECT_EQ(modeOf(dir / "share"), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);
    for (const char* file : {"index.sqlite", "index.sqlite-wal", "index.sqlite-shm"}) {
        ASSERT_TRUE(fs::exists(folder / file)) << file;
        EXPECT_EQ(modeOf(folder / file), 0600u) << file;
    }
}

TEST_F(IndexStoreSafetyTest, LinksAndOtherProgramsDatabasesAreSetAsideUntouched)
{
    const fs::path empty = dir / "empty-target";
    std::ofstream(empty).flush();
    const fs::path notes = dir / "notes.sqlite";
    rawQuery(notes, "CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('mine');");
    const std::string notesBytes = bytesOf(notes);
    const fs::path stampedElsewhere = dir / "other.sqlite";
    rawQuery(stampedElsewhere, "PRAGMA application_id = 7; CREATE TABLE file_index (path TEXT);");
    // An index of ours without its stamp, holding more than our own entries.
    const fs::path besideNotes = dir / "beside-notes.sqlite";
    writeUnstampedIndex(besideNotes, {}, "CREATE TABLE notes (body TEXT);");
    const fs::path foreignTrigger = dir / "foreign-trigger.sqlite";
    writeUnstampedIndex(foreignTrigger, {},
                        "CREATE TABLE notes (body TEXT); CREATE TRIGGER notes_kept AFTER INSERT ON notes "
                        "BEGIN DELETE FROM file_index; END;");

    struct Case {
        std::string name;
        std::function<void(const fs::path&)> place;  // puts something in the index's place
        fs::path untouched;                        // what must stay as it was
    };
    const std::vector<Case> cases{
        {"link to an empty file", [&](const fs::path& db) { fs::create_symlink(empty, db); }, empty},
        {"link to a database", [&](const fs::path& db) { fs::create_symlink(notes, db); }, notes},
        {"another program's database", [&](const fs::path& db) { fs::copy_file(notes, db); }, {}},
        {"a database stamped by another", [&](const fs::path& db) { fs::copy_file(stampedElsewhere, db); }, {}},
        {"our tables beside another's", [&](const fs::path& db) { fs::copy_file(besideNotes, db); }, {}},
        {"a trigger on another's table", [&](const fs::path& db) { fs::copy_file(foreignTrigger, db); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / ("case-" + std::to_string(&c - cases.data()));
        fs::create_directory(folder);
        const fs::path db = folder / "index.sqlite";
        c.place(db);
        const std::string placedBytes = fs::is_symlink(db) ? std::string() : bytesOf(db);
        {
            IndexStore store(db, std::make_shared<FakeClock>());
            ASSERT_TRUE(store.bootstrap());
            EXPECT_TRUE(store.takeRecoveredFromDamage()) << "the owner is told to fill a fresh index";
            ASSERT_TRUE(store.upsert(manyItems(50)));
            store.waitForSearchCacheReady();
            EXPECT_EQ(store.indexedCount(), 50);
        }
        EXPECT_FALSE(fs::is_symlink(db));
        EXPECT_EQ(rawQuery(db, "PRAGMA application_id;"), std::to_string(kIndexStamp));
        if (!c.untouched.empty()) {
            EXPECT_TRUE(fs::is_symlink(sqlite::damagedCopyPath(db))) << "the link itself is set aside";
            EXPECT_EQ(bytesOf(c.untouched), c.untouched == notes ? notesBytes : std::string());
            EXPECT_FALSE(fs::exists(c.untouched.string() + "-wal"));
        } else {
            EXPECT_EQ(bytesOf(sqlite::damagedCopyPath(db)), placedBytes);
        }
    }
}

TEST_F(IndexStoreSafetyTest, AnUnstampedIndexOfOursIsKeptAndStamped)
{
    const fs::path handMade = dir / "index.sqlite";
    rawQuery(handMade, "CREATE TABLE file_index (path TEXT PRIMARY KEY, name TEXT NOT NULL, parent_path TEXT NOT NULL, "
                       "extension TEXT NOT NULL, size INTEGER NOT NULL, modified_at REAL NOT NULL, is_directory "
                       "INTEGER NOT NULL); INSERT INTO file_index VALUES ('/k/kept.txt', 'kept.txt', '/k', 'txt', 1, 0, 0);");
    const fs::path written = dir / "written.sqlite";
    writeUnstampedIndex(written, manyItems(30));
    for (const auto& [db, rows] : {std::pair{handMade, 1}, std::pair{written, 30}}) {
        SCOPED_TRACE(db.filename().string());
        IndexStore store(db, std::make_shared<FakeClock>());
        ASSERT_TRUE(store.bootstrap());
        EXPECT_FALSE(store.takeRecoveredFromDamage());
        store.waitForSearchCacheReady();
        EXPECT_EQ(store.indexedCount(), rows);
        EXPECT_FALSE(fs::exists(sqlite::damagedCopyPath(db)));
        EXPECT_EQ(rawQuery(db, "PRAGMA application_id;"), std::to_string(kIndexStamp));
    }
}

TEST_F(IndexStoreSafetyTest, AFolderOfAnotherUserIsRefusedByName)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    const fs::path folder = dir / "theirs";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::all);
    ASSERT_EQ(::chown(folder.c_str(), kOtherUser, kOtherUser), 0);

    IndexStore store(folder / "index.sqlite", std::make_shared<FakeClock>());
    const StoreResult<void> opened = store.bootstrap();
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.error().description().find(folder.string()), std::string::npos) << opened.error().description();
    EXPECT_NE(opened.error().description().find("其他用户"), std::string::npos) << opened.error().description();
    EXPECT_TRUE(fs::is_empty(folder)) << "nothing is made in it";
}

TEST_F(IndexStoreSafetyTest, AFolderThatCannotBeMadeIsNamedWithTheSystemsReason)
{
    std::ofstream(dir / "a-file").flush();
    const fs::path folder = dir / "a-file" / "app";
    IndexStore store(folder / "index.sqlite", std::make_shared<FakeClock>());
    const StoreResult<void> opened = store.bootstrap();
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().description(), "无法创建索引数据库所在的文件夹 " + folder.string() + "（Not a directory）");
}

// Runs `check` in a child process that cannot write what it does not own;
// as root, that is another user's child. Returns the child's exit code.
int runUnprivileged(const std::function<int()>& check)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0))
            ::_exit(90);
        ::_exit(check());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(IndexStoreSafetyTest, AnIndexThatCanOnlyBeReadIsSearched)
{
    const fs::path folder = dir / "read-only";
    const fs::path db = folder / "index.sqlite";
    test::seedDatabase(db, {fileItem("/r/quarterly-report.txt"), fileItem("/r/notes.txt")});
    if (::geteuid() == 0) {
        for (const fs::path& path : {dir.path(), folder, db}) {
            ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherUser), 0);
        }
    }
    fs::permissions(db, fs::perms::owner_read);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    // Each failed check exits with its own code.
    const int outcome = runUnprivileged([&] {
        IndexStore store(db, std::make_shared<FakeClock>());
        if (const StoreResult<void> opened = store.bootstrap(); !opened) {
            std::fprintf(stderr, "%s\n", opened.error().description().c_str());
            return 1;
        }
        if (!store.status().readOnly)
            return 2;
        if (!store.waitForSearchCacheReady(std::chrono::seconds(60)) || store.indexedCount() != 2)
            return 3;
        if (test::pathsOf(store.search(test::wordsQuery({"quarterly"}), 10)) !=
            std::vector<std::string>{"/r/quarterly-report.txt"})
            return 4;
        const StoreResult<void> write = store.upsert({fileItem("/r/new.txt")});
        if (write || write.error().description().find(db.string() + "（") == std::string::npos)
            return 5;
        // The stores whose files were never made in the folder: empty and
        // read-only like it, not a failed start.
        IndexStore shares(folder / "server_index.sqlite", std::make_shared<FakeClock>());
        if (const StoreResult<void> opened = shares.bootstrap(); !opened) {
            std::fprintf(stderr, "%s\n", opened.error().description().c_str());
            return 6;
        }
        if (!shares.status().readOnly || !shares.waitForSearchCacheReady(std::chrono::seconds(60))
            || shares.indexedCount() != 0 || shares.upsert({fileItem("/mnt/s/a.txt")}))
            return 7;
        ImageSemanticStore tags(folder / "image_semantic.sqlite", std::make_shared<FakeClock>());
        if (const std::optional<std::string> failed = tags.bootstrap()) {
            std::fprintf(stderr, "%s\n", failed->c_str());
            return 8;
        }
        if (tags.upsert("/r/a.png", {"red"}, 1) == std::nullopt || tags.storedTags("/r/a.png"))
            return 9;
        return fs::exists(folder / "server_index.sqlite") || fs::exists(folder / "image_semantic.sqlite") ? 10 : 0;
    });
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(outcome, 0);
}

TEST_F(IndexStoreSafetyTest, TheLogStaysSmallAfterLargeWritesAndAtStart)
{
    const fs::path db = dir / "index.sqlite";
    const auto logSize = [&] { return fs::exists(db.string() + "-wal") ? fs::file_size(db.string() + "-wal") : 0; };
    {
        IndexStore store(db, std::make_shared<FakeClock>());
        ASSERT_TRUE(store.bootstrap());
        store.waitForSearchCacheReady();  // no reader of the warm-up holds the log
        ASSERT_TRUE(store.upsert(manyItems(60'000)));
        EXPECT_LE(logSize(), sqlite::kLogSizeLimit);
    }
    // A log another connection left large, as a killed run leaves it.
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    ASSERT_EQ(sqlite3_exec(handle, "PRAGMA wal_autocheckpoint=0; UPDATE file_index SET content_text = name || name;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(handle);
    ASSERT_GT(logSize(), sqlite::kLogSizeLimit);

    test::ProbedStore reopened(db, std::make_shared<FakeClock>());
    ASSERT_TRUE(reopened.bootstrap());
    EXPECT_LE(logSize(), sqlite::kLogSizeLimit);
    EXPECT_EQ(reopened.probe().pragmaValue("journal_size_limit"), std::to_string(sqlite::kLogSizeLimit));
}

} // namespace
} // namespace pallix
