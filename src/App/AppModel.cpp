// AppModel: construction, start-up and the wiring of the features.

#include "App/AppModel.h"

#include <algorithm>
#include <array>
#include <atomic>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include "App/Actions/ResultActions.h"
#include "App/Async/AsyncClock.h"
#include "App/Context/AppContext.h"
#include "App/Context/FaultNotices.h"
#include "App/Context/ForegroundActivity.h"
#include "App/ImageTags/ImageTagWrites.h"
#include "App/ImageTags/ImageTagger.h"
#include "App/Indexing/LocalIndex.h"
#include "App/Indexing/StoreRecovery.h"
#include "App/Indexing/WatcherBatches.h"
#include "App/Paths/AppPaths.h"
#include "Platform/PrivateFiles.h"
#include "App/Preview/PreviewController.h"
#include "App/Search/SearchSession.h"
#include "App/Settings/SettingsOperations.h"
#include "App/SharedDrives/ServerIndexRuns.h"
#include "App/SharedDrives/ServerRoots.h"
#include "App/SharedDrives/SharedDrives.h"
#include "Core/Config/EditionRule.h"
#include "Core/Config/SettingsStore.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/Models/AppEdition.h"
#include "Core/Semantic/ImageSemanticStore.h"
#include "Support/LaunchAgentManager.h"

