#include "Core/Search/SearchRank.h"

#include <algorithm>

#include "Core/Search/SearchEngine.h"
#include "Core/Search/TextScan.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

using textscan::bytesInOrder;
using textscan::contains;
using textscan::endsWith;
using textscan::equals;
using textscan::find;
using textscan::startsWith;

constexpr std::size_t npos = std::string_view::npos;

// pos(n in h) from the byte offset of the first occurrence; 0 when there is none.
Rank positionOf(std::string_view haystack, std::size_t byteOffset)
{
    return byteOffset == npos ? 0 : Rank(textscan::clustersBefore(haystack, byteOffset));
}

bool isWordCharacter(char32_t c)
{
    if (c < 0x80)
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return text::isLetterMarkOrNumber(c);
}

std::optional<std::size_t> firstWordStartingWith(std::string_view text, std::string_view token)
{
    std::size_t wordIndex = 0;
    std::size_t wordStart = npos;
    for (std::size_t i = 0; i <= text.size();) {
        const std::size_t at = i;
        bool inWord = false;
        if (i < text.size()) {
            // ASCII needs no decoding.
            const auto b = static_cast<unsigned char>(text[i]);
            const char32_t c = b < 0x80 ? char32_t(b) : text::nextCodePoint(text, i);
            if (b < 0x80)
                ++i;
            inWord = isWordCharacter(c);
        }
        if (inWord) {
            if (wordStart == npos)
                wordStart = at;
            continue;
        }
        if (wordStart != npos) {
            if (startsWith(text.substr(wordStart, at - wordStart), token))
                return wordIndex;
            ++wordIndex;
            wordStart = npos;
        }
        if (at == text.size())
            break;
    }
    return std::nullopt;
}

// Every byte below 0x80 and none a carriage return: each byte is a cluster.
bool isPlainAscii(std::string_view s)
{
    unsigned char any = 0;
    bool cr = false;
    for (char c : s) {
        any |= static_cast<unsigned char>(c);
        cr |= c == '\r';
    }
    return any < 0x80 && !cr;
}

bool subsequenceOf(std::string_view needle, std::string_view haystack)
{
    if (needle.empty() || !bytesInOrder(needle, haystack))
        return false;
    if (isPlainAscii(needle) && isPlainAscii(haystack))
        return true;
    std::size_t h = 0;
    for (std::size_t i = 0; i < needle.size();) {
        const std::size_t iEnd = textscan::clusterEnd(needle, i);
        const std::size_t wantedSize = iEnd - i;
        for (;;) {
            if (h >= haystack.size())
                return false;
            const std::size_t hEnd = textscan::clusterEnd(haystack, h);
            const bool same = hEnd - h == wantedSize &&
                              (wantedSize == 1 ? haystack[h] == needle[i]
                                               : haystack.compare(h, wantedSize, needle.substr(i, wantedSize)) == 0);
            h = hEnd;
            if (same)
                break;
        }
        i = iEnd;
    }
    return true;
}

std::optional<Rank> containsRank(const PreparedToken& t, const NameForms& n)
{
    const std::string_view ct = t.comparable, nt = t.normalized;
    if (equals(n.cn, ct) || equals(n.cnx, ct))
        return tier::kExactName.at();
    if (equals(n.nn, nt) || equals(n.nnx, nt))
        return tier::kNormalizedExactName.at();
    if (startsWith(n.cn, ct))
        return tier::kNamePrefix.rank(n.cnCount(), t.comparableCount);
    if (startsWith(n.cnx, ct))
        return tier::kStemPrefix.rank(n.cnxCount(), t.comparableCount);
    const std::size_t at = find(n.cn, ct);
    // A word can only start with the token where the name contains it.
    if (at != npos)
        if (std::optional<std::size_t> word = firstWordStartingWith(n.cn, ct))
            return tier::kWordStart.rank(n.cnCount(), t.comparableCount, Rank(*word));
    // The name without extension is normally the head of the name, and then holds
    // nothing the name does not; lower-casing can make them differ (final sigma).
    if (!ct.empty() && (at != npos || (!startsWith(n.cn, n.cnx) && contains(n.cnx, ct))))
        return tier::kNameSubstring.rank(n.cnCount(), t.comparableCount, positionOf(n.cn, at));
    if (startsWith(n.nn, nt))
        return tier::kNormalizedNamePrefix.rank(n.nnCount(), t.normalizedCount);
    if (startsWith(n.nnx, nt))
        return tier::kNormalizedStemPrefix.rank(n.nnxCount(), t.normalizedCount);
    if (nt.empty())
        return std::nullopt;
    const std::size_t nat = find(n.nn, nt);
    if (nat != npos || (!startsWith(n.nn, n.nnx) && contains(n.nnx, nt)))
        return tier::kNormalizedNameSubstring.rank(n.nnCount(), t.normalizedCount, positionOf(n.nn, nat));
    return std::nullopt;
}

