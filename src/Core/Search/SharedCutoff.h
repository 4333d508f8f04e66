#pragma once
// SharedCutoff: the exact ranks that the slices of one top-K search have
// found, merged as they come, and the cutoff they give: once `keep` results
// are known to rank at or below a rank, no candidate ranked above it can be
// among the best `keep` (rank first). Each slice alone knows only its own
// results, so it would keep what the whole list has already beaten.
//
// Any thread may call add() and cutoff() at any time. Counts only grow, so a
// cutoff worked out from any snapshot of them holds for the final list too.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "Core/Search/SearchRank.h"

namespace pallix {

class SharedCutoff {
public:
    // Exact ranks from this one on are not counted (they are rarely near the cutoff).
    static constexpr std::size_t kCountedRanks = 4096;

    explicit SharedCutoff(std::size_t keep);

    // Counts results whose ranks are known exactly, each result once (a
    // slice hands them over in batches: the cutoff is worked out anew per
    // call). Returns the cutoff after them.
    Rank add(std::span<const Rank> exactRanks);
    // No result ranked above it is wanted; kNoRankCeiling until `keep` are known.
    Rank cutoff() const { return m_cutoff.load(std::memory_order_relaxed); }

private:
    // The lowest rank at or below which `keep` counted results rank, or kNoRankCeiling.
    Rank countedCutoff() const;
    void lowerTo(Rank cutoff);

    std::size_t m_keep;
    std::array<std::atomic<std::uint32_t>, kCountedRanks> m_counts{};
    std::atomic<std::uint64_t> m_noted{0};
    std::atomic<Rank> m_cutoff{kNoRankCeiling};
};

} // namespace pallix
