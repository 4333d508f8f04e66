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

#include "App/Context/AppContext.h"
#include "App/Context/AppEnvironment.h"
#include "App/Context/AppServices.h"
#include "App/Async/AsyncClock.h"
#include "App/Context/FaultNotices.h"
#include "App/Async/JobHandle.h"
#include "App/Async/QueuedFuture.h"
#include "App/Preview/QuickLookSequence.h"
#include "App/Actions/ResultActions.h"
#include "App/Search/SearchSession.h"
#include "App/Settings/SettingsOperations.h"
#include "App/SharedDrives/SharedDrives.h"
#include "Core/Config/AppSettings.h"
#include "Core/Config/SettingsStore.h"
#include "Core/Models/AppEdition.h"
#include "Core/Models/IndexedItem.h"
#include "App/Preview/FolderContentInspector.h"
#include "App/Preview/PreviewController.h"
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
class StoreRecovery;
class WatcherBatches;
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
    // Forwarding to LocalIndex.
    bool isIndexing() const;
    qint64 indexedCount() const;
    const QString& statusMessage() const { return m_statusMessage; }
    void setStatusMessage(const QString& text);
    // Forwarding to sharedDrives(), for the search flow and the search window's summary.
    bool isServerIndexing() const { return m_sharedDrives->isServerIndexing(); }
    qint64 serverIndexedCount() const { return m_sharedDrives->serverIndexedCount(); }

    // User-defaults keys of the running edition ("PallixMardell.lastIndexedCount");
    // the first two forward to LocalIndex.
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
    bool holdsKeepWarmActivity() const { return m_keepWarmActivity != nullptr; }

    // The local index and its watcher.
    LocalIndex& localIndex() { return *m_localIndex; }
    WatcherBatches& watcherBatches() { return *m_watcherBatches; }

    // Whether the welcome sheet has been closed once (in the user defaults).
    bool welcomeSheetDismissed() const;
    void markWelcomeSheetDismissed();

    // Applies the menu-bar and hot-key settings of the current record.
    void applyMenuBarAndHotKeySettings();

    // Faults the user must see, shown until dismissed (see FaultNotices).
    FaultNotices& faultNotices() { return m_faultNotices; }

    // The application came to the front or left it.
    void applicationDidBecomeActive();
    void applicationDidResignActive();

signals:
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

    QCoro::Task<> bootstrap();
    QCoro::Task<bool> bootstrapStores();
    QCoro::Task<> finishBootstrapWithRoots();
    void noteRecoveredStores();
    // A store started over after a read met damage (any thread): its refill
    // waits for the start-up's end, which may already deal with it.
    void noteStoreStartedOver(bool server);

    static void migrateLegacyUserDefaults(Defaults& defaults);
    void applyKeepWarmRule();
    // The local tagging session, and the shared-drive one when that index is on and has items.
    void startImageTagging();
    void setSettings(const AppSettings& settings);
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
    QString m_statusMessage;
    FaultNotices m_faultNotices;
    bool m_bootstrapDone = false;
    bool m_localStartedOverPending = false;   // see noteStoreStartedOver()
    bool m_serverStartedOverPending = false;

    // Owned services and stores.
    std::shared_ptr<Defaults> m_defaults;
    SettingsStore m_settingsStore;
    PreviewController m_previewController;
    std::unique_ptr<ResultActions> m_resultActions;
    LaunchAgentManager m_launchAgentManager;
    std::shared_ptr<IndexStore> m_indexStore;
    std::shared_ptr<IndexStore> m_serverIndexStore;
    std::filesystem::path m_serverIndexDatabasePath;
    std::shared_ptr<ImageTagStore> m_imageSemanticStore;
    std::shared_ptr<ImageTagStore> m_serverImageSemanticStore;

    // Private state.
    bool m_appIsForegroundActive = true;
    std::optional<Clock::TimePoint> m_lastForegroundSearchAt;  // none: the distant past
    std::shared_ptr<void> m_keepWarmActivity;
    std::vector<std::weak_ptr<CancelToken>> m_detachedJobs;

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
