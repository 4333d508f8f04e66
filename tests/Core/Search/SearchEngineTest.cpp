#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "Core/Search/SearchEngine.h"
#include "SearchTestItems.h"

using namespace pallix;
using namespace pallix::testing;

namespace {


SearchQuery filterQuery()
{
    SearchQuery q;
    q.contentFilters = {SearchContentFilter::All};
    q.excludeSystemJunk = false;
    return q;
}

std::vector<std::string> run(const std::vector<IndexedItem>& items, const SearchQuery& q, int limit = 100)
{
    return pathsOf(SearchEngine().search(items, q, limit));
}

} // namespace

// ---------------------------------------------------------------------------
// Which candidates are results.

TEST(SearchEngine, LimitBelowOneOrNoItemsGivesNothing)
{
    const std::vector<IndexedItem> items{fileAt("/d/report.txt")};
    EXPECT_TRUE(run(items, tokenQuery({"report"}), 0).empty());
    EXPECT_TRUE(run(items, tokenQuery({"report"}), -5).empty());
    EXPECT_TRUE(run({}, tokenQuery({"report"}), 10).empty());
    EXPECT_EQ(run(items, tokenQuery({"report"}), 1), std::vector<std::string>{"/d/report.txt"});
}

TEST(SearchEngine, QueryWithoutTokensNeedsAFilter)
{
    const std::vector<IndexedItem> items{fileAt("/d/a.txt"), folderAt("/d/sub"), fileAt("/d/b.pdf")};
    // No token, no filter, content filters exactly {all}: nothing, though every item passes.
    EXPECT_TRUE(run(items, filterQuery()).empty());

    // An empty content-filter set is a filter of its own.
    SearchQuery emptySet = filterQuery();
    emptySet.contentFilters.clear();
    EXPECT_EQ(run(items, emptySet).size(), 3u);

    // Extension filter: rank 900 for all; folders first, then by name.
    SearchQuery byExt = filterQuery();
    byExt.extensionFilter = "txt";
    EXPECT_EQ(run(items, byExt), std::vector<std::string>{"/d/a.txt"});

    SearchQuery dated = filterQuery();
    dated.modifiedAfter = 0.0;
    EXPECT_EQ(run(items, dated), (std::vector<std::string>{"/d/sub", "/d/a.txt", "/d/b.pdf"}));
}

TEST(SearchEngine, FilterOnlyResultsOrderByKindThenSortFieldThenPath)
{
    SearchQuery q = filterQuery();
    q.typeFilter = IndexedItem::ItemType::File;
    const std::vector<IndexedItem> items{fileAt("/d/z.png"), fileAt("/d/b.txt"), fileAt("/d/a.zip"),
                                         fileAt("/d/Makefile"), fileAt("/d/a.txt")};
    // Kind orders: txt 1, png 2, zip 5, no extension 7.
    EXPECT_EQ(run(items, q), (std::vector<std::string>{"/d/a.txt", "/d/b.txt", "/d/z.png", "/d/a.zip", "/d/Makefile"}));
}

TEST(SearchEngine, RegularExpressionTokensMustAllMatchTheName)
{
    const std::vector<IndexedItem> items{fileAt("/d/invoice-2024.pdf"), fileAt("/d/invoice.pdf"),
                                         fileAt("/d/2024/notes.txt")};
    SearchQuery q = tokenQuery({"^inv", "\\d{4}"});
    q.useRegularExpression = true;
    EXPECT_EQ(run(items, q), std::vector<std::string>{"/d/invoice-2024.pdf"});

    q.tokens = {"INVOICE"};
    EXPECT_EQ(run(items, q).size(), 2u);  // case-insensitive unless asked
    q.caseSensitive = true;
    EXPECT_TRUE(run(items, q).empty());

    // One expression that does not compile empties the whole search.
    q = tokenQuery({"inv", "(unclosed"});
    q.useRegularExpression = true;
    EXPECT_TRUE(run(items, q).empty());

    // No token at all in regular-expression mode: nothing, even with a filter.
    q = tokenQuery({});
    q.useRegularExpression = true;
    q.extensionFilter = "pdf";
    EXPECT_TRUE(run(items, q).empty());
}

TEST(SearchEngine, WildcardPatternDecidesAloneEvenInRegularExpressionMode)
{
    const std::vector<IndexedItem> items{fileAt("/d/IMG_001.jpg"), fileAt("/d/IMG_002.png"), fileAt("/d/img.jpg")};
    SearchQuery q = tokenQuery({"zzz"});
    q.wildcardPattern = "IMG_*.jpg";
    EXPECT_EQ(run(items, q), std::vector<std::string>{"/d/IMG_001.jpg"});
    q.useRegularExpression = true;
    EXPECT_EQ(run(items, q), std::vector<std::string>{"/d/IMG_001.jpg"});
    q.tokens.clear();
    EXPECT_EQ(run(items, q), std::vector<std::string>{"/d/IMG_001.jpg"});
}

