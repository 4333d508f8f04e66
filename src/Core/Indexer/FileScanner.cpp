#include "Core/Indexer/FileScanner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>

#include "Platform/DirectoryWalker.h"
#include "Platform/FileNames.h"

namespace pallix {

namespace {

// Entries taken between two yields of the walking thread.
constexpr std::int64_t kYieldInterval = 768;
// Entries read ahead of the hand-over at most. Bounds memory while a slow batch
// consumer sets the pace; the walking thread itself is never held by it.
constexpr std::size_t kReadAheadBudget = std::size_t(1) << 15;

// Errors that mean "gone" or "not a folder (any more)": nothing was missed.
bool isVanished(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

class Exclusions {
public:
    explicit Exclusions(const std::vector<std::string>& excludedPaths)
    {
        m_paths.reserve(excludedPaths.size());
        for (const auto& path : excludedPaths)
            m_paths.push_back(filenames::toFileSystem(paths::standardize(path)));
    }

    // Paths handed in are the system's bytes, and already standard: built
    // from a standard folder and a name.
    bool contains(std::string_view path) const
    {
        return std::any_of(m_paths.begin(), m_paths.end(),
                           [&](const std::string& e) { return paths::isUnder(path, e); });
    }

private:
    std::vector<std::string> m_paths;
};

// The entry's metadata through the options' fault seam: 0 or the errno.
int statusOf(const FileScanner::Options& options, int dirFd, const char* name, const std::string& path,
             EntryStatus& status)
{
    const int error = readEntryStatus(dirFd, name, status);
    return error == 0 && options.statusFault ? options.statusFault(path, status) : error;
}

FileMetadata metadataOf(const EntryStatus& status)
{
    FileMetadata meta;
    meta.isDirectory = status.isDirectory;
    meta.isRegularFile = status.isRegularFile;
    meta.contentModifiedAt = status.modifiedAt;
    meta.createdAt = status.createdAt;
    if (!status.isDirectory)
        meta.fileSize = status.size;
    return meta;
}

// The record of the entry at `path`, the system's bytes; its path is their stored form.
std::optional<IndexedItem> makeIndexedItem(const std::string& path, const EntryStatus& status, bool junk)
{
    auto item = filenames::isStoredAsIs(path) ? IndexedItem::from(path, metadataOf(status))
                                              : IndexedItem::from(filenames::fromFileSystem(path), metadataOf(status));
    if (item && junk
        && IndexedItem::shouldExcludeAsSystemOrJunk(item->path(), item->name(), item->fileExtension(),
                                                    item->isDirectory()))
        return std::nullopt;
    return item;
}

struct Node;
using NodePtr = std::shared_ptr<Node>;

// An open folder kept for opening the folders below it, with its path, so
// that a folder's path is the anchor's and the few names between them.
struct Anchor {
    UniqueFd fd;
    std::string path;
    std::size_t depth = 0;  // levels below the root
};
using AnchorPtr = std::shared_ptr<const Anchor>;

// One entry of a folder as the walk hands it over. Below a long path the
// record is made only when it is handed over: entries read ahead, and those
// waiting in every folder above the one being handed over, then hold a name
// rather than a full path each, so the walk's memory grows with the depth,
// not with its square.
struct Entry {
    std::string name;                 // set when the record or the unreadable path is made later
    std::optional<IndexedItem> item;  // made while reading, below a short path
    EntryStatus status;               // valid when madeLater
    bool madeLater = false;           // the record is made from `status` when handed over
    bool unreadable = false;          // the entry exists but its metadata failed
    NodePtr folder;                   // the folder to walk right after this entry
};

enum class NodeState { Pending, Claimed, Done };

// One folder of the walk: where to open it and, once Done, its entries. A
// folder keeps no path of its own: its path is its anchor's and the names
// from there down.
struct Node {
    // The parent folder. It outlives every read of this one: a folder leaves
    // the walk only once everything below it was read, and a cancelled walk
    // stops its helpers before it drops any folder.
    const Node* parent = nullptr;
    std::string name;                      // a root's is its whole path
    std::size_t depth = 0;                 // levels below the root
    AnchorPtr anchor;                      // a folder above it, released once this one is open; none for a root
    std::uint64_t device = 0;              // with `inode`, the folder's identity as its entry was read
    std::uint64_t inode = 0;
    std::uint64_t parentDevice = 0;        // the parent folder's device; a root's own
    bool checkFileSystem = false;          // on another device than its parent
    NodeState state = NodeState::Pending;  // guarded by Walk::m_mutex
    bool listingFailed = false;
    std::vector<Entry> entries;            // filled by whoever claimed the node

    Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // A cancelled walk may drop folders read ahead thousands of levels deep:
    // they are taken apart a level at a time, not by recursion.
    ~Node()
    {
        std::vector<NodePtr> below;
        detachFolders(below);
        while (!below.empty()) {
            NodePtr next = std::move(below.back());
            below.pop_back();
            if (next.use_count() == 1)
                next->detachFolders(below);
        }
    }

    void detachFolders(std::vector<NodePtr>& out)
    {
        for (Entry& entry : entries)
            if (entry.folder)
                out.push_back(std::move(entry.folder));
    }
};

// The names from below the ancestor at `aboveDepth` down to `node`, joined with "/".
std::string joinedNames(const Node& node, std::size_t aboveDepth)
{
    std::vector<const Node*> chain;
    std::size_t size = 0;
    for (const Node* n = &node; n && n->depth > aboveDepth; n = n->parent) {
        chain.push_back(n);
        size += n->name.size() + 1;
    }
    std::string joined;
    joined.reserve(size);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!joined.empty())
            joined += '/';
        joined += (*it)->name;
    }
    return joined;
}

// Records below paths this long are made when handed over, not while read ahead.
constexpr std::size_t kEagerPathLength = 1024;

// One recursive walk. The calling thread hands entries over in walk order;
// helper threads read folders ahead of it, newest-found first, which follows
// the pre-order closely. Whenever the calling thread needs a folder nobody has
// claimed yet it reads it itself, so it never waits on a helper that is held by
// the read-ahead budget.
//
// Folders are opened below an open ancestor. A few of those are kept open;
// past that many, a folder opens below the nearest kept one, several names at
// once, so a deep tree never runs out of descriptors.
class Walk {
public:
    using AddItem = std::function<void(IndexedItem&&)>;

