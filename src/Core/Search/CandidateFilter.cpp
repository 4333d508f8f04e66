#include "Core/Search/CandidateFilter.h"

#include <algorithm>
#include <limits>

#include "Core/Search/CandidateScoring.h"
#include "Core/Search/ItemForms.h"
#include "Core/Search/ResultOrder.h"
#include "Core/Search/SearchFilters.h"
#include "Core/Search/TextScan.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

bool isCoveredIdeograph(char32_t c) { return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF); }

// Byte length of the UTF-8 sequence that starts with `lead`.
std::size_t sequenceLength(unsigned char lead) { return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2; }

// The facts bits of the categories of a content-filter mask.
std::uint32_t contentBits(unsigned mask)
{
    std::uint32_t bits = 0;
    if (mask & kContentFolders) bits |= ItemFacts::Folder;
    if (mask & kContentImages) bits |= ItemFacts::Image;
    if (mask & kContentDocuments) bits |= ItemFacts::DocumentLike;
    if (mask & kContentVideos) bits |= ItemFacts::Video;
    if (mask & kContentNormal) bits |= ItemFacts::NormalFile;
    if (mask & kContentArchives) bits |= ItemFacts::Archive;
    if (mask & kContentExecutables) bits |= ItemFacts::Executable;
    return bits;
}

bool fitsHints(const PatternHints& h, const ItemFacts& f)
{
    return (f.nameCharacters & h.requiredCharacters) == h.requiredCharacters &&
           (h.lastByte == 0 || h.lastByte == f.lastByte()) &&
           (h.secondLastByte == 0 || h.secondLastByte == f.secondLastByte());
}

} // namespace

bool CandidateFilter::coversToken(std::string_view comparable)
{
    return text::everyNonAscii(comparable, isCoveredIdeograph);
}

std::size_t CandidateFilter::matchedHead(std::string_view normalized, std::string_view haystack)
{
    std::size_t at = 0, matched = 0;
    for (std::size_t i = 0; i < normalized.size(); ++matched) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(normalized[i]));
        // UTF-8 synchronises itself: a whole sequence found is a whole character.
        const std::size_t found =
            length == 1 ? haystack.find(normalized[i], at) : haystack.find(normalized.substr(i, length), at);
        if (found == std::string_view::npos)
            return matched;
        at = found + length;
        i += length;
    }
    return matched;
}