namespace pallix {

namespace {

// An image-tag store for builds without the image tagger: opens without error.
class AbsentImageTagStore final : public ImageTagStore {
public:
    std::optional<std::string> bootstrap() override { return std::nullopt; }
};

AppModelEnvironment resolved(AppModelEnvironment env)
{
    if (!env.defaults)
        env.defaults = Defaults::atFile(Defaults::standardFile());
    if (!env.clock)
        env.clock = Clock::system();
    if (!env.volumes)
        env.volumes = std::make_shared<SystemVolumeProvider>();
    if (env.executablePath.empty())
        env.executablePath = LaunchAgentManager::runningExecutablePath();
    AppServices& s = env.services;
    if (!s.autoConfigureServerRootsIfNeeded)
        s.autoConfigureServerRootsIfNeeded = [](SharedDrives& d) { d.roots().autoConfigureServerRootsIfNeeded(); };
    if (!s.startServerFullScanIfNeeded)
        s.startServerFullScanIfNeeded = [](SharedDrives& d) { d.runs().startServerFullScanIfNeeded(); };
    if (!s.maybeRunServerIncrementalScanOnLaunch)
        s.maybeRunServerIncrementalScanOnLaunch = [](SharedDrives& d) {
            return d.runs().maybeRunServerIncrementalScanOnLaunch();
        };
    if (!s.maybeResumeServerIndexIfInterrupted)
        s.maybeResumeServerIndexIfInterrupted = [](SharedDrives& d) {
            d.runs().maybeResumeServerIndexIfInterrupted();
        };
    if (!s.makeImageTagStore)
        s.makeImageTagStore = [](const std::filesystem::path& file) {
            return std::make_shared<ImageSemanticStore>(file);
        };
    if (!s.startImageTagging)
        s.startImageTagging = [](std::shared_ptr<IndexStore> index, std::shared_ptr<ImageTagStore> tags,
                                        const std::string& sessionID) {
            ImageTagger::shared().startIfNeeded(std::move(index), std::move(tags), sessionID);
        };
    return env;
}

// Emits bootstrapEnded() however the start-up flow returns.
struct BootstrapEndNotice {
    QPointer<AppModel> model;
    ~BootstrapEndNotice()
    {
        if (model)
            QMetaObject::invokeMethod(model.data(), "bootstrapEnded", Qt::QueuedConnection);
    }
};

std::shared_ptr<ImageTagWrites> makeImageTagStore(const AppServices& services, const std::filesystem::path& file)
{
    std::shared_ptr<ImageTagStore> store;
    if (services.makeImageTagStore)
        store = services.makeImageTagStore(file);
    return std::make_shared<ImageTagWrites>(store ? store : std::make_shared<AbsentImageTagStore>());
}

} // namespace

AppModel::AppModel(AppModelEnvironment environment, QObject* parent)
    : QObject(parent),
      m_env(resolved(std::move(environment))),
      m_clock(std::make_unique<AsyncClock>(m_env.clock)),
      m_statusMessage(QStringLiteral("准备中")),
      m_faultNotices(std::make_unique<FaultNotices>()),
      m_defaults(m_env.defaults),
      m_settingsStore(std::make_unique<SettingsStore>(m_defaults)),
      m_previewController(std::make_unique<PreviewController>()),
      m_launchAgentManager(std::make_unique<LaunchAgentManager>(AppEditionInfo::applicationIdentifier()))
{
    migrateLegacyUserDefaults(*m_defaults);
    std::filesystem::path folder = m_env.supportDirectory;
    if (folder.empty()) {
        AppPaths::migrateLegacyPallixDatabasesIfNeeded(*m_defaults);
        folder = AppPaths::applicationSupportAppDirectory();
        // The walk reads every cached preview: never on this thread.
        QThreadPool::globalInstance()->start([] { AppPaths::repairModesOnce(); });
        // The data folder's refusal is the stores' to say, as they open.
        if (const std::string refusal = privatefiles::foreignOwnerRefusal(AppPaths::cachesAppDirectory());
            !refusal.empty())
            m_faultNotices->raise(FaultNotices::Cause::CacheFolder, QString::fromStdString(refusal));
    }

    const std::int64_t startupCount = std::max(m_defaults->integer(LocalIndex::lastIndexedCountKey()).value_or(0),
                                               LocalIndex::loadIndexedCountFromDatabase(folder / "index.sqlite"));
    m_settings = m_settingsStore->settings();
    if (startupCount != 0)
        m_statusMessage = QStringLiteral("已载入索引 %1 项").arg(startupCount);
    if (const std::optional<std::string>& problem = m_defaults->loadProblem())
        m_faultNotices->raise(FaultNotices::Cause::Settings, QString::fromStdString(*problem));

    m_indexStore = std::make_shared<IndexStore>(folder / "index.sqlite", m_env.clock, m_env.localStoreProbe);
    m_serverIndexDatabasePath = folder / "server_index.sqlite";
    m_serverIndexStore = std::make_shared<IndexStore>(m_serverIndexDatabasePath, m_env.clock, m_env.serverStoreProbe);
    for (const bool server : {false, true}) {
        QPointer<AppModel> guard(this);
        // Called on a store's worker thread: only hands off to the GUI thread.
        (server ? m_serverIndexStore : m_indexStore)->setStartedOverHandler([guard, server] {
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app,
                    [guard, server] {
                        if (guard)
                            guard->noteStoreStartedOver(server);
                    },
                    Qt::QueuedConnection);
        });
    }
    connect(this, &AppModel::bootstrapEnded, this, [this] {
        m_bootstrapDone = true;
        if (std::exchange(m_localStartedOverPending, false))
            m_storeRecovery->afterLocalWrites();
        if (std::exchange(m_serverStartedOverPending, false))
            m_storeRecovery->afterServerWrites();
    });
    m_imageSemanticStore = makeImageTagStore(m_env.services, folder / "image_semantic.sqlite");
    if (hasSharedDriveFeatures(AppEditionInfo::current()))
        m_serverImageSemanticStore = makeImageTagStore(m_env.services, folder / "server_image_semantic.sqlite");
    m_context = std::make_unique<AppContext>(
        m_env, *m_clock, m_pool, *m_defaults,
        AppStores{m_indexStore, m_serverIndexStore, m_serverIndexDatabasePath, m_imageSemanticStore,
                  m_serverImageSemanticStore},
        SettingsAccess{[this]() -> const AppSettings& { return m_settings; },
                       [this](const std::function<void(AppSettings&)>& change) { writeSettings(change); }},
        [this](const QString& text, StatusKind kind) { setStatusMessage(text, kind); }, *m_faultNotices,
        [this](const std::shared_ptr<CancelToken>& token) { trackDetachedJob(token); });
    // First, so that no feature's hook can find it missing; it asks the others only when called.
    connectForegroundActivity();
    wireSearchSession();
    connectSharedDrives();
    connectSettingsOperations();
    connectLocalIndex(startupCount);

