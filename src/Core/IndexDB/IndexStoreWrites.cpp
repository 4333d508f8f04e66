// Writes of the file index: each operation says how it changes the rows, and
// one sequence writes that to the database first, in one immediate
// transaction, then patches the cached item list in place and arranges the
// rebuild of the inverted indexes.

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <sqlite3.h>

#include "Core/IndexDB/IndexSql.h"
#include "Core/IndexDB/IndexStore.h"

namespace pallix {

namespace {

// The lower-cased name by the connection's own lower(), the function the
// prefix search without the column applies to the name.
constexpr std::string_view kUpsertSql =
    "INSERT INTO file_index (path, name, parent_path, extension, size, modified_at, is_directory, content_text,\n"
    "lower_name)\n"
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, lower(?2))\n"
    "ON CONFLICT(path) DO UPDATE SET\n"
    "name = excluded.name,\n"
    "parent_path = excluded.parent_path,\n"
    "extension = excluded.extension,\n"
    "size = excluded.size,\n"
    "modified_at = excluded.modified_at,\n"
    "is_directory = excluded.is_directory,\n"
    "content_text = excluded.content_text,\n"
    "lower_name = excluded.lower_name;";

constexpr int kUpsertRebuildDelayMs = 380;
constexpr int kRemovalRebuildDelayMs = 90;

// A run of paths in byte order: from `low` (included or not) up to `high`, excluded.
struct PathRange {
    std::string low;
    bool lowIncluded = true;
    std::string high;
};

// A kept folder at or above `root` spares all of it.
bool isSparedWhole(const std::string& root, const std::vector<std::string>& kept)
{
    return std::any_of(kept.begin(), kept.end(), [&](const std::string& k) { return paths::isUnder(root, k); });
}

// The kept folders strictly below `root`, outermost only (one under another
// adds nothing), sorted.
std::vector<std::string> outermostKeptBelow(const std::string& root, const std::vector<std::string>& kept)
{
    std::unordered_set<std::string_view> below;
    for (const std::string& k : kept)
        if (k != root && paths::isUnder(k, root))
            below.insert(k);
    // Walking up each folder's ancestors keeps this linear in the kept folders.
    const auto hasKeptAncestor = [&below](std::string_view path) {
        while (path != "/" && !path.empty()) {
            path = paths::deletingLastComponent(path);
            if (below.contains(path))
                return true;
        }
        return false;
    };
    std::vector<std::string> outermost;
    for (std::string_view k : below)
        if (!hasKeptAncestor(k))
            outermost.emplace_back(k);
    std::sort(outermost.begin(), outermost.end());
    return outermost;
}

// The ranges of the paths strictly below `root` that lie outside every kept
// folder. A kept folder spares its own path (one point) and [k + "/", k + "0");
// these never overlap when the folders are outermost, so one sweep in byte
// order leaves the gaps between them. Ranges keep the delete on the path
// index, where testing each row against every kept folder would read them all.
std::vector<PathRange> rangesBelowSparing(const std::string& root, const std::vector<std::string>& outermost)
{
    struct Hole {
        std::string low;
        std::optional<std::string> high;  // none: the point `low` alone
    };
    std::vector<Hole> holes;
    for (const std::string& k : outermost) {
        holes.push_back({k, std::nullopt});
        holes.push_back({k + "/", k + "0"});
    }
    std::sort(holes.begin(), holes.end(), [](const Hole& a, const Hole& b) { return a.low < b.low; });
    const std::string base = root == "/" ? std::string() : root;
    std::vector<PathRange> ranges;
    PathRange cursor{base + "/", true, {}};
    for (const Hole& hole : holes) {
        ranges.push_back({cursor.low, cursor.lowIncluded, hole.low});
        cursor = hole.high ? PathRange{*hole.high, true, {}} : PathRange{hole.low, false, {}};
    }
    ranges.push_back({cursor.low, cursor.lowIncluded, base + "0"});
    return ranges;
}

// What the page cache may keep between writes: the upper pages of the
// table and its indexes, which every write reads again.
constexpr std::int64_t kKeptCacheBytes = 8 << 20;

// How often a write that found the file's write lock taken waits for it and tries again.
constexpr int kWriteLockRounds = 3;

// Waits on a connection of its own, for at most the busy timeout, until no
// other connection holds `file`'s write lock: true once it was free.
bool waitForWriteLock(const std::filesystem::path& file)
{
    sqlite::Connection probe;
    if (probe.open(file.string(), sqlite::Connection::Mode::ReadWriteCreate) != SQLITE_OK)
        return false;
    if (probe.exec("BEGIN IMMEDIATE TRANSACTION") != SQLITE_OK)
        return false;
    (void)probe.exec("ROLLBACK TRANSACTION");
    return true;
}

} // namespace