TEST(SearchEngine, DeveloperToolArtifactsShowOnlyForTheirExactName)
{
    // Any path with a /bin/ folder holds tooling artifacts; this one is no system path.
    const std::vector<IndexedItem> items{fileAt("/opt/llvm/bin/clang"), fileAt("/home/a/clang-notes.txt")};
    const std::vector<std::string> both{"/opt/llvm/bin/clang", "/home/a/clang-notes.txt"};
    const std::vector<std::string> notesOnly{"/home/a/clang-notes.txt"};
    // Pattern searches rank every result 500, so the kind order puts the .txt first.
    const std::vector<std::string> bothByKind{"/home/a/clang-notes.txt", "/opt/llvm/bin/clang"};

    EXPECT_EQ(run(items, tokenQuery({"clang"})), both);
    EXPECT_EQ(run(items, tokenQuery({"Clang"})), both);
    // Case-sensitive, Clang is not the artifact's name; the notes still match through the normalized name.
    EXPECT_EQ(run(items, tokenQuery({"Clang"}, SearchMatchMode::Contains, true)), notesOnly);
    EXPECT_EQ(run(items, tokenQuery({"clan"})), notesOnly);
    EXPECT_EQ(run(items, tokenQuery({"clang", "c"})), notesOnly);

    SearchQuery filterOnly = filterQuery();
    filterOnly.extensionFilter = "";
    EXPECT_TRUE(run(items, filterOnly).empty());

    SearchQuery wildcard = tokenQuery({});
    wildcard.wildcardPattern = "clan*";
    EXPECT_EQ(run(items, wildcard), bothByKind);

    SearchQuery regex = tokenQuery({"^cla"});
    regex.useRegularExpression = true;
    EXPECT_EQ(run(items, regex), bothByKind);
}

TEST(SearchEngine, JunkIsLeftOutOnlyWhenTheQueryAsksForIt)
{
    const std::vector<IndexedItem> items{fileAt("/home/a/.DS_Store"), fileAt("/home/a/store.txt")};
    SearchQuery q = tokenQuery({"store"});
    EXPECT_EQ(run(items, q).size(), 2u);
    q.excludeSystemJunk = true;
    EXPECT_EQ(run(items, q), std::vector<std::string>{"/home/a/store.txt"});
}

// ---------------------------------------------------------------------------
// Result order.

TEST(SearchEngine, EditionDecidesBetweenRankAndKind)
{
    // The file ranks 0 (its name is the token), the folder 11 (a prefix).
    const std::vector<IndexedItem> items{folderAt("/d/reports"), fileAt("/d/report.txt")};
    {
        ScopedAppId edition(kMardellId);
        EXPECT_EQ(run(items, tokenQuery({"report"})), (std::vector<std::string>{"/d/report.txt", "/d/reports"}));
    }
    {
        ScopedAppId edition(kQelId);
        EXPECT_EQ(run(items, tokenQuery({"report"})), (std::vector<std::string>{"/d/reports", "/d/report.txt"}));
    }
}

