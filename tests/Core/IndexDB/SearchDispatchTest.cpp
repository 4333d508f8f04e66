#include "Core/IndexDB/IndexStore.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::fileItem;
using test::folderItem;
using test::InstallGate;
using test::pathsOf;
using test::TempDir;
using test::wordsQuery;

void rawExec(const std::filesystem::path& db, const std::string& sql)
{
    sqlite::Connection c;
    ASSERT_EQ(c.open(db.string(), sqlite::Connection::Mode::ReadWriteCreate), SQLITE_OK);
    ASSERT_EQ(c.exec(sql.c_str()), SQLITE_OK) << c.errorMessage();
}

bool contains(const std::vector<IndexedItem>& items, std::string_view path)
{
    return std::any_of(items.begin(), items.end(), [&](const IndexedItem& i) { return i.path() == path; });
}

TEST(SearchDispatch, NoSearchIntentIsEmptyInEveryCacheState)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/s/a.png"), fileItem("/s/b.txt")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());

    SearchQuery blank = wordsQuery({});
    blank.rawText = " \t ";
    SearchQuery images = blank;
    images.contentFilters = {SearchContentFilter::Images};
    auto check = [&](const char* state) {
        SCOPED_TRACE(state);
        EXPECT_TRUE(store.search(blank, 10).empty());
        EXPECT_EQ(pathsOf(store.search(images, 10)), std::vector<std::string>{"/s/a.png"});
    };
    check("database only");
    gate.open();
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    ASSERT_FALSE(store.status().searchIndexesComplete);
    check("indexes being built");
    test::advanceAsleep(store, *clock, 90ms);
    ASSERT_TRUE(eventually([&] { return store.status().searchIndexesComplete; }));
    check("indexes complete");
}

// A store whose cache holds `cached` items named match-N, whose database also
// holds one row the cache lacks, searched while its indexes are being built.
struct BuildingStore {
    TempDir dir;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::unique_ptr<IndexStore> store;

    explicit BuildingStore(int cached)
    {
        std::vector<IndexedItem> items;
        for (int i = 0; i < cached; ++i)
            items.push_back(fileItem("/m/match-" + std::to_string(i) + ".txt"));
        test::seedDatabase(dir / "index.sqlite", items);
        store = std::make_unique<IndexStore>(dir / "index.sqlite", clock);
        EXPECT_TRUE(store->bootstrap());
        EXPECT_TRUE(eventually([&] { return store->status().cacheReady; }));
        rawExec(dir / "index.sqlite", "INSERT INTO file_index VALUES ('/m/match-extra.txt', 'match-extra.txt', '/m', "
                                      "'txt', 1, 1.0, 0, '', 'match-extra.txt');");
    }
};

TEST(SearchDispatch, WhileBuildingFewMemoryResultsAskTheDatabase)
{
    struct Case {
        int cached;
        int limit;
        bool supplemented;
    } cases[] = {{33, 100, true}, {34, 100, false}, {11, 20, true}, {12, 20, false}, {9, 10, true}, {10, 10, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cached) + " results, limit " + std::to_string(c.limit));
        BuildingStore s(c.cached);
        ASSERT_FALSE(s.store->status().searchIndexesComplete);
        const std::vector<IndexedItem> found = s.store->search(wordsQuery({"match"}), c.limit);
        EXPECT_EQ(contains(found, "/m/match-extra.txt"), c.supplemented);
        EXPECT_EQ(found.size(), std::min<std::size_t>(c.limit, c.cached + (c.supplemented ? 1 : 0)));
    }
}

TEST(SearchDispatch, DatabaseSupplementAddsOnlyTheRowsTheCacheLacks)
{
    // A database answer cut short (here: rows gone) never replaces the
    // complete answer of the cached items; the row the cache lacks joins it.
    BuildingStore s(20);
    rawExec(s.dir / "index.sqlite", "DELETE FROM file_index WHERE path != '/m/match-3.txt' AND path != "
                                    "'/m/match-extra.txt';");
    const std::vector<IndexedItem> found = s.store->search(wordsQuery({"match"}), 100);
    EXPECT_EQ(found.size(), 21u);
    EXPECT_TRUE(contains(found, "/m/match-extra.txt"));
    EXPECT_TRUE(contains(found, "/m/match-17.txt"));
    EXPECT_EQ(std::count_if(found.begin(), found.end(), [](const IndexedItem& i) { return i.path() == "/m/match-3.txt"; }),
              1);

    // Nothing from the database: the memory results stand.
    rawExec(s.dir / "index.sqlite", "DELETE FROM file_index;");
    EXPECT_EQ(s.store->search(wordsQuery({"match"}), 100).size(), 20u);

    // Three words, an expression or a wildcard never ask the database.
    BuildingStore t(5);
    EXPECT_FALSE(contains(t.store->search(wordsQuery({"match", "txt", "m"}), 100), "/m/match-extra.txt"));
    SearchQuery re = wordsQuery({"^match"});
    re.useRegularExpression = true;
    EXPECT_FALSE(contains(t.store->search(re, 100), "/m/match-extra.txt"));
    SearchQuery wild = wordsQuery({});
    wild.rawText = "match*";
    wild.wildcardPattern = "match*";
    const std::vector<IndexedItem> wildFound = t.store->search(wild, 100);
    EXPECT_EQ(wildFound.size(), 5u);
    EXPECT_FALSE(contains(wildFound, "/m/match-extra.txt"));
}

