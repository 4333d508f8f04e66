#include "Core/IndexDB/CacheSnapshot.h"

#include "Core/IndexDB/IndexStore.h"

#include <fstream>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::folderItem;
using test::TempDir;

void rawExec(const std::filesystem::path& db, const std::string& sql)
{
    sqlite::Connection c;
    ASSERT_EQ(c.open(db.string(), sqlite::Connection::Mode::ReadWriteCreate), SQLITE_OK);
    ASSERT_EQ(c.exec(sql.c_str()), SQLITE_OK) << c.errorMessage();
}

TEST(CacheSnapshot, ReadsEveryRowInOrderWithItsSearchForms)
{
    TempDir dir;
    std::vector<IndexedItem> items;
    for (int i = 0; i < 10000; ++i)
        items.push_back(i % 7 == 0 ? folderItem("/s/Folder " + std::to_string(i))
                                   : fileItem("/s/报告-" + std::to_string(i) + ".PDF", i, 1'600'000'000.5 + i));
    test::seedDatabase(dir / "index.sqlite", items);

    const ItemTable table = loadCacheSnapshot(dir / "index.sqlite", nullptr).items;
    ASSERT_EQ(table.size(), items.size());
    for (std::size_t p = 0; p < items.size(); p += 997) {
        SCOPED_TRACE(items[p].path());
        EXPECT_EQ(table.materialize(p), items[p]);
        EXPECT_EQ(table.find(items[p].path()), std::optional<std::uint32_t>(p));
    }
}

TEST(CacheSnapshot, LargeIndexesAreReadInRowidRangesAndJoinedInOrder)
{
    // Enough rows for several readers; rowids with a gap, so the ranges differ in size.
    TempDir dir;
    {
        IndexStore schema(dir / "index.sqlite", std::make_shared<FakeClock>());
        ASSERT_TRUE(schema.bootstrap());
    }
    rawExec(dir / "index.sqlite",
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 350000) "
            "INSERT INTO file_index SELECT '/big/f' || i || '.txt', 'f' || i || '.txt', '/big', 'txt', i, 1.5, 0, '', "
            "lower('f' || i || '.txt') FROM n;"
            "DELETE FROM file_index WHERE rowid BETWEEN 20000 AND 90000;");
    const ItemTable table = loadCacheSnapshot(dir / "index.sqlite", nullptr).items;
    ASSERT_EQ(table.size(), 350000u - 70001u);
    for (std::size_t p : {std::size_t(0), std::size_t(19998), std::size_t(19999), std::size_t(100000),
                          table.size() - 1}) {
        const std::int64_t rowid = p < 19999 ? std::int64_t(p) + 1 : std::int64_t(p) + 1 + 70001;
        SCOPED_TRACE(rowid);
        const ItemRef item = table.at(p);
        EXPECT_EQ(item.size, rowid);
        EXPECT_EQ(item.path, "/big/f" + std::to_string(rowid) + ".txt");
        EXPECT_EQ(item.normalizedSearchName, "f" + std::to_string(rowid) + "txt");
        EXPECT_EQ(table.find(item.path), std::optional<std::uint32_t>(p));
    }
}

// Pages deep in a table large enough for several readers: whichever reader
// meets them, the snapshot says the file is damaged and keeps no part of it.
TEST(CacheSnapshot, DamagedPagesAnywhereInALargeTableMakeTheWholeSnapshotDamaged)
{
    // The table alone, without the indexes whose pages would lie between its
    // own: every page after the schema's is one the load reads.
    TempDir dir;
    const auto db = dir / "index.sqlite";
    rawExec(db, "CREATE TABLE file_index (path TEXT, name TEXT NOT NULL, parent_path TEXT NOT NULL, "
                "extension TEXT NOT NULL, size INTEGER NOT NULL, modified_at REAL NOT NULL, "
                "is_directory INTEGER NOT NULL, content_text TEXT NOT NULL DEFAULT '', lower_name TEXT);");
    rawExec(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
                "INSERT INTO file_index SELECT '/big/f' || i || '.txt', 'f' || i || '.txt', '/big', 'txt', i, 1.5, 0, "
                "'', lower('f' || i || '.txt') FROM n;");
    const std::uintmax_t pages = std::filesystem::file_size(db) / 4096;
    ASSERT_GT(pages, 1000u);
    ASSERT_TRUE(loadCacheSnapshot(db, nullptr).items.size() == 300000u && !loadCacheSnapshot(db, nullptr).damaged);
    // Early, middle and late in the file: the first reader, a middle one, the last.
    for (const double at : {0.1, 0.5, 0.9}) {
        SCOPED_TRACE(at);
        TempDir copyDir;
        const auto copy = copyDir / "index.sqlite";
        std::filesystem::copy_file(db, copy);
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(static_cast<std::uintmax_t>(double(pages) * at) * 4096));
        const std::string junk(4096 * 3, '\x5a');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
        f.close();
        const CacheSnapshot snapshot = loadCacheSnapshot(copy, nullptr);
        EXPECT_TRUE(snapshot.damaged);
        EXPECT_TRUE(snapshot.items.empty()) << snapshot.items.size() << " rows of a damaged file";
    }
}

TEST(CacheSnapshot, UnreadableIndexesGiveAnEmptyTable)
{
    TempDir dir;
    std::ofstream(dir / "garbage.sqlite") << std::string(4096, 'g');
    rawExec(dir / "other.sqlite", "CREATE TABLE unrelated (x);");
    for (const char* name : {"missing.sqlite", "garbage.sqlite", "other.sqlite"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(loadCacheSnapshot(dir / name, nullptr).items.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.sqlite"));
}

TEST(CacheSnapshot, LaterRowOfTheSamePathWins)
{
    TempDir dir;
    rawExec(dir / "index.sqlite",
            "CREATE TABLE file_index (path TEXT, name TEXT, parent_path TEXT, extension TEXT, size INTEGER, "
            "modified_at REAL, is_directory INTEGER);"
            "INSERT INTO file_index VALUES ('/a/x', 'x', '/a', '', 1, 1.0, 0);"
            "INSERT INTO file_index VALUES ('/a/y', 'y', '/a', '', 2, 1.0, 0);"
            "INSERT INTO file_index VALUES ('/a/x', 'x', '/a', '', 3, 1.0, 0);");
    const ItemTable table = loadCacheSnapshot(dir / "index.sqlite", nullptr).items;
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table.at(*table.find("/a/x")).size, 3);
}

TEST(CacheSnapshot, CancellationStopsBetweenBatches)
{
    TempDir dir;
    std::vector<IndexedItem> items;
    for (int i = 0; i < 20000; ++i)
        items.push_back(fileItem("/c/f" + std::to_string(i)));
    test::seedDatabase(dir / "index.sqlite", items);
    CancelToken cancelled;
    cancelled.cancel();
    const ItemTable table = loadCacheSnapshot(dir / "index.sqlite", &cancelled).items;
    EXPECT_EQ(table.size(), 4096u);
}

} // namespace
} // namespace pallix
