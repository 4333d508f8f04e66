#include "Core/IndexDB/LoweredNames.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"
#include "Platform/Text.h"

namespace pallix {
namespace {

using indexsql::RangeRead;
using sqlite::Binding;
using sqlite::Connection;
using sqlite::Statement;

// Names that lower-case in every way the prefix statement meets: mixed case,
// accents, ideographs, full-width letters, expansions ("İ" becomes two code
// points) and the LIKE wildcards "%" and "_" typed as part of a name.
const std::vector<std::string> kNames = {
    "Report.PDF", "report-old.txt", "RÉSUMÉ.doc", "résumé.txt", "École.pdf", "ÉCOLE_notes", "ecole.md",
    "项目计划.docx", "项目.txt", "項目.txt", "100%_done.txt", "100x_done.txt", "100%.txt", "a_b.txt", "axb.txt",
    "a%b.txt", "İstanbul.jpg", "istanbul.txt", "Straße.txt", "STRASSE.TXT", "Ωmega.txt", "ωmega.txt",
    "ǅemal.txt", "ＡＢＣ.txt", "abc.txt", "Zed", "zed.bin", "\uFFFDodd", "\uFFFEodd", "o\uFFFFdd"};

const std::vector<std::string> kPrefixes = {
    "r", "re", "REP", "report", "ré", "RÉ", "é", "éc", "ÉCOLE", "eco", "项", "项目", "項", "100%", "100_", "100",
    "a_", "a%", "a", "ab", "ａｂ", "İs", "ist", "stra", "straß", "ω", "Ω", "ǆ", "p", "pr", "prod", "prod_", "PROD_0",
    "%", "_x", "zzz", "z", "\uFFFD", "\uFFFE", "o\uFFFD"};

// A file as an older build made it: no content column, no lower-cased names.
// Many "prod" names, so that a prefix meets the row limit and the answer
// depends on which rows come first.
void makeOldFile(const std::filesystem::path& file)
{
    Connection db;
    ASSERT_EQ(db.open(file.string(), Connection::Mode::ReadWriteCreate), SQLITE_OK);
    ASSERT_EQ(db.exec("CREATE TABLE file_index (path TEXT PRIMARY KEY, name TEXT NOT NULL, parent_path TEXT NOT NULL,"
                      " extension TEXT NOT NULL, size INTEGER NOT NULL, modified_at REAL NOT NULL,"
                      " is_directory INTEGER NOT NULL);"
                      "CREATE INDEX idx_file_index_extension ON file_index(extension);"),
              SQLITE_OK);
    Statement insert;
    ASSERT_EQ(insert.prepare(db, "INSERT INTO file_index VALUES (?, ?, '/d', ?, 1, 1700000000, ?);"), SQLITE_OK);
    const auto add = [&](const std::string& name, bool folder) {
        const std::size_t dot = name.rfind('.');
        insert.bindAll(std::vector<Binding>{Binding::text("/d/" + name), Binding::text(name),
                                            Binding::text(dot == std::string::npos ? "" : text::lower(name.substr(dot + 1))),
                                            Binding::integer(folder ? 1 : 0)});
        ASSERT_EQ(insert.step(), SQLITE_DONE);
        insert.reset();
    };
    ASSERT_EQ(db.exec("BEGIN;"), SQLITE_OK);
    for (int i = 0; i < 700; ++i) {
        add((i % 3 == 0 ? "Prod_" : "prod") + std::to_string(1000 + i) + (i % 2 ? ".txt" : ".pdf"), i % 5 == 0);
        if (i < static_cast<int>(kNames.size()))
            add(kNames[static_cast<std::size_t>(i)], i % 4 == 0);
    }
    ASSERT_EQ(db.exec("COMMIT;"), SQLITE_OK);
}

std::vector<std::string> rowsOf(const Connection& db, const indexsql::SqlText& text)
{
    Statement s;
    EXPECT_EQ(s.prepare(db, text.sql), SQLITE_OK) << db.errorMessage() << "\n" << text.sql;
    s.bindAll(text.bindings);
    std::vector<std::string> paths;
    while (s.step() == SQLITE_ROW)
        paths.emplace_back(s.columnText(0));
    return paths;
}

std::string scalar(const Connection& db, const std::string& sql, const std::vector<Binding>& bindings = {})
{
    Statement s;
    if (s.prepare(db, sql) != SQLITE_OK)
        return "prepare failed: " + db.errorMessage();
    s.bindAll(bindings);
    return s.step() == SQLITE_ROW ? std::string(s.columnText(0)) : std::string();
}

std::string planOf(const Connection& db, const indexsql::SqlText& text)
{
    Statement s;
    EXPECT_EQ(s.prepare(db, "EXPLAIN QUERY PLAN " + text.sql), SQLITE_OK);
    s.bindAll(text.bindings);
    std::string plan;
    while (s.step() == SQLITE_ROW)
        plan += std::string(s.columnText(3)) + "\n";
    return plan;
}

// The queries every prefix is asked with: the word alone and under the filters
// the statement carries (a kind, an extension).
std::vector<SearchQuery> queriesOf(const std::string& prefix)
{
    std::vector<SearchQuery> queries(3, test::wordsQuery({prefix}));
    queries[1].typeFilter = IndexedItem::ItemType::File;
    queries[2].extensionFilter = "txt";
    return queries;
}

TEST(LoweredNames, SuccessorBoundsEveryStringWithTheHead)
{
    EXPECT_EQ(indexsql::byteSuccessor("prod"), "proe");
    EXPECT_EQ(indexsql::byteSuccessor("a\xFF\xFF"), "b");
    EXPECT_EQ(indexsql::byteSuccessor("\xFF"), std::nullopt);
    EXPECT_EQ(indexsql::byteSuccessor(""), std::nullopt);
    // Multi-byte heads: the last byte moves on, whatever code point it ends.
    for (const std::string head : {"é", "项目", "ǆ", "ａｂ", "\xF4\x8F\xBF\xBF", "a\xC2\xBF"}) {
        const std::optional<std::string> high = indexsql::byteSuccessor(head);
        ASSERT_TRUE(high) << head;
        for (const std::string tail : {"", "a", "\xF4\x8F\xBF\xBF", "\xEF\xBF\xBD", "zzz\x7F"}) {
            const std::string inside = head + tail;
            EXPECT_TRUE(inside >= head && inside < *high) << head << " + " << tail;
        }
        EXPECT_GE(*high, head + "\xF4\x8F\xBF\xBF\xF4\x8F\xBF\xBF");
    }
}

TEST(LoweredNames, RangeOnlyForPlainCaselessWordsWithALiteralHead)
{
    const auto range = [](std::string word, auto&& adjust) {
        SearchQuery q = test::wordsQuery({word});
        adjust(q);
        return indexsql::loweredPrefixRange(q, true);
    };
    const auto plain = [](SearchQuery&) {};
    const std::optional<indexsql::PrefixRange> ecole = range(" ÉCole ", plain);
    ASSERT_TRUE(ecole);
    EXPECT_EQ(ecole->low, "école");
    EXPECT_EQ(ecole->likePattern, "école%");
    const std::optional<indexsql::PrefixRange> wild = range("A_b%c", plain);
    ASSERT_TRUE(wild);
    EXPECT_EQ(wild->low, "a");
    EXPECT_EQ(wild->likePattern, "a_b%c%");
    EXPECT_FALSE(wild->rangeSuffices);
    EXPECT_TRUE(ecole->rangeSuffices);
    EXPECT_FALSE(range("x\uFFFD", plain));
    EXPECT_FALSE(range("\uFFFF", plain));
    EXPECT_FALSE(range("%ab", plain));
    EXPECT_FALSE(range("_", plain));
    EXPECT_FALSE(range("ab", [](SearchQuery& q) { q.caseSensitive = true; }));
    EXPECT_FALSE(range("ab", [](SearchQuery& q) { q.useRegularExpression = true; }));
    EXPECT_FALSE(range("ab", [](SearchQuery& q) { q.wildcardPattern = "ab*"; }));
    EXPECT_FALSE(range("ab", [](SearchQuery& q) { q.modifiedAfter = 1.0; }));
    SearchQuery dated = test::wordsQuery({"ab"});
    dated.modifiedAfter = 1.0;
    EXPECT_TRUE(indexsql::loweredPrefixRange(dated, false));  // no date clause, no other order
}

TEST(LoweredNames, OldFileMigratesAndEveryWriterKeepsTheColumn)
{
    test::TempDir dir;
    const std::filesystem::path file = dir / "old.sqlite";
    makeOldFile(file);

    // The warm-up waits until the explicit fill below is over, so that the
    // store's own fill cannot run meanwhile.
    std::promise<void> fillDone;
    std::shared_future<void> gate = fillDone.get_future().share();
    IndexStore store(file, std::make_shared<test::InstantClock>());
    store.setBeforeCacheInstallHook([gate] { gate.wait(); });
    ASSERT_TRUE(store.bootstrap());
    EXPECT_FALSE(store.isLoweredNameColumnComplete());

    Connection db;
    ASSERT_EQ(db.open(file.string(), Connection::Mode::ReadWriteCreate), SQLITE_OK);
    EXPECT_FALSE(loweredname::isComplete(db));
    // Until the mark, the statement is the one that lower-cases every name.
    const SearchQuery ab = test::wordsQuery({"ab"});
    EXPECT_EQ(loweredname::typingStatement(db, false, ab, 10, false).sql,
              indexsql::typingFastStatement(ab, 10, false).sql);

    // Rows a writer adds between two slices carry their value at once.
    int slices = 0;
    std::vector<std::string> writtenDuring;
    CancelToken token;
    const bool filled = loweredname::fill(file, token, 64, [&] {
        if (++slices % 4 != 1)
            return;
        const std::string name = slices % 8 == 1 ? "ÉCRIT" + std::to_string(slices) + ".TXT" : "写入Ä" + std::to_string(slices);
        ASSERT_TRUE(store.upsert({test::fileItem("/w/" + name)}));
        EXPECT_EQ(scalar(db, "SELECT lower_name FROM file_index WHERE path = ?;", {Binding::text("/w/" + name)}),
                  text::lower(name));
        writtenDuring.push_back(name);
    });
    fillDone.set_value();
    ASSERT_TRUE(filled);
    EXPECT_GT(writtenDuring.size(), 2u);
    EXPECT_TRUE(loweredname::isComplete(db));
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM file_index WHERE lower_name IS NOT lower(name);"), "0");
    ASSERT_TRUE(test::eventually([&] { return store.isLoweredNameColumnComplete(); }));

    // Our writes after the mark keep it; a writer that knows nothing of the
    // column (an older build) takes it back, by adding or by renaming.
    ASSERT_TRUE(store.upsert({test::fileItem("/w/Après.TXT"), test::fileItem("/d/Report.PDF", 99)}));
    EXPECT_TRUE(loweredname::isComplete(db));
    EXPECT_EQ(scalar(db, "SELECT lower_name FROM file_index WHERE path = '/w/Après.TXT';"), "après.txt");
    ASSERT_EQ(db.exec("UPDATE file_index SET name = 'Other.txt' WHERE path = '/d/zed.bin';"), SQLITE_OK);
    EXPECT_FALSE(loweredname::isComplete(db));
    EXPECT_EQ(scalar(db, "SELECT lower_name IS NULL FROM file_index WHERE path = '/d/zed.bin';"), "1");
    ASSERT_TRUE(loweredname::fill(file, token));
    EXPECT_TRUE(loweredname::isComplete(db));
    ASSERT_EQ(db.exec("INSERT INTO file_index (path, name, parent_path, extension, size, modified_at, is_directory)"
                      " VALUES ('/d/Late', 'Late', '/d', '', 1, 1, 0);"),
              SQLITE_OK);
    EXPECT_FALSE(loweredname::isComplete(db));

    // A cancelled fill sets no mark.
    CancelToken cancelled;
    cancelled.cancel();
    EXPECT_FALSE(loweredname::fill(file, cancelled));
    EXPECT_FALSE(loweredname::isComplete(db));
}

TEST(LoweredNames, RangeReadsAnswerAsTheStatementThatLowersEveryName)
{
    test::TempDir dir;
    const std::filesystem::path file = dir / "old.sqlite";
    makeOldFile(file);
    {
        IndexStore store(file);
        ASSERT_TRUE(store.bootstrap());
        ASSERT_TRUE(test::eventually([&] { return store.isLoweredNameColumnComplete(); }));
    }
    Connection db;
    ASSERT_EQ(db.open(file.string(), Connection::Mode::ReadOnly), SQLITE_OK);
    ASSERT_TRUE(loweredname::isComplete(db));

    for (const std::string& prefix : kPrefixes) {
        for (const SearchQuery& query : queriesOf(prefix)) {
            SCOPED_TRACE(prefix + (query.typeFilter ? " files" : query.extensionFilter ? " .txt" : ""));
            const std::vector<std::string> expected = rowsOf(db, indexsql::typingFastStatement(query, 10, false));
            EXPECT_EQ(rowsOf(db, loweredname::typingStatement(db, true, query, 10, false)), expected);
            const std::optional<indexsql::PrefixRange> range = indexsql::loweredPrefixRange(query, false);
            if (!range)
                continue;
            for (RangeRead read : {RangeRead::RowNumbers, RangeRead::Scan})
                EXPECT_EQ(rowsOf(db, indexsql::typingRangeStatement(query, 10, false, *range, read)), expected);
            if (!indexsql::hasFilterClauses(query, false)) {
                EXPECT_EQ(rowsOf(db, indexsql::typingRangeStatement(query, 10, false, *range, RangeRead::FirstRowNumbers)),
                          expected);
            }
        }
    }
    // The prefix "prod" meets the row limit: the answer is the first 600 in row order.
    EXPECT_EQ(rowsOf(db, indexsql::typingFastStatement(test::wordsQuery({"prod"}), 10, false)).size(), 600u);

    // The range is read on the index, not by a pass over the table.
    SearchQuery word = test::wordsQuery({"résumé"});
    const indexsql::SqlText first = indexsql::typingRangeStatement(word, 10, false, *indexsql::loweredPrefixRange(word, false),
                                                                   RangeRead::FirstRowNumbers);
    EXPECT_NE(planOf(db, first).find("idx_file_index_lower_name"), std::string::npos) << planOf(db, first);
    EXPECT_EQ(loweredname::typingStatement(db, true, word, 10, false).sql, first.sql);
    word.typeFilter = IndexedItem::ItemType::File;
    const indexsql::SqlText rowNumbers =
        indexsql::typingRangeStatement(word, 10, false, *indexsql::loweredPrefixRange(word, false), RangeRead::RowNumbers);
    EXPECT_NE(planOf(db, rowNumbers).find("idx_file_index_lower_name"), std::string::npos) << planOf(db, rowNumbers);
    EXPECT_EQ(loweredname::typingStatement(db, true, word, 10, false).sql, rowNumbers.sql);
    SearchQuery dense = test::wordsQuery({"pro"});
    dense.typeFilter = IndexedItem::ItemType::File;
    EXPECT_EQ(loweredname::typingStatement(db, true, dense, 10, false).sql,
              indexsql::typingRangeStatement(dense, 10, false, *indexsql::loweredPrefixRange(dense, false),
                                             RangeRead::Scan)
                  .sql);
}

TEST(LoweredNames, NewFileIsCompleteAtOnceAndBothSearchesAnswerAsBefore)
{
    test::TempDir dir;
    const std::filesystem::path file = dir / "new.sqlite";
    IndexStore store(file);
    ASSERT_TRUE(store.bootstrap());
    EXPECT_TRUE(store.isLoweredNameColumnComplete());
    std::vector<IndexedItem> items;
    for (const std::string& name : kNames)
        items.push_back(test::fileItem("/n/" + name));
    ASSERT_TRUE(store.upsert(items));

    Connection db;
    ASSERT_EQ(db.open(file.string(), Connection::Mode::ReadOnly), SQLITE_OK);
    EXPECT_TRUE(loweredname::isComplete(db));
    std::size_t answered = 0;
    for (const std::string& prefix : kPrefixes) {
        SCOPED_TRACE(prefix);
        const SearchQuery query = test::wordsQuery({prefix});
        const indexsql::SqlText old = indexsql::typingFastStatement(query, 10, false);
        std::vector<IndexedItem> rows;
        Statement s;
        ASSERT_EQ(s.prepare(db, old.sql), SQLITE_OK);
        s.bindAll(old.bindings);
        while (s.step() == SQLITE_ROW)
            rows.push_back(indexsql::rowToItem(s));
        const std::vector<std::string> expected =
            rows.empty() ? std::vector<std::string>{} : test::pathsOf(SearchEngine().search(rows, query, 10));
        answered += !expected.empty();
        EXPECT_EQ(test::pathsOf(store.typingFastDatabaseSearch(query, 10)), expected);
        EXPECT_EQ(test::pathsOf(IndexStore::readOnlyTypingFastPrefixSearch(file, query, 10)), expected);
    }
    EXPECT_GT(answered, kPrefixes.size() / 2);
}

} // namespace
} // namespace pallix
