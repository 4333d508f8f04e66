#include "Core/Search/ResultOrder.h"

#include <algorithm>

#include "Platform/Parallel.h"

namespace pallix {

namespace {

int compareNumbers(auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); }

} // namespace

std::vector<std::uint32_t> indicesOf(const std::vector<ScoredItem>& scored)
{
    std::vector<std::uint32_t> out;
    out.reserve(scored.size());
    for (const ScoredItem& s : scored)
        out.push_back(s.index);
    return out;
}

ScoredItem scoredItem(const ItemSource& source, const ItemRef& item, std::uint32_t index, Rank rank, int kindOrder,
                      const PreparedQuery& q, bool pathFromParts)
{
    ScoredItem s;
    s.name = item.name;
    s.parentPath = item.parentPath;
    s.path = pathFromParts ? std::string_view() : item.path;
    s.pathFromParts = pathFromParts;
    if (q.query.sortField == SearchSortField::Name) {
        s.nameOrder = source.nameOrder(index);
        if (s.nameOrder == 0)
            s.nameKey = resultTextKey(item.name);
    }
    s.size = item.size;
    s.modifiedAt = item.modifiedAt;
    s.index = index;
    s.rank = rank;
    s.kindOrder = kindOrder;
    return s;
}

ResultOrder::ResultOrder(const PreparedQuery& q)
    : m_rankFirst(ranksFirst(q))
    , m_sortField(q.query.sortField)
    , m_ascending(q.query.ascending)
{
}

bool ResultOrder::operator()(const ScoredItem& lhs, const ScoredItem& rhs) const
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
    if (m_sortField != SearchSortField::Path)
        if (const int byPath = comparePaths(lhs, rhs); byPath != 0)
            return byPath < 0;
    // Results equal in all the user can see keep their input order: the order
    // is total, so a top-K walk in any order keeps what the full sort keeps.
    return lhs.index < rhs.index;
}

namespace {

TextPieces pathPieces(const ScoredItem& s)
{
    if (!s.pathFromParts)
        return {{s.path, {}, {}}};
    return {{s.parentPath, s.parentPath == "/" ? std::string_view() : std::string_view("/"), s.name}};
}

} // namespace

int ResultOrder::comparePaths(const ScoredItem& a, const ScoredItem& b) const
{
    return compareResultText(pathPieces(a), pathPieces(b));
}

int ResultOrder::compareSortKey(const ScoredItem& a, const ScoredItem& b) const
{
    switch (m_sortField) {
    case SearchSortField::Name:
        // The source's ordinals order names as the collation does; one known
        // beside one unknown is settled by the texts, which agree with both.
        if (a.nameOrder != 0 && b.nameOrder != 0)
            return compareNumbers(a.nameOrder, b.nameOrder);
        // Most names differ within their first characters: numbers decide.
        if (const int byKeys = a.nameKey.compare(b.nameKey); byKeys != 2)
            return byKeys;
        return compareResultText(a.name, b.name);
    case SearchSortField::Path: return comparePaths(a, b);
    case SearchSortField::Size: return compareNumbers(a.size, b.size);
    case SearchSortField::ModifiedAt: return compareNumbers(a.modifiedAt, b.modifiedAt);
    }
    return 0;
}

TopKHeap::TopKHeap(const PreparedQuery& q, std::size_t limit)
    : m_order(q)
    , m_limit(limit)
{
    m_heap.reserve(limit);
}

std::optional<Rank> TopKHeap::ceilingFor(int kindOrder) const
{
    if (!isFull())
        return kNoRankCeiling;
    const ScoredItem& root = m_heap.front();
    if (m_order.rankFirst())
        return root.rank;
    if (kindOrder > root.kindOrder)
        return std::nullopt;
    return kindOrder == root.kindOrder ? root.rank : kNoRankCeiling;
}

// Restores the heap below `start`: no entry goes before either of its children,
// so the root is a worst kept result. Of two equal children the left one moves up,
// and a child equal to its parent stays.
void TopKHeap::siftDown(std::size_t start)
{
    std::size_t i = start;
    for (;;) {
        std::size_t worst = i;
        const std::size_t left = 2 * i + 1, right = 2 * i + 2;
        if (left < m_heap.size() && m_order(m_heap[worst], m_heap[left]))
            worst = left;
        if (right < m_heap.size() && m_order(m_heap[worst], m_heap[right]))
            worst = right;
        if (worst == i)
            return;
        std::swap(m_heap[i], m_heap[worst]);
        i = worst;
    }
}

void TopKHeap::add(const ScoredItem& c)
{
    if (m_heap.size() < m_limit) {
        m_heap.push_back(c);
        if (m_heap.size() == m_limit && m_limit > 1)
            for (std::size_t start = m_limit / 2; start-- > 0;)
                siftDown(start);
        return;
    }
    m_heap.front() = c;
    siftDown(0);
}

std::vector<ScoredItem> TopKHeap::sorted()
{
    sortInSlices(m_heap, m_order);
    return m_heap;
}

// Ties of name and rank are settled by comparing paths, which is slow enough
// that ten thousand results took milliseconds on one thread: the slices are
// sorted on the kept threads and merged pairwise. The order is total, so the
// result is the one sort's.
void sortInSlices(std::vector<ScoredItem>& items, const ResultOrder& order)
{
    constexpr std::size_t kPerSlice = 1024;
    const auto slices = static_cast<unsigned>(std::clamp<std::size_t>(items.size() / kPerSlice, 1, spareThreads()));
    const auto bound = [&](unsigned t) {
        return static_cast<std::ptrdiff_t>(items.size() * std::min(t, slices) / slices);
    };
    inPooledSlices(items.size(), slices, [&](unsigned, std::size_t begin, std::size_t end) {
        std::sort(items.begin() + std::ptrdiff_t(begin), items.begin() + std::ptrdiff_t(end), order);
    });
    for (unsigned width = 1; width < slices; width *= 2) {
        const unsigned merges = (slices + 2 * width - 1) / (2 * width);
        onSliceWorkers(merges, [&](unsigned m) {
            const unsigned first = 2 * width * m;
            if (first + width < slices)
                std::inplace_merge(items.begin() + bound(first), items.begin() + bound(first + width),
                                   items.begin() + bound(first + 2 * width), order);
        });
    }
}

} // namespace pallix
