#pragma once
// IndexStore: one file index. It owns the SQLite database with the table
// `file_index` (one read-write connection for its life), the in-memory search
// cache of every row (a compact item table with a path map) and the cache's
// inverted indexes of name characters, character pairs and prefixes. Searches
// take their candidates from wherever the cache's state allows: the database
// before the cache is loaded, a linear scan while the indexes are built, the
// indexes once they are complete; one ranking by SearchEngine ends each route.
//
// Threading: an actor. Every public operation takes the store's one mutex for
// its whole run, so operations never overlap (a write waiting for another
// program's write lock on the file waits with the mutex released, so searches
// answer from memory meanwhile); they block and are meant for
// worker threads, never the GUI thread. Background jobs (the cache warm-up,
// the debounced rebuild, the index build, the fill of an older file's
// lower-cased names on a connection of its own) run on threads of their own, take
// the mutex for short steps, and are cancelled and joined by the destructor.
// The index build copies what it needs under the mutex in slices and does its
// heavy part without it, so searches and writes wait at most one slice. Every
// "now" and every sleep goes through the injected Clock.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/IndexDB/BackgroundJobs.h"
#include "Core/IndexDB/IndexStoreError.h"
#include "Core/IndexDB/IndexStoreProbe.h"
#include "Core/IndexDB/ItemTable.h"
#include "Core/IndexDB/LiveSearchIndexes.h"
#include "Core/IndexDB/SearchIndexBuild.h"
#include "Core/IndexDB/TypingRoad.h"
#include "Core/IndexDB/Sqlite.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Clock.h"

namespace pallix {

class PreparedQuery;
struct ScoredItem;

class IndexStore {
public:
    using SQLBinding = sqlite::Binding;

    // What a row read returns.
    struct SQLQueryResult {
        std::vector<IndexedItem> items;
        bool hadTransientFailure = false;  // gave up because the database stayed busy or locked
    };
    // What a database search returns: ranked items, at most the limit.
    struct DatabaseSearchResult {
        std::vector<IndexedItem> items;
        bool hadTransientFailure = false;  // some attempt met a busy or locked database
    };
    // What a search tells besides its results.
    struct SearchNotes {
        // A regular expression ran out of its budget on some names (see
        // text::RegexWatch): results may be missing.
        bool expressionTooComplex = false;
    };
    // What the store can serve now.
    struct Status {
        bool cacheReady = false;             // the search cache is installed
        bool searchIndexesComplete = false;  // the cache's inverted indexes are complete
        // The file (or its folder) can be read but not written: the store was
        // opened read-only; searches are served and every write fails.
        bool readOnly = false;
    };

    // Opens nothing. `databaseURL` is the database file ("index.sqlite" or
    // "server_index.sqlite" in the application-support folder). `probe` (tests
    // and benchmarks only) reads the store's state and carries faults into it.
    explicit IndexStore(std::filesystem::path databaseURL, std::shared_ptr<Clock> clock = Clock::system(),
                        std::shared_ptr<IndexStoreProbe> probe = nullptr);
    IndexStore(const IndexStore&) = delete;
    IndexStore& operator=(const IndexStore&) = delete;
    ~IndexStore();

    const std::filesystem::path& databaseURL() const { return m_databaseURL; }

    // Opens the connection (creating the folder and file), starts loading the
    // search cache in the background, checks the file for damage (a damaged
    // file is moved aside and the loading snapshot dropped), makes sure of the
    // schema and the content column and counts the rows. The cache installs
    // only after this returns; a failed start installs nothing.
    StoreResult<void> bootstrap();

