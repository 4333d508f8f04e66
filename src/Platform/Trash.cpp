#include "Platform/Trash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/DirectoryWalker.h"

namespace pallix::trash {

namespace {

// A trash folder chosen for one entry, and how its info file names the entry.
struct Place {
    std::string folder;    // holds "files" and "info"
    std::string infoPath;  // absolute in the home trash, else below the mount's top
};

std::string parentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// Makes the folder (0700) unless it is there; 0 or the errno.
int makeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0)
        return 0;
    if (errno != EEXIST)
        return errno;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int makeFolders(const std::string& path)
{
    if (path.empty() || path == "/")
        return 0;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (const int error = makeFolders(parentOf(path)))
        return error;
    return makeFolder(path);
}

std::optional<dev_t> deviceOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return st.st_dev;
}

// The highest folder above `path` on the same file system: its mount's top.
std::string mountTop(const std::string& path, dev_t device)
{
    std::string top = parentOf(path);
    while (top != "/") {
        const std::string up = parentOf(top);
        if (deviceOf(up) != device)
            break;
        top = up;
    }
    return top;
}

// The trash below a mount's top that the entry may use, made if needed.
std::optional<std::string> topTrash(const std::string& top)
{
    const std::string uid = std::to_string(::getuid());
    const std::string base = top == "/" ? std::string() : top;
    struct stat st {};
    // An administrator's shared ".Trash" counts only when sticky and no link.
    const std::string shared = base + "/.Trash";
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        if (makeFolder(shared + "/" + uid) == 0)
            return shared + "/" + uid;
    }
    const std::string own = base + "/.Trash-" + uid;
    if (makeFolder(own) != 0 || ::lstat(own.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return std::nullopt;
    return own;
}

std::optional<Place> placeFor(const std::string& path, dev_t device, int& error)
{
    const std::string home = homeTrash();
    if (!home.empty() && makeFolders(home) == 0 && deviceOf(home) == device)
        return Place{home, path};
    const std::string top = mountTop(path, device);
    if (auto folder = topTrash(top))
        return Place{*folder, top == "/" ? path.substr(1) : path.substr(top.size() + 1)};
    error = EXDEV;  // no trash on the entry's file system: it cannot go without a copy
    return std::nullopt;
}

std::string deletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool writeAll(int fd, const std::string& data)
{
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno != EINTR)
            return false;
        done += n < 0 ? 0 : std::size_t(n);
    }
    return true;
}

} // namespace

std::string homeTrash()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return std::string(data) + "/Trash";
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::string(home) + "/.local/share/Trash";
    return {};
}

std::string encodedInfoPath(const std::string& path)
{
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
            || c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0xF]);
        }
    }
    return out;
}

int moveToTrash(const std::string& path)
{
    struct stat st {};
    if (path.empty() || path[0] != '/' || path == "/")
        return EINVAL;
    if (::lstat(path.c_str(), &st) != 0)
        return errno;
    int error = 0;
    const std::optional<Place> place = placeFor(path, st.st_dev, error);
    if (!place)
        return error;
    const std::string files = place->folder + "/files";
    const std::string info = place->folder + "/info";
    for (const std::string& folder : {files, info})
        if (const int made = makeFolder(folder))
            return made;
    const std::string contents = "[Trash Info]\nPath=" + encodedInfoPath(place->infoPath)
                                 + "\nDeletionDate=" + deletionDate() + "\n";
    const std::string name = path.substr(path.rfind('/') + 1);
    constexpr int kMaxAttempts = 10000;
    for (int n = 1; n <= kMaxAttempts; ++n) {
        const std::string trashed = n == 1 ? name : name + "." + std::to_string(n);
        // The info file claims the name first, so two programs trashing the
        // same name at once never share one.
        const std::string infoFile = info + "/" + trashed + ".trashinfo";
        const int fd = ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        const bool written = writeAll(fd, contents);
        const int closed = ::close(fd);
        if (!written || closed != 0) {
            const int failed = errno;
            ::unlink(infoFile.c_str());
            return failed;
        }
        const int moved = renameWithoutReplacing(path, files + "/" + trashed);
        if (moved == 0)
            return 0;
        ::unlink(infoFile.c_str());
        if (moved != EEXIST && moved != ENOTEMPTY)
            return moved;
    }
    return EEXIST;
}

} // namespace pallix::trash