std::optional<Rank> prefixRank(const PreparedToken& t, const NameForms& n)
{
    if (startsWith(n.cn, t.comparable))
        return tier::kNamePrefix.rank(n.cnCount(), t.comparableCount);
    if (startsWith(n.cnx, t.comparable))
        return tier::kStemPrefix.rank(n.cnxCount(), t.comparableCount);
    if (startsWith(n.nn, t.normalized))
        return tier::kNormalizedNamePrefix.rank(n.nnCount(), t.normalizedCount);
    if (startsWith(n.nnx, t.normalized))
        return tier::kNormalizedStemPrefix.rank(n.nnxCount(), t.normalizedCount);
    return std::nullopt;
}

std::optional<Rank> suffixRank(const PreparedToken& t, const NameForms& n)
{
    // The excess is measured on the whole name in both cases.
    if (endsWith(n.cn, t.comparable) || endsWith(n.cnx, t.comparable))
        return tier::kNameSuffix.rank(n.cnCount(), t.comparableCount);
    if (endsWith(n.nn, t.normalized) || endsWith(n.nnx, t.normalized))
        return tier::kNormalizedNameSuffix.rank(n.nnCount(), t.normalizedCount);
    return std::nullopt;
}

std::optional<Rank> exactRank(const PreparedToken& t, const NameForms& n)
{
    if (equals(n.cn, t.comparable) || equals(n.cnx, t.comparable))
        return tier::kExactName.at();
    if (equals(n.nn, t.normalized) || equals(n.nnx, t.normalized))
        return tier::kNormalizedExactName.at();
    return std::nullopt;
}

std::optional<Rank> pathContainsRank(PathForms& path, const PreparedToken& t)
{
    const std::string_view cp = path.comparablePath();
    const std::size_t at = find(cp, t.comparable);
    if (at != npos)
        return tier::kPathSubstring.rank(path.comparablePathCount(), t.comparableCount, positionOf(cp, at));
    // When nt equals ct the normalized path cannot hold what the path does not.
    if (t.normalized.empty() || t.normalized == t.comparable)
        return std::nullopt;
    const std::string_view np = path.normalizedPath();
    const std::size_t nat = find(np, t.normalized);
    if (nat != npos)
        return tier::kNormalizedPathSubstring.rank(path.normalizedPathCount(), t.normalizedCount,
                                                   positionOf(np, nat));
    return std::nullopt;
}

std::optional<Rank> pathPrefixRank(PathForms& path, const PreparedToken& t)
{
    if (startsWith(path.comparablePath(), t.comparable))
        return tier::kPathPrefix.rank(path.comparablePathCount(), t.comparableCount);
    const std::string_view pn = path.parentFolderName();
    if (startsWith(pn, t.comparable))
        return tier::kParentFolderPrefix.rank(textscan::clusterCount(pn), t.comparableCount);
    if (!t.normalized.empty() && startsWith(path.normalizedPath(), t.normalized))
        return tier::kNormalizedPathPrefix.rank(path.normalizedPathCount(), t.normalizedCount);
    return std::nullopt;
}

// The lowest rank a path tier can give in `mode`; a token already ranked at or
// below it keeps its rank whatever the path holds.
Rank lowestPathTier(SearchMatchMode mode)
{
    switch (mode) {
    case SearchMatchMode::Contains: return tier::kPathSubstring.at();
    case SearchMatchMode::Prefix: return tier::kPathPrefix.at();
    case SearchMatchMode::Suffix: return tier::kPathSuffix.at();
    case SearchMatchMode::Exact: break;
    }
    return tier::kPathSubsequence.at();
}

// What the ranks of the earlier tokens and the caller's ceiling leave worth computing.
struct RankBounds {
    std::optional<Rank> earlierWorst;  // the worst rank of the tokens ranked so far
    Rank ceiling;                      // ranks above it are of no use to the caller
};

// Whether a tier whose ranks start at `floor` can still change the item's rank:
// it must be able to stay within the ceiling, the token's own best so far must be
// above it, and so must the worst rank of the earlier tokens, since the item takes
// the worst token's rank.
bool canImprove(std::optional<Rank> best, Rank floor, const RankBounds& bounds)
{
    if (floor > bounds.ceiling)
        return false;
    if (!best)
        return true;
    return *best > floor && (!bounds.earlierWorst || *best > *bounds.earlierWorst);
}

