#include "App/Indexing/WatcherBatches.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <unordered_set>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/Sqlite.h"
#include "Core/Indexer/FolderReconciler.h"
#include "Core/Indexer/StartupCatchUp.h"
#include "App/Preview/FolderContentInspector.h"
#include "Platform/FileNames.h"

namespace pallix {

using namespace std::chrono_literals;

namespace {

constexpr auto kCoalesceWhileTyping = 1500ms;
constexpr auto kCoalesceInFront = 300ms;
constexpr auto kCoalesceInBackground = 1800ms;
// Under constant churn every delivery would restart the wait and the batch
// would never run: it runs at the latest this long after its first path.
constexpr auto kCoalesceAtMost = 5000ms;

// Another program held the database's write lock for longer than the
// connection waits: the batch must be written again later.
constexpr auto kRetryRefusedBatch = 2000ms;

enum class Presence { Present, Absent, Unknown };

template <typename T>
bool isRefusedByLock(const StoreResult<T>& result)
{
    return !result && sqlite::isTransient(result.error().sqliteCode);
}

// Absent only when the system says so: a location that cannot be checked
// (its folder unreadable, say) may still be there, and its rows must stay.
Presence presenceOf(const std::string& path)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0)
        return Presence::Present;
    return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Unknown;
}

// Lists each of `parents` and brings its children's rows in line. False
// when a write was refused because another program held the database.
bool synchronizeParents(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& parents,
                        const std::vector<std::string>& excludedPaths, bool excludeSystemJunk, const CancelToken* cancel)
{
    // The folders go to the store a slice at a time, each slice one write: a
    // write per folder made a burst cost a commit for every folder touched.
    std::vector<IndexStore::FolderListing> slice;
    std::size_t children = 0;
    bool refused = false;
    const auto write = [&] {
        if (!slice.empty() && !refused)
            refused = isRefusedByLock(store.synchronizeFolders(slice));
        slice.clear();
        children = 0;
        return !refused;
    };
    for (const std::string& parent : parents) {
        if (cancel && cancel->isCancelled())
            return true;
        // No listing (gone, or unreadable) is no reason to drop the children.
        auto listed = scanner.scanImmediateChildren(parent, excludedPaths, excludeSystemJunk);
        if (!listed)
            continue;
        children += listed->size() + 1;
        slice.push_back({parent, std::move(*listed)});
        if (children >= FolderReconciler::kSlice && !write())
            return false;
    }
    return write();
}

// The first queued batch, with the ones queued behind it under the same
// rules folded in. Each location is looked at as it is when the batch runs,
// so a path handed over twice is looked at once and nothing is lost; a burst
// then goes in a few large batches instead of many small ones, each paying
// for its folders' listings and the store's writes.
template <typename Batch>
Batch takeCoalesced(std::deque<Batch>& queue)
{
    Batch batch = std::move(queue.front());
    queue.pop_front();
    std::unordered_set<std::string> seen(batch.paths.begin(), batch.paths.end());
    while (!batch.catchUp && !queue.empty() && !queue.front().catchUp && queue.front().roots == batch.roots && queue.front().excludedPaths == batch.excludedPaths &&
           queue.front().excludeSystemJunk == batch.excludeSystemJunk) {
        for (std::string& path : queue.front().paths)
            if (seen.insert(path).second)
                batch.paths.push_back(std::move(path));
        batch.foreground = queue.front().foreground;  // as the latest hand-over found the application
        queue.pop_front();
    }
    return batch;
}

} // namespace

WatcherBatches::WatcherBatches(const AppContext& context, Hooks hooks, QObject* parent)
    : QObject(parent), m_context(context), m_hooks(std::move(hooks)), m_scanner(context.environment().scanner)
{
}

RootWatcher& WatcherBatches::watcher()
{
    if (!m_watcher) {
        // The watcher delivers on its own thread; the paths are handed to the
        // GUI thread, where the model may still be gone by then.
        QPointer<WatcherBatches> guard(this);
        auto onChange = [guard](std::vector<std::string> paths) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, paths = std::move(paths)]() mutable {
                    if (guard)
                        guard->enqueueCoalesced(std::move(paths));
                },
                Qt::QueuedConnection);
        };
        auto onShortfall = [guard](const FSEventWatcher::Shortfall& shortfall) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, shortfall] {
                    if (guard)
                        guard->reportWatchShortfall(shortfall);
                },
                Qt::QueuedConnection);
        };
        if (m_context.environment().services.makeWatcher) {
            m_watcher = m_context.environment().services.makeWatcher(std::move(onChange), std::move(onShortfall));
        } else {
            FSEventWatcher::Options options;
            options.onShortfall = std::move(onShortfall);
            m_watcher = makeFileSystemWatcher(std::move(onChange), std::move(options));
        }
    }
    return *m_watcher;
}

void WatcherBatches::startWatching()
{
    FSEventWatcher::WatchRules rules;
    rules.excludedPaths = m_context.settings().excludedPaths;
    rules.skipSystemJunk = m_context.settings().excludeSystemJunkFromIndex;
    if (const char* home = std::getenv("HOME"); home && *home)
        rules.firstFolders.push_back(home);
    for (const std::string& root : m_context.settings().indexedRoots)
        rules.firstFolders.push_back(root);
    watcher().start(m_hooks.activeRoots(), rules);
}