CandidateFilter::CandidateFilter(const ItemSource& source, const PreparedQuery& query)
    : m_source(source)
    , m_byName(query.query.sortField == SearchSortField::Name)
    , m_query(query)
    , m_facts(source.facts())
    , m_folderCount(source.folderCount())
    , m_firstPathTier(firstPathTierRank(query.query.matchMode))
    , m_firstTierBeyondName(firstTierBeyondNameRank(query.query.matchMode))
    , m_wholeTokenInName(query.query.matchMode == SearchMatchMode::Exact)
{
    const SearchQuery& q = m_query.query;
    using Mode = PreparedQuery::Mode;
    if (q.excludeSystemJunk)
        m_rejectBits |= ItemFacts::Junk;
    // A developer-tool file is only listed by a ranked search for its one name.
    if (m_query.mode == Mode::FilterOnly || (m_query.mode == Mode::Ranked && !m_query.artifactToken))
        m_rejectBits |= ItemFacts::ToolingArtifact;
    if (q.typeFilter) {
        m_requiredMask |= ItemFacts::Folder;
        if (*q.typeFilter == IndexedItem::ItemType::Folder)
            m_requiredValue |= ItemFacts::Folder;
    }
    m_anyOfBits = contentBits(m_query.contentMask);
    m_constantRank = constantRankOf(m_query.mode).value_or(0);
    if (m_query.pathFilter)
        m_pathFilterAnswers.assign(m_folderCount, 0);

    if (m_query.mode == Mode::Wildcard && m_query.plainWildcard)
        m_hints.push_back(PatternHints::ofWildcard(*m_query.plainWildcard));
    if (m_query.mode == Mode::RegexTokens)
        for (const std::string& token : q.tokens)
            m_hints.push_back(PatternHints::ofExpression(token));
    if (m_query.mode != Mode::Ranked)
        return;
    // Each token must match for a result, so each covered one filters alone.
    for (const PreparedToken& token : m_query.tokens) {
        if (!coversToken(token.comparable) || token.normalized.size() >= kUnknown ||
            m_tokens.size() == kMaxFilteredTokens)
            continue;
        TokenFilter t;
        t.prepared = &token;
        t.comparable = token.comparable;
        t.normalized = token.normalized;
        t.comparableCount = token.comparableCount;
        t.normalizedCount = token.normalizedCount;
        for (std::size_t i = 0; i < t.normalized.size(); i += sequenceLength(static_cast<unsigned char>(t.normalized[i]))) {
            t.tailMasks.push_back(ItemFacts::characterMask(std::string_view(t.normalized).substr(i)));
            t.offsets.push_back(i);
        }
        t.tailMasks.push_back(0);
        t.offsets.push_back(t.normalized.size());
        t.wholeMask = t.tailMasks.front();
        t.lastExact = !t.normalized.empty() && text::isAsciiAlnum(t.normalized.back());
        t.singleExact = t.lastExact && t.normalized.size() == 1;
        t.asciiContains = q.matchMode == SearchMatchMode::Contains && !t.comparable.empty() &&
                          !t.normalized.empty() && text::isAscii(t.comparable) && text::isAscii(t.normalized);
        t.pairsTell = t.asciiContains && t.normalized.size() >= 2;
        if (t.pairsTell)
            t.pairMask = ItemFacts::pairMask(t.normalized);
        if (t.asciiContains) {
            t.headBit = ItemFacts::wordStartBit(t.comparable.front());
            t.normalizedHeadBit = ItemFacts::wordStartBit(t.normalized.front());
        }
        m_tokens.push_back(std::move(t));
    }
    m_allTokensCovered = m_tokens.size() == m_query.tokens.size();
    // A bound is the rank only where the filters read from the facts are all
    // there is, and no developer-tool file needs its name compared.
    m_boundsCanBeExact = m_allTokensCovered && !q.extensionFilter && !q.modifiedAfter;
    if (!m_tokens.empty())
        m_folderSlots.assign(m_folderCount, 0);
}

bool CandidateFilter::nameMaskUsable(const ItemFacts& f) const
{
    // A case-sensitive search folds the name as it is; the stored forms fold it
    // lower-cased, which for a name that is not ASCII may differ.
    return !m_query.query.caseSensitive || f.has(ItemFacts::AsciiName);
}

CandidateFilter::FolderAnswer& CandidateFilter::slot(std::size_t token, std::uint32_t folder)
{
    std::uint32_t& s = m_folderSlots[folder];
    if (s == 0) {
        s = static_cast<std::uint32_t>(m_folderAnswers.size() / m_tokens.size() + 1);
        m_folderAnswers.resize(m_folderAnswers.size() + m_tokens.size());
    }
    return m_folderAnswers[(s - 1) * m_tokens.size() + token];
}

const CandidateFilter::FolderAnswer& CandidateFilter::answer(std::size_t token, std::uint32_t folder)
{
    FolderAnswer& a = slot(token, folder);
    if (a.matched != kUnknown)
        return a;
    const TokenFilter& t = m_tokens[token];
    const FolderForms forms = m_source.folder(folder);
    // Case-sensitive, ranking reads the folder's own forms, not the lower-cased
    // ones; the two agree for ASCII. Otherwise assume the folder holds the
    // whole token and is as short as can be, which turns nothing down.
    if (m_query.query.caseSensitive && !forms.asciiPath) {
        a.matched = static_cast<std::uint16_t>(t.offsets.size() - 1);
        a.substringBase = a.normalizedBase = a.floor = static_cast<std::int32_t>(m_firstPathTier);
        a.tiersKnown = true;
        return a;
    }
    // Greedy matching goes on where the parent folder's left off, in the part
    // of the path the folder adds: each folder reads only its own name.
    std::size_t matched = 0;
    std::string_view haystack = forms.normalized;
    if (forms.parent != ItemFacts::kNoFolder) {
        const std::string_view parentForm = m_source.folder(forms.parent).normalized;
        if (haystack.starts_with(parentForm)) {
            matched = answer(token, forms.parent).matched;
            haystack.remove_prefix(parentForm.size());
        }
    }
    const std::string_view rest = std::string_view(t.normalized).substr(t.offsets[matched]);
    a.matched = static_cast<std::uint16_t>(matched + matchedHead(rest, haystack));
    return a;
}

