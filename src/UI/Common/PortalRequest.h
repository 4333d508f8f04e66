#pragma once
// PortalRequest: one call to the desktop portal (xdg-desktop-portal) in its
// request pattern: the call names a handle token, returns the path of a
// Request object at once, and the answer comes later as that object's
// Response signal (0 success, 1 cancelled by the user, 2 other). GUI thread.

#include <functional>

#include <QDBusConnection>
#include <QDBusError>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace pallix::portal {

inline constexpr char kService[] = "org.freedesktop.portal.Desktop";
inline constexpr char kPath[] = "/org/freedesktop/portal/desktop";

struct Answer {
    std::function<void(uint code, const QVariantMap& results)> response;
    std::function<void(const QDBusError& error)> error;  // the call itself failed
};

// Calls `interface`.`method` with `arguments` followed by `options`, to
// which the handle token is added. Exactly one of the answers runs, unless
// `context` goes first.
void request(const QDBusConnection& bus, const QString& interface, const QString& method, QList<QVariant> arguments,
             QVariantMap options, QObject* context, Answer answer);

// An error that means the desktop has no such portal at all.
bool meansNoService(const QDBusError& error);

// A fresh token for a request or a session handle.
QString nextToken();

} // namespace pallix::portal
