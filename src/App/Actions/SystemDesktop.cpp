#include "App/Actions/SystemDesktop.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>

namespace pallix {

void SystemDesktop::openUrl(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

void SystemDesktop::revealInFileManager(const QUrl& file)
{
    // Taken from the URL itself: a name that is not UTF-8 keeps its bytes.
    const QUrl parent = file.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromUtf8(file.toEncoded())} << QString();
    // Asynchronous: a file manager that is slow to start must not hold the
    // window; without a session bus or a file manager the folder opens instead.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(parent);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [parent](QDBusPendingCallWatcher* w) {
        if (w->isError())
            QDesktopServices::openUrl(parent);
        w->deleteLater();
    });
}

void SystemDesktop::setClipboard(QMimeData* data)
{
    QGuiApplication::clipboard()->setMimeData(data);
}

void SystemDesktop::alert(const QString&, const QString&) {}

void SystemDesktop::confirm(const ConfirmationRequest&, std::function<void(bool)> answer)
{
    answer(false);
}

} // namespace pallix