const CandidateFilter::FolderAnswer& CandidateFilter::answerWithTiers(std::size_t token, std::uint32_t folder)
{
    FolderAnswer& a = slot(token, folder);
    if (a.tiersKnown)
        return a;
    answer(token, folder);
    // Most folders hold no candidate that passes the characters test: their
    // tiers are worked out only when one does.
    if (!a.tiersKnown) {
        fillPathTiers(m_tokens[token], m_source.folder(folder), a);
        // Facts of no name: the path's length is the folder's alone.
        const Rank floor = tokenBound(m_tokens[token], &a, ItemFacts(), false).rank;
        a.pathFloor = static_cast<std::int32_t>(std::min<Rank>(floor, kNever));
        a.tiersKnown = true;
    }
    return a;
}

void CandidateFilter::meetFolder(std::uint32_t folder)
{
    m_folderNeed = 0;
    for (std::size_t k = 0; k < m_tokens.size(); ++k) {
        m_lastAnswers[k] = &answer(k, folder);
        m_folderNeed |= m_tokens[k].tailMasks[m_wholeTokenInName ? 0 : m_lastAnswers[k]->matched];
    }
    m_lastFolder = folder;
}

const CandidateFilter::FolderAnswer& CandidateFilter::tiersAtHand(std::size_t token)
{
    const FolderAnswer& a = *m_lastAnswers[token];
    return a.tiersKnown ? a : answerWithTiers(token, m_lastFolder);
}

void CandidateFilter::fillPathTiers(const TokenFilter& t, const FolderForms& forms, FolderAnswer& a) const
{
    const auto clamp = [](Rank r) { return static_cast<std::int32_t>(std::min<Rank>(r, kNever)); };
    const std::string_view parent = m_query.query.caseSensitive ? forms.path : forms.comparable;
    const bool root = forms.path == "/";
    // The path is the folder, "/" (but after the root) and the name; the
    // normalised path, the folder's form and the name's. Characters add up when
    // the joins fall between plain ASCII bytes (see PathForms).
    const auto plain = [](std::string_view s) {
        return !s.empty() && static_cast<unsigned char>(s.back()) < 0x80 && s.back() != '\r' && s.back() != '\n';
    };
    a.countsAdd = plain(parent) && (forms.normalized.empty() || plain(forms.normalized));
    a.pathCount = static_cast<std::int32_t>(forms.comparableCount + (root ? 0 : 1));
    a.normalizedCount = static_cast<std::int32_t>(forms.normalizedCount);
    const SearchMatchMode mode = m_query.query.matchMode;
    a.floor = clamp(lowestPathTierRank(mode, forms.comparableCount, forms.normalizedCount, t.comparableCount,
                                       t.normalizedCount));
    if (mode != SearchMatchMode::Contains)
        return;
    // The path holds the token only where the folder does: the name cannot
    // without the whole token in order, and a token with no "/" cannot run
    // over the "/" between them. A token with a "/" may start anywhere.
    a.substringBase = kNever;
    if (t.comparable.find('/') != std::string::npos)
        a.substringBase = clamp(tier::kPathSubstring.at());
    else if (const std::size_t at = textscan::find(parent, t.comparable); at != std::string_view::npos) {
        a.substringBase = clamp(tier::kPathSubstring.at(Rank(textscan::clustersBefore(parent, at))));
        a.substringInFolder = true;
    }
    // The normalised path holds it where the folder's form does, or from a
    // head of the token the folder's form ends with on into the name; then at
    // least the folder's characters but that head come before it.
    a.normalizedBase = kNever;
    if (t.normalized == t.comparable)
        return;
    const std::string_view np = forms.normalized;
    if (const std::size_t at = textscan::find(np, t.normalized); at != std::string_view::npos) {
        a.normalizedBase = clamp(tier::kNormalizedPathSubstring.at(Rank(textscan::clustersBefore(np, at))));
        return;
    }
    for (std::size_t k = t.offsets.size() - 2; k >= 1; --k) {
        if (np.ends_with(std::string_view(t.normalized).substr(0, t.offsets[k]))) {
            const std::size_t before = forms.normalizedCount > k ? forms.normalizedCount - k : 0;
            a.normalizedBase = clamp(tier::kNormalizedPathSubstring.at(Rank(before)));
            return;
        }
    }
}

