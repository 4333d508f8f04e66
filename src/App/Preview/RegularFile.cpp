#include "App/Preview/RegularFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace pallix::RegularFile {

Type typeOfMode(unsigned mode)
{
    if (S_ISREG(mode))
        return Type::Regular;
    if (S_ISDIR(mode))
        return Type::Directory;
    if (S_ISLNK(mode))
        return Type::Link;
    if (S_ISFIFO(mode))
        return Type::Fifo;
    if (S_ISSOCK(mode))
        return Type::Socket;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return Type::Device;
    return Type::Other;
}

Type typeOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Type::Missing;
    return typeOfMode(st.st_mode);
}

bool isSpecial(Type type)
{
    return type == Type::Fifo || type == Type::Socket || type == Type::Device || type == Type::Other;
}

namespace {

// What a special type is called and which shared MIME type shows its icon.
struct Naming {
    const char16_t* name = u"";
    const char16_t* mime = u"";
};

Naming naming(Type type)
{
    switch (type) {
    case Type::Fifo:
        return {u"命名管道", u"inode/fifo"};
    case Type::Socket:
        return {u"套接字", u"inode/socket"};
    case Type::Device:
        return {u"设备文件", u"inode/chardevice"};
    case Type::Other:
        return {u"特殊文件", u"application/octet-stream"};
    case Type::Regular:
    case Type::Directory:
    case Type::Link:
    case Type::Missing:
    case Type::Count:
        break;
    }
    return {};
}

} // namespace

QString typeName(Type type)
{
    return QString::fromUtf16(naming(type).name);
}

QString mimeTypeName(Type type)
{
    return QString::fromUtf16(naming(type).mime);
}

int openForReading(const std::string& path, Type* type, Links links)
{
    struct stat st {};
    const int statResult = links == Links::Follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (statResult != 0) {
        if (type)
            *type = Type::Missing;
        return -1;
    }
    Type found = typeOfMode(st.st_mode);
    if (type)
        *type = found;
    // The first check keeps a device from being opened at all: opening one
    // can have effects of its own (a tape rewinds, a terminal is taken).
    if (found != Type::Regular) {
        errno = found == Type::Link ? ELOOP : EINVAL;
        return -1;
    }
    const int noFollow = links == Links::Refuse ? O_NOFOLLOW : 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | noFollow);
    if (fd < 0)
        return -1;
    found = ::fstat(fd, &st) == 0 ? typeOfMode(st.st_mode) : Type::Missing;
    if (type)
        *type = found;
    if (found != Type::Regular) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Reads of a regular file never wait on a writer; the flag goes so that
    // whoever reads sees an ordinary descriptor.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool open(QFile& file, const QString& path, Type* type)
{
    const int fd = openForReading(QFile::encodeName(path).toStdString(), type);
    if (fd < 0)
        return false;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

} // namespace pallix::RegularFile
