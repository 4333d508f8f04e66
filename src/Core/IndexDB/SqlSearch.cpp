// The database search on the store's own connection: candidates read with
// LIKE patterns (or the exact pattern clauses), bounded by a row budget, with
// short retries on a busy database, then ranked by the search engine.

#include <algorithm>
#include <cstdint>

#include <sqlite3.h>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/IndexStore.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

constexpr auto kBusyWaitStep = std::chrono::milliseconds(12);

} // namespace

IndexStore::DatabaseSearchResult IndexStore::databaseSearchWithStatus(const SearchQuery& query, int limit,
                                                                      int maxCandidateRows)
{
    if (!m_db.isOpen())
        return {};
    // A wildcard pattern alone is a search too: it gets an escaped LIKE clause.
    if (query.tokens.empty() && !query.extensionFilter && !query.pathFilter && !query.typeFilter &&
        TypingRoad::wantsAllContent(query) && !query.modifiedAfter && !query.wildcardPattern)
        return {};

    const indexsql::SqlText text = indexsql::databaseSearchStatement(query, limit, maxCandidateRows);
    const std::int64_t rowLimit = indexsql::databaseSearchRowLimit(limit, maxCandidateRows);

    const bool fastFail = TypingRoad::shouldFastFailLowProbabilityQuery(query);
    const int attempts = fastFail ? 1 : 3;
    bool hadBusy = false;
    for (int k = 1; k <= attempts; ++k) {
        // A reopen after busy reads may have failed: nothing to prepare on.
        if (!m_db.isOpen())
            return {{}, hadBusy};
        sqlite::Statement statement;
        int rc = statement.prepare(m_db, text.sql);
        if (rc != SQLITE_OK) {
            rc = m_db.errorCode();
            if (!sqlite::isTransient(rc))
                return {};
        } else {
            if (m_probe)
                m_probe->noteReadRun();
            statement.bindAll(text.bindings);
            std::vector<IndexedItem> rows;
            rows.reserve(static_cast<std::size_t>(std::min<std::int64_t>(rowLimit, 4000)));
            while ((rc = stepRead(statement)) == SQLITE_ROW)
                rows.push_back(indexsql::rowToItem(statement));
            if (!sqlite::isTransient(rc))
                return {m_searchEngine.search(rows, query, limit), hadBusy};
        }
        // Busy or locked.
        statement.finalize();
        recordTransientSearchFailure();
        if (fastFail)
            return {};
        hadBusy = true;
        m_clock->sleepFor(kBusyWaitStep * k);
        if (k == attempts) {
            recordTransientSearchFailure();
            return {{}, true};
        }
    }
    return {};
}

} // namespace pallix
