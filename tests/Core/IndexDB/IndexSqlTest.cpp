#include "Core/IndexDB/IndexSql.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix::indexsql {
namespace {

using sqlite::Binding;
using test::wordsQuery;

std::string tail(const std::string& sql)
{
    const std::string where = "WHERE 1 = 1";
    const std::size_t at = sql.find(where);
    return at == std::string::npos ? sql : sql.substr(at + where.size());
}

TEST(IndexSql, BaseStatementFiltersInOrder)
{
    SearchQuery q = wordsQuery({});
    q.typeFilter = IndexedItem::ItemType::Folder;
    q.extensionFilter = "pdf";
    q.pathFilter = "Docs/École";
    q.modifiedAfter = 1'700'000'000.5;
    const SqlText withDate = baseStatement(q, true);
    EXPECT_TRUE(withDate.sql.starts_with(
        "SELECT path, name, parent_path, extension, size, modified_at, is_directory\nFROM file_index\nWHERE 1 = 1"));
    EXPECT_EQ(tail(withDate.sql),
              " AND is_directory = ? AND extension = ? AND lower(parent_path) LIKE ? AND modified_at >= ?");
    EXPECT_EQ(withDate.bindings, (std::vector<Binding>{Binding::integer(1), Binding::text("pdf"),
                                                       Binding::text("%docs/école%"), Binding::real(1'700'000'000.5)}));
    EXPECT_EQ(tail(baseStatement(q, false).sql),
              " AND is_directory = ? AND extension = ? AND lower(parent_path) LIKE ?");
    q.caseSensitive = true;
    q.typeFilter = IndexedItem::ItemType::File;
    const SqlText cs = baseStatement(q, false);
    EXPECT_NE(cs.sql.find(" AND parent_path LIKE ?"), std::string::npos);
    EXPECT_EQ(cs.bindings[0], Binding::integer(0));
    EXPECT_EQ(cs.bindings[2], Binding::text("%Docs/École%"));
}

TEST(IndexSql, DatabaseSearchClausesAndRowLimits)
{
    struct Case {
        std::vector<std::string> tokens;
        SearchMatchMode mode;
        int limit;
        int budget;
        std::string expectedTail;
        std::vector<Binding> expectedBindings;
    } cases[] = {
        {{"Ab", "CD"}, SearchMatchMode::Contains, 100, 4000, " AND lower(path) LIKE ? AND lower(path) LIKE ? LIMIT 400",
         {Binding::text("%ab%"), Binding::text("%cd%")}},
        {{"Ab", "CD"}, SearchMatchMode::Exact, 100, 300, " AND lower(name) LIKE ? AND lower(name) LIKE ? LIMIT 300",
         {Binding::text("ab"), Binding::text("cd")}},
        {{"x"}, SearchMatchMode::Prefix, 1000, 600, " AND lower(name) LIKE ? LIMIT 1000", {Binding::text("x%")}},
        {{"x"}, SearchMatchMode::Suffix, 10, 12000, " AND lower(name) LIKE ? LIMIT 40", {Binding::text("%x")}},
        // Words are not escaped here: "%" and "_" stay wildcards.
        {{"a_b%"}, SearchMatchMode::Contains, 5, 12000, " AND lower(path) LIKE ? LIMIT 20", {Binding::text("%a_b%%")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedTail);
        const SqlText text = databaseSearchStatement(wordsQuery(c.tokens, c.mode), c.limit, c.budget);
        EXPECT_EQ(tail(text.sql), c.expectedTail);
        EXPECT_EQ(text.bindings, c.expectedBindings);
    }
    const SqlText cs = databaseSearchStatement(wordsQuery({"Ab"}, SearchMatchMode::Contains, true), 10, 100);
    EXPECT_EQ(tail(cs.sql), " AND path LIKE ? LIMIT 40");
    EXPECT_EQ(cs.bindings, std::vector<Binding>{Binding::text("%Ab%")});
}

TEST(IndexSql, PatternQueriesNeverBecomeLikeText)
{
    // Regular-expression words are tested as expressions.
    SearchQuery re = wordsQuery({"^rep.*t$", "\\d+"});
    re.useRegularExpression = true;
    SqlText text = databaseSearchStatement(re, 10, 100);
    EXPECT_EQ(tail(text.sql), " AND pallix_regexp(?, name, ?) AND pallix_regexp(?, name, ?) LIMIT 40");
    EXPECT_EQ(text.bindings, (std::vector<Binding>{Binding::text("^rep.*t$"), Binding::integer(1),
                                                   Binding::text("\\d+"), Binding::integer(1)}));

    // A wildcard pattern decides alone: an escaped LIKE on the name.
    SearchQuery wild = wordsQuery({"ignored"});
    wild.wildcardPattern = "IMG_*.Jp?%";
    for (auto* build : {+[](const SearchQuery& q) { return databaseSearchStatement(q, 10, 100); },
                        +[](const SearchQuery& q) { return readOnlySearchStatement(q); },
                        +[](const SearchQuery& q) { return typingFastStatement(q, 10, true); }}) {
        text = build(wild);
        EXPECT_NE(text.sql.find(" AND lower(name) LIKE ? ESCAPE '\\'"), std::string::npos) << text.sql;
        EXPECT_EQ(text.sql.find("path LIKE"), std::string::npos) << text.sql;
        EXPECT_EQ(text.bindings.front(), Binding::text("img\\_%.jp_\\%"));
    }
    wild.caseSensitive = true;
    EXPECT_EQ(databaseSearchStatement(wild, 10, 100).bindings.front(), Binding::text("IMG\\_%.Jp_\\%"));
}

TEST(IndexSql, ReadOnlySearchClauses)
{
    struct Case {
        std::vector<std::string> tokens;
        SearchMatchMode mode;
        std::string expectedTail;
        std::vector<Binding> expectedBindings;
    } cases[] = {
        // Alphanumeric words, ideographs included: names holding them anywhere.
        {{"报告"}, SearchMatchMode::Contains, " AND lower(name) LIKE ?", {Binding::text("%报告%")}},
        {{"Rep", "v2"}, SearchMatchMode::Contains, " AND lower(name) LIKE ? AND lower(name) LIKE ?",
         {Binding::text("%rep%"), Binding::text("%v2%")}},
        // Ideographs mixed with a symbol, alone or with one more word: names or paths.
        {{"报告#1"}, SearchMatchMode::Contains, " AND (lower(name) LIKE ? OR lower(path) LIKE ?)",
         {Binding::text("%报告#1%"), Binding::text("%报告#1%")}},
        {{"报告#1", "x", "y"}, SearchMatchMode::Contains,
         " AND lower(name) LIKE ? AND lower(name) LIKE ? AND lower(name) LIKE ?",
         {Binding::text("%报告#1%"), Binding::text("%x%"), Binding::text("%y%")}},
        // A slash: names or paths.
        {{"docs/a"}, SearchMatchMode::Contains, " AND (lower(name) LIKE ? OR lower(path) LIKE ?)",
         {Binding::text("%docs/a%"), Binding::text("%docs/a%")}},
        {{"ab"}, SearchMatchMode::Suffix, " AND lower(name) LIKE ?", {Binding::text("%ab")}},
        {{"ab"}, SearchMatchMode::Prefix, " AND lower(name) LIKE ?", {Binding::text("ab%")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedTail);
        const SqlText text = readOnlySearchStatement(wordsQuery(c.tokens, c.mode));
        EXPECT_EQ(tail(text.sql), c.expectedTail);
        EXPECT_EQ(text.bindings, c.expectedBindings);
        // A complete answer: every matching row is ranked before the cut.
        EXPECT_EQ(text.sql.find("LIMIT"), std::string::npos);
    }
}

TEST(IndexSql, TypingFastStatementBindsItsRowLimit)
{
    for (auto [limit, rows] : {std::pair{50, 600}, {200, 1200}, {900, 3600}, {1000, 3600}}) {
        SCOPED_TRACE(limit);
        EXPECT_EQ(typingFastRowLimit(limit), rows);
        const SqlText text = typingFastStatement(wordsQuery({" Éc "}), limit, false);
        EXPECT_TRUE(text.sql.ends_with(" AND lower(name) LIKE ? LIMIT ?"));
        EXPECT_EQ(text.bindings, (std::vector<Binding>{Binding::text("éc%"), Binding::integer(rows)}));
    }
    SearchQuery dated = wordsQuery({"x"}, SearchMatchMode::Contains, true);
    dated.modifiedAfter = 5.0;
    EXPECT_EQ(typingFastStatement(dated, 10, false).sql.find(" AND modified_at"), std::string::npos);
    EXPECT_NE(typingFastStatement(dated, 10, true).sql.find(" AND modified_at >= ? AND name LIKE ?"),
              std::string::npos);
}

TEST(IndexSql, UnderFolderRangeIsExact)
{
    // Checked against a real table: the range must match what paths::isUnder says.
    sqlite::Connection db;
    ASSERT_EQ(db.open(":memory:", sqlite::Connection::Mode::ReadWriteCreate), SQLITE_OK);
    ASSERT_EQ(db.exec("CREATE TABLE file_index (path TEXT PRIMARY KEY);"), SQLITE_OK);
    const std::vector<std::string> all{"/",      "/a",     "/a/b",   "/a/b/c", "/a/bc",   "/a/b.txt",
                                       "/a/B",   "/a/B/x", "/a/my_x", "/a/myAx", "/a/myAx/f", "/a/b0",
                                       "/a/b/%", "/a/b-"};
    for (const std::string& p : all)
        ASSERT_EQ(db.exec(("INSERT INTO file_index VALUES ('" + p + "');").c_str()), SQLITE_OK);
    for (const char* folder : {"/a/b", "/a/B", "/a/my_x", "/", "/a", "/zz"}) {
        SCOPED_TRACE(folder);
        sqlite::Statement s;
        ASSERT_EQ(s.prepare(db, "SELECT path FROM file_index WHERE " + std::string(kUnderFolderCondition) +
                                    " ORDER BY path;"),
                  SQLITE_OK);
        s.bindAll(underFolderBindings(folder));
        std::vector<std::string> found;
        while (s.step() == SQLITE_ROW)
            found.emplace_back(s.columnText(0));
        std::vector<std::string> expected;
        for (const std::string& p : all)
            if (paths::isUnder(p, folder))
                expected.push_back(p);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }
}

TEST(IndexSql, ImageExtensionListIsSortedQuotedAndComplete)
{
    const std::string& list = imageExtensionListLiteral();
    EXPECT_TRUE(list.starts_with("'arw','avif','bmp','cr2','cr3','dng','gif',"));
    std::vector<std::string> parts;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t comma = list.find(',', at);
        parts.push_back(list.substr(at, comma - at));
        at = comma == std::string::npos ? list.size() : comma + 1;
    }
    ASSERT_EQ(parts.size(), 21u);
    for (const std::string& p : parts) {
        ASSERT_GE(p.size(), 3u);
        EXPECT_TRUE(kinds::isImageExtension(p.substr(1, p.size() - 2))) << p;
    }
    EXPECT_TRUE(std::is_sorted(parts.begin(), parts.end()));
}

TEST(IndexSql, TrimmingIsUnicodeWhiteSpace)
{
    EXPECT_EQ(trimmed(" \t\u3000abc d\n"), "abc d");
    EXPECT_EQ(trimmed("\u3000 "), "");
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(escapeLike("50%_off\\"), "50\\%\\_off\\\\");
}

} // namespace
} // namespace pallix::indexsql