TEST(SearchEngine, EqualRankAndKindFollowTheSortField)
{
    const std::vector<IndexedItem> items{fileAt("/d/Banana.txt", 10, 300), fileAt("/d/apple.txt", 30, 100),
                                         fileAt("/d/cherry.txt", 20, 200)};
    SearchQuery q = filterQuery();
    q.extensionFilter = "txt";

    struct Case {
        SearchSortField field;
        bool ascending;
        std::vector<std::string> expected;
    } cases[] = {
        {SearchSortField::Name, true, {"/d/apple.txt", "/d/Banana.txt", "/d/cherry.txt"}},
        {SearchSortField::Name, false, {"/d/cherry.txt", "/d/Banana.txt", "/d/apple.txt"}},
        {SearchSortField::Path, false, {"/d/cherry.txt", "/d/Banana.txt", "/d/apple.txt"}},
        {SearchSortField::Size, true, {"/d/Banana.txt", "/d/cherry.txt", "/d/apple.txt"}},
        {SearchSortField::Size, false, {"/d/apple.txt", "/d/cherry.txt", "/d/Banana.txt"}},
        {SearchSortField::ModifiedAt, true, {"/d/apple.txt", "/d/cherry.txt", "/d/Banana.txt"}},
        {SearchSortField::ModifiedAt, false, {"/d/Banana.txt", "/d/cherry.txt", "/d/apple.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.field)) + (c.ascending ? " ascending" : " descending"));
        q.sortField = c.field;
        q.ascending = c.ascending;
        EXPECT_EQ(run(items, q), c.expected);
    }
}

TEST(SearchEngine, EqualSortKeysFallBackToAscendingPath)
{
    const std::vector<IndexedItem> items{fileAt("/d/c.txt", 5), fileAt("/d/a.txt", 5), fileAt("/d/B.txt", 5)};
    SearchQuery q = filterQuery();
    q.extensionFilter = "txt";
    q.sortField = SearchSortField::Size;
    q.ascending = false;
    EXPECT_EQ(run(items, q), (std::vector<std::string>{"/d/a.txt", "/d/B.txt", "/d/c.txt"}));
}

TEST(SearchEngine, NamesCollateAsChineseIgnoringCase)
{
    // zh_CN collation puts Han characters in pinyin order: 阿 (a) before 报 (bao) before 中 (zhong).
    const std::vector<IndexedItem> items{fileAt("/d/中.txt"), fileAt("/d/报.txt"), fileAt("/d/阿.txt")};
    SearchQuery q = filterQuery();
    q.extensionFilter = "txt";
    EXPECT_EQ(run(items, q), (std::vector<std::string>{"/d/阿.txt", "/d/报.txt", "/d/中.txt"}));
}

// ---------------------------------------------------------------------------
// Full sort and top-K.

TEST(SearchEngine, TopKPathThresholds)
{
    EXPECT_FALSE(SearchEngine::takesTopKPath(3000, 10));
    EXPECT_TRUE(SearchEngine::takesTopKPath(3001, 10));
    EXPECT_FALSE(SearchEngine::takesTopKPath(3512, 3000));
    EXPECT_TRUE(SearchEngine::takesTopKPath(3513, 3000));
    EXPECT_FALSE(SearchEngine::takesTopKPath(1'000'000, 2'147'483'647));
}

namespace {

// Two results tie under the order (same rank, kind, name and path when case is
// ignored); with limit 3 only one of them is kept. The rest are candidates that
// fail the token.
std::vector<IndexedItem> tieProbe(std::size_t total)
{
    std::vector<IndexedItem> items{fileAt("/d/Tie-x.txt"), fileAt("/d/tie-x.txt"), fileAt("/d/tie.txt"),
                                   fileAt("/d/tie.md")};
    for (std::size_t i = items.size(); i < total; ++i)
        items.push_back(fileAt("/other/f" + std::to_string(i) + ".txt"));
    return items;
}

} // namespace

TEST(SearchEngine, BothPathsKeepTheEarlierOfEqualResults)
{
    // Which of two equals survives the cut must not depend on the path taken:
    // a list that grows by one unrelated item would otherwise change its answer.
    const SearchQuery q = tokenQuery({"tie"});
    const std::vector<std::string> expected{"/d/tie.md", "/d/tie.txt", "/d/Tie-x.txt"};
    EXPECT_EQ(run(tieProbe(3000), q, 3), expected);
    EXPECT_EQ(run(tieProbe(3001), q, 3), expected);
    std::vector<IndexedItem> swapped = tieProbe(3001);
    std::swap(swapped[0], swapped[1]);
    EXPECT_EQ(run(swapped, q, 3), (std::vector<std::string>{"/d/tie.md", "/d/tie.txt", "/d/tie-x.txt"}));

    // With a limit of 3000 the slack decides the path; only four results exist.
    EXPECT_EQ(run(tieProbe(3512), q, 3000).size(), 4u);
    EXPECT_EQ(run(tieProbe(3513), q, 3000).size(), 4u);
}

TEST(SearchEngine, FullSortKeepsInputOrderAmongEqualResults)
{
    // Forty spellings of one path that differ only in case: equal under the order.
    std::vector<IndexedItem> items;
    std::vector<std::string> expected;
    for (int mask = 0; mask < 40; ++mask) {
        std::string folder = "abcdef";
        for (int bit = 0; bit < 6; ++bit)
            if (mask & (1 << bit))
                folder[bit] = char(folder[bit] - 'a' + 'A');
        items.push_back(fileAt("/d/" + folder + "/same.txt"));
        expected.emplace_back(items.back().path());
    }
    std::reverse(items.begin(), items.end());
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(run(items, tokenQuery({"same"}), 100), expected);
}

TEST(SearchEngine, TopKWithLimitOneKeepsTheFirstOfEqualBest)
{
    std::vector<IndexedItem> items;
    for (int i = 0; i < 3500; ++i)
        items.push_back(fileAt("/d/" + std::string(i % 2 ? "B" : "b") + "/same.txt"));
    // All tie: same rank, kind, name, and paths equal when case is ignored.
    EXPECT_EQ(run(items, tokenQuery({"same"}), 1), std::vector<std::string>{"/d/b/same.txt"});

    // A strictly better later candidate does replace it.
    items.push_back(folderAt("/d/z/same"));
    EXPECT_EQ(run(items, tokenQuery({"same"}), 1), std::vector<std::string>{"/d/z/same"});
}

TEST(SearchEngine, TopKAndFullSortAgreeOnGeneratedItems)
{
    const char* syllables[] = {"re", "port", "an", "nual", "plan", "x", "2024", "doc", "s", "报告", "季度", "图"};
    const char* extensions[] = {"txt", "pdf", "png", "zip", "", "mp4", "sh"};
    std::mt19937 rng(7);
    std::vector<IndexedItem> items;
    for (int i = 0; i < 20'000; ++i) {
        std::string name;
        for (int k = 0, n = 1 + int(rng() % 3); k < n; ++k)
            name += syllables[rng() % std::size(syllables)];
        // A unique folder per item: no two results compare equal. Some are system
        // folders or hold developer tools, which the exclusion rules leave out.
        const char* roots[] = {"/data/f", "/data/f", "/data/f", "/tmp/f", "/data/bin/f"};
        const std::string folder = roots[rng() % std::size(roots)] + std::to_string(i);
        const std::string ext = extensions[rng() % std::size(extensions)];
        const std::string path = folder + "/" + name + (ext.empty() ? "" : "." + ext);
        items.push_back(rng() % 5 == 0 ? folderAt(path, 1e9 + double(rng() % 1000))
                                       : fileAt(path, std::int64_t(rng() % 50), 1e9 + double(rng() % 1000)));
    }

    const SearchEngine engine;
    for (const char* edition : {kMardellId, kQelId}) {
        ScopedAppId scoped(edition);
        for (SearchSortField field : {SearchSortField::Name, SearchSortField::Size, SearchSortField::ModifiedAt}) {
            SearchQuery q = tokenQuery({"rep"});
            q.excludeSystemJunk = true;
            q.sortField = field;
            q.ascending = field != SearchSortField::Size;
            SCOPED_TRACE(std::string(edition) + " " + std::string(rawValue(field)));
            ASSERT_FALSE(SearchEngine::takesTopKPath(items.size(), 20'000));
            const std::vector<IndexedItem> full = engine.search(items, q, 20'000);
            ASSERT_GT(full.size(), 1000u);
            for (int limit : {1, 500, 1000, 19'487}) {
                ASSERT_TRUE(SearchEngine::takesTopKPath(items.size(), limit));
                const std::vector<IndexedItem> top = engine.search(items, q, limit);
                const std::size_t expected = std::min<std::size_t>(full.size(), std::size_t(limit));
                ASSERT_EQ(top.size(), expected) << "limit " << limit;
                EXPECT_TRUE(std::equal(top.begin(), top.end(), full.begin())) << "limit " << limit;
            }
        }
    }
}

TEST(SearchEngine, SearchIndicesRanksOnlyTheGivenCandidates)
{
    const std::vector<IndexedItem> items{fileAt("/d/report.txt"), fileAt("/d/reports.txt"), fileAt("/d/x.txt"),
                                         fileAt("/d/report")};
    class Source final : public ItemSource {
    public:
        explicit Source(const std::vector<IndexedItem>& items) : m_items(items) {}
        std::size_t size() const override { return m_items.size(); }
        ItemRef at(std::size_t i) const override { return m_items[i].ref(); }

    private:
        const std::vector<IndexedItem>& m_items;
    } source(items);

    ScopedAppId edition(kMardellId);
    const std::vector<std::uint32_t> candidates{1, 2, 3};
    const auto indices =
        SearchEngine().searchIndices(source, std::span<const std::uint32_t>(candidates), tokenQuery({"report"}), 10);
    // report (rank 0, no extension, kind 7) vs reports.txt (rank 15, kind 1): rank first.
    EXPECT_EQ(indices, (std::vector<std::uint32_t>{3, 1}));
    EXPECT_EQ(SearchEngine().searchIndices(source, std::nullopt, tokenQuery({"report"}), 10),
              (std::vector<std::uint32_t>{0, 3, 1}));
}
