#pragma once
// The text order of results (zh_CN collation ignoring case, as
// text::compareZhCaseInsensitive) with a fast path for ASCII text, which is
// most names and paths. For ASCII the collation has no expansions or
// contractions: a character is either ignorable or has one primary weight,
// and at the strength used (no case) that weight decides. The weights are
// read from the collator itself on first use, so the fast path and the
// collator cannot disagree about a character. Pure; any thread.

#include <cstdint>
#include <string_view>

namespace pallix {

// <0, 0 or >0 like strcmp; the same answer as text::compareZhCaseInsensitive.
int compareResultText(std::string_view a, std::string_view b);

// A text given as consecutive pieces (a folder, "/" and a name), compared
// without joining them when they are ASCII.
struct TextPieces {
    std::string_view parts[3];
};
int compareResultText(const TextPieces& a, const TextPieces& b);

// Numbers whose order is the text order of an ASCII text as far as its first
// 24 weights go. Two known keys that differ order their texts; two equal
// complete ones (the texts end within them) belong to equal texts; otherwise
// compareResultText decides.
struct TextKey {
    std::uint64_t words[3] = {};
    bool known = false;     // the text's head is ASCII
    bool complete = false;  // the text ends within the key

    // <0, 0 or >0 when the keys decide; 2 when they do not.
    int compare(const TextKey& other) const;
};
TextKey resultTextKey(std::string_view s);

} // namespace pallix
