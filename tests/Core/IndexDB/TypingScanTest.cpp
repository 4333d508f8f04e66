#include "Core/IndexDB/TypingScan.h"

#include <gtest/gtest.h>

#include "Core/IndexDB/IndexSql.h"
#include "IndexDbTestSupport.h"
#include "Platform/Clock.h"
#include "Platform/Text.h"

namespace pallix {
namespace {

using test::fileItem;
using test::wordsQuery;

// The scan as one pass over whole paths: what the folder shortcut and the
// chunks must agree with.
std::vector<std::uint32_t> scanOfWholePaths(const ItemTable& items, const SearchQuery& query, std::size_t cap,
                                            std::size_t bound)
{
    std::vector<std::string> needles;
    for (const std::string& t : query.tokens)
        if (!indexsql::trimmed(t).empty())
            needles.push_back(indexsql::caseFolded(indexsql::trimmed(t), query.caseSensitive));
    const auto holds = [&](std::string_view hay, const std::string& n) {
        switch (query.matchMode) {
        case SearchMatchMode::Contains: return hay.find(n) != std::string_view::npos;
        case SearchMatchMode::Prefix: return hay.starts_with(n);
        case SearchMatchMode::Suffix: return hay.ends_with(n);
        case SearchMatchMode::Exact: return hay == n;
        }
        return false;
    };
    std::vector<std::uint32_t> out;
    for (std::size_t p = 0; p < std::min(bound, items.size()) && out.size() < cap; ++p) {
        const ItemRef item = items.at(p);
        const std::string name(query.caseSensitive ? item.name : item.searchName);
        const std::string path = query.caseSensitive ? std::string(item.path) : text::lower(item.path);
        if (std::all_of(needles.begin(), needles.end(), [&](const std::string& n) { return holds(name, n) || holds(path, n); }))
            out.push_back(static_cast<std::uint32_t>(p));
    }
    return out;
}

// Folders and names with case outside ASCII, decomposed accents, ideographs
// and Cyrillic, repeated past several chunks and threads. Most folders come
// after the folder holding them, so that a folder's answer may be its
// parent's joined with its own name's; "/home/user" is not in "/home/u".
ItemTable mixedTable()
{
    const std::vector<std::string> folders = {"/home/u/Docs", "/home/u/Données/Été", "/home/u/文档", "/srv/ПРОЕКТ",
                                              "/", "/home/u/Cafe\u0301", "/home/u/Cafe\u0301/Ünter",
                                              "/home/user/报告 2024", "/home/u/Docs/Été 1"};
    const std::vector<std::string> names = {"report.txt", "Résumé.pdf", "re\u0301sume\u0301.md", "报告.doc",
                                            "отчёт.odt", "ОТЧЁТ.odt", "notes", "Été.png", "ΣΟΦΙΑ.txt",
                                            // ASCII letters from lower-casing, and look-alikes that hold none
                                            "İstanbul.txt", "\u212Aelvin.dat", "ＲＥＰＯＲＴ.txt", "ﬁle.md", "報告 2.doc"};
    ItemTable table;
    for (const char* folder : {"/home", "/home/u", "/home/user", "/home/u/Docs", "/home/u/Données",
                               "/home/u/Données/Été", "/home/u/Cafe\u0301", "/home/u/Docs/Été 1"})
        table.append(fileItem(folder));
    for (std::size_t i = 0; i < 70'000; ++i) {
        const std::string& folder = folders[(i / 7) % folders.size()];
        const std::string name = std::to_string(i % 13) + names[i % names.size()];
        table.append(fileItem((folder == "/" ? "" : folder) + "/" + name));
    }
    return table;
}

// The words of one search, with its mode and case.
struct Words {
    std::vector<std::string> words;
    SearchMatchMode mode = SearchMatchMode::Contains;
    bool caseSensitive = false;
};

TEST(TypingScan, AgreesWithAScanOfWholePaths)
{
    const ItemTable table = mixedTable();
    const std::vector<Words> cases = {
        {{"report"}}, {{"été"}}, {{"e\u0301"}}, {{"données", "png"}}, {{"文档"}}, {{"проект"}}, {{"отчёт"}},
        {{"ОТЧЁТ"}, SearchMatchMode::Contains, true}, {{"Docs"}, SearchMatchMode::Contains, true},
        {{"u/docs/1"}}, {{"/home"}, SearchMatchMode::Prefix}, {{".pdf"}, SearchMatchMode::Suffix},
        {{"σοφια"}}, {{"café"}}, {{"1", "2"}}, {{"zzz"}}, {{"/"}}, {{"s/1"}},
        {{"istanbul"}}, {{"i\u0307s"}}, {{"kelvin"}}, {{"ｒｅｐｏｒｔ"}}, {{"file"}}, {{"ﬁle"}}, {{"報告"}}, {{"告 2"}},
        {{"docs", "kel"}}, {{"报告.d"}}, {{"home"}}, {{"user"}}, {{"ünter"}}, {{"告 2024"}}, {{"docs", "été 1"}},
        {{"Été", "Docs"}, SearchMatchMode::Contains, true}, {{"ome/u"}},
        // Pairs of letters and digits across a dot, a digit and a space
        {{"t.tx"}}, {{"2re"}}, {{"12re"}}, {{"port.txt"}}, {{"3 报"}}, {{"odt"}}, {{"sume"}}, {{"ut"}},
        // Words with "/" over whole paths, joined from folder and name or lower-cased whole
        {{"été/1"}}, {{"проект/1"}}, {{"e\u0301/1"}}, {{"é/1"}}, {{"/0отчёт"}}, {{"档/4"}}, {{"/1résumé"}},
        {{"/home/u/données"}, SearchMatchMode::Prefix}, {{"ёт.odt"}, SearchMatchMode::Suffix}};
    for (const Words& c : cases) {
        const SearchQuery query = wordsQuery(c.words, c.mode, c.caseSensitive);
        const TypingScan scan(table, query);
        for (const auto& [cap, bound] : {std::pair<std::size_t, std::size_t>{23'040, 70'000}, {500, 70'000},
                                         {70'000, 70'000}, {9'000, 40'000}, {0, 70'000}})
            EXPECT_EQ(scan.collect(cap, bound, nullptr), scanOfWholePaths(table, query, cap, bound))
                << c.words.front() << " cap " << cap << " bound " << bound;
    }
}

// What a scan learned of the folders stays with its thread for the next one.
// A folder last seen a full round of the scans' stamps ago must be looked at
// afresh, not read as the old scan found it.
TEST(TypingScan, AFolderSeenLongAgoIsLookedAtAfresh)
{
    ItemTable table;
    for (const char* path : {"/alpha/one", "/beta/alpha", "/alpha/beta/two"})
        table.append(fileItem(path));
    const SearchQuery alpha = wordsQuery({"alpha"});
    const SearchQuery beta = wordsQuery({"beta"});
    ASSERT_EQ(TypingScan(table, alpha).collect(10, 3, nullptr), (std::vector<std::uint32_t>{0, 1, 2}));
    // Small scans run on the calling thread; these see only the first folder.
    for (std::size_t i = 0; i + 2 < 0x10000; ++i)
        ASSERT_EQ(TypingScan(table, beta).collect(10, 1, nullptr), std::vector<std::uint32_t>{});
    EXPECT_EQ(TypingScan(table, beta).collect(10, 3, nullptr), (std::vector<std::uint32_t>{1, 2}));
}

// Typing on: each scan is answered from what the one before found when it
// narrows it, and must be what a fresh scan finds, capped or not.
TEST(TypingScan, AScanNarrowingTheLastAgreesWithAFreshOne)
{
    const ItemTable table = mixedTable();
    const std::vector<std::vector<Words>> typed = {
        {{{"r"}}, {{"re"}}, {{"rep"}}, {{"repo"}}, {{"report"}}, {{"report", "1"}}, {{"report", "12"}},
         {{"report", "12"}}},
        {{{"é"}}, {{"ét"}}, {{"été"}}, {{"été/"}}, {{"été/1"}}},
        // The earlier word inside the new one, not at its start; then as a prefix, then with case.
        {{{"o"}}, {{"do"}}, {{"doc"}}, {{"docs"}}, {{"u/docs"}}, {{"/home/u/docs"}, SearchMatchMode::Prefix},
         {{"docs"}}, {{"Docs"}, SearchMatchMode::Contains, true}, {{"Docs/"}, SearchMatchMode::Contains, true},
         {{"docs/"}}, {{"docs/1"}, SearchMatchMode::Suffix}, {{"docs/12"}}},
        {{{"1"}}, {{"1", "报"}}, {{"1", "报告"}}, {{"12", "报告"}}, {{"2", "报告"}}},
        {{{"отч"}}, {{"отчё"}}, {{"отчёт"}}, {{"ОТЧЁТ"}, SearchMatchMode::Contains, true}},
        // Found with case, then without: "ПРОЕКТ" holds "т" only without.
        {{{"т"}, SearchMatchMode::Contains, true}, {{"т"}}},
    };
    for (const auto& [cap, bound] :
         {std::pair<std::size_t, std::size_t>{23'040, 70'000}, {500, 70'000}, {9'000, 40'000}}) {
        for (const std::vector<Words>& steps : typed) {
            ScanMemory memory;
            for (const Words& step : steps) {
                const SearchQuery query = wordsQuery(step.words, step.mode, step.caseSensitive);
                EXPECT_EQ(TypingScan(table, query).collect(cap, bound, nullptr, nullptr, &memory),
                          scanOfWholePaths(table, query, cap, bound))
                    << step.words.front() << " cap " << cap << " bound " << bound;
            }
        }
    }
}

TEST(TypingScan, AChangedTableOrACancelledScanLeavesNothingToNarrow)
{
    ItemTable table = mixedTable();
    const SearchQuery rep = wordsQuery({"rep"});
    const SearchQuery repo = wordsQuery({"repo"});
    ScanMemory memory;
    TypingScan(table, wordsQuery({"re"})).collect(70'000, 40'000, nullptr, nullptr, &memory);
    // The items after those that go move up: what the scan found lies elsewhere now.
    ASSERT_GT(table.removeUnder("/home/u/Docs"), 0u);
    ASSERT_GT(table.size(), 40'000u);
    EXPECT_EQ(TypingScan(table, rep).collect(70'000, 40'000, nullptr, nullptr, &memory),
              scanOfWholePaths(table, rep, 70'000, 40'000));
    // A cancelled scan found a part only.
    CancelToken cancel;
    cancel.cancel();
    TypingScan(table, rep).collect(70'000, 40'000, &cancel, nullptr, &memory);
    EXPECT_EQ(TypingScan(table, repo).collect(70'000, 40'000, nullptr, nullptr, &memory),
              scanOfWholePaths(table, repo, 70'000, 40'000));
}

TEST(TypingScan, CancelledScanKeepsAPrefixOfTheAnswer)
{
    const ItemTable table = mixedTable();
    const SearchQuery query = wordsQuery({"notes"});
    CancelToken cancel;
    cancel.cancel();
    const std::vector<std::uint32_t> full = scanOfWholePaths(table, query, 70'000, 70'000);
    const std::vector<std::uint32_t> part = TypingScan(table, query).collect(70'000, 70'000, &cancel);
    ASSERT_LE(part.size(), full.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), full.begin()));
    EXPECT_FALSE(TypingScan(table, wordsQuery({" "})).hasWords());
}

} // namespace
} // namespace pallix
