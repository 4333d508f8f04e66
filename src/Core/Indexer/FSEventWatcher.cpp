#include "Core/Indexer/FSEventWatcher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Core/Indexer/WatchTree.h"
#include "Core/Models/IndexedItem.h"
#include "Platform/DirectoryWalker.h"
#include "Platform/FileNames.h"

namespace pallix {

namespace {

constexpr std::uint32_t kChangeEvents =
    IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kFolderMask = kChangeEvents | IN_DONT_FOLLOW | IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr std::uint32_t kFileMask = kChangeEvents | IN_DONT_FOLLOW;

// The folder itself, not a link, for a path of any length.
bool isFolder(const std::string& path, EntryStatus& status)
{
    if (path.size() < PATH_MAX)
        return readEntryStatus(AT_FDCWD, path.c_str(), status) == 0 && status.isDirectory;
    const std::size_t slash = path.rfind('/');
    int error = 0;
    const UniqueFd parent = openDirectoryPath(AT_FDCWD, path.substr(0, slash), error);
    return parent.valid() && readEntryStatus(parent.get(), path.c_str() + slash + 1, status) == 0
           && status.isDirectory;
}

// The system's bytes of a standardised path handed in (stored form).
std::string systemPath(const std::string& path)
{
    return filenames::toFileSystem(paths::standardize(path));
}

} // namespace

// One inotify instance with its reading, delivering and re-watching threads.
// Inside, every path is the system's bytes; the paths handed out are their
// stored form.
// Its roots change in place: a start with the same exclusions adds and drops
// only the roots that differ, so the other roots' watches (and the changes
// they see meanwhile) are kept. The watch tree and the roots are shared under
// m_watchMutex, held per watch added, never across a folder listing; the
// pending list is shared under m_mutex.
class FSEventWatcher::Session {
public:
    Session(WatchRules rules, const Callback& callback, const Options& options)
        : m_callback(callback)
        , m_options(options)
        , m_rules(std::move(rules))
        , m_inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
        , m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        if (!valid())
            return;
        for (std::string& path : m_rules.excludedPaths)
            path = systemPath(path);
        m_reader = std::thread([this] { readLoop(); });
        m_deliverer = std::thread([this] { deliverLoop(); });
        m_rewatcher = std::thread([this] { rewatchLoop(); });
    }

    ~Session()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_pendingChanged.notify_all();
        m_stop.cancel();
        if (m_wake.valid()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(m_wake.get(), &one, sizeof one);
        }
        for (std::thread* thread : {&m_reader, &m_deliverer, &m_rewatcher})
            if (thread->joinable())
                thread->join();
    }

    bool valid() const { return m_inotify.valid() && m_wake.valid(); }

    // Whether a start with these rules can keep this session's watches: the
    // same trees left out, and no watch refused by the limit (those folders
    // would never be retried).
    bool canKeep(const WatchRules& rules) const
    {
        std::vector<std::string> excluded;
        for (const std::string& path : rules.excludedPaths)
            excluded.push_back(systemPath(path));
        return valid() && !m_limitReached.load() && excluded == m_rules.excludedPaths
               && rules.skipSystemJunk == m_rules.skipSystemJunk;
    }

    // Drops the watches of the roots no longer wanted and walks only the new
    // ones; says once if this start could not cover every folder.
    void setRoots(const std::vector<std::string>& roots, const std::vector<std::string>& firstFolders)
    {
        std::vector<std::string> added;
        std::vector<std::string> removed;
        {
            std::lock_guard lock(m_watchMutex);
            m_firstFolders.clear();
            for (const std::string& first : firstFolders)
                m_firstFolders.push_back(systemPath(first));
            for (const std::string& root : m_roots)
                if (std::find(roots.begin(), roots.end(), root) == roots.end())
                    removed.push_back(root);
            for (const std::string& root : roots)
                if (!m_rootSet.contains(root))
                    added.push_back(root);
            m_roots = roots;
            m_rootSet = {roots.begin(), roots.end()};
        }
        for (const std::string& root : removed) {
            if (underAny(root, roots))
                continue;  // still covered by a root above it
            unwatchTree(root);
            // Roots inside the dropped one lost their watches with it.
            for (const std::string& kept : roots)
                if (paths::isUnder(kept, root) && std::find(added.begin(), added.end(), kept) == added.end())
                    added.push_back(kept);
        }
        const std::size_t refusedBefore = m_unwatchable.load();
        watchRoots(added);
        const std::size_t refused = m_unwatchable.load() - refusedBefore;
        if (m_options.onShortfall && (m_limitReached.load() || refused > 0))
            m_options.onShortfall({watchCount(), m_limitReached.load(), refused});
    }

    std::size_t watchCount() const { return m_watchCount.load(std::memory_order_relaxed); }
    bool watchLimitReached() const { return m_limitReached.load(std::memory_order_relaxed); }

