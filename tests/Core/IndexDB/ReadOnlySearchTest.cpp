#include "Core/IndexDB/ReadOnlySearch.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using test::fileItem;
using test::folderItem;
using test::pathsOf;
using test::TempDir;
using test::wordsQuery;

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

struct SharedDriveIndex {
    TempDir dir;
    std::filesystem::path db = dir / "server_index.sqlite";
    SharedDriveIndex()
    {
        test::seedDatabase(db, {fileItem("/srv/报告 final.docx"), fileItem("/srv/报告#1.txt"),
                                folderItem("/srv/报告#2"), fileItem("/srv/报告#2/inner.txt"),
                                fileItem("/srv/École.pdf"), fileItem("/srv/docs/plan.txt"),
                                fileItem("/srv/mydocs.txt"), fileItem("/srv/IMG_1.jpg")});
    }
};

TEST(ReadOnlySearch, FindsEveryNameHoldingTheWords)
{
    SharedDriveIndex index;
    EXPECT_EQ(sorted(pathsOf(readOnlySearch(index.db, wordsQuery({"报告"}), 10))),
              (std::vector<std::string>{"/srv/报告 final.docx", "/srv/报告#1.txt", "/srv/报告#2"}));
    EXPECT_EQ(pathsOf(readOnlySearch(index.db, wordsQuery({"éco"}), 10)),
              std::vector<std::string>{"/srv/École.pdf"});
    // Names holding the word further in are found too.
    EXPECT_EQ(pathsOf(readOnlySearch(index.db, wordsQuery({"docs"}), 10)),
              std::vector<std::string>{"/srv/mydocs.txt"});
    EXPECT_EQ(pathsOf(readOnlySearch(index.db, wordsQuery({"final"}), 10)),
              std::vector<std::string>{"/srv/报告 final.docx"});
    // A path-like word searches paths too.
    EXPECT_EQ(pathsOf(readOnlySearch(index.db, wordsQuery({"/srv/docs/"}), 10)),
              std::vector<std::string>{"/srv/docs/plan.txt"});
    // A mixed ideographic word: names or paths holding it, the name first.
    EXPECT_EQ(pathsOf(readOnlySearch(index.db, wordsQuery({"报告#2"}), 10)),
              (std::vector<std::string>{"/srv/报告#2", "/srv/报告#2/inner.txt"}));
    SearchQuery wild = wordsQuery({});
    wild.rawText = wild.wildcardPattern.emplace("img_?.JPG");
    EXPECT_EQ(pathsOf(readOnlySearch(index.db, wild, 10)), std::vector<std::string>{"/srv/IMG_1.jpg"});

    EXPECT_TRUE(readOnlySearch(index.db, wordsQuery({"报告"}), 0).empty());
    SearchQuery blank = wordsQuery({});
    EXPECT_TRUE(readOnlySearch(index.db, blank, 10).empty());
    EXPECT_TRUE(readOnlySearch(index.dir / "missing.sqlite", wordsQuery({"报告"}), 10).empty());
    EXPECT_FALSE(std::filesystem::exists(index.dir / "missing.sqlite")) << "a read-only open creates nothing";
}

TEST(ReadOnlySearch, TypingFastPrefixSearch)
{
    SharedDriveIndex index;
    EXPECT_EQ(pathsOf(readOnlyTypingFastPrefixSearch(index.db, wordsQuery({" ÉC "}), 10)),
              std::vector<std::string>{"/srv/École.pdf"});
    EXPECT_EQ(pathsOf(readOnlyTypingFastPrefixSearch(index.db, wordsQuery({"my"}), 10)),
              std::vector<std::string>{"/srv/mydocs.txt"});
    EXPECT_TRUE(readOnlyTypingFastPrefixSearch(index.db, wordsQuery({"my", "docs"}), 10).empty());
    EXPECT_TRUE(readOnlyTypingFastPrefixSearch(index.db, wordsQuery({"\t"}), 10).empty());
    EXPECT_TRUE(readOnlyTypingFastPrefixSearch(index.db, wordsQuery({"my"}), 0).empty());
    SearchQuery dated = wordsQuery({"my"});
    dated.modifiedAfter = 1'800'000'000.0;  // after every item
    EXPECT_TRUE(readOnlyTypingFastPrefixSearch(index.db, dated, 10).empty());
}

TEST(ReadOnlySearch, LockedDatabaseGivesNothingAfterItsRetries)
{
    SharedDriveIndex index;
    // A writer in exclusive locking mode keeps every other connection out.
    sqlite::Connection writer;
    ASSERT_EQ(writer.open(index.db.string(), sqlite::Connection::Mode::ReadWriteCreate), SQLITE_OK);
    ASSERT_EQ(writer.exec("PRAGMA journal_mode=DELETE; PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;"), SQLITE_OK)
        << writer.errorMessage();
    test::InstantClock clock;
    EXPECT_TRUE(readOnlySearch(index.db, wordsQuery({"报告"}), 10, 2, 1, &clock).empty());
    EXPECT_FALSE(clock.sleeps().empty()) << "it waited before giving up";
    std::chrono::milliseconds waited{0};
    for (auto s : clock.sleeps())
        waited += s;
    EXPECT_LE(waited, 150ms);

    ASSERT_EQ(writer.exec("COMMIT; PRAGMA locking_mode=NORMAL;"), SQLITE_OK);
    writer.close();
    EXPECT_EQ(readOnlySearch(index.db, wordsQuery({"éco"}), 10, 2, 1, &clock).size(), 1u);
}

} // namespace
} // namespace pallix
