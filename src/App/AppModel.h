#pragma once
// AppModel: the one central object of the application. It owns the settings,
// the two index stores, the image-tag stores and the services, starts them at
// launch, scans the disks, and builds and connects the features, among them
// the SearchSession the search window shows.
//
// Threads: the model lives on the GUI thread and every method must be called
// there. Store operations block, so its flows are coroutines that await them
// on the model's pool and resume on the GUI thread; each such job holds a
// QPointer to the model and a cancel token, and publishes nothing once the
// model is gone, its token fired or its search generation is stale.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroTask>

#include "App/AppContext.h"
#include "App/AppEnvironment.h"
#include "App/AppServices.h"
#include "App/AsyncClock.h"
#include "App/FaultNotices.h"
#include "App/IndexRunMarkers.h"
#include "App/JobHandle.h"
#include "App/QueuedFuture.h"
#include "App/QuickLookSequence.h"
#include "App/ResultActions.h"
#include "App/Search/SearchSession.h"
#include "App/Settings/SettingsOperations.h"
#include "App/SharedDrives/SharedDrives.h"
#include "Core/Config/AppSettings.h"
#include "Core/Config/SettingsStore.h"
#include "Core/Indexer/FileScanner.h"
#include "Core/Models/AppEdition.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Preview/FolderContentInspector.h"
#include "Core/Preview/PreviewController.h"
#include "Core/Search/SearchEngine.h"
#include "Core/Search/SearchParser.h"
#include "Core/Search/SearchQuery.h"
#include "Platform/Defaults.h"
#include "Platform/MountedVolumes.h"
#include "Support/LaunchAgentManager.h"

namespace pallix {

class DesktopEffects;
class IndexStore;
class ServerIndexRuns;
class StoreRecovery;
class ThumbnailProvider;

class AppModel : public QObject {
    Q_OBJECT

    // Published state; each property announces changes only.
    Q_PROPERTY(pallix::AppSettings settings READ settings NOTIFY settingsChanged)
    Q_PROPERTY(bool isIndexing READ isIndexing NOTIFY isIndexingChanged)
    Q_PROPERTY(qint64 indexedCount READ indexedCount NOTIFY indexedCountChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage WRITE setStatusMessage NOTIFY statusMessageChanged)

public:
    explicit AppModel(AppModelEnvironment environment = {}, QObject* parent = nullptr);
    ~AppModel() override;

    // Published state.
    const AppSettings& settings() const { return m_settings; }
    bool isIndexing() const { return m_isIndexing; }
    qint64 indexedCount() const { return m_indexedCount; }
    const QString& statusMessage() const { return m_statusMessage; }
    void setStatusMessage(const QString& text);
    // Forwarding to sharedDrives(), for the search flow and the search window's summary.
    bool isServerIndexing() const { return m_sharedDrives->isServerIndexing(); }
    qint64 serverIndexedCount() const { return m_sharedDrives->serverIndexedCount(); }

    // User-defaults keys of the running edition ("PallixMardell.lastIndexedCount").
    static const std::string& lastIndexedCountKey();
    static const std::string& lastIndexedRootsKey();

    // Owned stores and services.
    SettingsStore& settingsStore() { return m_settingsStore; }
    const std::shared_ptr<IndexStore>& indexStore() const { return m_indexStore; }
    const std::shared_ptr<IndexStore>& serverIndexStore() const { return m_serverIndexStore; }
    const std::filesystem::path& serverIndexDatabasePath() const { return m_serverIndexDatabasePath; }
    const std::shared_ptr<ImageTagStore>& imageSemanticStore() const { return m_imageSemanticStore; }
    // Only in the edition with shared drives.
    const std::shared_ptr<ImageTagStore>& serverImageSemanticStore() const { return m_serverImageSemanticStore; }
    PreviewController& previewController() { return m_previewController; }
    ResultActions& resultActions() { return *m_resultActions; }
    SettingsOperations& settingsOperations() { return *m_settingsOperations; }
    SharedDrives& sharedDrives() { return *m_sharedDrives; }
    const LaunchAgentManager& launchAgentManager() const { return m_launchAgentManager; }
    const AsyncClock& clock() const { return m_clock; }
    QThreadPool& pool() { return m_pool; }
    // What the features built here share.
    const AppContext& context() const { return *m_context; }
    // The search the window shows.
    SearchSession& searchSession() { return *m_searchSession; }
    const SearchSession& searchSession() const { return *m_searchSession; }