private:
    static bool underAny(const std::string& path, const std::vector<std::string>& roots)
    {
        return std::any_of(roots.begin(), roots.end(),
                           [&](const std::string& root) { return root != path && paths::isUnder(path, root); });
    }

    // The first folders that lie under one of `roots`, breadth-first each,
    // then the rest of those roots. A first folder is a top entry of the
    // table until the walk of its root reaches it and hangs it in its place.
    void watchRoots(const std::vector<std::string>& roots)
    {
        std::vector<std::string> firstFolders;
        {
            std::lock_guard lock(m_watchMutex);
            firstFolders = m_firstFolders;
        }
        std::unordered_set<std::string> done;
        for (const std::string& folder : firstFolders) {
            const bool underRoot = std::any_of(roots.begin(), roots.end(),
                                               [&](const std::string& root) { return paths::isUnder(folder, root); });
            if (underRoot && !isSkipped(folder) && done.insert(folder).second)
                watchFolderTree(folder, WatchTree::kTop);
        }
        for (const auto& root : roots) {
            struct stat st {};
            if (done.contains(root) || ::lstat(root.c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode))
                watchFolderTree(root, WatchTree::kTop);
            else
                addWatch(root, 0, WatchTree::kTop, kFileMask);
        }
    }

    std::vector<std::string> rootsNow()
    {
        std::lock_guard lock(m_watchMutex);
        return m_roots;
    }

    // Excluded by the user, or a junk tree: no watch, no report.
    bool isSkipped(std::string_view path) const
    {
        if (std::any_of(m_rules.excludedPaths.begin(), m_rules.excludedPaths.end(),
                        [&](const std::string& e) { return paths::isUnder(path, e); }))
            return true;
        // Asked of a path inside the folder: the junk rule's fragments and
        // prefixes name trees ("/.cache/", "/var/log/").
        return m_rules.skipSystemJunk
               && IndexedItem::shouldExcludeAsSystemOrJunk(std::string(path) + "/", "", "", false);
    }

    // Watches `folder` (the child of watch `parent`, or a top entry) and the
    // folders below it breadth-first, until the watch limit is met or the
    // session stops. Folders already watched with their subtrees are passed
    // over. One level of paths is held at a time, not one open descriptor per
    // level of depth.
    void watchFolderTree(const std::string& folder, int parent)
    {
        EntryStatus top;
        if (!isFolder(folder, top))
            return;
        const std::size_t nameAt = parent == WatchTree::kTop ? 0 : folder.rfind('/') + 1;
        std::deque<PendingFolder> queue{{folder, nameAt, top.device, parent}};
        // The folder listed last: a child of it opens below it, so a long
        // chain costs one open a level rather than one per piece of its path.
        UniqueFd fd;
        std::string fdPath;
        while (!queue.empty() && !m_stop.isCancelled()) {
            PendingFolder next = std::move(queue.front());
            queue.pop_front();
            int error = 0;
            const bool childOfLast = fd.valid() && next.path.size() > fdPath.size()
                                     && next.path.compare(0, fdPath.size(), fdPath) == 0
                                     && next.path[fdPath.size()] == '/'
                                     && next.path.find('/', fdPath.size() + 1) == std::string::npos;
            fd = childOfLast ? openDirectory(fd.get(), next.path.c_str() + fdPath.size() + 1, error)
                             : openDirectoryPath(AT_FDCWD, next.path, error);
            fdPath = next.path;
            if (!fd.valid()) {
                ++m_unwatchable;
                continue;
            }
            const Added added = addWatch(next.path, next.nameAt, next.parent, kFolderMask, fd.get());
            if (added.stop)
                return;
            if (added.descend)
                queueChildFolders(fd.get(), next.path, next.device, added.wd, queue);
        }
    }

    // A folder found by a walk, to be watched in its turn.
    struct PendingFolder {
        std::string path;
        std::size_t nameAt;  // where its own name starts in `path` (0 for a top entry)
        std::uint64_t device;
        int parent;  // the watch of the folder it was found in, or WatchTree::kTop
    };

    // Queues the subfolders of `folder` (open as `fd`, watched as `wd`) that
    // are to be watched: on its file system or a local one mounted there.
    void queueChildFolders(int fd, const std::string& folder, std::uint64_t device, int wd,
                           std::deque<PendingFolder>& queue)
    {
        if (m_options.onListFolder)
            m_options.onListFolder(folder);
        std::vector<std::string> names;
        DirectoryReader(fd).forEach([&](const char* name, unsigned char type) {
            if (type == DT_DIR || type == DT_UNKNOWN)
                names.emplace_back(name);
        });
        for (const std::string& name : names) {
            EntryStatus status;
            if (readEntryStatus(fd, name.c_str(), status) != 0 || !status.isDirectory || status.isAutomountTrigger)
                continue;
            std::string child = joinPath(folder, name);
            if (isSkipped(child))
                continue;
            if (status.device != device) {
                int error = 0;
                const UniqueFd childFd = openDirectory(fd, name.c_str(), error);
                if (!childFd.valid() || isForeignFileSystem(childFd.get(), child))
                    continue;
            }
            const std::size_t nameAt = child.size() - name.size();
            queue.push_back({std::move(child), nameAt, status.device, wd});
        }
    }

    // What adding one watch came to.
    struct Added {
        bool stop = false;     // no further watch can be added
        bool descend = false;  // the folder's subfolders are to be walked
        int wd = -1;
    };

    // Adds the watch of `path`, whose own name starts at `nameAt`, below the
    // watch `parent`. A path too long for the kernel is watched through the
    // open folder `fd`: its /proc link is followed on purpose, the folder
    // itself was opened without following one.
    Added addWatch(const std::string& path, std::size_t nameAt, int parent, std::uint32_t mask, int fd = -1)
    {
        std::lock_guard lock(m_watchMutex);
        if (m_limitReached.load(std::memory_order_relaxed))
            return {.stop = true};
        const bool throughFd = fd >= 0 && path.size() >= PATH_MAX;
        const std::string target = throughFd ? "/proc/self/fd/" + std::to_string(fd) : path;
        int wd = -1;
        if (m_options.watchLimit == 0 || m_tree.size() < m_options.watchLimit)
            wd = ::inotify_add_watch(m_inotify.get(), target.c_str(), throughFd ? mask & ~IN_DONT_FOLLOW : mask);
        else
            errno = ENOSPC;
        if (wd < 0) {
            // ENOSPC is the per-user watch limit: stop adding rather than fail,
            // and say so. Any other error only leaves this one folder out.
            if (errno == ENOSPC) {
                m_limitReached.store(true, std::memory_order_relaxed);
                return {.stop = true};
            }
            ++m_unwatchable;
            return {};
        }
        const WatchTree::Placement placed = m_tree.place(wd, parent, std::string_view(path).substr(nameAt));
        countLocked();
        switch (placed) {
        case WatchTree::Placement::Added:
        case WatchTree::Placement::Same:   // a walk after an overflow looks for new folders below
        case WatchTree::Placement::Moved:  // a move the reader has not seen yet, or a second mount of it
            return {.descend = true, .wd = wd};
        // A first folder walked already, or a folder moved within the tree:
        // its subtree came with it.
        case WatchTree::Placement::Attached:
        case WatchTree::Placement::Kept:
            return {.wd = wd};
        case WatchTree::Placement::Orphaned:
            // The folder above it went while it was listed.
            ::inotify_rm_watch(m_inotify.get(), wd);
            return {};
        }
        return {};
    }

    // Caller holds m_watchMutex.
    void countLocked() { m_watchCount.store(m_tree.size(), std::memory_order_relaxed); }

    // Caller holds m_watchMutex. `alreadyGone` is the watch the kernel dropped itself.
    void forgetLocked(const std::vector<int>& watches, int alreadyGone = -1)
    {
        for (const int wd : watches)
            if (wd != alreadyGone)
                ::inotify_rm_watch(m_inotify.get(), wd);
        countLocked();
    }

    // A root dropped: its watches would report under a path no longer wanted,
    // and so would those of first folders inside it that its walk did not reach.
    void unwatchTree(const std::string& folder)
    {
        std::lock_guard lock(m_watchMutex);
        forgetLocked(m_tree.removeTopsAt(folder));
    }

    // A watched folder moved away: its entry waits, with its subtree, for the
    // other half of the rename in this read. That one adds the folder's watch
    // again, the kernel answers with the same watch for the same folder, and
    // the entry is re-placed: the paths below it follow without a walk.
    void moveAway(const struct inotify_event& event)
    {
        std::lock_guard lock(m_watchMutex);
        if (const auto wd = m_tree.find(event.wd, event.name)) {
            m_tree.detach(*wd);
            m_movedAway.push_back(*wd);
        }
    }

    // Folders moved out of the tree (or into an excluded part of it) in the
    // read just handled: the rename had no other half here.
    void dropMovedAway()
    {
        std::lock_guard lock(m_watchMutex);
        for (const int wd : m_movedAway)
            if (m_tree.isDetached(wd))
                forgetLocked(m_tree.removeTree(wd));
        m_movedAway.clear();
    }

    void readLoop()
    {
        alignas(struct inotify_event) std::array<char, 64 * 1024> buffer;
        std::array<pollfd, 2> fds{{{m_inotify.get(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}}};
        for (;;) {
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents != 0)
                return;
            if (m_options.beforeRead)
                m_options.beforeRead();
            const ssize_t n = ::read(m_inotify.get(), buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return;
            }
            std::vector<std::string> changed;
            for (ssize_t offset = 0; offset < n;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer.data() + offset);
                offset += ssize_t(sizeof(struct inotify_event) + event->len);
                handle(*event, changed);
            }
            dropMovedAway();
            publish(std::move(changed));
        }
    }

    // The watched path of `wd` and whether it is a root; none once forgotten
    // or while moved away.
    std::optional<std::pair<std::string, bool>> watchedPath(const struct inotify_event& event)
    {
        std::lock_guard lock(m_watchMutex);
        if (!m_tree.contains(event.wd))
            return std::nullopt;
        if (event.mask & IN_IGNORED) {
            // The folder went (or its file system): whatever was below it went before it.
            forgetLocked(m_tree.removeTree(event.wd), event.wd);
            return std::nullopt;
        }
        std::optional<std::string> path = m_tree.path(event.wd);
        if (!path)
            return std::nullopt;
        const bool isRoot = m_rootSet.contains(*path);
        return std::pair{std::move(*path), isRoot};
    }

    void handle(const struct inotify_event& event, std::vector<std::string>& changed)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            // Changes were lost, folders created meanwhile among them: report the
            // roots so that the receiver resynchronises them, and have new
            // folders covered, away from this thread so that reading goes on.
            const std::vector<std::string> roots = rootsNow();
            changed.insert(changed.end(), roots.begin(), roots.end());
            requestRewatch();
            return;
        }
        const auto watched = watchedPath(event);
        if (!watched)
            return;
        const auto& [folder, isRoot] = *watched;
        if (event.len == 0 || event.name[0] == '\0') {
            // A folder's own change also reaches its parent's watch with its
            // name; only a root has no parent under watch.
            if (isRoot)
                changed.push_back(folder);
            return;
        }
        std::string path = joinPath(folder, event.name);
        // Churn in caches and logs would keep the receiver's batch from ever running.
        if (isSkipped(path))
            return;
        if (event.mask & IN_ISDIR) {
            if (event.mask & IN_MOVED_FROM)
                moveAway(event);
            // Added before the path is published: once the receiver hears of
            // the new folder, changes inside it are already being watched.
            if (event.mask & (IN_CREATE | IN_MOVED_TO))
                watchFolderTree(path, event.wd);
        }
        changed.push_back(std::move(path));
    }

    void requestRewatch()
    {
        {
            std::lock_guard lock(m_mutex);
            m_rewatchWanted = true;
        }
        m_pendingChanged.notify_all();
    }

    // One pass over the roots for however many overflows came before it starts.
    void rewatchLoop()
    {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_pendingChanged.wait(lock, [&] { return m_stopping || m_rewatchWanted; });
                if (m_stopping)
                    return;
            }
            if (m_options.beforeRewatch)
                m_options.beforeRewatch();
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping)
                    return;
                m_rewatchWanted = false;
            }
            watchRoots(rootsNow());
        }
    }

    void publish(std::vector<std::string> changed)
    {
        if (changed.empty())
            return;
        {
            std::lock_guard lock(m_mutex);
            // inotify reports every write of a file on its own; one mention
            // per run of the same path is what the receiver needs.
            for (auto& path : changed) {
                std::string stored = filenames::isStoredAsIs(path) ? std::move(path) : filenames::fromFileSystem(path);
                if (m_pending.empty() || m_pending.back() != stored)
                    m_pending.push_back(std::move(stored));
            }
        }
        m_pendingChanged.notify_all();
    }

    void deliverLoop()
    {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_pendingChanged.wait(lock, [&] { return m_stopping || !m_pending.empty(); });
                if (m_stopping)
                    return;
            }
            // Gather what arrives within the latency after the first change.
            m_options.clock->sleepFor(m_options.latency, &m_stop);
            std::vector<std::string> batch;
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping)
                    return;
                batch.swap(m_pending);
            }
            m_callback(std::move(batch));
        }
    }

    const Callback& m_callback;
    const Options& m_options;
    WatchRules m_rules;  // excluded paths standardised (the system's bytes) in the constructor, then constant
    UniqueFd m_inotify;
    UniqueFd m_wake;

    std::mutex m_watchMutex;
    std::vector<std::string> m_roots;
    std::unordered_set<std::string> m_rootSet;
    std::vector<std::string> m_firstFolders;  // standardised, the system's bytes
    WatchTree m_tree;
    std::vector<int> m_movedAway;  // folders moved away in the read being handled
    std::atomic<std::size_t> m_watchCount{0};
    std::atomic<bool> m_limitReached{false};
    std::atomic<std::size_t> m_unwatchable{0};

    std::mutex m_mutex;
    std::condition_variable m_pendingChanged;  // a pending change, a re-watch wanted, or stopping
    std::vector<std::string> m_pending;
    bool m_rewatchWanted = false;
    bool m_stopping = false;
    CancelToken m_stop;

    std::thread m_reader;
    std::thread m_deliverer;
    std::thread m_rewatcher;
};

