#pragma once
// Fakes and a harness for the application model's tests: in-memory defaults,
// a fake clock, fixed volumes, a watcher that only records, service hooks that
// log their calls, and a temporary folder for the databases. Everything the
// model does that a test wants to order lands in one event log. No test waits
// a fixed time: it waits for the model's awaits to resume or moves the clock.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport/IndexableTestBase.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSet>
#include <QTest>

#include "App/Actions/ResultActions.h"
#include "App/AppModel.h"
#include "App/Context/AppContext.h"
#include "App/Context/FaultNotices.h"
#include "App/Context/ForegroundActivity.h"
#include "App/Indexing/LocalIndex.h"
#include "App/Indexing/WatcherBatches.h"
#include "App/Preview/PreviewController.h"
#include "App/Preview/ThumbnailProvider.h"
#include "App/Search/SearchSession.h"
#include "App/Settings/SettingsOperations.h"
#include "App/SharedDrives/SharedDrives.h"
#include "Core/Config/SettingsStore.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/IndexStoreProbe.h"

namespace pallix::testing_support {

namespace fs = std::filesystem;

// A fresh folder where the junk rule keeps what is made in it (not under /tmp).
class TempDir {
public:
    TempDir()
    {
        m_path = pallix::testsupport::indexableTestBase() / "pallix-test-tmp"
                 / ("model-" + std::to_string(std::random_device{}()) + "-" + std::to_string(std::random_device{}()));
        fs::create_directories(m_path);
        m_path = fs::canonical(m_path);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }

private:
    fs::path m_path;
};

inline void writeFile(const fs::path& p, const std::string& content = "x")
{
    fs::create_directories(p.parent_path());
    std::ofstream(p) << content;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// How long a test waits for a condition before it fails: long enough for a
// machine loaded with other tests; a test that passes never waits it out.
inline constexpr int kPatienceMs = 20000;

inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = kPatienceMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

// Waits for `condition` while moving the fake clock on by `step` whenever a
// thread sleeps on it: the model's pauses and the store's quiet periods all
// wait on that clock.
inline bool pumpUntil(FakeClock& clock, const std::function<bool()>& condition,
                      Clock::Duration step = std::chrono::milliseconds(5), int timeoutMs = kPatienceMs)
{
    return QTest::qWaitFor(
        [&] {
            if (condition())
                return true;
            if (clock.sleepers() > 0)
                clock.advance(step);
            return condition();
        },
        timeoutMs);
}

// Waits until at least `n` threads sleep on the fake clock, then advances it.
inline bool advanceOnceSleeping(FakeClock& clock, Clock::Duration d, int n = 1)
{
    if (!waitFor([&] { return clock.sleepers() >= n; }))
        return false;
    clock.advance(d);
    return true;
}

// The fake clock as the model gets it, noting every sleep asked of it: the
// fake clock alone cannot tell how long a wait was meant to last until it
// has been moved past the end, and then only on a thread that may not have
// woken yet.
class SleepLog final : public Clock {
public:
    explicit SleepLog(std::shared_ptr<FakeClock> clock) : m_clock(std::move(clock)) {}

    TimePoint now() const override { return m_clock->now(); }
    double wallSecondsSince1970() const override { return m_clock->wallSecondsSince1970(); }
    bool sleepFor(Duration d, const CancelToken* cancel = nullptr) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_sleeps.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(d));
        }
        return m_clock->sleepFor(d, cancel);
    }

    // The durations asked for, oldest first; noted before the sleeper counts
    // on the fake clock.
    std::vector<std::chrono::milliseconds> sleeps() const
    {
        std::lock_guard lock(m_mutex);
        return m_sleeps;
    }

private:
    std::shared_ptr<FakeClock> m_clock;
    mutable std::mutex m_mutex;
    std::vector<std::chrono::milliseconds> m_sleeps;
};

// Counts the model's awaits not yet resumed from. Each co_await on a pool job
// or a clock sleep watches its future with a QFutureWatcher that reports to
// the GUI thread and is deleted once the coroutine has resumed; the first
// report marks it here, its deletion unmarks it. A superseded job that must
// do nothing can thus be seen to have ended, rather than not to have got
// there yet.
class PendingAwaits final : public QObject {
public:
    PendingAwaits() { QCoreApplication::instance()->installEventFilter(this); }
    ~PendingAwaits() override { QCoreApplication::instance()->removeEventFilter(this); }

