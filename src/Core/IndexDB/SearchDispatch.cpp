// Where a search's candidates come from, by the cache's state: the database
// before the cache is loaded, a linear scan of the cached items while the
// inverted indexes are built (with the rows of a database supplement the
// cache lacks, for short queries that found little), the indexes once
// complete. Each route ends in one ranking of its candidates. The typing
// road's scan reads the first items only: once the indexes are complete, the
// names past its reach that hold the words are ranked again with the best it
// kept.

#include <algorithm>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/LoweredNames.h"
#include "Core/IndexDB/TypingRanking.h"
#include "Core/IndexDB/TypingScan.h"
#include "Core/Search/BoundedTopK.h"
#include "Platform/Parallel.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr int kSupplementRowBudget = 2600;
constexpr std::size_t kNoMatchFallbackItems = 6000;

std::vector<std::uint32_t> firstItems(std::size_t count)
{
    std::vector<std::uint32_t> positions(count);
    for (std::size_t p = 0; p < count; ++p)
        positions[p] = static_cast<std::uint32_t>(p);
    return positions;
}

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

// The first items the typing scan reads for a cap of `cap` candidates.
std::size_t scanBound(std::size_t cap, std::size_t items)
{
    return cap >= 10000 ? std::min(cap * 8, items) : std::min<std::size_t>(items, 80000);
}

// What names past the scan's reach can still add to the ranked `answer` of
// `limit`: nothing when it is full of names ranked above every word start,
// the names beginning with the first word when it is full of names holding
// the words, every name holding them otherwise.
enum class LaterNames { None, Leading, Every };

// Names past the scan's reach, ranked, and which of them they are.
struct LaterRanked {
    LaterNames kind = LaterNames::None;
    std::vector<ScoredItem> ranked;
};

LaterNames laterNamesNeeded(const std::vector<ScoredItem>& answer, int limit)
{
    if (answer.size() < static_cast<std::size_t>(std::max(limit, 0)))
        return LaterNames::Every;
    Rank worst = 0;
    for (const ScoredItem& s : answer)
        worst = std::max(worst, s.rank);
    // A name holding every word ranks below the name's subsequence and every
    // path tier; one beginning with the first word can rank below the word
    // starts, and every rank below them needs a name beginning so.
    if (worst < kWordStartRank)
        return LaterNames::None;
    return worst < kNameSubsequenceRank ? LaterNames::Leading : LaterNames::Every;
}

// The names past the scan the answer will need, guessed before it is ranked
// from the bounds of the scan's candidates: every name holding the words
// when fewer than `limit` may rank above a name's subsequence (surely
// right), none when `limit` surely rank above the word starts, else those
// beginning with the first word.
LaterNames guessLaterNames(const TypingRanking* ranking, const std::vector<std::uint32_t>& candidates,
                           std::size_t limit)
{
    if (!ranking)
        return candidates.size() < limit ? LaterNames::Every : LaterNames::None;
    if (ranking->mayRankBelow(kNameSubsequenceRank, candidates.back()) < limit)
        return LaterNames::Every;
    return ranking->surelyRankBelow(kWordStartRank, candidates.back()) >= limit ? LaterNames::None
                                                                              : LaterNames::Leading;
}

} // namespace

std::vector<IndexedItem> IndexStore::rankPositions(const SearchQuery& query,
                                                   const std::vector<std::uint32_t>* positions, int limit,
                                                   text::RegexWatch* watch) const
{
    std::optional<std::span<const std::uint32_t>> candidates;
    if (positions)
        candidates = std::span<const std::uint32_t>(*positions);
    return materialized(m_searchEngine.searchIndices(m_items, candidates, query, limit, watch));
}

std::vector<IndexedItem> IndexStore::materialized(const std::vector<std::uint32_t>& positions) const
{
    return m_items.materialize(positions);
}

std::vector<std::uint32_t> IndexStore::scannedCandidates(const TypingScan& scan, std::size_t cap,
                                                         const CancelToken* cancel, ScanChunkSink* sink,
                                                         ScanMemory* memory) const
{
    if (!scan.hasWords())
        return {};
    return scan.collect(cap, scanBound(cap, m_items.size()), cancel, sink, memory);
}