StoreResult<void> IndexStore::writeRows(std::unique_lock<std::mutex>& lock, const RowChange& change)
{
    bool waited = false;
    bool followed = false;
    const auto followWhileKeptOut = [&] {
        if (!std::exchange(followed, true))
            followInCache(change);
    };
    if (StoreResult<void> r = beginTransaction(lock, &waited, followWhileKeptOut); !r)
        return r;
    StoreResult<void> written;
    if (waited && change.readAgain)
        written = change.readAgain();
    if (written)
        written = writeRowsToDB(change);
    if (written)
        written = commitTransaction();
    // The rows are as they were, so the cache stays as it was too (unless it
    // took the change while the write waited: that is what the disk holds).
    if (!written)
        return abandonWrite(std::move(written), true);
    // Again after a wait: the change read again may differ, and the indexes
    // take a change they already hold as it is.
    followInCache(change);
    return {};
}

StoreResult<void> IndexStore::writeRowsToDB(const RowChange& change)
{
    StoreResult<void> written;
    if (change.removed)
        written = deletePrefixesFromDB(*change.removed, change.keptPaths);
    if (written && change.upserted)
        written = upsertToDB(*change.upserted);
    return written;
}

void IndexStore::followInCache(const RowChange& change)
{
    const bool large = change.largeRebuildsWhole && change.upserted &&
                       patchingCostsMoreThanABuild(change.upserted->size());
    if (large)
        resetSearchIndexesLocked();
    if (change.removed)
        removeFromCache(*change.removed, change.keptPaths);
    if (change.upserted)
        patchCache(*change.upserted);
    m_items.compactFoldersIfWasteful();
    if (m_warmupPending && change.removed)
        for (const std::string& prefix : *change.removed)
            m_pendingWrites.push_back(
                {{}, prefix, true, change.keptPaths ? *change.keptPaths : std::vector<std::string>{}});
    if (m_warmupPending && change.upserted)
        m_pendingWrites.push_back({*change.upserted, {}, false, {}});
    if (large)
        rebuildSearchCacheLocked();
    else
        scheduleCompactionIfDue(change.rebuildDelayMs);
}

int IndexStore::tryBeginTransaction()
{
    if (!m_db.isOpen())
        return SQLITE_MISUSE;
    sqlite3_busy_timeout(m_db.handle(), 0);
    const int rc = m_db.exec("BEGIN IMMEDIATE TRANSACTION");
    sqlite3_busy_timeout(m_db.handle(), sqlite::kBusyTimeoutMs);
    return rc;
}

StoreResult<void> IndexStore::beginTransaction(std::unique_lock<std::mutex>& lock, bool* waited,
                                               const std::function<void()>& beforeWaiting)
{
    // The wait for another program's write lock happens on a connection of
    // its own with the store unlocked: waiting on the store's connection held
    // the store's lock, and every search stood behind the write for seconds.
    bool mayWait = true;
    for (int round = 0;; ++round) {
        if (StoreResult<void> r = recoverIfDamagedLocked(); !r)
            return r;
        const int rc = tryBeginTransaction();
        if (rc == SQLITE_OK)
            return {};
        if (!m_db.isOpen())
            return fileFailure(IndexStoreError::Code::Exec, connectionMessage());
        if (!sqlite::isTransient(rc) || !mayWait || round == kWriteLockRounds)
            return connectionFailure(IndexStoreError::Code::Exec);
        if (beforeWaiting)
            beforeWaiting();
        lock.unlock();
        mayWait = waitForWriteLock(m_databaseURL);
        lock.lock();
        if (waited)
            *waited = true;
    }
}

StoreResult<void> IndexStore::commitTransaction()
{
    StoreResult<void> committed = execute("COMMIT TRANSACTION");
    if (committed && !m_cacheReady)
        m_persistedCountStale = true;
    // A large write leaves a log as large as itself behind: given back now.
    if (committed && sqlite::logIsLarge(m_databaseURL))
        sqlite::truncateLog(m_db);
    // A burst's write fills the page cache up to its limit (80 MB) with pages
    // the next small write does not need: given back, while a small write's
    // few pages stay for the next.
    if (committed)
        sqlite::releaseCacheAbove(m_db, kKeptCacheBytes);
    return committed;
}

