#pragma once
// RegularFile: the one check every reader of file content makes before it
// reads. Only a regular file is opened; a named pipe, a socket or a device
// (also one reached through a symbolic link) is named instead, since opening
// or reading one can wait for ever (a pipe without a writer) or never end
// (/dev/zero). The open itself never waits either: it is made with
// O_NONBLOCK and the type is checked again on the descriptor, so a file
// swapped for a pipe after the first check is refused, not waited on.
// Stateless; any thread.

#include <string>

#include <QString>

class QFile;

namespace pallix::RegularFile {

enum class Type { Regular, Directory, Link, Fifo, Socket, Device, Other, Missing, Count };

// The type of what `path` leads to, symbolic links followed; Missing when it
// cannot be read (no such entry, a dangling link, no permission).
Type typeOf(const std::string& path);
// The type an lstat() or a directory entry's mode gives (Link for a link).
Type typeOfMode(unsigned mode);
// A pipe, a socket, a device or another non-file, non-folder entry.
bool isSpecial(Type type);
// What the user reads for a special type: "命名管道", "套接字", "设备文件",
// "特殊文件"; empty for the others.
QString typeName(Type type);
// The shared MIME type name of a special type ("inode/fifo"...); empty for the others.
QString mimeTypeName(Type type);

enum class Links { Follow, Refuse };

// A read-only descriptor (close-on-exec, blocking again once the type is
// known) of the regular file at `path`, or -1 with errno set (EINVAL for an
// entry that is no regular file). `type`, when given, tells what was found
// there. With Links::Refuse a symbolic link is not followed and fails (ELOOP).
int openForReading(const std::string& path, Type* type = nullptr, Links links = Links::Follow);
// openForReading() into `file` (which owns the descriptor then). The file
// keeps no name, so callers that want the extension take it from the path.
bool open(QFile& file, const QString& path, Type* type = nullptr);

} // namespace pallix::RegularFile
