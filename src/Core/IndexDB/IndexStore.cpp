#include "Core/IndexDB/IndexStore.h"

#include <system_error>
#include <utility>

#include <sqlite3.h>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/LoweredNames.h"
#include "Platform/PrivateFiles.h"

namespace pallix {

namespace {

constexpr const char* kUnknownSqliteError = "未知 SQLite 错误";
constexpr auto kTransientFailureWindow = std::chrono::milliseconds(1200);
constexpr auto kFetchRetryWait = std::chrono::milliseconds(10);
// The share of a start that the damage check may take (see openAndPrepare()).
constexpr auto kOpenCheckBudget = std::chrono::milliseconds(400);

constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS file_index (\n"
    "path TEXT PRIMARY KEY,\n"
    "name TEXT NOT NULL,\n"
    "parent_path TEXT NOT NULL,\n"
    "extension TEXT NOT NULL,\n"
    "size INTEGER NOT NULL,\n"
    "modified_at REAL NOT NULL,\n"
    "is_directory INTEGER NOT NULL,\n"
    "content_text TEXT NOT NULL DEFAULT '',\n"
    "lower_name TEXT\n"
    ");",
    "CREATE INDEX IF NOT EXISTS idx_file_index_name ON file_index(name);",
    "CREATE INDEX IF NOT EXISTS idx_file_index_parent_path ON file_index(parent_path);",
    "CREATE INDEX IF NOT EXISTS idx_file_index_extension ON file_index(extension);",
    "CREATE INDEX IF NOT EXISTS idx_file_index_modified_at ON file_index(modified_at);",
    "CREATE INDEX IF NOT EXISTS idx_file_index_size ON file_index(size);",
};

// No memory map: every page this long-lived connection ever read through
// one (the open's damage check alone reads up to the map's size) stayed in
// the process's private memory for its whole life, 256 MB at a million
// items. Read into the page cache instead, the pages go back after a check
// or a large write. A map made for each search and taken down after it
// cost more than it saved: each search faulted every page in again.
// A write of a few thousand rows into a large index touches pages all over
// its indexes, and a cache of 80 MB filled up on every one; at 16 MB the
// pages past it go to the log early, and writes into a 590,000-row index
// took as long (5,500 and 65,536 rows a transaction).
constexpr const char* kConnectionOptions[] = {
    "PRAGMA journal_mode=WAL;",   "PRAGMA synchronous=NORMAL;",      "PRAGMA temp_store=MEMORY;",
    "PRAGMA cache_size=-16000;", "PRAGMA mmap_size=0;", "PRAGMA journal_size_limit=4194304;",
};

bool isIndexTable(std::string_view table)
{
    return table == "file_index" || table == "index_marks";
}

// "PXIX": the stamp of an index file (the local and the shared-drive one alike).
constexpr sqlite::Owner kIndexOwner{0x50584958, "file_index", isIndexTable};

bool isReadOnlyTrouble(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN;
}

} // namespace

IndexStore::IndexStore(std::filesystem::path databaseURL, std::shared_ptr<Clock> clock,
                       std::shared_ptr<IndexStoreProbe> probe)
    : m_databaseURL(std::move(databaseURL)), m_clock(clock ? std::move(clock) : Clock::system()),
      m_probe(std::move(probe))
{
    if (m_probe)
        m_probe->attach(probeSide());
}

IndexStore::~IndexStore()
{
    if (m_probe)
        m_probe->detach();
    // Jobs use the store until they return; stop them before anything goes.
    m_jobs.shutdown();
    std::lock_guard lock(m_mutex);
    resumeSearchCacheReadyWaiters(false);
}

std::string IndexStore::connectionMessage() const
{
    return sqlite::describeLastError(m_db);
}

Unexpected<IndexStoreError> IndexStore::connectionFailure(IndexStoreError::Code code)
{
    const int sqliteCode = m_db.handle() ? m_db.errorCode() : 0;
    // Noted here, where every failure of the connection passes: the next
    // operation starts over on a fresh file (recoverFromDamageLocked()).
    if (sqlite::isDamage(sqliteCode))
        m_damageSeen = true;
    return fileFailure(code, connectionMessage(), sqliteCode);
}

Unexpected<IndexStoreError> IndexStore::fileFailure(IndexStoreError::Code code, std::string message,
                                                    int sqliteCode) const
{
    return Unexpected<IndexStoreError>(IndexStoreError{code, std::move(message), sqliteCode, m_databaseURL.string()});
}

// ---- Connection and schema.

StoreResult<void> IndexStore::openDatabase()
{
    const std::filesystem::path folder = m_databaseURL.parent_path();
    if (std::string refusal = privatefiles::foreignOwnerRefusal(folder); !refusal.empty())
        return storeFailure(IndexStoreError::Code::FileSystem, std::move(refusal));
    if (const std::error_code ec = privatefiles::createFolder(folder))
        return storeFailure(IndexStoreError::Code::FileSystem,
                            "无法创建索引数据库所在的文件夹 " + folder.string() + "（" + ec.message() + "）");

    m_readOnly = false;
    const int rc = m_db.open(m_databaseURL.string(), sqlite::Connection::Mode::ReadWriteCreate);
    if (rc != SQLITE_OK || !m_db.isOpen()) {
        if (isReadOnlyTrouble(rc) && sqlite::isAbsentFromReadOnlyFolder(m_databaseURL))
            return openEmptyReadOnly();
        std::string message = sqlite::describeLastError(m_db);
        // A link in the file's place is not ours to write through: set aside.
        if (sqlite::isLinkRefusal(m_db))
            m_damageSeen = true;
        m_db.close();
        return fileFailure(IndexStoreError::Code::OpenDatabase, std::move(message), rc);
    }
    bool foreign = false;
    int claimed = sqlite::claim(m_db, kIndexOwner, foreign);
    // A file or folder the user may read but not write: searched as it is.
    if (m_db.isReadOnly() || isReadOnlyTrouble(claimed)) {
        m_readOnly = true;
        if (m_db.open(m_databaseURL.string(), sqlite::Connection::Mode::ReadOnly) != SQLITE_OK)
            return connectionFailure(IndexStoreError::Code::OpenDatabase);
        claimed = sqlite::claim(m_db, kIndexOwner, foreign);
    }
    if (claimed != SQLITE_OK)
        return connectionFailure(IndexStoreError::Code::OpenDatabase);
    if (foreign) {
        m_damageSeen = true;
        return fileFailure(IndexStoreError::Code::OpenDatabase, "不是本程序的索引数据库", SQLITE_NOTADB);
    }
    if (m_readOnly)
        return {};
    for (const char* pragma : kConnectionOptions) {
        // A refused option leaves SQLite's default. A file another program
        // holds refuses each of them only after a busy wait: the first such
        // refusal ends the open (the connection stays), to be tried again whole.
        if (sqlite::isTransient(m_db.exec(pragma)))
            return connectionFailure(IndexStoreError::Code::Exec);
    }
    // What an earlier run left in the log goes now, before any reader holds it.
    sqlite::truncateLog(m_db);
    return {};
}

// A folder the user may read but not write that holds no such file (the
// shared-drive index of a copied folder, never made there): an empty index,
// read-only like the folder, rather than a failed start.
StoreResult<void> IndexStore::openEmptyReadOnly()
{
    m_readOnly = true;
    if (m_db.open(":memory:", sqlite::Connection::Mode::ReadWriteCreate) != SQLITE_OK)
        return connectionFailure(IndexStoreError::Code::OpenDatabase);
    if (StoreResult<void> r = runSchema(); !r)
        return r;
    // Writes fail as they would on a read-only file, never vanish into memory.
    return execute("PRAGMA query_only = 1;");
}

StoreResult<void> IndexStore::execute(const char* sql)
{
    if (!m_db.isOpen())
        return fileFailure(IndexStoreError::Code::Exec, kUnknownSqliteError);
    if (m_db.exec(sql) != SQLITE_OK)
        return connectionFailure(IndexStoreError::Code::Exec);
    return {};
}

StoreResult<void> IndexStore::runSchema()
{
    for (const char* statement : kSchema)
        if (StoreResult<void> r = execute(statement); !r)
            return r;
    return {};
}

StoreResult<void> IndexStore::ensureContentColumn()
{
    sqlite::Statement info;
    if (info.prepare(m_db, "PRAGMA table_info(file_index);") != SQLITE_OK)
        return connectionFailure(IndexStoreError::Code::Prepare);
    while (info.step() == SQLITE_ROW)
        if (info.columnText(1) == "content_text")
            return {};
    info.finalize();
    return execute("ALTER TABLE file_index ADD COLUMN content_text TEXT NOT NULL DEFAULT '';");
}

std::optional<std::int64_t> IndexStore::countRows() const
{
    std::optional<std::int64_t> rows;
    {
        sqlite::Statement count;
        if (count.prepare(m_db, "SELECT COUNT(*) FROM file_index;") != SQLITE_OK)
            return std::nullopt;
        rows = count.step() == SQLITE_ROW ? count.columnInt64(0) : std::int64_t(0);
    }
    // The count read every interior page of the table (16 MB at a million
    // items) into the connection's cache, which nothing reads again soon.
    sqlite3_db_release_memory(m_db.handle());
    return rows;
}

StoreResult<std::int64_t> IndexStore::loadIndexedCountFromDatabase()
{
    if (const std::optional<std::int64_t> rows = countRows())
        return *rows;
    return connectionFailure(IndexStoreError::Code::Prepare);
}

StoreResult<void> IndexStore::openAndPrepare()
{
    if (StoreResult<void> r = openDatabase(); !r)
        return r;
    return checkAndPrepare();
}

StoreResult<void> IndexStore::checkAndPrepare()
{
    // Damage in the middle of the file answers no open and no count: only a
    // read of its pages finds it, and the snapshot load would then stop short
    // silently. Bounded, so a very large index is checked in part.
    // A file another program holds fails here, after one busy wait rather
    // than one per statement; any other trouble of the check is left to the
    // schema statements to report.
    const int check = sqlite::quickCheck(m_db, kOpenCheckBudget);
    if (sqlite::isDamage(check) || sqlite::isTransient(check)) {
        m_damageSeen = sqlite::isDamage(check);
        return fileFailure(IndexStoreError::Code::Exec, sqlite::describe(check, sqlite3_errstr(check)), check);
    }
    // The check read up to the page cache's limit (16 MB) of pages that no
    // search or write of the store needs again soon: hand them back.
    sqlite3_db_release_memory(m_db.handle());
    if (m_readOnly)
        return refreshPersistedCount();
    if (StoreResult<void> r = runSchema(); !r)
        return r;
    if (StoreResult<void> r = ensureContentColumn(); !r)
        return r;
    if (loweredname::prepare(m_db, m_loweredNamesComplete) != SQLITE_OK)
        return connectionFailure(IndexStoreError::Code::Exec);
    return refreshPersistedCount();
}

StoreResult<void> IndexStore::refreshPersistedCount()
{
    StoreResult<std::int64_t> count = loadIndexedCountFromDatabase();
    if (!count)
        return Unexpected<IndexStoreError>(count.error());
    m_persistedIndexedCount = *count;
    m_persistedCountStale = false;
    return {};
}

StoreResult<void> IndexStore::bootstrap()
{
    std::lock_guard lock(m_mutex);
    StoreResult<void> opened = openDatabase();
    // A file that is not ours, or damaged before any page is read: set aside.
    if (!opened && m_damageSeen) {
        opened = setAsideLocked();
        if (opened)
            opened = openDatabase();
    }
    if (!opened)
        return opened;
    // The snapshot is read on connections of its own and installed only once
    // this lock is released, so it loads while the damage check reads. The
    // check's verdict still decides: on damage the recovery drops what it
    // read (m_discardLoadingSnapshot), on any other failure it is abandoned.
    // A file without the table yet loads empty, as it would after the schema.
    startCacheWarmup();
    opened = checkAndPrepare();
    if (!opened && m_damageSeen)
        opened = recoverFromDamageLocked();
    if (!opened) {
        abandonCacheWarmupLocked();
        return opened;
    }
    if (!m_loweredNamesComplete && !m_readOnly)
        startLoweredNameFillLocked();
    return {};
}

void IndexStore::startLoweredNameFillLocked()
{
    // After the cache is installed: the snapshot's readers would keep the
    // fill's log from being checkpointed, and the load comes first.
    const std::int64_t generation = ++m_loweredNamesGeneration;
    m_searchCacheReadyWaiters.push_back([this, generation](bool ready) {
        if (!ready)
            return;
        m_jobs.start([this, generation](const CancelToken& token) {
            if (!loweredname::fill(m_databaseURL, token))
                return;
            std::lock_guard lock(m_mutex);
            if (generation == m_loweredNamesGeneration)
                m_loweredNamesComplete = true;
        });
    });
}

StoreResult<void> IndexStore::setAsideLocked()
{
    m_damageSeen = false;
    m_db.close();
    const sqlite::SetAside aside = sqlite::moveDamagedAside(m_databaseURL);
    if (!aside.error.empty())
        return storeFailure(IndexStoreError::Code::FileSystem,
                            "无法另存索引数据库 " + m_databaseURL.string() + "（" + aside.error + "）");
    m_recoveredFromDamage = aside.copy;
    ++m_loweredNamesGeneration;  // a fill still running works on the file moved aside
    return {};
}

StoreResult<void> IndexStore::recoverFromDamageLocked()
{
    if (StoreResult<void> r = setAsideLocked(); !r)
        return r;
    if (StoreResult<void> r = openAndPrepare(); !r)
        return r;
    // The fresh file is empty; so is the cache until the owner fills both again.
    resetSearchIndexesLocked();
    m_items = ItemTable();
    m_indexes.clear();
    m_pendingWrites.clear();
    // A snapshot still loading was read from the damaged file: it must not land.
    m_discardLoadingSnapshot = m_warmupPending;
    m_cacheReady = !m_warmupPending;
    m_searchIndexesComplete = m_cacheReady;
    m_persistedIndexedCount = 0;
    m_persistedCountStale = false;
    return {};
}

StoreResult<void> IndexStore::recoverIfDamagedLocked()
{
    return m_damageSeen ? recoverFromDamageLocked() : StoreResult<void>{};
}

void IndexStore::setStartedOverHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_mutex);
    m_startedOverHandler = std::move(handler);
}

