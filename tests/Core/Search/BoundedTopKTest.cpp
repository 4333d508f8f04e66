#include "Core/Search/BoundedTopK.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "Core/Search/ResultOrder.h"
#include "Core/Search/SearchEngine.h"
#include "FactsSource.h"
#include "SearchTestItems.h"

namespace pallix::testing {
namespace {


std::vector<std::string> pathsAt(const std::vector<IndexedItem>& items, const std::vector<std::uint32_t>& indices)
{
    std::vector<std::string> out;
    for (std::uint32_t i : indices)
        out.emplace_back(items[i].path());
    return out;
}

// Positions from 0 on, each after the one before, and the items at them: the
// same candidates for the engine over the source and over a plain list.
template <class Next>
std::pair<std::vector<std::uint32_t>, std::vector<IndexedItem>> picked(const std::vector<IndexedItem>& items, Next next)
{
    std::pair<std::vector<std::uint32_t>, std::vector<IndexedItem>> out;
    for (std::uint32_t i = 0; i < items.size(); i = next(i)) {
        out.first.push_back(i);
        out.second.push_back(items[i]);
    }
    return out;
}

// A query of every kind the engine takes, with options drawn at random.
SearchQuery randomQuery(ItemGenerator& gen, const std::vector<IndexedItem>& items)
{
    std::mt19937& rng = gen.rng();
    SearchQuery q;
    q.contentFilters = {SearchContentFilter::All};
    q.caseSensitive = rng() % 4 == 0;
    q.matchMode = static_cast<SearchMatchMode>(rng() % 4);
    q.sortField = static_cast<SearchSortField>(rng() % 4);
    q.ascending = rng() % 3 != 0;
    q.excludeSystemJunk = rng() % 3 != 0;
    switch (rng() % 10) {
    case 0: {  // a wildcard pattern from a name
        std::string p = gen.token(items);
        p = (rng() % 2 ? "*" : "") + p + (rng() % 2 ? "*" : "");
        if (rng() % 3 == 0 && p.size() > 2)
            p[1] = '?';
        q.wildcardPattern = p;
        break;
    }
    case 1: {  // expressions
        static const char* expressions[] = {"re.*port", "^Re", "port$", "\\.(pdf|txt)$", "[0-9]{4}", "(lib|doc)s?",
                                            "a|b", "文件", "b3b+", "(?i)REP", "\\d\\.md$", "x{0,2}plan"};
        q.useRegularExpression = true;
        q.tokens.push_back(expressions[rng() % std::size(expressions)]);
        if (rng() % 3 == 0)
            q.tokens.push_back(expressions[rng() % std::size(expressions)]);
        break;
    }
    case 2:  // filters alone
        q.typeFilter = rng() % 2 ? IndexedItem::ItemType::File : IndexedItem::ItemType::Folder;
        break;
    default:
        for (int n = 1 + int(rng() % 2); n > 0; --n)
            q.tokens.push_back(gen.token(items));
        break;
    }
    static const std::set<SearchContentFilter> contents[] = {
        {SearchContentFilter::Images},
        {SearchContentFilter::Documents, SearchContentFilter::Folders},
        {SearchContentFilter::Videos, SearchContentFilter::Archives, SearchContentFilter::Executables},
        {SearchContentFilter::Normal},
        {},
    };
    if (rng() % 5 == 0)
        q.contentFilters = contents[rng() % std::size(contents)];
    if (rng() % 8 == 0)
        q.pathFilter = rng() % 2 ? "user" : "Lib";
    if (rng() % 10 == 0)
        q.extensionFilter = "pdf";
    if (rng() % 12 == 0)
        q.modifiedAfter = 1'700'000'001.0;
    return q;
}

std::string describe(const SearchQuery& q, int limit)
{
    std::string s = "limit " + std::to_string(limit) + ", mode " + std::string(rawValue(q.matchMode)) + ", sort " +
                    std::string(rawValue(q.sortField)) + (q.ascending ? " up" : " down") +
                    (q.caseSensitive ? ", case" : "") + (q.excludeSystemJunk ? ", no junk" : "");
    for (const std::string& t : q.tokens)
        s += ", token \"" + t + "\"";
    if (q.wildcardPattern)
        s += ", wildcard \"" + *q.wildcardPattern + "\"";
    if (q.useRegularExpression)
        s += ", re";
    return s;
}

// The answer with facts (filters, bounds, best first) must be the answer
// without them, equal results included, in both editions. Few items take
// the sorting path, which ranks by the bounds the facts made exact.
void expectSameAnswers(unsigned seed, std::size_t itemCount, int queries)
{
    const bool sorting = itemCount <= SearchEngine::kTopKMinCandidates;
    ItemGenerator gen(seed);
    const std::vector<IndexedItem> items = gen.items(itemCount);
    const FactsSource withFacts(items);
    const SearchEngine engine;
    int topK = 0;
    for (const char* edition : {kMardellId, kQelId}) {
        ScopedAppId scoped(edition);
        for (int i = 0; i < queries; ++i) {
            const SearchQuery q = randomQuery(gen, items);
            const int limit = std::vector<int>{1, 7, 60, 400, 3000}[gen.rng()() % 5];
            topK += SearchEngine::takesTopKPath(items.size(), limit);
            SCOPED_TRACE(describe(q, limit) + " (" + edition + ")");
            const std::vector<std::string> plain = pathsOf(engine.search(items, q, limit));
            ASSERT_EQ(pathsAt(items, engine.searchIndices(withFacts, std::nullopt, q, limit)), plain);
        }
    }
    if (sorting)
        EXPECT_EQ(topK, 0);
    else
        EXPECT_GT(topK, queries / 2) << "most searches should take the top-K path";
}

TEST(BoundedTopK, FactsChangeNoAnswerOfRandomSearches)
{
    expectSameAnswers(11, 4000, 150);
    expectSameAnswers(12, 6000, 150);
}

TEST(BoundedTopK, FactsChangeNoAnswerOnTheSortingPath)
{
    expectSameAnswers(13, 2500, 200);
    expectSameAnswers(14, 900, 200);
}

TEST(BoundedTopK, CandidatesCollectedInSlicesGiveTheAnswerOfOnePass)
{
    // Enough candidates for a slice per spare thread, with limits that make
    // the sure candidates' names be read in slices too.
    ItemGenerator gen(31);
    const std::vector<IndexedItem> items = gen.items(30000);
    const FactsSource withFacts(items);
    const SearchEngine engine;
    const auto [candidates, subset] = picked(items, [](std::uint32_t i) { return i + 1 + i % 3; });
    // Searches that keep nearly every item first: one lost or doubled at a
    // slice's edge shows in their answers whatever its rank.
    std::vector<std::pair<SearchQuery, int>> searches;
    for (SearchSortField field : {SearchSortField::Name, SearchSortField::Path, SearchSortField::Size})
        for (bool ascending : {true, false}) {
            SearchQuery q;
            q.contentFilters = {SearchContentFilter::All};
            q.typeFilter = IndexedItem::ItemType::File;
            q.sortField = field;
            q.ascending = ascending;
            searches.emplace_back(q, int(subset.size()) - 600);
        }
    for (int i = 0; i < 40; ++i)
        searches.emplace_back(randomQuery(gen, items), std::vector<int>{1, 50, 2000, 9000}[gen.rng()() % 4]);
    // Long answers are scored in batches; kind first, a batch meets kinds it must pass over.
    for (const char* edition : {kMardellId, kQelId}) {
        ScopedAppId scoped(edition);
        for (const auto& [q, limit] : searches) {
            SCOPED_TRACE(describe(q, limit) + " (" + edition + ")");
            ASSERT_EQ(pathsAt(items, engine.searchIndices(withFacts, std::nullopt, q, limit)),
                      pathsOf(engine.search(items, q, limit)));
            ASSERT_EQ(
                pathsAt(items, engine.searchIndices(withFacts, std::span<const std::uint32_t>(candidates), q, limit)),
                pathsOf(engine.search(subset, q, limit)));
        }
    }
}

// Each candidate ranked on its own (scoredScattered) answers as the facts' filters do.
TEST(BoundedTopK, FactsChangeNoAnswerOverGivenCandidates)
{
    ItemGenerator gen(21);
    const std::vector<IndexedItem> items = gen.items(9000);
    const FactsSource withFacts(items);
    const SearchEngine engine;
    // Every other item, and a stale position past the end that is skipped.
    const auto [candidates, subset] = picked(items, [](std::uint32_t i) { return i + 2; });
    for (const char* edition : {kMardellId, kQelId}) {
        ScopedAppId scoped(edition);
        for (int i = 0; i < 120; ++i) {
            const SearchQuery q = randomQuery(gen, items);
            const int limit = std::vector<int>{3, 100, 1000}[gen.rng()() % 3];
            SCOPED_TRACE(describe(q, limit) + " (" + edition + ")");
            const std::vector<std::string> plain = pathsOf(engine.search(subset, q, limit));
            const std::span<const std::uint32_t> given(candidates);
            ASSERT_EQ(pathsAt(items, engine.searchIndices(withFacts, given, q, limit)), plain);
            const std::vector<ScoredItem> scattered = scoredScattered(withFacts, given, PreparedQuery(q), std::size_t(limit));
            ASSERT_EQ(pathsAt(items, indicesOf(scattered)), plain);
        }
    }
}

TEST(BoundedTopK, EqualResultsKeepTheEarlierTwinWhateverTheWalkOrder)
{
    // Case twins tie in all the user sees. Among candidates that match through
    // their paths only (their bounds are their ranks, so best first reorders
    // them), the earlier twin is kept, as the full sort keeps it.
    // 40,000 items: the twins at a slice's end and the next one's start too.
    for (std::size_t at : {0u, 1500u, 2999u, 6665u, 20000u}) {
        std::vector<IndexedItem> items;
        for (int i = 0; i < (at > 3000 ? 40000 : 3200); ++i)
            items.push_back(fileAt("/t" + std::string(std::size_t(i % 40), 'x') + "/i/e/" + std::to_string(i) + ".dat"));
        const std::vector<IndexedItem> twins{fileAt("/d/Tie-x.txt"), fileAt("/d/tie-x.txt"), fileAt("/d/tie.txt"),
                                             fileAt("/d/tie.md")};
        items.insert(items.begin() + std::ptrdiff_t(at), twins.begin(), twins.end());
        const FactsSource withFacts(items);
        const SearchEngine engine;
        for (int limit : {1, 2, 3, 4, 5, 40}) {
            SCOPED_TRACE("twins at " + std::to_string(at) + ", limit " + std::to_string(limit));
            const SearchQuery q = tokenQuery({"tie"});
            EXPECT_EQ(pathsAt(items, engine.searchIndices(withFacts, std::nullopt, q, limit)),
                      pathsOf(engine.search(items, q, limit)));
        }
    }
}

TEST(BoundedTopK, ResultsSortedInSlicesComeInTheOrderOfOneSort)
{
    // Many ties of rank and kind, settled by name, then path (case aside),
    // then the index;
    // sizes that make one slice, an odd number of them and the most.
    const std::vector<std::string> names = {"report", "Report", "report.pdf", "合同.pdf", "b", "a1", "a10", "a2"};
    const std::vector<std::string> folders = {"/home/u", "/home/u/docs", "/home/u/文档", "/srv/x", "/home/U"};
    std::vector<std::string> paths;
    for (const std::string& f : folders)
        for (const std::string& n : names)
            paths.push_back(f + "/" + n);
    std::mt19937 rng(7);
    for (SearchSortField field : {SearchSortField::Name, SearchSortField::Size})
        for (std::size_t count : {900u, 3100u, 7000u, 20000u}) {
            SearchQuery q;
            q.sortField = field;
            const PreparedQuery prepared(q);
            std::vector<std::uint32_t> indices(count);
            std::iota(indices.begin(), indices.end(), 0u);
            std::shuffle(indices.begin(), indices.end(), rng);
            std::vector<ScoredItem> items(count);
            for (std::size_t i = 0; i < count; ++i) {
                ScoredItem& s = items[i];
                const std::size_t p = rng() % paths.size();
                s.path = paths[p];
                s.name = names[p % names.size()];
                s.nameKey = resultTextKey(s.name);
                s.size = std::int64_t(rng() % 3);
                s.rank = Rank(rng() % 4);
                s.kindOrder = Rank(rng() % 2);
                s.index = indices[i];
            }
            const ResultOrder order(prepared);
            std::vector<ScoredItem> expected = items;
            std::stable_sort(expected.begin(), expected.end(), order);
            sortInSlices(items, order);
            SCOPED_TRACE(std::to_string(count) + " results");
            ASSERT_EQ(items.size(), expected.size());
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_EQ(items[i].path, expected[i].path) << "at " << i;
                ASSERT_EQ(items[i].index, expected[i].index) << "at " << i;
            }
        }
}

} // namespace
} // namespace pallix::testing
