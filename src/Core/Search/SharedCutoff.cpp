#include "Core/Search/SharedCutoff.h"

#include <algorithm>

namespace pallix {

SharedCutoff::SharedCutoff(std::size_t keep)
    : m_keep(keep)
{
}

Rank SharedCutoff::add(std::span<const Rank> exactRanks)
{
    const Rank cutoff = this->cutoff();
    std::uint64_t counted = 0;
    for (Rank rank : exactRanks)
        // One ranked above the cutoff is never a result; it need not be counted.
        if (rank >= 0 && rank < Rank(kCountedRanks) && rank <= cutoff) {
            m_counts[std::size_t(rank)].fetch_add(1, std::memory_order_relaxed);
            ++counted;
        }
    if (counted == 0 || m_keep == 0)
        return this->cutoff();
    // Acquire-release: the last to add sees every count added before its own.
    if (m_noted.fetch_add(counted, std::memory_order_acq_rel) + counted < m_keep)
        return this->cutoff();
    lowerTo(countedCutoff());
    return this->cutoff();
}

Rank SharedCutoff::countedCutoff() const
{
    const Rank last = std::min(cutoff(), Rank(kCountedRanks) - 1);
    std::uint64_t total = 0;
    for (Rank rank = 0; rank <= last; ++rank) {
        total += m_counts[std::size_t(rank)].load(std::memory_order_relaxed);
        if (total >= m_keep)
            return rank;
    }
    return kNoRankCeiling;
}

void SharedCutoff::lowerTo(Rank cutoff)
{
    Rank current = this->cutoff();
    while (cutoff < current && !m_cutoff.compare_exchange_weak(current, cutoff, std::memory_order_relaxed))
        ;
}

} // namespace pallix
