#include "Core/IndexDB/LiveSearchIndexes.h"

#include <algorithm>
#include <iterator>

namespace pallix {

namespace {

// The original numbers of the `dropped` positions (ascending, numbered as the
// list is now) of a list from which the ascending `gone` numbers were taken.
std::vector<std::uint32_t> originalNumbers(const std::vector<std::uint32_t>& dropped,
                                           const std::vector<std::uint32_t>& gone)
{
    std::vector<std::uint32_t> out;
    out.reserve(dropped.size());
    std::size_t before = 0;  // numbers gone below the current one
    for (std::uint32_t p : dropped) {
        while (before < gone.size() && gone[before] <= p + before)
            ++before;
        out.push_back(static_cast<std::uint32_t>(p + before));
    }
    return out;
}

// Keeps the original numbers not in `gone` and renumbers them as the list is
// now, plus `offset`; both ascending.
void renumberLive(std::vector<std::uint32_t>& numbers, const std::vector<std::uint32_t>& gone, std::uint32_t offset)
{
    std::size_t before = 0, kept = 0;
    for (std::uint32_t n : numbers) {
        while (before < gone.size() && gone[before] < n)
            ++before;
        if (before < gone.size() && gone[before] == n)
            continue;
        numbers[kept++] = static_cast<std::uint32_t>(n - before + offset);
    }
    numbers.resize(kept);
}

void mergeInto(std::vector<std::uint32_t>& sorted, const std::vector<std::uint32_t>& more)
{
    std::vector<std::uint32_t> merged;
    merged.reserve(sorted.size() + more.size());
    std::merge(sorted.begin(), sorted.end(), more.begin(), more.end(), std::back_inserter(merged));
    sorted = std::move(merged);
}

} // namespace

void LiveSearchIndexes::startOver(std::uint32_t baseCount)
{
    clear();
    m_baseCount = baseCount;
}

void LiveSearchIndexes::installBase(SearchIndexes base)
{
    m_base = std::move(base);
    m_hasBase = true;
}

void LiveSearchIndexes::clear()
{
    m_base = SearchIndexes();
    m_hasBase = false;
    m_baseCount = 0;
    m_removedBase = {};
    m_tailCount = 0;
    m_removedTail = {};
    for (TailPostings& t : m_tail)
        t = {};
}

void LiveSearchIndexes::appendItem(std::string_view name, std::string_view normalizedName,
                                   std::string_view normalizedStem)
{
    const std::uint32_t ordinal = m_tailCount++;
    forEachItemKey(name, normalizedName, normalizedStem, [&](IndexKind kind, std::string_view key) {
        std::vector<std::uint32_t>& list = m_tail[static_cast<std::size_t>(kind)][std::string(key)];
        if (list.empty() || list.back() != ordinal)
            list.push_back(ordinal);
    });
}

void LiveSearchIndexes::removePositions(const std::vector<std::uint32_t>& removed)
{
    const auto liveBase = static_cast<std::uint32_t>(m_baseCount - m_removedBase.size());
    const auto split = std::lower_bound(removed.begin(), removed.end(), liveBase);
    const std::vector<std::uint32_t> fromBase(removed.begin(), split);
    std::vector<std::uint32_t> fromTail;
    fromTail.reserve(static_cast<std::size_t>(removed.end() - split));
    for (auto it = split; it != removed.end(); ++it)
        fromTail.push_back(*it - liveBase);
    mergeInto(m_removedBase, originalNumbers(fromBase, m_removedBase));
    mergeInto(m_removedTail, originalNumbers(fromTail, m_removedTail));
}

std::optional<std::uint32_t> LiveSearchIndexes::livePosition(std::uint32_t basePosition) const
{
    const auto gone = std::lower_bound(m_removedBase.begin(), m_removedBase.end(), basePosition);
    if (gone != m_removedBase.end() && *gone == basePosition)
        return std::nullopt;
    return basePosition - static_cast<std::uint32_t>(gone - m_removedBase.begin());
}

const PostingIndex& LiveSearchIndexes::baseIndex(IndexKind kind) const
{
    switch (kind) {
    case IndexKind::Characters: return m_base.characters;
    case IndexKind::Bigrams: return m_base.bigrams;
    case IndexKind::Prefixes: break;
    }
    return m_base.prefixes;
}

bool LiveSearchIndexes::hasLive(IndexKind kind, std::string_view key) const
{
    if (const auto found = tail(kind).find(std::string(key)); found != tail(kind).end()) {
        // More ordinals than went at all, or one that did not go.
        if (found->second.size() > m_removedTail.size())
            return true;
        if (std::any_of(found->second.begin(), found->second.end(), [&](std::uint32_t t) {
                return !std::binary_search(m_removedTail.begin(), m_removedTail.end(), t);
            }))
            return true;
    }
    const std::optional<PostingIndex::Postings> group = baseIndex(kind).find(key);
    if (!group || group->size() == 0)
        return false;
    if (group->size() > m_removedBase.size())
        return true;
    std::vector<std::uint32_t> positions;
    group->appendTo(positions);
    renumberLive(positions, m_removedBase, 0);
    return !positions.empty();
}

std::vector<PostingIndex::Postings> LiveSearchIndexes::baseGroups(const std::vector<Key>& keys) const
{
    std::vector<PostingIndex::Postings> groups;
    for (const Key& key : keys) {
        std::optional<PostingIndex::Postings> group = baseIndex(key.first).find(key.second);
        if (!group || group->size() == 0)
            return {};
        groups.push_back(*group);
    }
    // Smallest first: the running set only shrinks, and probing is cheap.
    std::stable_sort(groups.begin(), groups.end(),
                     [](const PostingIndex::Postings& a, const PostingIndex::Postings& b) { return a.size() < b.size(); });
    return groups;
}

std::vector<std::uint32_t> LiveSearchIndexes::basePositionsWithAll(const std::vector<Key>& keys) const
{
    const std::vector<PostingIndex::Postings> groups = baseGroups(keys);
    if (groups.empty())
        return {};
    std::vector<std::uint32_t> positions;
    groups.front().appendTo(positions);
    for (std::size_t g = 1; g < groups.size() && !positions.empty(); ++g)
        groups[g].retainPresent(positions);
    renumberLive(positions, m_removedBase, 0);
    return positions;
}

std::vector<std::uint32_t> LiveSearchIndexes::tailPositionsWithAll(const std::vector<Key>& keys) const
{
    std::vector<const std::vector<std::uint32_t>*> lists;
    for (const Key& key : keys) {
        const auto found = tail(key.first).find(key.second);
        if (found == tail(key.first).end())
            return {};
        lists.push_back(&found->second);
    }
    std::stable_sort(lists.begin(), lists.end(), [](const auto* a, const auto* b) { return a->size() < b->size(); });
    std::vector<std::uint32_t> ordinals = *lists.front();
    for (std::size_t l = 1; l < lists.size() && !ordinals.empty(); ++l) {
        std::vector<std::uint32_t> both;
        std::set_intersection(ordinals.begin(), ordinals.end(), lists[l]->begin(), lists[l]->end(),
                              std::back_inserter(both));
        ordinals = std::move(both);
    }
    renumberLive(ordinals, m_removedTail, static_cast<std::uint32_t>(m_baseCount - m_removedBase.size()));
    return ordinals;
}

std::vector<std::uint32_t> LiveSearchIndexes::positionsWithAll(const std::vector<Key>& keys) const
{
    if (keys.empty())
        return {};
    std::vector<std::uint32_t> positions = basePositionsWithAll(keys);
    // The appended items all come after the base ones.
    const std::vector<std::uint32_t> appended = tailPositionsWithAll(keys);
    positions.insert(positions.end(), appended.begin(), appended.end());
    return positions;
}

void LiveSearchIndexes::forEachPartWithAll(const std::vector<Key>& keys, std::uint32_t from,
                                           const std::function<bool(const std::vector<std::uint32_t>&)>& visit) const
{
    if (keys.empty())
        return;
    const std::vector<PostingIndex::Postings> groups = baseGroups(keys);
    // A base item's position now is at most its position in the base, so no
    // position from `from` on lies in an earlier part.
    const std::uint32_t firstPart = from >> PostingIndex::kChunkBits;
    for (std::uint32_t part : groups.empty() ? std::vector<std::uint32_t>() : groups.front().parts()) {
        if (part < firstPart)
            continue;
        std::vector<std::uint32_t> positions;
        groups.front().appendPart(part, positions);
        for (std::size_t g = 1; g < groups.size() && !positions.empty(); ++g)
            groups[g].retainPresent(positions);
        renumberLive(positions, m_removedBase, 0);
        if (!positions.empty() && !visit(positions))
            return;
    }
    // The appended items all come after the base ones.
    const std::vector<std::uint32_t> appended = tailPositionsWithAll(keys);
    if (!appended.empty())
        visit(appended);
}

std::size_t LiveSearchIndexes::memoryUsage(IndexKind kind) const
{
    std::size_t bytes = baseIndex(kind).memoryUsage();
    for (const auto& [key, list] : tail(kind))
        bytes += key.capacity() + list.capacity() * sizeof(std::uint32_t) + 64;
    if (kind == IndexKind::Characters)  // the removals once, with the first part
        bytes += (m_removedBase.capacity() + m_removedTail.capacity()) * sizeof(std::uint32_t);
    return bytes;
}

} // namespace pallix