void IndexStore::rollbackTransaction() { (void)execute("ROLLBACK TRANSACTION"); }

StoreResult<void> IndexStore::abandonWrite(StoreResult<void> failure, bool inTransaction)
{
    if (inTransaction)
        rollbackTransaction();
    // Damage is dealt with now rather than at the next write, so the owner
    // learns right after this write that the store started over and can fill
    // it again at once. A recovery that fails is tried again by that write.
    (void)recoverIfDamagedLocked();
    return failure;
}

StoreResult<void> IndexStore::upsertToDB(const std::vector<IndexedItem>& items)
{
    if (items.empty())
        return {};
    sqlite::Statement statement;
    if (statement.prepare(m_db, kUpsertSql) != SQLITE_OK)
        return connectionFailure(IndexStoreError::Code::Prepare);
    for (const IndexedItem& item : items) {
        statement.bindText(1, item.path());
        statement.bindText(2, item.name());
        statement.bindText(3, item.parentPath());
        statement.bindText(4, item.fileExtension());
        statement.bindInt64(5, item.size());
        statement.bindDouble(6, item.modifiedAt());
        statement.bindInt(7, item.isDirectory() ? 1 : 0);
        statement.bindText(8, item.searchableText());
        if (statement.step() != SQLITE_DONE)
            return connectionFailure(IndexStoreError::Code::Step);
        statement.reset();
        statement.clearBindings();
    }
    return {};
}

StoreResult<void> IndexStore::deletePrefixesFromDB(const std::vector<std::string>& prefixes,
                                                   const std::vector<std::string>* keptPaths)
{
    if (keptPaths) {
        for (const std::string& prefix : prefixes)
            if (StoreResult<void> r = deletePrefixKeepingFromDB(prefix, *keptPaths); !r)
                return r;
        return {};
    }
    if (prefixes.empty())
        return {};
    // One statement for all: a batch removes thousands of paths.
    sqlite::Statement statement;
    const std::string sql = "DELETE FROM file_index\nWHERE " + std::string(indexsql::kUnderFolderCondition) + ";";
    if (statement.prepare(m_db, sql) != SQLITE_OK)
        return connectionFailure(IndexStoreError::Code::Prepare);
    for (const std::string& prefix : prefixes) {
        statement.bindAll(indexsql::underFolderBindings(prefix));
        if (statement.step() != SQLITE_DONE)
            return connectionFailure(IndexStoreError::Code::Step);
        statement.reset();
    }
    return {};
}

StoreResult<void> IndexStore::deletePrefixKeepingFromDB(const std::string& prefix,
                                                        const std::vector<std::string>& keptPaths)
{
    if (keptPaths.empty())
        return deletePrefixesFromDB({prefix});
    if (isSparedWhole(prefix, keptPaths))
        return {};
    const auto run = [this](std::string_view sql, const std::vector<SQLBinding>& bindings) -> StoreResult<void> {
        sqlite::Statement statement;
        if (statement.prepare(m_db, sql) != SQLITE_OK)
            return connectionFailure(IndexStoreError::Code::Prepare);
        statement.bindAll(bindings);
        if (statement.step() != SQLITE_DONE)
            return connectionFailure(IndexStoreError::Code::Step);
        return {};
    };
    if (StoreResult<void> r = run("DELETE FROM file_index WHERE path = ?;", {SQLBinding::text(prefix)}); !r)
        return r;
    for (const PathRange& range : rangesBelowSparing(prefix, outermostKeptBelow(prefix, keptPaths))) {
        const std::string_view sql = range.lowIncluded ? "DELETE FROM file_index WHERE path >= ? AND path < ?;"
                                                       : "DELETE FROM file_index WHERE path > ? AND path < ?;";
        if (StoreResult<void> r = run(sql, {SQLBinding::text(range.low), SQLBinding::text(range.high)}); !r)
            return r;
    }
    return {};
}

void IndexStore::removeFromCache(const std::vector<std::string>& prefixes, const std::vector<std::string>* keptPaths)
{
    if (!m_cacheReady || m_items.empty() || prefixes.empty())
        return;
    std::vector<std::uint32_t> removed;
    if (!keptPaths) {
        m_items.removeUnderAny(prefixes, &removed);
        noteRemoved(removed);
        return;
    }
    for (const std::string& prefix : prefixes) {
        removed.clear();
        m_items.removeUnder(prefix, *keptPaths, &removed);
        noteRemoved(removed);
    }
}

