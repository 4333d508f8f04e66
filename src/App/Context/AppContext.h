#pragma once
// AppContext: what the features of the application share, handed to each by
// the model that builds them. A feature reaches the stores, the worker pool,
// the clock, the defaults, the settings record and the status line through
// it, and reaches other features only through signals the model connects.
// GUI thread only, like the features themselves.

#include <filesystem>
#include <functional>
#include <memory>
#include <utility>

#include <QString>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include "App/Context/AppEnvironment.h"
#include "App/Async/AsyncClock.h"
#include "App/Async/QueuedFuture.h"
#include "App/ImageTags/ImageTagWrites.h"
#include "Core/Config/AppSettings.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"

namespace pallix {

class FaultNotices;
class IndexStore;

// The four databases, made once when the model is built. The image-tag
// stores keep a record of their recent writes (see ImageTagWrites).
struct AppStores {
    std::shared_ptr<IndexStore> local;
    std::shared_ptr<IndexStore> server;
    std::filesystem::path serverDatabasePath;
    std::shared_ptr<ImageTagWrites> localImageTags;
    std::shared_ptr<ImageTagWrites> serverImageTags;  // only in the edition with shared drives
};

// The settings record as stored, and its one way back to the store: the
// change is applied to a copy, stored, persisted and published.
struct SettingsAccess {
    std::function<const AppSettings&()> read;
    std::function<void(const std::function<void(AppSettings&)>& change)> write;
};

// What a status message is to the ones around it.
enum class StatusKind {
    Plain,         // replaces whatever is shown
    Confirmation,  // an action's outcome: the user reads it, so passing notes leave it a while
    Passing,       // the live index's note: shown unless a confirmation is still fresh
};

class AppContext {
public:
    using StatusLine = std::function<void(const QString& text, StatusKind kind)>;

    AppContext(const AppModelEnvironment& environment, const AsyncClock& clock, QThreadPool& pool, Defaults& defaults,
               AppStores stores, SettingsAccess settings, StatusLine statusLine,
               FaultNotices& faultNotices, std::function<void(const std::shared_ptr<CancelToken>&)> trackDetachedJob)
        : m_environment(environment),
          m_clock(clock),
          m_pool(pool),
          m_defaults(defaults),
          m_stores(std::move(stores)),
          m_settings(std::move(settings)),
          m_statusLine(std::move(statusLine)),
          m_faultNotices(faultNotices),
          m_trackDetachedJob(std::move(trackDetachedJob))
    {
    }

    const AppModelEnvironment& environment() const { return m_environment; }
    const AsyncClock& clock() const { return m_clock; }
    QThreadPool& pool() const { return m_pool; }
    Defaults& defaults() const { return m_defaults; }
    const AppStores& stores() const { return m_stores; }
    const AppSettings& settings() const { return m_settings.read(); }
    void writeSettings(const std::function<void(AppSettings&)>& change) const { m_settings.write(change); }
    void setStatusMessage(const QString& text, StatusKind kind = StatusKind::Plain) const { m_statusLine(text, kind); }
    FaultNotices& faultNotices() const { return m_faultNotices; }
    // A job nothing else keeps: the model cancels it when it is destroyed.
    void trackDetachedJob(const std::shared_ptr<CancelToken>& token) const { m_trackDetachedJob(token); }

    // Runs `f` on the pool; co_await on the result resumes on the GUI thread,
    // always from the event loop.
    template <typename F>
    auto onPool(F&& f) const
    {
        return QueuedFuture(QtConcurrent::run(&m_pool, std::forward<F>(f)));
    }

private:
    const AppModelEnvironment& m_environment;
    const AsyncClock& m_clock;
    QThreadPool& m_pool;
    Defaults& m_defaults;
    AppStores m_stores;
    SettingsAccess m_settings;
    StatusLine m_statusLine;
    FaultNotices& m_faultNotices;
    std::function<void(const std::shared_ptr<CancelToken>&)> m_trackDetachedJob;
};

} // namespace pallix
