#include "Core/Search/CandidateFilter.h"

#include <limits>

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
    for (std::size_t i = 0; i < comparable.size();) {
        if (static_cast<unsigned char>(comparable[i]) < 0x80) {
            ++i;
            continue;
        }
        if (!isCoveredIdeograph(text::nextCodePoint(comparable, i)))
            return false;
    }
    return true;
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
    , m_query(query)
    , m_facts(source.facts())
    , m_folderCount(source.folderCount())
    , m_firstPathTier(firstPathTierRank(query.query.matchMode))
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
        if (!coversToken(token.comparable) || token.normalized.size() >= kUnknown)
            continue;
        TokenFilter t;
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
        m_tokens.push_back(std::move(t));
    }
    m_folderAnswers.resize(m_tokens.size() * m_folderCount);
}

bool CandidateFilter::nameMaskUsable(const ItemFacts& f) const
{
    // A case-sensitive search folds the name as it is; the stored forms fold it
    // lower-cased, which for a name that is not ASCII may differ.
    return !m_query.query.caseSensitive || f.has(ItemFacts::AsciiName);
}

const CandidateFilter::FolderAnswer& CandidateFilter::answer(std::size_t token, std::uint32_t folder)
{
    FolderAnswer& a = m_folderAnswers[token * m_folderCount + folder];
    if (a.matched != kUnknown)
        return a;
    const TokenFilter& t = m_tokens[token];
    const FolderForms forms = m_source.folder(folder);
    // Case-sensitive, ranking reads the folder's own forms, not the lower-cased
    // ones; the two agree for ASCII. Otherwise assume the folder holds the
    // whole token and is as short as can be, which turns nothing down.
    if (m_query.query.caseSensitive && !forms.asciiPath) {
        a.matched = static_cast<std::uint16_t>(t.tailMasks.size() - 1);
        a.pathFloor = static_cast<std::int32_t>(m_firstPathTier);
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
    // The item's path holds the folder's: at least as many characters.
    const Rank floor = lowestPathTierRank(m_query.query.matchMode, forms.comparableCount, forms.normalizedCount,
                                          t.comparableCount, t.normalizedCount);
    a.pathFloor = static_cast<std::int32_t>(std::min<Rank>(floor, std::numeric_limits<std::int32_t>::max()));
    return a;
}

bool CandidateFilter::namesMayMatch(const ItemFacts& f)
{
    if (!nameMaskUsable(f))
        return true;
    for (std::size_t k = 0; k < m_tokens.size(); ++k) {
        const TokenFilter& t = m_tokens[k];
        std::uint64_t need;
        if (m_wholeTokenInName) {
            need = t.wholeMask;
        } else if (f.folder == ItemFacts::kNoFolder) {
            need = 0;  // a path the facts know nothing about
        } else {
            const FolderAnswer& known = m_folderAnswers[k * m_folderCount + f.folder];
            need = t.tailMasks[known.matched != kUnknown ? known.matched : answer(k, f.folder).matched];
        }
        if ((f.nameCharacters & need) != need)
            return false;
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

bool CandidateFilter::mayBeResult(std::uint32_t index)
{
    const ItemFacts& f = m_facts[index];
    if ((f.bits & m_rejectBits) != 0 || (f.bits & m_requiredMask) != m_requiredValue)
        return false;
    if (m_anyOfBits != 0 && (f.bits & m_anyOfBits) == 0)
        return false;
    if (!m_pathFilterAnswers.empty() && f.folder != ItemFacts::kNoFolder && !passesPathFilter(f.folder))
        return false;
    if (!m_tokens.empty() && !namesMayMatch(f))
        return false;
    if (!m_hints.empty() && !patternMayMatch(index, f))
        return false;
    return true;
}

void CandidateFilter::collect(std::uint32_t first, std::uint32_t last, std::vector<std::uint32_t>& out)
{
    for (std::uint32_t i = first; i < last; ++i)
        if (mayBeResult(i))
            out.push_back(i);
}

void CandidateFilter::collect(std::span<const std::uint32_t> candidates, std::vector<std::uint32_t>& out)
{
    const std::size_t size = m_source.size();
    for (std::uint32_t i : candidates)
        if (i < size && mayBeResult(i))
            out.push_back(i);
}

bool CandidateFilter::mayRankWithin(std::uint32_t index, Rank maxRank)
{
    if (m_tokens.empty() || maxRank >= kNoRankCeiling)
        return true;
    const ItemFacts& f = m_facts[index];
    if (!nameMaskUsable(f))
        return true;
    // The item takes its worst token's rank: every token must rank within the
    // bound, and where its path tiers cannot, only its name can.
    for (std::size_t k = 0; k < m_tokens.size(); ++k) {
        const Rank floor = f.folder == ItemFacts::kNoFolder ? m_firstPathTier : answer(k, f.folder).pathFloor;
        if (maxRank < floor && (f.nameCharacters & m_tokens[k].wholeMask) != m_tokens[k].wholeMask)
            return false;
    }
    return true;
}

} // namespace pallix