std::vector<std::uint32_t> IndexStore::namesPastTheScan(const TypingScan& scan, const SearchQuery& query,
                                                        std::size_t reach, std::size_t cap, bool leading,
                                                        const CancelToken* cancel) const
{
    if (reach >= m_items.size() || cap == 0 || !scan.hasWords())
        return {};
    const std::optional<std::vector<LiveSearchIndexes::Key>> keys = everyWordsKeys(query, leading);
    if (!keys)
        return {};
    // A part of the list at a time: the first names past the reach are all
    // it takes, and all that hold the keys can be tens of thousands.
    const auto first = static_cast<std::uint32_t>(reach);
    std::vector<std::uint32_t> found;
    m_indexes.forEachPartWithAll(*keys, first, [&](const std::vector<std::uint32_t>& part) {
        const auto from = std::lower_bound(part.begin(), part.end(), first);
        const std::vector<std::uint32_t> named =
            scan.namesHoldingEveryWord(std::span<const std::uint32_t>(from, part.end()), cap - found.size(), cancel);
        found.insert(found.end(), named.begin(), named.end());
        return found.size() < cap && !(cancel && cancel->isCancelled());
    });
    return found;
}

std::vector<std::uint32_t> IndexStore::unscannedCandidates(const SearchQuery& query, int hardCap) const
{
    const std::size_t n = m_items.size();
    if (!TypingScan(m_items, query).hasWords())
        return firstItems(std::min(n, static_cast<std::size_t>(std::max(hardCap, 0))));
    return firstItems(std::min(n, kNoMatchFallbackItems));
}

