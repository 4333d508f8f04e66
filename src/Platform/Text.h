#pragma once
// The one text facade of the engine, on ICU. Every string here is UTF-8.
// All functions are thread-safe: shared ICU objects are made once and only
// read; per-call state (break iterators, regex matchers) is thread-local or local.

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pallix {
class CancelToken;  // Platform/Clock.h
}

namespace pallix::text {

bool isValidUtf8(std::string_view s);
bool isAscii(std::string_view s);

// ASCII letters and digits, and ASCII lower-casing; other bytes pass unchanged.
inline bool isAsciiAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// Canonical composition; tokens and the names that search forms are made from are NFC.
std::string toNFC(std::string_view s);

// Full Unicode case mapping, locale independent (root).
std::string lower(std::string_view s);
std::string upper(std::string_view s);

// Folding with locale zh_CN: case-, diacritic- and width-insensitive
// (é -> e, full-width Ｒ -> r, ２ -> 2). The result is lower case.
std::string fold(std::string_view s);
// fold(s) without the width step: full- and half-width forms keep their
// width (ＳＡＬＥ -> ｓａｌｅ, é -> e).
std::string foldCaseAndDiacritics(std::string_view s);

// fold(s), keeping only code points of general categories L, M and N.
// Appends to `out` (cleared first) so hot loops can reuse a buffer.
void foldLettersMarksNumbers(std::string_view s, std::string& out);
std::string foldLettersMarksNumbers(std::string_view s);

// Character classes of one code point.
bool isWhiteSpace(char32_t c);            // Unicode White_Space
bool isLetterMarkOrNumber(char32_t c);    // general categories L, M, N
bool isPunctuationOrSymbol(char32_t c);   // general categories P, S
bool isIdeographic(char32_t c);           // Unicode property Ideographic

// Decodes the code point at `offset` and advances it; U+FFFD on bad input.
char32_t nextCodePoint(std::string_view s, std::size_t& offset);
// True when every character of `s` outside ASCII satisfies `keep`.
template <class Keep>
bool everyNonAscii(std::string_view s, Keep keep)
{
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80)
            ++i;
        else if (!keep(nextCodePoint(s, i)))
            return false;
    }
    return true;
}
// Appends the UTF-8 form of `c` (nothing for a surrogate or a value past U+10FFFF).
void appendUtf8(char32_t c, std::string& out);
// One-to-one lower-case mapping of one code point (no expansion, no context).
char32_t simpleLower(char32_t c);

// User-perceived characters (extended grapheme clusters).
std::size_t graphemeCount(std::string_view s);
// Byte offset just after the first `n` graphemes (s.size() when s has fewer).
std::size_t graphemeByteOffset(std::string_view s, std::size_t n);
// Graphemes in the first `bytes` bytes of s (`bytes` must fall on a boundary).
std::size_t graphemesBefore(std::string_view s, std::size_t bytes);

// Canonical-equivalence comparison (NFC both sides, then bytes).
bool canonicallyEqual(std::string_view a, std::string_view b);

// canonicallyEqual() against one text, many times: that text is composed
// once, and a candidate already composed is compared as bytes.
class CanonicalMatch {
public:
    explicit CanonicalMatch(std::string_view text) : m_composed(toNFC(text)) {}
    bool operator()(std::string_view candidate) const;

private:
    std::string m_composed;
};

// For a map keyed by std::string that is asked with a view, without making
// a string of it (with std::equal_to<>).
struct ViewHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// zh_CN collation ignoring case: <0, 0 or >0 like strcmp.
int compareZhCaseInsensitive(std::string_view a, std::string_view b);
// Its sort key: the keys of two texts, compared as bytes, order them as
// compareZhCaseInsensitive() does (equal keys for equal texts). Into `key`,
// whose room is reused.
void zhCaseInsensitiveKey(std::string_view s, std::string& key);

// One search's hold on what its expressions cost. Every match runs for at
// most Regex::kMatchBudgetSteps engine steps (a pattern like ^(\w+\s?)+$
// backtracks exponentially on an ordinary long name) and answers no when it
// runs out; after kGiveUpAfter such answers the search gives the expression
// up and every later match answers no at once. A cancelled token ends a match
// at once too. Thread-safe: the threads of one search share one watch.
class RegexWatch {
public:
    static constexpr int kGiveUpAfter = 8;

    explicit RegexWatch(const CancelToken* cancel = nullptr) : m_cancel(cancel) {}
    RegexWatch(const RegexWatch&) = delete;
    RegexWatch& operator=(const RegexWatch&) = delete;

    // Some match ran out of steps: the search may lack results.
    bool exceededBudget() const { return m_exceeded.load(std::memory_order_relaxed) > 0; }
    // Matches answer no without running: cancelled, or given up.
    bool stopped() const;

private:
    friend class Regex;
    const CancelToken* m_cancel;
    std::atomic<int> m_exceeded{0};
};

// Why a pattern does not compile, as the regex engine tells it.
struct RegexProblem {
    std::string reason;  // in Chinese, for the status line
    int position = 0;    // the character of the pattern (from 1) the engine stopped at
};

// Regular expressions in ICU syntax.
class Regex {
public:
    // Nothing when the pattern does not compile.
    static std::optional<Regex> compile(std::string_view pattern, bool caseInsensitive);
    // Nothing when it does.
    static std::optional<RegexProblem> problemWith(std::string_view pattern);
    // Backslash before every character with a meaning in the syntax.
    static std::string escape(std::string_view literal);

    // Engine steps a match may take (ICU counts time in units of 10,000 steps).
    static constexpr int kMatchBudgetUnits = 4;

    // True when the expression matches somewhere in `subject` (first match
    // only). False too when the match ran out of its budget or `watch` stopped
    // it; the watch (may be null) learns which.
    bool search(std::string_view subject, RegexWatch* watch = nullptr) const;

    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;
    ~Regex();

private:
    struct Impl;
    explicit Regex(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace pallix::text
