#pragma once
// PreparedQuery: everything of a SearchQuery that does not depend on the
// candidate, worked out once per search (token forms, compiled expressions,
// filter flags, the edition). Read-only after construction, so one instance may
// be shared by threads ranking parts of the same search. It refers to the query
// it was made from, which must outlive it.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "Core/Models/AppEdition.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Text.h"

namespace pallix {

// The forms of one name token that ranking compares with an item's forms.
struct PreparedToken {
    std::string comparable;          // ct: lower-cased (NFC) unless the search is case-sensitive
    std::string normalized;          // nt: SearchEngine::normalized(ct); never empty in a ranked search
    std::size_t comparableCount = 0; // grapheme clusters of ct
    std::size_t normalizedCount = 0; // grapheme clusters of nt
};

// One bit per content category; 0 means every item passes.
enum ContentMaskBit : unsigned {
    kContentFolders = 1u << 0,
    kContentImages = 1u << 1,
    kContentDocuments = 1u << 2,
    kContentVideos = 1u << 3,
    kContentNormal = 1u << 4,
    kContentArchives = 1u << 5,
    kContentExecutables = 1u << 6,
};

class PreparedQuery {
public:
    // How every candidate of this search is decided; the same for all of them.
    enum class Mode {
        Nothing,      // no candidate can be a result (see the constructor)
        FilterOnly,   // no tokens, some filter: rank 900
        Ranked,       // name tokens: the tiered name-match rank
        Wildcard,     // the wildcard pattern decides: rank 500
        RegexTokens,  // every token's expression must match the name: rank 500
    };

    // `regexWatch` (may be null) bounds the expressions' cost for this search.
    explicit PreparedQuery(const SearchQuery& query, text::RegexWatch* regexWatch = nullptr);
    PreparedQuery(SearchQuery&&) = delete;  // it keeps a reference to the query

    const SearchQuery& query;
    Mode mode = Mode::Nothing;
    AppEdition edition = AppEdition::Mardell;

    // One per query token, in order (built in every mode; Ranked relies on them).
    std::vector<PreparedToken> tokens;
    // True when some token normalizes to the empty text; such a token matches nothing.
    bool hasEmptyNormalizedToken = false;

    // Mode::Wildcard: the anchored expression made from the pattern, and the
    // pattern itself (NFC) when it is ASCII, for names it can be matched on
    // directly (see matchesPlainWildcard).
    std::optional<text::Regex> wildcard;
    std::optional<std::string> plainWildcard;
    // Mode::RegexTokens: one compiled expression per token.
    std::vector<text::Regex> regexes;
    // The search's watch over the expressions above (may be null).
    text::RegexWatch* regexWatch = nullptr;

    // The path filter in the form the parent path is compared in (lower-cased
    // unless case-sensitive; NFC); absent without a path filter.
    std::optional<std::string> pathFilter;
    unsigned contentMask = 0;

    // The single token, lower-cased (or as typed when case-sensitive), that lets a
    // developer-tool artifact through when it equals the name; absent unless exactly one token.
    std::optional<std::string> artifactToken;

    // The anchored, escaped expression for a wildcard pattern ("*" any run, "?" one character).
    static std::string wildcardExpression(std::string_view pattern);
    // True when the query has a filter that makes a token-less search list items.
    static bool hasListingFilter(const SearchQuery& query);
    static unsigned contentMaskOf(const std::set<SearchContentFilter>& filters);
};

} // namespace pallix
