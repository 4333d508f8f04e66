#pragma once
// The stored lower-cased name of every row (`file_index.lower_name`) and its
// index: the typing-time prefix search reads a range of that index instead of
// lower-casing every name of the table. Files made before the column get it at
// open and are filled afterwards, a slice of rows per transaction, on a
// connection of the fill's own; the prefix search takes the range only once a
// mark in the file says every row has its value. Rows take the value from the
// connections' own lower(), the function the statement without the column
// applies, so both answer alike.
//
// Threading: functions on a connection the caller owns and serialises;
// fill() opens its own and is meant for a background thread.

#include <cstdint>
#include <filesystem>
#include <functional>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/Sqlite.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Clock.h"

namespace pallix::loweredname {

// What the upsert writes into the column: the name (parameter 2) lower-cased.
inline constexpr std::string_view kUpsertValue = "lower(?2)";

// Adds the column, the mark's table and the triggers that take the mark back
// when a writer that does not know the column adds or renames a row; on a
// table with no rows the index and the mark come at once. SQLite's code;
// `complete` tells whether the mark is there.
int prepare(sqlite::Connection& db, bool& complete);

// Whether the file's mark says the column is complete (false without the table).
bool isComplete(const sqlite::Connection& db);

// Creates the index, gives every row that lacks it its value, `sliceRows`
// rows a transaction, and sets the mark. True once the mark is set; false
// when cancelled or when a statement failed (the next start goes on).
// `afterSlice` runs between the transactions (writers get in there).
bool fill(const std::filesystem::path& file, const CancelToken& cancel, std::int64_t sliceRows = 4096,
          const std::function<void()>& afterSlice = {});

// The typing-time prefix statement on `db` (see indexsql::typingFastStatement):
// with the column complete and a word whose head is literal, the rows of the
// index range in row order (without filter clauses the first row numbers of
// the range; with them a scan of the table when the range holds many rows,
// all the range's row numbers when few); otherwise the statement that
// lower-cases every name.
indexsql::SqlText typingStatement(const sqlite::Connection& db, bool complete, const SearchQuery& query, int limit,
                                  bool withDateClause);

} // namespace pallix::loweredname