    Walk(const FileScanner::Options& options, const std::vector<std::string>& excludedPaths, bool junk,
         const CancelToken* cancel)
        : m_options(options)
        , m_exclusions(excludedPaths)
        , m_junk(junk)
        , m_cancel(cancel)
        , m_keptLimit(std::max<std::size_t>(1, options.keptFolderLimit))
    {
    }

    ~Walk()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_queue.clear();
        }
        m_workAvailable.notify_all();
        for (auto& worker : m_workers)
            worker.join();
    }

    // Walks every root in order; returns what could not be read.
    std::vector<std::string> run(const std::vector<std::string>& roots, const AddItem& add)
    {
        for (const auto& root : roots) {
            if (!walkRoot(root, add))
                break;
        }
        return std::move(m_unreadable);
    }

private:
    struct Frame {
        NodePtr node;
        std::size_t next = 0;          // the entry to hand over next
        std::size_t parentLength = 0;  // m_path's length before this folder's name
    };

    bool cancelled() const { return m_cancel && m_cancel->isCancelled(); }

    // False when the walk was cancelled.
    bool walkRoot(const std::string& root, const AddItem& add)
    {
        const std::string path = filenames::toFileSystem(paths::standardize(root));
        if (m_exclusions.contains(path))
            return true;
        EntryStatus status;
        if (const int error = statusOf(m_options, AT_FDCWD, path.c_str(), path, status)) {
            if (!isVanished(error))
                m_unreadable.push_back(filenames::fromFileSystem(path));
            return true;
        }
        if (auto item = makeIndexedItem(path, status, m_junk))
            add(std::move(*item));
        if (!status.isDirectory)
            return true;
        auto node = std::make_shared<Node>();
        node->name = path;
        node->device = status.device;
        node->inode = status.inode;
        node->parentDevice = status.device;
        return emit(node, add);
    }

    // Hands the tree over in pre-order. m_path is the path of the folder on
    // top of the frames: the one path the calling thread holds.
    bool emit(const NodePtr& root, const AddItem& add)
    {
        m_path = root->name;
        ensureRead(*root);
        m_frames.push_back({root, 0, 0});
        while (!m_frames.empty()) {
            Frame& top = m_frames.back();
            Node& node = *top.node;
            if (top.next == node.entries.size()) {
                release(node);
                m_path.resize(top.parentLength);
                m_frames.pop_back();
                continue;
            }
            Entry& entry = node.entries[top.next++];
            if (cancelled())
                return false;
            if (++m_entryCount % kYieldInterval == 0)
                std::this_thread::yield();
            handOver(entry, add);
            if (NodePtr folder = std::move(entry.folder)) {
                const std::size_t parentLength = m_path.size();
                m_path = joinPath(m_path, folder->name);
                ensureRead(*folder);
                m_frames.push_back({std::move(folder), 0, parentLength});
            }
        }
        return true;
    }

    void handOver(Entry& entry, const AddItem& add)
    {
        if (entry.unreadable)
            m_unreadable.push_back(filenames::fromFileSystem(joinPath(m_path, entry.name)));
        if (entry.madeLater)
            entry.item = makeIndexedItem(joinPath(m_path, entry.name), entry.status, m_junk);
        if (entry.item)
            add(std::move(*entry.item));
        entry.item.reset();
    }

    // Returns once the node's entries are there, reading it here if nobody has claimed it.
    void ensureRead(Node& node)
    {
        std::unique_lock lock(m_mutex);
        if (node.state == NodeState::Pending) {
            node.state = NodeState::Claimed;
            lock.unlock();
            read(node);
            lock.lock();
            finish(node);
        } else {
            m_awaited = &node;
            m_nodeDone.wait(lock, [&] { return node.state == NodeState::Done; });
            m_awaited = nullptr;
        }
        if (node.listingFailed)
            m_unreadable.push_back(filenames::fromFileSystem(m_path));
    }

    void release(Node& node)
    {
        bool budgetFreed = false;
        {
            std::lock_guard lock(m_mutex);
            const bool wasFull = m_readAhead >= kReadAheadBudget;
            m_readAhead -= node.entries.size() + 1;
            budgetFreed = wasFull && m_readAhead < kReadAheadBudget;
        }
        // Only helpers held by the budget wait for it; waking them all for
        // every folder cost more than the reading.
        if (budgetFreed)
            m_workAvailable.notify_all();
        // A stale queue slot may still hold the node; drop the entries now.
        std::vector<Entry>().swap(node.entries);
    }

    // Lists the folder and reads every entry's metadata; no lock held.
    void read(Node& node)
    {
        const AnchorPtr anchor = std::move(node.anchor);
        const std::string relative = anchor ? joinedNames(node, anchor->depth) : std::string();
        const std::string path = anchor ? joinPath(anchor->path, relative) : node.name;
        int error = m_options.listingFault ? m_options.listingFault(path) : 0;
        UniqueFd fd;
        if (error == 0)
            fd = !anchor                              ? openDirectoryPath(AT_FDCWD, path, error)
                 : anchor->depth + 1 == node.depth ? openDirectory(anchor->fd.get(), node.name.c_str(), error)
                                                    : openDirectoryPath(anchor->fd.get(), relative, error);
        if (!fd.valid()) {
            node.listingFailed = !isVanished(error);
            return;
        }
        if (node.checkFileSystem
            && ((m_options.stayOnRootFileSystem && node.device != node.parentDevice)
                || isForeignFileSystem(fd.get(), path)))
            return;
        // The children open below this folder while it may be kept open, else
        // below the folder this one was opened from.
        const int dirFd = fd.get();
        AnchorPtr below = keep(fd, path, node.depth, !node.parent);
        if (!below)
            below = anchor;
        const bool eager = path.size() < kEagerPathLength;
        const int listError = DirectoryReader(dirFd).forEach([&](const char* name, unsigned char) {
            node.entries.push_back(makeEntry(node, path, dirFd, below, name, eager));
        });
        if (listError != 0)
            node.listingFailed = true;
    }

    // Takes `fd` into an anchor when fewer than the limit are kept, or
    // `always` (a root, which has no anchor above); else leaves it.
    AnchorPtr keep(UniqueFd& fd, const std::string& path, std::size_t depth, bool always)
    {
        if (m_kept.fetch_add(1) >= m_keptLimit && !always) {
            m_kept.fetch_sub(1);
            return {};
        }
        return AnchorPtr(new Anchor{std::move(fd), path, depth}, [this](const Anchor* kept) {
            delete kept;
            m_kept.fetch_sub(1);
        });
    }

    Entry makeEntry(const Node& parent, const std::string& parentPath, int parentFd, const AnchorPtr& below,
                    const char* name, bool eager)
    {
        Entry entry;
        const std::string path = joinPath(parentPath, name);
        // Before any metadata is read: an excluded folder costs one string test.
        if (m_exclusions.contains(path))
            return entry;
        EntryStatus status;
        // Not entered either: a folder gone between the listing and its read,
        // and made again before it was opened, would give rows below a folder
        // that has none.
        if (const int error = statusOf(m_options, parentFd, name, path, status)) {
            entry.unreadable = error != ENOENT;
            if (entry.unreadable)
                entry.name = name;
            return entry;
        }
        if (eager) {
            entry.item = makeIndexedItem(path, status, m_junk);
        } else {
            entry.name = name;
            entry.status = status;
            entry.madeLater = true;
        }
        if (status.isDirectory && !status.isAutomountTrigger && !isOnWalkPath(parent, status))
            entry.folder = childNode(parent, below, name, status);
        return entry;
    }

    // A folder met again below itself, as a bind mount of a folder inside
    // itself shows it: entering would walk the same tree a second time. Only
    // the top of a mount can be one (a folder has no second hard link), so
    // other folders cost no walk up the path.
    static bool isOnWalkPath(const Node& parent, const EntryStatus& status)
    {
        if (!status.mayBeMountRoot)
            return false;
        for (const Node* n = &parent; n; n = n->parent)
            if (n->inode == status.inode && n->device == status.device)
                return true;
        return false;
    }

    static NodePtr childNode(const Node& parent, const AnchorPtr& below, const char* name, const EntryStatus& status)
    {
        auto node = std::make_shared<Node>();
        node->parent = &parent;
        node->name = name;
        node->depth = parent.depth + 1;
        node->anchor = below;
        node->device = status.device;
        node->inode = status.inode;
        node->parentDevice = parent.device;
        node->checkFileSystem = status.device != parent.device;
        return node;
    }

    // Lock held. Publishes the node and queues its subfolders, first one on top.
    void finish(Node& node)
    {
        node.state = NodeState::Done;
        m_readAhead += node.entries.size() + 1;
        bool queued = false;
        if (!cancelled()) {
            for (auto it = node.entries.rbegin(); it != node.entries.rend(); ++it) {
                if (it->folder) {
                    m_queue.push_back(it->folder);
                    queued = true;
                }
            }
        }
        if (queued && m_workers.empty()) {
            for (unsigned i = 0; i < m_options.readAheadThreads; ++i)
                m_workers.emplace_back([this] { workerLoop(); });
        }
        if (queued)
            m_workAvailable.notify_all();
        if (m_awaited == &node)
            m_nodeDone.notify_all();
    }

    void workerLoop()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_workAvailable.wait(lock, [&] {
                return m_stopping || (!m_queue.empty() && m_readAhead < kReadAheadBudget);
            });
            if (m_stopping)
                return;
            if (cancelled()) {
                m_queue.clear();
                continue;
            }
            NodePtr node = std::move(m_queue.back());
            m_queue.pop_back();
            if (node->state != NodeState::Pending)
                continue;
            node->state = NodeState::Claimed;
            lock.unlock();
            read(*node);
            lock.lock();
            finish(*node);
        }
    }

    const FileScanner::Options& m_options;
    const Exclusions m_exclusions;
    const bool m_junk;
    const CancelToken* const m_cancel;

    const std::size_t m_keptLimit;
    std::atomic<std::size_t> m_kept{0};  // open folders kept for their children

    // Used by the calling thread only. The frames are members so that a
    // cancelled walk drops its folders only after its helpers stopped.
    std::vector<std::string> m_unreadable;
    std::int64_t m_entryCount = 0;
    std::vector<Frame> m_frames;
    std::string m_path;

    std::mutex m_mutex;
    std::condition_variable m_workAvailable;
    std::condition_variable m_nodeDone;
    const Node* m_awaited = nullptr;  // the node the calling thread waits for, if any
    std::vector<NodePtr> m_queue;  // folders to read, next one at the back
    std::size_t m_readAhead = 0;   // entries read and not yet handed over
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

} // namespace