TEST(SearchDispatch, ScanWithoutHitsRanksTheFirstSixThousandItems)
{
    std::vector<IndexedItem> items;
    for (int i = 0; i < 7000; ++i)
        items.push_back(fileItem(i == 100    ? "/n/report-early.txt"
                                 : i == 6500 ? "/n/report-late.txt"
                                             : "/n/filler-" + std::to_string(i) + ".dat"));
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", items);
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    ASSERT_TRUE(store.bootstrap());
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    // "rpt" is in no name or path, but it is a subsequence of both report names.
    EXPECT_EQ(pathsOf(store.search(wordsQuery({"rpt"}), 10)), std::vector<std::string>{"/n/report-early.txt"});
    test::advanceAsleep(store, *clock, 90ms);
    ASSERT_TRUE(eventually([&] { return store.status().searchIndexesComplete; }));
}

TEST(SearchDispatch, CompleteIndexesRankAllItemsWhenTheCandidatesGiveNothing)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/a/docsfile.txt"), folderItem("/b/docs-archive/inner")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    test::bootstrapToComplete(store, *clock);

    SearchQuery folders = wordsQuery({"docs"});
    folders.typeFilter = IndexedItem::ItemType::Folder;
    // The one candidate (docsfile) is no folder; ranking all finds the folder by its path.
    EXPECT_EQ(pathsOf(store.search(folders, 10)), std::vector<std::string>{"/b/docs-archive/inner"});
    EXPECT_EQ(pathsOf(store.search(wordsQuery({"docs"}), 10)).front(), "/a/docsfile.txt");

    // When the candidates were every item already, nothing is ranked again.
    TempDir one;
    test::seedDatabase(one / "index.sqlite", {fileItem("/a/docsfile.txt")});
    test::ProbedStore single(one / "index.sqlite", clock);
    test::bootstrapToComplete(single, *clock);
    EXPECT_TRUE(single.search(folders, 10).empty());
}

TEST(SearchDispatch, TypingSearchScansUpToItsCap)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/q/note-1.txt"), fileItem("/q/note-2.txt"),
                                              fileItem("/q/note-3.txt"), fileItem("/q/other.txt")});
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    InstallGate gate;
    store.probe().setBeforeCacheInstallHook(gate.hook());
    ASSERT_TRUE(store.bootstrap());
    EXPECT_TRUE(store.typingSearch(wordsQuery({"note"}), {10, 100}).empty()) << "no cache yet";
    gate.open();
    ASSERT_TRUE(eventually([&] { return store.status().cacheReady; }));
    EXPECT_EQ(store.typingSearch(wordsQuery({"note"}), {10, 100}).size(), 3u);
    EXPECT_EQ(store.typingSearch(wordsQuery({"note"}), {10, 2}).size(), 2u);
    // No haystack holds "NOTE"; the first items are ranked, and the normalised
    // forms ignore case even in a case-sensitive search.
    EXPECT_EQ(store.typingSearch(wordsQuery({"NOTE"}, SearchMatchMode::Contains, true), {10, 100}).size(), 3u);
    EXPECT_EQ(store.typingSearch(wordsQuery({"/Q/"}), {10, 100}).size(), 4u) << "the path is a haystack";
}