void WatcherBatches::reportWatchShortfall(const FSEventWatcher::Shortfall& shortfall)
{
    // Once: every rebuild restarts the watcher and would say it again.
    if (m_watchShortfallReported)
        return;
    m_watchShortfallReported = true;
    if (shortfall.limitReached)
        m_context.setStatusMessage(
            QStringLiteral("实时更新已达系统监控上限：仅监控了 %1 个文件夹，其余文件夹的变化不会自动更新。"
                           "可提高 fs.inotify.max_user_watches（例如 sudo sysctl "
                           "fs.inotify.max_user_watches=1048576）")
                .arg(shortfall.watched));
    else
        m_context.setStatusMessage(
            QStringLiteral("有 %1 个文件夹无法实时监控（已监控 %2 个文件夹），其中的变化不会自动更新")
                .arg(shortfall.unwatchable)
                .arg(shortfall.watched));
}

void WatcherBatches::enqueueCoalesced(std::vector<std::string> paths)
{
    if (!m_context.settings().keepIndexerInBackground)
        return;
    for (const std::string& path : paths)
        m_pendingPaths.insert(QString::fromStdString(paths::standardize(path)));
    m_coalesceTask.cancel();
    const Clock::TimePoint now = m_context.clock().now();
    if (!m_pendingSince)
        m_pendingSince = now;
    // Writing while the user types would make the list jump under them.
    const Clock::Duration wanted = !m_hooks.appIsInFront()  ? Clock::Duration(kCoalesceInBackground)
                                   : m_hooks.userIsTyping() ? Clock::Duration(kCoalesceWhileTyping)
                                                            : Clock::Duration(kCoalesceInFront);
    const Clock::Duration left = *m_pendingSince + Clock::Duration(kCoalesceAtMost) - now;
    const Clock::Duration delay = std::max(Clock::Duration::zero(), std::min(wanted, left));
    m_coalesceTask = JobHandle::start();
    // Tracked too, so that the model's end stops the wait.
    m_context.trackDetachedJob(m_coalesceTask.token());
    emit pendingPathsChanged(static_cast<int>(m_pendingPaths.size()));
    runCoalescing(delay, m_coalesceTask.token());
}

QCoro::Task<> WatcherBatches::runCoalescing(Clock::Duration delay, std::shared_ptr<CancelToken> token)
{
    QPointer<WatcherBatches> guard(this);
    auto waiting = m_context.clock().sleepFor(delay, token);
    co_await waiting;
    // A newer arrival took over the pending set and restarted the wait.
    if (!guard || token->isCancelled())
        co_return;
    m_pendingSince.reset();
    std::vector<std::string> paths;
    paths.reserve(m_pendingPaths.size());
    for (const QString& path : std::as_const(m_pendingPaths))
        paths.push_back(path.toStdString());
    m_pendingPaths.clear();
    emit pendingPathsChanged(0);
    if (!paths.empty())
        handleEvents(std::move(paths));
}

void WatcherBatches::handleEvents(std::vector<std::string> paths)
{
    // The folders' content hints are remembered: a changed folder must be
    // looked at again. Forgetting never waits for a listing, so it runs
    // here: a job per batch on the shared pool waited for a hung listing.
    FolderContentInspector::shared().invalidateChanged(paths);
    if (!m_context.settings().keepIndexerInBackground)
        return;
    queue(Batch{std::move(paths), m_hooks.activeRoots(), m_context.settings().excludedPaths,
                m_context.settings().excludeSystemJunkFromIndex, m_hooks.appIsInFront()});
}

void WatcherBatches::queue(Batch batch)
{
    m_batches.push_back(std::move(batch));
    const bool start = !m_draining;
    m_draining = true;
    noteUnfinished();
    if (start)
        drainBatches();
}

QCoro::Task<> WatcherBatches::drainBatches()
{
    // One batch at a time, first in first out: batches running side by side
    // could land an older upsert after a newer removal and bring a deleted
    // file back into the index.
    QPointer<WatcherBatches> guard(this);
    while (!m_batches.empty()) {
        Batch batch = takeCoalesced(m_batches);
        noteUnfinished();
        auto token = std::make_shared<CancelToken>();
        m_context.trackDetachedJob(token);
        // Said from the worker once the catch-up has found changes to write.
        auto catchingUp = [guard] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard] {
                    if (guard)
                        guard->m_context.setStatusMessage(QStringLiteral("正在补上未运行期间磁盘上的变化…"));
                },
                Qt::QueuedConnection);
        };
        auto applying =
            m_context.onPool([store = m_context.stores().local, scanner = m_scanner, batch, token, catchingUp] {
                return applyBatch(*store, scanner, batch, token.get(), catchingUp);
            });
        const Outcome outcome = co_await applying;
        if (!guard)
            co_return;
        if (outcome.refusedByLock) {
            // Every location is looked at again as it is then, so running the
            // whole batch again loses nothing and repeats nothing; it goes
            // first, ahead of batches handed over after it.
            auto waiting = m_context.clock().sleepFor(kRetryRefusedBatch, token);
            co_await waiting;
            if (!guard || token->isCancelled())
                co_return;
            m_batches.push_front(std::move(batch));
            noteUnfinished();
            continue;
        }
        finishBatch(batch, outcome);
    }
    m_draining = false;
    noteUnfinished();
}