    // Queued, so that whoever made the model can connect to it before the
    // start-up publishes anything.
    QMetaObject::invokeMethod(this, [this] { bootstrap(); }, Qt::QueuedConnection);
}

AppModel::~AppModel()
{
    // The tagger may write on after the model (its sessions are the process's).
    for (const std::shared_ptr<ImageTagWrites>& tags : {m_imageSemanticStore, m_serverImageSemanticStore})
        if (tags)
            tags->setWriteListener(nullptr);
    m_sharedDrives->cancelJobs();
    // Its jobs are cancelled with it, before the pool is drained.
    m_searchSession.reset();
    for (const auto& weak : m_detachedJobs) {
        if (auto token = weak.lock())
            token->cancel();
    }
    m_pool.waitForDone();
}

void AppModel::connectSharedDrives()
{
    m_sharedDrives = std::make_unique<SharedDrives>(*m_context, [this] { return m_localIndex->isIndexing(); },
                                                    m_env.scanner.listingFault);
    SharedDrives* drives = m_sharedDrives.get();
    connect(drives, &SharedDrives::searchRequested, this, [this] { m_searchSession->scheduleSearch(true, false); });
    connect(drives, &SharedDrives::writesEnded, this, [this] { m_storeRecovery->afterServerWrites(); });
    connect(drives, &SharedDrives::indexingTurnedOff, this, [this] { m_searchSession->setServerResults({}); });
    for (auto changed : {&SharedDrives::serverIndexedCountChanged, &SharedDrives::isServerIndexingChanged})
        connect(drives, changed, m_searchSession.get(), &SearchSession::summaryInputsChanged);
}

void AppModel::connectSettingsOperations()
{
    SettingsOperations::Effects effects;
    effects.applyKeepWarmRule = [this] { m_foreground->applyKeepWarmRule(); };
    effects.searchAgain = [this] { m_searchSession->scheduleSearch(true, false); };
    effects.forgetShownListIsComplete = [this] { m_searchSession->markDisplayedResultsIncomplete(); };
    effects.rebuildIndex = [this] { m_localIndex->rebuildIndex(false); };
    effects.startImageTagging = [this] { startImageTagging(); };
    effects.clearImageResults = [this] { m_searchSession->setImageFuzzyResults({}); };
    effects.clearLocalResults = [this] {
        m_searchSession->applySearchResults({}, m_searchSession->currentQuerySnapshot());
    };
    // Forgotten too, or the next shared-drive search would narrow the old list.
    effects.clearServerResults = [this] { m_searchSession->forgetServerResults(); };
    effects.startServerFullScanIfNeeded = [this] {
        if (m_env.services.startServerFullScanIfNeeded)
            m_env.services.startServerFullScanIfNeeded(*m_sharedDrives);
    };
    effects.searchHistory = [this] { return m_searchSession->history().entries(); };
    effects.replaceSearchHistory = [this](const QStringList& history) {
        m_searchSession->history().setEntries(history);
        m_searchSession->history().persist();
    };
    m_settingsOperations = std::make_unique<SettingsOperations>(*m_context, *m_launchAgentManager, std::move(effects));
    connect(this, &AppModel::settingsChanged, m_settingsOperations.get(), &SettingsOperations::settingsChanged);
}


