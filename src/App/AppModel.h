#pragma once
// AppModel: the one central object of the application. It owns the settings,
// the two index stores, the image-tag stores and the services, starts them at
// launch, scans the disks and holds every piece of search state the windows
// show. The windows read its properties (each with a change signal) and call
// its operations.
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
#include "App/FolderOrdering.h"
#include "App/JobHandle.h"
#include "App/QueuedFuture.h"
#include "App/QuickLookSequence.h"
#include "App/ResultActions.h"
#include "App/SettingsOperations.h"
#include "App/SkuRelatedSearch.h"
#include "Core/Config/AppSettings.h"
#include "Core/Config/SettingsStore.h"
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
class LocalIndex;
class ServerIndexRuns;
class ServerRoots;
class ServerSearchStage;
class StoreRecovery;
class WatcherBatches;
class ThumbnailProvider;

// How the search window presents results.
enum class ResultDisplayMode { List, Grid };
std::string_view rawValue(ResultDisplayMode mode);  // "list", "grid"
std::optional<ResultDisplayMode> resultDisplayModeFromRaw(std::string_view raw);

// A published result list; implicitly shared, so handing it to views is cheap.
using ItemList = QList<IndexedItem>;

// Whether a published local list is the whole answer to its query (within the
// limit) or only a first one: a typing answer, a fast preview, a capped scan.
// Only a complete list may stand in for a search of a longer text.
enum class ListCompleteness { Complete, Partial };

class AppModel : public QObject {
    Q_OBJECT

