#include "Core/IndexDB/TypingRanking.h"

#include <algorithm>
#include <limits>

namespace pallix {

namespace {

// The part of `matches` (ascending) at or before `last`.
std::span<const std::uint32_t> upTo(std::span<const std::uint32_t> matches, std::uint32_t last)
{
    return matches.first(static_cast<std::size_t>(std::upper_bound(matches.begin(), matches.end(), last) -
                                                  matches.begin()));
}

} // namespace

TypingRanking::TypingRanking(const ItemTable& items, const PreparedQuery& query, std::size_t limit,
                             std::size_t cap)
    : m_items(items)
    , m_query(query)
    , m_limit(limit)
    // At most p + 1 matches lie at or before position p.
    , m_sharedBelow(static_cast<std::uint32_t>(std::min<std::size_t>(cap, std::numeric_limits<std::uint32_t>::max())))
    , m_sharedCutoff(limit)
{
}

void TypingRanking::begin(unsigned slices, std::size_t chunks)
{
    m_filters.clear();
    m_filters.resize(std::max(1u, slices));
    m_chunks.assign(chunks, {});
}

void TypingRanking::scanned(unsigned slice, std::size_t chunk, std::span<const std::uint32_t> matches)
{
    if (matches.empty())
        return;
    // Filtered at once, also when the scan ends with too few candidates to
    // use it: the first chunks' ranks are the ones every thread may share.
    // A slice's chunks come in list order, so a cutoff its own filter learned
    // from a candidate past the cap only turns down later ones, past it too.
    std::unique_ptr<CandidateFilter>& filter = m_filters[slice];
    if (!filter) {
        filter = std::make_unique<CandidateFilter>(m_items, m_query);
        filter->keepBest(m_limit, &m_sharedCutoff, m_sharedBelow);
    }
    collectCandidates(*filter, matches, m_chunks[chunk]);
}

template <class Visit>
void TypingRanking::forChunksUpTo(std::uint32_t last, Visit visit) const
{
    for (const CollectedCandidates& part : m_chunks) {
        const std::size_t kept = upTo(part.indices, last).size();
        visit(part, kept);
        // Chunks in list order: the first one that goes past `last` is the last read.
        if (kept < part.indices.size())
            break;
    }
}

CollectedCandidates TypingRanking::joinedUpTo(std::uint32_t last) const
{
    CollectedCandidates all;
    forChunksUpTo(last, [&all](const CollectedCandidates& part, std::size_t kept) {
        const auto end = std::ptrdiff_t(kept);
        all.indices.insert(all.indices.end(), part.indices.begin(), part.indices.begin() + end);
        all.bounds.insert(all.bounds.end(), part.bounds.begin(), part.bounds.begin() + end);
        all.kinds.insert(all.kinds.end(), part.kinds.begin(), part.kinds.begin() + end);
        all.nameOrders.insert(all.nameOrders.end(), part.nameOrders.begin(), part.nameOrders.begin() + end);
    });
    return all;
}

template <class Counts>
std::size_t TypingRanking::countUpTo(std::uint32_t last, Counts counts) const
{
    std::size_t count = 0;
    forChunksUpTo(last, [&](const CollectedCandidates& part, std::size_t kept) {
        for (std::size_t k = 0; k < kept; ++k)
            count += counts(part.bounds[k]);
    });
    return count;
}

std::size_t TypingRanking::mayRankBelow(Rank rank, std::uint32_t last) const
{
    return countUpTo(last, [rank](const CandidateBound& b) { return b.rank < rank; });
}

std::size_t TypingRanking::surelyRankBelow(Rank rank, std::uint32_t last) const
{
    return countUpTo(last, [rank](const CandidateBound& b) { return b.exact && b.rank < rank; });
}

std::vector<ScoredItem> TypingRanking::rank(const std::vector<std::uint32_t>& candidates)
{
    const std::uint32_t last = candidates.back();
    for (const std::unique_ptr<CandidateFilter>& filter : m_filters)
        if (filter)
            filter->forgetCutoff();
    CollectedCandidates collected = joinedUpTo(last);
    std::erase(m_filters, nullptr);
    if (m_filters.empty())  // no chunk held a candidate the walk could read through
        m_filters.push_back(std::make_unique<CandidateFilter>(m_items, m_query));
    return rankCollected(m_items, collected, m_query, m_limit, m_filters);
}

} // namespace pallix
