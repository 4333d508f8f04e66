#include "Core/IndexDB/TypingScan.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/ItemTableArena.h"
#include "Core/Search/TextScan.h"
#include "Platform/Parallel.h"
#include "Platform/Clock.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

// A chunk is also how often a scan looks for its cancellation.
constexpr std::size_t kChunkItems = 2048;
constexpr std::size_t kMaxFolderNeedles = 16;
// Below this many items a second thread costs more than it saves.
constexpr std::size_t kItemsPerThread = 32768;

bool matchesUnder(SearchMatchMode mode, std::string_view haystack, std::string_view needle)
{
    switch (mode) {
    case SearchMatchMode::Contains: return haystack.find(needle) != std::string_view::npos;
    case SearchMatchMode::Prefix: return haystack.starts_with(needle);
    case SearchMatchMode::Suffix: return haystack.ends_with(needle);
    case SearchMatchMode::Exact: return haystack == needle;
    }
    return false;
}

// The path lower-cased into a reused buffer; ASCII paths skip the full Unicode mapping.
std::string_view loweredPath(std::string_view path, std::string& buffer)
{
    if (!text::isAscii(path)) {
        buffer = text::lower(path);
        return buffer;
    }
    buffer.assign(path);
    for (char& c : buffer)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return buffer;
}

// Chunks of the list handed out in list order. Once the chunks finished from
// the start hold `cap` matches, no later chunk can add to the answer.
class ChunkQueue {
public:
    ChunkQueue(std::size_t count, std::size_t cap) : m_matches(count, 0), m_finished(count, false), m_cap(cap) {}

    std::size_t count() const { return m_matches.size(); }

    std::optional<std::size_t> take()
    {
        if (m_enough.load(std::memory_order_acquire))
            return std::nullopt;
        const std::size_t k = m_next.fetch_add(1, std::memory_order_relaxed);
        return k < count() ? std::optional<std::size_t>(k) : std::nullopt;
    }

    void finish(std::size_t chunk, std::size_t matches)
    {
        std::lock_guard lock(m_mutex);
        m_matches[chunk] = matches;
        m_finished[chunk] = true;
        while (m_finishedFromStart < count() && m_finished[m_finishedFromStart] && m_matchesFromStart < m_cap)
            m_matchesFromStart += m_matches[m_finishedFromStart++];
        if (m_matchesFromStart >= m_cap) {
            m_neededEnd = m_finishedFromStart;
            m_enough.store(true, std::memory_order_release);
        }
    }

    // True when the chunks before `chunk` are known to hold the cap.
    bool pastCap(std::size_t chunk)
    {
        if (!m_enough.load(std::memory_order_acquire))
            return false;
        std::lock_guard lock(m_mutex);
        return chunk >= m_neededEnd;
    }

    // Read after every worker has returned.
    std::size_t finishedFromStart() const { return m_finishedFromStart; }

private:
    std::vector<std::size_t> m_matches;
    std::vector<bool> m_finished;
    const std::size_t m_cap;
    std::mutex m_mutex;
    std::size_t m_finishedFromStart = 0;  // under m_mutex, as is the rest of the bookkeeping
    std::size_t m_matchesFromStart = 0;
    std::size_t m_neededEnd = 0;  // once enough: past the chunk that reached the cap
    std::atomic<std::size_t> m_next{0};
    std::atomic<bool> m_enough{false};
};

// The characterMask() of the characters of `needle` that a name's
// normalised form keeps as they are in its lower-cased form.
std::uint64_t keptCharacters(std::string_view needle)
{
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < needle.size();) {
        const std::size_t at = i;
        const char32_t c = static_cast<unsigned char>(needle[i]) < 0x80 ? char32_t(needle[i++]) : text::nextCodePoint(needle, i);
        const bool kept = (c < 0x80 && text::isAsciiAlnum(static_cast<char>(c))) || (c >= 0x4E00 && c <= 0x9FFF) ||
                          (c >= 0x3400 && c <= 0x4DBF);
        if (kept)
            mask |= ItemFacts::characterMask(needle.substr(at, i - at));
    }
    return mask;
}