CandidateBound CandidateFilter::tokenBound(const TokenFilter& t, const FolderAnswer* a, const ItemFacts& f,
                                           bool wholeInName) const
{
    if (wholeInName)
        return {0, false};
    if (!a)
        return {m_firstPathTier, false};
    if (m_query.query.matchMode != SearchMatchMode::Contains)
        return {a->floor, false};
    // Only path tiers are left. With an ASCII name the path's characters are
    // the folder's plus the name's bytes; otherwise at least the folder's.
    const bool counted = a->countsAdd && f.has(ItemFacts::AsciiName) && f.nameBytes != ItemFacts::kLongText &&
                         f.normalizedBytes != ItemFacts::kLongText;
    const std::size_t pathCount = std::size_t(a->pathCount) + (counted ? f.nameBytes : 0);
    const std::size_t normalizedCount = std::size_t(a->normalizedCount) + (counted ? f.normalizedBytes : 0);
    // Where the path holds the comparable token the normalised one is not
    // looked for; with the path's exact length that tier is then exact.
    const bool substringExact = counted && a->substringInFolder;
    Rank best = kNoRankCeiling;
    if (a->substringBase != kNever)
        best = std::min(best, a->substringBase + lengthExcess(pathCount, t.comparableCount));
    if (a->normalizedBase != kNever && !substringExact)
        best = std::min(best, a->normalizedBase + lengthExcess(normalizedCount, t.normalizedCount));
    const Rank subsequence = subsequenceTiersTake(t.normalizedCount)
                                 ? tier::kPathSubsequence.rank(normalizedCount, t.normalizedCount)
                                 : kNoRankCeiling;
    best = std::min(best, subsequence);
    // Otherwise, only the subsequence tier left, with the path's exact length:
    // the caller knows whether it matches.
    const bool exact = substringExact || (counted && a->substringBase == kNever && a->normalizedBase == kNever &&
                                          subsequence != kNoRankCeiling);
    return {best, exact};
}

Rank CandidateFilter::nameTierFloor(const TokenFilter& t, const ItemFacts& f)
{
    // Counts are bytes only for ASCII.
    if (!t.asciiContains || !f.has(ItemFacts::AsciiName) || f.nameBytes == ItemFacts::kLongText ||
        f.normalizedBytes == ItemFacts::kLongText || f.normalizedStemBytes == ItemFacts::kLongText)
        return 0;
    const auto has = [&f](std::uint32_t bit) { return (f.namePairs & bit) == bit; };
    const NameOutline name{f.nameBytes, f.normalizedBytes, f.normalizedStemBytes,
                           has(t.headBit) || has(t.normalizedHeadBit), f.firstNormalized == t.normalized.front()};
    return lowestContainsNameTierRank(name, t.comparableCount, t.normalizedCount);
}

CandidateBound CandidateFilter::subsequenceBound(const TokenFilter& t, const FolderAnswer* a,
                                                const ItemFacts& f) const
{
    // Only pairsTell tokens get here, and only with an ASCII name, whose
    // characters are its bytes.
    const Rank nameTier = tier::kNameSubsequence.rank(f.normalizedBytes, t.normalizedCount);
    const CandidateBound path = tokenBound(t, a, f, false);
    // With the token in order in the name the path holds it in order too, so
    // an exact path bound stays exact; the caller knows the name tier matches.
    return {std::min(nameTier, path.rank), path.exact};
}