    // Where the file went, once, after the store found it damaged (at
    // bootstrap or on a later read or write), moved it aside (see
    // sqlite::moveDamagedAside) and started over on an empty one: the owner
    // must fill it again. After two set-asides unasked, the later copy. A write
    // that meets damage fails and starts over before it returns; a read that
    // meets damage (the snapshot load included) has the store start over on
    // a background job, which then calls the started-over handler.
    std::optional<std::filesystem::path> takeRecoveredFromDamage();
    // Called on a worker thread, without the store's lock, each time the
    // store started over after a read met damage (a write's caller learns it
    // from the write): the owner asks takeRecoveredFromDamage() and refills.
    void setStartedOverHandler(std::function<void()> handler);

    // Cached items while the cache is loaded, else the row count of the bootstrap.
    std::int64_t indexedCount() const;
    Status status() const;
    // The cached items of `paths`, in order, at most `limit`; never the database.
    std::vector<IndexedItem> items(const std::vector<std::string>& paths, int limit) const;

    // ---- Writes: one immediate transaction each, then the cache is patched.
    StoreResult<void> upsert(const std::vector<IndexedItem>& items);
    // Replaces every row at or under `roots` by `items`, except the rows at or
    // under `keptPaths` (folders the scan could not list), which stay as they are.
    StoreResult<void> applyFullRescan(const std::vector<std::string>& roots, const std::vector<IndexedItem>& items,
                                      const std::vector<std::string>& keptPaths = {});
    // One folder's children as listed now.
    struct FolderListing {
        std::string folder;
        std::vector<IndexedItem> children;
    };
    // Makes the rows of each folder's direct children match its listing, in
    // one transaction: the rows of children gone go with everything below
    // them, and children whose rows already say the same are not written again.
    StoreResult<void> synchronizeFolders(const std::vector<FolderListing>& listings);
    // Removes each path with everything below it, in one transaction and one pass over the cache.
    StoreResult<void> removePathPrefixes(const std::vector<std::string>& paths);
    // At most `limit` rows strictly below `folder`, in byte order, from the
    // first after `after` ("" for the first page): a walk's reconciliation
    // reads a large folder's rows page by page.
    std::vector<std::string> pathsBelow(const std::string& folder, const std::string& after, int limit);

    // ---- Cache readiness.
    // True once the cache is installed (at once when it is), false when
    // `timeout` passes first or the store goes. Without a timeout it waits
    // as long as it takes, never on the clock.
    bool waitForSearchCacheReady(std::optional<Clock::Duration> timeout = std::nullopt);

    // ---- Searches. None fails: trouble gives an empty or shorter list.
    // `cancel` (may be null) ends a long scan early.
    // `notes` (may be null) receives what the search tells besides its results.
    // The complete search: every match is ranked before the best `limit` are kept.
    std::vector<IndexedItem> search(const SearchQuery& query, int limit, const CancelToken* cancel = nullptr,
                                    SearchNotes* notes = nullptr);
    // The typing road over the cached items within `budget`; nothing before
    // the cache is installed.
    std::vector<IndexedItem> typingSearch(const SearchQuery& query, const TypingBudget& budget,
                                          const CancelToken* cancel = nullptr, SearchNotes* notes = nullptr);
    // The typing road before the cache: the rows whose names begin with the one word.
    std::vector<IndexedItem> typingFastDatabaseSearch(const SearchQuery& query, int limit);

    // ---- Fixed questions of other parts.
    // At most `limit` image file paths in path order, the first after `after`
    // (empty: from the first).
    std::vector<std::string> imagePathsFromDatabase(int limit, const std::string& after);
    // The first `limit` folders, in path order, whose names hold every token
    // (as typed; case folded unless `caseSensitive`): read from the cache
    // once it is installed, from the database before. Stops early, with what
    // it found so far, once `cancel` fires.
    std::vector<std::string> folderPathsMatchingNameTokens(const std::vector<std::string>& tokens, bool caseSensitive,
                                                           int limit, const CancelToken* cancel = nullptr);
    std::vector<IndexedItem> relatedItemsInFolder(const std::string& parentPath, int limit);
    bool hasIndexedItems(const std::vector<std::string>& roots);
    // Those of `paths` (standardised) that the index holds as folders, in
    // order; one that cannot be read counts as not held.
    std::vector<std::string> indexedFoldersAmong(const std::vector<std::string>& paths);

private:
    // A write made before the snapshot was installed, as it changed the rows.
    struct PendingWrite {
        std::vector<IndexedItem> upserted;  // written items, in order
        std::string removedPrefix;          // or: a path removed with its subtree
        bool isRemoval = false;
        std::vector<std::string> keptPaths;  // of a removal: standardised folders it spares
    };
    using Waiter = std::function<void(bool ready)>;