FSEventWatcher::FSEventWatcher(Callback callback)
    : FSEventWatcher(std::move(callback), Options{})
{
}

FSEventWatcher::FSEventWatcher(Callback callback, Options options)
    : m_callback(std::move(callback)), m_options(std::move(options))
{
}

FSEventWatcher::~FSEventWatcher()
{
    m_session.reset();
}

void FSEventWatcher::start(const std::vector<std::string>& paths)
{
    start(paths, WatchRules{});
}

void FSEventWatcher::start(const std::vector<std::string>& paths, const WatchRules& rules)
{
    std::vector<std::string> kept;
    for (const auto& path : paths) {
        std::string standard = systemPath(path);
        struct stat st {};
        if (::lstat(standard.c_str(), &st) == 0 && std::find(kept.begin(), kept.end(), standard) == kept.end())
            kept.push_back(std::move(standard));
    }
    if (kept.empty()) {
        m_session.reset();
        return;
    }
    if (!m_session || !m_session->canKeep(rules)) {
        m_session.reset();
        m_session = std::make_unique<Session>(rules, m_callback, m_options);
    }
    m_session->setRoots(kept, rules.firstFolders);
}

bool FSEventWatcher::isWatching() const
{
    return m_session && m_session->watchCount() > 0;
}

std::size_t FSEventWatcher::watchCount() const
{
    return m_session ? m_session->watchCount() : 0;
}

bool FSEventWatcher::watchLimitReached() const
{
    return m_session && m_session->watchLimitReached();
}

} // namespace pallix
