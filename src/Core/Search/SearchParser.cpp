#include "Core/Search/SearchParser.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "Platform/Text.h"

namespace pallix {

namespace {

// Separators beyond the punctuation and symbol categories. Every one of them is
// in P or S today; listing them keeps them separators whatever ICU's data says.
constexpr std::string_view kExtraSeparators = "，。、《》【】（）()“”‘’；：！!？?、|·•—-—_+=~`^$#@%&…";

bool isExtraSeparator(char32_t c)
{
    static const std::vector<char32_t> set = [] {
        std::vector<char32_t> out;
        for (std::size_t i = 0; i < kExtraSeparators.size();)
            out.push_back(text::nextCodePoint(kExtraSeparators, i));
        std::sort(out.begin(), out.end());
        return out;
    }();
    return std::binary_search(set.begin(), set.end(), c);
}

bool isSeparator(char32_t c) { return text::isPunctuationOrSymbol(c) || isExtraSeparator(c); }

// Parts between runs of White_Space characters; no empty part.
std::vector<std::string_view> splitAtWhiteSpace(std::string_view s)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t at = i;
        if (text::isWhiteSpace(text::nextCodePoint(s, i))) {
            if (at > start)
                parts.push_back(s.substr(start, at - start));
            start = i;
        }
    }
    if (start < s.size())
        parts.push_back(s.substr(start));
    return parts;
}

std::string_view trimWhiteSpace(std::string_view s)
{
    while (!s.empty()) {
        std::size_t i = 0;
        char32_t c = text::nextCodePoint(s, i);
        if (!text::isWhiteSpace(c))
            break;
        s.remove_prefix(i);
    }
    while (!s.empty()) {
        // Step back to the start of the last code point.
        std::size_t start = s.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
            --start;
        std::size_t i = start;
        if (!text::isWhiteSpace(text::nextCodePoint(s, i)))
            break;
        s.remove_suffix(s.size() - start);
    }
    return s;
}

void appendNameTokens(std::string_view part, std::vector<std::string>& tokens)
{
    auto flush = [&tokens](std::string_view piece) {
        piece = trimWhiteSpace(piece);
        if (!piece.empty())
            tokens.push_back(text::toNFC(piece));
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i < part.size();) {
        std::size_t at = i;
        if (isSeparator(text::nextCodePoint(part, i))) {
            flush(part.substr(start, at - start));
            start = i;
        }
    }
    flush(part.substr(start));
}

// `s` without its first `n` user-perceived characters.
std::string_view dropGraphemes(std::string_view s, std::size_t n)
{
    return s.substr(text::graphemeByteOffset(s, n));
}

std::tm localTime(double seconds)
{
    std::time_t t = static_cast<std::time_t>(std::floor(seconds));
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

// mktime with the time zone's own idea of daylight saving time.
std::optional<Date> makeLocal(std::tm tm)
{
    tm.tm_isdst = -1;
    errno = 0;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && errno != 0)
        return std::nullopt;
    return static_cast<Date>(t);
}

std::optional<Date> startOfDay(double now, int dayOffset)
{
    std::tm tm = localTime(now);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_mday += dayOffset;
    return makeLocal(tm);
}

// Calendar days back, keeping the wall-clock time of day (and its fraction).
std::optional<Date> daysBefore(double now, int days)
{
    std::tm tm = localTime(now);
    tm.tm_mday -= days;
    std::optional<Date> d = makeLocal(tm);
    if (!d)
        return std::nullopt;
    return *d + (now - std::floor(now));
}

// Digits only, between `minDigits` and `maxDigits` of them.
std::optional<int> readNumber(std::string_view s, std::size_t minDigits, std::size_t maxDigits)
{
    if (s.size() < minDigits || s.size() > maxDigits)
        return std::nullopt;
    int value = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Strict yyyy-MM-dd: the day must exist, and nothing may follow it.
std::optional<Date> parseDay(std::string_view value)
{
    std::size_t first = value.find('-');
    std::size_t second = first == std::string_view::npos ? first : value.find('-', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    auto year = readNumber(value.substr(0, first), 1, 6);
    auto month = readNumber(value.substr(first + 1, second - first - 1), 1, 2);
    auto day = readNumber(value.substr(second + 1), 1, 2);
    if (!year || !month || !day || *year < 1 || *month < 1 || *month > 12 || *day < 1)
        return std::nullopt;

    std::tm tm{};
    tm.tm_year = *year - 1900;
    tm.tm_mon = *month - 1;
    tm.tm_mday = *day;
    std::tm normalised = tm;
    normalised.tm_isdst = -1;
    errno = 0;
    std::time_t t = std::mktime(&normalised);
    if (t == static_cast<std::time_t>(-1) && errno != 0)
        return std::nullopt;
    // mktime rolls 30 February over into March; the formatter refuses it.
    if (normalised.tm_year != tm.tm_year || normalised.tm_mon != tm.tm_mon || normalised.tm_mday != tm.tm_mday)
        return std::nullopt;
    return static_cast<Date>(t);
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

} // namespace

SearchParser::SearchParser(std::shared_ptr<const Clock> clock) : m_clock(std::move(clock)) {}

SearchQuery SearchParser::parse(std::string_view text, std::set<SearchContentFilter> contentFilters,
                                bool caseSensitive, SearchMatchMode matchMode, SearchSortField sortField,
                                bool ascending, bool excludeSystemJunk) const
{
    SearchQuery query;
    for (std::string_view part : splitAtWhiteSpace(text)) {
        const std::string lower = text::lower(part);
        if (startsWith(lower, "ext:")) {
            query.extensionFilter = text::toNFC(dropGraphemes(lower, 4));
        } else if (startsWith(lower, "path:")) {
            query.pathFilter = std::string(dropGraphemes(part, 5));
        } else if (startsWith(lower, "type:")) {
            std::string_view value = dropGraphemes(lower, 5);
            if (value == "folder" || value == "dir")
                query.typeFilter = IndexedItem::ItemType::Folder;
            else if (value == "file")
                query.typeFilter = IndexedItem::ItemType::File;
        } else if (startsWith(lower, "dm:")) {
            query.modifiedAfter = parseModifiedAfter(dropGraphemes(lower, 3));
        } else if (startsWith(lower, "re:")) {
            query.tokens.push_back(text::toNFC(dropGraphemes(part, 3)));
            query.useRegularExpression = true;
        } else if (part.find_first_of("*?") != std::string_view::npos) {
            query.wildcardPattern = std::string(part);
        } else {
            appendNameTokens(part, query.tokens);
            query.nameWords.push_back(text::toNFC(part));
        }
    }
    query.rawText = std::string(text);
    query.contentFilters = std::move(contentFilters);
    query.caseSensitive = caseSensitive;
    query.matchMode = matchMode;
    query.sortField = sortField;
    query.ascending = ascending;
    query.excludeSystemJunk = excludeSystemJunk;
    return query;
}

std::optional<Date> SearchParser::parseModifiedAfter(std::string_view value) const
{
    const double now = m_clock->wallSecondsSince1970();
    if (value == "today")
        return startOfDay(now, 0);
    if (value == "yesterday")
        return startOfDay(now, -1);
    if (value == "last7d")
        return daysBefore(now, 7);
    if (value == "last30d")
        return daysBefore(now, 30);
    return parseDay(value);
}

} // namespace pallix
