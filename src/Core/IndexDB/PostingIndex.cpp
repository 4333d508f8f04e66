#include "Core/IndexDB/PostingIndex.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <functional>

namespace pallix {

namespace {

constexpr std::uint32_t kChunkSize = 1u << PostingIndex::kChunkBits;
constexpr std::size_t kBitmapWords = kChunkSize / 64;

// Keys are a few bytes: mix them eight at a time, with the length, rather than
// run the general-purpose string hash.
std::size_t hashKey(std::string_view key)
{
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ (key.size() * 0xC2B2AE3D27D4EB4Full);
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, key.data() + i, 8);
        h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    if (i < key.size()) {
        std::uint64_t w = 0;
        std::memcpy(&w, key.data() + i, key.size() - i);
        h = (h ^ w) * 0x94D049BB133111EBull;
        h ^= h >> 29;
    }
    h *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
}

} // namespace

std::uint32_t KeyInterner::intern(std::string_view key)
{
    if ((size() + 1) * 2 > m_slots.size())
        grow();
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hashKey(key) & mask;; i = (i + 1) & mask) {
        std::uint32_t& slot = m_slots[i];
        if (slot == 0) {
            const auto id = static_cast<std::uint32_t>(size());
            m_bytes.append(key);
            m_offsets.push_back(static_cast<std::uint32_t>(m_bytes.size()));
            slot = id + 1;
            return id;
        }
        if (this->key(slot - 1) == key)
            return slot - 1;
    }
}

std::optional<std::uint32_t> KeyInterner::find(std::string_view key) const
{
    if (m_slots.empty())
        return std::nullopt;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hashKey(key) & mask;; i = (i + 1) & mask) {
        const std::uint32_t slot = m_slots[i];
        if (slot == 0)
            return std::nullopt;
        if (this->key(slot - 1) == key)
            return slot - 1;
    }
}

std::string_view KeyInterner::key(std::uint32_t id) const
{
    return std::string_view(m_bytes).substr(m_offsets[id], m_offsets[id + 1] - m_offsets[id]);
}

void KeyInterner::grow()
{
    const std::size_t capacity = std::max<std::size_t>(64, m_slots.size() * 2);
    m_slots.assign(capacity, 0);
    const std::size_t mask = capacity - 1;
    for (std::uint32_t id = 0; id < size(); ++id) {
        std::size_t i = hashKey(key(id)) & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = id + 1;
    }
}

std::size_t KeyInterner::memoryUsage() const
{
    return m_bytes.capacity() + m_offsets.capacity() * sizeof(std::uint32_t) +
           m_slots.capacity() * sizeof(std::uint32_t);
}

void PostingIndex::BlockBuilder::add(std::string_view key, std::uint32_t position)
{
    assert(position >> kChunkBits == m_block);
    std::uint32_t id;
    if (key.size() <= 2 && !key.empty()) {
        if (m_shortKeyIds.empty())
            m_shortKeyIds.assign(256 + 65536, 0);
        const auto b0 = static_cast<unsigned char>(key[0]);
        const std::size_t index = key.size() == 1 ? b0 : 256 + (std::size_t(b0) << 8 | static_cast<unsigned char>(key[1]));
        std::uint32_t& known = m_shortKeyIds[index];
        if (known == 0)
            known = m_keys.intern(key) + 1;
        id = known - 1;
    } else {
        id = m_keys.intern(key);
    }
    if (id == m_lastLowPlusOne.size())
        m_lastLowPlusOne.push_back(0);
    const auto low = static_cast<std::uint16_t>(position & (kChunkSize - 1));
    // An item gives the same key from both of its forms; positions ascend, so a
    // repeat can only be the key's last entry.
    if (m_lastLowPlusOne[id] == std::uint32_t(low) + 1)
        return;
    assert(m_lastLowPlusOne[id] <= low);
    m_lastLowPlusOne[id] = std::uint32_t(low) + 1;
    if (m_entries.empty() || m_entries.back().keys.size() == m_entries.back().keys.capacity()) {
        // Small at first, for the blocks of a small table.
        const std::size_t entries =
            m_entries.empty() ? 1024 : std::min(kSegmentEntries, 2 * m_entries.back().keys.capacity());
        EntrySegment& segment = m_entries.emplace_back();
        segment.keys.reserve(entries);
        segment.lows.reserve(entries);
    }
    m_entries.back().keys.push_back(id);
    m_entries.back().lows.push_back(low);
}