    // Delivers what is posted first, so that awaits just started are counted.
    int deliverAndCount()
    {
        QCoreApplication::sendPostedEvents();
        return static_cast<int>(m_watchers.size());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FutureCallOut && !m_watchers.contains(watched)) {
            m_watchers.insert(watched);
            connect(watched, &QObject::destroyed, this, [this](QObject* gone) { m_watchers.remove(gone); });
        }
        return false;
    }

private:
    QSet<QObject*> m_watchers;
};

class RecordingWatcher final : public RootWatcher {
public:
    RecordingWatcher(FSEventWatcher::Callback callback, std::vector<std::string>* log, std::function<void()> onStart)
        : m_callback(std::move(callback)), m_log(log), m_onStart(std::move(onStart))
    {
    }
    void start(const std::vector<std::string>& roots) override
    {
        std::string entry = "watch:";
        for (std::size_t i = 0; i < roots.size(); ++i)
            entry += (i ? "," : "") + roots[i];
        m_log->push_back(entry);
        if (m_onStart)
            m_onStart();
    }
    void start(const std::vector<std::string>& roots, const FSEventWatcher::WatchRules&) override
    {
        ++m_startsWithRules;
        start(roots);
    }
    void deliver(std::vector<std::string> paths) { m_callback(std::move(paths)); }
    // Starts that came with the excluded folders and the first folders.
    int startsWithRules() const { return m_startsWithRules; }

private:
    int m_startsWithRules = 0;
    FSEventWatcher::Callback m_callback;
    std::vector<std::string>* m_log;
    std::function<void()> m_onStart;
};

class FailingTagStore final : public ImageTagStore {
public:
    std::optional<std::string> bootstrap() override { return "image tags unavailable"; }
};

inline MountedVolume localVolume(std::string mountPoint, bool removable = false)
{
    MountedVolume v;
    v.mountPoint = std::move(mountPoint);
    v.fileSystemType = "ext4";
    v.kind = VolumeKind::Local;
    v.isRemovable = removable;
    return v;
}

inline IndexedItem fileItem(const std::string& path, bool folder = false)
{
    const std::string name(paths::lastComponent(path));
    return IndexedItem(path, name, std::string(paths::deletingLastComponent(path)),
                       folder ? std::string() : std::string(paths::extension(name)), folder ? 0 : 1, 1'700'000'000.0,
                       folder ? IndexedItem::ItemType::Folder : IndexedItem::ItemType::File);
}

// Files at `paths`, in order, as a published result list.
inline ItemList fileItems(std::initializer_list<const char*> paths)
{
    ItemList list;
    for (const char* p : paths)
        list.append(fileItem(p));
    return list;
}

// Writes `items` into the database file the way an earlier run would have.
inline void seedIndex(const fs::path& database, const std::vector<IndexedItem>& items)
{
    IndexStore store(database, std::make_shared<FakeClock>());
    ASSERT_TRUE(store.bootstrap().has_value());
    if (!items.empty()) {
        ASSERT_TRUE(store.upsert(items).has_value());
    }
}

