#include "Core/Search/SearchEngine.h"

#include <algorithm>
#include <cassert>

#include "Core/Search/PreparedQuery.h"
#include "Core/Search/SearchFilters.h"
#include "Core/Search/SearchRank.h"

namespace pallix {

namespace {

struct ScoredItem {
    ItemRef item;
    std::uint32_t index = 0;  // into the source
    Rank rank = 0;
    Rank kindOrder = 0;
};

int compareNumbers(auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); }

// The result order: relevance (by edition), then the user's sort field, then the
// path ascending. True when `lhs` goes before `rhs`.
class ResultOrder {
public:
    explicit ResultOrder(const PreparedQuery& q)
        : m_rankFirst(q.edition == AppEdition::Mardell)
        , m_sortField(q.query.sortField)
        , m_ascending(q.query.ascending)
    {
    }

    bool operator()(const ScoredItem& lhs, const ScoredItem& rhs) const
    {
        const Rank first = m_rankFirst ? lhs.rank - rhs.rank : lhs.kindOrder - rhs.kindOrder;
        if (first != 0)
            return first < 0;
        const Rank second = m_rankFirst ? lhs.kindOrder - rhs.kindOrder : lhs.rank - rhs.rank;
        if (second != 0)
            return second < 0;
        const int key = compareSortKey(lhs.item, rhs.item);
        if (key != 0)
            return m_ascending ? key < 0 : key > 0;
        // Sorting by path already compared the paths the tie-break would.
        if (m_sortField == SearchSortField::Path)
            return false;
        return text::compareZhCaseInsensitive(lhs.item.path, rhs.item.path) < 0;
    }

private:
    int compareSortKey(const ItemRef& a, const ItemRef& b) const
    {
        switch (m_sortField) {
        case SearchSortField::Name: return text::compareZhCaseInsensitive(a.name, b.name);
        case SearchSortField::Path: return text::compareZhCaseInsensitive(a.path, b.path);
        case SearchSortField::Size: return compareNumbers(a.size, b.size);
        case SearchSortField::ModifiedAt: return compareNumbers(a.modifiedAt, b.modifiedAt);
        }
        return 0;
    }

    bool m_rankFirst;
    SearchSortField m_sortField;
    bool m_ascending;
};

constexpr Rank kPatternRank = SearchEngine::kPatternRank;
constexpr Rank kFilterOnlyRank = SearchEngine::kFilterOnlyRank;

// The rank of one candidate before the exclusion rules below, nothing when it is
// no result or ranks above `ceiling`.
std::optional<Rank> rankIgnoringExclusions(const ItemRef& item, const PreparedQuery& q, Rank ceiling)
{
    if (!passesAttributeFilters(item, q))
        return std::nullopt;
    switch (q.mode) {
    case PreparedQuery::Mode::Nothing:
        return std::nullopt;
    case PreparedQuery::Mode::Wildcard:
        if (kPatternRank > ceiling)
            return std::nullopt;
        return matchesWildcard(item, *q.wildcard) ? std::optional<Rank>(kPatternRank) : std::nullopt;
    case PreparedQuery::Mode::RegexTokens:
        if (kPatternRank > ceiling)
            return std::nullopt;
        return matchesAllExpressions(item, q.regexes) ? std::optional<Rank>(kPatternRank) : std::nullopt;
    case PreparedQuery::Mode::FilterOnly:
        return kFilterOnlyRank > ceiling ? std::nullopt : std::optional<Rank>(kFilterOnlyRank);
    case PreparedQuery::Mode::Ranked:
        return nameMatchRank(item, q, ceiling);
    }
    return std::nullopt;
}

// The junk and developer-tool rules. Each lower-cases the path, so they run last,
// on candidates that matched otherwise (and, in the heap, would be kept); every
// test must hold for a result, so the order changes no answer.
bool passesExclusions(const ItemRef& item, const PreparedQuery& q)
{
    if (!passesJunkFilter(item, q))
        return false;
    // Developer-tool files only show for a plain search whose single token is their name.
    if ((q.mode == PreparedQuery::Mode::FilterOnly || q.mode == PreparedQuery::Mode::Ranked) &&
        IndexedItem::isLowPriorityToolingArtifact(item)) {
        const bool namedExactly = q.artifactToken && (q.query.caseSensitive
                                                          ? text::canonicallyEqual(*q.artifactToken, item.name)
                                                          : *q.artifactToken == item.searchName);
        return q.mode == PreparedQuery::Mode::Ranked && namedExactly;
    }
    return true;
}

// Calls `fn(index, item)` for every candidate in input order.
template <typename Fn>
void forEachCandidate(const ItemSource& source, std::optional<std::span<const std::uint32_t>> candidates, Fn&& fn)
{
    if (!candidates) {
        for (std::size_t i = 0; i < source.size(); ++i)
            fn(static_cast<std::uint32_t>(i), source.at(i));
        return;
    }
    for (std::uint32_t i : *candidates) {
        assert(i < source.size());
        if (i < source.size())
            fn(i, source.at(i));
    }
}

std::vector<std::uint32_t> indicesOf(const std::vector<ScoredItem>& scored)
{
    std::vector<std::uint32_t> out;
    out.reserve(scored.size());
    for (const ScoredItem& s : scored)
        out.push_back(s.index);
    return out;
}

std::vector<std::uint32_t> searchSortingAll(const ItemSource& source,
                                            std::optional<std::span<const std::uint32_t>> candidates,
                                            const PreparedQuery& q, std::size_t limit)
{
    std::vector<ScoredItem> results;
    forEachCandidate(source, candidates, [&](std::uint32_t index, const ItemRef& item) {
        std::optional<Rank> rank = rankIgnoringExclusions(item, q, kNoRankCeiling);
        if (rank && passesExclusions(item, q))
            results.push_back({item, index, *rank, IndexedItem::displayKindOrder(item)});
    });
    std::stable_sort(results.begin(), results.end(), ResultOrder(q));
    if (results.size() > limit)
        results.resize(limit);
    return indicesOf(results);
}

// Restores the heap below `start`: no entry goes before either of its children,
// so the root is a worst kept result. Of two equal children the left one moves up,
// and a child equal to its parent stays.
void siftDownWorstAtRoot(std::vector<ScoredItem>& heap, const ResultOrder& order, std::size_t start)
{
    std::size_t i = start;
    for (;;) {
        std::size_t worst = i;
        const std::size_t left = 2 * i + 1, right = 2 * i + 2;
        if (left < heap.size() && order(heap[worst], heap[left]))
            worst = left;
        if (right < heap.size() && order(heap[worst], heap[right]))
            worst = right;
        if (worst == i)
            return;
        std::swap(heap[i], heap[worst]);
        i = worst;
    }
}

// The best `limit` results seen so far, with a worst kept one at the root once full.
class TopKHeap {
public:
    TopKHeap(const PreparedQuery& q, std::size_t limit)
        : m_order(q)
        , m_rankFirst(q.edition == AppEdition::Mardell)
        , m_limit(limit)
    {
        m_heap.reserve(limit);
    }