void PostingIndex::BlockBuilder::seal()
{
    // Counting sort by key; stable, so each key's positions stay ascending.
    const std::size_t keys = m_keys.size();
    m_keyStart.assign(keys + 1, 0);
    std::size_t entries = 0;
    for (const EntrySegment& segment : m_entries) {
        for (std::uint32_t k : segment.keys)
            ++m_keyStart[k + 1];
        entries += segment.keys.size();
    }
    for (std::size_t k = 0; k < keys; ++k)
        m_keyStart[k + 1] += m_keyStart[k];
    m_sortedLows.resize(entries);
    std::vector<std::uint32_t> fill(m_keyStart.begin(), m_keyStart.end() - 1);
    for (EntrySegment& segment : m_entries) {
        for (std::size_t e = 0; e < segment.keys.size(); ++e)
            m_sortedLows[fill[segment.keys[e]]++] = segment.lows[e];
        segment = EntrySegment();
    }
    std::vector<EntrySegment>().swap(m_entries);
    std::vector<std::uint32_t>().swap(m_lastLowPlusOne);
    std::vector<std::uint32_t>().swap(m_shortKeyIds);
}

void PostingIndex::Assembler::addBlock(BlockBuilder&& block)
{
    assert(m_pending.empty() || block.m_block >= m_pending.back().back().high);
    if (block.m_keyStart.empty())
        block.seal();
    const std::size_t keys = block.m_keys.size();
    const std::vector<std::uint32_t>& start = block.m_keyStart;
    const std::vector<std::uint16_t>& sorted = block.m_sortedLows;

    for (std::uint32_t local = 0; local < keys; ++local) {
        const std::uint32_t count = start[local + 1] - start[local];
        if (count == 0)
            continue;
        const std::uint16_t* lows = sorted.data() + start[local];
        PendingChunk chunk;
        chunk.key = m_keys.intern(block.m_keys.key(local));
        chunk.high = static_cast<std::uint16_t>(block.m_block);
        chunk.countMinusOne = static_cast<std::uint16_t>(count - 1);
        if (count > kArrayMax) {
            chunk.data = m_bitmaps.allocate(static_cast<std::uint32_t>(kBitmapWords));
            std::uint64_t* words = m_bitmaps.at(chunk.data);
            for (std::uint32_t i = 0; i < count; ++i)
                words[lows[i] >> 6] |= std::uint64_t(1) << (lows[i] & 63);
        } else {
            chunk.data = m_arrays.allocate(count);
            std::copy(lows, lows + count, m_arrays.at(chunk.data));
        }
        if (m_pending.empty() || m_pending.back().size() == kSegmentChunks) {
            // The first grows as a small table needs; the others are whole at once.
            m_pending.emplace_back();
            if (m_pending.size() > 1)
                m_pending.back().reserve(kSegmentChunks);
        }
        m_pending.back().push_back(chunk);
    }
}

PostingIndex PostingIndex::Assembler::finish()
{
    PostingIndex index;
    const std::size_t keys = m_keys.size();
    // Counting sort by key; chunks of one key arrived in ascending block order.
    index.m_chunkStart.assign(keys + 1, 0);
    for (const std::vector<PendingChunk>& segment : m_pending)
        for (const PendingChunk& c : segment)
            ++index.m_chunkStart[c.key + 1];
    for (std::size_t k = 0; k < keys; ++k)
        index.m_chunkStart[k + 1] += index.m_chunkStart[k];
    std::vector<std::uint32_t> fill(index.m_chunkStart.begin(), index.m_chunkStart.end() - 1);
    index.m_chunks.resize(index.m_chunkStart.back());
    index.m_sizes.assign(keys, 0);
    for (std::vector<PendingChunk>& segment : m_pending) {
        for (const PendingChunk& c : segment) {
            index.m_chunks[fill[c.key]++] = Chunk{c.high, c.countMinusOne, c.data};
            index.m_sizes[c.key] += std::uint32_t(c.countMinusOne) + 1;
        }
        std::vector<PendingChunk>().swap(segment);
    }
    std::vector<std::vector<PendingChunk>>().swap(m_pending);
    m_arrays.trim();
    m_bitmaps.trim();
    index.m_keys = std::move(m_keys);
    index.m_arrays = std::move(m_arrays);
    index.m_bitmaps = std::move(m_bitmaps);
    return index;
}

std::optional<PostingIndex::Postings> PostingIndex::find(std::string_view key) const
{
    std::optional<std::uint32_t> id = m_keys.find(key);
    if (!id)
        return std::nullopt;
    return Postings(this, *id);
}

std::size_t PostingIndex::Postings::size() const { return m_index->m_sizes[m_key]; }

