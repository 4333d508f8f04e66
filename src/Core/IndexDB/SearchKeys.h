#pragma once
// The keys that a name stem contributes to the search cache's inverted indexes,
// and that a typed word is looked up by: its kept characters, the pairs of
// adjacent kept characters, and its prefixes of one to four kept characters.
// Pure functions, safe on any thread.

#include <string>
#include <string_view>
#include <vector>

namespace pallix {

// Appends the kept characters of `s` to `out` (cleared first) as views into `s`:
// user-perceived characters, in order, repeats kept, each kept when, trimmed of
// white space, something is left and every scalar of it is a letter, mark,
// number or ideograph. What is kept is the character untrimmed.
void keptCharacters(std::string_view s, std::vector<std::string_view>& out);

std::vector<std::string> searchCharacters(std::string_view s);
// Adjacent kept characters joined, de-duplicated (first occurrence order).
std::vector<std::string> searchBigrams(std::string_view s);
// The first k kept characters joined, for k = 1 ... min(4, count); shortest first.
std::vector<std::string> searchPrefixes(std::string_view s);

} // namespace pallix
