#pragma once
// PostingIndex: an inverted index from short text keys to ascending item
// positions, built once and then only read.
//
// Positions are split into chunks of 65,536 by their upper 16 bits; a chunk is
// a sorted array of the lower 16 bits (2 bytes a position) or, once it holds
// more than 4,096 positions, a 8 KiB bitmap. Keys are interned in one byte
// buffer with an open-addressing table. A dense key ("e") thus costs about a
// bit per item and a rare one two bytes per position, where plain 32-bit lists
// cost four.
//
// The arrays and bitmaps lie in pages of 512 KiB that never move: a build
// copies nothing it assembled and keeps no room for as much again, as a
// doubling buffer does; only the last page is cut to size when it finishes.
//
// Built from blocks: a BlockBuilder collects the keys of the positions of one
// chunk (block b holds positions b * 65,536 ... b * 65,536 + 65,535); blocks are
// built on any threads and handed to an Assembler in ascending block order.
// A finished index is immutable and may be read from several threads.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pallix {

// Interns byte strings: equal keys get the same id, ids count up from 0.
class KeyInterner {
public:
    // The id of `key`, added when new.
    std::uint32_t intern(std::string_view key);
    std::optional<std::uint32_t> find(std::string_view key) const;
    std::size_t size() const { return m_offsets.size() - 1; }
    std::string_view key(std::uint32_t id) const;
    std::size_t memoryUsage() const;

private:
    void grow();
    std::string m_bytes;
    std::vector<std::uint32_t> m_offsets{0};  // key i is m_bytes[m_offsets[i], m_offsets[i + 1])
    std::vector<std::uint32_t> m_slots;       // id + 1, 0 = empty
};

class PostingIndex {
    // Values in pages of 2^PageBits that never move; a run handed out lies in
    // one page, and is found by the index of its first value.
    template <class T, std::uint32_t PageBits>
    class Pages {
    public:
        static constexpr std::uint32_t kPageValues = 1u << PageBits;
        // Room for `count` (at most a page) zeroed values in a row.
        std::uint32_t allocate(std::uint32_t count)
        {
            if (m_pages.empty() || m_used + count > kPageValues) {
                m_pages.push_back(std::make_unique<T[]>(kPageValues));
                m_lastCapacity = kPageValues;
                m_used = 0;
            }
            const auto first = static_cast<std::uint32_t>((m_pages.size() - 1) << PageBits) + m_used;
            m_used += count;
            return first;
        }
        T* at(std::uint32_t index) { return m_pages[index >> PageBits].get() + (index & (kPageValues - 1)); }
        const T* at(std::uint32_t index) const
        {
            return m_pages[index >> PageBits].get() + (index & (kPageValues - 1));
        }
        // Gives back what the last page does not use; nothing is allocated after.
        void trim()
        {
            if (m_pages.empty() || m_used == m_lastCapacity)
                return;
            auto cut = std::make_unique<T[]>(m_used);
            std::copy(m_pages.back().get(), m_pages.back().get() + m_used, cut.get());
            m_pages.back() = std::move(cut);
            m_lastCapacity = m_used;
            m_pages.shrink_to_fit();
        }
        std::size_t memoryUsage() const
        {
            if (m_pages.empty())
                return 0;
            return ((m_pages.size() - 1) * kPageValues + m_lastCapacity) * sizeof(T) +
                   m_pages.capacity() * sizeof(m_pages[0]);
        }

    private:
        std::vector<std::unique_ptr<T[]>> m_pages;
        std::uint32_t m_used = 0;          // values handed out of the last page
        std::uint32_t m_lastCapacity = 0;  // of the last page
    };

public:
    static constexpr std::uint32_t kChunkBits = 16;
    static constexpr std::uint32_t kArrayMax = 4096;  // above: a bitmap

private:
    using ArrayPages = Pages<std::uint16_t, 18>;  // positions' low halves, a chunk's in a row
    using BitmapPages = Pages<std::uint64_t, 16>;  // 64 bitmaps of a chunk each

public:

