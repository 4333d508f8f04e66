#include "AnswerCheck.h"

#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>
#include <unordered_set>

#include "Core/IndexDB/SearchKeys.h"
#include "Core/Search/SearchRank.h"
#include "Platform/Text.h"

namespace pallix::bench {

namespace {

constexpr char kSep = '\x1f';

std::string_view trimmedWhiteSpace(std::string_view s)
{
    auto lastStart = [](std::string_view t) {
        std::size_t i = t.size() - 1;
        while (i > 0 && (static_cast<unsigned char>(t[i]) & 0xC0) == 0x80)
            --i;
        return i;
    };
    while (!s.empty()) {
        std::size_t i = 0;
        if (!text::isWhiteSpace(text::nextCodePoint(s, i)))
            break;
        s.remove_prefix(i);
    }
    while (!s.empty()) {
        std::size_t i = lastStart(s);
        const std::size_t start = i;
        if (!text::isWhiteSpace(text::nextCodePoint(s, i)))
            break;
        s.remove_suffix(s.size() - start);
    }
    return s;
}

std::string keyString(std::string_view stem)
{
    std::vector<std::string_view> kept;
    keptCharacters(stem, kept);
    std::string s(1, kSep);
    for (std::string_view c : kept)
        s.append(c).push_back(kSep);
    return s;
}

std::string asciiLowered(std::string_view s)
{
    if (!text::isAscii(s))
        return text::lower(s);
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// SQLite's LIKE without ESCAPE: "%" any run, "_" one character, ASCII letters
// without regard to case.
bool sqlLike(std::string_view pattern, std::string_view subject)
{
    auto fold = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    std::size_t p = 0, s = 0;
    std::size_t starP = std::string_view::npos, starS = 0;
    while (s < subject.size()) {
        if (p < pattern.size()) {
            std::size_t pNext = p, sNext = s;
            const char32_t pc = text::nextCodePoint(pattern, pNext);
            if (pc == '%') {
                starP = p = pNext;
                starS = s;
                continue;
            }
            const char32_t sc = text::nextCodePoint(subject, sNext);
            if (pc == '_' || fold(pc) == fold(sc)) {
                p = pNext;
                s = sNext;
                continue;
            }
        }
        if (starP == std::string_view::npos)
            return false;
        p = starP;
        text::nextCodePoint(subject, starS);
        s = starS;
    }
    while (p < pattern.size() && pattern[p] == '%')
        ++p;
    return p == pattern.size();
}

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

std::optional<std::string> samePaths(const std::vector<IndexedItem>& expected, const std::vector<IndexedItem>& got)
{
    const std::size_t n = std::min(expected.size(), got.size());
    for (std::size_t i = 0; i < n; ++i)
        if (expected[i].path() != got[i].path())
            return "result " + std::to_string(i + 1) + " is " + std::string(got[i].path()) + ", expected " + std::string(expected[i].path());
    if (expected.size() != got.size())
        return std::to_string(got.size()) + " results, expected " + std::to_string(expected.size());
    return std::nullopt;
}

std::string columnText(sqlite3_stmt* row, int column)
{
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(row, column))) : std::string();
}

} // namespace

