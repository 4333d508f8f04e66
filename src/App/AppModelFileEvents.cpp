// AppModel: keeping the local index in step with the disk. The watcher's
// paths are gathered until the disk has been quiet for a while, then written
// into the store batch by batch, in the order they were handed over.

#include "App/AppModel.h"

#include <sys/stat.h>

#include <cerrno>
#include <unordered_set>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "Core/IndexDB/IndexStore.h"

namespace pallix {

using namespace std::chrono_literals;

namespace {

constexpr auto kCoalesceWhileTyping = 1500ms;
constexpr auto kCoalesceInFront = 300ms;
constexpr auto kCoalesceInBackground = 1800ms;

enum class Presence { Present, Absent, Unknown };

// Absent only when the system says so: a location that cannot be checked
// (its folder unreadable, say) may still be there, and its rows must stay.
Presence presenceOf(const std::string& path)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0)
        return Presence::Present;
    return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Unknown;
}

} // namespace

RootWatcher& AppModel::watcher()
{
    if (!m_watcher) {
        // The watcher delivers on its own thread; the paths are handed to the
        // GUI thread, where the model may still be gone by then.
        QPointer<AppModel> guard(this);
        auto onChange = [guard](std::vector<std::string> paths) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, paths = std::move(paths)]() mutable {
                    if (guard)
                        guard->enqueueWatcherCoalesced(std::move(paths));
                },
                Qt::QueuedConnection);
        };
        m_watcher = m_env.services.makeWatcher ? m_env.services.makeWatcher(std::move(onChange))
                                               : makeFileSystemWatcher(std::move(onChange));
    }
    return *m_watcher;
}

void AppModel::enqueueWatcherCoalesced(std::vector<std::string> paths)
{
    if (!m_settings.keepIndexerInBackground)
        return;
    for (const std::string& path : paths)
        m_pendingWatcherPaths.insert(QString::fromStdString(paths::standardize(path)));
    m_watcherCoalesceTask.cancel();
    // Writing while the user types would make the list jump under them.
    const Clock::Duration delay = !m_appIsForegroundActive ? Clock::Duration(kCoalesceInBackground)
                                  : isUserTyping()         ? Clock::Duration(kCoalesceWhileTyping)
                                                           : Clock::Duration(kCoalesceInFront);
    m_watcherCoalesceTask = JobHandle::start();
    runWatcherCoalescing(delay, m_watcherCoalesceTask.token());
}

QCoro::Task<> AppModel::runWatcherCoalescing(Clock::Duration delay, std::shared_ptr<CancelToken> token)
{
    QPointer<AppModel> guard(this);
    auto waiting = m_clock.sleepFor(delay, token);
    co_await waiting;
    // A newer arrival took over the pending set and restarted the wait.
    if (!guard || token->isCancelled())
        co_return;
    std::vector<std::string> paths;
    paths.reserve(m_pendingWatcherPaths.size());
    for (const QString& path : std::as_const(m_pendingWatcherPaths))
        paths.push_back(path.toStdString());
    m_pendingWatcherPaths.clear();
    if (!paths.empty())
        handleWatcherEvents(std::move(paths));
}

void AppModel::handleWatcherEvents(std::vector<std::string> paths)
{
    // The folders' content hints are remembered: a changed folder must be
    // looked at again. On a worker: the inspector may be listing a slow folder.
    QThreadPool::globalInstance()->start([paths] { FolderContentInspector::shared().invalidateChanged(paths); });
    if (!m_settings.keepIndexerInBackground)
        return;
    m_watcherBatches.push_back(WatcherBatch{std::move(paths), activeIndexedRoots(), m_settings.excludedPaths,
                                            m_settings.excludeSystemJunkFromIndex, m_appIsForegroundActive});
    if (m_watcherDraining)
        return;
    m_watcherDraining = true;
    drainWatcherBatches();
}

QCoro::Task<> AppModel::drainWatcherBatches()
{
    // One batch at a time, first in first out: batches running side by side
    // could land an older upsert after a newer removal and bring a deleted
    // file back into the index.
    QPointer<AppModel> guard(this);
    while (!m_watcherBatches.empty()) {
        WatcherBatch batch = std::move(m_watcherBatches.front());
        m_watcherBatches.pop_front();
        auto token = std::make_shared<CancelToken>();
        trackDetachedJob(token);
        auto applying = onPool([store = m_indexStore, scanner = m_scanner, batch, token] {
            return applyWatcherBatch(*store, scanner, batch, token.get());
        });
        const std::int64_t count = co_await applying;
        if (!guard)
            co_return;
        finishWatcherBatch(batch, count);
    }
    m_watcherDraining = false;
}

std::int64_t AppModel::applyWatcherBatch(IndexStore& store, const FileScanner& scanner, const WatcherBatch& batch,
                                         const CancelToken* cancel)
{
    // Store errors are ignored: the next location, and the next batch, go on.
    std::vector<std::string> parents;
    std::unordered_set<std::string> seenParents;
    for (const std::string& location : batch.paths) {
        if (cancel && cancel->isCancelled())
            break;
        const std::string path = paths::standardize(location);
        if (!IndexStore::indexedRootsContain(path, batch.roots))
            continue;
        // The folder holding a root is not indexed: listing it would add the
        // root's siblings.
        std::string parent(paths::deletingLastComponent(path));
        if (parent != path && IndexStore::indexedRootsContain(parent, batch.roots)
            && seenParents.insert(parent).second)
            parents.push_back(std::move(parent));

        const Presence presence = presenceOf(path);
        if (presence == Presence::Absent) {
            (void)store.removePathPrefix(path);
            continue;
        }
        if (presence == Presence::Unknown)
            continue;
        const std::optional<IndexedItem> item = IndexedItem::from(path);
        if (item && !item->isDirectory()) {
            if (batch.excludeSystemJunk
                && IndexedItem::shouldExcludeAsSystemOrJunk(item->path(), item->name(), item->fileExtension(), false))
                (void)store.removePathPrefix(path);
            else
                (void)store.upsert({*item});
            continue;
        }
        // Written, never replaced: a walk that could not read part of the
        // folder must not cost the rows it could not see.
        const ScanResult scanned = scanner.scan({path}, batch.excludedPaths, batch.excludeSystemJunk, cancel);
        (void)store.upsert(scanned.items);
    }
    for (const std::string& parent : parents) {
        if (cancel && cancel->isCancelled())
            break;
        // No listing (gone, or unreadable) is no reason to drop the children.
        if (const auto children = scanner.scanImmediateChildren(parent, batch.excludedPaths, batch.excludeSystemJunk))
            (void)store.synchronizeChildren(parent, *children);
    }
    return store.indexedCount();
}

void AppModel::finishWatcherBatch(const WatcherBatch& batch, std::int64_t count)
{
    publishIndexedCount(count);
    if (!batch.foreground || !m_appIsForegroundActive)
        return;
    setStatusMessage(QStringLiteral("实时索引已更新，共 %1 项").arg(count));
    if (hasSearchIntent(currentQuerySnapshot()))
        scheduleSearch(false, false);
}

} // namespace pallix
