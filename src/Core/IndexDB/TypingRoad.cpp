// The typing road's scan reads the first items only: once the indexes are
// complete, the names past its reach that hold the words are ranked again
// with the best it kept.

#include "Core/IndexDB/TypingRoad.h"

#include <algorithm>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/TypingRanking.h"
#include "Core/Search/BoundedTopK.h"
#include "Platform/Clock.h"
#include "Platform/Parallel.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr std::size_t kNoMatchFallbackItems = 6000;

std::vector<std::uint32_t> firstItems(std::size_t count)
{
    std::vector<std::uint32_t> positions(count);
    for (std::size_t p = 0; p < count; ++p)
        positions[p] = static_cast<std::uint32_t>(p);
    return positions;
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

TypingBudget TypingBudget::typing(int limit)
{
    const int shown = std::min(limit, 1280);
    return {shown, std::max(shown * 18, 12000)};
}

TypingBudget TypingBudget::preview(int limit)
{
    return {std::min(limit, 1200), std::clamp(limit * 18, 12000, 36000)};
}

TypingBudget TypingBudget::pauseCompletion(int limit)
{
    return {limit, std::clamp(limit * 26, 22000, 78000)};
}

bool TypingRoad::wantsAllContent(const SearchQuery& query)
{
    return query.contentFilters.size() == 1 && *query.contentFilters.begin() == SearchContentFilter::All;
}

bool TypingRoad::hasSearchIntent(const SearchQuery& query)
{
    return !indexsql::trimmed(query.rawText).empty() || query.pathFilter || query.extensionFilter ||
           query.typeFilter || !wantsAllContent(query) || query.modifiedAfter || query.useRegularExpression ||
           query.wildcardPattern;
}

bool TypingRoad::shouldFastFailLowProbabilityQuery(const SearchQuery& query)
{
    if (query.useRegularExpression || query.wildcardPattern || query.pathFilter || query.extensionFilter ||
        query.typeFilter || query.modifiedAfter || !wantsAllContent(query) || query.tokens.size() != 1)
        return false;
    const std::string_view token = indexsql::trimmed(query.tokens.front());
    if (token.empty())
        return false;
    const bool prefixLike = query.matchMode == SearchMatchMode::Contains || query.matchMode == SearchMatchMode::Prefix;
    return prefixLike && text::graphemeCount(token) > 3;
}

int TypingRoad::maxCandidateRows(const SearchQuery& query, int limit)
{
    if (query.tokens.size() != 1)
        return 12000;
    const std::string_view token = indexsql::trimmed(query.tokens.front());
    const std::int64_t l = limit;
    switch (token.empty() ? 0 : text::graphemeCount(token)) {
    case 1: return static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(l * 2, 600), INT32_MAX));
    case 2: return static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(l * 3, 1200), INT32_MAX));
    case 3: return static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(l * 4, 2500), INT32_MAX));
    default: return 12000;
    }
}

std::vector<IndexedItem> TypingRoad::typingAnswer(const CacheView& cache, const SearchQuery& query,
                                                  const TypingBudget& budget, const CancelToken* cancel,
                                                  text::RegexWatch* watch)
{
    return rankScanned(cache, query, budget.limit, budget.candidateCap, cancel, watch, &m_lastScan);
}

std::vector<IndexedItem> TypingRoad::scanAnswer(const CacheView& cache, const SearchQuery& query, int limit,
                                                const CancelToken* cancel, text::RegexWatch* watch) const
{
    const auto everyItem = static_cast<int>(std::min<std::size_t>(cache.items.size(), INT32_MAX));
    return rankScanned(cache, query, limit, everyItem, cancel, watch, nullptr);
}

std::vector<IndexedItem> TypingRoad::rankPositions(const CacheView& cache, const SearchQuery& query,
                                                   const std::vector<std::uint32_t>* positions, int limit,
                                                   text::RegexWatch* watch) const
{
    std::optional<std::span<const std::uint32_t>> candidates;
    if (positions)
        candidates = std::span<const std::uint32_t>(*positions);
    return cache.items.materialize(m_searchEngine.searchIndices(cache.items, candidates, query, limit, watch));
}

std::vector<std::uint32_t> TypingRoad::scannedCandidates(const CacheView& cache, const TypingScan& scan,
                                                         std::size_t cap, const CancelToken* cancel,
                                                         ScanChunkSink* sink, ScanMemory* memory)
{
    if (!scan.hasWords())
        return {};
    return scan.collect(cap, scanBound(cap, cache.items.size()), cancel, sink, memory);
}