bool CandidateFilter::namesMayMatch(std::uint32_t index, const ItemFacts& f, CandidateBound* bound,
                                    bool readName)
{
    if (!nameMaskUsable(f)) {
        if (bound)
            bound->refined = true;  // nothing more to learn from the name
        return true;
    }
    // Past a cutoff below every path tier, a token must be whole in the name:
    // its characters there turn most items down before any folder is asked.
    if (bound && m_cutoff < m_firstPathTier)
        for (const TokenFilter& t : m_tokens)
            if ((f.nameCharacters & t.wholeMask) != t.wholeMask)
                return false;
    // The characters first (the facts at hand), then, where the folder left
    // part of a token for the name, their order (the name itself).
    // Items of one folder mostly come in a row: its answers are kept at hand.
    if (f.folder != m_lastFolder && f.folder != ItemFacts::kNoFolder)
        meetFolder(f.folder);
    const FolderAnswer* answers[kMaxFilteredTokens];
    std::size_t matched[kMaxFilteredTokens];
    bool orderToCheck = false;
    for (std::size_t k = 0; k < m_tokens.size(); ++k) {
        const TokenFilter& t = m_tokens[k];
        const std::size_t characters = t.offsets.size() - 1;
        answers[k] = nullptr;
        if (f.folder == ItemFacts::kNoFolder) {
            matched[k] = characters;  // a path the facts know nothing about
        } else {
            answers[k] = m_lastAnswers[k];
            matched[k] = m_wholeTokenInName ? 0 : answers[k]->matched;
        }
        const std::uint64_t need = t.tailMasks[matched[k]];
        if ((f.nameCharacters & need) != need)
            return false;
        // A rest of one letter or digit is settled by its bit.
        const std::size_t rest = characters - matched[k];
        orderToCheck = orderToCheck || rest > 1 || (rest == 1 && !t.lastExact);
    }
    // Past a cutoff, a folder whose path alone ranks a token above it turns
    // down at once every item whose name cannot hold that token.
    if (bound && m_cutoff != kNoRankCeiling && f.folder != ItemFacts::kNoFolder)
        for (std::size_t k = 0; k < m_tokens.size(); ++k)
            if ((f.nameCharacters & m_tokens[k].wholeMask) != m_tokens[k].wholeMask &&
                tiersAtHand(k).pathFloor > m_cutoff)
                return false;
    // The name tells when the folder left part of a token to it, or, for a
    // bound, when it holds all of a token's characters: their order, unless
    // the token is one letter or digit, and the name tiers' ranks.
    bool nameTiers = false, orderOfWhole = false;
    if (bound)
        for (std::size_t k = 0; k < m_tokens.size(); ++k)
            if ((f.nameCharacters & m_tokens[k].wholeMask) == m_tokens[k].wholeMask) {
                nameTiers = true;
                orderOfWhole = orderOfWhole || !m_tokens[k].singleExact;
            }
    bool wholeTiers = false;  // some token may be whole in the name
    if (nameTiers)
        for (std::size_t k = 0; k < m_tokens.size(); ++k)
            wholeTiers = wholeTiers || wholeMayBeInName(m_tokens[k], f);
    const bool nameTells = orderToCheck || orderOfWhole || (readName && nameTiers);
    // Past a cutoff, what the facts alone bound the rank to may spare the name.
    if (bound && nameTells && m_cutoff != kNoRankCeiling) {
        Rank cheap = 0;
        for (std::size_t k = 0; k < m_tokens.size() && cheap <= m_cutoff; ++k) {
            const TokenFilter& t = m_tokens[k];
            const FolderAnswer* a = answers[k] ? &tiersAtHand(k) : nullptr;
            Rank r;
            if (wholeMayBeInName(t, f))
                r = std::min(nameTierFloor(t, f), tokenBound(t, a, f, false).rank);
            else if ((f.nameCharacters & t.wholeMask) == t.wholeMask)
                r = subsequenceBound(t, a, f).rank;
            else
                r = tokenBound(t, a, f, false).rank;
            cheap = std::max(cheap, r);
        }
        if (cheap > m_cutoff)
            return false;
    }
    // The name is read while collecting, as the names come in order: the order
    // of the tokens' characters in it costs little to test and settles most
    // bounds. The ranking of name tiers waits for refine(), which does it for
    // the candidates a search can reach, unless a cutoff is kept: then their
    // exact ranks lower it from the start. Collecting without bounds leaves
    // the name to the full tests.
    if (!readName && nameTells && !bound)
        return true;
    // The whole item only where a name tier is ranked; else its normalised forms.
    const bool rankNames = readName && wholeTiers;
    std::string_view normalized, normalizedStem;
    const bool stemApart = !f.has(ItemFacts::StemIsHead);
    // Case-sensitive forms of a name that is not ASCII are worked out anew;
    // there the name tiers are left to the full tests.
    std::optional<NameForms> names;
    if (nameTells) {
        if (rankNames) {
            // The forms point into the source's storage, not into the item.
            const ItemRef item = m_source.nameFormsAt(index);
            normalized = item.normalizedSearchName;
            normalizedStem = item.normalizedSearchNameWithoutExtension;
            if (!m_query.query.caseSensitive || f.has(ItemFacts::AsciiName))
                names.emplace(item, m_query.query.caseSensitive);
        } else {
            const ItemSource::NameViews views = m_source.namesAt(index);
            normalized = views.normalized;
            normalizedStem = views.normalizedStem;
        }
    }
    const auto inName = [&](std::string_view part) {
        return textscan::bytesInOrder(part, normalized) || (stemApart && textscan::bytesInOrder(part, normalizedStem));
    };
    bool nameTiersWait = false;
    // An item whose folder is unknown had no path filter applied yet.
    const bool filtersDone = f.folder != ItemFacts::kNoFolder || !m_query.pathFilter;
    CandidateBound total{0, m_boundsCanBeExact && filtersDone && !f.has(ItemFacts::ToolingArtifact), true};
    for (std::size_t k = 0; k < m_tokens.size(); ++k) {
        const TokenFilter& t = m_tokens[k];
        const bool restEmpty = matched[k] + 1 == t.offsets.size();
        const bool restOneExact = matched[k] + 2 == t.offsets.size() && t.lastExact;  // its bit was tested
        const std::string_view rest = std::string_view(t.normalized).substr(t.offsets[matched[k]]);
        // The whole token in order in the name holds its rest in order too.
        const bool wholeInName = bound && (f.nameCharacters & t.wholeMask) == t.wholeMask &&
                                 (t.singleExact || inName(t.normalized));
        const bool restInName = restEmpty || restOneExact || wholeInName || inName(rest);
        if (!restInName)
            return false;
        if (!bound)
            continue;
        CandidateBound b;
        if (wholeInName && !wholeMayBeInName(t, f)) {
            // In order in the name, never whole: the name-subsequence tier or a
            // path tier, whichever is lower; the latter as tokenBound() knows it.
            b = subsequenceBound(t, answers[k] ? &tiersAtHand(k) : nullptr, f);
        } else if (wholeInName && !readName) {
            const Rank path = tokenBound(t, answers[k] ? &tiersAtHand(k) : nullptr, f, false).rank;
            b = {std::min(nameTierFloor(t, f), path), false};
            nameTiersWait = true;
        } else if (wholeInName) {
            // A name-tier rank below every other tier is the token's rank.
            const std::optional<Rank> r =
                names ? rankForToken(*t.prepared, *names, m_query.query.matchMode) : std::nullopt;
            if (r && *r < m_firstTierBeyondName)
                b = {*r, true};
            else
                b = {names ? std::min(r.value_or(kNoRankCeiling), m_firstTierBeyondName) : 0, false};
        } else {
            b = tokenBound(t, answers[k] ? &tiersAtHand(k) : nullptr, f, false);
            // The subsequence tier reads the normalised name, not its stem; a
            // name not read is known to hold the rest only with its stem as its head.
            b.exact = b.exact && (restEmpty || (!stemApart ? restInName
                                                           : nameTells && textscan::bytesInOrder(rest, normalized)));
        }
        // The item takes its worst token's rank.
        total.exact = total.exact && b.exact;
        total.rank = std::max(total.rank, b.rank);
    }
    if (bound) {
        if (total.rank > m_cutoff)
            return false;
        total.refined = !nameTiersWait;
        *bound = total;
    }
    return true;
}