void AppModel::setStatusMessage(const QString& text, StatusKind kind)
{
    // An action's confirmation stays long enough to be read while files
    // change: the live index's count shows in the summary meanwhile.
    constexpr auto kConfirmationHold = std::chrono::seconds(3);
    const Clock::TimePoint now = m_clock->now();
    if (kind == StatusKind::Passing && m_confirmedAt && now - *m_confirmedAt < kConfirmationHold)
        return;
    m_confirmedAt = kind == StatusKind::Confirmation ? std::optional(now) : std::nullopt;
    if (text == m_statusMessage)
        return;
    m_statusMessage = text;
    emit statusMessageChanged();
}

// Copies the stored record, changes it, stores and persists it, and publishes
// the stored record.
void AppModel::writeSettings(const std::function<void(AppSettings&)>& change)
{
    AppSettings record = m_settingsStore->settings();
    change(record);
    m_settingsStore->setSettings(std::move(record));
    // A failed write keeps the new value in memory and on screen: the next
    // successful persist writes it, and the effect still applies.
    m_settingsStore->persist();
    if (m_settingsStore->settings() == m_settings)
        return;
    m_settings = m_settingsStore->settings();
    emit settingsChanged();
}

// Remembers the token of a job nothing else keeps, so that destruction stops it.
void AppModel::trackDetachedJob(const std::shared_ptr<CancelToken>& token)
{
    std::erase_if(m_detachedJobs, [](const std::weak_ptr<CancelToken>& weak) { return weak.expired(); });
    m_detachedJobs.push_back(token);
}

void AppModel::migrateLegacyUserDefaults(Defaults& defaults)
{
    const std::int64_t legacyCount = defaults.integer(legacyDefaultsKey(DefaultsName::LastIndexedCount)).value_or(0);
    const std::string& countKey = LocalIndex::lastIndexedCountKey();
    if (legacyCount >= 1 && defaults.integer(countKey).value_or(0) < legacyCount)
        defaults.setInteger(countKey, legacyCount);

    const std::string& rootsKey = LocalIndex::lastIndexedRootsKey();
    if (!defaults.contains(rootsKey)) {
        if (auto roots = defaults.stringList(legacyDefaultsKey(DefaultsName::LastIndexedRoots)))
            defaults.setStringList(rootsKey, *roots);
    }

    const std::string welcomeKey = editionDefaultsKey(DefaultsName::WelcomeSheetDismissed);
    if (!defaults.contains(welcomeKey)
        && defaults.boolean(legacyDefaultsKey(DefaultsName::WelcomeSheetDismissed)).value_or(false))
        defaults.setBoolean(welcomeKey, true);
}

