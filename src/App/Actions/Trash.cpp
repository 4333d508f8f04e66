#include "App/Actions/Trash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "App/Actions/FileOperations.h"
#include "Core/Models/IndexedItem.h"

namespace pallix::Trash {

namespace {

using Result = Expected<std::string, FileActionError>;

constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr std::size_t kMaxNameBytes = 255;
// Names tried before giving up: each try is one O_EXCL open.
constexpr int kMaxAttempts = 200;

Unexpected<FileActionError> failure(int error)
{
    return Unexpected<FileActionError>(FileActionError::fromErrno(error));
}

// The first `bytes` bytes of `text` or fewer, ending between UTF-8 characters.
std::string_view utf8Prefix(std::string_view text, std::size_t bytes)
{
    if (text.size() <= bytes)
        return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
        --bytes;
    return text.substr(0, bytes);
}

// Percent-encoded as the trash records want: every byte but the unreserved
// ones and "/".
std::string encodedPath(std::string_view path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || c == '-' || c == '_'
            || c == '.' || c == '~' || c == '/') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

std::string localTimestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    ::localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

// The device of `path`, or of its nearest existing ancestor.
bool deviceOf(std::string path, dev_t& device)
{
    struct stat st {};
    for (;;) {
        if (::stat(path.c_str(), &st) == 0) {
            device = st.st_dev;
            return true;
        }
        if (path.empty() || path == "/")
            return false;
        path = std::string(paths::deletingLastComponent(path));
    }
}

int makeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return errno;
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }
    return errno;
}

int makeFolders(const std::string& path)
{
    const std::string_view parent = paths::deletingLastComponent(path);
    if (parent != path && !parent.empty() && parent != "/") {
        struct stat st {};
        if (::lstat(std::string(parent).c_str(), &st) != 0)
            if (const int error = makeFolders(std::string(parent)))
                return error;
    }
    return makeFolder(path);
}

// The trash folder's "files" and "info" made, or why not.
int prepared(const std::string& trash, bool makeParents)
{
    if (const int error = makeParents ? makeFolders(trash) : makeFolder(trash))
        return error;
    if (const int error = makeFolder(trash + "/files"))
        return error;
    return makeFolder(trash + "/info");
}

// The top folder of the file system holding `path`: the last ancestor on its device.
std::string mountTop(const std::string& path, dev_t device)
{
    std::string top = path;
    for (;;) {
        const std::string parent(paths::deletingLastComponent(top));
        struct stat st {};
        if (parent == top || parent.empty() || ::stat(parent.c_str(), &st) != 0 || st.st_dev != device)
            return top;
        top = parent;
    }
}

// The trash of the disk holding an item that is not on the home trash's disk.
Expected<std::string, int> diskTrash(const std::string& path, dev_t device)
{
    const std::string top = mountTop(std::string(paths::deletingLastComponent(path)), device);
    const std::string base = top == "/" ? std::string() : top;
    const std::string uid = std::to_string(::getuid());
    // A shared ".Trash" counts only as a real sticky folder, never a link.
    struct stat st {};
    if (::lstat((base + "/.Trash").c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))
        if (prepared(base + "/.Trash/" + uid, false) == 0)
            return base + "/.Trash/" + uid;
    const std::string own = base + "/.Trash-" + uid;
    if (const int error = prepared(own, false))
        return Unexpected<int>(error);
    return own;
}

} // namespace

std::string homeTrashFolder()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/Trash";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + "/.local/share/Trash";
}

std::string trashedName(const std::string& name, int attempt)
{
    const std::string suffix = attempt <= 1 ? std::string() : " " + std::to_string(attempt);
    std::string_view ext = paths::extension(name);
    if (ext.size() + 1 > kMaxNameBytes / 4)
        ext = {};  // so long an "extension" gives way like the rest of the name
    const std::string_view stem = std::string_view(name).substr(0, ext.empty() ? name.size() : name.size() - ext.size() - 1);
    const std::string tail = suffix + (ext.empty() ? std::string() : "." + std::string(ext));
    return std::string(utf8Prefix(stem, kMaxNameBytes - kInfoSuffix.size() - tail.size())) + tail;
}

Result moveToTrash(const std::string& path, const std::string& homeTrash)
{
    struct stat item {};
    if (::lstat(path.c_str(), &item) != 0)
        return Unexpected<FileActionError>(errno == ENOENT ? FileActionError::fileMissing()
                                                           : FileActionError::fromErrno(errno));
    dev_t homeDevice = 0;
    std::string trash;
    if (deviceOf(homeTrash, homeDevice) && homeDevice == item.st_dev) {
        if (const int error = prepared(homeTrash, true))
            return failure(error);
        trash = homeTrash;
    } else {
        auto own = diskTrash(path, item.st_dev);
        if (!own)
            return failure(own.error());
        trash = *own;
    }
    // The trash must not swallow itself or a folder holding it.
    if (paths::isUnder(trash, path))
        return failure(EINVAL);

    const std::string name(paths::lastComponent(path));
    const std::string record = "[Trash Info]\nPath=" + encodedPath(path) + "\nDeletionDate=" + localTimestamp() + "\n";
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        const std::string trashed = trashedName(name, attempt);
        const std::string info = trash + "/info/" + trashed + std::string(kInfoSuffix);
        const int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return failure(errno);
        }
        bool written = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
        const int writeError = written ? 0 : (errno ? errno : EIO);
        if (::close(fd) != 0 && written) {
            written = false;
        }
        if (!written) {
            ::unlink(info.c_str());
            return failure(writeError ? writeError : EIO);
        }
        const std::string target = trash + "/files/" + trashed;
        if (const int error = FileOperations::renameNoReplace(path, target)) {
            ::unlink(info.c_str());
            if (error == EEXIST || error == ENOTEMPTY)
                continue;
            return failure(error);
        }
        return target;
    }
    return failure(EEXIST);
}

} // namespace pallix::Trash
