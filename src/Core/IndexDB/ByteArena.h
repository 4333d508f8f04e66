#pragma once
// ByteArena: runs of bytes in blocks that never move. A run stays put while
// its owner lives, and growing never copies what is there: a table of many
// megabytes grows without a second copy beside it. Blocks start small (a
// table of a few runs should not hold megabytes) and grow to 4 MiB; an offset
// is the block number above the low 22 bits. A run larger than a block gets a
// block of its own.
//
// Not thread-safe; reading from several threads while nothing allocates is.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace pallix {

class ByteArena {
public:
    static constexpr unsigned kBlockBits = 22;
    static constexpr std::size_t kBlockSize = std::size_t(1) << kBlockBits;

    std::uint64_t allocate(std::size_t n)
    {
        if (m_blocks.empty() || m_used + n > m_blocks.back().capacity) {
            const std::size_t capacity = std::clamp<std::size_t>(m_total / 4, 64 * 1024, kBlockSize);
            m_blocks.push_back({std::make_unique_for_overwrite<char[]>(std::max(capacity, n)), std::max(capacity, n)});
            m_used = 0;
            m_held += m_blocks.back().capacity;
        }
        const std::uint64_t offset = (std::uint64_t(m_blocks.size() - 1) << kBlockBits) | m_used;
        m_used += n;
        m_total += n;
        return offset;
    }
    char* at(std::uint64_t offset) const
    {
        return m_blocks[offset >> kBlockBits].bytes.get() + (offset & (kBlockSize - 1));
    }
    // Copies `s` to `out` in a run being filled; returns where the next goes.
    static char* put(char* out, std::string_view s)
    {
        if (!s.empty())
            std::memcpy(out, s.data(), s.size());
        return out + s.size();
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
    std::size_t adopt(ByteArena&& other)
    {
        const std::size_t base = m_blocks.size();
        if (other.m_blocks.empty())
            return base;
        for (Block& b : other.m_blocks)
            m_blocks.push_back(std::move(b));
        m_used = other.m_used;
        m_total += other.m_total;
        m_held += other.m_held;
        other = ByteArena();
        return base;
    }

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity;
    };
    std::vector<Block> m_blocks;
    std::size_t m_used = 0;  // of the last block; past kBlockSize only in a run's own block
    std::size_t m_total = 0;
    std::size_t m_held = 0;
};

} // namespace pallix
