#pragma once
// TypingRanking: ranks the typing road's candidates with the top-K path while
// the scan still runs. Each slice of the scan filters the matches of the
// chunks it scanned with a filter of its own (CandidateFilter, keeping the
// best `limit`), so the facts are read while the chunk is fresh and the
// filtering spreads over the scan's threads. rank() walks what the filters
// let through.
//
// The answer is the one ranking the scan's candidates gives: only the
// collected candidates up to the last one the scan returns are ranked, and
// the cutoffs the filters learned alone are forgotten before the walk, as
// they may come from candidates past the cap. The filters also share the
// ranks of the items before the cap's position, which are candidates
// whatever the scan finds.
//
// Threads: begin() and rank() on the scan's calling thread, scanned() on the
// scan's slice threads, one slice each; the table must not change meanwhile.

#include <cstdint>
#include <memory>
#include <vector>

#include "Core/IndexDB/ItemTable.h"
#include "Core/IndexDB/TypingScan.h"
#include "Core/Search/BoundedTopK.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/SharedCutoff.h"

namespace pallix {

class TypingRanking final : public ScanChunkSink {
public:
    // `query` must be ranked (PreparedQuery::Mode::Ranked) and outlive this;
    // `cap` is the scan's.
    TypingRanking(const ItemTable& items, const PreparedQuery& query, std::size_t limit, std::size_t cap);

    void begin(unsigned slices, std::size_t chunks) override;
    void scanned(unsigned slice, std::size_t chunk, std::span<const std::uint32_t> matches) override;

    // Before rank(), for what the answer will hold: how many of the
    // candidates up to `last` (the scan's last) may rank below `rank` (the
    // others do not), and how many surely do.
    std::size_t mayRankBelow(Rank rank, std::uint32_t last) const;
    std::size_t surelyRankBelow(Rank rank, std::uint32_t last) const;

    // The ranked result over `candidates`, the scan's answer (not empty).
    std::vector<ScoredItem> rank(const std::vector<std::uint32_t>& candidates);

private:
    // Calls visit(chunk, kept) for the chunks up to the one holding `last`,
    // `kept` being how many of the chunk's candidates lie at or before it.
    template <class Visit>
    void forChunksUpTo(std::uint32_t last, Visit visit) const;
    CollectedCandidates joinedUpTo(std::uint32_t last) const;
    template <class Counts>
    std::size_t countUpTo(std::uint32_t last, Counts counts) const;

    const ItemTable& m_items;
    const PreparedQuery& m_query;
    const std::size_t m_limit;
    // The ranks of the items before the cap's position, candidates for sure,
    // known to every slice.
    const std::uint32_t m_sharedBelow;
    SharedCutoff m_sharedCutoff;
    std::vector<std::unique_ptr<CandidateFilter>> m_filters;  // by slice, made on its thread
    std::vector<CollectedCandidates> m_chunks;                // by chunk: what a filter let through
};

} // namespace pallix