void PostingIndex::Postings::appendChunk(std::uint32_t c, std::vector<std::uint32_t>& out) const
{
    const PostingIndex& ix = *m_index;
    const Chunk& chunk = ix.m_chunks[c];
    const std::uint32_t base = std::uint32_t(chunk.high) << kChunkBits;
    if (chunk.isBitmap()) {
        const std::uint64_t* words = ix.m_bitmaps.at(chunk.data);
        for (std::uint32_t w = 0; w < kBitmapWords; ++w)
            for (std::uint64_t bits = words[w]; bits != 0; bits &= bits - 1)
                out.push_back(base | (w << 6) | static_cast<std::uint32_t>(std::countr_zero(bits)));
    } else {
        const std::uint16_t* lows = ix.m_arrays.at(chunk.data);
        for (std::uint32_t i = 0; i < chunk.count(); ++i)
            out.push_back(base | lows[i]);
    }
}

void PostingIndex::Postings::appendTo(std::vector<std::uint32_t>& out) const
{
    const PostingIndex& ix = *m_index;
    out.reserve(out.size() + size());
    for (std::uint32_t c = ix.m_chunkStart[m_key]; c < ix.m_chunkStart[m_key + 1]; ++c)
        appendChunk(c, out);
}

std::vector<std::uint32_t> PostingIndex::Postings::parts() const
{
    const PostingIndex& ix = *m_index;
    std::vector<std::uint32_t> highs;
    for (std::uint32_t c = ix.m_chunkStart[m_key]; c < ix.m_chunkStart[m_key + 1]; ++c)
        highs.push_back(ix.m_chunks[c].high);
    return highs;
}

void PostingIndex::Postings::appendPart(std::uint32_t high, std::vector<std::uint32_t>& out) const
{
    const PostingIndex& ix = *m_index;
    for (std::uint32_t c = ix.m_chunkStart[m_key]; c < ix.m_chunkStart[m_key + 1]; ++c)
        if (ix.m_chunks[c].high == high)
            appendChunk(c, out);
}

namespace {

// The first of `lows[from, count)` not below `low`: galloping from `from`,
// as the lows looked for ascend and mostly lie a few places apart.
std::size_t gallopTo(const std::uint16_t* lows, std::size_t from, std::size_t count, std::uint16_t low)
{
    std::size_t step = 1, below = from;
    while (from < count && lows[from] < low) {
        below = from + 1;
        from += step;
        step *= 2;
    }
    return static_cast<std::size_t>(std::lower_bound(lows + below, lows + std::min(from, count), low) - lows);
}

} // namespace

void PostingIndex::Postings::retainPresent(std::vector<std::uint32_t>& running) const
{
    const PostingIndex& ix = *m_index;
    std::uint32_t c = ix.m_chunkStart[m_key];
    const std::uint32_t end = ix.m_chunkStart[m_key + 1];
    std::size_t kept = 0;
    // A part of the running positions (one high half) at a time, against the chunk of that part.
    for (std::size_t i = 0; i < running.size() && c < end;) {
        const std::uint32_t high = running[i] >> kChunkBits;
        std::size_t partEnd = i + 1;
        while (partEnd < running.size() && running[partEnd] >> kChunkBits == high)
            ++partEnd;
        while (c < end && ix.m_chunks[c].high < high)
            ++c;
        if (c < end && ix.m_chunks[c].high == high) {
            const Chunk& chunk = ix.m_chunks[c];
            if (chunk.isBitmap()) {
                const std::uint64_t* words = ix.m_bitmaps.at(chunk.data);
                for (; i < partEnd; ++i) {
                    const std::uint32_t low = running[i] & (kChunkSize - 1);
                    running[kept] = running[i];
                    kept += (words[low >> 6] >> (low & 63)) & 1;
                }
            } else {
                const std::uint16_t* lows = ix.m_arrays.at(chunk.data);
                std::size_t at = 0;
                for (; i < partEnd && at < chunk.count(); ++i) {
                    const auto low = static_cast<std::uint16_t>(running[i] & (kChunkSize - 1));
                    at = gallopTo(lows, at, chunk.count(), low);
                    if (at < chunk.count() && lows[at] == low)
                        running[kept++] = running[i];
                }
            }
        }
        i = partEnd;
    }
    running.resize(kept);
}

std::size_t PostingIndex::memoryUsage() const
{
    return m_keys.memoryUsage() + m_chunkStart.capacity() * sizeof(std::uint32_t) +
           m_sizes.capacity() * sizeof(std::uint32_t) + m_chunks.capacity() * sizeof(Chunk) +
           m_arrays.memoryUsage() + m_bitmaps.memoryUsage();
}

} // namespace pallix
