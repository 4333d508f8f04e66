#include "Core/IndexDB/IndexSql.h"

#include <algorithm>
#include <span>
#include <vector>

#include "Platform/Text.h"

namespace pallix::indexsql {

IndexedItem rowToItem(const sqlite::Statement& row)
{
    return IndexedItem(std::string(row.columnText(0)), std::string(row.columnText(1)), std::string(row.columnText(2)),
                       std::string(row.columnText(3)), row.columnInt64(4), row.columnDouble(5),
                       row.columnInt64(6) == 1 ? IndexedItem::ItemType::Folder : IndexedItem::ItemType::File);
}

SqlText baseStatement(const SearchQuery& query, bool withDateClause)
{
    SqlText text;
    text.sql.reserve(512);
    text.sql.append(kSelectItemColumns).append("\nWHERE 1 = 1");
    if (query.typeFilter) {
        text.sql += " AND is_directory = ?";
        text.bindings.push_back(sqlite::Binding::integer(*query.typeFilter == IndexedItem::ItemType::Folder ? 1 : 0));
    }
    if (query.extensionFilter) {
        text.sql += " AND extension = ?";
        text.bindings.push_back(sqlite::Binding::text(*query.extensionFilter));
    }
    if (query.pathFilter) {
        text.sql += query.caseSensitive ? " AND parent_path LIKE ?" : " AND lower(parent_path) LIKE ?";
        text.bindings.push_back(sqlite::Binding::text(joinedPattern("%", caseFolded(*query.pathFilter, query.caseSensitive), "%")));
    }
    if (withDateClause && query.modifiedAfter) {
        text.sql += " AND modified_at >= ?";
        text.bindings.push_back(sqlite::Binding::real(*query.modifiedAfter));
    }
    return text;
}

bool appendPatternClauses(const SearchQuery& query, SqlText& text)
{
    if (query.wildcardPattern) {
        // LIKE's "_" is one character, like the expression's "." that the ranking
        // builds; both sides lower-cased with the same Unicode mapping.
        text.sql += query.caseSensitive ? " AND name LIKE ? ESCAPE '\\'" : " AND lower(name) LIKE ? ESCAPE '\\'";
        text.bindings.push_back(
            sqlite::Binding::text(wildcardToLike(caseFolded(*query.wildcardPattern, query.caseSensitive))));
        return true;
    }
    if (query.useRegularExpression) {
        // Bound as an expression, never as LIKE text: "^rep.*t$" is no literal.
        for (const std::string& token : query.tokens) {
            text.sql += " AND pallix_regexp(?, name, ?)";
            text.bindings.push_back(sqlite::Binding::text(token));
            text.bindings.push_back(sqlite::Binding::integer(query.caseSensitive ? 0 : 1));
        }
        return true;
    }
    return false;
}

SqlText databaseSearchStatement(const SearchQuery& query, int limit, int maxCandidateRows)
{
    SqlText text = baseStatement(query, true);
    if (!appendPatternClauses(query, text)) {
        const char* nameClause = query.caseSensitive ? " AND name LIKE ?" : " AND lower(name) LIKE ?";
        for (const std::string& token : query.tokens) {
            const std::string t = caseFolded(token, query.caseSensitive);
            switch (query.matchMode) {
            case SearchMatchMode::Contains:
                // The path ends with the name, so this finds the word in either.
                text.sql += query.caseSensitive ? " AND path LIKE ?" : " AND lower(path) LIKE ?";
                text.bindings.push_back(sqlite::Binding::text(joinedPattern("%", t, "%")));
                break;
            case SearchMatchMode::Prefix:
                text.sql += nameClause;
                text.bindings.push_back(sqlite::Binding::text(t + "%"));
                break;
            case SearchMatchMode::Suffix:
                text.sql += nameClause;
                text.bindings.push_back(sqlite::Binding::text(joinedPattern("%", t)));
                break;
            case SearchMatchMode::Exact:
                text.sql += nameClause;
                text.bindings.push_back(sqlite::Binding::text(t));
                break;
            }
        }
    }
    if (maxCandidateRows != kEveryRow)
        text.sql += " LIMIT " + std::to_string(databaseSearchRowLimit(limit, maxCandidateRows));
    return text;
}

std::int64_t databaseSearchRowLimit(int limit, int maxCandidateRows)
{
    if (maxCandidateRows == kEveryRow)
        return INT64_MAX;
    return std::max<std::int64_t>(std::min<std::int64_t>(maxCandidateRows, std::int64_t(limit) * 4), limit);
}

namespace {

bool isAlphanumericToken(std::string_view token)
{
    if (token.empty())
        return false;
    for (std::size_t i = 0; i < token.size();)
        if (!text::isLetterMarkOrNumber(text::nextCodePoint(token, i)))
            return false;
    return true;
}

bool hasIdeograph(std::string_view token)
{
    for (std::size_t i = 0; i < token.size();)
        if (text::isIdeographic(text::nextCodePoint(token, i)))
            return true;
    return false;
}

} // namespace

SqlText readOnlySearchStatement(const SearchQuery& query)
{
    SqlText text = baseStatement(query, true);
    if (!appendPatternClauses(query, text)) {
        std::vector<std::string> tokens;
        for (const std::string& t : query.tokens)
            tokens.push_back(caseFolded(t, query.caseSensitive));
        const char* nameClause = query.caseSensitive ? " AND name LIKE ?" : " AND lower(name) LIKE ?";
        if (query.matchMode != SearchMatchMode::Contains || tokens.empty()) {
            for (const std::string& t : tokens) {
                text.sql += nameClause;
                switch (query.matchMode) {
                case SearchMatchMode::Contains: text.bindings.push_back(sqlite::Binding::text(joinedPattern("%", t, "%"))); break;
                case SearchMatchMode::Prefix: text.bindings.push_back(sqlite::Binding::text(t + "%")); break;
                case SearchMatchMode::Suffix: text.bindings.push_back(sqlite::Binding::text(joinedPattern("%", t))); break;
                case SearchMatchMode::Exact: text.bindings.push_back(sqlite::Binding::text(t)); break;
                }
            }
        } else {
            // Words that look like paths, and mixed ideographic words, may be in a
            // folder's name rather than the file's: search both.
            const bool slash = std::any_of(tokens.begin(), tokens.end(), [](const std::string& t) {
                return t.find('/') != std::string::npos || t.find('\\') != std::string::npos;
            });
            const bool allAlphanumeric = std::all_of(tokens.begin(), tokens.end(), isAlphanumericToken);
            const bool ideographic = std::any_of(tokens.begin(), tokens.end(), hasIdeograph);
            const bool nameOrPath = slash || (ideographic && !allAlphanumeric && tokens.size() <= 2);
            for (const std::string& t : tokens) {
                if (nameOrPath) {
                    text.sql += query.caseSensitive ? " AND (name LIKE ? OR path LIKE ?)"
                                                    : " AND (lower(name) LIKE ? OR lower(path) LIKE ?)";
                    text.bindings.push_back(sqlite::Binding::text(joinedPattern("%", t, "%")));
                    text.bindings.push_back(sqlite::Binding::text(joinedPattern("%", t, "%")));
                } else {
                    text.sql += nameClause;
                    text.bindings.push_back(sqlite::Binding::text(joinedPattern("%", t, "%")));
                }
            }
        }
    }
    return text;
}

int typingFastRowLimit(int limit)
{
    return static_cast<int>(std::clamp<std::int64_t>(std::int64_t(limit) * 6, 600, 3600));
}

SqlText typingFastStatement(const SearchQuery& query, int limit, bool withDateClause)
{
    SqlText text = baseStatement(query, withDateClause);
    if (!appendPatternClauses(query, text)) {
        // The Unicode lower() rather than COLLATE NOCASE, which folds ASCII only:
        // "école" finds "École" here as it does in memory.
        const std::string_view token = query.tokens.empty() ? std::string_view() : trimmed(query.tokens.front());
        text.sql += query.caseSensitive ? " AND name LIKE ?" : " AND lower(name) LIKE ?";
        text.bindings.push_back(sqlite::Binding::text(caseFolded(token, query.caseSensitive) + "%"));
    }
    text.sql += " LIMIT ?";
    text.bindings.push_back(sqlite::Binding::integer(typingFastRowLimit(limit)));
    return text;
}

std::optional<PrefixRange> loweredPrefixRange(const SearchQuery& query, bool withDateClause)
{
    if (query.caseSensitive || query.wildcardPattern || query.useRegularExpression || query.tokens.empty() ||
        (withDateClause && query.modifiedAfter))
        return std::nullopt;
    PrefixRange range;
    range.likePattern = caseFolded(trimmed(query.tokens.front()), false) + "%";
    // LIKE reads "%" and "_" typed in the word as wildcards: only the text
    // before them is literal.
    range.low = range.likePattern.substr(0, range.likePattern.find_first_of("%_"));
    if (range.low.empty())
        return std::nullopt;
    for (const char* replacement : {"\xEF\xBF\xBD", "\xEF\xBF\xBE", "\xEF\xBF\xBF"})
        if (range.low.find(replacement) != std::string::npos)
            return std::nullopt;
    range.high = byteSuccessor(range.low);
    range.rangeSuffices = range.likePattern.size() == range.low.size() + 1;
    return range;
}

std::optional<std::string> byteSuccessor(std::string_view head)
{
    std::string next(head);
    while (!next.empty() && static_cast<unsigned char>(next.back()) == 0xFF)
        next.pop_back();
    if (next.empty())
        return std::nullopt;
    next.back() = static_cast<char>(static_cast<unsigned char>(next.back()) + 1);
    return next;
}

SqlText typingRangeStatement(const SearchQuery& query, int limit, bool withDateClause, const PrefixRange& range,
                             RangeRead read)
{
    SqlText text = baseStatement(query, withDateClause);
    // The first rows in row order, as the statement without the column reads
    // them. A "+" keeps the planner off the index where the scan is wanted.
    const char* column = read == RangeRead::Scan ? "+lower_name" : "lower_name";
    std::string bounds = std::string(column) + " >= ?";
    if (range.high)
        bounds += std::string(" AND ") + column + " < ?";
    if (!range.rangeSuffices)
        bounds += " AND lower_name LIKE ?";
    const auto bindRange = [&] {
        text.bindings.push_back(sqlite::Binding::text(range.low));
        if (range.high)
            text.bindings.push_back(sqlite::Binding::text(*range.high));
        if (!range.rangeSuffices)
            text.bindings.push_back(sqlite::Binding::text(range.likePattern));
        text.bindings.push_back(sqlite::Binding::integer(typingFastRowLimit(limit)));
    };
    switch (read) {
    case RangeRead::FirstRowNumbers:
        // The index alone picks the rows: a bounded sort of its row numbers.
        text.sql += " AND rowid IN (SELECT rowid FROM file_index WHERE " + bounds + " ORDER BY rowid LIMIT ?) ORDER BY rowid";
        bindRange();
        return text;
    case RangeRead::RowNumbers:
        text.sql += " AND rowid IN (SELECT rowid FROM file_index WHERE " + bounds + ")";
        break;
    case RangeRead::Scan:
        text.sql += " AND " + bounds;
        break;
    }
    text.sql += " ORDER BY rowid LIMIT ?";
    bindRange();
    return text;
}

bool hasFilterClauses(const SearchQuery& query, bool withDateClause)
{
    return query.typeFilter || query.extensionFilter || query.pathFilter || (withDateClause && query.modifiedAfter);
}

std::vector<sqlite::Binding> underFolderBindings(std::string_view folder)
{
    // "0" follows "/" in byte order, so [base + "/", base + "0") holds exactly
    // the paths that continue base with a "/".
    const std::string base = folder == "/" ? std::string() : std::string(folder);
    return {sqlite::Binding::text(std::string(folder)), sqlite::Binding::text(base + "/"),
            sqlite::Binding::text(base + "0")};
}

std::string joinedPattern(std::string_view before, std::string_view text, std::string_view after)
{
    // Appended, not prepended: "%" + a temporary string makes GCC 12 warn falsely.
    std::string out;
    out.reserve(before.size() + text.size() + after.size());
    out.append(before).append(text).append(after);
    return out;
}

std::string escapeLike(std::string_view literal)
{
    std::string out;
    out.reserve(literal.size() + 4);
    for (char c : literal) {
        if (c == '\\' || c == '%' || c == '_')
            out += '\\';
        out += c;
    }
    return out;
}

std::string wildcardToLike(std::string_view pattern)
{
    std::string out;
    out.reserve(pattern.size() + 4);
    for (char c : pattern) {
        if (c == '*')
            out += '%';
        else if (c == '?')
            out += '_';
        else if (c == '\\' || c == '%' || c == '_')
            out.append(1, '\\').append(1, c);
        else
            out += c;
    }
    return out;
}

const std::string& imageExtensionListLiteral()
{
    static const std::string literal = [] {
        const std::span<const std::string_view> list = kinds::imageExtensionList();
        std::vector<std::string_view> extensions(list.begin(), list.end());
        std::sort(extensions.begin(), extensions.end());
        std::string out;
        for (std::string_view e : extensions) {
            if (!out.empty())
                out += ',';
            out += '\'';
            for (char c : e) {
                out += c;
                if (c == '\'')
                    out += '\'';
            }
            out += '\'';
        }
        return out;
    }();
    return literal;
}

std::string_view trimmed(std::string_view s)
{
    std::size_t begin = s.size();
    std::size_t end = 0;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        const char32_t c = text::nextCodePoint(s, i);
        if (!text::isWhiteSpace(c)) {
            begin = std::min(begin, start);
            end = i;
        }
    }
    return begin >= end ? std::string_view() : s.substr(begin, end - begin);
}

std::string caseFolded(std::string_view s, bool caseSensitive)
{
    return caseSensitive ? std::string(s) : text::lower(s);
}

} // namespace pallix::indexsql
