#include "Core/IndexDB/CacheSnapshot.h"

#include <algorithm>

#include <sqlite3.h>

#include "Core/IndexDB/IndexSql.h"
#include "Platform/Parallel.h"
#include "Core/IndexDB/Sqlite.h"

namespace pallix {

namespace {

constexpr std::size_t kCancelPollRows = 4096;
constexpr std::int64_t kReserveCap = 5'000'000;
// Below this many rows one reader is quick enough.
constexpr std::int64_t kRowsPerReader = 100'000;

bool openSnapshotConnection(sqlite::Connection& db, const std::filesystem::path& url)
{
    if (db.open(url.string(), sqlite::Connection::Mode::ReadOnly) != SQLITE_OK || !db.isOpen())
        return false;
    // Each reader goes through its rows once, in order: a small cache does,
    // and read() rather than a map keeps the pages out of the process.
    db.exec("PRAGMA mmap_size=0;");
    db.exec("PRAGMA cache_size=-2048;");
    return true;
}

// One reader's share: the rows whose rowid lies in [first, last], or all rows.
struct Part {
    std::optional<std::pair<std::int64_t, std::int64_t>> rowids;
    std::size_t expectedRows = 0;
    ItemTable table;
    bool failed = false;  // a step failed: the rows after it are missing
    bool damaged = false;  // ... and it failed on a damaged page
};

void readPart(const std::filesystem::path& url, Part& part, const CancelToken* cancel)
{
    sqlite::Connection db;
    if (!openSnapshotConnection(db, url)) {
        part.failed = true;
        return;
    }
    std::string sql(indexsql::kSelectItemColumns);
    if (part.rowids)
        sql += "\nWHERE rowid >= ? AND rowid <= ?\nORDER BY rowid";
    sql += ";";
    sqlite::Statement rows;
    if (rows.prepare(db, sql) != SQLITE_OK) {
        part.failed = true;
        part.damaged = sqlite::isDamage(db.errorCode());
        return;
    }
    if (part.rowids) {
        rows.bindInt64(1, part.rowids->first);
        rows.bindInt64(2, part.rowids->second);
    }
    part.table.reserve(part.expectedRows);
    std::size_t read = 0;
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW) {
        // A later row with the same path replaces the earlier one.
        part.table.patch(indexsql::rowToItem(rows));
        if (++read % kCancelPollRows == 0 && cancel && cancel->isCancelled())
            return;
    }
    part.failed = rc != SQLITE_DONE;
    part.damaged = sqlite::isDamage(rc) || (part.failed && sqlite::isDamage(db.errorCode()));
}

} // namespace

CacheSnapshot loadCacheSnapshot(const std::filesystem::path& databaseURL, const CancelToken* cancel)
{
    sqlite::Connection db;
    if (!openSnapshotConnection(db, databaseURL))
        return {};
    std::int64_t count = 0;
    {
        // Counting reads every page of the table's tree above its leaves.
        sqlite::Statement countRows;
        if (countRows.prepare(db, "SELECT COUNT(*) FROM file_index;") == SQLITE_OK && countRows.step() == SQLITE_ROW)
            count = countRows.columnInt64(0);
        else if (sqlite::isDamage(db.errorCode()))
            return {{}, true};
    }
    const std::size_t expected = static_cast<std::size_t>(std::clamp<std::int64_t>(count, 0, kReserveCap));

    // Deriving the search forms (ICU folding) costs more than reading a row:
    // large indexes are read by several connections, each a range of rowids,
    // and joined in rowid order.
    const auto readers =
        static_cast<unsigned>(std::clamp<std::int64_t>(count / kRowsPerReader, 1, std::int64_t(spareThreads())));
    std::optional<std::pair<std::int64_t, std::int64_t>> span;
    if (readers > 1) {
        sqlite::Statement bounds;
        // Apart, each is one step down the table's tree; together they scan it.
        if (bounds.prepare(db, "SELECT (SELECT min(rowid) FROM file_index), (SELECT max(rowid) FROM file_index);") ==
                SQLITE_OK &&
            bounds.step() == SQLITE_ROW && !bounds.columnIsNull(0))
            span.emplace(bounds.columnInt64(0), bounds.columnInt64(1));
    }
    db.close();

    std::vector<Part> parts(span ? readers : 1);
    if (span) {
        const std::int64_t width = (span->second - span->first) / static_cast<std::int64_t>(readers) + 1;
        for (unsigned k = 0; k < readers; ++k) {
            const std::int64_t first = span->first + width * k;
            parts[k].rowids.emplace(first, k + 1 == readers ? span->second : first + width - 1);
            parts[k].expectedRows = expected / readers + 1;
        }
    } else {
        parts[0].expectedRows = expected;
    }

    // One part per thread.
    inSlices(parts.size(), static_cast<unsigned>(parts.size()),
             [&](unsigned, std::size_t part, std::size_t) { readPart(databaseURL, parts[part], cancel); });

    // Read in one pass, a failing step would have ended the snapshot there:
    // the parts after a failed one are dropped. Damage in any part is damage
    // of the whole file, whatever was read around it.
    const bool damaged = std::any_of(parts.begin(), parts.end(), [](const Part& p) { return p.damaged; });
    if (damaged)
        return {{}, true};
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (parts[k].failed) {
            parts.resize(k + 1);
            break;
        }
    }
    std::vector<ItemTable> tables;
    tables.reserve(parts.size());
    for (Part& p : parts)
        tables.push_back(std::move(p.table));
    ItemTable snapshot = tables.size() == 1 ? std::move(tables.front()) : ItemTable::concatenate(std::move(tables));
    snapshot.shrinkToFit();
    return {std::move(snapshot), false};
}

} // namespace pallix
