#include "Core/IndexDB/TypingRanking.h"

#include <algorithm>
#include <limits>

#include "Platform/Parallel.h"

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
    , m_cap(cap)
    , m_sharedCutoff(limit)
{
}

void TypingRanking::begin(unsigned slices, std::size_t chunks)
{
    m_filters.clear();
    m_filters.resize(std::max(1u, slices));
    m_chunks.assign(chunks, {});
    m_setAside.assign(chunks, {});
    m_found.store(0, std::memory_order_relaxed);
}

void TypingRanking::scanned(unsigned slice, std::size_t chunk, std::span<const std::uint32_t> matches)
{
    if (matches.empty())
        return;
    // Below this many candidates the engine sorts them all and would not use the filtering.
    const std::size_t found = m_found.fetch_add(matches.size(), std::memory_order_relaxed) + matches.size();
    if (found <= SearchEngine::kTopKMinCandidates) {
        m_setAside[chunk].assign(matches.begin(), matches.end());
        return;
    }
    // A slice's chunks come in list order, so a cutoff its filter learned
    // from a candidate past the cap only turns down later ones, past it too.
    collectChunk(slice, chunk, matches);
}

void TypingRanking::collectChunk(unsigned slice, std::size_t chunk, std::span<const std::uint32_t> matches)
{
    std::unique_ptr<CandidateFilter>& filter = m_filters[slice];
    if (!filter) {
        filter = std::make_unique<CandidateFilter>(m_items, m_query);
        // At most p + 1 matches lie at or before position p.
        const auto sharedBelow =
            static_cast<std::uint32_t>(std::min<std::size_t>(m_cap, std::numeric_limits<std::uint32_t>::max()));
        filter->keepBest(m_limit, &m_sharedCutoff, sharedBelow);
    }
    collectCandidates(*filter, matches, m_chunks[chunk]);
}

void TypingRanking::collectSetAside(std::uint32_t last)
{
    std::vector<std::size_t> waiting;
    for (std::size_t k = 0; k < m_setAside.size(); ++k)
        if (!m_setAside[k].empty() && m_setAside[k].front() <= last)
            waiting.push_back(k);
    const auto slices = static_cast<unsigned>(std::min(waiting.size(), m_filters.size()));
    inPooledSlices(waiting.size(), slices, [&](unsigned s, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            collectChunk(s, waiting[i], upTo(m_setAside[waiting[i]], last));
    });
}

CollectedCandidates TypingRanking::joinedUpTo(std::uint32_t last)
{
    CollectedCandidates all;
    for (CollectedCandidates& part : m_chunks) {
        const std::size_t kept = upTo(part.indices, last).size();
        all.indices.insert(all.indices.end(), part.indices.begin(), part.indices.begin() + std::ptrdiff_t(kept));
        all.bounds.insert(all.bounds.end(), part.bounds.begin(), part.bounds.begin() + std::ptrdiff_t(kept));
        all.kinds.insert(all.kinds.end(), part.kinds.begin(), part.kinds.begin() + std::ptrdiff_t(kept));
        all.nameOrders.insert(all.nameOrders.end(), part.nameOrders.begin(),
                              part.nameOrders.begin() + std::ptrdiff_t(kept));
        // Chunks in list order: the first one that goes past `last` ends the join.
        if (kept < part.indices.size())
            break;
    }
    return all;
}

std::vector<ScoredItem> TypingRanking::rank(const std::vector<std::uint32_t>& candidates)
{
    const std::uint32_t last = candidates.back();
    for (const std::unique_ptr<CandidateFilter>& filter : m_filters)
        if (filter)
            filter->forgetCutoff();
    collectSetAside(last);
    CollectedCandidates collected = joinedUpTo(last);
    std::erase(m_filters, nullptr);
    if (m_filters.empty())  // no chunk held a candidate the walk could read through
        m_filters.push_back(std::make_unique<CandidateFilter>(m_items, m_query));
    return rankCollected(m_items, collected, m_query, m_limit, m_filters);
}

} // namespace pallix
