#include "Core/Indexer/FSEventWatcher.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Core/Models/IndexedItem.h"
#include "Platform/DirectoryWalker.h"

namespace pallix {

namespace {

constexpr std::uint32_t kChangeEvents =
    IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kFolderMask = kChangeEvents | IN_DONT_FOLLOW | IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr std::uint32_t kFileMask = kChangeEvents | IN_DONT_FOLLOW;

} // namespace

// One inotify instance over one set of roots, with its reading and its
// delivering thread. The watch maps belong to the reading thread once the
// threads run; the pending list is shared under m_mutex.
class FSEventWatcher::Session {
public:
    Session(std::vector<std::string> roots, WatchRules rules, const Callback& callback, const Options& options)
        : m_callback(callback)
        , m_options(options)
        , m_rules(std::move(rules))
        , m_roots(std::move(roots))
        , m_rootSet(m_roots.begin(), m_roots.end())
        , m_inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
        , m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        if (!m_inotify.valid() || !m_wake.valid())
            return;
        for (std::string& path : m_rules.excludedPaths)
            path = paths::standardize(path);
        watchRoots();
        if (m_options.onShortfall && (m_limitReached || m_unwatchable > 0))
            m_options.onShortfall({watchCount(), m_limitReached, m_unwatchable});
        m_reader = std::thread([this] { readLoop(); });
        m_deliverer = std::thread([this] { deliverLoop(); });
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
        if (m_reader.joinable())
            m_reader.join();
        if (m_deliverer.joinable())
            m_deliverer.join();
    }

