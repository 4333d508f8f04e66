#include "Core/IndexDB/ReadOnlySearch.h"

#include <algorithm>

#include <sqlite3.h>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/LoweredNames.h"

namespace pallix {

namespace {

struct Rows {
    std::vector<IndexedItem> items;
    bool gaveUp = false;  // the database stayed busy or locked, or a read failed
};

Rows fetchRows(const sqlite::Connection& db, const indexsql::SqlText& text, int maxReadAttempts, Clock& clock)
{
    sqlite::Statement statement;
    // Preparing meets a busy schema lock now and then: three tries, 12, 24 and 36 ms apart.
    for (int tries = 1;; ++tries) {
        if (statement.prepare(db, text.sql) == SQLITE_OK)
            break;
        if (!sqlite::isTransient(db.errorCode()))
            return {{}, true};
        clock.sleepFor(std::chrono::milliseconds(12 * tries));
        if (tries == 3)
            return {{}, true};
    }
    statement.bindAll(text.bindings);
    Rows rows;
    rows.items.reserve(1024);
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW)
        rows.items.push_back(indexsql::rowToItem(statement));
    if (rc == SQLITE_DONE)
        return rows;
    if (!sqlite::isTransient(rc))
        return {{}, true};
    statement.finalize();
    if (maxReadAttempts < 1)
        return {{}, true};
    clock.sleepFor(std::chrono::milliseconds(10));
    return fetchRows(db, text, maxReadAttempts - 1, clock);
}

} // namespace

std::vector<IndexedItem> readOnlySearch(const std::filesystem::path& databaseURL, const SearchQuery& query, int limit,
                                        int maxReadAttempts, int searchStage, Clock* clock)
{
    return readOnlySearchAnswer(databaseURL, query, limit, maxReadAttempts, searchStage, clock).items;
}

ReadOnlyAnswer readOnlySearchAnswer(const std::filesystem::path& databaseURL, const SearchQuery& query, int limit,
                                    int maxReadAttempts, int /*searchStage*/, Clock* clock)
{
    // Every stage is the first: every name holding the words, ranked, then cut.
    if (limit < 1 || !TypingRoad::hasSearchIntent(query))
        return {};
    sqlite::Connection db;
    if (!sqlite::openReadOnly(db, databaseURL))
        return {{}, true};
    db.exec("PRAGMA cache_size=-40000;");
    db.exec("PRAGMA mmap_size=268435456;");

    const indexsql::SqlText text = indexsql::readOnlySearchStatement(query);

    Rows rows = fetchRows(db, text, maxReadAttempts, clock ? *clock : *Clock::system());
    if (rows.gaveUp)
        return {{}, true};
    return {SearchEngine().search(rows.items, query, limit), false};
}

std::vector<IndexedItem> readOnlyTypingFastPrefixSearch(const std::filesystem::path& databaseURL,
                                                        const SearchQuery& query, int limit)
{
    if (limit < 1 || !TypingRoad::hasSearchIntent(query) || query.tokens.size() != 1)
        return {};
    const std::string_view token = indexsql::trimmed(query.tokens.front());
    if (token.empty())
        return {};
    sqlite::Connection db;
    if (!sqlite::openReadOnly(db, databaseURL))
        return {};
    db.exec("PRAGMA cache_size=-12000;");
    db.exec("PRAGMA mmap_size=268435456;");

    const int rowLimit = indexsql::typingFastRowLimit(limit);
    const indexsql::SqlText text =
        loweredname::typingStatement(db, loweredname::isComplete(db), query, limit, true);

    sqlite::Statement statement;
    if (statement.prepare(db, text.sql) != SQLITE_OK)
        return {};
    statement.bindAll(text.bindings);
    std::vector<IndexedItem> rows;
    rows.reserve(static_cast<std::size_t>(std::min(limit, 900)));
    while (rows.size() < static_cast<std::size_t>(rowLimit) && statement.step() == SQLITE_ROW)
        rows.push_back(indexsql::rowToItem(statement));
    statement.finalize();
    if (rows.empty())
        return {};
    return SearchEngine().search(rows, query, limit);
}

} // namespace pallix