    bool appIsForegroundActive() const { return m_appIsForegroundActive; }
    const QSet<QString>& pendingWatcherPaths() const { return m_pendingWatcherPaths; }
    // Batches of file-system changes handed over and not yet written.
    int unfinishedWatcherBatches() const
    {
        return static_cast<int>(m_watcherBatches.size()) + (m_watcherDraining ? 1 : 0);
    }
    bool holdsKeepWarmActivity() const { return m_keepWarmActivity != nullptr; }

    // Forwarding to the search session, for the owners that still call the
    // model (settings operations, index runs, watcher batches, result
    // actions, the settings window's history section).
    void scheduleSearch(bool immediate, bool showProgress) { m_searchSession->scheduleSearch(immediate, showProgress); }
    bool isUserTyping() const { return m_searchSession->isUserTyping(); }
    SearchQuery currentQuerySnapshot() const { return m_searchSession->currentQuerySnapshot(); }
    static bool hasSearchIntent(const SearchQuery& query) { return SearchSession::hasSearchIntent(query); }
    void applySearchResults(ItemList items, const SearchQuery& query)
    {
        m_searchSession->applySearchResults(std::move(items), query);
    }
    void setImageFuzzyResults(ItemList items) { m_searchSession->setImageFuzzyResults(std::move(items)); }
    void setServerResults(ItemList items) { m_searchSession->setServerResults(std::move(items)); }
    void forgetServerResults() { m_searchSession->forgetServerResults(); }
    void markDisplayedResultsIncomplete() { m_searchSession->markDisplayedResultsIncomplete(); }
    const QString& searchText() const { return m_searchSession->searchText(); }
    const QStringList& searchHistory() const { return m_searchSession->searchHistory(); }
    void setSearchHistory(const QStringList& history) { m_searchSession->setSearchHistory(history); }
    void persistSearchHistory() { m_searchSession->persistSearchHistory(); }
    void addCommonSearchTerm(const QString& term) { m_searchSession->addCommonSearchTerm(term); }
    void removeCommonSearchTerm(const std::set<int>& offsets) { m_searchSession->removeCommonSearchTerm(offsets); }
    const QString& selectedItemID() const { return m_searchSession->selectedItemID(); }
    void setSelectedItemID(const QString& id) { m_searchSession->setSelectedItemID(id); }
    std::optional<IndexedItem> selectedItem() const { return m_searchSession->selectedItem(); }
    const QString& inlineRenameTargetID() const { return m_searchSession->inlineRenameTargetID(); }
    void setInlineRenameTargetID(const QString& id) { m_searchSession->setInlineRenameTargetID(id); }
    const QString& inlineRenameDraft() const { return m_searchSession->inlineRenameDraft(); }
    void setInlineRenameDraft(const QString& draft) { m_searchSession->setInlineRenameDraft(draft); }
    void applyScopedPath(const QString& path, bool recordHistory)
    {
        m_searchSession->applyScopedPath(path, recordHistory);
    }

    // File-system changes: the watcher's paths join the pending set, which is
    // handled once the disk has been quiet for a while; batches are written in
    // the order they were handed over, one at a time.
    void enqueueWatcherCoalesced(std::vector<std::string> paths);
    void handleWatcherEvents(std::vector<std::string> paths);

    // Indexed roots and the local rebuild.
    std::vector<std::string> activeIndexedRoots() const;
    std::vector<std::string> discoverMountedRoots() const;
    bool hasMountedRemovableVolumes() const;
    std::vector<std::string> lastIndexedRootsSnapshot() const;
    void persistIndexedRootsSnapshot(std::vector<std::string> roots);
    // The roots under which the index holds no row, in their order.
    QCoro::Task<std::vector<std::string>> missingIndexedRoots(std::vector<std::string> roots);
    static bool shouldPerformBackgroundRootRefresh(const std::vector<std::string>& currentRoots,
                                                   const std::vector<std::string>& previousRoots, bool rootsIndexed);
    // Previous roots that are no longer roots; their rows are replaced.
    static std::vector<std::string> removedIndexedRoots(const std::vector<std::string>& currentRoots,
                                                        const std::vector<std::string>& previousRoots);
    // What the reconciliation walks: the missing roots, and the removed ones
    // that still lie inside a current root. Those rows belong to that root now:
    // rewalking keeps what is still there (and drops an unmounted volume's),
    // where deleting them would leave the folder unsearchable.
    static std::vector<std::string> rootsToRescan(const std::vector<std::string>& currentRoots,
                                                  const std::vector<std::string>& missingRoots,
                                                  const std::vector<std::string>& removedRoots);
    void refreshIndexedRootsInBackground(std::vector<std::string> currentRoots, std::vector<std::string> previousRoots,
                                         std::vector<std::string> missingRoots);
    void rebuildIndex(bool startupScan);
    void addIndexedRoot(const QString& path);
    void removeIndexedRoot(const std::set<int>& offsets);

