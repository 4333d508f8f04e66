#pragma once
// LiveSearchIndexes: the search cache's inverted indexes kept complete while
// the items change. A build covers the items the table held when it copied
// their name forms (the base); the writes since are kept beside it: which base
// items went, and small postings of the items appended. The item table only
// appends, replaces an item in place (the same path, so the same name and the
// same keys) or drops items keeping the others in order, so an item's position
// now is its base position less the base items gone before it, and the items
// appended follow the base in the order they came. Answers are those of a
// build over the table as it is now; a new build only folds the changes in
// when they have grown (changeCount()).
//
// The same record serves a build still running: started over a count with no
// base, it takes the writes made after the copy, and the finished build is
// installed into it.
//
// Not thread-safe: the owning store serialises every call.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Core/IndexDB/SearchIndexBuild.h"

namespace pallix {

class LiveSearchIndexes {
public:
    using Key = std::pair<IndexKind, std::string>;

    // Forgets everything; records the writes made after the first
    // `baseCount` items were copied for a build.
    void startOver(std::uint32_t baseCount);
    // The indexes built over those items: complete from now on.
    void installBase(SearchIndexes base);
    bool complete() const { return m_hasBase; }
    void clear();

    // The item just appended at the end of the table, by its name forms (see NameList).
    void appendItem(std::string_view name, std::string_view normalizedName, std::string_view normalizedStem);
    // The items just dropped, by their positions before the drop, ascending.
    void removePositions(const std::vector<std::uint32_t>& removed);

    // Base items gone and items appended since the copy.
    std::size_t changeCount() const { return m_removedBase.size() + m_tailCount; }
    std::uint32_t baseCount() const { return m_baseCount; }
    // Where base item `basePosition` is now; none when it went.
    std::optional<std::uint32_t> livePosition(std::uint32_t basePosition) const;

    // Some item now holds `key`.
    bool hasLive(IndexKind kind, std::string_view key) const;
    // The positions, ascending, of the items holding every one of `keys`
    // (none when `keys` is empty).
    std::vector<std::uint32_t> positionsWithAll(const std::vector<Key>& keys) const;
    // The same a part of the list at a time, ascending: `visit` gets each
    // part's positions, from the part holding position `from` on (with the
    // positions before `from` in that part), until it returns false.
    void forEachPartWithAll(const std::vector<Key>& keys, std::uint32_t from,
                            const std::function<bool(const std::vector<std::uint32_t>&)>& visit) const;

    std::size_t memoryUsage(IndexKind kind) const;

private:
    using TailPostings = std::unordered_map<std::string, std::vector<std::uint32_t>>;  // key -> ascending ordinals

    const PostingIndex& baseIndex(IndexKind kind) const;
    const TailPostings& tail(IndexKind kind) const { return m_tail[static_cast<std::size_t>(kind)]; }
    // The base's postings of every key, smallest first; none when a key has none.
    std::vector<PostingIndex::Postings> baseGroups(const std::vector<Key>& keys) const;
    std::vector<std::uint32_t> basePositionsWithAll(const std::vector<Key>& keys) const;
    std::vector<std::uint32_t> tailPositionsWithAll(const std::vector<Key>& keys) const;

    SearchIndexes m_base;
    bool m_hasBase = false;
    std::uint32_t m_baseCount = 0;
    std::vector<std::uint32_t> m_removedBase;  // base positions gone, ascending
    std::uint32_t m_tailCount = 0;             // items appended, the ones gone since included
    std::vector<std::uint32_t> m_removedTail;  // append ordinals gone, ascending
    std::array<TailPostings, 3> m_tail;
};

} // namespace pallix
