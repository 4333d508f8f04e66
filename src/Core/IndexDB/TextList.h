#pragma once
// Texts 0, 1, 2, ... in one buffer: a copy of many short texts that costs two
// allocations, not one per text. For work done off the store's lock on a copy
// of the cache.

#include <string>
#include <string_view>
#include <vector>

namespace pallix {

class TextList {
public:
    void reserve(std::size_t texts, std::size_t bytes)
    {
        m_ends.reserve(texts);
        m_bytes.reserve(bytes);
    }
    void append(std::string_view text)
    {
        m_bytes.append(text);
        m_ends.push_back(m_bytes.size());
    }
    std::size_t size() const { return m_ends.size(); }
    std::string_view at(std::size_t i) const
    {
        const std::size_t begin = i == 0 ? 0 : m_ends[i - 1];
        return {m_bytes.data() + begin, m_ends[i] - begin};
    }

private:
    std::string m_bytes;
    std::vector<std::size_t> m_ends;
};

} // namespace pallix
