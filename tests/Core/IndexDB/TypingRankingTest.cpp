#include "Core/IndexDB/TypingRanking.h"

#include <gtest/gtest.h>

#include <random>

#include "Core/IndexDB/TypingScan.h"
#include "Core/Search/SearchEngine.h"
#include "IndexDbTestSupport.h"

namespace pallix {
namespace {

using test::fileItem;
using test::wordsQuery;

// What the road gave before the scan filtered: the scan's answer, then the engine over it.
std::vector<std::uint32_t> rankedAfterTheScan(const ItemTable& table, const SearchQuery& query, std::size_t cap,
                                              std::size_t bound, int limit)
{
    const std::vector<std::uint32_t> candidates = TypingScan(table, query).collect(cap, bound, nullptr);
    return SearchEngine().searchIndices(table, std::span<const std::uint32_t>(candidates), query, limit);
}

// The same through the filtering scan; nothing when the road would not take it
// (the sorting path, or no candidates).
std::optional<std::vector<std::uint32_t>> rankedWhileScanning(const ItemTable& table, const SearchQuery& query,
                                                              std::size_t cap, std::size_t bound, int limit)
{
    const PreparedQuery prepared(query);
    TypingRanking ranking(table, prepared, static_cast<std::size_t>(limit), cap);
    const std::vector<std::uint32_t> candidates = TypingScan(table, query).collect(cap, bound, nullptr, &ranking);
    if (candidates.empty() || !SearchEngine::takesTopKPath(candidates.size(), limit))
        return std::nullopt;
    std::vector<std::uint32_t> ranked;
    for (const ScoredItem& s : ranking.rank(candidates))
        ranked.push_back(s.index);
    return ranked;
}

// Short names of a few letters in a few hundred folders: many matches, many
// equal ranks, and chunks of very different density.
ItemTable randomTable(std::mt19937& random, std::size_t count)
{
    const std::string letters = "abcdeAB";
    std::uniform_int_distribution<std::size_t> letter(0, letters.size() - 1), length(1, 6), folder(0, 299);
    ItemTable table;
    for (std::size_t i = 0; i < count; ++i) {
        std::string name;
        for (std::size_t n = length(random); n > 0; --n)
            name += letters[letter(random)];
        const std::size_t f = folder(random);
        table.append(fileItem("/r/" + std::string(1, letters[f % letters.size()]) + std::to_string(f) + "/" + name +
                              (i % 3 == 0 ? ".txt" : "")));
    }
    return table;
}

TEST(TypingRanking, AgreesWithRankingTheScansAnswer)
{
    std::mt19937 random(14);
    const ItemTable table = randomTable(random, 120'000);
    const std::vector<std::string> words = {"a", "ab", "b", "cd", "e", "abc", "a1", "da", "r"};
    std::uniform_int_distribution<std::size_t> word(0, words.size() - 1), cap(3'001, 40'000), slack(0, 3);
    const std::vector<int> limits = {1, 50, 1'280, 2'600};
    std::size_t compared = 0;
    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> tokens = {words[word(random)]};
        if (round % 3 == 0)
            tokens.push_back(words[word(random)]);
        SearchQuery query = wordsQuery(tokens);
        query.sortField = round % 4 == 1 ? SearchSortField::Size : SearchSortField::Name;
        query.ascending = round % 5 != 2;
        const std::size_t c = cap(random);
        // Bounds of whole chunks and of part of one; both past one thread's share.
        const std::size_t bound = slack(random) == 0 ? 100'000 + c % 8'192 : 120'000;
        const int limit = limits[std::size_t(round) % limits.size()];
        const std::optional<std::vector<std::uint32_t>> got = rankedWhileScanning(table, query, c, bound, limit);
        if (!got)
            continue;
        ++compared;
        EXPECT_EQ(*got, rankedAfterTheScan(table, query, c, bound, limit))
            << tokens.front() << " cap " << c << " bound " << bound << " limit " << limit;
    }
    // Most rounds must reach the top-K path, or the comparison says little.
    EXPECT_GT(compared, 40u);
}

// Past the cap lie far better matches than within it, in the chunk that
// reaches the cap: the filter that met them must not turn down, for their
// ranks, the candidates the cap keeps.
TEST(TypingRanking, BetterMatchesPastTheCapDoNotCount)
{
    ItemTable table;
    for (std::size_t i = 0; i < 90'000; ++i) {
        // Within the cap the word lies deep in a long name (a rank from the name);
        // past it, early in a short folder path (a rank the facts settle).
        const std::string n = std::to_string(i);
        table.append(fileItem(i < 10'000 ? "/w/d" + n.substr(0, 2) + "/" + std::string(180 + i % 60, 'x') + "tok" + n
                                         : "/tok" + n.substr(0, 2) + "/n" + n));
    }
    const SearchQuery query = wordsQuery({"tok"});
    const std::optional<std::vector<std::uint32_t>> got = rankedWhileScanning(table, query, 10'000, 90'000, 1'280);
    ASSERT_TRUE(got);
    const std::vector<std::uint32_t> expected = rankedAfterTheScan(table, query, 10'000, 90'000, 1'280);
    ASSERT_EQ(expected.size(), 1'280u);
    EXPECT_LT(expected.back(), 10'000u);
    EXPECT_EQ(*got, expected);
}

} // namespace
} // namespace pallix