WatcherBatches::Outcome WatcherBatches::applyBatch(IndexStore& store, const FileScanner& scanner,
                                                   const Batch& batch, const CancelToken* cancel,
                                                   const std::function<void()>& onCatchingUp)
{
    if (batch.catchUp) {
        const CatchUpOutcome caught = StartupCatchUp::run(store, scanner, batch.roots, batch.excludedPaths,
                                                          batch.excludeSystemJunk, cancel, onCatchingUp);
        Outcome outcome;
        outcome.refusedByLock = caught.error && sqlite::isTransient(caught.error->sqliteCode);
        outcome.changedAnything = caught.changedAnything();
        outcome.count = store.indexedCount();
        return outcome;
    }
    // Store errors are ignored: the next step, and the next batch, go on.
    // Each location is looked at as it is now, so the batch's removals go
    // together first and its files together after, rather than one write
    // (and one pass over the cache) per path.
    std::vector<std::string> gone;
    std::vector<IndexedItem> files;
    std::vector<std::string> folders;
    std::vector<std::string> parents;
    std::unordered_set<std::string> seenParents;
    for (const std::string& location : batch.paths) {
        const std::string path = paths::standardize(location);
        if (!IndexStore::indexedRootsContain(path, batch.roots))
            continue;
        // The folder holding a root is not indexed: listing it would add the
        // root's siblings.
        std::string parent(paths::deletingLastComponent(path));
        if (parent != path && IndexStore::indexedRootsContain(parent, batch.roots)
            && seenParents.insert(parent).second)
            parents.push_back(std::move(parent));

        const Presence presence = presenceOf(filenames::toFileSystem(path));
        if (presence == Presence::Absent) {
            gone.push_back(path);
            continue;
        }
        if (presence == Presence::Unknown)
            continue;
        const std::optional<IndexedItem> item = IndexedItem::from(path);
        if (!item || item->isDirectory())
            folders.push_back(path);
        else if (batch.excludeSystemJunk
                 && IndexedItem::shouldExcludeAsSystemOrJunk(item->path(), item->name(), item->fileExtension(), false))
            gone.push_back(path);
        else
            files.push_back(*item);
    }
    // A slice a write, so that searches get in between even when a burst
    // queued up thousands. A write refused by another program's lock ends
    // the batch, to be run again; other store errors are passed over.
    Outcome outcome;
    const auto live = [&] { return !(cancel && cancel->isCancelled()) && !outcome.refusedByLock; };
    FolderReconciler::inSlices(gone, [&](const std::vector<std::string>& slice) {
        if (!live())
            return false;
        outcome.refusedByLock = isRefusedByLock(store.removePathPrefixes(slice));
        return true;
    });
    FolderReconciler::inSlices(files, [&](const std::vector<IndexedItem>& slice) {
        if (!live())
            return false;
        outcome.refusedByLock = isRefusedByLock(store.upsert(slice));
        return true;
    });
    // A folder's own walk writes what is there and drops what is gone below
    // it (after an overflow the roots come here); a walk that could not read
    // part of the folder keeps the rows it could not see.
    for (const std::string& folder : folders) {
        if (!live())
            break;
        const ReconcileOutcome walked =
            FolderReconciler::reconcile(store, scanner, folder, batch.excludedPaths, batch.excludeSystemJunk, cancel);
        outcome.refusedByLock = walked.error && sqlite::isTransient(walked.error->sqliteCode);
    }
    if (live())
        outcome.refusedByLock =
            !synchronizeParents(store, scanner, parents, batch.excludedPaths, batch.excludeSystemJunk, cancel);
    outcome.count = store.indexedCount();
    return outcome;
}

void WatcherBatches::startCatchUp(std::vector<std::string> roots)
{
    if (roots.empty())
        return;
    Batch batch{{}, std::move(roots), m_context.settings().excludedPaths,
                m_context.settings().excludeSystemJunkFromIndex, m_hooks.appIsInFront()};
    batch.catchUp = true;
    queue(std::move(batch));
}

void WatcherBatches::finishBatch(const Batch& batch, const Outcome& outcome)
{
    const std::int64_t count = outcome.count;
    emit batchWritten(count);
    emit writesDone();
    if (batch.catchUp) {
        if (!outcome.changedAnything)
            return;
        m_context.setStatusMessage(QStringLiteral("已补上未运行期间的变化，共 %1 项").arg(count));
        emit searchWanted(true);
        return;
    }
    if (!batch.foreground || !m_hooks.appIsInFront())
        return;
    m_context.setStatusMessage(QStringLiteral("实时索引已更新，共 %1 项").arg(count));
    emit searchWanted(false);
}

} // namespace pallix
