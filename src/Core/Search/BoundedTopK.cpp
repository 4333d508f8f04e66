#include "Core/Search/BoundedTopK.h"

#include <algorithm>

#include "Core/Search/CandidateFilter.h"
#include "Core/Search/CandidateScoring.h"
#include "Core/Search/ResultOrder.h"

namespace pallix {

namespace {

// Bounds above this share the last bucket, in input order.
constexpr Rank kTopBound = 4095;
constexpr std::size_t kKinds = 8;

struct Survivors {
    std::vector<std::uint32_t> indices;  // in input order
    std::vector<CandidateBound> bounds;  // of each, in the same order (refined as they are read)
};

class Scorer {
public:
    Scorer(const ItemSource& source, const PreparedQuery& q, CandidateFilter& filter)
        : m_source(source)
        , m_q(q)
        , m_filter(filter)
    {
    }

    // The candidate as a result within `ceiling`, or nothing. A bound the
    // name refines is kept refined for a later walk.
    std::optional<ScoredItem> score(std::uint32_t index, CandidateBound& bound, Rank ceiling) const
    {
        if (bound.rank > ceiling || bound.rank == kNoRankCeiling)
            return std::nullopt;
        // The name is read only now, for the few that get this far.
        if (!m_filter.refine(index, bound) || bound.rank > ceiling)
            return std::nullopt;
        const ItemFacts& facts = m_filter.facts(index);
        // Nothing below reads the path of an item whose folder the facts name.
        const ItemRef item = m_source.atWithoutPath(index);
        Rank rank = bound.rank;
        if (!bound.exact) {
            std::optional<FolderForms> folder;
            if (facts.folder != ItemFacts::kNoFolder)
                folder = m_source.folder(facts.folder);
            const std::optional<Rank> ranked =
                rankIgnoringExclusions(item, &facts, folder ? &*folder : nullptr, m_q, ceiling);
            if (!ranked)
                return std::nullopt;
            rank = *ranked;
        }
        if (!passesExclusions(item, &facts, m_q))
            return std::nullopt;
        return scoredItem(m_source, item, index, rank, facts.kindOrder(), m_q, facts.folder != ItemFacts::kNoFolder);
    }

private:
    const ItemSource& m_source;
    const PreparedQuery& m_q;
    CandidateFilter& m_filter;
};

// Positions into `survivors`, best bound first: by bound or, kind first, by
// kind and bound; stable, so equal keys keep input order.
std::vector<std::uint32_t> bestFirstOrder(const Survivors& survivors, CandidateFilter& filter, bool rankFirst)
{
    const std::size_t n = survivors.indices.size();
    const std::size_t buckets = (kTopBound + 1) * (rankFirst ? 1 : kKinds);
    std::vector<std::uint32_t> keys(n);
    std::vector<std::uint32_t> starts(buckets + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const auto bucket = static_cast<std::uint32_t>(std::min(survivors.bounds[i].rank, kTopBound));
        const auto kind = static_cast<std::uint32_t>(filter.facts(survivors.indices[i]).kindOrder());
        keys[i] = rankFirst ? bucket : kind * std::uint32_t(kTopBound + 1) + bucket;
        ++starts[keys[i] + 1];
    }
    for (std::size_t b = 0; b < buckets; ++b)
        starts[b + 1] += starts[b];
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[starts[keys[i]]++] = static_cast<std::uint32_t>(i);
    return order;
}

// Reads, in input order, the names of the candidates the walk will surely
// reach: those whose bound is at most the `limit`-th lowest bound, which is
// at most the worst kept rank. Reading raises bounds, and so that threshold:
// the reading goes on until no unread candidate is left under it. Read in the
// walk's order instead, the names would be fetched from all over the table. A
// candidate the name turns down gets a bound no rank reaches.
void refineTheSureOnes(Survivors& survivors, CandidateFilter& filter, std::size_t limit)
{
    const auto bucketOf = [](const CandidateBound& b) { return std::size_t(std::min(b.rank, kTopBound + 1)); };
    // The unread candidates by bound, in input order within a bound.
    std::vector<std::uint32_t> counts(kTopBound + 2, 0);
    std::vector<std::uint32_t> starts(kTopBound + 3, 0);
    for (const CandidateBound& b : survivors.bounds) {
        ++counts[bucketOf(b)];
        if (!b.refined)
            ++starts[bucketOf(b) + 1];
    }
    for (std::size_t i = 1; i < starts.size(); ++i)
        starts[i] += starts[i - 1];
    std::vector<std::uint32_t> unread(starts.back());
    {
        std::vector<std::uint32_t> next(starts.begin(), starts.end() - 1);
        for (std::size_t i = 0; i < survivors.bounds.size(); ++i)
            if (!survivors.bounds[i].refined)
                unread[next[bucketOf(survivors.bounds[i])]++] = static_cast<std::uint32_t>(i);
    }
    std::size_t previous = 0;
    for (std::size_t done = 0;;) {
        std::size_t threshold = 0;
        for (std::size_t total = 0; threshold <= std::size_t(kTopBound); ++threshold) {
            total += counts[threshold];
            if (total >= limit)
                break;
        }
        if (threshold > std::size_t(kTopBound) || threshold < done)
            return;
        // A round reads as far again as the threshold last moved, so that a
        // few rounds read many names each; reading more is never wrong.
        const std::size_t reach =
            std::min(threshold + (done == 0 ? 0 : threshold - previous), std::size_t(kTopBound));
        previous = threshold;
        threshold = reach;
        // The names of a round are read in input order.
        std::vector<std::uint32_t> round(unread.begin() + starts[done], unread.begin() + starts[threshold + 1]);
        std::sort(round.begin(), round.end());
        for (std::uint32_t at : round) {
            CandidateBound& b = survivors.bounds[at];
            --counts[bucketOf(b)];
            if (!filter.refine(survivors.indices[at], b))
                b = {kNoRankCeiling, false, true};
            ++counts[bucketOf(b)];
        }
        done = threshold + 1;
    }
}

std::vector<std::uint32_t> bestFirst(const ItemSource& source, Survivors& survivors, const PreparedQuery& q,
                                     std::size_t limit, CandidateFilter& filter)
{
    refineTheSureOnes(survivors, filter, limit);
    TopKHeap heap(q, limit);
    const Scorer scorer(source, q, filter);
    const bool rankFirst = heap.order().rankFirst();
    int doneKind = -1;  // kind first: the rest of this kind is worse than the worst kept
    for (std::uint32_t at : bestFirstOrder(survivors, filter, rankFirst)) {
        const std::uint32_t index = survivors.indices[at];
        const Rank bound = survivors.bounds[at].rank;
        const int kind = filter.facts(index).kindOrder();
        if (kind == doneKind)
            continue;
        if (heap.isFull()) {
            const ScoredItem& worst = heap.worst();
            if (rankFirst && bound > worst.rank) {
                if (bound < kTopBound)
                    break;
                continue;
            }
            if (!rankFirst && kind > worst.kindOrder)
                break;
            if (!rankFirst && kind == worst.kindOrder && bound > worst.rank) {
                if (bound < kTopBound)
                    doneKind = kind;
                continue;
            }
        }
        const std::optional<Rank> ceiling = heap.ceilingFor(kind);
        if (!ceiling)
            continue;
        const std::optional<ScoredItem> c = scorer.score(index, survivors.bounds[at], *ceiling);
        if (c && heap.wants(*c))
            heap.add(*c);
    }
    return indicesOf(heap.sorted());
}

} // namespace

std::vector<std::uint32_t> searchTopKWithFacts(const ItemSource& source,
                                               std::optional<std::span<const std::uint32_t>> candidates,
                                               const PreparedQuery& q, std::size_t limit)
{
    CandidateFilter filter(source, q);
    filter.keepBest(limit);
    Survivors survivors;
    if (candidates)
        filter.collect(*candidates, survivors.indices, &survivors.bounds);
    else
        filter.collect(0, static_cast<std::uint32_t>(source.size()), survivors.indices, &survivors.bounds);
    return bestFirst(source, survivors, q, limit, filter);
}

} // namespace pallix
