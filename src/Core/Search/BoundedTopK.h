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
// the Search module.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Core/Search/PreparedQuery.h"
#include "Core/Search/SearchEngine.h"

namespace pallix {

// The result indices, as the plain top-K path gives them.
std::vector<std::uint32_t> searchTopKWithFacts(const ItemSource& source,
                                               std::optional<std::span<const std::uint32_t>> candidates,
                                               const PreparedQuery& q, std::size_t limit);

} // namespace pallix