QCoro::Task<> AppModel::bootstrap()
{
    QPointer<AppModel> guard(this);
    BootstrapEndNotice endNotice{guard};

    // Every awaited task and future is a named local: GCC 12 destroys some
    // temporaries of a co_await expression twice.
    QCoro::Task<bool> storesOpening = bootstrapStores();
    const bool opened = co_await storesOpening;
    if (!opened || !guard)
        co_return;
    noteRecoveredStores();
    noteReadOnlyStore();

    auto counting = m_context->onPool([local = m_indexStore, server = m_serverIndexStore] {
        return std::pair{local->indexedCount(), server->indexedCount()};
    });
    const auto counts = co_await counting;
    if (!guard)
        co_return;
    m_localIndex->adoptStoredCount(counts.first);
    m_sharedDrives->setServerIndexedCount(counts.second);
    const qint64 count = m_localIndex->indexedCount();
    setStatusMessage(count == 0 ? QStringLiteral("等待首次索引") : QStringLiteral("已加载 %1 条索引").arg(count));

    m_watcherBatches->startWatching();

    // A bad autostart file is reported but stops nothing else: without the
    // rest of the start-up there would be no scan, no hot key and no search.
    if (auto error = m_launchAgentManager->sync(m_settings.launchAtLogin, m_env.executablePath))
        setStatusMessage(QString::fromStdString(error->message));

    // The generation is taken now, so a search the user starts meanwhile is
    // never overwritten by this older answer.
    QCoro::Task<> refresh = m_searchSession->refreshResultsImmediately(m_searchSession->searchGeneration());
    co_await refresh;
    if (!guard)
        co_return;

    const AppServices& services = m_env.services;
    if (services.autoConfigureServerRootsIfNeeded)
        services.autoConfigureServerRootsIfNeeded(*m_sharedDrives);
    const bool serverRunsAtLaunch = m_settings.enableServerIndexing && m_settings.autoResumeServerIndexingOnLaunch;
    // The resume check comes first: once the first scan has started, a run
    // handle exists and the check would never take up an interrupted run.
    if (serverRunsAtLaunch && services.maybeResumeServerIndexIfInterrupted)
        services.maybeResumeServerIndexIfInterrupted(*m_sharedDrives);
    if (serverRunsAtLaunch) {
        if (services.startServerFullScanIfNeeded)
            services.startServerFullScanIfNeeded(*m_sharedDrives);
        if (services.maybeRunServerIncrementalScanOnLaunch) {
            QCoro::Task<> incremental = services.maybeRunServerIncrementalScanOnLaunch(*m_sharedDrives);
            co_await incremental;
            if (!guard)
                co_return;
        }
    }
    m_settingsOperations->applyMenuBarAndHotKey();
    m_foreground->applyKeepWarmRule();

    QCoro::Task<> finishing = finishBootstrapWithRoots();
    co_await finishing;
}

QCoro::Task<bool> AppModel::bootstrapStores()
{
    // Plain arrays of named stores: GCC 12 mis-destroys the elements of a
    // braced list that a loop body with co_await in it iterates over.
    QPointer<AppModel> guard(this);
    const std::array<std::shared_ptr<IndexStore>, 2> indexStores{m_indexStore, m_serverIndexStore};
    const std::array<QString, 2> busyTexts{QStringLiteral("索引数据库正被其他程序占用，稍后重试打开"),
                                           QStringLiteral("共享盘索引数据库正被其他程序占用，稍后重试打开")};
    for (std::size_t i = 0; i < indexStores.size(); ++i) {
        std::shared_ptr<IndexStore> store = indexStores[i];
        QCoro::Task<StoreResult<void>> opening = m_storeRecovery->open(store, busyTexts[i]);
        const StoreResult<void> opened = co_await opening;
        if (!guard)
            co_return false;
        if (!opened) {
            setStatusMessage(QString::fromStdString(opened.error().description()));
            co_return false;
        }
    }
    const std::array<std::shared_ptr<ImageTagWrites>, 2> tagStores{m_imageSemanticStore, m_serverImageSemanticStore};
    for (std::size_t i = 0; i < tagStores.size(); ++i) {
        std::shared_ptr<ImageTagWrites> store = tagStores[i];
        if (!store)
            continue;
        auto opening = m_context->onPool([store] { return store->bootstrap(); });
        const std::optional<std::string> error = co_await opening;
        if (!guard)
            co_return false;
        if (error) {
            setStatusMessage(QString::fromStdString(*error));
            co_return false;
        }
    }
    co_return true;
}