// The token's rank; nothing when it matches nowhere or only above the ceiling.
std::optional<Rank> tokenRank(const PreparedToken& t, const NameForms& names, PathForms& path,
                              SearchMatchMode mode, const RankBounds& bounds)
{
    std::optional<Rank> best = rankForToken(t, names, mode);
    auto offer = [&best](std::optional<Rank> r) {
        if (r && (!best || *r < *best))
            best = r;
    };
    // Cheapest tiers first: the name subsequence can make the path tiers moot.
    const bool subsequences = mode == SearchMatchMode::Contains && subsequenceTiersTake(t.normalizedCount);
    if (subsequences && canImprove(best, tier::kNameSubsequence.at(), bounds) &&
        (subsequenceOf(t.normalized, names.nn) ||
         (!startsWith(names.nn, names.nnx) && subsequenceOf(t.normalized, names.nnx))))
        offer(tier::kNameSubsequence.rank(names.nnCount(), t.normalizedCount));
    if (mode != SearchMatchMode::Exact && canImprove(best, lowestPathTier(mode), bounds))
        offer(pathHaystackTokenRank(path, t, mode));
    if (subsequences && canImprove(best, tier::kPathSubsequence.at(), bounds) &&
        subsequenceOf(t.normalized, path.normalizedPath()))
        offer(tier::kPathSubsequence.rank(path.normalizedPathCount(), t.normalizedCount));
    if (best && *best > bounds.ceiling)
        return std::nullopt;
    return best;
}

} // namespace

Rank firstTierBeyondNameRank(SearchMatchMode mode)
{
    return mode == SearchMatchMode::Contains ? tier::kNameSubsequence.at() : firstPathTierRank(mode);
}

Rank firstPathTierRank(SearchMatchMode mode)
{
    return mode == SearchMatchMode::Exact ? kNoRankCeiling : lowestPathTier(mode);
}

Rank lowestPathTierRank(SearchMatchMode mode, std::size_t pathCount, std::size_t normalizedPathCount,
                        std::size_t comparableCount, std::size_t normalizedCount)
{
    // Position penalties are never negative; the excess is at least the one
    // of the shortest path the counts allow.
    switch (mode) {
    case SearchMatchMode::Contains:
        return std::min({tier::kPathSubstring.rank(pathCount, comparableCount),
                         tier::kNormalizedPathSubstring.rank(normalizedPathCount, normalizedCount),
                         tier::kPathSubsequence.rank(normalizedPathCount, normalizedCount)});
    case SearchMatchMode::Prefix:
        return std::min({tier::kPathPrefix.rank(pathCount, comparableCount), tier::kParentFolderPrefix.at(),
                         tier::kNormalizedPathPrefix.rank(normalizedPathCount, normalizedCount)});
    case SearchMatchMode::Suffix: return tier::kPathSuffix.rank(pathCount, comparableCount);
    case SearchMatchMode::Exact: break;
    }
    return kNoRankCeiling;
}

std::optional<Rank> rankForToken(const PreparedToken& token, const NameForms& names, SearchMatchMode mode)
{
    switch (mode) {
    case SearchMatchMode::Contains: return containsRank(token, names);
    case SearchMatchMode::Prefix: return prefixRank(token, names);
    case SearchMatchMode::Suffix: return suffixRank(token, names);
    case SearchMatchMode::Exact: return exactRank(token, names);
    }
    return std::nullopt;
}

std::optional<Rank> pathHaystackTokenRank(PathForms& path, const PreparedToken& token, SearchMatchMode mode)
{
    if (token.comparable.empty())
        return std::nullopt;
    switch (mode) {
    case SearchMatchMode::Contains: return pathContainsRank(path, token);
    case SearchMatchMode::Prefix: return pathPrefixRank(path, token);
    case SearchMatchMode::Suffix:
        if (endsWith(path.comparablePath(), token.comparable))
            return tier::kPathSuffix.rank(path.comparablePathCount(), token.comparableCount);
        return std::nullopt;
    case SearchMatchMode::Exact: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Rank> nameMatchRank(const ItemRef& item, const PreparedQuery& query, Rank ceiling,
                                  const FolderForms* folder)
{
    if (query.tokens.empty() || query.hasEmptyNormalizedToken)
        return std::nullopt;
    const bool caseSensitive = query.query.caseSensitive;
    const NameForms names(item, caseSensitive);
    PathForms path(item, names, caseSensitive, folder);
    RankBounds bounds{std::nullopt, ceiling};
    for (const PreparedToken& token : query.tokens) {
        std::optional<Rank> r = tokenRank(token, names, path, query.query.matchMode, bounds);
        if (!r)
            return std::nullopt;
        bounds.earlierWorst = bounds.earlierWorst ? std::max(*bounds.earlierWorst, *r) : *r;
    }
    return bounds.earlierWorst;
}

std::optional<std::int64_t> SearchEngine::nameMatchRank(const ItemRef& item, const SearchQuery& query)
{
    return pallix::nameMatchRank(item, PreparedQuery(query));
}

std::string SearchEngine::normalized(std::string_view s) { return text::foldLettersMarksNumbers(s); }

bool SearchEngine::isSubsequence(std::string_view needle, std::string_view haystack)
{
    return subsequenceOf(needle, haystack);
}

std::optional<std::size_t> SearchEngine::boundaryPrefixIndex(std::string_view text, std::string_view token)
{
    return firstWordStartingWith(text, token);
}

} // namespace pallix
