#include "Core/Search/CandidateFilter.h"

#include <gtest/gtest.h>

#include "Core/Search/CandidateScoring.h"
#include "FactsSource.h"
#include "SearchTestItems.h"

namespace pallix::testing {
namespace {

TEST(CandidateFilter, CoveredTokensAndGreedyHeads)
{
    EXPECT_TRUE(CandidateFilter::coversToken("report-2024.pdf"));
    EXPECT_TRUE(CandidateFilter::coversToken("报告a"));
    EXPECT_FALSE(CandidateFilter::coversToken("caf\xC3\xA9"));  // é folds to e
    EXPECT_FALSE(CandidateFilter::coversToken("\xE3\x81\x82"));  // kana

    struct Case {
        const char* token;
        const char* haystack;
        std::size_t matched;
    } cases[] = {
        {"libp", "homeuserlibrary", 3},  // l, i, b in order; no p after them
        {"libp", "homeuserlibraryp", 4},
        {"abc", "cba", 1},
        {"报告x", "我的报告", 2},
        {"aa", "a", 1},  // a repeat needs a second occurrence
        {"", "anything", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.token) + " in " + c.haystack);
        EXPECT_EQ(CandidateFilter::matchedHead(c.token, c.haystack), c.matched);
    }
}

// What the full tests say of each item: a result with its rank, or none.
std::optional<Rank> fullRank(const IndexedItem& item, const PreparedQuery& q)
{
    const std::optional<Rank> rank = rankIgnoringExclusions(item.ref(), nullptr, nullptr, q, kNoRankCeiling);
    if (!rank || !passesExclusions(item.ref(), nullptr, q))
        return std::nullopt;
    return rank;
}

// Every result is collected and survives refine(); its bounds, before and
// after, are never above its rank, and a bound said to be exact is the rank.
void expectSoundBounds(const std::vector<IndexedItem>& items, const SearchQuery& query)
{
    const FactsSource source(items);
    const PreparedQuery q(query);
    CandidateFilter filter(source, q);
    std::vector<std::uint32_t> collected;
    std::vector<CandidateBound> bounds;
    filter.collect(0, static_cast<std::uint32_t>(items.size()), collected, &bounds);
    std::size_t next = 0;
    for (std::uint32_t i = 0; i < items.size(); ++i) {
        const std::optional<Rank> rank = fullRank(items[i], q);
        const bool wasCollected = next < collected.size() && collected[next] == i;
        if (rank) {
            ASSERT_TRUE(wasCollected) << items[i].path() << " ranks " << *rank << " but was turned down";
            ASSERT_LE(bounds[next].rank, *rank) << items[i].path();
        }
        if (wasCollected) {
            CandidateBound refined = bounds[next];
            const bool kept = filter.refine(i, refined);
            for (const CandidateBound& b : {bounds[next], refined}) {
                if (rank) {
                    ASSERT_TRUE(kept) << items[i].path() << " ranks " << *rank << " but refine turned it down";
                    ASSERT_LE(b.rank, *rank) << items[i].path();
                }
                if (b.exact && (kept || &b == &bounds[next])) {
                    ASSERT_EQ(rank, std::optional<Rank>(b.rank)) << items[i].path() << " has an exact bound";
                }
            }
            EXPECT_TRUE(refined.refined || !kept);
            ++next;
        }
    }
}

TEST(CandidateFilter, TurnsDownNoResultAndBoundsEveryRank)
{
    ItemGenerator gen(5);
    const std::vector<IndexedItem> items = gen.items(3000);
    for (int i = 0; i < 250; ++i) {
        SearchQuery q = tokenQuery({gen.token(items)}, static_cast<SearchMatchMode>(gen.rng()() % 4),
                                   gen.rng()() % 4 == 0);
        if (gen.rng()() % 3 == 0)
            q.tokens.push_back(gen.token(items));
        q.excludeSystemJunk = gen.rng()() % 2 == 0;
        if (gen.rng()() % 8 == 0)
            q.pathFilter = "user";
        std::string trace;
        for (const std::string& t : q.tokens)
            trace += "\"" + t + "\" ";
        SCOPED_TRACE(trace + std::string(rawValue(q.matchMode)) + (q.caseSensitive ? " case" : ""));
        expectSoundBounds(items, q);
    }
}

TEST(CandidateFilter, PathOnlyMatchesGetTheirRankAsBound)
{
    // "libp" is in no name; the folders hold it only as a subsequence, so
    // the path-subsequence tier alone matches: 435 and the length excess.
    const std::vector<IndexedItem> items{fileAt("/l/i/b/photo.txt"), fileAt("/lib/x/py.txt"), fileAt("/a/b.txt")};
    const FactsSource source(items);
    const SearchQuery query = tokenQuery({"libp"});
    const PreparedQuery q(query);
    CandidateFilter filter(source, q);
    std::vector<std::uint32_t> collected;
    std::vector<CandidateBound> bounds;
    filter.collect(0, 3, collected, &bounds);
    ASSERT_EQ(collected, (std::vector<std::uint32_t>{0, 1}));
    // The folders leave "p" to the names, and no name can hold "libp" whole:
    // the names are read while collecting, and that settles the rank.
    EXPECT_TRUE(bounds[0].refined);
    ASSERT_TRUE(filter.refine(0, bounds[0]));
    ASSERT_TRUE(filter.refine(1, bounds[1]));
    EXPECT_TRUE(bounds[0].exact);
    EXPECT_EQ(bounds[0].rank, 435 + 11 - 4);  // the normalised path is "libphototxt"
    EXPECT_EQ(std::optional<Rank>(bounds[0].rank), fullRank(items[0], q));
    EXPECT_EQ(std::optional<Rank>(bounds[1].rank), fullRank(items[1], q));
}

TEST(CandidateFilter, CharactersOutOfOrderBoundTheNameTiersFromBelow)
{
    // "repxort" holds "report" in order but not whole: no tier below the
    // name-subsequence one can match, so no name tier needs ranking.
    const std::vector<IndexedItem> items{fileAt("/x/repxort.txt"), fileAt("/x/report.txt"),
                                         fileAt("/x/rexport.txt")};
    const FactsSource source(items);
    const SearchQuery query = tokenQuery({"report"});  // the prepared query refers to it
    const PreparedQuery q(query);
    CandidateFilter filter(source, q);
    std::vector<std::uint32_t> collected;
    std::vector<CandidateBound> bounds;
    filter.collect(0, 3, collected, &bounds);
    ASSERT_EQ(collected, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_GE(bounds[0].rank, kNameSubsequenceRank);
    EXPECT_GE(bounds[2].rank, kNameSubsequenceRank);
    EXPECT_EQ(bounds[1].rank, 0);  // the name may hold the word: anything goes
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(filter.refine(i, bounds[i]));
        EXPECT_LE(std::optional<Rank>(bounds[i].rank), fullRank(items[i], q)) << items[i].path();
    }
}

TEST(CandidateFilter, LengthsAndWordStartsBoundTheNameTiers)
{
    // Whole in each name, so only refine() ranks the name tiers; before that
    // the facts bound them. The word starts no word of "?word.txt", so only
    // the substring tiers and those above remain: unless the bits of the
    // name's pairs happen to hold the word-start bit of its head, so a word
    // and a head are picked whose do not.
    std::string word, inside;
    for (const char* w : {"report", "budget", "signal", "planet", "window", "cactus"})
        for (char head = 'a'; head <= 'z' && inside.empty(); ++head) {
            const std::string path = std::string("/x/") + head + w + ".txt";
            if ((ItemFacts::of(fileAt(path).ref()).namePairs & ItemFacts::wordStartBit(w[0])) == 0) {
                inside = path;
                word = w;
            }
        }
    ASSERT_FALSE(inside.empty());
    const std::vector<IndexedItem> items{fileAt(inside), fileAt("/x/" + word + "-a.txt"),
                                         fileAt("/x/" + word + ".txt"),
                                         fileAt("/x/a-long-name-with-" + word + ".txt")};
    const FactsSource source(items);
    const SearchQuery query = tokenQuery({word});
    const PreparedQuery q(query);
    CandidateFilter filter(source, q);
    std::vector<std::uint32_t> collected;
    std::vector<CandidateBound> bounds;
    filter.collect(0, 4, collected, &bounds);
    ASSERT_EQ(collected.size(), 4u);
    EXPECT_GE(bounds[0].rank, 200);
    EXPECT_EQ(bounds[2].rank, 0);    // the stem may equal the token
    EXPECT_GE(bounds[3].rank, 100);  // a word start at best
    EXPECT_LT(bounds[1].rank, 100);  // a prefix may match
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_FALSE(bounds[i].refined);
        EXPECT_LE(std::optional<Rank>(bounds[i].rank), fullRank(items[i], q)) << items[i].path();
    }
}

