// Candidates of a one-word query from the complete inverted indexes: the items
// whose name stems begin with the word (when any does) and hold every pair of
// its adjacent kept characters, capped for very short words.

#include <algorithm>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/SearchKeys.h"
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

} // namespace

bool IndexStore::shouldUseFastCharacterIndexLocked(const SearchQuery& query) const
{
    return m_searchIndexesComplete && !query.useRegularExpression && !query.wildcardPattern && !query.pathFilter &&
           !query.extensionFilter && !query.modifiedAfter && query.tokens.size() == 1 &&
           !indexsql::trimmed(query.tokens.front()).empty();
}

bool IndexStore::shouldUseFastCharacterIndex(const SearchQuery& query) const
{
    std::lock_guard lock(m_mutex);
    return shouldUseFastCharacterIndexLocked(query);
}

std::optional<std::string> IndexStore::prefixCandidateKey(std::string_view token) const
{
    const std::string_view word = indexsql::trimmed(token);
    if (word.empty())
        return std::nullopt;
    const std::size_t n = std::min<std::size_t>(4, text::graphemeCount(word));
    const std::string plainKey = text::lower(word.substr(0, text::graphemeByteOffset(word, n)));
    const std::string normalized = IndexedItem::normalizedSearchText(word);
    const std::string normalizedKey = normalized.substr(0, text::graphemeByteOffset(normalized, n));
    for (const std::string* key : {&normalizedKey, &plainKey}) {
        if (!key->empty() && m_indexes.hasLive(IndexKind::Prefixes, *key))
            return *key;
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint32_t>> IndexStore::fastCandidatePositions(const SearchQuery& query) const
{
    if (!shouldUseFastCharacterIndexLocked(query))
        return std::nullopt;
    const std::string token = joinedToken(query);

    // The keys: the prefix, then every pair of adjacent kept characters (or
    // the one kept character of a word without pairs). An item must hold them all.
    std::vector<LiveSearchIndexes::Key> keys;
    if (std::optional<std::string> prefix = prefixCandidateKey(token))
        keys.emplace_back(IndexKind::Prefixes, std::move(*prefix));
    std::vector<std::string> pairs = searchBigrams(token);
    if (!pairs.empty()) {
        for (std::string& pair : pairs)
            keys.emplace_back(IndexKind::Bigrams, std::move(pair));
    } else if (std::vector<std::string> characters = searchCharacters(token); !characters.empty()) {
        keys.emplace_back(IndexKind::Characters, std::move(characters.front()));
    }
    std::vector<std::uint32_t> positions = m_indexes.positionsWithAll(keys);
    if (positions.empty())
        return std::nullopt;
    positions = limitCandidatePositions(std::move(positions), token);
    return positions;
}

std::vector<std::uint32_t> IndexStore::limitCandidatePositions(std::vector<std::uint32_t> positions,
                                                                std::string_view token)
{
    if (!std::is_sorted(positions.begin(), positions.end()))
        std::sort(positions.begin(), positions.end());
    std::size_t keep = positions.size();
    switch (text::graphemeCount(token)) {
    case 1: keep = 600; break;
    case 2: keep = 1800; break;
    case 3: keep = 5000; break;
    default: break;
    }
    if (positions.size() > keep)
        positions.resize(keep);
    return positions;
}

std::optional<std::vector<IndexedItem>> IndexStore::fastCandidateItems(const SearchQuery& query) const
{
    std::lock_guard lock(m_mutex);
    std::optional<std::vector<std::uint32_t>> positions = fastCandidatePositions(query);
    if (!positions)
        return std::nullopt;
    return m_items.materialize(*positions);
}

} // namespace pallix