    // One key's positions: a view valid while the index lives.
    class Postings {
    public:
        std::size_t size() const;
        // Appends the positions in ascending order.
        void appendTo(std::vector<std::uint32_t>& out) const;
        // The parts of the list (2^kChunkBits positions each) holding some
        // of the positions, by their high bits, ascending.
        std::vector<std::uint32_t> parts() const;
        // Appends the positions in part `high`, ascending.
        void appendPart(std::uint32_t high, std::vector<std::uint32_t>& out) const;
        // Keeps, in place and in order, the positions of `running` (ascending) found here.
        void retainPresent(std::vector<std::uint32_t>& running) const;

    private:
        friend class PostingIndex;
        Postings(const PostingIndex* index, std::uint32_t key) : m_index(index), m_key(key) {}
        void appendChunk(std::uint32_t chunk, std::vector<std::uint32_t>& out) const;
        const PostingIndex* m_index;
        std::uint32_t m_key;
    };

    class BlockBuilder {
    public:
        explicit BlockBuilder(std::uint32_t block) : m_block(block) {}
        // Positions must arrive in ascending order; a repeat of the last one is ignored.
        void add(std::string_view key, std::uint32_t position);
        // Groups the positions by key; done by the thread that filled the
        // block, so the assembler only copies. Called once, after the last add().
        void seal();
        std::uint32_t block() const { return m_block; }

    private:
        friend class PostingIndex;
        std::uint32_t m_block;
        KeyInterner m_keys;
        // One list of (key, position) in arrival order: a vector per key cost
        // an allocation for each of the block's tens of thousands of keys.
        // Kept in segments of up to kSegmentEntries that are never moved: a
        // list that doubles holds up to twice its entries, and three times
        // while it moves, in every block being built.
        static constexpr std::size_t kSegmentEntries = std::size_t(1) << 16;
        struct EntrySegment {
            std::vector<std::uint32_t> keys;
            std::vector<std::uint16_t> lows;
        };
        std::vector<EntrySegment> m_entries;
        std::vector<std::uint32_t> m_lastLowPlusOne;  // per key: its last position + 1, 0 = none
        // Keys of one or two bytes (ASCII characters and their pairs, most keys
        // by far) find their id by indexing, not hashing: id + 1, 0 = none.
        std::vector<std::uint32_t> m_shortKeyIds;
        // After seal(): key k's positions are m_sortedLows[m_keyStart[k] ... m_keyStart[k + 1]).
        std::vector<std::uint32_t> m_keyStart;
        std::vector<std::uint16_t> m_sortedLows;
    };

    class Assembler {
    public:
        // Blocks in ascending block order; each is consumed.
        void addBlock(BlockBuilder&& block);
        PostingIndex finish();

    private:
        struct PendingChunk {
            std::uint32_t key;
            std::uint16_t high;
            std::uint16_t countMinusOne;
            std::uint32_t data;
        };
        // In segments, given back one by one as finish() sorts them by key.
        static constexpr std::size_t kSegmentChunks = std::size_t(1) << 16;
        KeyInterner m_keys;
        std::vector<std::vector<PendingChunk>> m_pending;
        ArrayPages m_arrays;
        BitmapPages m_bitmaps;
    };

    PostingIndex() = default;

    std::optional<Postings> find(std::string_view key) const;
    std::size_t keyCount() const { return m_keys.size(); }
    bool empty() const { return keyCount() == 0; }
    std::size_t memoryUsage() const;

private:
    struct Chunk {
        std::uint16_t high;
        std::uint16_t countMinusOne;
        std::uint32_t data;  // the first value in m_arrays, or the first word in m_bitmaps
        std::uint32_t count() const { return std::uint32_t(countMinusOne) + 1; }
        bool isBitmap() const { return count() > kArrayMax; }
    };

    KeyInterner m_keys;
    std::vector<std::uint32_t> m_chunkStart{0};  // key i owns chunks [m_chunkStart[i], m_chunkStart[i + 1])
    std::vector<std::uint32_t> m_sizes;          // positions per key
    std::vector<Chunk> m_chunks;
    ArrayPages m_arrays;
    BitmapPages m_bitmaps;
};

} // namespace pallix
