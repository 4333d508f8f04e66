#pragma once
// The SQL texts of the file index shared by the store's own searches, the
// read-only searches and the index queries: the row reader, the base statement
// with the filter clauses, the pattern clauses and the path-range test.
// Internal to the IndexDB module. Pure functions.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/IndexDB/Sqlite.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchQuery.h"

namespace pallix::indexsql {

// The seven columns every reader of `file_index` selects, in this order.
inline constexpr std::string_view kSelectItemColumns =
    "SELECT path, name, parent_path, extension, size, modified_at, is_directory\nFROM file_index";

// A statement text with the values of its parameters 1, 2, ...
struct SqlText {
    std::string sql;
    std::vector<sqlite::Binding> bindings;
};

// Row to item: NULL text reads as "", exactly 1 in is_directory is a folder.
IndexedItem rowToItem(const sqlite::Statement& row);

// The base statement and the filter clauses for type, extension, path and,
// when `withDateClause`, the modification date.
SqlText baseStatement(const SearchQuery& query, bool withDateClause);

// For a pattern query, appends the clauses that select its candidates and
// returns true: a wildcard pattern (which alone decides in both modes) becomes
// an escaped `name LIKE ... ESCAPE`, each regular-expression token a
// `pallix_regexp` test of the name. A plain query appends nothing: false.
bool appendPatternClauses(const SearchQuery& query, SqlText& text);

// A row budget that reads every matching row (a complete answer is ranked
// before it is cut to the limit).
inline constexpr int kEveryRow = 0;

// The statement of the store's database search: filters, one clause per
// word by match mode (or the pattern clauses), " LIMIT " and the row limit,
// min(maxCandidateRows, limit * 4) raised to at least the limit; no LIMIT
// for kEveryRow.
SqlText databaseSearchStatement(const SearchQuery& query, int limit, int maxCandidateRows);
std::int64_t databaseSearchRowLimit(int limit, int maxCandidateRows);
// The statement of the read-only search, a complete answer: every row whose
// name (or, for words that look like paths and mixed ideographic words, name
// or path) holds each word by match mode, with no row limit.
SqlText readOnlySearchStatement(const SearchQuery& query);
// The typing-time prefix search of names: the filters (the date only when
// `withDateClause`), names beginning with the one word, and " LIMIT ?" bound
// to limit * 6 within 600 ... 3,600. The query must have one non-blank word.
SqlText typingFastStatement(const SearchQuery& query, int limit, bool withDateClause);
// The row limit bound by typingFastStatement.
int typingFastRowLimit(int limit);

// The same rows read from the stored lower-cased names: those in [low, high)
// that match `likePattern`, which is what typingFastStatement's pattern
// selects. Only for a case-insensitive plain word whose pattern has a literal
// head, and not with a date clause (its index may order that statement).
// Not for a head holding U+FFFD, U+FFFE or U+FFFF: LIKE reads all three (and
// more) as U+FFFD, so their names lie outside one range.
struct PrefixRange {
    std::string low;                  // the pattern's head before any "%" or "_"
    std::optional<std::string> high;  // none: nothing lies above every name beginning with `low`
    std::string likePattern;
    // The range alone selects what the pattern does: no wildcard follows the
    // head. (Stored names are valid UTF-8 without ASCII capitals.)
    bool rangeSuffices = false;
};
std::optional<PrefixRange> loweredPrefixRange(const SearchQuery& query, bool withDateClause);
// The least byte string above every string that begins with `head`; none when
// `head` is all 0xFF bytes (or empty).
std::optional<std::string> byteSuccessor(std::string_view head);
// How the range's rows are read in row order: by the row numbers the index
// lists for the range; by the first of them only, which needs a query without
// filter clauses (else a filtered row would leave a gap); or by a scan of the
// table that stops at the row limit (cheaper when the range holds a large,
// evenly spread share of the rows).
enum class RangeRead { RowNumbers, FirstRowNumbers, Scan };
// Whether baseStatement() adds clauses that test more than the name.
bool hasFilterClauses(const SearchQuery& query, bool withDateClause);
SqlText typingRangeStatement(const SearchQuery& query, int limit, bool withDateClause, const PrefixRange& range,
                             RangeRead read);

// "path = ? OR (path >= ? AND path < ?)" with underFolderBindings(folder): the
// folder itself and every path below it, compared exactly (letter case, "%" and
// "_" included), where LIKE would fold ASCII case and read wildcards. A folder
// of "/" covers every absolute path.
inline constexpr std::string_view kUnderFolderCondition = "path = ? OR (path >= ? AND path < ?)";
std::vector<sqlite::Binding> underFolderBindings(std::string_view folder);

// `before` + `text` + `after`, as one LIKE pattern ("%" around a word).
std::string joinedPattern(std::string_view before, std::string_view text, std::string_view after = {});

// Escapes "\", "%" and "_" for LIKE ... ESCAPE '\'.
std::string escapeLike(std::string_view literal);
// The wildcard pattern ("*" any run, "?" one character) as an escaped LIKE pattern.
std::string wildcardToLike(std::string_view pattern);

// The image extensions, sorted, quoted and joined by "," for an IN list.
const std::string& imageExtensionListLiteral();

// Trimmed of Unicode white space at both ends.
std::string_view trimmed(std::string_view s);
// Lower-cased (full Unicode) unless `caseSensitive`.
std::string caseFolded(std::string_view s, bool caseSensitive);

} // namespace pallix::indexsql
