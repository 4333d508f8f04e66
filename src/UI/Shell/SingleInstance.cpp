#include "UI/Shell/SingleInstance.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>

namespace pallix {

namespace {

constexpr char kWordPrefix[] = "pallix";
constexpr qint64 kMaxLine = 256;

QByteArray requestLine(const QString& word)
{
    return QByteArray(kWordPrefix) + ' ' + QByteArray::number(SingleInstance::kProtocolVersion) + ' ' + word.toUtf8() +
           '\n';
}

QByteArray okLine()
{
    return QByteArray(kWordPrefix) + ' ' + QByteArray::number(SingleInstance::kProtocolVersion) + " ok\n";
}

enum class PathState { Free, OwnSocket, InTheWay };

// What lies at `path`: nothing, a socket of this user, or anything else (a
// folder, a file, another user's socket), which is never removed.
PathState stateOf(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT ? PathState::Free : PathState::InTheWay;
    if (S_ISSOCK(status.st_mode) && status.st_uid == ::geteuid())
        return PathState::OwnSocket;
    return PathState::InTheWay;
}

// Something accepts connections there. A connect to a stale socket file is
// refused at once; the kernel accepts for a live listener, frozen or not.
bool someoneListens(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}

} // namespace

SingleInstance::SingleInstance(QString folder, std::chrono::milliseconds answerTimeout, QObject* parent)
    : QObject(parent),
      m_folder(std::move(folder)),
      m_answerTimeout(answerTimeout),
      m_socketPath(m_folder + QStringLiteral("/pallix.socket"))
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    });
}

SingleInstance::~SingleInstance()
{
    if (m_server.isListening()) {
        m_server.close();  // removes the socket file
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);  // releases the lock
}

QString SingleInstance::defaultFolder()
{
    // The runtime folder is the user's own (0700), so no other user can answer.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::lockPath() const
{
    return m_folder + QStringLiteral("/pallix.lock");
}

bool SingleInstance::parseRequest(const QByteArray& line, int& version, QString& word)
{
    const QList<QByteArray> parts = line.trimmed().split(' ');
    if (parts.size() != 3 || parts[0] != kWordPrefix)
        return false;
    bool numeric = false;
    version = parts[1].toInt(&numeric);
    if (!numeric || parts[2].isEmpty())
        return false;
    for (const char c : parts[2])
        if (!((c >= 'a' && c <= 'z') || c == '-'))
            return false;
    word = QString::fromLatin1(parts[2]);
    return true;
}

void SingleInstance::answer(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxLine)
            socket->abort();  // not one of ours
        return;
    }
    const QByteArray line = socket->readLine(kMaxLine);
    int version = 0;
    QString word;
    if (!parseRequest(line, version, word) || version != kProtocolVersion) {
        socket->disconnectFromServer();
        return;
    }
    socket->write(okLine());
    socket->flush();
    socket->disconnectFromServer();
    emit messageReceived(word);
    if (word == QLatin1String("show"))
        emit activationRequested();
    else if (word == QLatin1String("toggle"))
        emit toggleRequested();
}

bool SingleInstance::tryLock()
{
    if (m_lockFd >= 0)
        return true;
    const int fd = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

QString SingleInstance::announcedSocketPath() const
{
    QFile lock(lockPath());
    if (lock.open(QIODevice::ReadOnly)) {
        const QString named = QFile::decodeName(lock.readLine(4096).trimmed());
        // Only a socket in our own folder: the file is ours, but be strict.
        if (!named.isEmpty() && named.startsWith(m_folder + QLatin1Char('/')) && !named.contains(QLatin1String("/../")))
            return named;
    }
    return m_folder + QStringLiteral("/pallix.socket");
}

void SingleInstance::announce()
{
    QFile lock(lockPath());
    if (lock.open(QIODevice::WriteOnly | QIODevice::Truncate))
        lock.write(QFile::encodeName(m_socketPath) + '\n');
}

SingleInstance::HandOver SingleInstance::handOver(const QString& word)
{
    if (tryLock())
        return HandOver::NoneRunning;
    const QDeadlineTimer deadline(m_answerTimeout);
    QLocalSocket socket;
    socket.connectToServer(announcedSocketPath());
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
        return HandOver::NotAnswering;
    socket.write(requestLine(word));
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return HandOver::NotAnswering;
    while (!socket.canReadLine()) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || socket.bytesAvailable() > kMaxLine || !socket.waitForReadyRead(static_cast<int>(left)))
            return HandOver::NotAnswering;
    }
    return socket.readLine(kMaxLine) == okLine() ? HandOver::HandedOver : HandOver::NotAnswering;
}

bool SingleInstance::listenOnFreePath()
{
    const QString standard = m_folder + QStringLiteral("/pallix.socket");
    const QString own = m_folder + QStringLiteral("/pallix-%1.socket").arg(::getpid());
    for (const QString& path : {standard, own}) {
        switch (stateOf(path)) {
        case PathState::InTheWay:
            continue;  // a folder, a file, another user's socket: left alone
        case PathState::OwnSocket:
            // A stale file of a crashed instance goes; a live socket is
            // another program's (no 珀溪 holds the lock) and stays.
            if (someoneListens(path))
                continue;
            if (!QFile::remove(path))
                continue;
            break;
        case PathState::Free:
            break;
        }
        if (m_server.listen(path)) {
            m_socketPath = path;
            announce();
            return true;
        }
    }
    return false;
}

bool SingleInstance::listen()
{
    if (!tryLock())
        return false;
    return m_server.isListening() || listenOnFreePath();
}

bool SingleInstance::startAnyway()
{
    if (m_server.isListening())
        return true;
    const QString taken = announcedSocketPath();
    // The unresponsive instance's own socket, named in the lock file.
    if (stateOf(taken) == PathState::OwnSocket && QFile::remove(taken) && m_server.listen(taken)) {
        m_socketPath = taken;
        announce();
        return true;
    }
    return listenOnFreePath();
}

} // namespace pallix
