#include "App/Context/ForegroundActivity.h"

#include <chrono>

#include <QGuiApplication>

#include "App/Context/AppContext.h"

namespace pallix {

namespace {

// Switching windows back and forth must not search on every switch.
constexpr std::chrono::milliseconds kForegroundSearchInterval{1200};

} // namespace

ForegroundActivity::ForegroundActivity(const AppContext& context, Hooks hooks, QObject* parent)
    : QObject(parent), m_context(context), m_hooks(std::move(hooks))
{
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                applicationDidBecomeActive();
            else
                applicationDidResignActive();
        });
    }
}

void ForegroundActivity::applicationDidBecomeActive()
{
    m_isForegroundActive = true;
    const auto now = m_context.clock().now();
    if (m_lastSearchAt && now - *m_lastSearchAt < kForegroundSearchInterval)
        return;
    if (!m_hooks.shownListIsStale())
        return;
    m_lastSearchAt = now;
    m_hooks.searchAgain();
}

void ForegroundActivity::applyKeepWarmRule()
{
    const bool wanted = m_context.settings().keepAppWarmInBackground;
    if (wanted && !m_keepWarmActivity) {
        const auto& begin = m_context.environment().services.beginKeepWarmActivity;
        // Without a platform activity a plain token still records that one is held.
        m_keepWarmActivity = begin ? begin() : std::make_shared<int>(0);
    } else if (!wanted && m_keepWarmActivity) {
        m_keepWarmActivity.reset();
    }
}

} // namespace pallix
