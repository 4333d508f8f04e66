#include "UI/Shell/SingleInstance.h"

#include <QLocalSocket>
#include <QStandardPaths>

namespace pallix {

namespace {

constexpr int kHandOverTimeoutMs = 1000;
constexpr char kShowRequest[] = "show\n";
constexpr char kToggleRequest[] = "toggle\n";

} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), m_socketPath(std::move(socketPath))
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                const QByteArray request = socket->readAll();
                if (request.contains(kToggleRequest))
                    emit toggleRequested();
                else if (request.contains('\n'))
                    emit activationRequested();
            });
        }
    });
}

QString SingleInstance::defaultSocketPath()
{
    // The runtime folder is the user's own (0700), so no other user can answer.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/pallix.socket");
}

bool SingleInstance::handOver(Request request) const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(kHandOverTimeoutMs))
        return false;
    socket.write(request == Request::Toggle ? kToggleRequest : kShowRequest);
    const bool sent = socket.waitForBytesWritten(kHandOverTimeoutMs);
    socket.disconnectFromServer();
    return sent;
}

bool SingleInstance::listen()
{
    if (m_server.listen(m_socketPath))
        return true;
    // A socket nobody answers on is a crashed instance's; a live one stays.
    QLocalSocket probe;
    probe.connectToServer(m_socketPath);
    if (probe.waitForConnected(kHandOverTimeoutMs))
        return false;
    QLocalServer::removeServer(m_socketPath);
    return m_server.listen(m_socketPath);
}

} // namespace pallix
