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

// A number whose order is the text order of `s` as far as its first eight
// weights go: when the keys of two texts differ, the lower key's text comes
// first; when they are equal (or one is kUnknownKey), compareResultText decides.
inline constexpr std::uint64_t kUnknownKey = ~std::uint64_t(0);
std::uint64_t resultTextKey(std::string_view s);

} // namespace pallix