void IndexStore::patchCache(const std::vector<IndexedItem>& items)
{
    for (const IndexedItem& item : items) {
        const std::size_t before = m_items.size();
        m_items.patch(item);
        // A replaced item keeps its path, so its name and its keys.
        if (m_items.size() > before)
            noteAppended(before);
    }
}

void IndexStore::noteAppended(std::size_t position)
{
    // Before the cache is installed the items are replaced whole, and the build
    // that follows sees them all.
    if (!m_cacheReady || (!m_searchIndexesComplete && !m_buildRecording))
        return;
    const ItemTable::KeyForms forms = m_items.keyForms(position);
    if (m_searchIndexesComplete)
        m_indexes.appendItem(forms.searchName, forms.normalizedSearchName, forms.normalizedStem);
    if (m_buildRecording)
        m_buildChanges.appendItem(forms.searchName, forms.normalizedSearchName, forms.normalizedStem);
}

void IndexStore::noteRemoved(const std::vector<std::uint32_t>& positions)
{
    if (positions.empty())
        return;
    if (m_searchIndexesComplete)
        m_indexes.removePositions(positions);
    if (m_buildRecording)
        m_buildChanges.removePositions(positions);
}

std::size_t IndexStore::compactionThreshold() const
{
    // A few thousand changes cost a search little; a build over a large
    // table costs every core for a while, so it waits for many.
    return 4096 + m_indexes.baseCount() / 16;
}

bool IndexStore::patchingCostsMoreThanABuild(std::size_t appended) const
{
    // Past a point laying items over the indexes one by one costs more than
    // a build: a large write drops the indexes first and builds them anew.
    return m_cacheReady && appended >= std::max<std::size_t>(65536, compactionThreshold());
}

void IndexStore::scheduleCompactionIfDue(int delayMilliseconds)
{
    // A build on its way, still waiting to start or installing, takes these
    // changes or lays them over what it installs: another would only
    // supersede it and start over.
    if (!m_searchIndexesComplete || m_indexBuildTask)
        return;
    if (m_indexes.changeCount() >= compactionThreshold())
        scheduleDebouncedSearchCacheRebuild(delayMilliseconds);
}

void IndexStore::scheduleDebouncedSearchCacheRebuild(int delayMilliseconds)
{
    if (m_debouncedSearchCacheRebuildTask)
        m_debouncedSearchCacheRebuildTask->cancel();
    // The deadline is fixed now, not when the thread gets going, so a run of
    // writes is timed by the writes alone.
    const Clock::TimePoint deadline = m_clock->now() + std::chrono::milliseconds(delayMilliseconds);
    m_debouncedSearchCacheRebuildTask = m_jobs.start([this, deadline](const CancelToken& token) {
        const Clock::Duration remaining = deadline - m_clock->now();
        if (remaining > Clock::Duration::zero())
            m_clock->sleepFor(remaining, &token);
        if (token.isCancelled())
            return;
        std::lock_guard lock(m_mutex);
        // Cancelled or replaced while it woke up: the newer one rebuilds.
        if (token.isCancelled() || m_debouncedSearchCacheRebuildTask.get() != &token)
            return;
        m_debouncedSearchCacheRebuildTask.reset();
        // The runs of items removed or replaced since are garbage in the
        // table until it is compacted: under churn they would only grow.
        // Positions and names stay, so the indexes in use stay right.
        m_items.compactIfWasteful();
        restartIndexBuildLocked();
    });
}

StoreResult<void> IndexStore::upsert(const std::vector<IndexedItem>& items)
{
    std::unique_lock lock(m_mutex);
    if (items.empty())
        return {};
    return writeRows(lock, {.upserted = &items, .rebuildDelayMs = kUpsertRebuildDelayMs});
}

StoreResult<void> IndexStore::applyFullRescan(const std::vector<std::string>& roots,
                                              const std::vector<IndexedItem>& items,
                                              const std::vector<std::string>& keptPaths)
{
    std::unique_lock lock(m_mutex);
    if (m_debouncedSearchCacheRebuildTask) {
        m_debouncedSearchCacheRebuildTask->cancel();
        m_debouncedSearchCacheRebuildTask.reset();
    }
    const std::vector<std::string> standardRoots = paths::standardizeAll(roots);
    const std::vector<std::string> standardKept = paths::standardizeAll(keptPaths);
    return writeRows(lock, {.removed = &standardRoots,
                            .keptPaths = &standardKept,
                            .upserted = &items,
                            .rebuildDelayMs = kRemovalRebuildDelayMs});
}

