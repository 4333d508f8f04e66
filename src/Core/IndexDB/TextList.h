#pragma once
// Texts 0, 1, 2, ... in a few large buffers: a copy of many short texts that
// costs an allocation per megabyte, not one per text. For work done off the
// store's lock on a copy of the cache.
//
// The bytes go into fixed chunks rather than one growing buffer: a buffer
// that doubles holds up to twice the texts, and three times while it moves.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace pallix {

class TextList {
public:
    // `bytes` sizes the first chunk when it is smaller than a whole one.
    void reserve(std::size_t texts, std::size_t bytes)
    {
        m_ends.reserve(texts);
        m_firstChunkBytes = std::max<std::size_t>(bytes, 1);
    }
    void append(std::string_view text)
    {
        if (m_chunks.empty() || m_used + text.size() > m_capacity)
            addChunk(text.size());
        if (!text.empty())
            std::memcpy(m_chunks.back().get() + m_used, text.data(), text.size());
        m_used += text.size();
        m_ends.push_back({static_cast<std::uint32_t>(m_chunks.size() - 1), static_cast<std::uint32_t>(m_used)});
    }
    std::size_t size() const { return m_ends.size(); }
    std::string_view at(std::size_t i) const
    {
        const End end = m_ends[i];
        const std::uint32_t begin = i > 0 && m_ends[i - 1].chunk == end.chunk ? m_ends[i - 1].offset : 0;
        return {m_chunks[end.chunk].get() + begin, end.offset - begin};
    }

private:
    static constexpr std::size_t kChunkBytes = std::size_t(1) << 20;
    struct End {
        std::uint32_t chunk;
        std::uint32_t offset;  // one past the text's last byte in its chunk
    };
    void addChunk(std::size_t atLeast)
    {
        m_capacity = std::max(atLeast, m_chunks.empty() ? std::min(m_firstChunkBytes, kChunkBytes) : kChunkBytes);
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(m_capacity));
        m_used = 0;
    }

    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::vector<End> m_ends;
    std::size_t m_used = 0;      // bytes of the last chunk in use
    std::size_t m_capacity = 0;  // of the last chunk
    std::size_t m_firstChunkBytes = kChunkBytes;
};

} // namespace pallix