    // The highest rank with which `item` could still be kept; nothing when it cannot be
    // whatever its rank. Once the heap is full a candidate must go before the root, so
    // tiers above the root's rank (or, kind first, a later kind) need no ranking.
    // Fills `kindOrder` when it had to be worked out.
    std::optional<Rank> ceilingFor(const ItemRef& item, std::optional<int>& kindOrder) const
    {
        if (m_heap.size() < m_limit)
            return kNoRankCeiling;
        const ScoredItem& root = m_heap.front();
        if (m_rankFirst)
            return root.rank;
        kindOrder = IndexedItem::displayKindOrder(item);
        if (*kindOrder > root.kindOrder)
            return std::nullopt;
        return *kindOrder == root.kindOrder ? root.rank : kNoRankCeiling;
    }

    // Only a strictly better candidate replaces the worst kept one, so among
    // equals the earlier candidate stays.
    bool wants(const ScoredItem& c) const { return m_heap.size() < m_limit || m_order(c, m_heap.front()); }

    void add(const ScoredItem& c)
    {
        if (m_heap.size() < m_limit) {
            m_heap.push_back(c);
            if (m_heap.size() == m_limit && m_limit > 1)
                for (std::size_t start = m_limit / 2; start-- > 0;)
                    siftDownWorstAtRoot(m_heap, m_order, start);
            return;
        }
        m_heap.front() = c;
        siftDownWorstAtRoot(m_heap, m_order, 0);
    }

    std::vector<std::uint32_t> sortedIndices()
    {
        std::stable_sort(m_heap.begin(), m_heap.end(), m_order);
        return indicesOf(m_heap);
    }

private:
    ResultOrder m_order;
    bool m_rankFirst;
    std::size_t m_limit;
    std::vector<ScoredItem> m_heap;
};

std::vector<std::uint32_t> searchKeepingTopK(const ItemSource& source,
                                             std::optional<std::span<const std::uint32_t>> candidates,
                                             const PreparedQuery& q, std::size_t limit)
{
    TopKHeap heap(q, limit);
    forEachCandidate(source, candidates, [&](std::uint32_t index, const ItemRef& item) {
        std::optional<int> kindOrder;
        const std::optional<Rank> ceiling = heap.ceilingFor(item, kindOrder);
        if (!ceiling)
            return;
        const std::optional<Rank> rank = rankIgnoringExclusions(item, q, *ceiling);
        if (!rank)
            return;
        const ScoredItem c{item, index, *rank, kindOrder ? *kindOrder : IndexedItem::displayKindOrder(item)};
        // The exclusion rules only matter for a candidate that would be kept.
        if (heap.wants(c) && passesExclusions(item, q))
            heap.add(c);
    });
    return heap.sortedIndices();
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

bool SearchEngine::takesTopKPath(std::size_t candidates, int limit)
{
    return candidates > kTopKMinCandidates &&
           static_cast<std::int64_t>(candidates) > static_cast<std::int64_t>(limit) + std::int64_t(kTopKLimitSlack);
}

std::vector<std::uint32_t> SearchEngine::searchIndices(const ItemSource& source,
                                                       std::optional<std::span<const std::uint32_t>> candidates,
                                                       const SearchQuery& query, int limit) const
{
    if (limit < 1)
        return {};
    const PreparedQuery prepared(query);
    if (prepared.mode == PreparedQuery::Mode::Nothing)
        return {};
    const std::size_t n = candidates ? candidates->size() : source.size();
    const auto wanted = static_cast<std::size_t>(limit);
    if (takesTopKPath(n, limit))
        return searchKeepingTopK(source, candidates, prepared, wanted);
    return searchSortingAll(source, candidates, prepared, wanted);
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
