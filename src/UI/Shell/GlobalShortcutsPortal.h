#pragma once
// GlobalShortcutsPortal: the global hot key under Wayland, where no program
// may grab keys. It asks the desktop through the xdg-desktop-portal
// interface org.freedesktop.portal.GlobalShortcuts (KDE Plasma 5.27+,
// GNOME 48+) to bind one shortcut, "toggle-search", with the stored key as
// the preferred trigger; the desktop may ask the user and may choose another
// key. Every call is asynchronous: the answers come as signals. GUI thread.

#include <functional>
#include <optional>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "Core/HotKey/HotKey.h"
#include "UI/Common/HotKeyMapping.h"

namespace pallix {

// One element of the interface's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);
using PortalShortcutList = QList<PortalShortcut>;

class GlobalShortcutsPortal : public QObject {
    Q_OBJECT

public:
    static constexpr char kInterface[] = "org.freedesktop.portal.GlobalShortcuts";
    static constexpr char kShortcutId[] = "toggle-search";

    explicit GlobalShortcutsPortal(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
    ~GlobalShortcutsPortal() override;

    // Binds `hotKey` in a new session (an earlier session is closed: a
    // session binds once); none closes the session and binds nothing.
    void bind(const std::optional<GlobalHotKey>& hotKey);

    // The trigger in the interface's notation: "CTRL+ALT+space", "LOGO+a".
    static QString preferredTrigger(const GlobalHotKey& hotKey);

signals:
    // The desktop bound the shortcut; `trigger` is its own description of the keys.
    void bound(const QString& trigger);
    void failed(hotkeys::HotKeyFailure failure, const QString& detail);
    void activated();

public slots:  // D-Bus delivers to public slots only
    // Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options).
    void onActivated(const QDBusMessage& signal);

private:
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                 std::function<void(uint, const QVariantMap&)> done);
    void createSession(const GlobalHotKey& hotKey, int generation);
    void bindShortcut(const GlobalHotKey& hotKey, int generation);
    void closeSession(const QString& session);

    QDBusConnection m_bus;
    QString m_session;     // the session's object path; empty when none
    int m_generation = 0;  // drops answers to a bind() that a later one replaced
};

} // namespace pallix

Q_DECLARE_METATYPE(pallix::PortalShortcut)
