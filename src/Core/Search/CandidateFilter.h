#pragma once
// CandidateFilter: turns candidates down from the facts their source keeps
// (ItemFacts, FolderForms) and from their names, before the engine reads them
// whole, and bounds the rank of the others. It only turns down candidates that
// the full tests would turn down as well, so a search with it gives exactly
// the answer of one without it.
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
// in the name: its characters in the facts' mask, in order in the name.
//
// Bounds: a token whose normalised form is not in order in the name can only
// match through the path tiers, whose ranks follow from the folder (where it
// holds the token) and the path's length. In contains mode, for an ASCII name
// in a folder that holds neither the token nor its head at its end, that
// leaves the path-subsequence tier alone: the bound is then the rank.
//
// One filter serves one search on one thread; it keeps per-folder answers.

#include <cstdint>
#include <deque>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "Core/Search/ItemFacts.h"
#include "Core/Search/PatternHints.h"
#include "Core/Search/PreparedQuery.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchRank.h"
#include "Core/Search/SharedCutoff.h"

namespace pallix {

// What a collected candidate can rank at best.
struct CandidateBound {
    Rank rank = 0;         // no tier gives the candidate a lower rank
    bool exact = false;    // the candidate matches with exactly this rank
    bool refined = false;  // the name has been read (see CandidateFilter::refine)
};

class CandidateFilter {
public:
    // `source.facts()` must not be null.
    CandidateFilter(const ItemSource& source, const PreparedQuery& query);

    const ItemFacts& facts(std::uint32_t index) const { return m_facts[index]; }
    // The source's name ordinal of the candidate when the search sorts by name, else 0.
    std::uint32_t nameOrder(std::uint32_t index) const { return m_byName ? m_source.nameOrder(index) : 0; }

    // Appends, in order, the positions of [first, last) (or of `candidates`)
    // that may be results of the search, and, when `bounds` is given, their
    // rank bounds in the same order. The facts are read, and the name where
    // the order of a token's characters needs it (or a pattern search); the
    // name tiers are ranked by refine(), for the candidates that get that
    // far, unless keepBest() is on: their exact ranks are what lowers the
    // cutoff, so they are ranked while collecting (each bound then refined).
    void collect(std::uint32_t first, std::uint32_t last, std::vector<std::uint32_t>& out,
                 std::vector<CandidateBound>* bounds = nullptr);
    void collect(std::span<const std::uint32_t> candidates, std::vector<std::uint32_t>& out,
                 std::vector<CandidateBound>* bounds = nullptr);
    // From now on, turns down candidates that cannot be among the best
    // `limit` results because that many known ones rank lower (rank-first
    // order only). With `shared`, the known ones are those of every filter
    // that shares it (one per slice of one search's candidates): each hands
    // its exact ranks over and takes the cutoff all of them give; only those
    // of candidates before `sharedBelow`, when the search may yet leave later
    // ones out.
    void keepBest(std::size_t limit, SharedCutoff* shared = nullptr,
                  std::uint32_t sharedBelow = std::numeric_limits<std::uint32_t>::max());
    // Forgets the ranks keepBest() counted, and the cutoff they set: for a
    // filter that also collected candidates the search then leaves out.
    void forgetCutoff();
    // Reads the candidate's name: false when it cannot be a result after all,
    // else `bound` is made as tight as the name allows (and `refined`).
    bool refine(std::uint32_t index, CandidateBound& bound);

