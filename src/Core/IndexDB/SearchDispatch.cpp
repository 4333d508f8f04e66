// Where a search's candidates come from, by the cache's state: the database
// before the cache is loaded, a linear scan of the cached items while the
// inverted indexes are built (with the rows of a database supplement the
// cache lacks, for short queries that found little), the indexes once
// complete. The memory roads are the typing road's.

#include <algorithm>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/LoweredNames.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr int kSupplementRowBudget = 2600;

// Few enough memory results to ask the database: below a third of the limit
// (33 of 100 is below, 34 is not), below 12 for limits of 13 to 35, below the
// limit itself up to 12.
bool fewMemoryResults(std::size_t count, int limit)
{
    if (limit >= 36)
        return count * 3 < static_cast<std::size_t>(limit);
    if (limit >= 13)
        return count < 12;
    return limit > 0 && count < static_cast<std::size_t>(limit);
}

} // namespace

CacheView IndexStore::cacheView() const
{
    return {m_items, m_indexes, m_searchIndexesComplete};
}

std::vector<IndexedItem> IndexStore::search(const SearchQuery& query, int limit, const CancelToken* cancel,
                                            SearchNotes* notes)
{
    // The watch bounds the expressions' cost: the store's lock is held throughout.
    text::RegexWatch watch(cancel);
    std::lock_guard lock(m_mutex);
    std::vector<IndexedItem> results = searchLocked(query, limit, cancel, &watch);
    if (notes)
        notes->expressionTooComplex = watch.exceededBudget();
    return results;
}

std::vector<IndexedItem> IndexStore::searchLocked(const SearchQuery& query, int limit, const CancelToken* cancel,
                                                  text::RegexWatch* watch)
{
    if (!TypingRoad::hasSearchIntent(query))
        return {};
    // A complete answer ranks every match before it keeps the best `limit`:
    // no row budget and no scan cap cuts a name that holds the word.
    if (!m_cacheReady)
        return databaseSearchWithStatus(query, limit, indexsql::kEveryRow).items;
    if (m_searchIndexesComplete)
        return m_typingRoad.indexAnswer(cacheView(), query, limit, watch);

    std::vector<IndexedItem> results = m_typingRoad.scanAnswer(cacheView(), query, limit, cancel, watch);
    const bool trySupplement = m_db.isOpen() && !query.useRegularExpression && !query.wildcardPattern &&
                               query.tokens.size() <= 2 && fewMemoryResults(results.size(), limit);
    if (!trySupplement)
        return results;
    const int budget = std::min(TypingRoad::maxCandidateRows(query, limit), kSupplementRowBudget);
    DatabaseSearchResult fromDatabase = databaseSearchWithStatus(query, limit, budget);
    return withRowsTheCacheLacks(query, limit, std::move(results), fromDatabase.items);
}

std::vector<IndexedItem> IndexStore::withRowsTheCacheLacks(const SearchQuery& query, int limit,
                                                           std::vector<IndexedItem> results,
                                                           const std::vector<IndexedItem>& rows) const
{
    // The scan ranked every cached item, so its answer is complete for them:
    // a database answer, cut by its row budget, replacing it lost matches.
    // Only rows the cache has not seen can add to it.
    const std::size_t ranked = results.size();
    for (const IndexedItem& row : rows)
        if (!m_items.find(row.path()))
            results.push_back(row);
    if (results.size() == ranked)
        return results;
    return m_searchEngine.search(results, query, limit);
}

std::vector<IndexedItem> IndexStore::typingSearch(const SearchQuery& query, const TypingBudget& budget,
                                                  const CancelToken* cancel, SearchNotes* notes)
{
    text::RegexWatch watch(cancel);
    std::lock_guard lock(m_mutex);
    if (!m_cacheReady || m_items.empty())
        return {};
    std::vector<IndexedItem> results = m_typingRoad.typingAnswer(cacheView(), query, budget, cancel, &watch);
    if (notes)
        notes->expressionTooComplex = watch.exceededBudget();
    return results;
}

std::vector<IndexedItem> IndexStore::typingFastDatabaseSearch(const SearchQuery& query, int limit)
{
    std::lock_guard lock(m_mutex);
    if (!m_db.isOpen() || limit < 1 || !TypingRoad::hasSearchIntent(query) || query.tokens.size() != 1)
        return {};
    const std::string_view token = indexsql::trimmed(query.tokens.front());
    if (token.empty())
        return {};

    const indexsql::SqlText text = loweredname::typingStatement(m_db, m_loweredNamesComplete, query, limit, false);
    SQLQueryResult rows = fetchItems(text.sql, text.bindings, 3);
    if (rows.items.empty())
        return {};
    return m_searchEngine.search(rows.items, query, limit);
}

} // namespace pallix
