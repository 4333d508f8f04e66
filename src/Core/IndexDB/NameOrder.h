#pragma once
// Collation ordinals of names: numbers that order the names as the result
// order compares them (zh_CN collation ignoring case), equal for names that
// compare equal. A search that sorts by name compares two numbers instead of
// two texts. Worked out off the store's lock on a copy of the names.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pallix {

// The names of positions 0, 1, 2, ... in one buffer.
class NameList {
public:
    void reserve(std::size_t names, std::size_t bytes);
    void append(std::string_view name);
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

// One ordinal per name, from 1; nothing when `keepGoing` (polled now and then)
// says no. Keys are made on up to `threads` threads.
std::optional<std::vector<std::uint32_t>> nameOrdersOf(const NameList& names, unsigned threads,
                                                       const std::function<bool()>& keepGoing);

} // namespace pallix
