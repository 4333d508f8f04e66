#pragma once
// SystemPaths: the one crossing between the index's stored paths (text, with
// the bytes of a name that is not UTF-8 escaped; Platform/FileNames.h) and
// what Qt and the desktop take. Qt's file classes read a QString path as
// UTF-8 and cannot name such bytes, so every action, preview and thumbnail
// goes through here: a file URL carries the real bytes percent-encoded, a
// file is opened by its bytes, and a name is shown with U+FFFD for each
// byte. Pure functions; any thread.

#include <string_view>

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace pallix::systempaths {

// The bytes the system knows the stored path by.
QByteArray bytes(const QString& stored);

// The text of a stored path or name, every character kept: what the
// clipboard and the rename field take. Drawn, it goes through
// shownnames::shown, which marks the characters that would disguise it.
QString display(const QString& stored);
QString display(std::string_view stored);

// A file URL of the stored path's real bytes.
QUrl url(const QString& stored);
QUrl url(std::string_view stored);

// The stored path of a local file URL (dropped, pasted); empty for any other URL.
QString fromUrl(const QUrl& url);

// The stored path of bytes the system gave.
QString fromBytes(const QByteArray& bytes);

// True when something is at the stored path (a link itself counts).
bool exists(std::string_view stored);

// A path Qt's file classes (QFileInfo, QFile, QImageReader, QMimeDatabase)
// and a helper program can open for a stored one, valid while this lives:
// the path itself when its bytes are UTF-8; else the entry is opened by its
// bytes (no link followed) and named by its /proc link. Its name then is not
// the entry's: take names from the stored path. Empty when the entry cannot
// be opened.
class PathForQt {
public:
    explicit PathForQt(const QString& stored);
    ~PathForQt();
    PathForQt(const PathForQt&) = delete;
    PathForQt& operator=(const PathForQt&) = delete;

    const QString& path() const { return m_path; }

private:
    int m_fd = -1;
    QString m_path;
};

} // namespace pallix::systempaths