TEST(CandidateFilter, OneLetterTokensAndRestsAreSettledByTheirBits)
{
    // Items whose names hold or lack the letter, in folders that hold all,
    // part or none of the longer word.
    ItemGenerator gen(11);
    std::vector<IndexedItem> items = gen.items(1500);
    for (const char* path : {"/home/report/s.txt", "/home/report/x.txt", "/home/repo/rt s.txt", "/home/r/eport.s",
                             "/s/report", "/home/u/sreport.md", "/home/u/REPORT S.md", "/m2/helper.txt",
                             "/home/helper/m.2", "/home/helpe/rm2.txt"})
        items.push_back(fileAt(path));
    const std::vector<std::vector<std::string>> queries = {
        {"s"}, {"report", "s"}, {"s", "report"}, {"helper", "m"}, {"m", "2"}, {"2"}, {"rt", "s"}, {"S"}};
    for (const auto& tokens : queries) {
        for (int mode = 0; mode < 4; ++mode) {
            for (bool caseSensitive : {false, true}) {
                const SearchQuery q = tokenQuery(tokens, static_cast<SearchMatchMode>(mode), caseSensitive);
                SCOPED_TRACE(tokens.front() + (tokens.size() > 1 ? " " + tokens[1] : "") + " mode " +
                             std::to_string(mode) + (caseSensitive ? " case" : ""));
                expectSoundBounds(items, q);
            }
        }
    }
}

