#include "Core/Search/BoundedTopK.h"

#include <algorithm>
#include <memory>
#include <limits>

#include "Core/Search/CandidateFilter.h"
#include "Core/Search/CandidateScoring.h"
#include "Core/Search/ResultOrder.h"
#include "Platform/Parallel.h"

namespace pallix {

namespace {

// Below this many candidates per slice, another thread costs more than it saves.
constexpr std::size_t kCandidatesPerSlice = 2048;
// Slices per kept thread: a thread the machine takes away for a while leaves
// a small slice behind, which the others take, not a sixth of the list.
constexpr std::size_t kSlicesPerThread = 4;
constexpr std::size_t kRefinesPerSlice = 512;
// Bounds above this share the last bucket, in input order.
constexpr Rank kTopBound = 4095;
constexpr std::size_t kKinds = 8;

// One filter per slice of the candidates, made on the slice's thread.
using SliceFilters = std::vector<std::unique_ptr<CandidateFilter>>;

void noteKinds(const CandidateFilter& filter, CollectedCandidates& part, std::size_t from)
{
    part.kinds.reserve(part.indices.size());
    part.nameOrders.reserve(part.indices.size());
    for (std::size_t k = from; k < part.indices.size(); ++k) {
        part.kinds.push_back(static_cast<std::uint8_t>(filter.facts(part.indices[k]).kindOrder()));
        part.nameOrders.push_back(filter.nameOrder(part.indices[k]));
    }
}

// The slices' survivors one after another: in input order, as one pass over
// all candidates would have collected them.
CollectedCandidates joinInOrder(std::vector<CollectedCandidates> parts)
{
    if (parts.size() == 1)
        return std::move(parts.front());
    CollectedCandidates all;
    std::size_t total = 0;
    for (const CollectedCandidates& p : parts)
        total += p.indices.size();
    all.indices.reserve(total);
    all.bounds.reserve(total);
    all.kinds.reserve(total);
    all.nameOrders.reserve(total);
    for (const CollectedCandidates& p : parts) {
        all.indices.insert(all.indices.end(), p.indices.begin(), p.indices.end());
        all.bounds.insert(all.bounds.end(), p.bounds.begin(), p.bounds.end());
        all.kinds.insert(all.kinds.end(), p.kinds.begin(), p.kinds.end());
        all.nameOrders.insert(all.nameOrders.end(), p.nameOrders.begin(), p.nameOrders.end());
    }
    return all;
}

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
// kind and bound; stable, so equal keys keep input order. `ends` gets the
// end of each run of one key.
std::vector<std::uint32_t> bestFirstOrder(const CollectedCandidates& survivors, bool rankFirst,
                                          std::vector<std::size_t>& ends)
{
    const std::size_t n = survivors.indices.size();
    const std::size_t buckets = (kTopBound + 1) * (rankFirst ? 1 : kKinds);
    std::vector<std::uint32_t> keys(n);
    std::vector<std::uint32_t> starts(buckets + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const auto bucket = static_cast<std::uint32_t>(std::min(survivors.bounds[i].rank, kTopBound));
        const std::uint32_t kind = survivors.kinds[i];
        keys[i] = rankFirst ? bucket : kind * std::uint32_t(kTopBound + 1) + bucket;
        ++starts[keys[i] + 1];
    }
    for (std::size_t b = 0; b < buckets; ++b)
        starts[b + 1] += starts[b];
    ends.clear();
    for (std::size_t b = 0; b < buckets; ++b)
        if (starts[b + 1] > starts[b])
            ends.push_back(starts[b + 1]);
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[starts[keys[i]]++] = static_cast<std::uint32_t>(i);
    return order;
}

// Sorting by name where the source knows the names' ordinals: the candidates
// of one bound are met in name order (kind first where rank comes first), so
// the walk ends at the first that goes after the worst kept result whatever
// its rank. Only the best `limit` of a run are ordered; the rest of the run
// is walked as it comes.
class NameOrderedWalk {
public:
    NameOrderedWalk(const PreparedQuery& q, bool rankFirst)
        : m_on(q.query.sortField == SearchSortField::Name)
        , m_ascending(q.query.ascending)
        , m_rankFirst(rankFirst)
    {
    }

