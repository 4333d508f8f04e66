#include "Core/Semantic/ImageSemanticStore.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "Core/IndexDB/IndexDbTestSupport.h"
#include "Core/Semantic/ImageTagRules.h"

namespace pallix {
namespace {

using test::InstantClock;
using test::TempDir;
using Groups = std::vector<std::vector<std::string>>;

struct OpenStore {
    TempDir dir;
    std::shared_ptr<InstantClock> clock = std::make_shared<InstantClock>();
    std::unique_ptr<ImageSemanticStore> store;

    explicit OpenStore(ImageSemanticStore::FullText fullText = ImageSemanticStore::FullText::IfAvailable)
    {
        store = std::make_unique<ImageSemanticStore>(dir / "support" / "image_semantic.sqlite", clock, fullText);
        EXPECT_EQ(store->bootstrap(), std::nullopt);
        EXPECT_TRUE(test::eventually([&] { return store->runningBackgroundJobs() == 0; }));
    }
    ImageSemanticStore& operator*() { return *store; }
    ImageSemanticStore* operator->() { return store.get(); }
};

// n rows "/img/000000.png" ... in the main table only, tags "tag<i>".
void seedMainRows(ImageSemanticStore& store, int n)
{
    const std::string sql = "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < " +
                            std::to_string(n - 1) +
                            ") INSERT INTO image_semantic (path, tags, updated_at) SELECT printf('/img/%06d.png', i), 'tag' || i, 0 FROM k;";
    ASSERT_EQ(store.execForTests(sql.c_str()), 0);
}

void seedMirrorRows(ImageSemanticStore& store, int n)
{
    const std::string sql = "INSERT INTO image_semantic_fts SELECT path, tags FROM image_semantic ORDER BY path LIMIT " +
                            std::to_string(n) + ";";
    ASSERT_EQ(store.execForTests(sql.c_str()), 0);
}

TEST(ImageSemanticStore, WithoutBootstrapNothingIsReadOrWrittenAndNothingFails)
{
    TempDir dir;
    ImageSemanticStore store(dir / "image_semantic.sqlite");
    EXPECT_EQ(store.upsert("/a.png", {"cat"}, 1), std::nullopt);
    EXPECT_EQ(store.mergeTags("/a.png", {"cat"}, 1), std::nullopt);
    EXPECT_FALSE(store.hasTags("/a.png"));
    EXPECT_TRUE(store.needsReindex("/a.png"));
    EXPECT_TRUE(store.searchPaths({{"cat"}}, 10).empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "image_semantic.sqlite"));
}

TEST(ImageSemanticStore, BootstrapMakesBothTablesAndReportsAnUnopenableFile)
{
    OpenStore s;
    EXPECT_TRUE(s->isFullTextReady());
    EXPECT_EQ(s->upsert("/a.png", {"Cat", " 猫 "}, 5), std::nullopt);
    EXPECT_EQ(s->rowCount(false), 1);
    EXPECT_EQ(s->rowCount(true), 1);
    EXPECT_EQ(s->storedTags("/a.png"), "cat 猫");

    TempDir dir;
    std::ofstream(dir / "file") << "x";  // a file where the folder should be
    ImageSemanticStore blocked(dir / "file" / "image_semantic.sqlite");
    const std::optional<std::string> error = blocked.bootstrap();
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
}

TEST(ImageSemanticStore, TagTextIsTrimmedLowerCasedUniqueAndCutAt220)
{
    EXPECT_EQ(ImageSemanticStore::joinTags({" Cat ", "cat", "", "\n", "猫", "OCR:Sale"}), "cat 猫 ocr:sale");
    std::vector<std::string> many;
    for (int i = 0; i < 230; ++i)
        many.push_back("t" + std::to_string(i));
    const std::vector<std::string> kept = ImageSemanticStore::splitTags(ImageSemanticStore::joinTags(many));
    ASSERT_EQ(kept.size(), 220u);
    EXPECT_EQ(kept.back(), "t219");
    EXPECT_EQ(ImageSemanticStore::splitTags(" a\tb\u3000c  "), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(ImageSemanticStore, ReindexRuleLooksForRecognisedText)
{
    OpenStore s;
    EXPECT_TRUE(s->needsReindex("/none.png"));
    ASSERT_EQ(s->upsert("/empty.png", {}, 1), std::nullopt);
    EXPECT_TRUE(s->hasTags("/empty.png"));
    EXPECT_TRUE(s->needsReindex("/empty.png"));
    ASSERT_EQ(s->upsert("/cat.png", {"cat", "猫"}, 1), std::nullopt);
    EXPECT_TRUE(s->needsReindex("/cat.png"));
    ASSERT_EQ(s->upsert("/first.png", {"ocr:sale"}, 1), std::nullopt);
    EXPECT_FALSE(s->needsReindex("/first.png"));
    ASSERT_EQ(s->upsert("/later.png", {"cat", "ocr:sale"}, 1), std::nullopt);
    EXPECT_FALSE(s->needsReindex("/later.png"));
    ASSERT_EQ(s->upsert("/word.png", {"nocr:x"}, 1), std::nullopt);  // not at a tag start
    EXPECT_TRUE(s->needsReindex("/word.png"));
}

TEST(ImageSemanticStore, RowsOfTheFormatBeforeObjectsAreReadOnceMoreThenTheTextRuleHolds)
{
    TempDir dir;
    const auto file = dir / "image_semantic.sqlite";
    {
        // A database as the store made it before rows carried a format.
        sqlite::Connection old;
        ASSERT_EQ(old.open(file.string(), sqlite::Connection::Mode::ReadWriteCreate), SQLITE_OK);
        ASSERT_EQ(old.exec("CREATE TABLE image_semantic (path TEXT PRIMARY KEY, tags TEXT NOT NULL, "
                           "updated_at REAL NOT NULL);"
                           "INSERT INTO image_semantic VALUES ('/read.png', '红色 red ocr:sale', 1), "
                           "('/blank.png', '蓝色 blue', 1);"),
                  SQLITE_OK);
    }
    ImageSemanticStore store(file, std::make_shared<InstantClock>());
    ASSERT_EQ(store.bootstrap(), std::nullopt);
    EXPECT_EQ(store.storedTags("/read.png"), "红色 red ocr:sale");
    EXPECT_TRUE(store.needsReindex("/read.png"));
    EXPECT_TRUE(store.needsReindex("/blank.png"));

    ASSERT_EQ(store.mergeTags("/read.png", {"cup", "杯子"}, 2), std::nullopt);
    ASSERT_EQ(store.mergeTags("/blank.png", {"horse", "马"}, 2), std::nullopt);
    EXPECT_EQ(store.storedTags("/read.png"), "红色 red ocr:sale cup 杯子");
    EXPECT_FALSE(store.needsReindex("/read.png"));
    // Still no recognised text, and the file it was read from is unknown: looked at again.
    EXPECT_TRUE(store.needsReindex("/blank.png", ImageTagStore::kTagFormat, ImageFileStamp{10, 5.5}));
    // Read from a known state of its file: not again until that changes.
    const int format = ImageTagStore::kTagFormat;
    ASSERT_EQ(store.mergeTags("/blank.png", {}, 3, format, ImageFileStamp{10, 5.5}), std::nullopt);
    EXPECT_FALSE(store.needsReindex("/blank.png", format, ImageFileStamp{10, 5.5}));
    EXPECT_TRUE(store.needsReindex("/blank.png", format, ImageFileStamp{11, 5.5}));
    EXPECT_TRUE(store.needsReindex("/blank.png", format, ImageFileStamp{10, 5.25}));
    EXPECT_TRUE(store.needsReindex("/blank.png", format));
    EXPECT_TRUE(store.needsReindex("/blank.png", format + 1, ImageFileStamp{10, 5.5}));
    EXPECT_EQ(store.storedTags("/blank.png"), "蓝色 blue horse 马");
    EXPECT_EQ(store.searchPaths({{"马"}}, 10), (std::vector<std::string>{"/blank.png"}));
}

TEST(ImageSemanticStore, MergeKeepsStoredTagsFirstAndRewritesTheMirror)
{
    OpenStore s;
    ASSERT_EQ(s->upsert("/a.png", {"cat", "猫"}, 1), std::nullopt);
    ASSERT_EQ(s->mergeTags("/a.png", {" CAT", "red", "红色"}, 2), std::nullopt);
    EXPECT_EQ(s->storedTags("/a.png"), "cat 猫 red 红色");
    ASSERT_EQ(s->mergeTags("/a.png", {"red"}, 3), std::nullopt);
    EXPECT_EQ(s->storedTags("/a.png"), "cat 猫 red 红色");
    ASSERT_EQ(s->mergeTags("/new.png", {"dog"}, 3), std::nullopt);
    EXPECT_EQ(s->storedTags("/new.png"), "dog");
    // One mirror row per path, with the merged text.
    EXPECT_EQ(s->rowCount(true), 2);
    EXPECT_EQ(s->searchPaths({{"红色"}}, 10), std::vector<std::string>{"/a.png"});
}

// A write whose mirror row fails, here refused by a mirror that another
// connection put in its place, leaves the image's main row as it was too;
// the store writes on after it.
TEST(ImageSemanticStore, AWriteWhoseMirrorRowFailsLeavesTheMainRowAsItWas)
{
    OpenStore s;
    ASSERT_EQ(s->upsert("/a.png", {"cat"}, 1), std::nullopt);
    sqlite::Connection other;
    ASSERT_EQ(other.open(s->databaseURL().string(), sqlite::Connection::Mode::ReadWriteCreate), SQLITE_OK);
    ASSERT_EQ(other.exec("DROP TABLE image_semantic_fts;"
                         "CREATE TABLE image_semantic_fts (path TEXT, tags TEXT CHECK (tags NOT LIKE '%refused%'));"
                         "INSERT INTO image_semantic_fts (rowid, path, tags) SELECT rowid, path, tags FROM image_semantic;"),
              SQLITE_OK);

    EXPECT_NE(s->mergeTags("/a.png", {"refused"}, 2), std::nullopt);
    EXPECT_NE(s->upsert("/b.png", {"refused"}, 2), std::nullopt);
    EXPECT_EQ(s->storedTags("/a.png"), "cat");
    EXPECT_FALSE(s->hasTags("/b.png"));
    EXPECT_EQ(s->rowCount(false), 1);

    EXPECT_EQ(s->mergeTags("/a.png", {"dog"}, 3), std::nullopt);
    EXPECT_EQ(s->upsert("/b.png", {"red"}, 3), std::nullopt);
    EXPECT_EQ(s->storedTags("/a.png"), "cat dog");
    EXPECT_EQ(s->rowCount(false), 2);
    EXPECT_EQ(s->rowCount(true), 2);
}

// Labels of two words ("dining table") are kept whole, so merging what an
// image shows a second time changes nothing; their words and Chinese tags
// still find the image, with and without the full-text table.
TEST(ImageSemanticStore, ObjectLabelsWithSpacesAreStoredOnceAndFoundByTheirWords)
{
    const std::vector<std::string> tags =
        imagetags::classificationTags({{"furniture/table/dining table", 0.9f}, {"computer/computer mouse", 0.8f}});
    EXPECT_EQ(tags, (std::vector<std::string>{"furniture/table/dining_table", "furniture", "家具", "table", "桌子",
                                              "dining_table", "computer/computer_mouse", "computer", "电脑",
                                              "computer_mouse"}));
    for (const auto fullText : {ImageSemanticStore::FullText::IfAvailable, ImageSemanticStore::FullText::Off}) {
        OpenStore s(fullText);
        ASSERT_EQ(s->mergeTags("/new.jpg", tags, 1), std::nullopt);
        // A row written before, whose labels the tag text had split.
        ASSERT_EQ(s->upsert("/old.jpg", {"furniture/table/dining table", "dining table", "桌子"}, 1), std::nullopt);
        ASSERT_EQ(s->mergeTags("/old.jpg", tags, 2), std::nullopt);
        const std::optional<std::string> fresh = s->storedTags("/new.jpg"), old = s->storedTags("/old.jpg");
        EXPECT_EQ(ImageSemanticStore::splitTags(fresh.value_or("")), tags);
        ASSERT_EQ(s->mergeTags("/new.jpg", tags, 3), std::nullopt);
        ASSERT_EQ(s->mergeTags("/old.jpg", tags, 3), std::nullopt);
        EXPECT_EQ(s->storedTags("/new.jpg"), fresh);
        EXPECT_EQ(s->storedTags("/old.jpg"), old);

        const auto found = [&](const Groups& groups) {
            std::vector<std::string> paths = s->searchPaths(groups, 10);
            std::sort(paths.begin(), paths.end());
            return paths;
        };
        const std::vector<std::string> both{"/new.jpg", "/old.jpg"};
        EXPECT_EQ(found({{"dining"}, {"table"}}), both);
        EXPECT_EQ(found({{"桌子"}}), both);
        EXPECT_EQ(found({{"computer"}, {"mouse"}}), both);
    }
}

TEST(ImageSemanticStore, FullTextSearchRanksByBm25AndMatchesEveryGroup)
{
    OpenStore s;
    ASSERT_EQ(s->upsert("/long.png", {"红色", "a", "b", "c", "d", "e", "f", "g", "cat"}, 1), std::nullopt);
    ASSERT_EQ(s->upsert("/short.png", {"红色", "red"}, 1), std::nullopt);
    ASSERT_EQ(s->upsert("/ocr.png", {"ocr:红色促销", "cat"}, 1), std::nullopt);
    ASSERT_EQ(s->upsert("/blue.png", {"蓝色", "blue"}, 1), std::nullopt);

    // The shorter text holding the word ranks first; a word also matches as a prefix.
    EXPECT_EQ(s->searchPaths({{"红色"}}, 10), (std::vector<std::string>{"/short.png", "/long.png", "/ocr.png"}));
    EXPECT_EQ(s->searchPaths({{"红色"}}, 1), std::vector<std::string>{"/short.png"});
    // Every group must match; any word of a group does.
    auto both = s->searchPaths({{"红色"}, {"cat", "dog"}}, 10);
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, (std::vector<std::string>{"/long.png", "/ocr.png"}));
    // A third group takes no part; blank words and groups are dropped.
    EXPECT_EQ(s->searchPaths({{"blue"}, {" "}, {"蓝色"}, {"nothing"}}, 10), std::vector<std::string>{"/blue.png"});
    EXPECT_TRUE(s->searchPaths({{" ", "\n"}}, 10).empty());
    EXPECT_TRUE(s->searchPaths({{"红色"}}, 0).empty());
    EXPECT_TRUE(s->searchPaths({{"红色"}}, -3).empty());
    // A double quote stays inside its phrase.
    EXPECT_NO_THROW(s->searchPaths({{"a\"b", "红色"}}, 10));
    EXPECT_EQ(s->searchPaths({{"x\"y", "蓝色"}}, 10), std::vector<std::string>{"/blue.png"});
}

TEST(ImageSemanticStore, MatchExpressionTakesTwoGroupsOf24Words)
{
    EXPECT_EQ(ImageSemanticStore::matchExpression({{"a"}, {"b\"c"}}),
              "(\"a\" OR \"a\"*) AND (\"b\"\"c\" OR \"b\"\"c\"*)");
    std::vector<std::string> words;
    for (int i = 0; i < 30; ++i)
        words.push_back("w" + std::to_string(i));
    const std::string expression = ImageSemanticStore::matchExpression({words, {"x"}, {"y"}});
    EXPECT_NE(expression.find("\"w23\""), std::string::npos);
    EXPECT_EQ(expression.find("\"w24\""), std::string::npos);
    EXPECT_EQ(expression.find("\"y\""), std::string::npos);
}

TEST(ImageSemanticStore, WithoutFullTextEveryGroupAndWordCountsThroughLike)
{
    OpenStore s(ImageSemanticStore::FullText::Off);
    EXPECT_FALSE(s->isFullTextReady());
    ASSERT_EQ(s->upsert("/a.png", {"红色", "cat"}, 1), std::nullopt);
    ASSERT_EQ(s->upsert("/b.png", {"红色", "dog"}, 1), std::nullopt);
    EXPECT_EQ(s->searchPaths({{"红色"}, {"cat"}}, 10), std::vector<std::string>{"/a.png"});
    EXPECT_TRUE(s->searchPaths({{"红色"}, {"cat"}, {"dog"}}, 10).empty());  // the third group counts here
    EXPECT_EQ(s->searchPaths({{"红"}, {"do"}}, 10), std::vector<std::string>{"/b.png"});  // contained text
}

TEST(ImageSemanticStore, BackfillCopiesOnlyWhenTheMirrorIsClearlyShort)
{
    struct Case {
        int main;
        int mirror;
        std::int64_t mirrorAfter;
        std::size_t chunks;
    };
    // The copied rows take their main rows' rowids: rows the mirror held are replaced, not doubled.
    for (const Case c : {Case{100, 20, 100, 1}, Case{100, 40, 40, 0}, Case{1000, 250, 250, 0},
                         Case{1000, 249, 1000, 2}, Case{0, 0, 0, 0}}) {
        SCOPED_TRACE(std::to_string(c.main) + "/" + std::to_string(c.mirror));
        OpenStore s;
        if (c.main > 0)
            seedMainRows(*s, c.main);
        if (c.mirror > 0)
            seedMirrorRows(*s, c.mirror);
        s.clock->clearSleeps();
        s->scheduleFTSBackfillIfNeeded();
        ASSERT_TRUE(test::eventually([&] { return s->runningBackgroundJobs() == 0; }));
        EXPECT_EQ(s->rowCount(true), c.mirrorAfter);
        EXPECT_EQ(s.clock->sleeps().size(), c.chunks);  // one 16 ms pause after each chunk
    }
}

TEST(ImageSemanticStore, BackfillLeavesOneMirrorRowPerImage)
{
    OpenStore s;
    seedMainRows(*s, 100);
    seedMirrorRows(*s, 20);
    s->scheduleFTSBackfillIfNeeded();
    ASSERT_TRUE(test::eventually([&] { return s->runningBackgroundJobs() == 0; }));
    ASSERT_EQ(s->rowCount(true), 100);
    EXPECT_EQ(s->searchPaths({{"tag0"}}, 10), std::vector<std::string>{"/img/000000.png"});
    ASSERT_EQ(s->mergeTags("/img/000000.png", {"red"}, 1), std::nullopt);
    EXPECT_EQ(s->rowCount(true), 100);
    EXPECT_EQ(s->searchPaths({{"tag0"}, {"red"}}, 10), std::vector<std::string>{"/img/000000.png"});
}

// The two tables as the first versions made them, then `rows`.
int makeTablesOfBefore(sqlite::Connection& raw, const std::filesystem::path& file, const std::string& rows)
{
    if (const int rc = raw.open(file.string(), sqlite::Connection::Mode::ReadWriteCreate); rc != SQLITE_OK)
        return rc;
    const std::string sql = "CREATE TABLE image_semantic (path TEXT PRIMARY KEY, tags TEXT NOT NULL, "
                            "updated_at REAL NOT NULL);"
                            "CREATE VIRTUAL TABLE image_semantic_fts USING fts5(path UNINDEXED, tags, "
                            "tokenize = 'unicode61');" +
                            rows;
    return raw.exec(sql.c_str());
}

// The first column of the first row `sql` gives, -1 when it gives none.
std::int64_t firstNumber(sqlite::Connection& db, const char* sql)
{
    sqlite::Statement select;
    EXPECT_EQ(select.prepare(db, sql), SQLITE_OK) << sql;
    return select.step() == SQLITE_ROW ? select.columnInt64(0) : -1;
}

// A mirror written before kept rowids of its own, and at times a stale second
// row of a path. Opened, it is made again with each row under its main row's
// rowid, so every later write replaces it by rowid.
TEST(ImageSemanticStore, AnOlderMirrorIsMadeAgainUnderItsRowsRowidsAndWritesKeepItThere)
{
    TempDir dir;
    const auto file = dir / "image_semantic.sqlite";
    sqlite::Connection raw;
    ASSERT_EQ(makeTablesOfBefore(raw, file,
                                 "INSERT INTO image_semantic VALUES ('/a.png', 'cat 猫', 1), ('/b.png', 'red 红色', 1), "
                                 "('/c.png', 'blue', 1);"
                                 "INSERT INTO image_semantic_fts (rowid, path, tags) VALUES (7, '/b.png', 'red 红色'), "
                                 "(8, '/a.png', 'dog'), (9, '/c.png', 'blue'), (10, '/a.png', 'cat 猫');"),
              SQLITE_OK);
    const auto tiedRows = [&] {
        return firstNumber(raw, "SELECT COUNT(*) FROM image_semantic_fts f JOIN image_semantic m "
                                "ON m.rowid = f.rowid AND m.path = f.path AND m.tags = f.tags;");
    };

    ImageSemanticStore store(file, std::make_shared<InstantClock>());
    ASSERT_EQ(store.bootstrap(), std::nullopt);
    ASSERT_TRUE(test::eventually([&] { return store.runningBackgroundJobs() == 0; }));
    EXPECT_EQ(store.rowCount(true), 3);
    EXPECT_EQ(tiedRows(), 3);
    EXPECT_TRUE(store.searchPaths({{"dog"}}, 10).empty()) << "the stale row is gone";
    EXPECT_EQ(store.searchPaths({{"猫"}}, 10), std::vector<std::string>{"/a.png"});

    ASSERT_EQ(store.upsert("/b.png", {"green"}, 2), std::nullopt);
    ASSERT_EQ(store.mergeTags("/b.png", {"绿色"}, 3), std::nullopt);
    ASSERT_EQ(store.upsert("/d.png", {"red"}, 3), std::nullopt);
    EXPECT_EQ(store.rowCount(true), 4);
    EXPECT_EQ(tiedRows(), 4);
    EXPECT_EQ(store.searchPaths({{"red"}}, 10), std::vector<std::string>{"/d.png"});
    EXPECT_EQ(store.searchPaths({{"green"}, {"绿色"}}, 10), std::vector<std::string>{"/b.png"});

    // Opened again, the tied mirror and the users' tags are kept as they are.
    ImageSemanticStore again(file, std::make_shared<InstantClock>());
    ASSERT_EQ(again.bootstrap(), std::nullopt);
    EXPECT_EQ(tiedRows(), 4);
    EXPECT_EQ(again.storedTags("/b.png"), "green 绿色");
}

// A mirror already tied to its rows' rowids is set, once, to merge its
// segments 16 at a time, the pace at which a write's cost stays near flat as
// the tagged images grow; its answers and the users' tags are kept.
TEST(ImageSemanticStore, ATiedMirrorOfBeforeIsKeptAndSetToMergeSixteenSegmentsAtATime)
{
    TempDir dir;
    const auto file = dir / "image_semantic.sqlite";
    sqlite::Connection raw;
    ASSERT_EQ(makeTablesOfBefore(raw, file,
                                 "INSERT INTO image_semantic VALUES ('/a.png', 'cat 猫', 1), ('/b.png', 'red 红色', 1);"
                                 "INSERT INTO image_semantic_fts (rowid, path, tags) "
                                 "SELECT rowid, path, tags FROM image_semantic;"
                                 "PRAGMA user_version = 1;"),
              SQLITE_OK);
    const auto automerge = [&] {
        return firstNumber(raw, "SELECT v FROM image_semantic_fts_config WHERE k = 'automerge';");
    };
    ASSERT_EQ(automerge(), -1) << "SQLite's default, 4";

    for (int open = 0; open < 2; ++open) {
        ImageSemanticStore store(file, std::make_shared<InstantClock>());
        ASSERT_EQ(store.bootstrap(), std::nullopt);
        ASSERT_TRUE(test::eventually([&] { return store.runningBackgroundJobs() == 0; }));
        EXPECT_EQ(automerge(), 16);
        EXPECT_TRUE(store.isFullTextReady());
        EXPECT_EQ(store.searchPaths({{"猫"}}, 10), std::vector<std::string>{"/a.png"});
        EXPECT_EQ(store.searchPaths({{"red"}, {"红色"}}, 10), std::vector<std::string>{"/b.png"});
        EXPECT_EQ(store.storedTags("/a.png"), "cat 猫");
    }
}

TEST(ImageSemanticStore, DamagedFileIsMovedAsideWithItsLogAndRebuilt)
{
    TempDir dir;
    const auto db = dir / "image_semantic.sqlite";
    const std::string garbage(8192, 'Z');
    std::ofstream(db, std::ios::binary) << garbage;
    std::ofstream(db.string() + "-wal", std::ios::binary) << "old log";
    {
        ImageSemanticStore store(db, std::make_shared<InstantClock>());
        ASSERT_EQ(store.bootstrap(), std::nullopt);
        ASSERT_EQ(store.upsert("/a.png", {"red"}, 1), std::nullopt);
        EXPECT_EQ(store.searchPaths({{"red"}}, 5), std::vector<std::string>{"/a.png"});
    }
    std::ifstream aside(db.string() + ".corrupt", std::ios::binary);
    const std::string kept((std::istreambuf_iterator<char>(aside)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, garbage);
    EXPECT_TRUE(std::filesystem::exists(db.string() + ".corrupt-wal"));

    // A healthy file is opened as it is, its rows kept.
    ImageSemanticStore again(db, std::make_shared<InstantClock>());
    ASSERT_EQ(again.bootstrap(), std::nullopt);
    EXPECT_EQ(again.storedTags("/a.png"), "red");
}

TEST(ImageSemanticStore, OnlyItsOwnDatabaseIsOpenedAndWrittenAndItIsPrivate)
{
    TempDir dir;
    const mode_t savedMask = ::umask(022);
    const auto notes = dir / "notes.sqlite";
    {
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open(notes.c_str(), &handle), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(handle, "CREATE TABLE image_semantic_notes (body TEXT);", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(handle);
    }
    const auto bytes = [](const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = bytes(notes);
    for (const bool link : {true, false}) {
        SCOPED_TRACE(link ? "a link to another database" : "another database in its place");
        const auto folder = dir / (link ? "linked" : "copied");
        std::filesystem::create_directory(folder);
        const auto file = folder / "image_semantic.sqlite";
        if (link)
            std::filesystem::create_symlink(notes, file);
        else
            std::filesystem::copy_file(notes, file);
        {
            ImageSemanticStore store(file, std::make_shared<InstantClock>());
            ASSERT_EQ(store.bootstrap(), std::nullopt);
            ASSERT_EQ(store.upsert("/a.png", {"cat"}, 1), std::nullopt);
        }
        EXPECT_FALSE(std::filesystem::is_symlink(file));
        EXPECT_EQ(bytes(folder / "image_semantic.sqlite.corrupt"), before) << "set aside as it was";
        EXPECT_EQ(std::filesystem::status(file).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_EQ(bytes(notes), before);
    EXPECT_FALSE(std::filesystem::exists(notes.string() + "-wal"));
    ::umask(savedMask);
}

} // namespace
} // namespace pallix
