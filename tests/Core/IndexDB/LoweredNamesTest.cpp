#include "Core/IndexDB/LoweredNames.h"

#include <tuple>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "Core/IndexDB/ReadOnlySearch.h"
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

TEST(LoweredNames, RangeBoundsEveryNameWithTheLiteralHeadOfAPlainCaselessWord)
{
    EXPECT_EQ(indexsql::byteSuccessor("a\xFF\xFF"), "b");
    EXPECT_EQ(indexsql::byteSuccessor("\xFF"), std::nullopt);
    for (const std::string head : {"prod", "é", "项目", "ａｂ", "\xF4\x8F\xBF\xBF", "a\xC2\xBF"}) {
        const std::optional<std::string> high = indexsql::byteSuccessor(head);
        ASSERT_TRUE(high) << head;
        for (const std::string tail : {"", "a", "\xF4\x8F\xBF\xBF\xF4\x8F\xBF\xBF", "\xEF\xBF\xBD"})
            EXPECT_TRUE(head + tail >= head && head + tail < *high) << head << " + " << tail;
    }
    const auto range = [](std::string word, void (*adjust)(SearchQuery&)) {
        SearchQuery q = test::wordsQuery({word});
        adjust(q);
        return indexsql::loweredPrefixRange(q, true);
    };
    const auto plain = [](SearchQuery&) {};
    const std::optional<indexsql::PrefixRange> ecole = range(" ÉCole ", plain), wild = range("A_b%c", plain);
    ASSERT_TRUE(ecole && wild);
    EXPECT_EQ(std::tie(ecole->low, ecole->likePattern, ecole->rangeSuffices), std::make_tuple("école", "école%", true));
    EXPECT_EQ(std::tie(wild->low, wild->likePattern, wild->rangeSuffices), std::make_tuple("a", "a_b%c%", false));
    // No literal head, or one that LIKE reads otherwise; case-sensitive,
    // patterns and a date clause keep the statement without the column.
    for (const std::string word : {"%ab", "_", "x\uFFFD", "\uFFFF"})
        EXPECT_FALSE(range(word, plain)) << word;
    EXPECT_FALSE(range("ab", [](SearchQuery& q) { q.caseSensitive = true; }));
    EXPECT_FALSE(range("ab", [](SearchQuery& q) { q.useRegularExpression = true; }));
    EXPECT_FALSE(range("ab", [](SearchQuery& q) { q.wildcardPattern = "ab*"; }));
    EXPECT_FALSE(range("ab", [](SearchQuery& q) { q.modifiedAfter = 1.0; }));
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
    test::ProbedStore store(file, std::make_shared<test::InstantClock>());
    store.probe().setBeforeCacheInstallHook([gate] { gate.wait(); });
    ASSERT_TRUE(store.bootstrap());
    EXPECT_FALSE(store.probe().isLoweredNameColumnComplete());

    Connection db;
    ASSERT_EQ(db.open(file.string(), Connection::Mode::ReadWriteCreate), SQLITE_OK);
    EXPECT_FALSE(loweredname::isComplete(db));
    // Until the mark, the statement is the one that lower-cases every name.
    const SearchQuery ab = test::wordsQuery({"ab"});
    EXPECT_EQ(loweredname::typingStatement(db, false, ab, 10, false).sql,
              indexsql::typingFastStatement(ab, 10, false).sql);

    // Rows a writer adds between two slices carry their value at once.
    int slices = 0, written = 0;
    CancelToken token;
    const bool filled = loweredname::fill(file, token, 64, [&] {
        if (++slices % 4 != 1)
            return;
        const std::string name = slices % 8 == 1 ? "ÉCRIT" + std::to_string(slices) + ".TXT" : "写入Ä" + std::to_string(slices);
        ASSERT_TRUE(store.upsert({test::fileItem("/w/" + name)}));
        EXPECT_EQ(scalar(db, "SELECT lower_name FROM file_index WHERE path = ?;", {Binding::text("/w/" + name)}),
                  text::lower(name));
        ++written;
    });
    fillDone.set_value();
    ASSERT_TRUE(filled);
    EXPECT_GT(written, 2);
    EXPECT_TRUE(loweredname::isComplete(db));
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM file_index WHERE lower_name IS NOT lower(name);"), "0");
    ASSERT_TRUE(test::eventually([&] { return store.probe().isLoweredNameColumnComplete(); }));

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

    CancelToken cancelled;  // a cancelled fill sets no mark
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
        test::ProbedStore store(file);
        ASSERT_TRUE(store.bootstrap());
        ASSERT_TRUE(test::eventually([&] { return store.probe().isLoweredNameColumnComplete(); }));
    }
    Connection db;
    ASSERT_EQ(db.open(file.string(), Connection::Mode::ReadOnly), SQLITE_OK);
    ASSERT_TRUE(loweredname::isComplete(db));

    for (const std::string& prefix : kPrefixes) {
        // The word alone and under the filters the statement carries.
        std::vector<SearchQuery> queries(3, test::wordsQuery({prefix}));
        queries[1].typeFilter = IndexedItem::ItemType::File;
        queries[2].extensionFilter = "txt";
        for (const SearchQuery& query : queries) {
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

    // Each form is taken where it is meant to be, and reads the range on the index.
    const auto statementFor = [&](std::string word, bool filtered, RangeRead read) {
        SearchQuery q = test::wordsQuery({word});
        if (filtered)
            q.typeFilter = IndexedItem::ItemType::File;
        EXPECT_EQ(loweredname::typingStatement(db, true, q, 10, false).sql,
                  indexsql::typingRangeStatement(q, 10, false, *indexsql::loweredPrefixRange(q, false), read).sql);
        return planOf(db, loweredname::typingStatement(db, true, q, 10, false));
    };
    EXPECT_NE(statementFor("résumé", false, RangeRead::FirstRowNumbers).find("idx_file_index_lower_name"), std::string::npos);
    EXPECT_NE(statementFor("résumé", true, RangeRead::RowNumbers).find("idx_file_index_lower_name"), std::string::npos);
    statementFor("pro", true, RangeRead::Scan);
}

TEST(LoweredNames, NewFileIsCompleteAtOnceAndBothPrefixSearchesAnswerAsBefore)
{
    test::TempDir dir;
    const std::filesystem::path file = dir / "new.sqlite";
    test::ProbedStore store(file);
    ASSERT_TRUE(store.bootstrap());
    EXPECT_TRUE(store.probe().isLoweredNameColumnComplete());
    std::vector<IndexedItem> items;
    for (const std::string& name : kNames)
        items.push_back(test::fileItem("/n/" + name));
    ASSERT_TRUE(store.upsert(items));
    Connection db;
    ASSERT_EQ(db.open(file.string(), Connection::Mode::ReadOnly), SQLITE_OK);
    for (const std::string prefix : {"ÉC", "100%", "项目", "a_", "ǆ", "stra"}) {
        const SearchQuery query = test::wordsQuery({prefix});
        std::vector<IndexedItem> rows;
        for (const std::string& path : rowsOf(db, indexsql::typingFastStatement(query, 10, false)))
            rows.push_back(test::fileItem(path));
        const std::vector<std::string> expected = test::pathsOf(SearchEngine().search(rows, query, 10));
        EXPECT_FALSE(expected.empty()) << prefix;
        EXPECT_EQ(test::pathsOf(store.typingFastDatabaseSearch(query, 10)), expected) << prefix;
        EXPECT_EQ(test::pathsOf(readOnlyTypingFastPrefixSearch(file, query, 10)), expected) << prefix;
    }
}

} // namespace
} // namespace pallix
