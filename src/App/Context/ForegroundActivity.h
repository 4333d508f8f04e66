#pragma once
// ForegroundActivity: whether the application is in front, and what coming
// back to the front and the keep-warm setting do. Coming to the front
// searches again when the shown list may lag the query (asked through a
// hook, so this object knows no feature); the keep-warm activity is held
// while its setting is on. It follows the QGuiApplication's state when there
// is one. GUI thread only.

#include <functional>
#include <memory>
#include <optional>

#include <QObject>

#include "Platform/Clock.h"

namespace pallix {

class AppContext;

class ForegroundActivity : public QObject {
    Q_OBJECT

public:
    struct Hooks {
        // The query has search intent and the shown list may not answer it.
        std::function<bool()> shownListIsStale;
        std::function<void()> searchAgain;
    };

    ForegroundActivity(const AppContext& context, Hooks hooks, QObject* parent = nullptr);

    bool isForegroundActive() const { return m_isForegroundActive; }
    bool holdsKeepWarmActivity() const { return m_keepWarmActivity != nullptr; }

    void applicationDidBecomeActive();
    void applicationDidResignActive() { m_isForegroundActive = false; }
    // Holds or releases the keep-warm activity as the stored setting says.
    void applyKeepWarmRule();

private:
    const AppContext& m_context;
    Hooks m_hooks;
    bool m_isForegroundActive = true;
    std::optional<Clock::TimePoint> m_lastSearchAt;  // none: the distant past
    std::shared_ptr<void> m_keepWarmActivity;
};

} // namespace pallix