    // Database (IndexStore.cpp).
    StoreResult<void> openDatabase();
    StoreResult<void> openEmptyReadOnly();
    // openDatabase(), then checkAndPrepare().
    StoreResult<void> openAndPrepare();
    // The damage check, the schema, the column and the count.
    StoreResult<void> checkAndPrepare();
    // Moves the file aside (a damaged one, or one that is not ours) and closes the connection.
    StoreResult<void> setAsideLocked();
    StoreResult<void> recoverFromDamageLocked();
    // Writes call it first: damage met since is handled before anything else.
    StoreResult<void> recoverIfDamagedLocked();
    Unexpected<IndexStoreError> connectionFailure(IndexStoreError::Code code);
    // A failure naming the store's file.
    Unexpected<IndexStoreError> fileFailure(IndexStoreError::Code code, std::string message, int sqliteCode = 0) const;
    // The row count into m_persistedIndexedCount.
    StoreResult<void> refreshPersistedCount();
    StoreResult<void> runSchema();
    StoreResult<void> ensureContentColumn();
    StoreResult<std::int64_t> loadIndexedCountFromDatabase();
    // The rows of the file now; none when they cannot be counted.
    std::optional<std::int64_t> countRows() const;
    StoreResult<void> execute(const char* sql);
    SQLQueryResult fetchItems(const std::string& sql, const std::vector<SQLBinding>& bindings, int maxReadAttempts);
    int stepRead(sqlite::Statement& statement);
    void recordTransientSearchFailure();
    void resumeSearchCacheReadyWaiters(bool ready);
    void startCacheWarmup();
    // A failed start: the warm-up begun beside the damage check must not land.
    void abandonCacheWarmupLocked();
    // Fills the stored lower-cased names of an older file once the cache is installed.
    void startLoweredNameFillLocked();
    std::string connectionMessage() const;
    // What the probe reads and runs (IndexStore.cpp).
    IndexStoreProbe::Store probeSide();