// One model on fakes. Fill the public fields, then call start().
class ModelHarness {
public:
    ModelHarness()
    {
        env.defaults = defaults;
        env.clock = sleepLog;
        env.supportDirectory = support.path() / "support";
        env.executablePath = "/usr/bin/pallix";
        env.thumbnails = &thumbnails;
        env.localStoreProbe = localProbe;
        env.serverStoreProbe = serverProbe;
        // One small volume of our own: with none, "/" would be the root.
        fs::create_directories(rootFolder());
        env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume(rootFolder().string())});
        auto& s = env.services;
        s.menuBarVisibilityChanged = [this](bool visible) { log.push_back(std::string("menuBar:") + (visible ? "1" : "0")); };
        s.registerHotKey = [this](const std::optional<GlobalHotKey>& key) {
            log.push_back("hotKey:" + (key ? key->displayString() : std::string("none")));
        };
        s.autoConfigureServerRootsIfNeeded = [this](SharedDrives&) { log.push_back("server:autoConfigure"); };
        s.startServerFullScanIfNeeded = [this](SharedDrives&) { log.push_back("server:fullScan"); };
        s.maybeRunServerIncrementalScanOnLaunch = [this](SharedDrives&) -> QCoro::Task<> {
            log.push_back("server:incremental");
            co_return;
        };
        s.maybeResumeServerIndexIfInterrupted = [this](SharedDrives&) { log.push_back("server:resume"); };
        s.startImageTagging = [this](std::shared_ptr<IndexStore>, std::shared_ptr<ImageTagStore>,
                                     const std::string& id) { log.push_back("tagging:" + id); };
        s.beginKeepWarmActivity = [this] {
            log.push_back("keepWarm:begin");
            return std::make_shared<int>(1);
        };
        s.makeWatcher = [this](FSEventWatcher::Callback callback, FSEventWatcher::ShortfallCallback) {
            auto w = std::make_unique<RecordingWatcher>(std::move(callback), &log, [this] {
                if (onWatcherStart)
                    onWatcherStart();
            });
            watcher = w.get();
            return w;
        };
    }

    ~ModelHarness() { stop(); }

    void presetSettings(const std::function<void(AppSettings&)>& change)
    {
        SettingsStore store(defaults);
        AppSettings s = store.settings();
        change(s);
        store.setSettings(s);
        store.persist();
    }

    // Makes the stores fail to open, so that the start-up ends before any scan
    // (for tests that only ask the model's rules, with volumes like "/").
    void preventStartUp()
    {
        writeFile(support.path() / "blocked");
        env.supportDirectory = support.path() / "blocked" / "support";
    }

    fs::path rootFolder() const { return support.path() / "volume"; }
    fs::path databasePath() const { return env.supportDirectory / "index.sqlite"; }

    void start()
    {
        model = std::make_unique<AppModel>(env);
        QObject::connect(model.get(), &AppModel::statusMessageChanged, model.get(),
                         [this] { log.push_back("status:" + model->statusMessage().toStdString()); });
        QObject::connect(&model->context().faultNotices(), &FaultNotices::raised, model.get(),
                         [this](const QString& text) { log.push_back("notice:" + text.toStdString()); });
        QObject::connect(model.get(), &AppModel::bootstrapEnded, model.get(), [this] { bootstrapEnded = true; });
    }

    // Start-up done and no rebuild running.
    bool settle()
    {
        return waitFor([this] { return bootstrapEnded && !model->localIndex().isIndexing(); });
    }

    // Every job the model awaited has ended and its coroutine has resumed,
    // but for `asleep` waits that stay asleep on the clock nobody moves.
    bool allResumed(int asleep = 0)
    {
        return waitFor([this, asleep] { return awaits.deliverAndCount() == asleep; });
    }

    // Moves the clock past every wait until every job the model started has
    // run out: what a test then finds not done, the model never does.
    bool runOut(Clock::Duration step = std::chrono::milliseconds(50))
    {
        return pumpUntil(*clock, [this] { return awaits.deliverAndCount() == 0; }, step);
    }

    void stop()
    {
        model.reset();
        // Jobs that finished during destruction resume their coroutines here.
        QCoreApplication::processEvents();
    }

    bool logged(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
    // Position of the first entry equal to `entry`, or -1.
    int indexOf(const std::string& entry) const
    {
        const auto it = std::find(log.begin(), log.end(), entry);
        return it == log.end() ? -1 : static_cast<int>(it - log.begin());
    }
    // Position of the first entry starting with `prefix`, or -1.
    int indexOfPrefix(const std::string& prefix) const
    {
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (log[i].rfind(prefix, 0) == 0)
                return static_cast<int>(i);
        }
        return -1;
    }

    TempDir support;
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<SleepLog> sleepLog = std::make_shared<SleepLog>(clock);
    PendingAwaits awaits;
    ThumbnailProvider thumbnails{clock};
    // What the tests read of the model's two index stores.
    std::shared_ptr<IndexStoreProbe> localProbe = std::make_shared<IndexStoreProbe>();
    std::shared_ptr<IndexStoreProbe> serverProbe = std::make_shared<IndexStoreProbe>();
    AppModelEnvironment env;
    std::vector<std::string> log;
    RecordingWatcher* watcher = nullptr;
    // Called on every watcher start; the start-up starts it just before its refresh search.
    std::function<void()> onWatcherStart;
    std::unique_ptr<AppModel> model;
    bool bootstrapEnded = false;
};

} // namespace pallix::testing_support