    // True when the token's comparable form holds only characters the
    // implication above covers (ASCII and CJK ideographs).
    static bool coversToken(std::string_view comparable);
    // The number of characters (code points) at the head of `normalized`
    // found, in order, in `haystack`, matching each as early as possible.
    static std::size_t matchedHead(std::string_view normalized, std::string_view haystack);

private:
    struct TokenFilter {
        const PreparedToken* prepared = nullptr;
        std::string comparable;
        std::string normalized;
        std::size_t comparableCount = 0;
        std::size_t normalizedCount = 0;
        std::vector<std::uint64_t> tailMasks;  // [k]: mask of the characters from the k-th on
        std::vector<std::size_t> offsets;      // [k]: byte offset of the k-th character; then the size
        std::uint64_t wholeMask = 0;
        // The last character is an ASCII letter or digit, whose bit in a mask
        // is its own: a rest of just that character is in the name when its
        // bit is. singleExact: the token is that one character.
        bool lastExact = false;
        bool singleExact = false;
        // Contains mode, an ASCII token of two characters or more: the name
        // tiers below the name-subsequence one all need the normalised token
        // whole in the normalised name, so in an ASCII name all its pairs.
        std::uint32_t pairMask = 0;
        bool pairsTell = false;
        // Contains mode, the comparable and normalised token ASCII and not
        // empty: lengths in the facts bound the name tiers (nameTierFloor()).
        bool asciiContains = false;
        // wordStartBit() of the first byte of the comparable and of the
        // normalised token: a name without either has no tier below the
        // name-substring one.
        std::uint32_t headBit = 0;
        std::uint32_t normalizedHeadBit = 0;
    };
    // What one token needs of, and can get from, the items of one folder.
    struct FolderAnswer {
        std::uint16_t matched = kUnknown;  // matchedHead() of the folder's normalised path
        bool tiersKnown = false;  // the fields below are filled in (on first need)
        bool countsAdd = false;  // an ASCII name's characters add to the folder's (see tokenBound())
        std::int32_t pathCount = 0;        // characters of the item path before the name
        std::int32_t normalizedCount = 0;  // characters of the folder's normalised form
        // Contains mode: the path-substring and normalised-path-substring tiers
        // without their length excess, kNever when they cannot match without
        // the whole token in the name.
        std::int32_t substringBase = 0;
        std::int32_t normalizedBase = 0;
        std::int32_t floor = 0;  // other modes: the lowest path-tier rank
        // The folder holds the comparable token: the path-substring tier then
        // matches there first, with substringBase, whatever the name.
        bool substringInFolder = false;
        // The lowest rank the path tiers give any item of the folder, whatever its name.
        std::int32_t pathFloor = 0;
    };
    static constexpr std::uint16_t kUnknown = 0xFFFF;
    static constexpr std::int32_t kNever = 0x7FFFFFFF;
    static constexpr std::size_t kMaxFilteredTokens = 16;  // more words filter on their first sixteen

    // The tests of the facts alone, then those that may read the name.
    bool passesFacts(const ItemFacts& f);
    bool passesNames(std::uint32_t index, const ItemFacts& f, CandidateBound* bound);
    // Makes `folder` the one at hand: its answers and the characters its items' names need.
    void meetFolder(std::uint32_t folder);
    // The facts show that the name lacks a character some token needs there,
    // beyond what the item's folder holds: an item that fails here, before
    // any other test, is spared the rest of the name test.
    bool nameLacksFolderRest(const ItemFacts& f)
    {
        if (f.folder == ItemFacts::kNoFolder || !nameMaskUsable(f))
            return false;
        if (f.folder != m_lastFolder)
            meetFolder(f.folder);
        return (f.nameCharacters & m_folderNeed) != m_folderNeed;
    }
    // Candidates go through in blocks: the facts of one block are read while
    // the records and then the names of those of the two blocks before it that
    // passed are being fetched, so that reading a name seldom waits on memory.
    template <typename IndexAt>
    void collectInBlocks(std::size_t count, IndexAt indexAt, std::vector<std::uint32_t>& out,
                         std::vector<CandidateBound>* bounds);
    void collectPassed(std::uint32_t index, std::vector<std::uint32_t>& out, std::vector<CandidateBound>* bounds);
    void noteExact(Rank rank, std::uint32_t index);
    void lowerCutoffTo(Rank cutoff);
    // Hands the exact ranks noted since the last call to the shared cutoff and takes its cutoff.
    void shareExactRanks();
    void takeSharedCutoff();
    void finishCollecting();
    bool namesMayMatch(std::uint32_t index, const ItemFacts& f, CandidateBound* bound, bool readName);
    bool patternMayMatch(std::uint32_t index, const ItemFacts& f);
    bool passesPathFilter(std::uint32_t folder);
    FolderAnswer& slot(std::size_t token, std::uint32_t folder);
    const FolderAnswer& answer(std::size_t token, std::uint32_t folder);
    const FolderAnswer& answerWithTiers(std::size_t token, std::uint32_t folder);
    // answerWithTiers() for the folder of the item at hand (m_lastFolder).
    const FolderAnswer& tiersAtHand(std::size_t token);
    void fillPathTiers(const TokenFilter& t, const FolderForms& forms, FolderAnswer& a) const;
    CandidateBound tokenBound(const TokenFilter& t, const FolderAnswer* a, const ItemFacts& f,
                              bool wholeInName) const;
    bool nameMaskUsable(const ItemFacts& f) const;
    // False when the facts show that no tier below the name-subsequence one
    // can match the token in the name.
    static bool wholeMayBeInName(const TokenFilter& t, const ItemFacts& f)
    {
        return (f.nameCharacters & t.wholeMask) == t.wholeMask &&
               (!t.pairsTell || !f.has(ItemFacts::AsciiName) || (f.namePairs & t.pairMask) == t.pairMask);
    }
    // The lowest rank a name tier can give the token, from the facts' lengths.
    static Rank nameTierFloor(const TokenFilter& t, const ItemFacts& f);
    // A bound for a token whose characters are in the name but not whole.
    CandidateBound subsequenceBound(const TokenFilter& t, const FolderAnswer* a, const ItemFacts& f) const;