// What one filter keeping the best `keep` collects of all items, and the bounds.
struct Collected {
    std::vector<std::uint32_t> indices;
    std::vector<CandidateBound> bounds;
};
Collected collectedKeepingBest(const std::vector<IndexedItem>& items, const PreparedQuery& q, std::size_t keep)
{
    const FactsSource source(items);
    CandidateFilter filter(source, q);
    filter.keepBest(keep);
    Collected c;
    filter.collect(0, static_cast<std::uint32_t>(items.size()), c.indices, &c.bounds);
    return c;
}

TEST(CandidateFilter, PastTheCutoffALongFolderTurnsDownNamesWithoutTheWord)
{
    // Two short path-only matches set the cutoff; in a folder whose path alone
    // ranks "libp" above it, only the name that holds the word is kept.
    const std::string longFolder = "/l/i/b/p/" + std::string(60, 'x');
    const std::vector<IndexedItem> items{fileAt("/l/i/b/p.txt"), fileAt("/l/i/b/pq.txt"),
                                         fileAt(longFolder + "/a.txt"), fileAt(longFolder + "/libp.txt"),
                                         fileAt(longFolder + "/b.txt")};
    const SearchQuery query = tokenQuery({"libp"});
    const PreparedQuery q(query);
    EXPECT_EQ(collectedKeepingBest(items, q, 2).indices, (std::vector<std::uint32_t>{0, 1, 3}));
    for (std::uint32_t i : {2u, 4u})
        EXPECT_GT(*fullRank(items[i], q), *fullRank(items[1], q)) << "turned down, and rightly";
}