    // Orders the best `limit` of order[begin, end) by kind and name; returns
    // the end of the ordered part (`begin` when nothing was ordered).
    std::size_t orderRun(std::vector<std::uint32_t>& order, std::size_t begin, std::size_t end,
                         const CollectedCandidates& survivors, std::size_t limit) const
    {
        if (!m_on || end - begin < 2)
            return begin;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(end - begin);
        for (std::size_t k = 0; k < keyed.size(); ++k) {
            const std::uint32_t at = order[begin + k];
            const std::uint64_t kind = m_rankFirst ? std::uint64_t(survivors.kinds[at]) : 0;
            keyed[k] = {kind << 32 | directed(survivors.nameOrders[at]), at};
        }
        // Equal keys keep input order, as the run had it.
        const auto before = [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : a.second < b.second;
        };
        const std::size_t kept = std::min(limit, keyed.size());
        if (kept < keyed.size())
            std::nth_element(keyed.begin(), keyed.begin() + std::ptrdiff_t(kept), keyed.end(), before);
        std::sort(keyed.begin(), keyed.begin() + std::ptrdiff_t(kept), before);
        for (std::size_t k = 0; k < keyed.size(); ++k)
            order[begin + k] = keyed[k].second;
        return begin + kept;
    }

    // True when a candidate that ranks at `bound` or above goes after `worst`
    // whatever its rank; false when unsure.
    bool surelyAfter(std::uint32_t nameOrder, Rank bound, int kind, const ScoredItem& worst) const
    {
        if (!m_on || nameOrder == 0 || worst.nameOrder == 0)
            return false;
        const Rank firstA = m_rankFirst ? bound : kind, firstB = m_rankFirst ? worst.rank : worst.kindOrder;
        if (firstA != firstB)
            return firstA > firstB;
        const Rank secondA = m_rankFirst ? kind : bound, secondB = m_rankFirst ? worst.kindOrder : worst.rank;
        if (secondA != secondB)
            return secondA > secondB;
        return m_ascending ? nameOrder > worst.nameOrder : nameOrder < worst.nameOrder;
    }

private:
    // The ordinal in the walk's direction; 0 (unknown) first.
    std::uint32_t directed(std::uint32_t nameOrder) const
    {
        return nameOrder == 0 || m_ascending ? nameOrder : std::numeric_limits<std::uint32_t>::max() - nameOrder + 1;
    }

    bool m_on;
    bool m_ascending;
    bool m_rankFirst;
};

// Reads, in input order, the names of the candidates the walk will surely
// reach: those whose bound is at most the `limit`-th lowest bound, which is
// at most the worst kept rank. Reading raises bounds, and so that threshold:
// the reading goes on until no unread candidate is left under it. Read in the
// walk's order instead, the names would be fetched from all over the table. A
// candidate the name turns down gets a bound no rank reaches.
void refineTheSureOnes(CollectedCandidates& survivors, SliceFilters& filters, std::size_t limit)
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
        for (std::uint32_t at : round)
            --counts[bucketOf(survivors.bounds[at])];
        // Each candidate's reading is its own: the round is read in slices, a filter each.
        const auto slices = static_cast<unsigned>(
            std::clamp<std::size_t>(round.size() / kRefinesPerSlice, 1, filters.size()));
        inPooledSlices(round.size(), slices, [&](unsigned s, std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) {
                CandidateBound& b = survivors.bounds[round[k]];
                if (!filters[s]->refine(survivors.indices[round[k]], b))
                    b = {kNoRankCeiling, false, true};
            }
        });
        for (std::uint32_t at : round)
            ++counts[bucketOf(survivors.bounds[at])];
        done = threshold + 1;
    }
}