unsigned FileScanner::defaultReadAheadThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 2u, 5u) - 1;
}

FileScanner::FileScanner()
    : FileScanner(Options{})
{
}

FileScanner::FileScanner(Options options)
    : m_options(std::move(options))
{
}

ScanReport FileScanner::scanInBatches(const std::vector<std::string>& roots,
                                      const std::vector<std::string>& excludedPaths, bool excludeSystemJunkFromIndex,
                                      int batchSize, const BatchCallback& onBatch, const CancelToken* cancel) const
{
    const std::size_t limit = batchSize < 1 ? 1 : std::size_t(batchSize);
    std::vector<IndexedItem> batch;
    batch.reserve(std::min<std::size_t>(limit, 1 << 16));
    ScanReport report;
    {
        Walk walk(m_options, excludedPaths, excludeSystemJunkFromIndex, cancel);
        report.unreadablePaths = walk.run(roots, [&](IndexedItem&& item) {
            batch.push_back(std::move(item));
            if (batch.size() >= limit) {
                onBatch(batch);
                batch.clear();
            }
        });
    }
    if (!batch.empty())
        onBatch(batch);
    return report;
}

ScanResult FileScanner::scan(const std::vector<std::string>& roots, const std::vector<std::string>& excludedPaths,
                             bool excludeSystemJunkFromIndex, const CancelToken* cancel) const
{
    ScanResult result;
    Walk walk(m_options, excludedPaths, excludeSystemJunkFromIndex, cancel);
    result.unreadablePaths =
        walk.run(roots, [&](IndexedItem&& item) { result.items.push_back(std::move(item)); });
    return result;
}

