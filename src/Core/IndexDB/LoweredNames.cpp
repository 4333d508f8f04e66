#include "Core/IndexDB/LoweredNames.h"

#include <algorithm>
#include <thread>

#include <sqlite3.h>

namespace pallix::loweredname {

namespace {

constexpr const char* kMarkTable = "CREATE TABLE IF NOT EXISTS index_marks (mark TEXT PRIMARY KEY);";
constexpr const char* kSetMark = "INSERT OR IGNORE INTO index_marks (mark) VALUES ('lower_name_complete');";
constexpr const char* kHasMark = "SELECT 1 FROM index_marks WHERE mark = 'lower_name_complete';";
// Partial: rows still waiting for their value take no room in it, and the
// index of a file being filled is built while the column is still empty.
constexpr const char* kIndex =
    "CREATE INDEX IF NOT EXISTS idx_file_index_lower_name ON file_index(lower_name) WHERE lower_name IS NOT NULL;";
// A writer that does not know the column (an older build of ours, a shell)
// leaves it empty or stale: the mark goes, and the next start fills again.
// lower() in the second is the connection's: on ours it agrees with the value
// the upsert wrote, so our own writes never take the mark back.
constexpr const char* kTriggers[] = {
    "CREATE TRIGGER IF NOT EXISTS file_index_lower_name_missing AFTER INSERT ON file_index\n"
    "WHEN NEW.lower_name IS NULL BEGIN\n"
    "  DELETE FROM index_marks WHERE mark = 'lower_name_complete';\n"
    "END;",
    "CREATE TRIGGER IF NOT EXISTS file_index_lower_name_stale AFTER UPDATE OF name ON file_index\n"
    "WHEN NEW.lower_name IS OLD.lower_name AND NEW.lower_name IS NOT lower(NEW.name) BEGIN\n"
    "  UPDATE file_index SET lower_name = NULL WHERE rowid = NEW.rowid;\n"
    "  DELETE FROM index_marks WHERE mark = 'lower_name_complete';\n"
    "END;",
};
constexpr const char* kFillSlice =
    "UPDATE file_index SET lower_name = lower(name) WHERE rowid > ? AND rowid <= ? AND lower_name IS NULL;";
constexpr const char* kFillRest = "UPDATE file_index SET lower_name = lower(name) WHERE rowid > ? AND lower_name IS NULL;";

bool hasColumn(const sqlite::Connection& db)
{
    sqlite::Statement info;
    if (info.prepare(db, "PRAGMA table_info(file_index);") != SQLITE_OK)
        return false;
    while (info.step() == SQLITE_ROW)
        if (info.columnText(1) == "lower_name")
            return true;
    return false;
}

bool hasRows(const sqlite::Connection& db)
{
    sqlite::Statement any;
    return any.prepare(db, "SELECT 1 FROM file_index LIMIT 1;") == SQLITE_OK && any.step() == SQLITE_ROW;
}

std::int64_t maxRowNumber(const sqlite::Connection& db)
{
    sqlite::Statement last;
    if (last.prepare(db, "SELECT max(rowid) FROM file_index;") != SQLITE_OK || last.step() != SQLITE_ROW)
        return -1;
    return last.columnInt64(0);
}

int execAll(sqlite::Connection& db, std::initializer_list<const char*> statements)
{
    for (const char* sql : statements)
        if (const int rc = db.exec(sql); rc != SQLITE_OK)
            return rc;
    return SQLITE_OK;
}

// Rows of the range, counted up to `cap` on the index alone.
std::int64_t rowsInRange(const sqlite::Connection& db, const indexsql::PrefixRange& range, std::int64_t cap)
{
    sqlite::Statement count;
    const char* sql = range.high ? "SELECT count(*) FROM (SELECT 1 FROM file_index WHERE lower_name >= ? AND "
                                   "lower_name < ? LIMIT ?);"
                                 : "SELECT count(*) FROM (SELECT 1 FROM file_index WHERE lower_name >= ? LIMIT ?);";
    if (count.prepare(db, sql) != SQLITE_OK)
        return 0;
    int index = 1;
    count.bindText(index++, range.low);
    if (range.high)
        count.bindText(index++, *range.high);
    count.bindInt64(index, cap);
    return count.step() == SQLITE_ROW ? count.columnInt64(0) : 0;
}

} // namespace

int prepare(sqlite::Connection& db, bool& complete)
{
    complete = false;
    if (!hasColumn(db))
        if (const int rc = db.exec("ALTER TABLE file_index ADD COLUMN lower_name TEXT;"); rc != SQLITE_OK)
            return rc;
    if (const int rc = execAll(db, {kMarkTable, kTriggers[0], kTriggers[1]}); rc != SQLITE_OK)
        return rc;
    complete = isComplete(db);
    if (complete || hasRows(db))
        return SQLITE_OK;
    // Nothing to fill: every row to come is written with its value.
    if (const int rc = execAll(db, {kIndex, kSetMark}); rc != SQLITE_OK)
        return rc;
    complete = true;
    return SQLITE_OK;
}

bool isComplete(const sqlite::Connection& db)
{
    sqlite::Statement mark;
    return mark.prepare(db, kHasMark) == SQLITE_OK && mark.step() == SQLITE_ROW;
}

bool fill(const std::filesystem::path& file, const CancelToken& cancel, std::int64_t sliceRows,
          const std::function<void()>& afterSlice)
{
    sqlite::Connection db;
    if (db.open(file.string(), sqlite::Connection::Mode::ReadWriteCreate) != SQLITE_OK || !hasColumn(db))
        return false;
    db.exec("PRAGMA synchronous=NORMAL;");  // as the store's writes: the log is synced at checkpoints
    // The index first, while the column is empty: building it later would
    // hold the write lock for a whole pass over the table in one statement.
    if (db.exec(kIndex) != SQLITE_OK)
        return false;
    const std::int64_t last = maxRowNumber(db);
    sqlite::Statement slice;
    if (slice.prepare(db, kFillSlice) != SQLITE_OK)
        return false;
    sliceRows = std::max<std::int64_t>(sliceRows, 1);
    for (std::int64_t from = 0; from < last; from += sliceRows) {
        if (cancel.isCancelled())
            return false;
        slice.bindInt64(1, from);
        slice.bindInt64(2, std::min(last, from + sliceRows));
        const int rc = slice.step();
        slice.reset();
        if (rc != SQLITE_DONE)
            return false;
        if (afterSlice)
            afterSlice();
        std::this_thread::yield();
    }
    slice.finalize();
    // Rows added meanwhile came with their value; any other one is taken here,
    // in the transaction that sets the mark.
    sqlite::Statement rest;
    if (db.exec("BEGIN IMMEDIATE;") != SQLITE_OK)
        return false;
    bool done = rest.prepare(db, kFillRest) == SQLITE_OK;
    if (done) {
        rest.bindInt64(1, std::max<std::int64_t>(last, 0));
        done = rest.step() == SQLITE_DONE;
    }
    rest.finalize();
    done = done && db.exec(kSetMark) == SQLITE_OK && db.exec("COMMIT;") == SQLITE_OK;
    if (!done)
        db.exec("ROLLBACK;");
    // The pass rewrote most pages; the log of it need not stay on disk.
    db.exec("PRAGMA wal_checkpoint(TRUNCATE);");
    return done;
}

indexsql::SqlText typingStatement(const sqlite::Connection& db, bool complete, const SearchQuery& query, int limit,
                                  bool withDateClause)
{
    const std::optional<indexsql::PrefixRange> range =
        complete ? indexsql::loweredPrefixRange(query, withDateClause) : std::nullopt;
    if (!range)
        return indexsql::typingFastStatement(query, limit, withDateClause);
    if (!indexsql::hasFilterClauses(query, withDateClause))
        return indexsql::typingRangeStatement(query, limit, withDateClause, *range, indexsql::RangeRead::FirstRowNumbers);
    // Reading the range's row numbers costs in proportion to the rows in it;
    // a scan in row order reaches the row limit after about limit * span /
    // rows rows when the range's rows are spread evenly. Measured at
    // 1,000,000 rows the scan wins from about one row in 32 on.
    const std::int64_t span = std::max<std::int64_t>(maxRowNumber(db), 0);
    const std::int64_t dense = std::max<std::int64_t>(span / 32, indexsql::typingFastRowLimit(limit));
    const indexsql::RangeRead read =
        rowsInRange(db, *range, dense) >= dense ? indexsql::RangeRead::Scan : indexsql::RangeRead::RowNumbers;
    return indexsql::typingRangeStatement(query, limit, withDateClause, *range, read);
}

} // namespace pallix::loweredname
