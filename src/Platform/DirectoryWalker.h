#pragma once
// Directory primitives of the engine on Linux system calls: listings through
// getdents64, metadata through one statx per entry relative to the folder's
// descriptor, never following a symbolic link and never triggering an
// automount; plus the rule of which mounted file systems a walk does not enter.
// Everything here is reentrant; a DirectoryReader belongs to one thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pallix {

// An owned file descriptor, closed on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();

private:
    int m_fd = -1;
};

// Metadata of one entry as statx reports it for the entry itself (not a link's target).
struct EntryStatus {
    bool isDirectory = false;
    bool isRegularFile = false;
    bool isAutomountTrigger = false;             // a folder the kernel would mount something on
    bool mayBeMountRoot = true;                  // the top folder of a mount, or the kernel cannot tell
    std::int64_t size = 0;                       // st_size; meaningful for non-folders
    std::optional<double> modifiedAt;            // seconds since 1970, when the file system has it
    std::optional<double> createdAt;             // birth time, when the file system has it
    std::uint64_t device = 0;                    // makedev(major, minor) of the entry's file system
    std::uint64_t inode = 0;                     // with `device`, the entry's identity
};

// statx(dirFd, name) without following a link or automounting. Returns 0, or the errno.
// `dirFd` may be AT_FDCWD with an absolute `name`.
int readEntryStatus(int dirFd, const char* name, EntryStatus& out);

// Opens the folder `name` below `dirFd` (or an absolute path with AT_FDCWD) for
// listing; a symbolic link is refused (ENOTDIR or ELOOP). Returns the descriptor or sets `error`.
UniqueFd openDirectory(int dirFd, const char* name, int& error);

// Opens the folder `path` below `dirFd` (or an absolute path with AT_FDCWD)
// however long: a path past PATH_MAX is opened a piece at a time, each below
// the one before. Below `dirFd` and below an absolute path's first piece no
// symbolic link is followed, at any level. Returns the descriptor or sets `error`.
UniqueFd openDirectoryPath(int dirFd, std::string_view path, int& error);

// Reads one folder's entries in the kernel's order, "." and ".." left out.
class DirectoryReader {
public:
    explicit DirectoryReader(int dirFd) : m_fd(dirFd) {}

    // Calls visit(name, d_type) for every entry. Returns 0 at the end of the
    // listing, or the errno of a failed read (the entries before it were visited).
    int forEach(const std::function<void(const char* name, unsigned char type)>& visit);

private:
    int m_fd;
};

// True when a folder reached below a walk's root lies on a file system the walk
// must not enter: a pseudo file system (proc, sysfs, cgroup, ...), tmpfs under
// /run or /dev, or a network file system (nfs, cifs/smb, fuse.sshfs). `dirFd` is
// the open folder, `path` its path. Only asked when the folder's device differs
// from its parent's.
bool isForeignFileSystem(int dirFd, std::string_view path);

// Renames `from` to `to` (the system's bytes) unless `to` exists: 0 or an
// errno value. Where the file system lacks the no-replace rename, a hard link
// claims a file's name.
int renameWithoutReplacing(const std::string& from, const std::string& to);

// `folder` + "/" + `name`, for a standardised folder path ("/" has no second slash).
std::string joinPath(std::string_view folder, std::string_view name);

} // namespace pallix