StoreResult<void> IndexStore::readListingChanges(const std::vector<FolderListing>& listings,
                                                 std::vector<std::string>& vanished, std::vector<IndexedItem>& changed)
{
    // The rows are asked, on the parent-path index: one folder's children
    // directly, not a pass over every cached item, and the same answer before
    // the cache is loaded as after.
    vanished.clear();
    changed.clear();
    sqlite::Statement statement;
    if (statement.prepare(m_db, "SELECT path, size, modified_at, is_directory, content_text FROM file_index "
                                "WHERE parent_path = ?;") != SQLITE_OK)
        return fileFailure(IndexStoreError::Code::Prepare, connectionMessage());
    for (const FolderListing& listing : listings) {
        std::unordered_map<std::string_view, const IndexedItem*> listed;
        listed.reserve(listing.children.size());
        for (const IndexedItem& child : listing.children)
            listed[child.path()] = &child;
        // A folder listed again after a change mostly holds what it held:
        // rewriting every child made each batch write its folders whole.
        std::unordered_set<std::string_view> unchanged;
        const std::string folder = paths::standardize(listing.folder);
        statement.bindText(1, folder);
        int step = SQLITE_ROW;
        while ((step = statement.step()) == SQLITE_ROW) {
            // "/" is its own parent: taken for a vanished child, it would
            // take every row of the index with it.
            if (statement.columnText(0) == folder)
                continue;
            const auto found = listed.find(statement.columnText(0));
            if (found == listed.end()) {
                vanished.emplace_back(statement.columnText(0));
                continue;
            }
            const IndexedItem& child = *found->second;
            if (statement.columnInt64(1) == child.size() && statement.columnDouble(2) == child.modifiedAt() &&
                (statement.columnInt(3) != 0) == child.isDirectory() && statement.columnText(4) == child.searchableText())
                unchanged.insert(found->first);
        }
        if (step != SQLITE_DONE)
            return connectionFailure(IndexStoreError::Code::Step);
        statement.reset();
        for (const IndexedItem& child : listing.children)
            if (!unchanged.contains(child.path()))
                changed.push_back(child);
    }
    return {};
}

StoreResult<void> IndexStore::synchronizeFolders(const std::vector<FolderListing>& listings)
{
    std::unique_lock lock(m_mutex);
    std::vector<std::string> vanished;
    std::vector<IndexedItem> changed;
    // Out of the statement's scope: starting over closes the connection.
    if (StoreResult<void> read = readListingChanges(listings, vanished, changed); !read)
        return abandonWrite(std::move(read), false);
    if (vanished.empty() && changed.empty())
        return {};
    return writeRows(lock, {.removed = &vanished,
                            .upserted = &changed,
                            .rebuildDelayMs = kRemovalRebuildDelayMs,
                            .largeRebuildsWhole = false,
                            .readAgain = [&] { return readListingChanges(listings, vanished, changed); }});
}

StoreResult<void> IndexStore::removePathPrefixes(const std::vector<std::string>& paths)
{
    std::unique_lock lock(m_mutex);
    if (paths.empty())
        return {};
    if (StoreResult<void> r = recoverIfDamagedLocked(); !r)
        return r;
    // One transaction and one pass over the cache for all of them: a pass
    // per path made a burst of deletions cost a pass over every item each.
    // A single path takes one too, so that it waits for another program's
    // write lock with the store unlocked; without a connection its statement
    // reports the failure.
    const std::vector<std::string> prefixes = paths::standardizeAll(paths);
    if (prefixes.size() == 1 && !m_db.isOpen())
        return abandonWrite(deletePrefixesFromDB(prefixes), false);
    return writeRows(lock, {.removed = &prefixes, .rebuildDelayMs = kRemovalRebuildDelayMs});
}

std::vector<std::string> IndexStore::pathsBelow(const std::string& folder, const std::string& after, int limit)
{
    std::lock_guard lock(m_mutex);
    const std::vector<SQLBinding> under = indexsql::underFolderBindings(paths::standardize(folder));
    sqlite::Statement statement;
    if (limit < 1 || statement.prepare(m_db, "SELECT path FROM file_index WHERE path > ? AND path >= ? AND path < ? "
                                             "ORDER BY path LIMIT ?;") != SQLITE_OK)
        return {};
    const std::vector<SQLBinding> bindings{SQLBinding::text(after), under[1], under[2], SQLBinding::integer(limit)};
    statement.bindAll(bindings);
    std::vector<std::string> out;
    while (statement.step() == SQLITE_ROW)
        out.emplace_back(statement.columnText(0));
    return out;
}

} // namespace pallix