    // Published state, in this order. Result lists and the selection announce
    // every assignment; the other properties announce changes only.
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(pallix::ItemList results READ results NOTIFY resultsChanged)
    Q_PROPERTY(pallix::ItemList imageFuzzyResults READ imageFuzzyResults NOTIFY imageFuzzyResultsChanged)
    Q_PROPERTY(pallix::ItemList skuRelatedResults READ skuRelatedResults NOTIFY skuRelatedResultsChanged)
    Q_PROPERTY(pallix::ItemList serverResults READ serverResults NOTIFY serverResultsChanged)
    Q_PROPERTY(QString selectedItemID READ selectedItemID WRITE setSelectedItemID NOTIFY selectedItemIDChanged)
    Q_PROPERTY(pallix::SearchSortField sortField READ sortField NOTIFY sortFieldChanged)
    Q_PROPERTY(bool sortAscending READ sortAscending NOTIFY sortAscendingChanged)
    Q_PROPERTY(std::set<pallix::SearchContentFilter> contentFilters READ contentFilters NOTIFY contentFiltersChanged)
    Q_PROPERTY(bool caseSensitive READ caseSensitive WRITE setCaseSensitive NOTIFY caseSensitiveChanged)
    Q_PROPERTY(pallix::SearchMatchMode matchMode READ matchMode WRITE setMatchMode NOTIFY matchModeChanged)
    Q_PROPERTY(pallix::ResultDisplayMode displayMode READ displayMode WRITE setDisplayMode NOTIFY displayModeChanged)
    Q_PROPERTY(double gridZoom READ gridZoom NOTIFY gridZoomChanged)
    Q_PROPERTY(QString scopedPath READ scopedPath NOTIFY scopedPathChanged)
    Q_PROPERTY(pallix::AppSettings settings READ settings NOTIFY settingsChanged)
    Q_PROPERTY(bool isIndexing READ isIndexing NOTIFY isIndexingChanged)
    Q_PROPERTY(qint64 indexedCount READ indexedCount NOTIFY indexedCountChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage WRITE setStatusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(bool isServerIndexing READ isServerIndexing NOTIFY isServerIndexingChanged)
    Q_PROPERTY(qint64 serverIndexedCount READ serverIndexedCount NOTIFY serverIndexedCountChanged)
    Q_PROPERTY(QString serverIndexStatusText READ serverIndexStatusText NOTIFY serverIndexStatusTextChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY isSearchingChanged)
    Q_PROPERTY(QString searchingHint READ searchingHint NOTIFY searchingHintChanged)
    Q_PROPERTY(QStringList searchHistory READ searchHistory WRITE setSearchHistory NOTIFY searchHistoryChanged)
    Q_PROPERTY(QString inlineRenameTargetID READ inlineRenameTargetID WRITE setInlineRenameTargetID NOTIFY inlineRenameTargetIDChanged)
    Q_PROPERTY(QString inlineRenameDraft READ inlineRenameDraft WRITE setInlineRenameDraft NOTIFY inlineRenameDraftChanged)

public:
    // Threshold of "the user is typing": seconds since the last keystroke.
    static constexpr double kTypingThresholdSeconds = 0.68;
    static constexpr std::chrono::milliseconds kTypingThreshold{680};
    static constexpr double kPreviewSessionPauseSeconds = 0.42;
    static constexpr double kFolderOrderingPauseSeconds = 0.28;
    static constexpr int kPreviewSessionMinIntervalMs = 420;
    static constexpr std::size_t kSignatureItems = 180;
    // A search reads at most this many characters of the text (UTF-16 units):
    // a pasted page would otherwise cost every name a pass over all of it.
    static constexpr qsizetype kMaxSearchTextLength = 2000;

    explicit AppModel(AppModelEnvironment environment = {}, QObject* parent = nullptr);
    ~AppModel() override;

    // Published state. Optional texts (selection, scope, rename target) are
    // empty when absent: a path is never empty.
    const QString& searchText() const { return m_searchText; }
    void setSearchText(const QString& text);
    const ItemList& results() const { return m_results; }
    const ItemList& imageFuzzyResults() const { return m_imageFuzzyResults; }
    void setImageFuzzyResults(ItemList items);
    const ItemList& skuRelatedResults() const { return m_skuRelatedResults; }
    void setSkuRelatedResults(ItemList items);
    const ItemList& serverResults() const { return m_serverResults; }
    void setServerResults(ItemList items);
    const QString& selectedItemID() const { return m_selectedItemID; }
    void setSelectedItemID(const QString& id);
    SearchSortField sortField() const { return m_sortField; }
    bool sortAscending() const { return m_sortAscending; }
    const std::set<SearchContentFilter>& contentFilters() const { return m_contentFilters; }
    bool caseSensitive() const { return m_caseSensitive; }
    // The switch and the mode control of the window; it asks for an immediate
    // search after changing them.
    void setCaseSensitive(bool caseSensitive);
    SearchMatchMode matchMode() const { return m_matchMode; }
    void setMatchMode(SearchMatchMode mode);
    ResultDisplayMode displayMode() const { return m_displayMode; }
    void setDisplayMode(ResultDisplayMode mode);
    double gridZoom() const { return m_gridZoom; }
    const QString& scopedPath() const { return m_scopedPath; }
    const AppSettings& settings() const { return m_settings; }
    // Forwarding to LocalIndex.
    bool isIndexing() const;
    qint64 indexedCount() const;
    const QString& statusMessage() const { return m_statusMessage; }
    void setStatusMessage(const QString& text);
    bool isServerIndexing() const { return m_isServerIndexing; }
    qint64 serverIndexedCount() const { return m_serverIndexedCount; }
    const QString& serverIndexStatusText() const { return m_serverIndexStatusText; }
    bool isSearching() const { return m_isSearching; }
    const QString& searchingHint() const { return m_searchingHint; }
    const QStringList& searchHistory() const { return m_searchHistory; }
    void setSearchHistory(const QStringList& history);
    const QString& inlineRenameTargetID() const { return m_inlineRenameTargetID; }
    void setInlineRenameTargetID(const QString& id);
    const QString& inlineRenameDraft() const { return m_inlineRenameDraft; }
    void setInlineRenameDraft(const QString& draft);

    // User-defaults keys of the running edition ("PallixMardell.lastIndexedCount");
    // the first two forward to LocalIndex.
    static const std::string& lastIndexedCountKey();
    static const std::string& lastIndexedRootsKey();
    static const std::string& searchHistoryKey();

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
    const LaunchAgentManager& launchAgentManager() const { return m_launchAgentManager; }
    const AsyncClock& clock() const { return m_clock; }
    QThreadPool& pool() { return m_pool; }
    // What the features built here share.
    const AppContext& context() const { return *m_context; }

    // Time of the last change of the search text; the search field stamps it
    // right before it asks for the search.
    void noteUserSearchInput() { m_lastUserSearchInputAt = m_clock.now(); }
    // Seconds since the last keystroke; infinite before the first one.
    double secondsSinceLastUserInput() const;
    // The last keystroke is less than 0.68 s old.
    bool isUserTyping() const;
    // The selected result: the first item with the selected path in `results`,
    // the image-content results or the shared-drive results.
    std::optional<IndexedItem> selectedItem() const;
    // The arrow keys: moves the selection within `results`, clamped to its ends.
    void moveSelection(int offset);
    // Selects the first local result; clears the selection when there is none.
    void selectFirstResult();
    // The Space key: opens the preview panel on the selection at once and, for
    // an image or a video, then on the shown ones of its folder.
    void previewSelected();

    std::int64_t searchGeneration() const { return m_searchGeneration; }
    const std::optional<SearchQuery>& lastDisplayedQuery() const { return m_lastDisplayedQuery; }
    bool appIsForegroundActive() const { return m_appIsForegroundActive; }
    // Whether the shown local list is the complete answer to lastDisplayedQuery().
    bool displayedResultsComplete() const { return m_displayedResultsComplete; }
    bool holdsKeepWarmActivity() const { return m_keepWarmActivity != nullptr; }
    const std::vector<QString>& scopeHistory() const { return m_scopeHistory; }
    std::int64_t scopeHistoryIndex() const { return m_scopeHistoryIndex; }

    // Search requests. The query of the published inputs, and whether it asks
    // for anything at all.
    SearchQuery currentQuerySnapshot() const;
    static bool hasSearchIntent(const SearchQuery& query);
    // Makes the newest request win: raises the generation, clears the lists
    // when there is nothing to search, narrows the shown list in memory when it
    // can, and starts the search job, which answers while the user types and
    // completes the answer once they pause. `immediate` skips the short pause
    // before the first store search; `showProgress` raises isSearching.
    void scheduleSearch(bool immediate, bool showProgress);
    // The shown list (local, against lastDisplayedQuery) can be filtered in
    // memory for `query`: a longer text in a mode where that only narrows.
    bool canNarrowImmediately(const SearchQuery& query) const;
    static bool canNarrow(const SearchQuery& query, const ItemList& shown, const std::optional<SearchQuery>& shownQuery);
    // `query` is the shown one with characters deleted at the end.
    bool canBroadenWithFastPreview(const SearchQuery& query) const;
    QString refreshSearchHint() const;

    // The searches of the side sections. The decisions are made here; the
    // image-content search is ImageFuzzySearch over the tag stores (or the
    // service hook when one is set); the SKU-related gathering answers
    // through its hook until it is built.
    bool shouldRunImageFuzzySearch(const SearchQuery& query) const;
    QCoro::Task<ItemList> imageFuzzySearch(SearchQuery query, int limit, QSet<QString> excludingPaths);
    bool shouldRunSKURelated(const SearchQuery& query) const;
    void scheduleSKURelatedIfNeeded(const SearchQuery& query, std::int64_t generation, const ItemList& baseHits);

    // Publishing local results: the only way a local list reaches `results`.
    void applySearchResults(ItemList items, const SearchQuery& query,
                            ListCompleteness completeness = ListCompleteness::Complete);
    // Count, "|", and the first 180 paths joined by U+001E.
    static QString resultSignature(const ItemList& items);
    // Folders reordered by what they hold, from the cached folder hints; starts
    // the warm-up of the missing hints.
    ItemList applyFolderAwareFolderOrderingIfNeeded(const ItemList& items, const SearchQuery& query);
    int folderCategory(const IndexedItem& item) const;
    void scheduleFolderHintWarmupIfNeeded(const ItemList& folders, const SearchQuery& query);
    const FolderHintCache& folderHintCache() const { return m_folderHintCache; }

    // Search history and common terms.
    void recordSearchHistoryIfNeeded(const QString& text);
    void persistSearchHistory();
    static QStringList loadSearchHistory(const Defaults& defaults);
    void addCommonSearchTerm(const QString& term);
    void removeCommonSearchTerm(const std::set<int>& offsets);
    // A chip's click: the text becomes the search text, as if typed, and is
    // searched for at once.
    void searchForTerm(const QString& text);

    // The line under the results: hits and index sizes of the parts in scope.
    QString resultSummaryText() const;
    // What the summary is made of.
    struct SummaryState {
        std::int64_t localHits = 0;
        std::int64_t localItems = 0;
        std::int64_t serverHits = 0;
        std::int64_t serverItems = 0;
        bool localInScope = true;
        bool serverInScope = true;
        bool localIndexing = false;
        bool serverIndexing = false;
        std::int64_t limit = 0;
    };
    // `hasIntent` is asked only when a full local list decides the limit note.
    static QString resultSummaryText(const SummaryState& state, const std::function<bool()>& hasIntent);

    // Search constraints; each but the zoom searches again at once.
    void updateSort(SearchSortField field);
    void updateContentFilter(SearchContentFilter filter);
    // The direction chip: reverses the order of the current field.
    void toggleSortDirection();
    // The match chips: sets the mode (also the current one) and searches again.
    void applyMatchMode(SearchMatchMode mode);
    void adjustGridZoom(double delta);
    void resetGridZoom();
    // An empty path is the global scope.
    void applyScopedPath(const QString& path, bool recordHistory);
    void resetSearchConstraints();

    // The local index and its watcher.
    LocalIndex& localIndex() { return *m_localIndex; }
    WatcherBatches& watcherBatches() { return *m_watcherBatches; }
    // Forwarding to LocalIndex, for the callers not yet bound to it.
    std::vector<std::string> activeIndexedRoots() const;
    std::vector<std::string> discoverMountedRoots() const;
    bool hasMountedRemovableVolumes() const;
    void rebuildIndex(bool startupScan);
    void addIndexedRoot(const QString& path);
    void removeIndexedRoot(const std::set<int>& offsets);

    // Whether the welcome sheet has been closed once (in the user defaults).
    bool welcomeSheetDismissed() const;
    void markWelcomeSheetDismissed();

    // Applies the menu-bar and hot-key settings of the current record.
    void applyMenuBarAndHotKeySettings();

    // Shared drives: the list of roots and the index runs; the settings window
    // calls the operations below, the rest goes through these two.
    ServerRoots& serverRoots() { return *m_serverRoots; }
    ServerIndexRuns& serverIndexRuns() { return *m_serverIndexRuns; }
    // Faults the user must see, shown until dismissed (see FaultNotices).
    FaultNotices& faultNotices() { return m_faultNotices; }
    void addServerIndexedRoots(const QStringList& paths);
    void clearServerIndexedRoots();
    void removeServerIndexedRoot(const std::set<int>& positions);
    void refreshServerIndexManually();
    // On: adopts the default roots, starts detection or the first scan. Off:
    // clears the shared-drive results and status and stops detection; a run
    // goes on to its end.
    void updateEnableServerIndexing(bool enabled);
    // Read at the next launch.
    void updateAutoResumeServerIndexingOnLaunch(bool enabled);

    // The application came to the front or left it.
    void applicationDidBecomeActive();
    void applicationDidResignActive();

signals:
    void searchTextChanged();
    void resultsChanged();
    void imageFuzzyResultsChanged();
    void skuRelatedResultsChanged();
    void serverResultsChanged();
    void selectedItemIDChanged();
    void sortFieldChanged();
    void sortAscendingChanged();
    void contentFiltersChanged();
    void caseSensitiveChanged();
    void matchModeChanged();
    void displayModeChanged();
    void gridZoomChanged();
    void scopedPathChanged();
    void settingsChanged();
    void isIndexingChanged();
    void indexedCountChanged();
    void statusMessageChanged();
    void isServerIndexingChanged();
    void serverIndexedCountChanged();
    void serverIndexStatusTextChanged();
    void isSearchingChanged();
    void searchingHintChanged();
    void searchHistoryChanged();
    void inlineRenameTargetIDChanged();
    void inlineRenameDraftChanged();

    // The start-up flow returned, at its end or at its first failure.
    void bootstrapEnded();

private:
    // Writes the record back and applies the effects of a changed setting.
    friend class SettingsOperations;
    friend class ServerIndexRuns;
    friend class ServerRoots;
    friend class ServerSearchStage;

    QCoro::Task<> bootstrap();
    QCoro::Task<bool> bootstrapStores();
    QCoro::Task<> finishBootstrapWithRoots();
    void noteRecoveredStores();
    // A store started over after a read met damage (any thread): its refill
    // waits for the start-up's end, which may already deal with it.
    void noteStoreStartedOver(bool server);
    QCoro::Task<> refreshResultsImmediately(std::optional<std::int64_t> searchGeneration);
    // What a search job receives, fixed when it is scheduled.
    struct SearchRequest {
        bool immediate = false;
        bool broadening = false;  // the text got shorter: show the fast preview first
        std::int64_t generation = 0;
        int limit = 0;
        bool includeLocal = true;
        SearchQuery query;
        std::optional<QUuid> progressToken;  // set when the request raised isSearching
        bool includeServer = false;
        bool runImageStage = false;
    };
    // A store answer, made ready for publishing on the worker, and whether it
    // is the whole answer within the limit.
    struct LocalAnswer {
        ItemList items;
        QSet<QString> paths;  // of the items
        ListCompleteness completeness = ListCompleteness::Partial;
        bool expressionTooComplex = false;  // IndexStore::SearchNotes
    };
    static LocalAnswer localAnswer(std::vector<IndexedItem> items, ListCompleteness completeness);
    // The store's complete search. Worker thread.
    static LocalAnswer completeLocalSearch(IndexStore& store, const SearchQuery& query, int limit,
                                           const CancelToken* cancel);
    bool isCurrent(std::int64_t generation) const { return generation == m_searchGeneration; }
    void clearProgress(const SearchRequest& request);
    void setIsSearching(bool searching);
    void setSearchingHint(const QString& hint);
    QCoro::Task<> runSearchTask(SearchRequest request, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runFastPreview(SearchRequest request, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runLocalPauseCompletion(SearchRequest request, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runSideStages(SearchRequest request, QSet<QString> localPaths, bool typing,
                                std::shared_ptr<CancelToken> token);
    // The shared-drive stage of a search; true when the image stage follows.
    // Built with the shared-drive search; until then it finds nothing.
    QCoro::Task<bool> runServerSearchStage(SearchRequest request, bool typing, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runImageStage(SearchRequest request, QSet<QString> localPaths, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runImageFollowUp(SearchQuery query, int limit, QSet<QString> narrowedPaths, std::int64_t generation);
    QCoro::Task<> runPreviewSequence(IndexedItem selected, QuickLookSequence::Kind kind,
                                     std::shared_ptr<CancelToken> token);
    QCoro::Task<> runFolderHintWarmup(std::vector<std::string> paths, std::int64_t generation,
                                      std::shared_ptr<CancelToken> token);
    void afterLocalAnswer(const SearchRequest& request, ItemList answer, ListCompleteness completeness,
                          bool recordHistory);
    // The status line's word on what a published answer may lack.
    void reportAnswerNotes(const LocalAnswer& answer);

    static void migrateLegacyUserDefaults(Defaults& defaults);
    void applyKeepWarmRule();
    // The local tagging session, and the shared-drive one when that index is on and has items.
    void startImageTagging();
    void setSettings(const AppSettings& settings);
    void setServerIndexedCount(qint64 count);
    void setServerIndexing(bool indexing);
    void setServerIndexStatusText(const QString& text);
    // Copies the stored record, changes it, stores and persists it, and
    // publishes the stored record.
    void writeSettings(const std::function<void(AppSettings&)>& change);
    void setResults(ItemList items);
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
    QString m_searchText;
    ItemList m_results;
    ItemList m_imageFuzzyResults;
    ItemList m_skuRelatedResults;
    ItemList m_serverResults;
    QString m_selectedItemID;
    // The selection is publishing's own pick of the first result, not one
    // made by a click, a key or an action: the next publication replaces it.
    bool m_selectionIsAutomatic = false;
    SearchSortField m_sortField = SearchSortField::Name;
    bool m_sortAscending = true;
    std::set<SearchContentFilter> m_contentFilters{SearchContentFilter::All};
    bool m_caseSensitive = false;
    SearchMatchMode m_matchMode = SearchMatchMode::Contains;
    ResultDisplayMode m_displayMode = ResultDisplayMode::Grid;
    double m_gridZoom = 1.0;
    QString m_scopedPath;
    AppSettings m_settings;
    QString m_statusMessage;
    FaultNotices m_faultNotices;
    bool m_bootstrapDone = false;
    bool m_localStartedOverPending = false;   // see noteStoreStartedOver()
    bool m_serverStartedOverPending = false;
    bool m_isServerIndexing = false;
    qint64 m_serverIndexedCount = 0;
    QString m_serverIndexStatusText;
    bool m_isSearching = false;
    QString m_searchingHint;
    QStringList m_searchHistory;
    std::optional<QUuid> m_activeManualSearchToken;  // newest request that asked for progress
    QString m_inlineRenameTargetID;
    QString m_inlineRenameDraft;

    // Owned services and stores.
    std::shared_ptr<Defaults> m_defaults;
    SettingsStore m_settingsStore;
    SearchParser m_parser;
    PreviewController m_previewController;
    std::unique_ptr<ResultActions> m_resultActions;
    std::unique_ptr<SkuRelatedSearch> m_skuRelated;  // the SKU-related section's job
    std::unique_ptr<SettingsOperations> m_settingsOperations;
    LaunchAgentManager m_launchAgentManager;
    std::shared_ptr<IndexStore> m_indexStore;
    std::shared_ptr<IndexStore> m_serverIndexStore;
    std::filesystem::path m_serverIndexDatabasePath;
    std::shared_ptr<ImageTagStore> m_imageSemanticStore;
    std::shared_ptr<ImageTagStore> m_serverImageSemanticStore;

    // Private state.
    bool m_appIsForegroundActive = true;
    std::optional<Clock::TimePoint> m_lastUserSearchInputAt;  // none: the distant past
    // Handles of the jobs a newer request replaces; the owner of each cancels
    // it before storing the next one.
    JobHandle m_searchTask;
    JobHandle m_searchPauseCompletionTask;
    JobHandle m_serverSearchPauseCompletionTask;
    JobHandle m_serverRebuildTask;
    JobHandle m_serverDetectTask;
    JobHandle m_previewBuildTask;
    JobHandle m_folderHintUpdateTask;
    QString m_lastFolderHintWarmupKey;
    std::int64_t m_searchGeneration = 0;
    SearchEngine m_localSearchEngine;  // stateless
    std::optional<SearchQuery> m_lastDisplayedQuery;
    std::optional<SearchQuery> m_lastServerDisplayedQuery;
    std::optional<Clock::TimePoint> m_lastForegroundSearchAt;  // none: the distant past
    std::vector<QString> m_scopeHistory{QString()};           // one entry: no scope
    std::int64_t m_scopeHistoryIndex = 0;
    FolderHintCache m_folderHintCache;  // only grows
    QString m_lastAppliedResultSignature;
    bool m_displayedResultsComplete = false;
    std::shared_ptr<void> m_keepWarmActivity;
    std::vector<std::weak_ptr<CancelToken>> m_detachedJobs;
    std::unique_ptr<ServerRoots> m_serverRoots;
    std::unique_ptr<ServerIndexRuns> m_serverIndexRuns;
    std::unique_ptr<ServerSearchStage> m_serverSearchStage;

    std::unique_ptr<AppContext> m_context;

    // The local index, its watcher and the recovery of the index files: built
    // on the context, wired to the rest by connectLocalIndex().
    void connectLocalIndex(std::int64_t startupCount);
    std::unique_ptr<LocalIndex> m_localIndex;
    std::unique_ptr<WatcherBatches> m_watcherBatches;
    std::unique_ptr<StoreRecovery> m_storeRecovery;  // locked and damaged index files

    // Last: destroyed first, so its jobs finish while the stores they use live.
    QThreadPool m_pool;
};

} // namespace pallix