// A candidate of the walk with what was known of it when it was met.
struct WalkStep {
    std::uint32_t at;    // position in the survivors
    Rank bound;          // its bound before its name was read
    int kind;
    bool ordered;        // within the name-ordered part of its run
    Rank ceiling;        // the heap's ceiling for it then
};

enum class Verdict { Score, Skip, Stop };

// What the walk does with a candidate given the heap as it stands. Kind
// first, `doneKind` is the kind whose rest is worse than the worst kept.
Verdict verdictOf(const TopKHeap& heap, const NameOrderedWalk& byName, const WalkStep& c, std::uint32_t nameOrder,
                  int& doneKind)
{
    if (c.kind == doneKind)
        return Verdict::Skip;
    if (!heap.isFull())
        return Verdict::Score;
    const bool rankFirst = heap.order().rankFirst();
    const ScoredItem& worst = heap.worst();
    if (rankFirst && c.bound > worst.rank)
        return c.bound < kTopBound ? Verdict::Stop : Verdict::Skip;
    if (!rankFirst && c.kind > worst.kindOrder)
        return Verdict::Stop;
    if (!rankFirst && c.kind == worst.kindOrder && c.bound > worst.rank) {
        if (c.bound < kTopBound)
            doneKind = c.kind;
        return Verdict::Skip;
    }
    // In name order every later candidate goes after it too.
    if (byName.surelyAfter(nameOrder, c.bound, c.kind, worst))
        return c.ordered ? Verdict::Stop : Verdict::Skip;
    return heap.ceilingFor(c.kind) ? Verdict::Score : Verdict::Skip;
}

// Candidates scored at once, on the kept threads: scoring (reading the name,
// ranking the path) is most of the walk, and the walk itself is one thread's.
// A short answer (the typing road's) is walked one at a time: waking the
// threads would cost more than it saves.
constexpr std::size_t kWalkBatch = 1024;
constexpr std::size_t kBatchedWalkFrom = 4096;
constexpr std::size_t kScoresPerSlice = 128;
constexpr std::size_t kWalkAhead = 8;

std::vector<ScoredItem> bestFirst(const ItemSource& source, CollectedCandidates& survivors, const PreparedQuery& q,
                                  std::size_t limit, SliceFilters& filters)
{
    refineTheSureOnes(survivors, filters, limit);
    TopKHeap heap(q, limit);
    std::vector<Scorer> scorers;
    for (const std::unique_ptr<CandidateFilter>& f : filters)
        scorers.emplace_back(source, q, *f);
    const bool rankFirst = heap.order().rankFirst();
    int doneKind = -1;  // kind first: the rest of this kind is worse than the worst kept
    const NameOrderedWalk byName(q, rankFirst);
    std::vector<std::size_t> ends;
    std::vector<std::uint32_t> order = bestFirstOrder(survivors, rankFirst, ends);
    std::size_t runEnd = 0, orderedEnd = 0, run = 0;
    // A pattern search that was cancelled or gave its expression up can take nothing more.
    const bool mayStop = q.regexWatch && q.mode != PreparedQuery::Mode::Ranked;
    std::vector<WalkStep> batch;
    std::vector<std::optional<ScoredItem>> scores;
    bool stopped = false;
    const std::size_t batchSize = limit >= kBatchedWalkFrom ? kWalkBatch : 1;
    for (std::size_t k = 0; k < order.size() && !stopped;) {
        // The next candidates worth scoring against the heap as it stands; it
        // only gets better, so each is looked at again before it is added.
        batch.clear();
        int gatherDoneKind = doneKind;
        bool lastBatch = false;
        for (; k < order.size() && batch.size() < batchSize; ++k) {
            if (mayStop && q.regexWatch->stopped()) {
                lastBatch = true;
                break;
            }
            if (k == runEnd) {
                runEnd = ends[run++];
                // The last bucket holds every bound from kTopBound on, unordered.
                const bool lastBucket = std::min(survivors.bounds[order[k]].rank, kTopBound) == kTopBound;
                orderedEnd = lastBucket ? k : byName.orderRun(order, k, runEnd, survivors, limit);
            }
            // Scored here one at a time, each reading a name from far away:
            // the next ones' are fetched meanwhile.
            if (batchSize == 1 && k + 2 * kWalkAhead < order.size())
                source.prefetchRecord(survivors.indices[order[k + 2 * kWalkAhead]]);
            if (batchSize == 1 && k + kWalkAhead < order.size())
                source.prefetchNames(survivors.indices[order[k + kWalkAhead]]);
            const std::uint32_t at = order[k];
            WalkStep c{at, survivors.bounds[at].rank, survivors.kinds[at], k < orderedEnd, 0};
            const Verdict v = verdictOf(heap, byName, c, survivors.nameOrders[at], gatherDoneKind);
            if (v == Verdict::Stop) {
                lastBatch = true;
                break;
            }
            if (v == Verdict::Skip)
                continue;
            c.ceiling = *heap.ceilingFor(c.kind);
            batch.push_back(c);
        }
        scores.assign(batch.size(), std::nullopt);
        const auto slices = static_cast<unsigned>(
            std::clamp<std::size_t>(batch.size() / kScoresPerSlice, 1, scorers.size()));
        inPooledSlices(batch.size(), slices, [&](unsigned s, std::size_t begin, std::size_t end) {
            for (std::size_t b = begin; b < end; ++b)
                scores[b] = scorers[s].score(survivors.indices[batch[b].at], survivors.bounds[batch[b].at],
                                             batch[b].ceiling);
        });
        for (std::size_t b = 0; b < batch.size(); ++b) {
            const Verdict v = verdictOf(heap, byName, batch[b], survivors.nameOrders[batch[b].at], doneKind);
            if (v == Verdict::Stop) {
                stopped = true;
                break;
            }
            const std::optional<ScoredItem>& c = scores[b];
            // A rank over the heap's ceiling now is one it does not want.
            if (v == Verdict::Score && c && heap.wants(*c))
                heap.add(*c);
        }
        stopped = stopped || lastBatch;
    }
    return heap.sorted();
}

} // namespace

