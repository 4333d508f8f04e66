#pragma once
// CandidateFilter: turns candidates down from the facts their source keeps
// (ItemFacts, FolderForms) and, for patterns, from their names, before the
// engine reads them whole. It only turns down candidates that the full tests
// would turn down as well, so a search with it gives exactly the answer of
// one without it; every other candidate still goes through the full tests.
//
// The name-token test rests on one implication, for a token whose comparable
// form holds only ASCII characters and CJK ideographs: every tier of every
// match mode that accepts the token implies that its normalised form is a
// subsequence (by characters) of the normalised path, which is the folder's
// normalised path followed by the normalised name. The folding keeps every
// ASCII letter and digit (lower-cased) and every ideograph of a text, in
// order, and adds only characters folded from other ones; and the normalised
// token is exactly those characters of the comparable token. The folder's part
// is matched once per folder, greedily; what is left of the token must then be
// in the name, whose characters the facts hold as a mask. Once the caller
// keeps only ranks up to some bound, a token whose path tiers cannot reach it
// (their ranks grow with the folder's length) must match in the name alone.
//
// One filter serves one search on one thread; it keeps per-folder answers.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Core/Search/ItemFacts.h"
#include "Core/Search/PatternHints.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchRank.h"

namespace pallix {

class CandidateFilter {
public:
    // `source.facts()` must not be null.
    CandidateFilter(const ItemSource& source, const PreparedQuery& query);

    const ItemFacts& facts(std::uint32_t index) const { return m_facts[index]; }

    // Appends, in order, the positions of [first, last) (or of `candidates`)
    // that may be results of the search.
    void collect(std::uint32_t first, std::uint32_t last, std::vector<std::uint32_t>& out);
    void collect(std::span<const std::uint32_t> candidates, std::vector<std::uint32_t>& out);
    // False when a collected candidate cannot rank at `maxRank` or better.
    bool mayRankWithin(std::uint32_t index, Rank maxRank);

    // True when the token's comparable form holds only characters the
    // implication above covers (ASCII and CJK ideographs).
    static bool coversToken(std::string_view comparable);
    // The number of characters (code points) at the head of `normalized`
    // found, in order, in `haystack`, matching each as early as possible.
    static std::size_t matchedHead(std::string_view normalized, std::string_view haystack);

private:
    struct TokenFilter {
        std::string normalized;
        std::size_t comparableCount = 0;
        std::size_t normalizedCount = 0;
        std::vector<std::uint64_t> tailMasks;  // [k]: mask of the characters from the k-th on
        std::vector<std::size_t> offsets;      // [k]: byte offset of the k-th character; then the size
        std::uint64_t wholeMask = 0;
    };
    // What one token needs of the items of one folder.
    struct FolderAnswer {
        std::uint16_t matched = kUnknown;  // matchedHead() of the folder's normalised path
        std::int32_t pathFloor = 0;        // the lowest rank a path tier can give there
    };
    static constexpr std::uint16_t kUnknown = 0xFFFF;

    bool mayBeResult(std::uint32_t index);
    bool namesMayMatch(const ItemFacts& f);
    bool patternMayMatch(std::uint32_t index, const ItemFacts& f);
    bool passesPathFilter(std::uint32_t folder);
    const FolderAnswer& answer(std::size_t token, std::uint32_t folder);
    bool nameMaskUsable(const ItemFacts& f) const;

    const ItemSource& m_source;
    const PreparedQuery& m_query;
    const ItemFacts* m_facts;
    std::size_t m_folderCount;

    // Bit tests every candidate must pass.
    std::uint32_t m_rejectBits = 0;       // none of these
    std::uint32_t m_requiredMask = 0;     // these bits ...
    std::uint32_t m_requiredValue = 0;    // ... must read so
    std::uint32_t m_anyOfBits = 0;        // at least one of these, when not 0

    std::vector<TokenFilter> m_tokens;         // the covered tokens of a ranked search
    std::vector<FolderAnswer> m_folderAnswers;  // [token * folders + folder]
    Rank m_firstPathTier = 0;
    bool m_wholeTokenInName = false;  // exact mode: no tier looks at the path
    std::vector<PatternHints> m_hints;  // a wildcard's, or each expression's
    std::vector<std::uint8_t> m_pathFilterAnswers;  // per folder: 0 unknown, 1 no, 2 yes
};

} // namespace pallix