QCoro::Task<> AppModel::finishBootstrapWithRoots()
{
    QPointer<AppModel> guard(this);
    LocalIndex& index = *m_localIndex;
    const std::vector<std::string> roots = index.activeIndexedRoots();
    auto probing = m_context->onPool([store = m_indexStore, roots] { return store->hasIndexedItems(roots); });
    bool rootsIndexed = co_await probing;
    if (!guard)
        co_return;
    const std::vector<std::string> previousRoots = index.lastIndexedRootsSnapshot();
    QCoro::Task<std::vector<std::string>> findingMissing = index.missingIndexedRoots(roots);
    std::vector<std::string> missingRoots = co_await findingMissing;
    if (!guard)
        co_return;
    if (index.indexedCount() == 0) {
        index.rebuildIndex(true);
        co_return;
    }
    // A walk killed or quit half-way, or one that could not write all it
    // found, left rows of part of the roots only, and the probes above would
    // take them for a whole index.
    if (index.hasUnfinishedRun()) {
        index.rebuildIndex(true);
        setStatusMessage(QStringLiteral("上次索引未完成，正在重新完整扫描…"));
        co_return;
    }
    setStatusMessage(QStringLiteral("已加载 %1 条索引，可立即搜索").arg(index.indexedCount()));
    if (m_settings.enableImageFuzzySearch)
        startImageTagging();
    // inotify keeps no history: what changed while the application was not
    // running is looked for under every root that is not walked whole anyway.
    std::vector<std::string> caughtUp;
    for (const std::string& root : roots)
        if (std::find(missingRoots.begin(), missingRoots.end(), root) == missingRoots.end())
            caughtUp.push_back(root);
    m_watcherBatches->startCatchUp(std::move(caughtUp));
    if (LocalIndex::shouldPerformBackgroundRootRefresh(roots, previousRoots, rootsIndexed))
        index.refreshIndexedRootsInBackground(roots, previousRoots, missingRoots);
}

void AppModel::noteRecoveredStores()
{
    // Started over on empty files: the local one is filled by the first scan
    // that an empty index gets, the shared-drive one by its own runs.
    if (const auto copy = m_indexStore->takeRecoveredFromDamage())
        m_faultNotices->raise(FaultNotices::Cause::IndexDamage, StoreRecovery::localStartedOverText(*copy));
    if (const auto copy = m_serverIndexStore->takeRecoveredFromDamage())
        m_faultNotices->raise(FaultNotices::Cause::ServerIndexDamage,
                              StoreRecovery::serverStartedOverText(*copy, false));
}

void AppModel::noteReadOnlyStore()
{
    if (m_indexStore->status().readOnly)
        m_faultNotices->raise(FaultNotices::Cause::ReadOnlyIndex,
                              QStringLiteral("索引数据库 %1 只能读取：可以搜索，但索引的更改无法保存")
                                  .arg(QString::fromStdString(m_indexStore->databaseURL().string())));
}

// A store started over after a read met damage (called on the GUI thread for
// any store thread): its refill waits for the start-up's end, which may
// already deal with it.
void AppModel::noteStoreStartedOver(bool server)
{
    if (!m_bootstrapDone) {
        (server ? m_serverStartedOverPending : m_localStartedOverPending) = true;
        return;
    }
    if (server)
        m_storeRecovery->afterServerWrites();
    else
        m_storeRecovery->afterLocalWrites();
}

void AppModel::connectForegroundActivity()
{
    ForegroundActivity::Hooks hooks;
    hooks.shownListIsStale = [this] {
        const SearchQuery query = m_searchSession->currentQuerySnapshot();
        if (!TypingRoad::hasSearchIntent(query))
            return false;
        const std::optional<SearchQuery>& shown = m_searchSession->lastDisplayedQuery();
        return !shown || !(*shown == query) || m_localIndex->isIndexing() || m_watcherBatches->hasPendingPaths();
    };
    hooks.searchAgain = [this] { m_searchSession->scheduleSearch(false, false); };
    m_foreground = std::make_unique<ForegroundActivity>(*m_context, std::move(hooks));
}

// The local tagging session, and the shared-drive one when that index is on and has items.
void AppModel::startImageTagging()
{
    const AppServices& services = m_env.services;
    if (!services.startImageTagging)
        return;
    services.startImageTagging(m_indexStore, m_imageSemanticStore, "local");
    if (m_serverImageSemanticStore && hasSharedDriveFeatures(AppEditionInfo::current())
        && m_settings.enableServerIndexing && m_sharedDrives->serverIndexedCount() >= 1)
        services.startImageTagging(m_serverIndexStore, m_serverImageSemanticStore, "server");
}

