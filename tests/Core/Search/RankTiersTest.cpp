#include "Core/Search/RankTiers.h"

#include <gtest/gtest.h>

#include <random>

#include "Core/Search/SearchRank.h"
#include "SearchTestItems.h"

namespace pallix::testing {
namespace {

bool isAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// The outline of a lower-case ASCII name as the facts would give it, told
// truthfully: whether `head` starts the name or one of its words.
NameOutline outlineOf(const NameForms& n, char comparableHead, char normalizedHead)
{
    bool headStartsWord = false;
    for (std::size_t i = 0; i < n.cn.size(); ++i)
        if (isAlnum(n.cn[i]) && (i == 0 || !isAlnum(n.cn[i - 1])))
            headStartsWord = headStartsWord || n.cn[i] == comparableHead || n.cn[i] == normalizedHead;
    return {n.cnCount(), n.nnCount(), n.nnxCount(), headStartsWord, !n.nn.empty() && n.nn.front() == normalizedHead};
}

// The floor of the name tiers is what lets the candidate filter skip reading
// names: it must never pass over a rank the ranking gives, and it must be
// the rank itself often enough to skip anything.
TEST(RankTiers, NameTierFloorBoundsEveryContainsNameRankAndOftenMeetsIt)
{
    const std::vector<std::string> pieces{"re", "port", "a", "b", "2024", "-", "_", ".", " ", "x", "doc", "s"};
    std::mt19937 rng(5);
    auto word = [&](int maxPieces) {
        std::string w;
        for (int i = 0, n = 1 + int(rng() % maxPieces); i < n; ++i)
            w += pieces[rng() % pieces.size()];
        return w;
    };
    int named = 0, met = 0;
    for (int i = 0; i < 6000; ++i) {
        const IndexedItem item = fileAt("/f/" + word(4) + (rng() % 2 ? ".txt" : ""));
        const SearchQuery query = tokenQuery({word(2)});
        const PreparedQuery q(query);
        const PreparedToken& t = q.tokens.front();
        if (t.normalized.empty())
            continue;
        const NameForms names(item.ref(), false);
        const std::optional<Rank> rank = rankForToken(t, names, SearchMatchMode::Contains);
        if (!rank || *rank >= kNameSubsequenceRank)
            continue;
        const Rank floor = lowestContainsNameTierRank(outlineOf(names, t.comparable.front(), t.normalized.front()),
                                                      t.comparableCount, t.normalizedCount);
        ASSERT_LE(floor, *rank) << item.path() << " token " << t.comparable;
        ++named;
        met += floor == *rank;
    }
    EXPECT_GT(named, 500);
    EXPECT_GT(met, named / 10);
    // Worked: a prefix is its own floor; a head inside a word leaves the substring tiers.
    const SearchQuery repQuery = tokenQuery({"rep"});
    const PreparedQuery rep(repQuery);
    const IndexedItem reportItem = fileAt("/f/report.txt"), myReportItem = fileAt("/f/myreport.txt");
    const NameForms report(reportItem.ref(), false), myReport(myReportItem.ref(), false);
    EXPECT_EQ(lowestContainsNameTierRank(outlineOf(report, 'r', 'r'), 3, 3), tier::kNamePrefix.rank(10, 3));
    EXPECT_EQ(lowestContainsNameTierRank(outlineOf(myReport, 'r', 'r'), 3, 3), tier::kNameSubstring.rank(12, 3));
    EXPECT_EQ(rankForToken(rep.tokens.front(), myReport, SearchMatchMode::Contains),
              tier::kNameSubstring.rank(12, 3, 2));
}

} // namespace
} // namespace pallix::testing
