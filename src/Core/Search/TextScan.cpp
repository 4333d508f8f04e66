#include "Core/Search/TextScan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Platform/Text.h"

namespace pallix::textscan {

namespace {

// Code points that never join their neighbours into one cluster: they are not
// Prepend, Extend, SpacingMark, ZWJ, Hangul jamo or regional indicators.
bool isSimpleNonAscii(char32_t c)
{
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x3041 && c <= 0x3096) ||
           (c >= 0x30A1 && c <= 0x30FA) || (c >= 0xFF01 && c <= 0xFF5E) || (c >= 0x3001 && c <= 0x3003);
}

bool isContinuationByte(char b) { return (static_cast<unsigned char>(b) & 0xC0) == 0x80; }

// The break iterator on a window that starts at `pos`, widened until the
// cluster provably ends inside it.
std::size_t clusterEndByBreakIterator(std::string_view s, std::size_t pos)
{
    for (std::size_t window = 64;; window *= 2) {
        std::size_t end = std::min(s.size(), pos + window);
        while (end < s.size() && end > pos + 1 && isContinuationByte(s[end]))
            --end;
        std::size_t offset = text::graphemeByteOffset(s.substr(pos, end - pos), 1);
        if (pos + offset < end || end == s.size())
            return pos + offset;
    }
}

constexpr std::size_t kShortText = 64;

} // namespace

std::size_t find(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return 0;
    if (needle.size() > haystack.size())
        return std::string_view::npos;
    // glibc's memmem pays a set-up per call that dominates on names and paths;
    // scanning for the first byte and checking the rest inline wins below a few hundred bytes.
    if (haystack.size() > 512) {
        const void* hit = ::memmem(haystack.data(), haystack.size(), needle.data(), needle.size());
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data()) : std::string_view::npos;
    }
    const char* const base = haystack.data();
    // In a name, a byte at a time for the needle's first two: a call per
    // place of the first alone cost more.
    if (haystack.size() <= kShortText && needle.size() >= 2) {
        const char first = needle[0], second = needle[1];
        for (std::size_t i = 0, last = haystack.size() - needle.size(); i <= last; ++i)
            if (base[i] == first && base[i + 1] == second &&
                sameBytes(base + i + 2, needle.data() + 2, needle.size() - 2))
                return i;
        return std::string_view::npos;
    }
    const char* p = base;
    const char* const last = base + (haystack.size() - needle.size());
    while (p <= last) {
        p = static_cast<const char*>(std::memchr(p, needle[0], static_cast<std::size_t>(last - p) + 1));
        if (!p)
            return std::string_view::npos;
        if (sameBytes(p + 1, needle.data() + 1, needle.size() - 1))
            return static_cast<std::size_t>(p - base);
        ++p;
    }
    return std::string_view::npos;
}

std::size_t clusterCount(std::string_view s)
{
    // Most texts are ASCII without a carriage return: a byte is a cluster.
    // Eight bytes at a time: a high bit, or a zero byte where '\r' was.
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    std::uint64_t odd = 0;
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, s.data() + i, 8);
        const std::uint64_t crossed = word ^ (kOnes * '\r');
        odd |= (word | ((crossed - kOnes) & ~crossed)) & kHighs;
    }
    for (; i < s.size(); ++i)
        odd |= static_cast<unsigned char>(s[i]) >= 0x80 || s[i] == '\r';
    if (!odd)
        return s.size();
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++count) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            i += (b == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ? 2 : 1;
            continue;
        }
        std::size_t j = i;
        if (!isSimpleNonAscii(text::nextCodePoint(s, j)))
            return text::graphemeCount(s);
        i = j;
    }
    return count;
}

std::size_t clusterEndSlow(std::string_view s, std::size_t pos)
{
    const auto b = static_cast<unsigned char>(s[pos]);
    std::size_t after = pos;
    const char32_t c = text::nextCodePoint(s, after);
    if (b < 0x80 || isSimpleNonAscii(c)) {
        if (after == s.size())
            return after;
        std::size_t j = after;
        const char32_t next = text::nextCodePoint(s, j);
        if (next < 0x80 || isSimpleNonAscii(next))
            return after;
    }
    return clusterEndByBreakIterator(s, pos);
}

} // namespace pallix::textscan
