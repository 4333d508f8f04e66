#include "UI/Common/PortalRequest.h"

#include <atomic>
#include <utility>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

namespace pallix::portal {

namespace {

constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";

} // namespace

// Listens for one Response on a Request object's path.
class ResponseListener : public QObject {
    Q_OBJECT

public:
    ResponseListener(QDBusConnection bus, std::function<void(uint, const QVariantMap&)> done, QObject* context)
        : QObject(context), m_bus(std::move(bus)), m_done(std::move(done))
    {
    }
    void listen(const QString& path)
    {
        if (!m_path.isEmpty())
            m_bus.disconnect(QString::fromLatin1(kService), m_path, QString::fromLatin1(kRequestInterface),
                             QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
        m_path = path;
        m_bus.connect(QString::fromLatin1(kService), path, QString::fromLatin1(kRequestInterface),
                      QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
    }
    const QString& path() const { return m_path; }
    void finish() { deleteLater(); }

public slots:
    void response(uint code, const QVariantMap& results)
    {
        if (!m_done)
            return;
        auto done = std::exchange(m_done, nullptr);
        deleteLater();
        done(code, results);
    }

private:
    QDBusConnection m_bus;
    QString m_path;
    std::function<void(uint, const QVariantMap&)> m_done;
};

QString nextToken()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("pallix%1").arg(++counter);
}

bool meansNoService(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownObject:
    case QDBusError::Disconnected: return true;
    default: return false;
    }
}

void request(const QDBusConnection& bus, const QString& interface, const QString& method, QList<QVariant> arguments,
             QVariantMap options, QObject* context, Answer answer)
{
    if (!bus.isConnected()) {
        if (answer.error)
            answer.error(QDBusError(QDBusError::Disconnected, QStringLiteral("no session bus")));
        return;
    }
    const QString token = nextToken();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    // Listen before calling: the desktop may answer before the call returns.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QPointer<ResponseListener> listener = new ResponseListener(bus, std::move(answer.response), context);
    listener->listen(QStringLiteral("%1/request/%2/%3").arg(QLatin1String(kPath), sender, token));

    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath), interface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, listener, error = std::move(answer.error)] {
                         watcher->deleteLater();
                         const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
                         if (reply.isError()) {
                             if (listener)
                                 listener->finish();
                             if (error)
                                 error(reply.error());
                             return;
                         }
                         // An older portal names the request differently: follow its own path.
                         if (listener && reply.value().path() != listener->path())
                             listener->listen(reply.value().path());
                     });
}

} // namespace pallix::portal

#include "PortalRequest.moc"
