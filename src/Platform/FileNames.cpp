#include "Platform/FileNames.h"

#include <cstdint>

namespace pallix::filenames {

namespace {

// Every escape is F4 8F BA xx or F4 8F BB xx in UTF-8.
constexpr unsigned char kEscapeLead = 0xF4;
constexpr unsigned char kEscapeSecond = 0x8F;

unsigned char byteAt(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// The length of the well-formed UTF-8 sequence at `i` with its code point in
// `c`; 0 when the bytes there are none (an overlong form, a surrogate, a
// value past U+10FFFF, a cut or stray byte).
std::size_t sequenceAt(std::string_view s, std::size_t i, char32_t& c)
{
    const unsigned char lead = byteAt(s, i);
    std::size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = byteAt(s, i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

void appendCodePoint(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Where the stored text holds its first escape, or npos. An escape's first
// two bytes are rare in real names, so a search for them is the fast path.
std::size_t firstEscape(std::string_view stored)
{
    for (std::size_t i = stored.find(static_cast<char>(kEscapeLead)); i != std::string_view::npos;
         i = stored.find(static_cast<char>(kEscapeLead), i + 1)) {
        char32_t c = 0;
        if (i + 1 < stored.size() && byteAt(stored, i + 1) == kEscapeSecond && sequenceAt(stored, i, c) == 4
            && isEscape(c))
            return i;
    }
    return std::string_view::npos;
}

// Where the bytes stop being stored as they are, or npos.
std::size_t firstByteToEscape(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c = 0;
        const std::size_t length = sequenceAt(bytes, i, c);
        if (length == 0 || isEscape(c))
            return i;
        i += length;
    }
    return std::string_view::npos;
}

// Copies `stored` from `from` on into `out`, every escape replaced by `replace(byte)`.
template <class Replace>
void replaceEscapes(std::string_view stored, std::size_t from, std::string& out, Replace replace)
{
    for (std::size_t i = from; i < stored.size();) {
        char32_t c = 0;
        const std::size_t length = sequenceAt(stored, i, c);
        if (length == 0) {  // not a stored form: the byte passes as it is
            out.push_back(stored[i++]);
            continue;
        }
        if (isEscape(c))
            replace(static_cast<unsigned char>(c - kEscapeBase), out);
        else
            out.append(stored.substr(i, length));
        i += length;
    }
}

} // namespace

std::string fromFileSystem(std::string_view bytes)
{
    const std::size_t start = firstByteToEscape(bytes);
    if (start == std::string_view::npos)
        return std::string(bytes);
    std::string out(bytes.substr(0, start));
    out.reserve(bytes.size() + 8);
    for (std::size_t i = start; i < bytes.size();) {
        char32_t c = 0;
        const std::size_t length = sequenceAt(bytes, i, c);
        if (length != 0 && !isEscape(c)) {
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        // A stray byte alone, or every byte of a code point of the range.
        for (const std::size_t end = i + (length == 0 ? 1 : length); i < end; ++i)
            appendCodePoint(kEscapeBase + byteAt(bytes, i), out);
    }
    return out;
}

bool isStoredAsIs(std::string_view bytes)
{
    return firstByteToEscape(bytes) == std::string_view::npos;
}

std::string toFileSystem(std::string_view stored)
{
    const std::size_t start = firstEscape(stored);
    if (start == std::string_view::npos)
        return std::string(stored);
    std::string out(stored.substr(0, start));
    replaceEscapes(stored, start, out, [](unsigned char byte, std::string& to) { to.push_back(static_cast<char>(byte)); });
    return out;
}

bool hasEscapes(std::string_view stored)
{
    return firstEscape(stored) != std::string_view::npos;
}

std::string displayForm(std::string_view stored)
{
    const std::size_t start = firstEscape(stored);
    if (start == std::string_view::npos)
        return std::string(stored);
    std::string out(stored.substr(0, start));
    replaceEscapes(stored, start, out, [](unsigned char, std::string& to) { to += "\xEF\xBF\xBD"; });
    return out;
}

} // namespace pallix::filenames
