#pragma once
// The result order of a search and the bounded heap of its top-K path.
// Internal to the Search module. A ResultOrder keeps nothing but the query's
// settings and compares on any thread; one heap per search, on one thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Models/IndexedItem.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/ResultCollation.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchRank.h"

namespace pallix {

// One accepted candidate: what the result order reads of it. Its path is
// either kept whole or, for an item whose facts name its folder, read off its
// parent folder and its name (the source hands out no lasting whole path).
struct ScoredItem {
    std::string_view name;
    std::string_view parentPath;
    std::string_view path;       // empty when pathFromParts
    bool pathFromParts = false;
    TextKey nameKey;  // resultTextKey(name) when sorting by name
    std::uint32_t nameOrder = 0;  // the source's nameOrder() when sorting by name
    std::int64_t size = 0;
    Date modifiedAt = kDistantPast;
    std::uint32_t index = 0;  // into the source
    Rank rank = 0;
    Rank kindOrder = 0;
};

// The scored form of `item`, the candidate at `index` of `source`;
// `pathFromParts` when the item's facts name its folder (its path is then not read).
ScoredItem scoredItem(const ItemSource& source, const ItemRef& item, std::uint32_t index, Rank rank, int kindOrder,
                      const PreparedQuery& q, bool pathFromParts = false);

// The candidates' source indices, in the given order.
std::vector<std::uint32_t> indicesOf(const std::vector<ScoredItem>& scored);

// Whether the result order puts relevance before the kind (by edition).
inline bool ranksFirst(const PreparedQuery& q) { return q.edition == AppEdition::Mardell; }

// The result order: relevance (by edition), then the user's sort field, then the
// path ascending, then the input position. True when `lhs` goes before `rhs`.
class ResultOrder {
public:
    explicit ResultOrder(const PreparedQuery& q);
    bool operator()(const ScoredItem& lhs, const ScoredItem& rhs) const;
    bool rankFirst() const { return m_rankFirst; }

private:
    int comparePaths(const ScoredItem& a, const ScoredItem& b) const;
    int compareSortKey(const ScoredItem& a, const ScoredItem& b) const;

    bool m_rankFirst;
    SearchSortField m_sortField;
    bool m_ascending;
};

// Sorts `items` in result order on the kept threads.
void sortInSlices(std::vector<ScoredItem>& items, const ResultOrder& order);

// The best `limit` results seen so far, with the worst kept one at the root
// once full. The order is total, so what it keeps does not depend on the order
// the candidates come in.
class TopKHeap {
public:
    TopKHeap(const PreparedQuery& q, std::size_t limit);

    const ResultOrder& order() const { return m_order; }
    bool isFull() const { return m_heap.size() >= m_limit; }
    std::size_t size() const { return m_heap.size(); }
    const ScoredItem& worst() const { return m_heap.front(); }  // once full

    // The highest rank with which a candidate of kind `kindOrder` could still be
    // kept; nothing when it cannot be whatever its rank. Once the heap is full a
    // candidate must go before the root, so tiers above the root's rank (or,
    // kind first, a later kind) need no ranking.
    std::optional<Rank> ceilingFor(int kindOrder) const;
    bool wants(const ScoredItem& c) const { return !isFull() || m_order(c, m_heap.front()); }
    void add(const ScoredItem& c);

    // The kept candidates in result order.
    std::vector<ScoredItem> sorted();

private:
    void siftDown(std::size_t start);

    ResultOrder m_order;
    std::size_t m_limit;
    std::vector<ScoredItem> m_heap;
};

} // namespace pallix
