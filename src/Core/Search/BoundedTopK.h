#pragma once
// The top-K path of the engine over a source that keeps facts.
//
// The candidates are collected in slices of the list on spare threads, a
// filter each, and joined in input order; those the facts leave
// (CandidateFilter) are scored on the calling thread against a
// bounded heap, as on the plain path; a candidate whose rank bound is above
// the worst kept rank needs no scoring, and one whose bound is its rank needs
// no ranking.
//
// The result order is total (equals keep their input position), so what the
// heap keeps does not depend on the order it meets the candidates in. They
// come best bound first; once the heap is full, the first whose bound is above
// the worst kept rank ends the walk, as every later one is worse. Internal to
// the Search module, but for the typing road, which collects its candidates
// while it scans (collectCandidates(), rankCollected()).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "Core/Search/CandidateFilter.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/ResultOrder.h"
#include "Core/Search/SearchEngine.h"

namespace pallix {

// Candidates a CandidateFilter let through, in input order, with what the
// walk needs of each.
struct CollectedCandidates {
    std::vector<std::uint32_t> indices;  // in input order
    std::vector<CandidateBound> bounds;  // of each, in the same order (refined as they are read)
    // The kind order of each, kept at hand: the facts of a million items are
    // far apart, and the walk asks for a candidate's kind more than once.
    std::vector<std::uint8_t> kinds;
    // The name ordinal of each when sorting by name, else 0: read while the
    // candidates come in list order, not one at a time from all over the
    // table when the walk orders them.
    std::vector<std::uint32_t> nameOrders;
};

// Appends to `out` the candidates `filter` lets through (a filter made for
// the walk's query, keepBest(limit) if at all), with their bounds, kinds and
// name ordinals.
void collectCandidates(CandidateFilter& filter, std::span<const std::uint32_t> candidates, CollectedCandidates& out);

// The results of the top-K path over candidates collected beforehand, in
// input order, by `filters` (at least one). The filters read names for the
// walk; none may turn down a candidate for ranks it learned from candidates
// outside `collected` (see CandidateFilter::forgetCutoff()).
std::vector<ScoredItem> rankCollected(const ItemSource& source, CollectedCandidates& collected,
                                      const PreparedQuery& q, std::size_t limit,
                                      std::vector<std::unique_ptr<CandidateFilter>>& filters);

// The results, as the plain top-K path gives them.
std::vector<ScoredItem> searchTopKWithFacts(const ItemSource& source,
                                            std::optional<std::span<const std::uint32_t>> candidates,
                                            const PreparedQuery& q, std::size_t limit);

// The results of searchIndices(), scored: two such answers of one query,
// over candidates apart, merge into the answer over all of them.
std::vector<ScoredItem> scoredResults(const ItemSource& source,
                                      std::optional<std::span<const std::uint32_t>> candidates,
                                      const PreparedQuery& q, std::size_t limit);
// The same answer for candidates far apart in the source, few of them sharing
// a folder: each is ranked on its own, without the facts' answers per folder,
// which cost more there than they spare.
std::vector<ScoredItem> scoredScattered(const ItemSource& source, std::span<const std::uint32_t> candidates,
                                        const PreparedQuery& q, std::size_t limit);

} // namespace pallix