void IndexStore::startOverAfterDamagedReadLocked()
{
    if (std::exchange(m_readRecoveryPending, true))
        return;
    // Not here: the read's caller still works on the connection and the cache.
    m_jobs.start([this](const CancelToken&) {
        std::function<void()> startedOver;
        {
            std::lock_guard lock(m_mutex);
            m_readRecoveryPending = false;
            // A write may have dealt with it meanwhile.
            if (!m_damageSeen)
                return;
            if (recoverFromDamageLocked())
                startedOver = m_startedOverHandler;
        }
        if (startedOver)
            startedOver();
    });
}

std::optional<std::filesystem::path> IndexStore::takeRecoveredFromDamage()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_recoveredFromDamage, std::nullopt);
}

// ---- Reads on the store's connection.

int IndexStore::stepRead(sqlite::Statement& statement)
{
    if (m_probe)
        if (const int injected = m_probe->takeReadFailure())
            return injected;
    return statement.step();
}

IndexStore::SQLQueryResult IndexStore::fetchItems(const std::string& sql, const std::vector<SQLBinding>& bindings,
                                                  int maxReadAttempts)
{
    // maxReadAttempts counts the repetitions still allowed, so 3 means at most four runs.
    for (int remaining = maxReadAttempts;; --remaining) {
        if (!m_db.isOpen())
            return {};
        sqlite::Statement statement;
        if (statement.prepare(m_db, sql) != SQLITE_OK) {
            if (sqlite::isDamage(m_db.errorCode())) {
                m_damageSeen = true;
                startOverAfterDamagedReadLocked();
            }
            if (!sqlite::isTransient(m_db.errorCode()))
                return {};
        } else {
            if (m_probe)
                m_probe->noteReadRun();
            statement.bindAll(bindings);
            SQLQueryResult result;
            result.items.reserve(1024);
            int rc;
            while ((rc = stepRead(statement)) == SQLITE_ROW)
                result.items.push_back(indexsql::rowToItem(statement));
            if (sqlite::isDamage(rc)) {
                m_damageSeen = true;
                startOverAfterDamagedReadLocked();
            }
            if (!sqlite::isTransient(rc))
                return result;  // done, or an error: the rows read so far
        }
        // Busy or locked: the rows of this run are dropped.
        if (remaining < 1)
            return {{}, true};
        m_clock->sleepFor(kFetchRetryWait);
    }
}