bool CandidateFilter::patternMayMatch(std::uint32_t index, const ItemFacts& f)
{
    // Only a plain name lets the hints and the direct wildcard match speak.
    if (!f.has(ItemFacts::PlainName))
        return true;
    for (const PatternHints& h : m_hints)
        if (!fitsHints(h, f))
            return false;
    if (m_query.mode == PreparedQuery::Mode::Wildcard && m_query.plainWildcard)
        return matchesPlainWildcard(m_source.nameAt(index), *m_query.plainWildcard, m_query.query.caseSensitive);
    return true;
}

bool CandidateFilter::passesPathFilter(std::uint32_t folder)
{
    std::uint8_t& answer = m_pathFilterAnswers[folder];
    if (answer == 0) {
        const FolderForms forms = m_source.folder(folder);
        // The parent folder in the form the filter compares it in (see comparableParentPath).
        std::string nfc;
        std::string_view parent = forms.comparable;
        if (m_query.query.caseSensitive) {
            if (!forms.asciiPath)
                nfc = text::toNFC(forms.path);
            parent = forms.asciiPath ? forms.path : std::string_view(nfc);
        }
        answer = textscan::contains(parent, *m_query.pathFilter) ? 2 : 1;
    }
    return answer == 2;
}

bool CandidateFilter::passesFacts(const ItemFacts& f)
{
    if ((f.bits & m_rejectBits) != 0 || (f.bits & m_requiredMask) != m_requiredValue)
        return false;
    if (m_anyOfBits != 0 && (f.bits & m_anyOfBits) == 0)
        return false;
    if (!m_pathFilterAnswers.empty() && f.folder != ItemFacts::kNoFolder && !passesPathFilter(f.folder))
        return false;
    return m_tokens.empty() || !nameLacksFolderRest(f);
}