    // Whether the welcome sheet has been closed once (in the user defaults).
    bool welcomeSheetDismissed() const;
    void markWelcomeSheetDismissed();

    // Applies the menu-bar and hot-key settings of the current record.
    void applyMenuBarAndHotKeySettings();

    // Forwarding to sharedDrives(), for the store recovery.
    ServerIndexRuns& serverIndexRuns() { return m_sharedDrives->runs(); }
    // Faults the user must see, shown until dismissed (see FaultNotices).
    FaultNotices& faultNotices() { return m_faultNotices; }

    // The application came to the front or left it.
    void applicationDidBecomeActive();
    void applicationDidResignActive();

signals:
    // Relayed from the search session, for the settings window's history section.
    void searchTextChanged();
    void searchHistoryChanged();

    void settingsChanged();
    void isIndexingChanged();
    void indexedCountChanged();
    void statusMessageChanged();
    // Forwarded from sharedDrives(), for the search window's summary.
    void isServerIndexingChanged();
    void serverIndexedCountChanged();

    // The start-up flow returned, at its end or at its first failure.
    void bootstrapEnded();

private:
    friend class StoreRecovery;

    QCoro::Task<> bootstrap();
    QCoro::Task<bool> bootstrapStores();
    QCoro::Task<> finishBootstrapWithRoots();
    void noteRecoveredStores();
    // A store started over after a read met damage (any thread): its refill
    // waits for the start-up's end, which may already deal with it.
    void noteStoreStartedOver(bool server);
    // One handed-over batch of file-system changes and what it was made with.
    struct WatcherBatch {
        std::vector<std::string> paths;
        std::vector<std::string> roots;
        std::vector<std::string> excludedPaths;
        bool excludeSystemJunk = true;
        bool foreground = true;  // the application was active when it was handed over
        // No paths: the start's look for what changed while the application
        // was not running (StartupCatchUp) over the roots.
        bool catchUp = false;
    };
    QCoro::Task<> runWatcherCoalescing(Clock::Duration delay, std::shared_ptr<CancelToken> token);
    QCoro::Task<> drainWatcherBatches();
    struct WatcherBatchOutcome {
        std::int64_t count = 0;       // the store's count afterwards
        bool refusedByLock = false;  // a write was refused: the batch stopped there
        bool changedAnything = true;  // of a catch-up: whether it found a change
    };
    // Writes one batch into the store. Worker thread. `onCatchingUp` is
    // called once when a catch-up has found changes, before it writes them.
    static WatcherBatchOutcome applyWatcherBatch(IndexStore& store, const FileScanner& scanner, const WatcherBatch& batch,
                                                 const CancelToken* cancel, const std::function<void()>& onCatchingUp);
    void finishWatcherBatch(const WatcherBatch& batch, const WatcherBatchOutcome& outcome);
    // Queues the catch-up over `roots` ahead of any watcher batch to come.
    void startCatchUp(std::vector<std::string> roots);
    QCoro::Task<> runRebuild(bool startupScan, std::vector<std::string> roots, std::vector<std::string> rootsToReplace,
                             std::int64_t previousCount, JobHandle job);
    QCoro::Task<> runBackgroundRefresh(std::vector<std::string> currentRoots, std::vector<std::string> rootsToScan,
                                       std::vector<std::string> rootsToReplace);
    void startBatchedScan(std::vector<std::string> roots, JobHandle job);
    void publishScanBatch(std::int64_t count, int batchNumber);
    void completeRebuild(std::int64_t count, const QString& text, const std::vector<std::string>& roots);
    void endIncompleteScan(std::int64_t count);
    void publishIndexedCount(std::int64_t count);
    void beginIndexRun(const std::vector<std::string>& roots);
    void completeIndexRun();

