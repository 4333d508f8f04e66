#pragma once
// Byte-level scanning of NFC text for ranking: substring search and
// user-perceived characters (grapheme clusters) with fast paths for ASCII, CJK
// ideographs and kana, falling back to the text facade's break iterator for
// anything else. Pure functions; any thread.

#include <cstddef>
#include <string_view>

namespace pallix::textscan {

// Byte offset of the first occurrence of `needle` in `haystack`, npos when none;
// 0 for an empty needle.
std::size_t find(std::string_view haystack, std::string_view needle);
inline bool contains(std::string_view haystack, std::string_view needle)
{
    return find(haystack, needle) != std::string_view::npos;
}

// Inline byte loops: the strings compared while ranking are a few dozen bytes, where
// a call into the library's memcmp costs more than the comparison.
inline bool sameBytes(const char* a, const char* b, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}
inline bool equals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && sameBytes(a.data(), b.data(), a.size());
}
inline bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && sameBytes(s.data(), prefix.data(), prefix.size());
}
inline bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && sameBytes(s.data() + (s.size() - suffix.size()), suffix.data(), suffix.size());
}
// The needle's bytes in order in the haystack's, not necessarily adjacent: a
// subsequence of characters implies it, so most texts are turned down here
// without decoding.
inline bool bytesInOrder(std::string_view needle, std::string_view haystack)
{
    const char* h = haystack.data();
    const char* const end = h + haystack.size();
    for (char c : needle) {
        while (h != end && *h != c)
            ++h;
        if (h == end)
            return false;
        ++h;
    }
    return true;
}

// Grapheme clusters of `s`; the same answer as text::graphemeCount.
std::size_t clusterCount(std::string_view s);
// Grapheme clusters in the first `bytes` bytes of `s`.
inline std::size_t clustersBefore(std::string_view s, std::size_t bytes) { return clusterCount(s.substr(0, bytes)); }
// clusterEnd() for anything but two ASCII bytes in a row.
std::size_t clusterEndSlow(std::string_view s, std::size_t pos);

// Byte offset just after the cluster that starts at `pos` (pos < s.size(), on a cluster boundary).
inline std::size_t clusterEnd(std::string_view s, std::size_t pos)
{
    // An ASCII byte followed by another is a cluster of its own, except CR LF.
    const auto b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {
        if (pos + 1 == s.size())
            return pos + 1;
        const auto next = static_cast<unsigned char>(s[pos + 1]);
        if (next < 0x80)
            return pos + ((b == '\r' && next == '\n') ? 2 : 1);
    }
    return clusterEndSlow(s, pos);
}

} // namespace pallix::textscan
