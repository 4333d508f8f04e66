#include "Core/IndexDB/Sqlite.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix::sqlite {
namespace {

using namespace std::string_literals;

std::string scalarText(Connection& db, const std::string& sql, const std::vector<Binding>& bindings = {})
{
    Statement s;
    EXPECT_EQ(s.prepare(db, sql), SQLITE_OK) << db.errorMessage();
    s.bindAll(bindings);
    EXPECT_EQ(s.step(), SQLITE_ROW);
    return std::string(s.columnText(0));
}

TEST(Sqlite, LowerIsUnicodeAwareOnEveryConnection)
{
    test::TempDir dir;
    const std::string path = (dir / "t.sqlite").string();
    for (Connection::Mode mode : {Connection::Mode::ReadWriteCreate, Connection::Mode::ReadOnly}) {
        SCOPED_TRACE(mode == Connection::Mode::ReadOnly ? "read-only" : "read-write");
        Connection db;
        ASSERT_EQ(db.open(path, mode), SQLITE_OK);
        EXPECT_EQ(scalarText(db, "SELECT lower('ÉCOLE Ünïcode ДОМ ABC');"), "école ünïcode дом abc");
        EXPECT_EQ(scalarText(db, "SELECT lower(?);", {Binding::text("ＡＢＣ")}), "ａｂｃ");
        Statement s;
        ASSERT_EQ(s.prepare(db, "SELECT lower(NULL) IS NULL, lower('École') LIKE 'éc%';"), SQLITE_OK);
        ASSERT_EQ(s.step(), SQLITE_ROW);
        EXPECT_EQ(s.columnInt(0), 1);
        EXPECT_EQ(s.columnInt(1), 1);
    }
}

TEST(Sqlite, RegexpFunctionMatchesLikeTheEngine)
{
    Connection db;
    ASSERT_EQ(db.open(":memory:", Connection::Mode::ReadWriteCreate), SQLITE_OK);
    struct Case {
        const char* pattern;
        const char* subject;
        int caseInsensitive;
        int expected;
    } cases[] = {
        {"^rep.*t$", "report", 1, 1},
        {"^rep.*t$", "Report", 1, 1},
        {"^rep.*t$", "Report", 0, 0},
        {"\\d{4}", "photo 2024.jpg", 1, 1},
        {"([", "anything", 1, 0},  // does not compile: no match, no error
        {"", "anything", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " on " + c.subject);
        Statement s;
        ASSERT_EQ(s.prepare(db, "SELECT pallix_regexp(?, ?, ?);"), SQLITE_OK);
        s.bindText(1, c.pattern);
        s.bindText(2, c.subject);
        s.bindInt(3, c.caseInsensitive);
        ASSERT_EQ(s.step(), SQLITE_ROW);
        EXPECT_EQ(s.columnInt(0), c.expected);
    }
}

TEST(Sqlite, BindsEveryKindAndReadsNullTextAsEmpty)
{
    Connection db;
    ASSERT_EQ(db.open(":memory:", Connection::Mode::ReadWriteCreate), SQLITE_OK);
    ASSERT_EQ(db.exec("CREATE TABLE t (a INTEGER, b INTEGER, c REAL, d TEXT, e TEXT);"), SQLITE_OK);
    Statement insert;
    ASSERT_EQ(insert.prepare(db, "INSERT INTO t VALUES (?, ?, ?, ?, NULL);"), SQLITE_OK);
    std::string text = "路径/with\0nul"s;
    const std::vector<Binding> values{Binding::integer(-7), Binding::integer64(std::int64_t(1) << 40),
                                      Binding::real(1.5), Binding::text(text)};
    insert.bindAll(values);
    ASSERT_EQ(insert.step(), SQLITE_DONE);
    text.assign("changed");  // the statement copied it

    Statement read;
    ASSERT_EQ(read.prepare(db, "SELECT a, b, c, d, e FROM t;"), SQLITE_OK);
    ASSERT_EQ(read.step(), SQLITE_ROW);
    EXPECT_EQ(read.columnInt(0), -7);
    EXPECT_EQ(read.columnInt64(1), std::int64_t(1) << 40);
    EXPECT_DOUBLE_EQ(read.columnDouble(2), 1.5);
    EXPECT_EQ(read.columnText(3), "路径/with\0nul"s);
    EXPECT_TRUE(read.columnIsNull(4));
    EXPECT_EQ(read.columnText(4), "");
}

TEST(Sqlite, FailuresAreCodesWithMessages)
{
    test::TempDir dir;
    Connection missing;
    EXPECT_NE(missing.open((dir / "absent.sqlite").string(), Connection::Mode::ReadOnly), SQLITE_OK);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_FALSE(missing.errorMessage().empty());

    Connection db;
    ASSERT_EQ(db.open(":memory:", Connection::Mode::ReadWriteCreate), SQLITE_OK);
    Statement bad;
    EXPECT_EQ(bad.prepare(db, "SELECT x FROM nowhere;"), SQLITE_ERROR);
    EXPECT_FALSE(bad.isValid());
    EXPECT_NE(db.errorMessage().find("nowhere"), std::string::npos);

    Connection closed;
    Statement none;
    EXPECT_EQ(none.prepare(closed, "SELECT 1;"), SQLITE_MISUSE);
    EXPECT_EQ(closed.exec("SELECT 1;"), SQLITE_MISUSE);
    EXPECT_EQ(closed.errorMessage(), "");
}

TEST(Sqlite, TransientCodesIncludeExtendedOnes)
{
    EXPECT_TRUE(isTransient(SQLITE_BUSY));
    EXPECT_TRUE(isTransient(SQLITE_LOCKED));
    EXPECT_TRUE(isTransient(SQLITE_BUSY_SNAPSHOT));
    EXPECT_TRUE(isTransient(SQLITE_LOCKED_SHAREDCACHE));
    EXPECT_FALSE(isTransient(SQLITE_DONE));
    EXPECT_FALSE(isTransient(SQLITE_ERROR));
    EXPECT_FALSE(isTransient(SQLITE_CORRUPT));
}

} // namespace
} // namespace pallix::sqlite