// The pairMask() bits of the pairs of adjacent ASCII letters and digits of `needle`.
std::uint32_t keptPairs(std::string_view needle)
{
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i + 1 < needle.size(); ++i)
        if (text::isAsciiAlnum(needle[i]) && text::isAsciiAlnum(needle[i + 1]))
            mask |= ItemFacts::pairMask(needle.substr(i, 2));
    return mask;
}

// A thread's answers per folder, kept from scan to scan: each entry holds the
// stamp of the scan that wrote it above its mask, so a scan starts without
// clearing anything. A table of every folder made for each slice of each
// scan cost as much as scanning, and its allocations waited on each other.
struct FolderMasks {
    std::vector<std::uint32_t> entries;
    std::uint32_t stamp = 0;

    // A new stamp (1 to 0xFFFF: 0 is no scan's) for a scan of `folders` folders.
    std::uint32_t begin(std::size_t folders)
    {
        if (entries.size() < folders)
            entries.resize(folders, 0);
        if (++stamp > 0xFFFFu) {
            std::fill(entries.begin(), entries.end(), 0);
            stamp = 1;
        }
        return stamp;
    }
};

thread_local FolderMasks t_folderMasks;

} // namespace

// One thread's part of a scan, with its own answers per folder.
class TypingScan::Slice {
public:
    explicit Slice(const TypingScan& scan)
        : m_scan(scan)
        , m_stamp(m_masks.begin(scan.m_items.folderCount()))
        , m_all((1u << scan.m_needles.size()) - 1)
    {
        for (std::size_t i = 0; i < scan.m_nameMasks.size(); ++i) {
            m_everyCharacter |= scan.m_nameMasks[i];
            m_everyPair |= scan.m_namePairs[i];
        }
    }

    // Appends the items of [begin, end) that match to `out`, while it holds
    // fewer than `cap`.
    void scan(std::size_t begin, std::size_t end, std::size_t cap, std::vector<std::uint32_t>& out)
    {
        for (std::size_t p = begin; p < end && out.size() < cap; ++p)
            if (matches(p))
                out.push_back(static_cast<std::uint32_t>(p));
    }

    // Alike, for the items at `positions`.
    void filter(std::span<const std::uint32_t> positions, std::size_t cap, std::vector<std::uint32_t>& out)
    {
        for (std::size_t i = 0; i < positions.size() && out.size() < cap; ++i)
            if (matches(positions[i]))
                out.push_back(positions[i]);
    }

private:
    bool matches(std::size_t p)
    {
        const ItemFacts& f = m_scan.m_items.facts()[p];
        if (!m_scan.m_foldersDecide || f.folder == ItemFacts::kNoFolder)
            return matchesByPath(p);
        // Items arrive grouped by folder: the last folder's answer is kept at hand.
        if (f.folder != m_lastFolder) {
            m_lastFolder = f.folder;
            m_inFolder = folderMask(f.folder);
        }
        return m_inFolder == m_all || (mayHoldTheRest(f, m_inFolder) && nameHoldsTheRest(p, f, m_inFolder));
    }

    // Every needle lacks "/": one is in the path exactly when it is in the
    // folder's path or in the name (the lower-casing of a path is that of
    // its parts: "/" is neither cased nor case-ignorable). False when the
    // name's facts rule out a needle the folder lacks.
    bool mayHoldTheRest(const ItemFacts& facts, std::uint32_t inFolder) const
    {
        const bool asciiName = facts.has(ItemFacts::AsciiName);
        if (inFolder == 0) {
            // Every needle must be in the name: all their bits at once.
            return (facts.nameCharacters & m_everyCharacter) == m_everyCharacter &&
                   (!asciiName || (facts.namePairs & m_everyPair) == m_everyPair);
        }
        for (std::size_t i = 0; i < m_scan.m_nameMasks.size(); ++i) {
            if (inFolder & (1u << i))
                continue;
            if ((facts.nameCharacters & m_scan.m_nameMasks[i]) != m_scan.m_nameMasks[i])
                return false;
            if (asciiName && (facts.namePairs & m_scan.m_namePairs[i]) != m_scan.m_namePairs[i])
                return false;
        }
        return true;
    }

