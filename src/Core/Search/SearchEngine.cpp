#include "Core/Search/SearchEngine.h"

#include <algorithm>
#include <cassert>

#include "Core/Search/CandidateFilter.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/ResultCollation.h"
#include "Core/Search/SearchFilters.h"
#include "Core/Search/SearchRank.h"

namespace pallix {

namespace {

// One accepted candidate: what the result order reads of it. The path is not
// kept: a source may only hand it out for the candidate at hand, so the order
// asks the source again when two paths must be compared.
struct ScoredItem {
    std::string_view name;
    std::uint64_t nameKey = kUnknownKey;  // resultTextKey(name) when sorting by name
    std::int64_t size = 0;
    Date modifiedAt = kDistantPast;
    std::uint32_t index = 0;  // into the source
    Rank rank = 0;
    Rank kindOrder = 0;
};

int compareNumbers(auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); }

// The result order: relevance (by edition), then the user's sort field, then the
// path ascending. True when `lhs` goes before `rhs`. One per search and thread.
class ResultOrder {
public:
    ResultOrder(const PreparedQuery& q, const ItemSource& source)
        : m_source(source)
        , m_rankFirst(q.edition == AppEdition::Mardell)
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
        const int key = compareSortKey(lhs, rhs);
        if (key != 0)
            return m_ascending ? key < 0 : key > 0;
        // Sorting by path already compared the paths the tie-break would.
        if (m_sortField == SearchSortField::Path)
            return false;
        return comparePaths(lhs, rhs) < 0;
    }

private:
    int comparePaths(const ScoredItem& a, const ScoredItem& b) const
    {
        return compareResultText(m_source.pathOf(a.index, m_left), m_source.pathOf(b.index, m_right));
    }

    int compareSortKey(const ScoredItem& a, const ScoredItem& b) const
    {
        switch (m_sortField) {
        case SearchSortField::Name:
            // Most names differ within their first characters: numbers decide.
            if (a.nameKey != b.nameKey && a.nameKey != kUnknownKey && b.nameKey != kUnknownKey)
                return a.nameKey < b.nameKey ? -1 : 1;
            return compareResultText(a.name, b.name);
        case SearchSortField::Path: return comparePaths(a, b);
        case SearchSortField::Size: return compareNumbers(a.size, b.size);
        case SearchSortField::ModifiedAt: return compareNumbers(a.modifiedAt, b.modifiedAt);
        }
        return 0;
    }

    const ItemSource& m_source;
    bool m_rankFirst;
    SearchSortField m_sortField;
    bool m_ascending;
    mutable std::string m_left, m_right;  // paths the source assembles
};

constexpr Rank kPatternRank = SearchEngine::kPatternRank;
constexpr Rank kFilterOnlyRank = SearchEngine::kFilterOnlyRank;