void AppModel::wireSearchSession()
{
    SearchSession::Links links;
    links.preview = m_previewController.get();
    links.indexActivity = [this] {
        return SearchSession::IndexActivity{m_localIndex->indexedCount(), m_sharedDrives->serverIndexedCount(),
                                            m_localIndex->isIndexing(), m_sharedDrives->isServerIndexing()};
    };
    m_searchSession = std::make_unique<SearchSession>(*m_context, std::move(links));
    m_resultActions = std::make_unique<ResultActions>(*m_context, *m_searchSession, m_env.desktop);
    SearchSession* search = m_searchSession.get();
    connect(this, &AppModel::settingsChanged, search, &SearchSession::settingsChanged);
    // The summary follows the settings here, the counts where connectLocalIndex()
    // and connectSharedDrives() build their owners.
    connect(this, &AppModel::settingsChanged, search, &SearchSession::summaryInputsChanged);
    // The tagger writes on its own thread, row after row: one hand-over to the
    // GUI thread at a time is enough, the session looks at every row since.
    for (const std::shared_ptr<ImageTagWrites>& tags : {m_imageSemanticStore, m_serverImageSemanticStore}) {
        if (!tags)
            continue;
        auto handedOver = std::make_shared<std::atomic<bool>>(false);
        tags->setWriteListener([session = QPointer<SearchSession>(search), handedOver] {
            QCoreApplication* app = QCoreApplication::instance();
            if (!app || handedOver->exchange(true))
                return;
            QMetaObject::invokeMethod(
                app,
                [session, handedOver] {
                    handedOver->store(false);
                    if (session)
                        session->tagsWritten();
                },
                Qt::QueuedConnection);
        });
    }
}

void AppModel::connectLocalIndex(std::int64_t startupCount)
{
    m_localIndex = std::make_unique<LocalIndex>(*m_context, startupCount);
    LocalIndex* index = m_localIndex.get();
    m_watcherBatches = std::make_unique<WatcherBatches>(
        *m_context, WatcherBatches::Hooks{[index] { return index->activeIndexedRoots(); },
                                          [this] { return m_searchSession->typingClock().isTyping(); },
                                          [this] { return m_foreground->isForegroundActive(); }});
    m_storeRecovery = std::make_unique<StoreRecovery>(
        *m_context, StoreRecovery::Hooks{[index] { index->rebuildIndex(false); },
                                         [this] { return m_sharedDrives->runs().isRunActive(); },
                                         [this] { m_sharedDrives->runs().refreshServerIndexManually(); }});
    WatcherBatches* watcher = m_watcherBatches.get();
    StoreRecovery* recovery = m_storeRecovery.get();

    for (auto changed : {&LocalIndex::indexedCountChanged, &LocalIndex::isIndexingChanged})
        connect(index, changed, m_searchSession.get(), &SearchSession::summaryInputsChanged);
    connect(index, &LocalIndex::contentChanged, this, [this] { m_searchSession->markDisplayedResultsIncomplete(); });
    connect(index, &LocalIndex::searchWanted, this, [this] { m_searchSession->scheduleSearch(true, false); });
    connect(index, &LocalIndex::watcherRestartWanted, watcher, &WatcherBatches::startWatching);
    connect(index, &LocalIndex::writesDone, recovery, &StoreRecovery::afterLocalWrites);
    connect(index, &LocalIndex::imageTaggingWanted, this, [this] { startImageTagging(); });

    connect(watcher, &WatcherBatches::batchWritten, index, &LocalIndex::publishIndexedCount);
    connect(watcher, &WatcherBatches::writesDone, recovery, &StoreRecovery::afterLocalWrites);
    connect(watcher, &WatcherBatches::searchWanted, this, [this](bool immediate) {
        if (TypingRoad::hasSearchIntent(m_searchSession->currentQuerySnapshot()))
            m_searchSession->scheduleSearch(immediate, false);
    });
}

} // namespace pallix
