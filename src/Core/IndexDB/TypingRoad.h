#pragma once
// TypingRoad: how the cached items answer a search in memory, and what each
// search may cost. The typing road scans the first items for the words
// (TypingScan), ranks what it finds while the scan runs (TypingRanking),
// adds the names past the scan's reach once the indexes are complete, and
// keeps the last scan for the next keystroke. The complete search's memory
// roads end here too: a scan of every item while the indexes are built, the
// indexes' candidates once they are complete.
//
// Threads: the store calls the roads under its lock with a view of its
// cache, which must not change meanwhile; one call at a time, as the kept
// scan is this object's. The budgets and rules are pure, for any thread.

#include <cstdint>
#include <optional>
#include <vector>

#include "Core/IndexDB/ItemTable.h"
#include "Core/IndexDB/LiveSearchIndexes.h"
#include "Core/IndexDB/TypingScan.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchQuery.h"

namespace pallix {

class CancelToken;

namespace text {
class RegexWatch;
}

// What one typing search may cost: the answer's length and the scan's cap of candidates.
struct TypingBudget {
    int limit = 0;
    int candidateCap = 0;

    // The typing answer, the fast preview of a shorter text and the pause
    // completion while the indexes are built, for a search of `limit`.
    static TypingBudget typing(int limit);
    static TypingBudget preview(int limit);
    static TypingBudget pauseCompletion(int limit);
};

// The store's cache as the roads read it.
struct CacheView {
    const ItemTable& items;
    const LiveSearchIndexes& indexes;
    bool indexesComplete = false;
};

class TypingRoad {
public:
    // The query asks for something: a word, a filter or a pattern.
    static bool hasSearchIntent(const SearchQuery& query);
    // Only the content filter "all" is set.
    static bool wantsAllContent(const SearchQuery& query);
    // One long word rarely found: a busy database is not waited for.
    static bool shouldFastFailLowProbabilityQuery(const SearchQuery& query);
    // The database row budget of a search.
    static int maxCandidateRows(const SearchQuery& query, int limit);

    // The typing answer within `budget`: the first items' capped scan ranked
    // with the names past its reach; the scan is kept for the next one.
    std::vector<IndexedItem> typingAnswer(const CacheView& cache, const SearchQuery& query, const TypingBudget& budget,
                                          const CancelToken* cancel, text::RegexWatch* watch);
    // Every cached item scanned and ranked (the indexes are being built).
    std::vector<IndexedItem> scanAnswer(const CacheView& cache, const SearchQuery& query, int limit,
                                        const CancelToken* cancel, text::RegexWatch* watch) const;
    // The complete answer from the complete indexes' candidates.
    std::vector<IndexedItem> indexAnswer(const CacheView& cache, const SearchQuery& query, int limit,
                                         text::RegexWatch* watch) const;

    // Candidate selection from the complete indexes (nothing: rank every item).
    static bool shouldUseFastCharacterIndex(const CacheView& cache, const SearchQuery& query);
    static std::optional<std::vector<std::uint32_t>> fastCandidatePositions(const CacheView& cache,
                                                                            const SearchQuery& query);

private:
    // The scan's answer of at most `cap` (empty without words; `sink`, when
    // given, is told of the scan's chunks; `memory`, when given, holds the
    // last scan's answer and keeps this one's).
    static std::vector<std::uint32_t> scannedCandidates(const CacheView& cache, const TypingScan& scan,
                                                        std::size_t cap, const CancelToken* cancel,
                                                        ScanChunkSink* sink, ScanMemory* memory);
    // When the scan and the names past it find nothing: the first items in their place.
    static std::vector<std::uint32_t> unscannedCandidates(const CacheView& cache, const SearchQuery& query,
                                                          int hardCap);
    // The scan's candidates, and the names past its reach, ranked: with the
    // top-K path, filtered as they are found.
    std::vector<IndexedItem> rankScanned(const CacheView& cache, const SearchQuery& query, int limit, int hardCap,
                                         const CancelToken* cancel, text::RegexWatch* watch,
                                         ScanMemory* memory) const;
    // The index keys of every word of a contains search (and, when `leading`,
    // of a beginning with the first word's first kept characters): every
    // name holding all the words (and beginning with the first) holds them.
    // Nothing when the indexes are not complete or cannot tell.
    static std::optional<std::vector<LiveSearchIndexes::Key>> everyWordsKeys(const CacheView& cache,
                                                                             const SearchQuery& query, bool leading);
    // The candidates past the scan's reach: the items from `reach` on whose
    // names hold every word (and, when `leading`, begin with the first), at
    // most `cap` of them, in list order; none unless the indexes are complete.
    static std::vector<std::uint32_t> namesPastTheScan(const CacheView& cache, const TypingScan& scan,
                                                       const SearchQuery& query, std::size_t reach, std::size_t cap,
                                                       bool leading, const CancelToken* cancel);
    // The ranked answer of a plain word from the items whose names begin with
    // it, when those alone decide it; nothing otherwise.
    std::optional<std::vector<std::uint32_t>> rankedFromLeadingNames(const CacheView& cache, const SearchQuery& query,
                                                                     int limit, text::RegexWatch* watch) const;
    std::vector<IndexedItem> rankPositions(const CacheView& cache, const SearchQuery& query,
                                           const std::vector<std::uint32_t>* positions, int limit,
                                           text::RegexWatch* watch) const;

    const SearchEngine m_searchEngine;
    ScanMemory m_lastScan;  // the last keystroke's scan, for the next one
};

} // namespace pallix
