// Candidates of a one-word query from the complete inverted indexes: every
// item whose name forms hold every pair of the word's adjacent kept characters
// (or its one kept character), wherever in the name, the extension included.
// The ranking puts the names that begin with the word first; nothing is cut
// before it ranks.

#include <algorithm>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/SearchKeys.h"
#include "Core/IndexDB/TypingRoad.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/SearchRank.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

std::string joinedToken(const SearchQuery& query)
{
    std::string joined;
    for (const std::string& t : query.tokens)
        joined += t;
    return std::string(indexsql::trimmed(joined));
}

// The characters of a word made only of lower-case ASCII letters, digits and
// ideographs (each its own kept character and its own normalised form);
// nothing for any other word.
std::optional<std::vector<std::string_view>> plainCharacters(std::string_view token)
{
    std::vector<std::string_view> characters;
    for (std::size_t i = 0; i < token.size();) {
        const std::size_t start = i;
        const char32_t c = text::nextCodePoint(token, i);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c >= 0x80 && text::isIdeographic(c));
        if (!plain)
            return std::nullopt;
        characters.push_back(token.substr(start, i - start));
    }
    return characters;
}

// The keys of one word: every pair of adjacent kept characters (or the one
// kept character of a word without pairs). A name holding it holds them all.
void appendWordKeys(std::string_view word, std::vector<LiveSearchIndexes::Key>& keys)
{
    std::vector<std::string> pairs = searchBigrams(word);
    if (!pairs.empty()) {
        for (std::string& pair : pairs)
            keys.emplace_back(IndexKind::Bigrams, std::move(pair));
    } else if (std::vector<std::string> characters = searchCharacters(word); !characters.empty()) {
        keys.emplace_back(IndexKind::Characters, std::move(characters.front()));
    }
}

} // namespace

bool TypingRoad::shouldUseFastCharacterIndex(const CacheView& cache, const SearchQuery& query)
{
    return cache.indexesComplete && !query.useRegularExpression && !query.wildcardPattern && !query.pathFilter &&
           !query.extensionFilter && !query.modifiedAfter && query.tokens.size() == 1 &&
           !indexsql::trimmed(query.tokens.front()).empty();
}

std::optional<std::vector<std::uint32_t>> TypingRoad::fastCandidatePositions(const CacheView& cache,
                                                                             const SearchQuery& query)
{
    if (!shouldUseFastCharacterIndex(cache, query))
        return std::nullopt;
    std::vector<LiveSearchIndexes::Key> keys;
    appendWordKeys(joinedToken(query), keys);
    std::vector<std::uint32_t> positions = cache.indexes.positionsWithAll(keys);
    if (positions.empty())
        return std::nullopt;
    return positions;
}

std::vector<IndexedItem> TypingRoad::indexAnswer(const CacheView& cache, const SearchQuery& query, int limit,
                                                 text::RegexWatch* watch) const
{
    // The leading names need no other candidate when they fill the answer:
    // the list of every name holding the word is made only when they do not.
    if (std::optional<std::vector<std::uint32_t>> ranked = rankedFromLeadingNames(cache, query, limit, watch))
        return cache.items.materialize(*ranked);
    std::optional<std::vector<std::uint32_t>> fast = fastCandidatePositions(cache, query);
    std::vector<IndexedItem> results = rankPositions(cache, query, fast ? &*fast : nullptr, limit, watch);
    if (results.empty() && fast && fast->size() < cache.items.size())
        return rankPositions(cache, query, nullptr, limit, watch);
    return results;
}

std::optional<std::vector<LiveSearchIndexes::Key>> TypingRoad::everyWordsKeys(const CacheView& cache,
                                                                              const SearchQuery& query, bool leading)
{
    if (!cache.indexesComplete || query.useRegularExpression || query.wildcardPattern ||
        query.matchMode != SearchMatchMode::Contains)
        return std::nullopt;
    std::vector<LiveSearchIndexes::Key> keys;
    for (const std::string& token : query.tokens) {
        const std::string_view word = indexsql::trimmed(token);
        if (word.find('/') != std::string_view::npos)
            return std::nullopt;  // a word of the path, which no name holds
        // The keys are those of the lower-cased name: a name holding the word
        // in its case holds it lower-cased there. A word without keys ("-")
        // is left to the name test that follows.
        const std::string folded = indexsql::caseFolded(word, false);
        if (leading && keys.empty()) {
            std::vector<std::string> prefixes = searchPrefixes(folded);
            if (prefixes.empty())
                return std::nullopt;
            keys.emplace_back(IndexKind::Prefixes, std::move(prefixes.back()));
        }
        appendWordKeys(folded, keys);
    }
    if (keys.empty())
        return std::nullopt;
    return keys;
}

// A short word's candidates are many items. Every tier below the word
// starts (an equal name, a name or stem beginning with the word) needs a name
// form whose first kept characters are the word's first (up to four): a stem
// is a head of its name, and a name that equals the word once normalised
// begins with it there. So when the items whose names begin so fill the limit
// with ranks below that tier, no other candidate can enter the answer (rank
// comes first in this edition's order) and they are not read.
std::optional<std::vector<std::uint32_t>> TypingRoad::rankedFromLeadingNames(const CacheView& cache,
                                                                             const SearchQuery& query, int limit,
                                                                             text::RegexWatch* watch) const
{
    if (limit < 1 || query.caseSensitive || query.matchMode != SearchMatchMode::Contains ||
        !shouldUseFastCharacterIndex(cache, query))
        return std::nullopt;
    const std::optional<std::vector<std::string_view>> characters = plainCharacters(joinedToken(query));
    if (!characters || characters->empty())
        return std::nullopt;
    const PreparedQuery prepared(query, watch);
    if (prepared.mode != PreparedQuery::Mode::Ranked || prepared.edition != AppEdition::Mardell)
        return std::nullopt;
    // Of the names beginning so, only those holding the word can rank below
    // the word starts: the others are not read.
    const std::optional<std::vector<LiveSearchIndexes::Key>> keys = everyWordsKeys(cache, query, true);
    if (!keys)
        return std::nullopt;
    const std::vector<std::uint32_t> leading = cache.indexes.positionsWithAll(*keys);
    if (leading.size() < static_cast<std::size_t>(limit))
        return std::nullopt;
    std::vector<std::uint32_t> ranked =
        m_searchEngine.searchIndices(cache.items, std::span<const std::uint32_t>(leading), query, limit, watch);
    if (ranked.size() < static_cast<std::size_t>(limit))
        return std::nullopt;
    const std::optional<Rank> worst = nameMatchRank(cache.items.at(ranked.back()), prepared);
    if (!worst || *worst >= kWordStartRank)
        return std::nullopt;
    return ranked;
}

} // namespace pallix