    // Writes (IndexStoreWrites.cpp).
    // A write's change of the rows, which the database and then the cache
    // follow: the paths `removed` go with everything below them, sparing the
    // folders `keptPaths` when given (both standardised); then `upserted` is
    // written in order. The write owns the vectors; the change points at them.
    struct RowChange {
        const std::vector<std::string>* removed = nullptr;
        const std::vector<std::string>* keptPaths = nullptr;
        const std::vector<IndexedItem>* upserted = nullptr;
        int rebuildDelayMs = 0;  // before the compaction of the indexes
        // An `upserted` large enough drops the indexes and builds them anew
        // (see patchingCostsMoreThanABuild()).
        bool largeRebuildsWhole = true;
        // Run when the write waited for another program's write lock with the
        // store unlocked: reads the vectors again, as the rows may have changed.
        std::function<StoreResult<void>()> readAgain = nullptr;
    };
    // The one sequence of every write: begins the immediate transaction
    // (starting over first on damage met since), writes `change`, commits,
    // and has the cache follow it; a failure leaves the rows and the cache
    // as they were (see abandonWrite()), except that a change kept out by
    // another program's write lock is in the cache from the moment the write
    // begins to wait: searches find it, and the write tried again brings the
    // file in line.
    StoreResult<void> writeRows(std::unique_lock<std::mutex>& lock, const RowChange& change);
    StoreResult<void> writeRowsToDB(const RowChange& change);
    // The cache follows a committed `change`: a write made while the warm-up
    // loads is kept for its install, and the indexes are built anew or their
    // compaction scheduled.
    void followInCache(const RowChange& change);
    // BEGIN IMMEDIATE without waiting for another connection's write lock.
    int tryBeginTransaction();
    // BEGIN IMMEDIATE. While another connection holds the write lock, waits
    // for it with `lock` (the store's) released, and sets `*waited`;
    // `beforeWaiting` runs, with `lock` held, before each wait.
    StoreResult<void> beginTransaction(std::unique_lock<std::mutex>& lock, bool* waited = nullptr,
                                       const std::function<void()>& beforeWaiting = {});
    StoreResult<void> commitTransaction();
    void rollbackTransaction();
    // The end of a write that failed: rolls back when it began a transaction,
    // starts over on a fresh file when the failure was damage, returns `failure`.
    StoreResult<void> abandonWrite(StoreResult<void> failure, bool inTransaction);
    StoreResult<void> upsertToDB(const std::vector<IndexedItem>& items);
    // Each prefix's row and the rows below it, sparing the rows at or under
    // `keptPaths` when given.
    StoreResult<void> deletePrefixesFromDB(const std::vector<std::string>& prefixes,
                                           const std::vector<std::string>* keptPaths = nullptr);
    // deletePrefixesFromDB() of one prefix sparing the rows at or under `keptPaths`.
    StoreResult<void> deletePrefixKeepingFromDB(const std::string& prefix, const std::vector<std::string>& keptPaths);
    // Every cached item at or under one of `prefixes`, sparing those at or
    // under `keptPaths` when given (all standardised).
    void removeFromCache(const std::vector<std::string>& prefixes, const std::vector<std::string>* keptPaths);
    // The children the rows lack or hold otherwise, and the rows of children
    // gone, in place of what the vectors held.
    StoreResult<void> readListingChanges(const std::vector<FolderListing>& listings, std::vector<std::string>& vanished,
                                         std::vector<IndexedItem>& changed);
    void patchCache(const std::vector<IndexedItem>& items);
    // The indexes follow each change of the items: the complete ones and the
    // record of a running build.
    void noteAppended(std::size_t position);
    void noteRemoved(const std::vector<std::uint32_t>& positions);
    // After a write: folds the changes into a new build once they have grown.
    std::size_t compactionThreshold() const;
    bool patchingCostsMoreThanABuild(std::size_t appended) const;
    void scheduleCompactionIfDue(int delayMilliseconds);
    void scheduleDebouncedSearchCacheRebuild(int delayMilliseconds);

    // The roads of folderPathsMatchingNameTokens() over the folded words
    // (IndexQueries.cpp): the cache's, under the lock; the database's, beside it.
    std::vector<std::string> cachedFoldersHoldingWords(const std::vector<std::string>& words, bool caseSensitive,
                                                       int limit, const CancelToken* cancel) const;
    std::vector<std::string> databaseFoldersHoldingWords(const std::vector<std::string>& words, bool caseSensitive,
                                                         int limit, const CancelToken* cancel) const;

    // Cache (SearchCacheLoad.cpp; the snapshot itself is CacheSnapshot.cpp).
    void applyLoadedCache(ItemTable snapshot, std::int64_t warmupGeneration);
    // The snapshot met damage: the file is moved aside and the cache starts empty.
    void startOverAfterDamagedSnapshot(std::int64_t warmupGeneration);
    // A read on the store's connection met damage: starts over on a job of its own.
    void startOverAfterDamagedReadLocked();
    void resetSearchIndexesLocked();
    void rebuildSearchCacheLocked();
    void startIndexBuild(std::int64_t generation);
    // A new build of the current items that leaves the complete indexes in use until it is installed.
    void restartIndexBuildLocked();
    // Ends the running build and its record of writes.
    void stopIndexBuildLocked();
    void runIndexBuild(std::int64_t generation, Clock::TimePoint startedAt, const CancelToken& token);
    void installNameOrders(const std::function<bool()>& stillCurrent);

