#pragma once
// The rank rule: the tiers a token can match an item in, and the rank each
// gives. SearchRank ranks with these tiers and CandidateFilter bounds ranks
// with them, so a change to a tier made here holds for both. A tier's rank is
// its base, plus a weight for each character (or word) before the match where
// the tier counts them, plus the characters the haystack has beyond the
// token's. Constants and inline arithmetic only; any thread.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace pallix {

using Rank = std::int64_t;

inline constexpr Rank kNoRankCeiling = std::numeric_limits<Rank>::max();

// The characters a haystack of `haystackCount` has beyond a token of `tokenCount`.
constexpr Rank lengthExcess(std::size_t haystackCount, std::size_t tokenCount)
{
    return haystackCount > tokenCount ? Rank(haystackCount - tokenCount) : 0;
}

struct RankTier {
    Rank base = 0;
    Rank perPosition = 0;               // added for each character (or word) before the match
    Rank positionCap = kNoRankCeiling;  // positions past it count as it

    // The rank of a match `position` in before the length excess: the lowest
    // the tier gives there, whatever the haystack's length.
    constexpr Rank at(Rank position = 0) const { return base + perPosition * std::min(position, positionCap); }
    constexpr Rank rank(std::size_t haystackCount, std::size_t tokenCount, Rank position = 0) const
    {
        return at(position) + lengthExcess(haystackCount, tokenCount);
    }
};

// Every tier of every match mode, best first. The name tiers compare the
// comparable name (cn) or its stem (cnx), the normalised ones their
// normalised forms; the path tiers the item's whole path.
namespace tier {
inline constexpr RankTier kExactName{0};
inline constexpr RankTier kNormalizedExactName{5};
inline constexpr RankTier kNamePrefix{10};
inline constexpr RankTier kStemPrefix{20};
inline constexpr RankTier kWordStart{100, 5};  // the position is the word's index
inline constexpr RankTier kNameSubstring{200, 5};
inline constexpr RankTier kNameSuffix{200};
inline constexpr RankTier kNormalizedNamePrefix{240};
inline constexpr RankTier kNormalizedStemPrefix{250};
inline constexpr RankTier kNormalizedNameSubstring{280, 4};
inline constexpr RankTier kNormalizedNameSuffix{280};
inline constexpr RankTier kNameSubsequence{340};  // the worst tier on the name
inline constexpr RankTier kPathPrefix{355};
inline constexpr RankTier kPathSuffix{358};
inline constexpr RankTier kPathSubstring{360, 2, 120};
inline constexpr RankTier kParentFolderPrefix{365};
inline constexpr RankTier kNormalizedPathPrefix{372};
inline constexpr RankTier kNormalizedPathSubstring{390, 2, 120};
inline constexpr RankTier kPathSubsequence{435};
} // namespace tier

// Bases other modules decide by.
inline constexpr Rank kWordStartRank = tier::kWordStart.base;
inline constexpr Rank kNameSubsequenceRank = tier::kNameSubsequence.base;

// The subsequence tiers skip a token of fewer than two normalised characters.
constexpr bool subsequenceTiersTake(std::size_t normalizedCount) { return normalizedCount >= 2; }

// What is known of a name without reading it, to bound the name tiers of
// contains mode (those below the name-subsequence one).
struct NameOutline {
    std::size_t count = 0;            // characters of the comparable name
    std::size_t normalizedCount = 0;  // characters of the normalised name
    // Characters of the normalised stem; the comparable stem has at least as many.
    std::size_t normalizedStemCount = 0;
    // The comparable or normalised token's head may start the name or one of its words.
    bool headMayStartWord = true;
    // The normalised name starts with the normalised token's first character.
    bool startsAsToken = true;
};

// The lowest rank the name tiers of contains mode can give a token of
// `comparableCount` / `normalizedCount` characters in a name of `name`'s outline.
constexpr Rank lowestContainsNameTierRank(const NameOutline& name, std::size_t comparableCount,
                                          std::size_t normalizedCount)
{
    const Rank normalizedTiers = std::min(tier::kNormalizedNamePrefix.rank(name.normalizedCount, normalizedCount),
                                          tier::kNormalizedStemPrefix.rank(name.normalizedStemCount, normalizedCount));
    // The tiers of equal names, of prefixes and of word starts all need the
    // token's head at the start of the name or of one of its words.
    if (!name.headMayStartWord)
        return std::min(tier::kNameSubstring.rank(name.count, comparableCount), normalizedTiers);
    // Equal names imply equal normalised names or stems.
    if (name.normalizedCount == normalizedCount || name.normalizedStemCount == normalizedCount)
        return tier::kExactName.at();
    const Rank low = std::min(tier::kWordStart.rank(name.count, comparableCount), normalizedTiers);
    if (!name.startsAsToken)
        return low;
    return std::min({low, tier::kNamePrefix.rank(name.count, comparableCount),
                     tier::kStemPrefix.rank(name.normalizedStemCount, comparableCount)});
}

} // namespace pallix
