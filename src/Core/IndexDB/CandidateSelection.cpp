// Candidates of a one-word query from the complete inverted indexes: every
// item whose name stems hold every pair of the word's adjacent kept characters
// (or its one kept character), wherever in the name. The ranking puts the names
// that begin with the word first; nothing is cut before it ranks.

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

std::optional<std::vector<std::uint32_t>> IndexStore::fastCandidatePositions(const SearchQuery& query) const
{
    if (!shouldUseFastCharacterIndexLocked(query))
        return std::nullopt;
    const std::string token = joinedToken(query);

    // The keys: every pair of adjacent kept characters (or the one kept
    // character of a word without pairs). An item must hold them all.
    std::vector<LiveSearchIndexes::Key> keys;
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