void collectCandidates(CandidateFilter& filter, std::span<const std::uint32_t> candidates, CollectedCandidates& out)
{
    const std::size_t from = out.indices.size();
    filter.collect(candidates, out.indices, &out.bounds);
    noteKinds(filter, out, from);
}

std::vector<ScoredItem> rankCollected(const ItemSource& source, CollectedCandidates& collected,
                                      const PreparedQuery& q, std::size_t limit, SliceFilters& filters)
{
    return bestFirst(source, collected, q, limit, filters);
}

std::vector<ScoredItem> searchTopKWithFacts(const ItemSource& source,
                                            std::optional<std::span<const std::uint32_t>> candidates,
                                            const PreparedQuery& q, std::size_t limit)
{
    const std::size_t n = candidates ? candidates->size() : source.size();
    const auto slices = static_cast<unsigned>(
        std::clamp<std::size_t>(n / kCandidatesPerSlice, 1, spareThreads() * kSlicesPerThread));
    // A filter per slice: each keeps its own folder answers, and all share
    // one cutoff, so that a slice drops what the others have beaten. They
    // read the sure candidates' names in slices again; the first serves the
    // ranking after.
    SharedCutoff cutoff(limit);
    SliceFilters filters(slices);
    std::vector<CollectedCandidates> parts(slices);
    inPooledSlices(n, slices, [&](unsigned s, std::size_t begin, std::size_t end) {
        filters[s] = std::make_unique<CandidateFilter>(source, q);
        filters[s]->keepBest(limit, &cutoff);
        std::vector<std::uint32_t>& out = parts[s].indices;
        if (candidates)
            filters[s]->collect(candidates->subspan(begin, end - begin), out, &parts[s].bounds);
        else
            filters[s]->collect(static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end), out,
                               &parts[s].bounds);
        noteKinds(*filters[s], parts[s], 0);
    });
    CollectedCandidates survivors = joinInOrder(std::move(parts));
    return bestFirst(source, survivors, q, limit, filters);
}

} // namespace pallix
