// pallix-fanotify-probe: what this kernel lets root and an unprivileged user
// do with fanotify, beside inotify, on one tree: which marks are allowed, and
// the time and kernel memory (Slab in /proc/meminfo) of one watch or mark per
// folder. Runs alternate between the two interfaces; the unprivileged side
// runs in a child process that drops to uid/gid 65534.
//
// usage: pallix-fanotify-probe DIR [RUNS]

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr unsigned kEvents = FAN_CREATE | FAN_DELETE | FAN_MOVED_FROM | FAN_MOVED_TO | FAN_MODIFY | FAN_ATTRIB
                             | FAN_DELETE_SELF | FAN_MOVE_SELF;

long meminfoKiB(const char* field)
{
    std::ifstream in("/proc/meminfo");
    std::string name;
    long value = 0;
    std::string unit;
    while (in >> name >> value >> unit)
        if (name == std::string(field) + ":")
            return value;
    return -1;
}

std::string readFile(const char* path)
{
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text.empty() ? "(none)" : text;
}

std::vector<std::string> foldersOf(const std::string& root)
{
    std::vector<std::string> folders{root};
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            folders.push_back(it->path().string());
    return folders;
}

const char* outcome(int rc) { return rc == 0 ? "allowed" : std::strerror(errno); }

// Which fanotify calls this identity may make.
void probeAbilities(const std::string& root)
{
    const int fan = fanotify_init(FAN_CLASS_NOTIF | FAN_REPORT_DFID_NAME | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
    std::printf("  fanotify_init(FAN_REPORT_DFID_NAME): %s\n", fan >= 0 ? "allowed" : std::strerror(errno));
    if (fan < 0)
        return;
    std::printf("  inode mark on a folder, FAN_EVENT_ON_CHILD: %s\n",
                outcome(fanotify_mark(fan, FAN_MARK_ADD, kEvents | FAN_EVENT_ON_CHILD | FAN_ONDIR, AT_FDCWD,
                                      root.c_str())));
    std::printf("  mount mark (FAN_MARK_MOUNT, create/delete/move): %s\n",
                outcome(fanotify_mark(fan, FAN_MARK_ADD | FAN_MARK_MOUNT, FAN_CREATE | FAN_DELETE | FAN_ONDIR,
                                      AT_FDCWD, root.c_str())));
    std::printf("  whole-filesystem mark (FAN_MARK_FILESYSTEM): %s\n",
                outcome(fanotify_mark(fan, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, kEvents | FAN_ONDIR, AT_FDCWD,
                                      root.c_str())));
    // An event names its folder by a file handle: turning one back into an
    // open folder (and so a path) takes open_by_handle_at.
    struct {
        file_handle head;
        unsigned char bytes[128];
    } handle{};
    handle.head.handle_bytes = sizeof handle.bytes;
    int mountId = 0;
    const int named = name_to_handle_at(AT_FDCWD, root.c_str(), &handle.head, &mountId, 0);
    std::printf("  name_to_handle_at on a folder: %s\n", outcome(named));
    const int mountFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    const int opened = named == 0 ? open_by_handle_at(mountFd, &handle.head, O_RDONLY) : -1;
    std::printf("  open_by_handle_at (a handle back to its folder): %s\n",
                opened >= 0 ? "allowed" : std::strerror(errno));
    if (opened >= 0)
        ::close(opened);
    ::close(mountFd);
    ::close(fan);
}

struct Placement {
    double ms = 0;
    long slabKiB = 0;
    std::size_t placed = 0;
    int firstErrno = 0;
};

// One watch (inotify) or one inode mark (fanotify) per folder; the Slab growth
// is read while they are all in place, then they are dropped with the instance.
Placement place(bool fanotify, const std::vector<std::string>& folders)
{
    Placement p;
    ::sync();
    const long slabBefore = meminfoKiB("Slab");
    const auto start = std::chrono::steady_clock::now();
    const int fd = fanotify ? fanotify_init(FAN_CLASS_NOTIF | FAN_REPORT_DFID_NAME | FAN_CLOEXEC, O_RDONLY)
                            : inotify_init1(IN_CLOEXEC);
    if (fd < 0) {
        p.firstErrno = errno;
        return p;
    }
    for (const std::string& folder : folders) {
        const int rc = fanotify
                           ? fanotify_mark(fd, FAN_MARK_ADD | FAN_MARK_ONLYDIR | FAN_MARK_DONT_FOLLOW,
                                           kEvents | FAN_EVENT_ON_CHILD | FAN_ONDIR, AT_FDCWD, folder.c_str())
                           : inotify_add_watch(fd, folder.c_str(),
                                               IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM
                                                   | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR
                                                   | IN_DONT_FOLLOW | IN_EXCL_UNLINK);
        if (rc < 0) {
            p.firstErrno = p.firstErrno ? p.firstErrno : errno;
            if (errno == ENOSPC)
                break;
            continue;
        }
        ++p.placed;
    }
    p.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    p.slabKiB = meminfoKiB("Slab") - slabBefore;
    ::close(fd);
    return p;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void measure(const char* who, const std::string& root, int runs)
{
    std::printf("%s (uid %d):\n", who, int(::getuid()));
    probeAbilities(root);
    const std::vector<std::string> folders = foldersOf(root);
    std::vector<double> ms[2], slab[2];
    for (int run = 0; run < runs; ++run) {
        for (int fan = 0; fan < 2; ++fan) {
            const Placement p = place(fan == 1, folders);
            std::printf("  run %d %-8s %6zu of %zu folders  %8.1f ms  Slab %+7ld KiB  %s\n", run + 1,
                        fan ? "fanotify" : "inotify", p.placed, folders.size(), p.ms, p.slabKiB,
                        p.firstErrno ? std::strerror(p.firstErrno) : "");
            ms[fan].push_back(p.ms);
            slab[fan].push_back(double(p.slabKiB));
        }
    }
    for (int fan = 0; fan < 2; ++fan)
        std::printf("  median %-8s %8.1f ms  Slab %+8.0f KiB  (%.0f bytes a folder)\n", fan ? "fanotify" : "inotify",
                    median(ms[fan]), median(slab[fan]), median(slab[fan]) * 1024 / double(folders.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: pallix-fanotify-probe DIR [RUNS]\n");
        return 2;
    }
    const std::string root = std::filesystem::absolute(argv[1]).string();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::printf("limits: fs.inotify.max_user_watches %s, fs.fanotify.max_user_marks %s, "
                "fs.fanotify.max_user_groups %s\n",
                readFile("/proc/sys/fs/inotify/max_user_watches").c_str(),
                readFile("/proc/sys/fs/fanotify/max_user_marks").c_str(),
                readFile("/proc/sys/fs/fanotify/max_user_groups").c_str());
    std::fflush(stdout);
    if (::getuid() == 0) {
        measure("root", root, runs);
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
                std::perror("dropping to uid 65534");
                _exit(1);
            }
            measure("unprivileged", root, runs);
            std::fflush(stdout);
            _exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
    } else {
        measure("unprivileged", root, runs);
    }
    return 0;
}