    // Searches (SearchDispatch.cpp, SqlSearch.cpp; the memory roads are TypingRoad's).
    CacheView cacheView() const;
    // `results`, the ranked scan of every cached item, with the database
    // `rows` the cache lacks ranked in beside them.
    std::vector<IndexedItem> withRowsTheCacheLacks(const SearchQuery& query, int limit, std::vector<IndexedItem> results,
                                                   const std::vector<IndexedItem>& rows) const;
    std::vector<IndexedItem> searchLocked(const SearchQuery& query, int limit, const CancelToken* cancel,
                                          text::RegexWatch* watch);
    DatabaseSearchResult databaseSearchWithStatus(const SearchQuery& query, int limit, int maxCandidateRows);

    // Constant after construction.
    const std::filesystem::path m_databaseURL;
    const std::shared_ptr<Clock> m_clock;
    const SearchEngine m_searchEngine;

    mutable std::mutex m_mutex;  // the actor: held by every operation
    // All below: under m_mutex, unless said otherwise.
    sqlite::Connection m_db;
    ItemTable m_items;                       // searchableItems and indexByPath
    TypingRoad m_typingRoad;                 // the memory roads, with the last keystroke's scan
    LiveSearchIndexes m_indexes;             // the three inverted indexes, complete when the flag says so
    bool m_cacheReady = false;
    bool m_searchIndexesComplete = false;
    // The writes made since the running build took its count of the items:
    // laid over the build, and where its blocks read the items they copy.
    LiveSearchIndexes m_buildChanges;
    bool m_buildRecording = false;
    std::atomic<std::int64_t> m_indexBuildGeneration{0};  // written under m_mutex, polled by the build
    std::shared_ptr<CancelToken> m_indexBuildTask;
    std::shared_ptr<CancelToken> m_debouncedSearchCacheRebuildTask;
    // The rows before the cache is installed; stale after a write until counted again.
    mutable std::int64_t m_persistedIndexedCount = 0;
    mutable bool m_persistedCountStale = false;
    bool m_damageSeen = false;           // a failure said the file is damaged (or not ours)
    bool m_readOnly = false;             // the connection can only read
    std::optional<std::filesystem::path> m_recoveredFromDamage;  // see takeRecoveredFromDamage()
    bool m_discardLoadingSnapshot = false;  // the warm-up's snapshot is of a file moved aside
    bool m_loweredNamesComplete = false;    // the file's mark, or the fill finished
    std::int64_t m_loweredNamesGeneration = 0;  // a fill of an earlier file must not set the flag
    std::vector<Waiter> m_searchCacheReadyWaiters;  // in order of arrival
    std::function<void()> m_startedOverHandler;
    bool m_readRecoveryPending = false;  // a job started by a damaged read has not run yet
    int m_transientSearchFailureStreak = 0;
    std::optional<Clock::TimePoint> m_lastTransientSearchFailureAt;  // none: the distant past
    // Writes made while the warm-up is loading: replayed on the snapshot at
    // install, since the snapshot may have been read before them.
    bool m_warmupPending = false;
    std::vector<PendingWrite> m_pendingWrites;
    std::int64_t m_warmupGeneration = 0;  // an abandoned warm-up's snapshot is dropped
    std::shared_ptr<CancelToken> m_warmupTask;

    const std::shared_ptr<IndexStoreProbe> m_probe;  // none in the application

    // The jobs use every member above: the destructor stops them first, and
    // as the last member they would be destroyed first anyway.
    BackgroundJobs m_jobs;
};

// Whether `path` lies at or below one of `roots`, both standardised; a root
// of "/" contains every absolute path.
bool indexedRootsContain(std::string_view path, const std::vector<std::string>& roots);

} // namespace pallix