// The typing scan reads the first items only. Past its reach lie the only
// names holding both words, behind many names holding the first word alone
// (the scan finds nothing) or many items holding both words in their path
// alone (the scan reaches its cap on them): the typing answer holds those
// names all the same, above the path matches.
TEST(SearchDispatch, TypingAnswerHoldsTheNamesPastTheScanThatHoldEveryWord)
{
    std::vector<IndexedItem> items;
    for (int i = 0; i < 60; ++i)
        items.push_back(fileItem("/r/report 2020/scan-" + std::to_string(i) + ".png"));
    for (int i = 0; i < 81000; ++i)
        items.push_back(fileItem("/n/d" + std::to_string(i % 300) + "/nusareth-" + std::to_string(i) + ".txt"));
    for (int k = 0; k < 5; ++k) {
        items.push_back(fileItem("/late/Nusareth Pictures " + std::to_string(k) + ".jpg"));
        items.push_back(fileItem("/late/report 20" + std::to_string(k) + "4 q.pdf"));
        items.push_back(fileItem("/late/picture-" + std::to_string(k) + ".jpg"));
    }
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", items);
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    test::bootstrapToComplete(store, *clock);

    struct Case {
        std::vector<std::string> words;
        int cap;  // 50 stops the scan in the folder; 100 lets it read 80,000 items
        bool caseSensitive;
    };
    for (const Case& c : {Case{{"nusareth", "pictu"}, 100, false}, Case{{"report", "20"}, 50, false},
                          Case{{"Nusareth", "Pict"}, 100, true}}) {
        SCOPED_TRACE(c.words.front() + " " + c.words.back() + ", cap " + std::to_string(c.cap));
        std::vector<std::string> holders;  // a plain scan of the names
        for (const IndexedItem& item : items)
            if (std::all_of(c.words.begin(), c.words.end(), [&](const std::string& w) {
                    return (c.caseSensitive ? item.name() : item.searchName()).find(w) != std::string::npos;
                }))
                holders.emplace_back(item.path());
        ASSERT_GE(holders.size(), 5u);
        const SearchQuery query = wordsQuery(c.words, SearchMatchMode::Contains, c.caseSensitive);
        std::vector<std::string> got = pathsOf(store.typingSearch(query, {20, c.cap}));
        ASSERT_GE(got.size(), holders.size());
        got.resize(holders.size());
        std::sort(got.begin(), got.end());
        std::sort(holders.begin(), holders.end());
        EXPECT_EQ(got, holders) << "the names holding every word come first";
    }
}

// Names holding the word deep inside fill the scan's cap and the answer;
// names past the reach that begin with the word rank above them all.
TEST(SearchDispatch, TypingAnswerRanksNamesBeginningWithTheWordPastTheScan)
{
    std::vector<IndexedItem> items;
    for (int i = 0; i < 300; ++i)
        items.push_back(fileItem("/m/x" + std::to_string(i) + "quokka.txt"));
    for (int i = 0; i < 3; ++i)
        items.push_back(fileItem("/late/Quokka notes " + std::to_string(i) + ".txt"));
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", items);
    auto clock = std::make_shared<FakeClock>();
    test::ProbedStore store(dir / "index.sqlite", clock);
    test::bootstrapToComplete(store, *clock);

    std::vector<std::string> top = pathsOf(store.typingSearch(wordsQuery({"quokka"}), {20, 50}));
    ASSERT_EQ(top.size(), 20u);
    top.resize(3);
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"/late/Quokka notes 0.txt", "/late/Quokka notes 1.txt",
                                            "/late/Quokka notes 2.txt"}));
}

TEST(SearchDispatch, TypingFastDatabaseSearch)
{
    TempDir dir;
    test::seedDatabase(dir / "index.sqlite", {fileItem("/t/École.pdf"), fileItem("/t/economy.txt"),
                                              fileItem("/t/report.txt")});
    auto clock = std::make_shared<FakeClock>();
    IndexStore store(dir / "index.sqlite", clock);
    ASSERT_TRUE(store.bootstrap());
    EXPECT_EQ(pathsOf(store.typingFastDatabaseSearch(wordsQuery({"éc"}), 10)), std::vector<std::string>{"/t/École.pdf"});
    EXPECT_EQ(pathsOf(store.typingFastDatabaseSearch(wordsQuery({"ÉC"}, SearchMatchMode::Contains, true), 10)),
              std::vector<std::string>{"/t/École.pdf"});
    EXPECT_TRUE(store.typingFastDatabaseSearch(wordsQuery({"ec", "x"}), 10).empty());
    EXPECT_TRUE(store.typingFastDatabaseSearch(wordsQuery({" "}), 10).empty());
    EXPECT_TRUE(store.typingFastDatabaseSearch(wordsQuery({"ec"}), 0).empty());
    SearchQuery re = wordsQuery({"^rep.*t$"});
    re.useRegularExpression = true;
    EXPECT_EQ(pathsOf(store.typingFastDatabaseSearch(re, 10)), std::vector<std::string>{"/t/report.txt"});
}

TEST(SearchDispatch, RowBudgetsFollowTheWordLength)
{
    struct Case {
        std::vector<std::string> tokens;
        int limit;
        int budget;
    } cases[] = {
        {{"a"}, 100, 600},    {{"a"}, 400, 800},    {{"ab"}, 500, 1500},  {{"ab"}, 100, 1200},
        {{"abc"}, 100, 2500}, {{"abc"}, 1000, 4000}, {{"abcd"}, 10, 12000}, {{"a", "b"}, 10, 12000},
        {{" "}, 10, 12000},   {{"报告"}, 500, 1500}, {{}, 10, 12000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tokens.empty() ? "" : c.tokens.front());
        EXPECT_EQ(TypingRoad::maxCandidateRows(wordsQuery(c.tokens), c.limit), c.budget);
    }
}

} // namespace
} // namespace pallix