    std::size_t watchCount() const { return m_watchCount.load(std::memory_order_relaxed); }
    bool watchLimitReached() const { return m_limitReached.load(std::memory_order_relaxed); }

private:
    // The first folders that lie under a root, breadth-first each, then the
    // rest of every root.
    void watchRoots()
    {
        std::unordered_set<std::string> done;
        for (const std::string& first : m_rules.firstFolders) {
            const std::string folder = paths::standardize(first);
            const bool underRoot = std::any_of(m_roots.begin(), m_roots.end(),
                                               [&](const std::string& root) { return paths::isUnder(folder, root); });
            if (underRoot && !isSkipped(folder) && done.insert(folder).second)
                watchFolderTree(folder, &done);
        }
        for (const auto& root : m_roots) {
            struct stat st {};
            if (::lstat(root.c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode))
                watchFolderTree(root, &done);
            else
                addWatch(root, kFileMask);
        }
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

    // Watches `folder` and the folders below it breadth-first, until the
    // watch limit is met; the folders in `done` (watched already, with their
    // subtrees) are passed over. One level of paths is held at a time, not
    // one open descriptor per level of depth.
    void watchFolderTree(const std::string& folder, const std::unordered_set<std::string>* done = nullptr)
    {
        struct Pending {
            std::string path;
            std::uint64_t device;
        };
        EntryStatus top;
        if (readEntryStatus(AT_FDCWD, folder.c_str(), top) != 0 || !top.isDirectory)
            return;
        std::deque<Pending> queue{{folder, top.device}};
        while (!queue.empty()) {
            Pending next = std::move(queue.front());
            queue.pop_front();
            int error = 0;
            const UniqueFd fd = openDirectory(AT_FDCWD, next.path.c_str(), error);
            if (!fd.valid()) {
                ++m_unwatchable;
                continue;
            }
            if (!addWatch(next.path, kFolderMask))
                return;
            std::vector<std::string> names;
            DirectoryReader(fd.get()).forEach([&](const char* name, unsigned char type) {
                if (type == DT_DIR || type == DT_UNKNOWN)
                    names.emplace_back(name);
            });
            for (const std::string& name : names) {
                EntryStatus status;
                if (readEntryStatus(fd.get(), name.c_str(), status) != 0 || !status.isDirectory
                    || status.isAutomountTrigger)
                    continue;
                std::string child = joinPath(next.path, name);
                if ((done && done->contains(child)) || isSkipped(child))
                    continue;
                if (status.device != next.device) {
                    const UniqueFd childFd = openDirectory(fd.get(), name.c_str(), error);
                    if (!childFd.valid() || isForeignFileSystem(childFd.get(), child))
                        continue;
                }
                queue.push_back({std::move(child), status.device});
            }
        }
    }

    // False once no further watch can be added.
    bool addWatch(const std::string& path, std::uint32_t mask)
    {
        if (m_limitReached.load(std::memory_order_relaxed))
            return false;
        int wd = -1;
        if (m_options.watchLimit == 0 || m_pathByWatch.size() < m_options.watchLimit)
            wd = ::inotify_add_watch(m_inotify.get(), path.c_str(), mask);
        else
            errno = ENOSPC;
        if (wd < 0) {
            // ENOSPC is the per-user watch limit: stop adding rather than fail,
            // and say so. Any other error only leaves this one folder out.
            if (errno == ENOSPC) {
                m_limitReached.store(true, std::memory_order_relaxed);
                return false;
            }
            ++m_unwatchable;
            return true;
        }
        if (auto old = m_pathByWatch.find(wd); old != m_pathByWatch.end())
            m_watchByPath.erase(old->second);
        m_pathByWatch[wd] = path;
        m_watchByPath[path] = wd;
        m_watchCount.store(m_pathByWatch.size(), std::memory_order_relaxed);
        return true;
    }

    void forgetWatch(int wd)
    {
        const auto it = m_pathByWatch.find(wd);
        if (it == m_pathByWatch.end())
            return;
        if (auto byPath = m_watchByPath.find(it->second); byPath != m_watchByPath.end() && byPath->second == wd)
            m_watchByPath.erase(byPath);
        m_pathByWatch.erase(it);
        m_watchCount.store(m_pathByWatch.size(), std::memory_order_relaxed);
    }

    // A folder moved away: its watches would report under the old path.
    void unwatchTree(const std::string& folder)
    {
        std::vector<int> doomed;
        if (auto it = m_watchByPath.find(folder); it != m_watchByPath.end())
            doomed.push_back(it->second);
        const std::string prefix = folder + "/";
        for (auto it = m_watchByPath.lower_bound(prefix);
             it != m_watchByPath.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
            doomed.push_back(it->second);
        for (int wd : doomed) {
            ::inotify_rm_watch(m_inotify.get(), wd);
            forgetWatch(wd);
        }
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
            publish(std::move(changed));
        }
    }

    void handle(const struct inotify_event& event, std::vector<std::string>& changed)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            // Changes were lost, folders created meanwhile among them: report the
            // roots so that the receiver resynchronises them, and cover new folders.
            changed.insert(changed.end(), m_roots.begin(), m_roots.end());
            watchRoots();
            return;
        }
        const auto it = m_pathByWatch.find(event.wd);
        if (it == m_pathByWatch.end())
            return;
        if (event.mask & IN_IGNORED) {
            forgetWatch(event.wd);
            return;
        }
        if (event.len == 0 || event.name[0] == '\0') {
            // A folder's own change also reaches its parent's watch with its
            // name; only a root has no parent under watch.
            if (m_rootSet.count(it->second))
                changed.push_back(it->second);
            return;
        }
        std::string path = joinPath(it->second, event.name);
        // Churn in caches and logs would keep the receiver's batch from ever running.
        if (isSkipped(path))
            return;
        if (event.mask & IN_ISDIR) {
            if (event.mask & IN_MOVED_FROM)
                unwatchTree(path);
            // Added before the path is published: once the receiver hears of
            // the new folder, changes inside it are already being watched.
            if (event.mask & (IN_CREATE | IN_MOVED_TO))
                watchFolderTree(path);
        }
        changed.push_back(std::move(path));
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
                if (m_pending.empty() || m_pending.back() != path)
                    m_pending.push_back(std::move(path));
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
    WatchRules m_rules;  // excluded paths standardised in the constructor, then constant
    const std::vector<std::string> m_roots;
    const std::unordered_set<std::string> m_rootSet;
    UniqueFd m_inotify;
    UniqueFd m_wake;

    // Reading thread only (and the constructor, before it starts).
    std::unordered_map<int, std::string> m_pathByWatch;
    std::map<std::string, int> m_watchByPath;  // ordered: a moved folder's subtree is one range
    std::atomic<std::size_t> m_watchCount{0};
    std::atomic<bool> m_limitReached{false};
    std::size_t m_unwatchable = 0;

    std::mutex m_mutex;
    std::condition_variable m_pendingChanged;
    std::vector<std::string> m_pending;
    bool m_stopping = false;
    CancelToken m_stop;

    std::thread m_reader;
    std::thread m_deliverer;
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
    m_session.reset();
    std::vector<std::string> kept;
    for (const auto& path : paths) {
        std::string standard = paths::standardize(path);
        struct stat st {};
        if (::lstat(standard.c_str(), &st) == 0)
            kept.push_back(std::move(standard));
    }
    if (!kept.empty())
        m_session = std::make_unique<Session>(std::move(kept), rules, m_callback, m_options);
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