std::vector<IndexedItem> IndexStore::rankScanned(const SearchQuery& query, int limit, int hardCap,
                                                 const CancelToken* cancel, text::RegexWatch* watch,
                                                 ScanMemory* memory) const
{
    const PreparedQuery prepared(query, watch);
    if (limit < 1)
        return {};
    const auto wanted = static_cast<std::size_t>(limit);
    const std::size_t cap = static_cast<std::size_t>(std::max(hardCap, 0));
    std::optional<TypingRanking> ranking;
    // The filters and the walk are the top-K path's, which only ranked searches over facts take here.
    if (prepared.mode == PreparedQuery::Mode::Ranked && m_items.facts())
        ranking.emplace(m_items, prepared, wanted, cap);
    const TypingScan scan(m_items, query);
    std::vector<std::uint32_t> candidates = scannedCandidates(scan, cap, cancel, ranking ? &*ranking : nullptr, memory);
    std::vector<ScoredItem> ranked;
    // Which names past the scan the ranked answer needs (below).
    const bool laterNamesMayCount = m_searchIndexesComplete && prepared.mode == PreparedQuery::Mode::Ranked;
    LaterNames needed = LaterNames::None;
    const auto rankTheScan = [&] {
        if (ranking && !candidates.empty() && SearchEngine::takesTopKPath(candidates.size(), limit))
            ranked = ranking->rank(candidates);
        else if (!candidates.empty())
            ranked = scoredResults(m_items, std::span<const std::uint32_t>(candidates), prepared, wanted);
        if (laterNamesMayCount)
            needed = laterNamesNeeded(ranked, limit);
    };

    // The scan reads the first items only; cut there, two words whose names
    // lie past its reach gave an empty list, and a name past it lost to items
    // holding a word in their path alone. So the names past the reach that
    // hold every word (those beginning with the first word, when names fill
    // the answer already) join what the scan's answer kept. At most `limit`
    // of them, the first in list order, from the complete indexes: enough to
    // fill the answer with names, at a small part of the scan's work (ranking
    // them all cost as much as the scan).
    const std::size_t reach = !candidates.empty() && candidates.size() >= cap ? std::size_t(candidates.back()) + 1
                                                                              : scanBound(cap, m_items.size());
    const auto laterNames = [&](LaterNames kind, const CancelToken* stop) {
        LaterRanked found;
        found.kind = kind;
        const std::vector<std::uint32_t> later =
            namesPastTheScan(scan, query, reach, std::min(cap, wanted), kind == LaterNames::Leading, stop);
        // They lie far apart, each in a folder of its own.
        if (!later.empty() && !(stop && stop->isCancelled()))
            found.ranked = scoredScattered(m_items, std::span<const std::uint32_t>(later), prepared, wanted);
        return found;
    };
    // Which names are needed is known once the scan's answer is ranked. They
    // are guessed before and looked up and ranked meanwhile, on another
    // thread, off the keystroke's path; a wrong guess is stopped once the
    // answer is ranked.
    const LaterNames guess = laterNamesMayCount && !candidates.empty()
                                 ? guessLaterNames(ranking ? &*ranking : nullptr, candidates, wanted)
                                 : LaterNames::None;
    LaterRanked early;
    if (guess != LaterNames::None) {
        CancelToken wrongGuess;
        bothAtOnce(
            [&] {
                rankTheScan();
                if (needed != guess)
                    wrongGuess.cancel();
            },
            [&] { early = laterNames(guess, &wrongGuess); });
        if (wrongGuess.isCancelled())
            early = {};
    } else {
        rankTheScan();
    }
    LaterRanked later;
    if (needed != LaterNames::None)
        later = early.kind == needed ? std::move(early) : laterNames(needed, cancel);
    if (!later.ranked.empty()) {
        // The best of the scan's candidates and the names past it are the
        // best of either, merged: the order is total.
        const std::vector<ScoredItem>& laterRanked = later.ranked;
        std::vector<ScoredItem> merged(ranked.size() + laterRanked.size());
        std::merge(ranked.begin(), ranked.end(), laterRanked.begin(), laterRanked.end(), merged.begin(),
                   ResultOrder(prepared));
        if (merged.size() > wanted)
            merged.resize(wanted);
        if (!merged.empty())
            return materialized(indicesOf(merged));
    }
    if (!candidates.empty())
        return materialized(indicesOf(ranked));
    // The scan found nothing (and no name past it ranks): the first items in its place.
    candidates = unscannedCandidates(query, hardCap);
    return rankPositions(query, &candidates, limit, watch);
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
    if (!hasSearchIntent(query))
        return {};
    // A complete answer ranks every match before it keeps the best `limit`:
    // no row budget and no scan cap cuts a name that holds the word.
    if (!m_cacheReady)
        return databaseSearchWithStatus(query, limit, indexsql::kEveryRow).items;

    if (!m_searchIndexesComplete) {
        const auto everyItem = static_cast<int>(std::min<std::size_t>(m_items.size(), INT32_MAX));
        std::vector<IndexedItem> results = rankScanned(query, limit, everyItem, cancel, watch);
        const bool trySupplement = m_db.isOpen() && !query.useRegularExpression && !query.wildcardPattern &&
                                   query.tokens.size() <= 2 && fewMemoryResults(results.size(), limit);
        if (trySupplement) {
            const int budget = std::min(maxCandidateRows(query, limit), kSupplementRowBudget);
            DatabaseSearchResult fromDatabase = databaseSearchWithStatus(query, limit, budget);
            return withRowsTheCacheLacks(query, limit, std::move(results), fromDatabase.items);
        }
        return results;
    }

    // The leading names need no other candidate when they fill the answer:
    // the list of every name holding the word is made only when they do not.
    if (std::optional<std::vector<std::uint32_t>> ranked = rankedFromLeadingNames(query, limit, watch))
        return materialized(*ranked);
    std::optional<std::vector<std::uint32_t>> fast = fastCandidatePositions(query);
    std::vector<IndexedItem> results = rankPositions(query, fast ? &*fast : nullptr, limit, watch);
    if (results.empty() && fast && fast->size() < m_items.size())
        return rankPositions(query, nullptr, limit, watch);
    return results;
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

std::vector<IndexedItem> IndexStore::quickMemorySearch(const SearchQuery& query, int limit, int hardCap,
                                                       const CancelToken* cancel, SearchNotes* notes)
{
    text::RegexWatch watch(cancel);
    std::lock_guard lock(m_mutex);
    if (!m_cacheReady || m_items.empty())
        return {};
    std::vector<IndexedItem> results = rankScanned(query, limit, hardCap, cancel, &watch, &m_typingScan);
    if (notes)
        notes->expressionTooComplex = watch.exceededBudget();
    return results;
}

std::vector<IndexedItem> IndexStore::typingFastDatabaseSearch(const SearchQuery& query, int limit)
{
    std::lock_guard lock(m_mutex);
    if (!m_db.isOpen() || limit < 1 || !hasSearchIntent(query) || query.tokens.size() != 1)
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
