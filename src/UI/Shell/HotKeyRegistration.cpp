#include "UI/Shell/HotKeyRegistration.h"

#include <QGuiApplication>

#include "UI/Common/HotKeyManager.h"
#include "UI/Shell/GlobalShortcutsPortal.h"

namespace pallix {

HotKeyRegistration::HotKeyRegistration(Context context, QObject* parent)
    : QObject(parent), m_context(std::move(context))
{
    if (GlobalShortcutsPortal* portal = m_context.portal) {
        connect(portal, &GlobalShortcutsPortal::bound, this, [this] { m_status.setRegistered(); });
        connect(portal, &GlobalShortcutsPortal::failed, this, &HotKeyRegistration::fail);
        connect(portal, &GlobalShortcutsPortal::activated, this, [this] {
            if (m_context.trigger)
                m_context.trigger();
        });
    }
}

bool HotKeyRegistration::isWaylandSession()
{
    // Qt on XWayland can grab keys only while one of its own windows has the focus.
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
           || qgetenv("XDG_SESSION_TYPE") == "wayland";
}

void HotKeyRegistration::registerHotKey(const std::optional<GlobalHotKey>& hotKey)
{
    m_hotKey = hotKey;
    if (m_context.portal) {
        if (hotKey)
            m_status.setPending();
        else
            m_status.setRegistered();
        m_context.portal->bind(hotKey);
        return;
    }
    if (!m_context.x11)
        return fail(hotkeys::HotKeyFailure::NoGlobalShortcuts, {});
    if (m_context.x11->registerHotKey(hotKey, m_context.trigger) || !hotKey)
        return m_status.setRegistered();
    fail(m_context.x11->failure(), {});
}

void HotKeyRegistration::fail(hotkeys::HotKeyFailure failure, const QString& detail)
{
    if (!m_hotKey)
        return;
    m_status.setNotRegistered(hotkeys::failureReason(failure, detail));
    const QString message = hotkeys::registrationFailedMessage(*m_hotKey, failure, detail);
    qWarning("%s", qPrintable(message));
    if (m_context.report)
        m_context.report(message);
}

} // namespace pallix
