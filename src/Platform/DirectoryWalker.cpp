#include "Platform/DirectoryWalker.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <climits>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace pallix {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

namespace {

constexpr int kOpenFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

double seconds(const struct statx_timestamp& t)
{
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

bool isUnderFolder(std::string_view path, std::string_view folder)
{
    return path == folder
        || (path.size() > folder.size() && path.substr(0, folder.size()) == folder && path[folder.size()] == '/');
}

// Magic numbers missing from <linux/magic.h> on older headers.
constexpr unsigned long kConfigFsMagic = 0x62656570;
constexpr unsigned long kFuseCtlMagic = 0x65735543;
constexpr unsigned long kMqueueMagic = 0x19800202;

bool isPseudoOrNetworkMagic(unsigned long magic)
{
    switch (magic) {
    case PROC_SUPER_MAGIC: case SYSFS_MAGIC: case DEVPTS_SUPER_MAGIC: case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC: case DEBUGFS_MAGIC: case TRACEFS_MAGIC: case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC: case BPF_FS_MAGIC: case kConfigFsMagic: case kFuseCtlMagic: case kMqueueMagic:
    case HUGETLBFS_MAGIC: case AUTOFS_SUPER_MAGIC: case BINFMTFS_MAGIC: case EFIVARFS_MAGIC:
    case NFS_SUPER_MAGIC: case SMB_SUPER_MAGIC: case CIFS_SUPER_MAGIC: case SMB2_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

// The file-system type name that /proc/self/mountinfo gives the mount with
// `mountId` (or, without one, the first mount of `device`). Empty when not found.
std::string mountedFileSystemType(std::optional<std::uint64_t> mountId, std::uint64_t device)
{
    std::ifstream in("/proc/self/mountinfo");
    const std::string deviceText = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, majorMinor;
        fields >> id >> parent >> majorMinor;
        const bool match = mountId ? id == std::to_string(*mountId) : majorMinor == deviceText;
        if (!match)
            continue;
        const auto dash = line.find(" - ");
        if (dash == std::string::npos)
            return {};
        std::istringstream tail(line.substr(dash + 3));
        std::string type;
        tail >> type;
        return type;
    }
    return {};
}

std::string fileSystemTypeOf(int dirFd)
{
    struct statx stx {};
    if (::statx(dirFd, "", AT_EMPTY_PATH, STATX_MNT_ID, &stx) != 0)
        return {};
    const std::uint64_t device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    std::optional<std::uint64_t> mountId;
    if (stx.stx_mask & STATX_MNT_ID)
        mountId = stx.stx_mnt_id;
    return mountedFileSystemType(mountId, device);
}

} // namespace

int readEntryStatus(int dirFd, const char* name, EntryStatus& out)
{
    struct statx stx {};
    constexpr unsigned mask = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME;
    if (::statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_SYNC_AS_STAT, mask, &stx) != 0)
        return errno;
    out.isDirectory = S_ISDIR(stx.stx_mode);
    out.isRegularFile = S_ISREG(stx.stx_mode);
    out.isAutomountTrigger = (stx.stx_attributes_mask & STATX_ATTR_AUTOMOUNT)
                          && (stx.stx_attributes & STATX_ATTR_AUTOMOUNT);
    out.mayBeMountRoot = !(stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
                      || (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    out.size = std::int64_t(stx.stx_size);
    out.modifiedAt = (stx.stx_mask & STATX_MTIME) ? std::optional(seconds(stx.stx_mtime)) : std::nullopt;
    out.createdAt = (stx.stx_mask & STATX_BTIME) ? std::optional(seconds(stx.stx_btime)) : std::nullopt;
    out.device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    out.inode = stx.stx_ino;
    return 0;
}

UniqueFd openDirectory(int dirFd, const char* name, int& error)
{
    const int fd = ::openat(dirFd, name, kOpenFolderFlags);
    error = fd < 0 ? errno : 0;
    return UniqueFd(fd);
}

namespace {

// Several levels below `dirFd` at once, refusing a link at any of them.
UniqueFd openNestedDirectory(int dirFd, const std::string& relative, int& error)
{
    struct open_how how {};
    how.flags = kOpenFolderFlags;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, dirFd, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS) {
        error = fd < 0 ? errno : 0;
        return UniqueFd(int(fd));
    }
    // Kernels before 5.6: one level at a time.
    UniqueFd current;
    std::size_t from = 0;
    while (from <= relative.size()) {
        const std::size_t slash = std::min(relative.find('/', from), relative.size());
        current = openDirectory(current.valid() ? current.get() : dirFd,
                                relative.substr(from, slash - from).c_str(), error);
        if (!current.valid())
            return {};
        from = slash + 1;
    }
    return current;
}

} // namespace

UniqueFd openDirectoryPath(int dirFd, std::string_view path, int& error)
{
    UniqueFd fd;
    int at = dirFd;
    bool first = true;
    while (!path.empty()) {
        std::size_t cut = path.size();
        if (path.size() >= PATH_MAX) {
            cut = path.rfind('/', PATH_MAX - 1);
            if (cut == std::string_view::npos || cut == 0) {
                error = ENAMETOOLONG;
                return {};
            }
        }
        const std::string piece(path.substr(0, cut));
        // An absolute path's first piece resolves the folders above the walk as usual.
        const bool nested = piece.find('/') != std::string::npos && !(first && dirFd == AT_FDCWD);
        fd = nested ? openNestedDirectory(at, piece, error) : openDirectory(at, piece.c_str(), error);
        if (!fd.valid())
            return {};
        at = fd.get();
        first = false;
        path.remove_prefix(std::min(path.size(), cut + 1));
    }
    if (first)
        error = ENOENT;
    return fd;
}

int DirectoryReader::forEach(const std::function<void(const char* name, unsigned char type)>& visit)
{
    // One 32 KiB read returns a few hundred entries: few system calls without
    // holding much memory per folder while several threads list at once.
    alignas(struct dirent64) std::array<char, 32 * 1024> buffer;
    for (;;) {
        const ssize_t n = ::getdents64(m_fd, buffer.data(), buffer.size());
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.data() + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            visit(name, entry->d_type);
        }
    }
}

bool isForeignFileSystem(int dirFd, std::string_view path)
{
    struct statfs fs {};
    if (::fstatfs(dirFd, &fs) != 0)
        return false;
    const auto magic = static_cast<unsigned long>(fs.f_type);
    if (isPseudoOrNetworkMagic(magic))
        return true;
    const bool underRunOrDev = isUnderFolder(path, "/run") || isUnderFolder(path, "/dev");
    if (magic == TMPFS_MAGIC || magic == RAMFS_MAGIC)
        return underRunOrDev || fileSystemTypeOf(dirFd) == "devtmpfs";
    if (magic == FUSE_SUPER_MAGIC)
        return fileSystemTypeOf(dirFd) == "fuse.sshfs";
    return false;
}

// Some file systems (older network ones) lack RENAME_NOREPLACE; a hard link
// then claims the new name as atomically, for files.
int renameWithoutReplacing(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EINVAL;
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    if (path.empty() || path.back() != '/')
        path += '/';
    path.append(name);
    return path;
}

} // namespace pallix