AnswerCheck::AnswerCheck(const std::filesystem::path& db)
{
    sqlite3* connection = nullptr;
    if (sqlite3_open_v2(db.c_str(), &connection, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(connection);
        throw std::runtime_error("cannot open " + db.string() + " for the answer check");
    }
    sqlite3_stmt* rows = nullptr;
    const char* sql = "SELECT path, name, parent_path, extension, size, modified_at, is_directory "
                      "FROM file_index ORDER BY rowid";
    if (sqlite3_prepare_v2(connection, sql, -1, &rows, nullptr) != SQLITE_OK) {
        sqlite3_close(connection);
        throw std::runtime_error("cannot read the rows of " + db.string());
    }
    while (sqlite3_step(rows) == SQLITE_ROW) {
        m_items.emplace_back(columnText(rows, 0), columnText(rows, 1), columnText(rows, 2), columnText(rows, 3),
                             sqlite3_column_int64(rows, 4), sqlite3_column_double(rows, 5),
                             sqlite3_column_int64(rows, 6) == 1 ? IndexedItem::ItemType::Folder
                                                                : IndexedItem::ItemType::File);
    }
    sqlite3_finalize(rows);
    sqlite3_close(connection);

    m_keys.reserve(m_items.size());
    for (const IndexedItem& item : m_items) {
        const std::string_view normalizedStem = item.normalizedSearchNameWithoutExtension();
        const bool stemIsHead = item.normalizedSearchName().starts_with(normalizedStem);
        m_keys.push_back({keyString(item.searchName()), keyString(item.normalizedSearchName()),
                          stemIsHead ? std::string() : keyString(normalizedStem)});
    }
}

bool AnswerCheck::holds(std::size_t p, const std::string& needle) const
{
    return m_keys[p].plain.find(needle) != std::string::npos ||
           m_keys[p].normalized.find(needle) != std::string::npos || m_keys[p].stem.find(needle) != std::string::npos;
}

std::vector<std::string> AnswerCheck::keyNeedlesOf(const std::string& token)
{
    std::vector<std::string_view> kept;
    keptCharacters(token, kept);
    std::vector<std::string> needles;
    for (std::size_t i = 0; i + 1 < kept.size(); ++i) {
        std::string needle = kSep + std::string(kept[i]) + kSep + std::string(kept[i + 1]) + kSep;
        if (std::find(needles.begin(), needles.end(), needle) == needles.end())
            needles.push_back(std::move(needle));
    }
    if (kept.size() == 1)
        needles.push_back(kSep + std::string(kept.front()) + kSep);
    return needles;
}

std::optional<std::vector<std::uint32_t>> AnswerCheck::candidatePositions(const SearchQuery& q) const
{
    if (q.useRegularExpression || q.wildcardPattern || q.pathFilter || q.extensionFilter || q.modifiedAfter ||
        q.tokens.size() != 1 || trimmedWhiteSpace(q.tokens.front()).empty())
        return std::nullopt;
    const std::string token(trimmedWhiteSpace(q.tokens.front()));
    const std::vector<std::string> needles = keyNeedlesOf(token);
    if (needles.empty())
        return std::nullopt;
    // A key that no item holds leaves the whole selection empty-handed.
    for (const std::string& needle : needles) {
        bool found = false;
        for (std::size_t p = 0; p < m_keys.size() && !found; ++p)
            found = holds(p, needle);
        if (!found)
            return std::nullopt;
    }
    std::vector<std::uint32_t> positions;
    for (std::size_t p = 0; p < m_keys.size(); ++p)
        if (std::all_of(needles.begin(), needles.end(), [&](const std::string& n) { return holds(p, n); }))
            positions.push_back(static_cast<std::uint32_t>(p));
    if (positions.empty())
        return std::nullopt;
    return positions;
}

std::vector<IndexedItem> AnswerCheck::rankAll(const SearchQuery& query, int limit) const
{
    return m_engine.search(m_items, query, limit);
}

std::vector<IndexedItem> AnswerCheck::itemsAt(const std::vector<std::uint32_t>& positions) const
{
    std::vector<IndexedItem> out;
    out.reserve(positions.size());
    for (std::uint32_t p : positions)
        out.push_back(m_items[p]);
    return out;
}

std::optional<std::string> AnswerCheck::checkComplete(const IndexStoreProbe& store, const SearchQuery& query, int limit,
                                                      const std::vector<IndexedItem>& answer) const
{
    const std::optional<std::vector<std::uint32_t>> reference = candidatePositions(query);
    const std::optional<std::vector<IndexedItem>> fromStore = store.fastCandidateItems(query);
    std::vector<IndexedItem> expected;
    if (!reference) {
        if (fromStore)
            return "the store picked " + std::to_string(fromStore->size()) + " index candidates, expected none";
        m_lastRoute = "all items";
        expected = rankAll(query, limit);
    } else {
        if (!fromStore)
            return "the store picked no index candidates, expected " + std::to_string(reference->size());
        if (fromStore->size() != reference->size())
            return "the store picked " + std::to_string(fromStore->size()) + " index candidates, expected " +
                   std::to_string(reference->size());
        std::unordered_set<std::string_view> allowed;
        for (std::uint32_t p : *reference)
            allowed.insert(m_items[p].path());
        for (const IndexedItem& item : *fromStore)
            if (!allowed.contains(item.path()))
                return "index candidate " + std::string(item.path()) + " does not hold the word's pairs";
        m_lastRoute = "index candidates";
        expected = m_engine.search(*fromStore, query, limit);
        if (expected.empty() && fromStore->size() < m_items.size()) {
            m_lastRoute += ", then all items";
            expected = rankAll(query, limit);
        }
    }
    return samePaths(expected, answer);
}

std::optional<std::string> AnswerCheck::checkScan(const SearchQuery& query, int limit, int hardCap,
                                                  const std::vector<IndexedItem>& answer) const
{
    const std::size_t n = m_items.size();
    const std::size_t cap = static_cast<std::size_t>(std::max(hardCap, 0));
    std::vector<std::string> needles;
    for (const std::string& token : query.tokens) {
        const std::string_view t = trimmedWhiteSpace(token);
        if (!t.empty())
            needles.push_back(query.caseSensitive ? std::string(t) : text::lower(t));
    }
    auto firstPositions = [](std::size_t count) {
        std::vector<std::uint32_t> out(count);
        for (std::size_t p = 0; p < count; ++p)
            out[p] = static_cast<std::uint32_t>(p);
        return out;
    };
    std::vector<std::uint32_t> candidates;
    if (needles.empty()) {
        candidates = firstPositions(std::min(n, cap));
    } else {
        const std::size_t bound = cap >= 10000 ? std::min(cap * 8, n) : std::min<std::size_t>(n, 80000);
        for (std::size_t p = 0; p < bound && candidates.size() < cap; ++p) {
            const IndexedItem& item = m_items[p];
            const std::string name(query.caseSensitive ? std::string_view(item.name()) : item.searchName());
            const std::string path = query.caseSensitive ? std::string(item.path()) : asciiLowered(item.path());
            if (std::all_of(needles.begin(), needles.end(), [&](const std::string& needle) {
                    return matchesUnder(query.matchMode, name, needle) || matchesUnder(query.matchMode, path, needle);
                }))
                candidates.push_back(static_cast<std::uint32_t>(p));
        }
        const std::vector<IndexedItem> ranked = m_engine.search(itemsAt(candidates), query, limit);
        // The names past the scan's reach join it (the store's indexes are
        // complete here), up to the limit: every one holding all the words
        // while the answer is short or holds a match beyond the names, those
        // beginning with the first word while names below the word starts fill it.
        std::optional<std::int64_t> worst = 0;
        for (const IndexedItem& item : ranked)
            if (worst) {
                const std::optional<std::int64_t> rank = SearchEngine::nameMatchRank(item.ref(), query);
                worst = rank ? std::optional(std::max(*worst, *rank)) : std::nullopt;
            }
        const bool every = ranked.size() < static_cast<std::size_t>(std::max(limit, 0)) || !worst ||
                           *worst >= kNameSubsequenceRank;
        const bool leading = !every && *worst >= kWordStartRank;
        const std::size_t reach =
            !candidates.empty() && candidates.size() >= cap ? std::size_t(candidates.back()) + 1 : bound;
        const std::string firstWord = text::lower(needles.front());  // the keys are lower case
        const std::vector<std::string_view> firstKept = [&] {
            std::vector<std::string_view> kept;
            keptCharacters(firstWord, kept);
            kept.resize(std::min<std::size_t>(kept.size(), 4));
            return kept;
        }();
        std::string head(1, kSep);
        for (std::string_view c : firstKept)
            head.append(c).push_back(kSep);
        const bool namesJoin =
            (every || leading) && query.matchMode == SearchMatchMode::Contains && !query.useRegularExpression &&
            !query.wildcardPattern && (!leading || !firstKept.empty()) &&
            std::none_of(needles.begin(), needles.end(), [](const std::string& w) { return w.find('/') != w.npos; }) &&
            std::any_of(needles.begin(), needles.end(), [](const std::string& w) { return !searchCharacters(w).empty(); });
        std::vector<std::uint32_t> later;
        const std::size_t budget = std::min(cap, static_cast<std::size_t>(std::max(limit, 0)));
        for (std::size_t p = reach; namesJoin && p < n && later.size() < budget; ++p) {
            const IndexedItem& item = m_items[p];
            if (leading && !m_keys[p].plain.starts_with(head) && !m_keys[p].normalized.starts_with(head) &&
                !m_keys[p].stem.starts_with(head))
                continue;
            const std::string_view name = query.caseSensitive ? std::string_view(item.name()) : item.searchName();
            // The lower-cased name as it is, not composed first, holds some words too.
            std::optional<std::string> lowered;
            auto nameHolds = [&](const std::string& w) {
                if (name.find(w) != name.npos)
                    return true;
                if (query.caseSensitive || text::isAscii(item.name()))
                    return false;
                if (!lowered)
                    lowered = text::lower(item.name());
                return lowered->find(w) != std::string::npos;
            };
            if (std::all_of(needles.begin(), needles.end(), nameHolds))
                later.push_back(static_cast<std::uint32_t>(p));
        }
        if (!later.empty()) {
            std::vector<std::uint32_t> all = candidates;
            all.insert(all.end(), later.begin(), later.end());
            std::vector<IndexedItem> joined = m_engine.search(itemsAt(all), query, limit);
            if (!joined.empty())
                return samePaths(joined, answer);
        }
        if (!candidates.empty())
            return samePaths(ranked, answer);
        candidates = firstPositions(std::min<std::size_t>(n, 6000));
    }
    return samePaths(m_engine.search(itemsAt(candidates), query, limit), answer);
}

std::optional<std::string> AnswerCheck::checkDatabase(const SearchQuery& query, int limit,
                                                      const std::vector<IndexedItem>& answer) const
{
    std::vector<IndexedItem> expected;
    const bool runs = limit >= 1 && TypingRoad::hasSearchIntent(query) && query.tokens.size() == 1 &&
                      !trimmedWhiteSpace(query.tokens.front()).empty();
    if (runs) {
        if (query.typeFilter || query.extensionFilter || query.pathFilter || query.wildcardPattern)
            return "the database check knows no filter clauses; leave filters out of the query set";
        const std::size_t rowLimit = static_cast<std::size_t>(std::clamp(limit * 6, 600, 3600));
        std::optional<text::Regex> expression;
        std::string pattern;
        if (query.useRegularExpression) {
            expression = text::Regex::compile(query.tokens.front(), !query.caseSensitive);
        } else {
            const std::string_view token = trimmedWhiteSpace(query.tokens.front());
            pattern = (query.caseSensitive ? std::string(token) : text::lower(token)) + "%";
        }
        std::vector<IndexedItem> rows;
        for (const IndexedItem& item : m_items) {
            if (rows.size() == rowLimit)
                break;
            const bool match = query.useRegularExpression
                                   ? expression && expression->search(item.name())
                                   : sqlLike(pattern, query.caseSensitive ? item.name() : text::lower(item.name()));
            if (match)
                rows.push_back(item);
        }
        if (!rows.empty())
            expected = m_engine.search(rows, query, limit);
    }
    return samePaths(expected, answer);
}

} // namespace pallix::bench