std::vector<std::uint32_t> TypingRoad::namesPastTheScan(const CacheView& cache, const TypingScan& scan,
                                                        const SearchQuery& query, std::size_t reach, std::size_t cap,
                                                        bool leading, const CancelToken* cancel)
{
    if (reach >= cache.items.size() || cap == 0 || !scan.hasWords())
        return {};
    const std::optional<std::vector<LiveSearchIndexes::Key>> keys = everyWordsKeys(cache, query, leading);
    if (!keys)
        return {};
    // A part of the list at a time: the first names past the reach are all
    // it takes, and all that hold the keys can be tens of thousands.
    const auto first = static_cast<std::uint32_t>(reach);
    std::vector<std::uint32_t> found;
    cache.indexes.forEachPartWithAll(*keys, first, [&](const std::vector<std::uint32_t>& part) {
        const auto from = std::lower_bound(part.begin(), part.end(), first);
        const std::vector<std::uint32_t> named =
            scan.namesHoldingEveryWord(std::span<const std::uint32_t>(from, part.end()), cap - found.size(), cancel);
        found.insert(found.end(), named.begin(), named.end());
        return found.size() < cap && !(cancel && cancel->isCancelled());
    });
    return found;
}

std::vector<std::uint32_t> TypingRoad::unscannedCandidates(const CacheView& cache, const SearchQuery& query,
                                                           int hardCap)
{
    const std::size_t n = cache.items.size();
    if (!TypingScan(cache.items, query).hasWords())
        return firstItems(std::min(n, static_cast<std::size_t>(std::max(hardCap, 0))));
    return firstItems(std::min(n, kNoMatchFallbackItems));
}

std::vector<IndexedItem> TypingRoad::rankScanned(const CacheView& cache, const SearchQuery& query, int limit,
                                                 int hardCap, const CancelToken* cancel, text::RegexWatch* watch,
                                                 ScanMemory* memory) const
{
    const PreparedQuery prepared(query, watch);
    if (limit < 1)
        return {};
    const ItemTable& items = cache.items;
    const auto wanted = static_cast<std::size_t>(limit);
    const std::size_t cap = static_cast<std::size_t>(std::max(hardCap, 0));
    std::optional<TypingRanking> ranking;
    // The filters and the walk are the top-K path's, which only ranked searches over facts take here.
    if (prepared.mode == PreparedQuery::Mode::Ranked && items.facts())
        ranking.emplace(items, prepared, wanted, cap);
    const TypingScan scan(items, query);
    std::vector<std::uint32_t> candidates =
        scannedCandidates(cache, scan, cap, cancel, ranking ? &*ranking : nullptr, memory);
    std::vector<ScoredItem> ranked;
    // Which names past the scan the ranked answer needs (below).
    const bool laterNamesMayCount = cache.indexesComplete && prepared.mode == PreparedQuery::Mode::Ranked;
    LaterNames needed = LaterNames::None;
    const auto rankTheScan = [&] {
        if (ranking && !candidates.empty() && SearchEngine::takesTopKPath(candidates.size(), limit))
            ranked = ranking->rank(candidates);
        else if (!candidates.empty())
            ranked = scoredResults(items, std::span<const std::uint32_t>(candidates), prepared, wanted);
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
                                                                              : scanBound(cap, items.size());
    const auto laterNames = [&](LaterNames kind, const CancelToken* stop) {
        LaterRanked found;
        found.kind = kind;
        const std::vector<std::uint32_t> later =
            namesPastTheScan(cache, scan, query, reach, std::min(cap, wanted), kind == LaterNames::Leading, stop);
        // They lie far apart, each in a folder of its own.
        if (!later.empty() && !(stop && stop->isCancelled()))
            found.ranked = scoredScattered(items, std::span<const std::uint32_t>(later), prepared, wanted);
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
            return items.materialize(indicesOf(merged));
    }
    if (!candidates.empty())
        return items.materialize(indicesOf(ranked));
    // The scan found nothing (and no name past it ranks): the first items in its place.
    candidates = unscannedCandidates(cache, query, hardCap);
    return rankPositions(cache, query, &candidates, limit, watch);
}

} // namespace pallix