    bool nameHoldsTheRest(std::size_t position, const ItemFacts& facts, std::uint32_t inFolder)
    {
        const auto [name, searchName] = m_scan.m_items.nameAndSearchName(position);
        const std::string_view stored = m_scan.m_caseSensitive ? name : searchName;
        // Only the stored form is composed first; the path's part is not.
        std::optional<std::string> lowered;
        const bool storedSuffices =
            m_scan.m_caseSensitive || facts.has(ItemFacts::LowersAsStored);
        for (std::size_t i = 0; i < m_scan.m_needles.size(); ++i) {
            const std::string& needle = m_scan.m_needles[i];
            if ((inFolder & (1u << i)) || textscan::contains(stored, needle))
                continue;
            if (storedSuffices)
                return false;
            if (!lowered)
                lowered = text::lower(name);
            if (lowered->find(needle) == std::string::npos)
                return false;
        }
        return true;
    }

    bool matchesByPath(std::size_t position)
    {
        const ItemFacts& facts = m_scan.m_items.facts()[position];
        std::optional<ItemRef> joined;
        if (!m_scan.m_caseSensitive)
            joined = joinedLoweredPath(position, facts);
        const ItemRef item = joined ? *joined : m_scan.m_items.at(position);
        const std::string_view name = m_scan.m_caseSensitive ? item.name : item.searchName;
        const std::string_view path = m_scan.m_caseSensitive ? item.path
                                      : joined                ? std::string_view(m_pathBuffer)
                                                              : loweredPath(item.path, m_pathBuffer);
        return std::all_of(m_scan.m_needles.begin(), m_scan.m_needles.end(), [&](const std::string& needle) {
            return matchesUnder(m_scan.m_mode, name, needle) || matchesUnder(m_scan.m_mode, path, needle);
        });
    }

    // The item's name forms, its path lower-cased left in m_pathBuffer,
    // when that is the folder's comparable form joined with the stored
    // lower-cased name; nothing when either needs the full lower-casing.
    std::optional<ItemRef> joinedLoweredPath(std::size_t position, const ItemFacts& facts)
    {
        if (facts.folder == ItemFacts::kNoFolder || !facts.has(ItemFacts::LowersAsStored))
            return std::nullopt;
        const FolderForms forms = m_scan.m_items.folder(facts.folder);
        if (!forms.lowersToComparable)
            return std::nullopt;
        const ItemRef item = m_scan.m_items.nameFormsAt(position);
        // Lower-casing a path is lower-casing its parts: "/" is neither cased nor case-ignorable.
        m_pathBuffer.assign(forms.comparable).append(itemtable::separatorAfter(forms.path)).append(item.searchName);
        return item;
    }

    // Bit i: the folder's path, lower-cased as a whole path is, holds needle i
    // (at most 16 needles).
    std::uint32_t folderMask(std::uint32_t folder)
    {
        std::uint32_t& entry = m_masks.entries[folder];
        if (entry >> 16 != m_stamp)
            entry = m_stamp << 16 | computeMask(folder);
        return entry & 0xFFFFu;
    }

    // The path's form the needles are looked for in: the comparable form is
    // composed first, which the path's lower-casing is not; the table knows,
    // once per folder, whether that changes it.
    std::optional<std::string_view> searchedForm(const FolderForms& forms) const
    {
        if (m_scan.m_caseSensitive)
            return forms.path;
        if (forms.lowersToComparable)
            return forms.comparable;
        return std::nullopt;
    }

