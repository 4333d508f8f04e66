#pragma once
// Internal to ItemTable: the item flags, the arena the runs live in and the
// helpers its two source files share.

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "Core/IndexDB/ItemTable.h"

namespace pallix::itemtable {

enum Flag : std::uint16_t {
    Folder = 1 << 0,
    Side = 1 << 1,
    SearchNameStored = 1 << 2,
    StemStored = 1 << 3,
    NormalizedStored = 1 << 4,
    NormalizedStemStored = 1 << 5,
    ExtensionStored = 1 << 6,
};

constexpr std::size_t kMaxField = std::numeric_limits<std::uint16_t>::max();
constexpr unsigned kBlockBits = 22;  // 4 MiB arena blocks
constexpr std::size_t kBlockSize = std::size_t(1) << kBlockBits;

inline bool startsWith(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }
inline bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

inline std::uint64_t hashPath(std::string_view path) { return PathHash::finish(PathHash::of(path)); }

// The path of an item in `folder` named `name`: the root folder takes no second "/".
inline std::string_view separatorAfter(std::string_view folder) { return folder == "/" ? std::string_view() : "/"; }

// The path of a stored item is its folder joined with its name; anything else is kept on the side.
inline bool composes(const IndexedItem& item)
{
    const std::string_view path = item.path(), parent = item.parentPath(), name = item.name();
    if (name.empty() || name.find('/') != std::string_view::npos)
        return false;
    const std::string_view separator = separatorAfter(parent);
    return path.size() == parent.size() + separator.size() + name.size() && startsWith(path, parent) &&
           path.substr(parent.size(), separator.size()) == separator && endsWith(path, name);
}


} // namespace pallix::itemtable

namespace pallix {

// Blocks that never move: a run stays put while the table is unchanged, and
// growing never copies what is there. Blocks start small (a table of a few
// items should not hold megabytes) and grow to 4 MiB; an offset is the block
// number above the low 22 bits.
class ItemTable::Arena {
public:
    std::uint64_t allocate(std::size_t n)
    {
        assert(n <= itemtable::kBlockSize);
        if (m_blocks.empty() || m_used + n > m_blocks.back().capacity) {
            const std::size_t capacity = std::clamp<std::size_t>(m_total / 4, 64 * 1024, itemtable::kBlockSize);
            m_blocks.push_back({std::make_unique_for_overwrite<char[]>(std::max(capacity, n)), std::max(capacity, n)});
            m_used = 0;
            m_held += m_blocks.back().capacity;
        }
        const std::uint64_t offset = (std::uint64_t(m_blocks.size() - 1) << itemtable::kBlockBits) | m_used;
        m_used += n;
        m_total += n;
        return offset;
    }
    char* at(std::uint64_t offset) const
    {
        return m_blocks[offset >> itemtable::kBlockBits].bytes.get() + (offset & (itemtable::kBlockSize - 1));
    }
    std::size_t usedBytes() const { return m_total; }
    std::size_t heldBytes() const { return m_held; }
    // Gives back the unused end of the last block (a copy of its used part).
    void shrinkToFit()
    {
        if (m_blocks.empty() || m_used == m_blocks.back().capacity)
            return;
        auto exact = std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(m_used, 1));
        std::memcpy(exact.get(), m_blocks.back().bytes.get(), m_used);
        m_held -= m_blocks.back().capacity - std::max<std::size_t>(m_used, 1);
        m_blocks.back() = {std::move(exact), std::max<std::size_t>(m_used, 1)};
    }
    // Takes over the blocks of `other` after its own; returns the block number
    // the first of them gets.
    std::size_t adopt(Arena&& other)
    {
        const std::size_t base = m_blocks.size();
        if (other.m_blocks.empty())
            return base;
        for (Block& b : other.m_blocks)
            m_blocks.push_back(std::move(b));
        m_used = other.m_used;
        m_total += other.m_total;
        m_held += other.m_held;
        other = Arena();
        return base;
    }

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity;
    };
    std::vector<Block> m_blocks;
    std::size_t m_used = 0;
    std::size_t m_total = 0;
    std::size_t m_held = 0;
};

} // namespace pallix