void IndexStore::recordTransientSearchFailure()
{
    const Clock::TimePoint now = m_clock->now();
    if (!m_lastTransientSearchFailureAt || now - *m_lastTransientSearchFailureAt > kTransientFailureWindow)
        m_transientSearchFailureStreak = 0;
    ++m_transientSearchFailureStreak;
    m_lastTransientSearchFailureAt = now;
    if (m_transientSearchFailureStreak < 4)
        return;

    // A quick run of busy reads: start over with a fresh connection. Every
    // error here is dropped; without a connection the searches return nothing.
    m_transientSearchFailureStreak = 0;
    m_db.close();
    if (m_probe && m_probe->noteReopen())
        return;
    if (openDatabase() && !m_readOnly && runSchema())
        (void)ensureContentColumn();
}

// ---- Cache readiness.

void IndexStore::resumeSearchCacheReadyWaiters(bool ready)
{
    std::vector<Waiter> waiters;
    waiters.swap(m_searchCacheReadyWaiters);
    for (Waiter& w : waiters)
        w(ready);
}

namespace {
// What a blocked waiter waits on; shared with the waiter list, so a wait that
// gave up leaves a harmless entry behind.
struct WaitState {
    CancelToken wake;
    std::atomic<bool> ready{false};
};
} // namespace