std::optional<std::vector<IndexedItem>> FileScanner::scanImmediateChildren(
    const std::string& folder, const std::vector<std::string>& excludedPaths, bool excludeSystemJunkFromIndex) const
{
    const Exclusions exclusions(excludedPaths);
    const std::string path = filenames::toFileSystem(paths::standardize(folder));
    int error = m_options.listingFault ? m_options.listingFault(path) : 0;
    UniqueFd fd;
    if (error == 0)
        fd = openDirectoryPath(AT_FDCWD, path, error);
    if (!fd.valid())
        return std::nullopt;

    // A child that exists but cannot be read makes the listing incomplete:
    // synchronising against it would drop that child's row.
    bool complete = true;
    std::vector<IndexedItem> items;
    const int listError = DirectoryReader(fd.get()).forEach([&](const char* name, unsigned char) {
        const std::string childPath = joinPath(path, name);
        if (exclusions.contains(childPath))
            return;
        EntryStatus status;
        if (const int statusError = statusOf(m_options, fd.get(), name, childPath, status)) {
            complete = complete && statusError == ENOENT;
            return;
        }
        if (auto item = makeIndexedItem(childPath, status, excludeSystemJunkFromIndex))
            items.push_back(std::move(*item));
    });
    if (listError != 0 || !complete)
        return std::nullopt;
    return items;
}

} // namespace pallix