    std::uint32_t computeMask(std::uint32_t folder)
    {
        const FolderForms forms = m_scan.m_items.folder(folder);
        const std::optional<std::string_view> form = searchedForm(forms);
        const std::string_view path = form ? *form : loweredPath(forms.path, m_pathBuffer);
        // A needle without "/" is in the path when it is in the parent's or
        // in the part after the last "/": the parent's answer (a lower
        // number, so this ends) leaves only that part to read.
        std::uint32_t mask = 0;
        std::string_view rest = path;
        if (form && forms.parent != ItemFacts::kNoFolder) {
            const std::optional<std::string_view> parentForm = searchedForm(m_scan.m_items.folder(forms.parent));
            if (parentForm && path.starts_with(*parentForm) && path.size() > parentForm->size() &&
                (path[parentForm->size()] == '/' || parentForm->ends_with('/'))) {
                mask = folderMask(forms.parent);
                rest = path.substr(parentForm->size());
            }
        }
        for (std::size_t i = 0; i < m_scan.m_needles.size(); ++i)
            if (!(mask & (1u << i)) && rest.find(m_scan.m_needles[i]) != std::string_view::npos)
                mask |= 1u << i;
        return mask;
    }

    const TypingScan& m_scan;
    FolderMasks& m_masks = t_folderMasks;
    const std::uint32_t m_stamp;
    const std::uint32_t m_all;  // a bit per needle
    // The bits of every needle's characters and pairs, for names in folders holding none.
    std::uint64_t m_everyCharacter = 0;
    std::uint32_t m_everyPair = 0;
    std::uint32_t m_lastFolder = ItemFacts::kNoFolder;
    std::uint32_t m_inFolder = 0;  // the last folder's answer
    std::string m_pathBuffer;
};

TypingScan::TypingScan(const ItemTable& items, const SearchQuery& query)
    : m_items(items)
    , m_mode(query.matchMode)
    , m_caseSensitive(query.caseSensitive)
{
    for (const std::string& token : query.tokens) {
        const std::string_view t = indexsql::trimmed(token);
        if (!t.empty())
            m_needles.push_back(indexsql::caseFolded(t, query.caseSensitive));
    }
    m_foldersDecide = m_mode == SearchMatchMode::Contains && m_needles.size() <= kMaxFolderNeedles &&
                      std::none_of(m_needles.begin(), m_needles.end(),
                                   [](const std::string& n) { return n.find('/') != std::string::npos; });
    if (m_foldersDecide && !m_caseSensitive)
        for (const std::string& needle : m_needles) {
            m_nameMasks.push_back(keptCharacters(needle));
            m_namePairs.push_back(keptPairs(needle));
        }
}

std::vector<std::uint32_t> TypingScan::namesHoldingEveryWord(std::span<const std::uint32_t> positions,
                                                             std::size_t cap, const CancelToken* cancel) const
{
    std::vector<std::uint32_t> found;
    if (m_mode != SearchMatchMode::Contains || m_needles.empty())
        return found;
    const ItemFacts* facts = m_items.facts();
    for (std::size_t i = 0; i < positions.size() && found.size() < cap; ++i) {
        if ((i & 4095) == 4095 && cancel && cancel->isCancelled())
            break;
        const std::uint32_t p = positions[i];
        const auto [name, searchName] = m_items.nameAndSearchName(p);
        const std::string_view stored = m_caseSensitive ? name : searchName;
        const bool storedSuffices = m_caseSensitive || (facts && facts[p].has(ItemFacts::LowersAsStored));
        std::optional<std::string> lowered;
        const bool holdsAll = std::all_of(m_needles.begin(), m_needles.end(), [&](const std::string& needle) {
            if (textscan::contains(stored, needle))
                return true;
            if (storedSuffices)
                return false;
            if (!lowered)
                lowered = text::lower(name);
            return lowered->find(needle) != std::string::npos;
        });
        if (holdsAll)
            found.push_back(p);
    }
    return found;
}