bool IndexStore::waitForSearchCacheReady(std::optional<Clock::Duration> timeout)
{
    auto state = std::make_shared<WaitState>();
    {
        std::lock_guard lock(m_mutex);
        if (m_cacheReady)
            return true;
        m_searchCacheReadyWaiters.push_back([state](bool ready) {
            state->ready = ready;
            state->wake.cancel();
        });
    }
    if (timeout) {
        // The race of the two waits: the install cancels the sleep.
        m_clock->sleepFor(*timeout, &state->wake);
        return state->ready.load();
    }
    // Not a sleep on the clock: this wait has no limit and must not depend on time.
    std::mutex mutex;
    std::condition_variable cv;
    state->wake.addWaiter(&cv, &mutex);
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return state->wake.isCancelled(); });
    }
    state->wake.removeWaiter(&cv);
    return state->ready.load();
}

// ---- Simple reads.

std::int64_t IndexStore::indexedCount() const
{
    std::lock_guard lock(m_mutex);
    if (m_cacheReady)
        return static_cast<std::int64_t>(m_items.size());
    // Writes made before the cache is installed changed the rows the
    // bootstrap counted: a run that ended before it gave that old count.
    if (m_persistedCountStale) {
        if (const std::optional<std::int64_t> rows = countRows()) {
            m_persistedIndexedCount = *rows;
            m_persistedCountStale = false;
        }
    }
    return m_persistedIndexedCount;
}

