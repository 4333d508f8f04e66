#include "Core/Search/SearchEngine.h"

#include <algorithm>
#include <cassert>

#include "Core/Search/BoundedTopK.h"
#include "Core/Search/CandidateFilter.h"
#include "Core/Search/CandidateScoring.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/ResultOrder.h"
#include "Platform/Parallel.h"

namespace pallix {

namespace {

std::optional<FolderForms> folderOf(const ItemSource& source, const ItemFacts* facts)
{
    if (!facts || facts->folder == ItemFacts::kNoFolder)
        return std::nullopt;
    return source.folder(facts->folder);
}

// Calls `fn(index)` for every candidate in input order.
template <typename Fn>
void forEachCandidate(const ItemSource& source, std::optional<std::span<const std::uint32_t>> candidates, Fn&& fn)
{
    if (!candidates) {
        const auto n = static_cast<std::uint32_t>(source.size());
        for (std::uint32_t i = 0; i < n; ++i)
            fn(i);
        return;
    }
    for (std::uint32_t i : *candidates) {
        assert(i < source.size());
        if (i < source.size())
            fn(i);
    }
}

// The candidates the source's facts do not turn down, in input order, with
// their bounds. Facts are read in one tight pass; the full tests read far
// more of an item.
std::vector<std::uint32_t> survivorsOf(CandidateFilter& filter, const ItemSource& source,
                                       std::optional<std::span<const std::uint32_t>> candidates,
                                       std::vector<CandidateBound>& bounds)
{
    std::vector<std::uint32_t> survivors;
    if (candidates)
        filter.collect(*candidates, survivors, &bounds);
    else
        filter.collect(0, static_cast<std::uint32_t>(source.size()), survivors, &bounds);
    return survivors;
}

// The best `limit` of `results`, in result order.
std::vector<ScoredItem> bestOf(std::vector<ScoredItem> results, const PreparedQuery& q, std::size_t limit)
{
    std::stable_sort(results.begin(), results.end(), ResultOrder(q));
    if (results.size() > limit)
        results.resize(limit);
    return results;
}

std::vector<ScoredItem> searchSortingAll(const ItemSource& source,
                                         std::optional<std::span<const std::uint32_t>> candidates,
                                         const PreparedQuery& q, std::size_t limit)
{
    std::optional<CandidateFilter> filter;
    std::vector<std::uint32_t> survivors;
    std::vector<CandidateBound> bounds;
    if (source.facts()) {
        filter.emplace(source, q);
        survivors = survivorsOf(*filter, source, candidates, bounds);
        candidates = std::span<const std::uint32_t>(survivors);
    }
    std::vector<ScoredItem> results;
    std::size_t at = 0;
    forEachCandidate(source, candidates, [&](std::uint32_t index) {
        const ItemFacts* facts = filter ? &filter->facts(index) : nullptr;
        // A bound the facts and the folder made exact is the rank: mostly of
        // a word only the folder holds, whose path tiers cost the most.
        const CandidateBound* bound = filter ? &bounds[at++] : nullptr;
        // With facts the path is never read, and at() might hand it out only for now.
        const ItemRef item = facts ? source.atWithoutPath(index) : source.at(index);
        std::optional<Rank> rank;
        if (bound && bound->exact) {
            rank = bound->rank;
        } else {
            const std::optional<FolderForms> folder = folderOf(source, facts);
            rank = rankIgnoringExclusions(item, facts, folder ? &*folder : nullptr, q, kNoRankCeiling);
        }
        if (rank && passesExclusions(item, facts, q))
            results.push_back(scoredItem(source, item, index, *rank, kindOrderOf(item, facts), q,
                                         facts && facts->folder != ItemFacts::kNoFolder));
    });
    return bestOf(std::move(results), q, limit);
}

// The top-K path in input order: every candidate, each against the heap as it
// stands when the candidate comes.
std::vector<ScoredItem> searchKeepingTopK(const ItemSource& source,
                                          std::optional<std::span<const std::uint32_t>> candidates,
                                          const PreparedQuery& q, std::size_t limit)
{
    TopKHeap heap(q, limit);
    forEachCandidate(source, candidates, [&](std::uint32_t index) {
        const ItemRef item = source.at(index);
        std::optional<int> kindOrder;
        if (heap.isFull())
            kindOrder = IndexedItem::displayKindOrder(item);
        const std::optional<Rank> ceiling = heap.ceilingFor(kindOrder.value_or(0));
        if (!ceiling)
            return;
        const std::optional<Rank> rank = rankIgnoringExclusions(item, nullptr, nullptr, q, *ceiling);
        if (!rank)
            return;
        const int kind = kindOrder ? *kindOrder : kindOrderOf(item, nullptr);
        const ScoredItem c = scoredItem(source, item, index, *rank, kind, q);
        // The exclusion rules only matter for a candidate that would be kept.
        if (heap.wants(c) && passesExclusions(item, nullptr, q))
            heap.add(c);
    });
    return heap.sorted();
}

class VectorSource final : public ItemSource {
public:
    explicit VectorSource(const std::vector<IndexedItem>& items) : m_items(items) {}
    std::size_t size() const override { return m_items.size(); }
    ItemRef at(std::size_t index) const override { return m_items[index].ref(); }

private:
    const std::vector<IndexedItem>& m_items;
};

} // namespace

FolderForms ItemSource::folder(std::uint32_t) const { return {}; }

ItemSource::NameViews ItemSource::namesAt(std::size_t index) const
{
    const ItemRef item = at(index);
    return {item.name, item.normalizedSearchName, item.normalizedSearchNameWithoutExtension};
}

bool SearchEngine::takesTopKPath(std::size_t candidates, int limit)
{
    return candidates > kTopKMinCandidates &&
           static_cast<std::int64_t>(candidates) > static_cast<std::int64_t>(limit) + std::int64_t(kTopKLimitSlack);
}

std::vector<ScoredItem> scoredResults(const ItemSource& source,
                                      std::optional<std::span<const std::uint32_t>> candidates,
                                      const PreparedQuery& q, std::size_t limit)
{
    if (limit == 0 || q.mode == PreparedQuery::Mode::Nothing)
        return {};
    const std::size_t n = candidates ? candidates->size() : source.size();
    if (!SearchEngine::takesTopKPath(n, static_cast<int>(std::min<std::size_t>(limit, INT32_MAX))))
        return searchSortingAll(source, candidates, q, limit);
    if (source.facts())
        return searchTopKWithFacts(source, candidates, q, limit);
    return searchKeepingTopK(source, candidates, q, limit);
}

std::vector<ScoredItem> scoredScattered(const ItemSource& source, std::span<const std::uint32_t> candidates,
                                        const PreparedQuery& q, std::size_t limit)
{
    if (limit == 0 || q.mode == PreparedQuery::Mode::Nothing)
        return {};
    // Each candidate waits on memory of its own: a thousand of them are worth
    // the kept threads, a slice each, joined in input order.
    constexpr std::size_t kScatteredPerSlice = 256;
    const ItemFacts* facts = source.facts();
    const auto slices = static_cast<unsigned>(
        std::clamp<std::size_t>(candidates.size() / kScatteredPerSlice, 1, spareThreads()));
    std::vector<std::vector<ScoredItem>> parts(slices);
    inPooledSlices(candidates.size(), slices, [&](unsigned s, std::size_t begin, std::size_t end) {
        forEachCandidate(source, candidates.subspan(begin, end - begin), [&](std::uint32_t index) {
            const ItemFacts* f = facts ? &facts[index] : nullptr;
            std::optional<Rank> rank;
            {
                const ItemRef item = source.at(index);
                rank = rankIgnoringExclusions(item, nullptr, nullptr, q, kNoRankCeiling);
                if (!rank || !passesExclusions(item, f, q))
                    return;
            }
            // A source with facts may hand out a path that lasts only until its next at().
            const ItemRef item = f ? source.atWithoutPath(index) : source.at(index);
            parts[s].push_back(scoredItem(source, item, index, *rank, kindOrderOf(item, f), q,
                                          f && f->folder != ItemFacts::kNoFolder));
        });
    });
    std::vector<ScoredItem> results = std::move(parts.front());
    for (std::size_t s = 1; s < parts.size(); ++s)
        results.insert(results.end(), parts[s].begin(), parts[s].end());
    return bestOf(std::move(results), q, limit);
}

std::vector<std::uint32_t> SearchEngine::searchIndices(const ItemSource& source,
                                                       std::optional<std::span<const std::uint32_t>> candidates,
                                                       const SearchQuery& query, int limit,
                                                       text::RegexWatch* regexWatch) const
{
    if (limit < 1)
        return {};
    const PreparedQuery prepared(query, regexWatch);
    return indicesOf(scoredResults(source, candidates, prepared, static_cast<std::size_t>(limit)));
}

std::vector<IndexedItem> SearchEngine::search(const std::vector<IndexedItem>& items, const SearchQuery& query,
                                              int limit) const
{
    const std::vector<std::uint32_t> indices = searchIndices(VectorSource(items), std::nullopt, query, limit);
    std::vector<IndexedItem> out;
    out.reserve(indices.size());
    for (std::uint32_t i : indices)
        out.push_back(items[i]);
    return out;
}

} // namespace pallix
