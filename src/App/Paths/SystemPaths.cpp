#include "App/Paths/SystemPaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/FileNames.h"

namespace pallix::systempaths {

QByteArray bytes(const QString& stored)
{
    const QByteArray text = stored.toUtf8();
    if (!filenames::hasEscapes(std::string_view(text.constData(), std::size_t(text.size()))))
        return text;
    const std::string raw = filenames::toFileSystem(std::string_view(text.constData(), std::size_t(text.size())));
    return QByteArray(raw.data(), qsizetype(raw.size()));
}

QString display(std::string_view stored)
{
    return QString::fromStdString(filenames::displayForm(stored));
}

QString display(const QString& stored)
{
    const QByteArray text = stored.toUtf8();
    const std::string_view view(text.constData(), std::size_t(text.size()));
    return filenames::hasEscapes(view) ? display(view) : stored;
}

QUrl url(const QString& stored)
{
    const QByteArray raw = bytes(stored);
    if (raw == stored.toUtf8())
        return QUrl::fromLocalFile(stored);
    // Percent-encoded, the bytes pass through QUrl as they are; decoding them
    // into a QString would turn each into U+FFFD.
    QUrl result;
    result.setScheme(QStringLiteral("file"));
    result.setPath(QString::fromLatin1(raw.toPercentEncoding("/")), QUrl::TolerantMode);
    return result;
}

QUrl url(std::string_view stored)
{
    return url(QString::fromUtf8(stored.data(), qsizetype(stored.size())));
}

QString fromBytes(const QByteArray& raw)
{
    return QString::fromStdString(filenames::fromFileSystem(std::string_view(raw.constData(), std::size_t(raw.size()))));
}

QString fromUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return {};
    return fromBytes(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

bool exists(std::string_view stored)
{
    struct stat st {};
    return ::lstat(filenames::toFileSystem(stored).c_str(), &st) == 0;
}

PathForQt::PathForQt(const QString& stored)
{
    const QByteArray raw = bytes(stored);
    if (raw == stored.toUtf8()) {
        m_path = stored;
        return;
    }
    // By the parent's process id, not "self": a helper program started
    // meanwhile reads the same link.
    m_fd = ::open(raw.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd >= 0)
        m_path = QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(m_fd);
}

PathForQt::~PathForQt()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace pallix::systempaths