    const ItemSource& m_source;
    const bool m_byName;
    const PreparedQuery& m_query;
    const ItemFacts* m_facts;
    std::size_t m_folderCount;

    // Bit tests every candidate must pass.
    std::uint32_t m_rejectBits = 0;       // none of these
    std::uint32_t m_requiredMask = 0;     // these bits ...
    std::uint32_t m_requiredValue = 0;    // ... must read so
    std::uint32_t m_anyOfBits = 0;        // at least one of these, when not 0

    std::vector<TokenFilter> m_tokens;          // the covered tokens of a ranked search
    bool m_allTokensCovered = false;
    // Answers only for the folders a search meets (few, for a short candidate
    // list): a folder's slot s > 0 holds its answers, by token, from
    // (s - 1) * tokens on. A deque keeps them in place as it grows.
    std::vector<std::uint32_t> m_folderSlots;
    std::deque<FolderAnswer> m_folderAnswers;
    std::uint32_t m_lastFolder = ItemFacts::kNoFolder;   // the folder of the last item asked about
    const FolderAnswer* m_lastAnswers[kMaxFilteredTokens] = {};  // its answers, by token
    std::uint64_t m_folderNeed = 0;  // the characters of every token's rest beyond that folder, joined
    Rank m_constantRank = 0;  // the rank of every result of a search that does not rank names
    Rank m_firstPathTier = 0;
    Rank m_firstTierBeyondName = 0;
    bool m_wholeTokenInName = false;  // exact mode: no tier looks at the path
    bool m_boundsCanBeExact = false;  // no filter that only the full tests check
    std::vector<PatternHints> m_hints;  // a wildcard's, or each expression's
    std::vector<std::uint8_t> m_pathFilterAnswers;  // per folder: 0 unknown, 1 no, 2 yes

    // keepBest(): exact ranks of collected candidates, counted up to the cutoff.
    static constexpr std::size_t kCountedRanks = SharedCutoff::kCountedRanks;
    std::size_t m_keep = 0;
    std::vector<std::uint32_t> m_exactRanks;
    std::size_t m_atOrBelowCutoff = 0;
    Rank m_cutoff = kNoRankCeiling;  // no candidate ranked above it is wanted
    // keepBest() with a shared cutoff: the exact ranks not yet handed over,
    // and how many candidates until the shared cutoff is next looked at.
    static constexpr std::size_t kSharedBatch = 128;
    static constexpr std::uint32_t kCandidatesPerLook = 256;
    SharedCutoff* m_shared = nullptr;
    std::uint32_t m_sharedBelow = 0;
    Rank m_pending[kSharedBatch] = {};
    std::size_t m_pendingCount = 0;
    std::uint32_t m_untilLook = kCandidatesPerLook;
};

} // namespace pallix