bool CandidateFilter::passesNames(std::uint32_t index, const ItemFacts& f, CandidateBound* bound)
{
    if (bound)
        *bound = CandidateBound{m_constantRank, false, true};
    if (!m_tokens.empty() && !namesMayMatch(index, f, bound, bound && m_keep > 0))
        return false;
    if (!m_hints.empty() && !patternMayMatch(index, f))
        return false;
    return true;
}

bool CandidateFilter::refine(std::uint32_t index, CandidateBound& bound)
{
    if (bound.refined)
        return true;
    return namesMayMatch(index, m_facts[index], &bound, true);
}

void CandidateFilter::keepBest(std::size_t limit, SharedCutoff* shared, std::uint32_t sharedBelow)
{
    if (m_query.mode != PreparedQuery::Mode::Ranked || !ranksFirst(m_query) || limit == 0)
        return;
    m_keep = limit;
    m_exactRanks.assign(kCountedRanks, 0);
    m_shared = shared;
    m_sharedBelow = sharedBelow;
    if (m_shared)
        takeSharedCutoff();
}

void CandidateFilter::lowerCutoffTo(Rank cutoff)
{
    if (cutoff >= m_cutoff)
        return;
    // What is counted at or below the cutoff is the sum of the counts up to it.
    if (m_cutoff == kNoRankCeiling) {
        m_atOrBelowCutoff = 0;
        for (Rank r = 0; r <= cutoff; ++r)
            m_atOrBelowCutoff += m_exactRanks[std::size_t(r)];
    } else {
        for (Rank r = m_cutoff; r > cutoff; --r)
            m_atOrBelowCutoff -= m_exactRanks[std::size_t(r)];
    }
    m_cutoff = cutoff;
}

void CandidateFilter::shareExactRanks()
{
    lowerCutoffTo(m_shared->add(std::span<const Rank>(m_pending, m_pendingCount)));
    m_pendingCount = 0;
}

