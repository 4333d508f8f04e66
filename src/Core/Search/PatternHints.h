#pragma once
// PatternHints: what a name must hold for a wildcard pattern or a regular
// expression to match it, read off the pattern without running it: the ASCII
// letters and digits that every match contains, and the bytes that the name
// must end with. The engine checks them on an item's facts (ItemFacts) before
// it runs the pattern itself.
//
// They hold for a name whose facts say PlainName: there, a pattern's ASCII
// letter, ignoring case or not, can only match an ASCII letter of the name
// (which its normalised form keeps, lower-cased), and "$" can only match at
// the very end. The expression reader gives up (no hints) on anything it does
// not take apart with certainty. Pure; any thread.

#include <cstdint>
#include <string_view>

namespace pallix {

struct PatternHints {
    // ItemFacts::characterMask() of the letters and digits every match needs.
    std::uint64_t requiredCharacters = 0;
    // Lower-cased ASCII the name must end with, or 0 for no constraint; the
    // second-to-last is only set together with the last.
    char lastByte = 0;
    char secondLastByte = 0;

    // An ASCII pattern of "*" (any run), "?" (one character) and literals.
    static PatternHints ofWildcard(std::string_view pattern);
    // An expression in ICU syntax, without flags.
    static PatternHints ofExpression(std::string_view pattern);
};

} // namespace pallix