    static void migrateLegacyUserDefaults(Defaults& defaults);
    static std::int64_t loadIndexedCountFromDatabase(const std::filesystem::path& database);
    RootWatcher& watcher();
    // (Re)starts the watcher over the active roots with the exclusions and the home folder first.
    void startWatching();
    void reportWatchShortfall(const FSEventWatcher::Shortfall& shortfall);
    void applyKeepWarmRule();
    // The local tagging session, and the shared-drive one when that index is on and has items.
    void startImageTagging();
    void setSettings(const AppSettings& settings);
    void setIndexing(bool indexing);
    void setIndexedCount(qint64 count);
    // Copies the stored record, changes it, stores and persists it, and
    // publishes the stored record.
    void writeSettings(const std::function<void(AppSettings&)>& change);
    // Remembers the token of a job nothing else keeps, so that destruction stops it.
    void trackDetachedJob(const std::shared_ptr<CancelToken>& token);
    // Runs `f` on the pool; co_await on the result resumes on the GUI thread,
    // always from the event loop.
    template <typename F>
    auto onPool(F&& f)
    {
        return QueuedFuture(QtConcurrent::run(&m_pool, std::forward<F>(f)));
    }

    AppModelEnvironment m_env;
    AsyncClock m_clock;

    // Published state.
    AppSettings m_settings;
    bool m_isIndexing = false;
    qint64 m_indexedCount = 0;
    QString m_statusMessage;
    FaultNotices m_faultNotices;
    bool m_bootstrapDone = false;
    bool m_localStartedOverPending = false;   // see noteStoreStartedOver()
    bool m_serverStartedOverPending = false;

    // Owned services and stores.
    std::shared_ptr<Defaults> m_defaults;
    SettingsStore m_settingsStore;
    IndexRunMarkers m_runMarkers;  // whether the last full walk of the roots finished
    FileScanner m_scanner;
    PreviewController m_previewController;
    std::unique_ptr<ResultActions> m_resultActions;
    LaunchAgentManager m_launchAgentManager;
    std::shared_ptr<IndexStore> m_indexStore;
    std::shared_ptr<IndexStore> m_serverIndexStore;
    std::filesystem::path m_serverIndexDatabasePath;
    std::shared_ptr<ImageTagStore> m_imageSemanticStore;
    std::shared_ptr<ImageTagStore> m_serverImageSemanticStore;

    // Private state.
    std::unique_ptr<RootWatcher> m_watcher;  // created on first use
    bool m_watchShortfallReported = false;    // the status line said it once
    bool m_appIsForegroundActive = true;
    QSet<QString> m_pendingWatcherPaths;
    std::optional<Clock::TimePoint> m_pendingWatcherSince;  // first arrival of the pending set
    // Handles of the jobs a newer request replaces; the owner of each cancels
    // it before storing the next one.
    JobHandle m_watcherCoalesceTask;
    JobHandle m_rebuildTask;
    std::optional<Clock::TimePoint> m_lastForegroundSearchAt;  // none: the distant past
    std::deque<WatcherBatch> m_watcherBatches;  // handed over, waiting for the one before
    bool m_watcherDraining = false;             // a batch is being written
    std::shared_ptr<void> m_keepWarmActivity;
    std::vector<std::weak_ptr<CancelToken>> m_detachedJobs;
    std::unique_ptr<StoreRecovery> m_storeRecovery;  // locked and damaged index files

    std::unique_ptr<AppContext> m_context;
    // Search state: built after the context it reads.
    std::unique_ptr<SearchSession> m_searchSession;
    // Connects the session to the features it follows and relays its
    // signals the settings window still takes from the model.
    void wireSearchSession();

    // Features built on the context, wired by their connect functions; after
    // the context, so they go before it.
    void connectSharedDrives();
    void connectSettingsOperations();
    std::unique_ptr<SharedDrives> m_sharedDrives;
    std::unique_ptr<SettingsOperations> m_settingsOperations;

    // Last: destroyed first, so its jobs finish while the stores they use live.
    QThreadPool m_pool;
};

} // namespace pallix