void CandidateFilter::takeSharedCutoff()
{
    lowerCutoffTo(m_shared->cutoff());
    m_untilLook = kCandidatesPerLook;
}

void CandidateFilter::forgetCutoff()
{
    std::fill(m_exactRanks.begin(), m_exactRanks.end(), 0);
    m_atOrBelowCutoff = 0;
    m_cutoff = kNoRankCeiling;
}

void CandidateFilter::noteExact(Rank rank, std::uint32_t index)
{
    // Once `limit` results are known to rank at or below the cutoff, the
    // search keeps none ranked above it: with rank first, such a one goes
    // after all of them.
    if (m_keep == 0 || rank >= Rank(kCountedRanks) || rank > m_cutoff)
        return;
    ++m_exactRanks[std::size_t(rank)];
    ++m_atOrBelowCutoff;
    if (m_shared && index < m_sharedBelow) {
        m_pending[m_pendingCount++] = rank;
        if (m_pendingCount == kSharedBatch)
            shareExactRanks();
    }
    if (m_cutoff == kNoRankCeiling) {
        if (m_atOrBelowCutoff < m_keep)
            return;
        m_cutoff = Rank(kCountedRanks) - 1;
    }
    while (m_cutoff > 0 && m_atOrBelowCutoff - m_exactRanks[std::size_t(m_cutoff)] >= m_keep)
        m_atOrBelowCutoff -= m_exactRanks[std::size_t(m_cutoff--)];
}

void CandidateFilter::collectPassed(std::uint32_t index, std::vector<std::uint32_t>& out,
                                    std::vector<CandidateBound>* bounds)
{
    CandidateBound bound;
    if (!passesNames(index, m_facts[index], bounds ? &bound : nullptr))
        return;
    out.push_back(index);
    if (bounds) {
        bounds->push_back(bound);
        if (bound.exact)
            noteExact(bound.rank, index);
    }
}

template <typename IndexAt>
void CandidateFilter::collectInBlocks(std::size_t count, IndexAt indexAt, std::vector<std::uint32_t>& out,
                                      std::vector<CandidateBound>* bounds)
{
    constexpr std::size_t kBlock = 64;
    const std::size_t size = m_source.size();
    const std::size_t blocks = (count + kBlock - 1) / kBlock;
    std::vector<std::uint32_t> passed[3];  // by block number modulo 3
    for (std::size_t b = 0; b < blocks + 2; ++b) {
        if (b < blocks) {
            std::vector<std::uint32_t>& fetching = passed[b % 3];
            fetching.clear();
            for (std::size_t k = b * kBlock; k < std::min(count, (b + 1) * kBlock); ++k) {
                if (m_shared && --m_untilLook == 0)
                    takeSharedCutoff();
                const std::uint32_t index = indexAt(k);
                if (index >= size || !passesFacts(m_facts[index]))
                    continue;
                fetching.push_back(index);
                m_source.prefetchRecord(index);
            }
        }
        if (b >= 1 && b <= blocks)
            for (std::uint32_t index : passed[(b - 1) % 3])
                m_source.prefetchNames(index);
        if (b >= 2)
            for (std::uint32_t index : passed[(b - 2) % 3])
                collectPassed(index, out, bounds);
    }
}

void CandidateFilter::collect(std::uint32_t first, std::uint32_t last, std::vector<std::uint32_t>& out,
                              std::vector<CandidateBound>* bounds)
{
    const auto at = [first](std::size_t k) { return static_cast<std::uint32_t>(first + k); };
    collectInBlocks(last > first ? last - first : 0, at, out, bounds);
    finishCollecting();
}

void CandidateFilter::collect(std::span<const std::uint32_t> candidates, std::vector<std::uint32_t>& out,
                              std::vector<CandidateBound>* bounds)
{
    collectInBlocks(candidates.size(), [candidates](std::size_t k) { return candidates[k]; }, out, bounds);
    finishCollecting();
}

void CandidateFilter::finishCollecting()
{
    // The others' cutoff serves the names this filter reads later.
    if (m_shared) {
        shareExactRanks();
        takeSharedCutoff();
    }
}

} // namespace pallix
