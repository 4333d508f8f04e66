#pragma once
// AppModel: the composition root of the application. It makes the stores and
// the context the features share, builds the features (the search session,
// the local index and its watcher, the shared drives, the settings
// operations, the result actions, the foreground activity), connects them
// with signals, runs the start-up and owns the status line. The windows take
// the feature they show from it.
//
// Threads: the model lives on the GUI thread and every method must be called
// there. Its start-up is a coroutine that awaits the stores on the model's
// pool and resumes on the GUI thread; it holds a QPointer to the model and
// publishes nothing once the model is gone.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include "App/Context/AppContext.h"
#include "App/Context/AppEnvironment.h"
#include "Core/Config/AppSettings.h"

namespace pallix {

class AppContext;
class AsyncClock;
class CancelToken;
class FaultNotices;
class ForegroundActivity;
class ImageTagStore;
class ImageTagWrites;
class IndexStore;
class LaunchAgentManager;
class LocalIndex;
class PreviewController;
class ResultActions;
class SearchSession;
class SettingsOperations;
class SettingsStore;
class SharedDrives;
class StoreRecovery;
class WatcherBatches;

class AppModel : public QObject {
    Q_OBJECT

    // Published state; each property announces changes only.
    Q_PROPERTY(pallix::AppSettings settings READ settings NOTIFY settingsChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)

public:
    explicit AppModel(AppModelEnvironment environment = {}, QObject* parent = nullptr);
    ~AppModel() override;

    const AppSettings& settings() const { return m_settings; }
    const QString& statusMessage() const { return m_statusMessage; }

    // What the features share: stores, pool, clock, defaults, status line, fault notices.
    const AppContext& context() const { return *m_context; }

    // The features, each bound to by the window that shows it.
    SearchSession& searchSession() { return *m_searchSession; }
    LocalIndex& localIndex() { return *m_localIndex; }
    WatcherBatches& watcherBatches() { return *m_watcherBatches; }
    SharedDrives& sharedDrives() { return *m_sharedDrives; }
    SettingsOperations& settingsOperations() { return *m_settingsOperations; }
    ResultActions& resultActions() { return *m_resultActions; }
    PreviewController& previewController() { return *m_previewController; }
    ForegroundActivity& foregroundActivity() { return *m_foreground; }

signals:
    void settingsChanged();
    void statusMessageChanged();
    // The start-up flow returned, at its end or at its first failure.
    void bootstrapEnded();

private:
    QCoro::Task<> bootstrap();
    QCoro::Task<bool> bootstrapStores();
    QCoro::Task<> finishBootstrapWithRoots();
    void noteRecoveredStores();
    // The local index can only be read: said once, beside the status line.
    void noteReadOnlyStore();
    void noteStoreStartedOver(bool server);
    static void migrateLegacyUserDefaults(Defaults& defaults);
    void startImageTagging();
    void setStatusMessage(const QString& text, StatusKind kind = StatusKind::Plain);
    void writeSettings(const std::function<void(AppSettings&)>& change);
    void trackDetachedJob(const std::shared_ptr<CancelToken>& token);

    // Each builds one feature on the context and connects it to the rest.
    void wireSearchSession();
    void connectSharedDrives();
    void connectSettingsOperations();
    void connectLocalIndex(std::int64_t startupCount);
    void connectForegroundActivity();

    AppModelEnvironment m_env;
    std::unique_ptr<AsyncClock> m_clock;

    // Published state.
    AppSettings m_settings;
    QString m_statusMessage;
    std::optional<Clock::TimePoint> m_confirmedAt;  // of the confirmation shown, if one is
    std::unique_ptr<FaultNotices> m_faultNotices;
    bool m_bootstrapDone = false;
    bool m_localStartedOverPending = false;  // see noteStoreStartedOver()
    bool m_serverStartedOverPending = false;

    // Owned services and stores.
    std::shared_ptr<Defaults> m_defaults;
    std::unique_ptr<SettingsStore> m_settingsStore;
    std::unique_ptr<PreviewController> m_previewController;
    std::unique_ptr<ResultActions> m_resultActions;
    std::unique_ptr<LaunchAgentManager> m_launchAgentManager;
    std::shared_ptr<IndexStore> m_indexStore;
    std::shared_ptr<IndexStore> m_serverIndexStore;
    std::filesystem::path m_serverIndexDatabasePath;
    std::shared_ptr<ImageTagWrites> m_imageSemanticStore;
    std::shared_ptr<ImageTagWrites> m_serverImageSemanticStore;  // only in the edition with shared drives
    std::vector<std::weak_ptr<CancelToken>> m_detachedJobs;

    // The features are built after the context they read, so they go before it.
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<ForegroundActivity> m_foreground;
    std::unique_ptr<SearchSession> m_searchSession;
    std::unique_ptr<SharedDrives> m_sharedDrives;
    std::unique_ptr<SettingsOperations> m_settingsOperations;
    std::unique_ptr<LocalIndex> m_localIndex;
    std::unique_ptr<WatcherBatches> m_watcherBatches;
    std::unique_ptr<StoreRecovery> m_storeRecovery;  // locked and damaged index files

    // Last: destroyed first, so its jobs finish while the stores they use live.
    QThreadPool m_pool;
};

} // namespace pallix