IndexStore::Status IndexStore::status() const
{
    std::lock_guard lock(m_mutex);
    return {m_cacheReady, m_searchIndexesComplete, m_readOnly};
}

std::vector<IndexedItem> IndexStore::items(const std::vector<std::string>& paths, int limit) const
{
    std::lock_guard lock(m_mutex);
    std::vector<IndexedItem> out;
    if (!m_cacheReady || paths.empty() || limit < 1)
        return out;
    out.reserve(std::min<std::size_t>(paths.size(), static_cast<std::size_t>(limit)));
    for (const std::string& path : paths) {
        if (std::optional<std::uint32_t> position = m_items.find(path)) {
            out.push_back(m_items.materialize(*position));
            if (out.size() >= static_cast<std::size_t>(limit))
                break;
        }
    }
    return out;
}

// ---- The probe's side: tests and benchmarks only.

IndexStoreProbe::Store IndexStore::probeSide()
{
    IndexStoreProbe::Store side;
    side.indexBuildGeneration = [this] { return m_indexBuildGeneration.load(); };
    side.runningBackgroundJobs = [this] { return m_jobs.running(); };
    side.nameOrdersReady = [this] {
        std::lock_guard lock(m_mutex);
        return m_items.hasNameOrders();
    };
    side.memoryUsage = [this] {
        std::lock_guard lock(m_mutex);
        return IndexStoreProbe::MemoryUsage{m_items.size(), m_items.memoryUsage(),
                                            m_indexes.memoryUsage(IndexKind::Characters),
                                            m_indexes.memoryUsage(IndexKind::Bigrams),
                                            m_indexes.memoryUsage(IndexKind::Prefixes)};
    };
    side.transientSearchFailureStreak = [this] {
        std::lock_guard lock(m_mutex);
        return m_transientSearchFailureStreak;
    };
    side.isLoweredNameColumnComplete = [this] {
        std::lock_guard lock(m_mutex);
        return m_loweredNamesComplete;
    };
    side.pragmaValue = [this](const std::string& name) -> std::optional<std::string> {
        std::lock_guard lock(m_mutex);
        sqlite::Statement statement;
        if (statement.prepare(m_db, "PRAGMA " + name + ";") != SQLITE_OK || statement.step() != SQLITE_ROW)
            return std::nullopt;
        return std::string(statement.columnText(0));
    };
    side.shouldUseFastCharacterIndex = [this](const SearchQuery& query) {
        std::lock_guard lock(m_mutex);
        return TypingRoad::shouldUseFastCharacterIndex(cacheView(), query);
    };
    side.fastCandidateItems = [this](const SearchQuery& query) -> std::optional<std::vector<IndexedItem>> {
        std::lock_guard lock(m_mutex);
        std::optional<std::vector<std::uint32_t>> positions = TypingRoad::fastCandidatePositions(cacheView(), query);
        if (!positions)
            return std::nullopt;
        return m_items.materialize(*positions);
    };
    side.rebuildSearchCache = [this] {
        std::lock_guard lock(m_mutex);
        rebuildSearchCacheLocked();
    };
    side.whenSearchCacheReady = [this](std::function<void()> callback) {
        std::unique_lock lock(m_mutex);
        if (m_cacheReady) {
            lock.unlock();
            callback();
            return;
        }
        m_searchCacheReadyWaiters.push_back([cb = std::move(callback)](bool ready) {
            if (ready)
                cb();
        });
    };
    return side;
}

} // namespace pallix