TEST(CandidateFilter, KeepingTheBestTurnsDownWhatRanksAboveThatMany)
{
    // Path-only matches whose bounds are their ranks: 435 plus the length
    // excess of the normalised path over "libp".
    const std::vector<IndexedItem> items{fileAt("/l/i/b/p.txt"), fileAt("/l/i/b/pxxxxxxxxx.txt"),
                                         fileAt("/l/i/b/pxxxx.txt"), fileAt("/l/i/b/pxx.txt")};
    const FactsSource source(items);
    const SearchQuery query = tokenQuery({"libp"});
    const PreparedQuery q(query);
    const auto collected = [&](std::size_t keep) {
        CandidateFilter filter(source, q);
        filter.keepBest(keep);
        std::vector<std::uint32_t> out;
        std::vector<CandidateBound> bounds;
        filter.collect(0, 4, out, &bounds);
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_TRUE(bounds[i].exact);
        return out;
    };
    EXPECT_EQ(collected(1), (std::vector<std::uint32_t>{0}));
    // Two known: the worse of them is the cutoff until a better one comes.
    EXPECT_EQ(collected(2), (std::vector<std::uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(collected(4), (std::vector<std::uint32_t>{0, 1, 2, 3}));

    // Kind first, a better kind beats any rank: nothing is turned down.
    ScopedAppId qel(kQelId);
    const PreparedQuery kindFirst(query);
    CandidateFilter filter(source, kindFirst);
    filter.keepBest(1);
    std::vector<std::uint32_t> out;
    std::vector<CandidateBound> bounds;
    filter.collect(0, 4, out, &bounds);
    EXPECT_EQ(out.size(), 4u);
}

TEST(CandidateFilter, KeepingTheBestRanksNamesWhileCollecting)
{
    // Matches in the name: while keeping the best, their ranks are exact as
    // they are collected, and two good ones turn the worse later ones down
    // (a prefix, then word starts further in, then a substring).
    const std::vector<IndexedItem> items{fileAt("/d/report.txt"), fileAt("/d/reports.txt"),
                                         fileAt("/d/old report.txt"), fileAt("/d/my old report.txt"),
                                         fileAt("/d/xreport.txt"), fileAt("/d/report2.txt")};
    const SearchQuery query = tokenQuery({"report"});
    const PreparedQuery q(query);
    const auto [out, bounds] = collectedKeepingBest(items, q, 2);
    EXPECT_EQ(out, (std::vector<std::uint32_t>{0, 1, 5}));
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_TRUE(bounds[i].exact && bounds[i].refined) << items[out[i]].path();
        EXPECT_EQ(bounds[i].rank, *fullRank(items[out[i]], q)) << items[out[i]].path();
    }
    for (std::uint32_t i : {2u, 3u, 4u})
        EXPECT_GT(*fullRank(items[i], q), *fullRank(items[1], q)) << "turned down, and rightly";
}

TEST(CandidateFilter, FactsAloneDecideTheBitFilters)
{
    const std::vector<IndexedItem> items{fileAt("/home/u/a.pdf"), folderAt("/home/u/b"), fileAt("/proc/1/x.pdf"),
                                         fileAt("/usr/bin/tool.vim"), fileAt("/home/u/c.png")};
    const FactsSource source(items);
    const auto collected = [&](const SearchQuery& query) {
        const PreparedQuery q(query);
        CandidateFilter filter(source, q);
        std::vector<std::uint32_t> out;
        filter.collect(0, static_cast<std::uint32_t>(items.size()), out);
        return out;
    };
    SearchQuery q;
    q.contentFilters = {SearchContentFilter::Documents};
    q.excludeSystemJunk = true;
    EXPECT_EQ(collected(q), (std::vector<std::uint32_t>{0}));  // junk and tools left out
    q.excludeSystemJunk = false;
    EXPECT_EQ(collected(q), (std::vector<std::uint32_t>{0, 2}));
    q.contentFilters = {SearchContentFilter::All};
    q.typeFilter = IndexedItem::ItemType::Folder;
    EXPECT_EQ(collected(q), (std::vector<std::uint32_t>{1}));
}

// Slices of one list collected one after another, a filter each, with or
// without one cutoff for all: the positions collected.
std::vector<std::uint32_t> collectedInSlices(const FactsSource& source, const PreparedQuery& q, std::size_t keep,
                                             std::uint32_t slices, bool shareCutoff)
{
    SharedCutoff shared(keep);
    std::vector<std::uint32_t> out;
    std::vector<CandidateBound> bounds;
    const auto size = static_cast<std::uint32_t>(source.size());
    for (std::uint32_t s = 0; s < slices; ++s) {
        CandidateFilter filter(source, q);
        filter.keepBest(keep, shareCutoff ? &shared : nullptr);
        filter.collect(size * s / slices, size * (s + 1) / slices, out, &bounds);
    }
    return out;
}

TEST(CandidateFilter, ACutoffSharedBySlicesKeepsEveryResultOfTheBest)
{
    // Every result ranked at or below the keep-th best rank of the whole list
    // is collected, whatever the slices; sharing the cutoff drops more.
    ScopedAppId mardell(kMardellId);
    ItemGenerator gen(41);
    const std::vector<IndexedItem> items = gen.items(6000);
    const FactsSource source(items);
    std::size_t alone = 0, shared = 0;
    for (int i = 0; i < 120; ++i) {
        SearchQuery query = tokenQuery({gen.token(items)}, static_cast<SearchMatchMode>(gen.rng()() % 4));
        if (gen.rng()() % 2 == 0)
            query.tokens.push_back(gen.token(items));
        const PreparedQuery q(query);
        const std::size_t keep = std::vector<std::size_t>{1, 5, 40, 300}[gen.rng()() % 4];
        const auto slices = static_cast<std::uint32_t>(2 + gen.rng()() % 6);
        SCOPED_TRACE("\"" + query.tokens.front() + "\", keep " + std::to_string(keep));
        const std::vector<std::uint32_t> withShared = collectedInSlices(source, q, keep, slices, true);
        alone += collectedInSlices(source, q, keep, slices, false).size();
        shared += withShared.size();
        std::vector<std::pair<Rank, std::uint32_t>> results;
        for (std::uint32_t k = 0; k < items.size(); ++k)
            if (const std::optional<Rank> r = fullRank(items[k], q))
                results.emplace_back(*r, k);
        std::sort(results.begin(), results.end());
        const Rank worstKept = results.size() < keep ? kNoRankCeiling : results[keep - 1].first;
        for (const auto& [rank, k] : results) {
            if (rank > worstKept)
                break;
            ASSERT_TRUE(std::binary_search(withShared.begin(), withShared.end(), k)) << items[k].path() << " ranks " << rank;
        }
    }
    EXPECT_LT(shared, alone) << "a shared cutoff drops what a slice alone cannot";
}

TEST(CandidateFilter, CandidatesInBlocksGoThroughAsOneByOne)
{
    // A list of candidates many blocks long, out of order, with repeats and
    // positions past the end, collects as each candidate alone would, in order.
    ItemGenerator gen(77);
    const std::vector<IndexedItem> items = gen.items(2500);
    std::vector<std::uint32_t> list;
    for (std::uint32_t k = 0; k < 1000; ++k)
        list.push_back(static_cast<std::uint32_t>(gen.rng()() % (items.size() + 40)));
    list.insert(list.end(), {7, 7, 3});
    std::size_t kept = 0;
    for (int i = 0; i < 40; ++i) {
        SearchQuery query = tokenQuery({gen.token(items)}, static_cast<SearchMatchMode>(gen.rng()() % 4),
                                       gen.rng()() % 4 == 0);
        if (gen.rng()() % 2 == 0)
            query.tokens.push_back(gen.token(items));
        const PreparedQuery q(query);
        SCOPED_TRACE("\"" + query.tokens.front() + "\"");
        const FactsSource source(items);
        CandidateFilter inBlocks(source, q);
        std::vector<std::uint32_t> out;
        std::vector<CandidateBound> bounds;
        inBlocks.collect(list, out, &bounds);
        kept += out.size();

        std::vector<std::uint32_t> oneByOne;
        std::vector<CandidateBound> oneByOneBounds;
        for (std::uint32_t index : list) {
            CandidateFilter alone(source, q);
            alone.collect(std::span<const std::uint32_t>(&index, 1), oneByOne, &oneByOneBounds);
        }
        ASSERT_EQ(out, oneByOne);
        for (std::size_t k = 0; k < out.size(); ++k) {
            EXPECT_EQ(bounds[k].rank, oneByOneBounds[k].rank) << items[out[k]].path();
            EXPECT_EQ(bounds[k].exact, oneByOneBounds[k].exact) << items[out[k]].path();
        }
    }
    EXPECT_GT(kept, 0u);
}

} // namespace
} // namespace pallix::testing