// The rank of one candidate before the exclusion rules below, nothing when it is
// no result or ranks above `ceiling`.
std::optional<Rank> rankIgnoringExclusions(const ItemRef& item, const ItemFacts* facts, const PreparedQuery& q,
                                           Rank ceiling)
{
    if (!passesAttributeFilters(item, q))
        return std::nullopt;
    switch (q.mode) {
    case PreparedQuery::Mode::Nothing:
        return std::nullopt;
    case PreparedQuery::Mode::Wildcard:
        if (kPatternRank > ceiling)
            return std::nullopt;
        if (facts && q.plainWildcard && facts->has(ItemFacts::PlainName))
            return matchesPlainWildcard(item.name, *q.plainWildcard, q.query.caseSensitive)
                       ? std::optional<Rank>(kPatternRank)
                       : std::nullopt;
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
bool passesExclusions(const ItemRef& item, const ItemFacts* facts, const PreparedQuery& q)
{
    if (facts ? q.query.excludeSystemJunk && facts->has(ItemFacts::Junk) : !passesJunkFilter(item, q))
        return false;
    const bool artifact =
        facts ? facts->has(ItemFacts::ToolingArtifact) : IndexedItem::isLowPriorityToolingArtifact(item);
    // Developer-tool files only show for a plain search whose single token is their name.
    if ((q.mode == PreparedQuery::Mode::FilterOnly || q.mode == PreparedQuery::Mode::Ranked) && artifact) {
        const bool namedExactly = q.artifactToken && (q.query.caseSensitive
                                                          ? text::canonicallyEqual(*q.artifactToken, item.name)
                                                          : *q.artifactToken == item.searchName);
        return q.mode == PreparedQuery::Mode::Ranked && namedExactly;
    }
    return true;
}

// Calls `fn(index)` for every candidate in input order that `filter` (when
// there is one) does not turn down.
template <typename Fn>
void forEachCandidate(const ItemSource& source, std::optional<std::span<const std::uint32_t>> candidates,
                      CandidateFilter* filter, Fn&& fn)
{
    if (filter) {
        // One tight pass over the facts of a block, then the survivors (usually
        // few) in order: the full tests read far more of an item than its facts.
        constexpr std::size_t kBlock = 4096;
        std::vector<std::uint32_t> survivors;
        survivors.reserve(kBlock);
        const std::size_t n = candidates ? candidates->size() : source.size();
        for (std::size_t first = 0; first < n; first += kBlock) {
            const std::size_t last = std::min(n, first + kBlock);
            survivors.clear();
            if (candidates)
                filter->collect(candidates->subspan(first, last - first), survivors);
            else
                filter->collect(static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last), survivors);
            for (std::uint32_t i : survivors)
                fn(i);
        }
        return;
    }
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

std::vector<std::uint32_t> indicesOf(const std::vector<ScoredItem>& scored)
{
    std::vector<std::uint32_t> out;
    out.reserve(scored.size());
    for (const ScoredItem& s : scored)
        out.push_back(s.index);
    return out;
}

ScoredItem scored(const ItemRef& item, std::uint32_t index, Rank rank, int kindOrder, const PreparedQuery& q)
{
    const std::uint64_t key = q.query.sortField == SearchSortField::Name ? resultTextKey(item.name) : kUnknownKey;
    return {item.name, key, item.size, item.modifiedAt, index, rank, kindOrder};
}

int kindOrderOf(const ItemRef& item, const ItemFacts* facts)
{
    return facts ? facts->kindOrder() : IndexedItem::displayKindOrder(item);
}

std::vector<std::uint32_t> searchSortingAll(const ItemSource& source,
                                            std::optional<std::span<const std::uint32_t>> candidates,
                                            const PreparedQuery& q, std::size_t limit)
{
    std::optional<CandidateFilter> filter;
    if (source.facts())
        filter.emplace(source, q);
    std::vector<ScoredItem> results;
    forEachCandidate(source, candidates, filter ? &*filter : nullptr, [&](std::uint32_t index) {
        const ItemFacts* facts = filter ? &filter->facts(index) : nullptr;
        const ItemRef item = source.at(index);
        std::optional<Rank> rank = rankIgnoringExclusions(item, facts, q, kNoRankCeiling);
        if (rank && passesExclusions(item, facts, q))
            results.push_back(scored(item, index, *rank, kindOrderOf(item, facts), q));
    });
    std::stable_sort(results.begin(), results.end(), ResultOrder(q, source));
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
    TopKHeap(const PreparedQuery& q, const ItemSource& source, std::size_t limit)
        : m_order(q, source)
        , m_rankFirst(q.edition == AppEdition::Mardell)
        , m_limit(limit)
    {
        m_heap.reserve(limit);
    }

    // The highest rank with which a candidate of kind `kindOrder` could still be
    // kept; nothing when it cannot be whatever its rank. Once the heap is full a
    // candidate must go before the root, so tiers above the root's rank (or,
    // kind first, a later kind) need no ranking.
    std::optional<Rank> ceilingFor(int kindOrder) const
    {
        if (m_heap.size() < m_limit)
            return kNoRankCeiling;
        const ScoredItem& root = m_heap.front();
        if (m_rankFirst)
            return root.rank;
        if (kindOrder > root.kindOrder)
            return std::nullopt;
        return kindOrder == root.kindOrder ? root.rank : kNoRankCeiling;
    }
    bool isFull() const { return m_heap.size() >= m_limit; }

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
    std::optional<CandidateFilter> filter;
    if (source.facts())
        filter.emplace(source, q);
    TopKHeap heap(q, source, limit);
    forEachCandidate(source, candidates, filter ? &*filter : nullptr, [&](std::uint32_t index) {
        std::optional<ItemRef> item;
        std::optional<int> kindOrder;
        const ItemFacts* facts = nullptr;
        if (filter) {
            facts = &filter->facts(index);
            kindOrder = facts->kindOrder();
        } else if (heap.isFull()) {
            item = source.at(index);
            kindOrder = IndexedItem::displayKindOrder(*item);
        }
        const std::optional<Rank> ceiling = heap.ceilingFor(kindOrder.value_or(0));
        if (!ceiling)
            return;
        if (filter && *ceiling != kNoRankCeiling && !filter->mayRankWithin(index, *ceiling))
            return;
        if (!item)
            item = source.at(index);
        const std::optional<Rank> rank = rankIgnoringExclusions(*item, facts, q, *ceiling);
        if (!rank)
            return;
        const ScoredItem c =
            scored(*item, index, *rank, kindOrder ? *kindOrder : IndexedItem::displayKindOrder(*item), q);
        // The exclusion rules only matter for a candidate that would be kept.
        if (heap.wants(c) && passesExclusions(*item, facts, q))
            heap.add(c);
    });
    return heap.sortedIndices();
}

class VectorSource final : public ItemSource {
public:
    explicit VectorSource(const std::vector<IndexedItem>& items) : m_items(items) {}
    std::size_t size() const override { return m_items.size(); }
    ItemRef at(std::size_t index) const override { return m_items[index].ref(); }
    std::string_view pathOf(std::size_t index, std::string&) const override { return m_items[index].path(); }

private:
    const std::vector<IndexedItem>& m_items;
};

} // namespace

std::string_view ItemSource::pathOf(std::size_t index, std::string& scratch) const
{
    scratch.assign(at(index).path);
    return scratch;
}

FolderForms ItemSource::folder(std::uint32_t) const { return {}; }

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
