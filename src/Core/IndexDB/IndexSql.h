#pragma once
// The SQL texts of the file index shared by the store's own searches, the
// read-only searches and the index queries: the row reader, the base statement
// with the filter clauses, the pattern clauses and the path-range test.
// Internal to the IndexDB module. Pure functions.

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

// The statement of the store's database search: filters, one clause per
// word by match mode (or the pattern clauses), " LIMIT " and the row limit,
// min(maxCandidateRows, limit * 4) raised to at least the limit.
SqlText databaseSearchStatement(const SearchQuery& query, int limit, int maxCandidateRows);
std::int64_t databaseSearchRowLimit(int limit, int maxCandidateRows);
// The statement of the read-only search: names (or names and paths) beginning
// with each word, at most min(limit, 3,000) * 4 rows, raised to the limit.
SqlText readOnlySearchStatement(const SearchQuery& query, int limit);
// The typing-time prefix search of names: the filters (the date only when
// `withDateClause`), names beginning with the one word, and " LIMIT ?" bound
// to limit * 6 within 600 ... 3,600. The query must have one non-blank word.
SqlText typingFastStatement(const SearchQuery& query, int limit, bool withDateClause);
// The row limit bound by typingFastStatement.
int typingFastRowLimit(int limit);

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