bool TypingScan::narrows(const ScanMemory& memory, std::size_t cap, std::size_t bound) const
{
    if (memory.table != &m_items || memory.version != m_items.version() || memory.cap != cap ||
        memory.bound != bound || memory.caseSensitive != m_caseSensitive || memory.needles.empty())
        return false;
    // An item holding every new word (as a beginning, an end or the whole too)
    // holds each earlier one inside it; the memory is of a Contains scan.
    return std::all_of(memory.needles.begin(), memory.needles.end(), [&](const std::string& earlier) {
        return std::any_of(m_needles.begin(), m_needles.end(),
                           [&](const std::string& now) { return now.find(earlier) != std::string::npos; });
    });
}

void TypingScan::remember(ScanMemory& memory, std::size_t cap, std::size_t bound,
                          const std::vector<std::uint32_t>& matches) const
{
    memory.table = m_mode == SearchMatchMode::Contains ? &m_items : nullptr;
    memory.version = m_items.version();
    memory.caseSensitive = m_caseSensitive;
    memory.needles = m_needles;
    memory.cap = cap;
    memory.bound = bound;
    memory.matches = matches;
}

std::vector<std::uint32_t> TypingScan::collect(std::size_t cap, std::size_t bound, const CancelToken* cancel,
                                               ScanChunkSink* sink, ScanMemory* memory) const
{
    bound = std::min(bound, m_items.size());
    // Narrowing the last scan: its matches hold every match before its last
    // one; past that (when it stopped at the cap) the items are read.
    std::span<const std::uint32_t> known;
    std::size_t from = 0;
    if (memory && narrows(*memory, cap, bound)) {
        known = memory->matches;
        from = memory->matches.size() >= cap && cap > 0 ? std::size_t(memory->matches.back()) + 1 : bound;
    }
    const std::size_t knownChunks = (known.size() + kChunkItems - 1) / kChunkItems;
    const std::size_t rest = bound > from ? bound - from : 0;
    // A known item is most likely a match, whose ranking (on the scanning
    // thread) costs as much as reading many items.
    constexpr std::size_t kKnownWeight = 32;
    const unsigned threads = static_cast<unsigned>(
        std::clamp<std::size_t>((known.size() * kKnownWeight + rest) / kItemsPerThread, 1, spareThreads()));
    ChunkQueue chunks(knownChunks + (rest + kChunkItems - 1) / kChunkItems, cap);
    std::vector<std::vector<std::uint32_t>> found(chunks.count());
    if (sink)
        sink->begin(threads, chunks.count());
    inPooledSlices(threads, threads, [&](unsigned t, std::size_t, std::size_t) {
        Slice slice(*this);
        while (const std::optional<std::size_t> k = chunks.take()) {
            if (cancel && cancel->isCancelled())
                return;
            std::vector<std::uint32_t>& out = found[*k];
            if (*k < knownChunks) {
                slice.filter(known.subspan(*k * kChunkItems, std::min(kChunkItems, known.size() - *k * kChunkItems)),
                             cap, out);
            } else {
                const std::size_t begin = from + (*k - knownChunks) * kChunkItems;
                slice.scan(begin, std::min(bound, begin + kChunkItems), cap, out);
            }
            chunks.finish(*k, out.size());
            // After finish(): the other threads learn of the cap first.
            if (sink && !chunks.pastCap(*k))
                sink->scanned(t, *k, out);
        }
    });
    // The finished chunks from the start: all of them unless cancelled.
    std::vector<std::uint32_t> candidates;
    for (std::size_t k = 0; k < chunks.finishedFromStart() && candidates.size() < cap; ++k)
        candidates.insert(candidates.end(), found[k].begin(), found[k].end());
    if (candidates.size() > cap)
        candidates.resize(cap);
    if (memory) {
        if (cancel && cancel->isCancelled())
            memory->table = nullptr;
        else
            remember(*memory, cap, bound, candidates);
    }
    return candidates;
}

} // namespace pallix
