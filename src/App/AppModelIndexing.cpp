// AppModel: the indexed roots, the local rebuild and the start-up reconciliation.

#include "App/AppModel.h"

#include <algorithm>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include "App/StoreRecovery.h"
#include "Core/Config/EditionRule.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/ScanBatchWriter.h"

namespace pallix {

namespace {

// `a` followed by the entries of `b` it lacks; order kept, each text once.
std::vector<std::string> distinctUnion(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    std::vector<std::string> out;
    for (const auto* list : {&a, &b}) {
        for (const std::string& path : *list) {
            if (std::find(out.begin(), out.end(), path) == out.end())
                out.push_back(path);
        }
    }
    return out;
}

// The roots a walk must visit: a root inside another root is covered by the
// walk of the outer one, and walking it again would only read it twice.
std::vector<std::string> outermostRoots(const std::vector<std::string>& roots)
{
    std::vector<std::string> out;
    for (const std::string& root : roots) {
        const bool covered = std::any_of(roots.begin(), roots.end(), [&](const std::string& other) {
            return other != root && paths::isUnder(root, other);
        });
        if (!covered)
            out.push_back(root);
    }
    return out;
}

struct RescanOutcome {
    bool cancelled = false;
    std::optional<IndexStoreError> error;
    std::int64_t count = 0;
};

// Walks `roots` whole and replaces the rows under `rootsToReplace` with what
// the walk found. Runs on the pool.
RescanOutcome scanAndReplace(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& roots,
                             const std::vector<std::string>& rootsToReplace, const std::vector<std::string>& excluded,
                             bool junk, const CancelToken& token)
{
    RescanOutcome out;
    ScanResult scanned = scanner.scan(outermostRoots(roots), excluded, junk, &token);
    if (token.isCancelled()) {
        out.cancelled = true;
        return out;
    }
    // Rows under what the walk could not read stay: it says nothing of what lies there now.
    if (const auto applied = store.applyFullRescan(rootsToReplace, scanned.items, scanned.unreadablePaths); !applied)
        out.error = applied.error();
    else
        out.count = store.indexedCount();
    return out;
}

double wallClockSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<std::string> sortedCopy(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

std::vector<std::string> AppModel::activeIndexedRoots() const
{
    std::vector<std::string> combined;
    for (const std::string& root : m_settings.indexedRoots)
        combined.push_back(paths::standardize(root));
    for (std::string& root : discoverMountedRoots())
        combined.push_back(std::move(root));

    std::vector<std::string> roots;
    for (std::string& root : combined) {
        if (!root.empty() && std::find(roots.begin(), roots.end(), root) == roots.end())
            roots.push_back(std::move(root));
    }
    return roots;
}

std::vector<std::string> AppModel::discoverMountedRoots() const
{
    std::vector<std::string> roots;
    if (const auto volumes = m_env.volumes->mountedVolumes()) {
        for (const MountedVolume& volume : *volumes) {
            if (!volume.isLocal())
                continue;
            if (!m_settings.autoIndexExternalVolumes && volume.isRemovable)
                continue;
            roots.push_back(paths::standardize(volume.mountPoint));
        }
    }
    if (roots.empty())
        roots.push_back("/");
    return roots;
}

bool AppModel::hasMountedRemovableVolumes() const
{
    const auto volumes = m_env.volumes->mountedVolumes();
    return volumes && std::any_of(volumes->begin(), volumes->end(), [](const MountedVolume& volume) {
               return volume.isLocal() && volume.isRemovable;
           });
}

std::vector<std::string> AppModel::lastIndexedRootsSnapshot() const
{
    std::vector<std::string> roots = m_defaults->stringList(lastIndexedRootsKey()).value_or(std::vector<std::string>{});
    for (std::string& root : roots)
        root = paths::standardize(root);
    return roots;
}

void AppModel::persistIndexedRootsSnapshot(std::vector<std::string> roots)
{
    std::sort(roots.begin(), roots.end());
    m_defaults->setStringList(lastIndexedRootsKey(), roots);
}

QCoro::Task<std::vector<std::string>> AppModel::missingIndexedRoots(std::vector<std::string> roots)
{
    auto probing = onPool([store = m_indexStore, roots] {
        std::vector<std::string> missing;
        for (const std::string& root : roots) {
            // Exact, case-sensitive containment: the rows of /data2 say
            // nothing about /data, nor those of /a/B about /a/b.
            if (!store->hasIndexedItems({root}))
                missing.push_back(root);
        }
        return missing;
    });
    std::vector<std::string> missing = co_await probing;
    co_return missing;
}

bool AppModel::shouldPerformBackgroundRootRefresh(const std::vector<std::string>& currentRoots,
                                                  const std::vector<std::string>& previousRoots, bool rootsIndexed)
{
    if (!rootsIndexed)
        return true;
    std::vector<std::string> current;
    for (const std::string& root : currentRoots)
        current.push_back(paths::standardize(root));
    return sortedCopy(std::move(current)) != sortedCopy(previousRoots);
}

std::vector<std::string> AppModel::removedIndexedRoots(const std::vector<std::string>& currentRoots,
                                                       const std::vector<std::string>& previousRoots)
{
    std::vector<std::string> removed;
    for (const std::string& previous : previousRoots) {
        if (std::find(currentRoots.begin(), currentRoots.end(), previous) == currentRoots.end())
            removed.push_back(previous);
    }
    return removed;
}

std::vector<std::string> AppModel::rootsToRescan(const std::vector<std::string>& currentRoots,
                                                 const std::vector<std::string>& missingRoots,
                                                 const std::vector<std::string>& removedRoots)
{
    std::vector<std::string> rescan = missingRoots;
    for (const std::string& removed : removedRoots) {
        const bool covered = std::any_of(currentRoots.begin(), currentRoots.end(),
                                         [&](const std::string& root) { return paths::isUnder(removed, root); });
        if (covered && std::find(rescan.begin(), rescan.end(), removed) == rescan.end())
            rescan.push_back(removed);
    }
    return rescan;
}

void AppModel::addIndexedRoot(const QString& path)
{
    const std::string root = path.isEmpty() ? std::string() : paths::standardize(path.toStdString());
    if (root.empty())
        return;
    if (std::find(m_settings.indexedRoots.begin(), m_settings.indexedRoots.end(), root) != m_settings.indexedRoots.end())
        return;
    AppSettings record = m_settingsStore.settings();
    record.indexedRoots.push_back(root);
    m_settingsStore.setSettings(std::move(record));
    m_settingsStore.persist();
    setSettings(m_settingsStore.settings());
    startWatching();
    rebuildIndex(false);
}

void AppModel::removeIndexedRoot(const std::set<int>& offsets)
{
    AppSettings record = m_settingsStore.settings();
    for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) {
        if (*it >= 0 && static_cast<std::size_t>(*it) < record.indexedRoots.size())
            record.indexedRoots.erase(record.indexedRoots.begin() + *it);
    }
    m_settingsStore.setSettings(std::move(record));
    m_settingsStore.persist();
    setSettings(m_settingsStore.settings());
    startWatching();
    rebuildIndex(false);
}

void AppModel::refreshIndexedRootsInBackground(std::vector<std::string> currentRoots,
                                               std::vector<std::string> previousRoots,
                                               std::vector<std::string> missingRoots)
{
    const std::vector<std::string> removed = removedIndexedRoots(currentRoots, previousRoots);
    if (missingRoots.empty() && removed.empty()) {
        persistIndexedRootsSnapshot(std::move(currentRoots));
        return;
    }
    setStatusMessage(QStringLiteral("已进入搜索，可后台同步磁盘索引"));
    beginIndexRun(currentRoots);
    std::vector<std::string> toScan = rootsToRescan(currentRoots, missingRoots, removed);
    std::vector<std::string> toReplace = distinctUnion(missingRoots, removed);
    runBackgroundRefresh(std::move(currentRoots), std::move(toScan), std::move(toReplace));
}

QCoro::Task<> AppModel::runBackgroundRefresh(std::vector<std::string> currentRoots,
                                             std::vector<std::string> rootsToScan,
                                             std::vector<std::string> rootsToReplace)
{
    QPointer<AppModel> guard(this);
    // Nothing keeps or cancels this job but the model's end.
    auto token = std::make_shared<CancelToken>();
    trackDetachedJob(token);
    const std::vector<std::string> excluded = m_settings.excludedPaths;
    const bool junk = m_settings.excludeSystemJunkFromIndex;

    auto refreshing = onPool(
        [store = m_indexStore, scanner = m_scanner, rootsToScan, rootsToReplace, excluded, junk, token] {
            return scanAndReplace(*store, scanner, rootsToScan, rootsToReplace, excluded, junk, *token);
        });
    const RescanOutcome outcome = co_await refreshing;
    if (!guard || token->isCancelled())
        co_return;
    m_storeRecovery->afterLocalWrites();
    if (outcome.error) {
        setStatusMessage(QString::fromStdString(outcome.error->description()));
        co_return;
    }
    publishIndexedCount(outcome.count);
    persistIndexedRootsSnapshot(std::move(currentRoots));
    completeIndexRun();
    setStatusMessage(QStringLiteral("后台同步完成，共 %1 项").arg(outcome.count));
    scheduleSearch(true, false);
}

void AppModel::rebuildIndex(bool startupScan)
{
    m_rebuildTask.cancel();
    setIndexing(true);
    setStatusMessage(startupScan ? QStringLiteral("启动后正在完整扫描本机与外接硬盘...")
                                 : QStringLiteral("正在建立索引..."));
    std::vector<std::string> roots = activeIndexedRoots();
    std::vector<std::string> toReplace = distinctUnion(roots, lastIndexedRootsSnapshot());
    // The rows under the roots of an unfinished walk are as unsure as the others.
    if (const auto unfinished = m_runMarkers.unfinishedRoots())
        toReplace = distinctUnion(toReplace, *unfinished);
    beginIndexRun(roots);
    m_rebuildTask = JobHandle::start();
    runRebuild(startupScan, std::move(roots), std::move(toReplace), m_indexedCount, m_rebuildTask);
}

void AppModel::publishIndexedCount(std::int64_t count)
{
    setIndexedCount(count);
    m_defaults->setInteger(lastIndexedCountKey(), count);
    // The index changed under the shown list, so it no longer stands for the
    // whole answer: searching the same text again must ask the store, or a
    // deleted file would be narrowed back onto the screen.
    markDisplayedResultsIncomplete();
}

void AppModel::beginIndexRun(const std::vector<std::string>& roots)
{
    m_runMarkers.begin(roots, wallClockSeconds());
}

void AppModel::completeIndexRun()
{
    m_runMarkers.complete(wallClockSeconds());
}

void AppModel::publishScanBatch(std::int64_t count, int batchNumber)
{
    publishIndexedCount(count);
    setStatusMessage(QStringLiteral("启动扫描中，已可搜索 %1 项").arg(count));
    // Searching after every batch would redo the whole search for each 5500
    // items; the first batch and every sixth keep the list fresh enough.
    if (batchNumber == 1 || batchNumber % 6 == 0)
        scheduleSearch(true, false);
}

void AppModel::endIncompleteScan(std::int64_t count)
{
    // The run is not recorded as done: the next start scans the roots again.
    publishIndexedCount(count);
    setStatusMessage(QStringLiteral("索引数据库正忙，部分扫描结果未能写入，下次启动将重新扫描"));
    startWatching();
    setIndexing(false);
}

void AppModel::completeRebuild(std::int64_t count, const QString& text, const std::vector<std::string>& roots)
{
    publishIndexedCount(count);
    setStatusMessage(text);
    persistIndexedRootsSnapshot(roots);
    completeIndexRun();
    startWatching();
    setIndexing(false);
    scheduleSearch(true, false);
}

QCoro::Task<> AppModel::runRebuild(bool startupScan, std::vector<std::string> roots,
                                   std::vector<std::string> rootsToReplace, std::int64_t previousCount, JobHandle job)
{
    QPointer<AppModel> guard(this);
    const auto token = job.token();
    const std::vector<std::string> excluded = m_settings.excludedPaths;
    const bool junk = m_settings.excludeSystemJunkFromIndex;

    if (startupScan && previousCount == 0) {
        const int batchSize = m_env.startupScanBatchSize;
        const int finalAttempts = m_env.startupScanFinalWriteAttempts;
        // The batches are written on the worker; each one's count is handed to
        // the GUI thread, in order, ahead of the job's own completion.
        auto scanning = onPool([store = m_indexStore, scanner = m_scanner, roots, excluded, junk, batchSize, finalAttempts,
                                token, guard] {
            ScanBatchWriter writer(store);
            int batches = 0;
            const auto post = [&](const ScanBatchWriter::Outcome& outcome) {
                QString failure;
                if (outcome.error)
                    failure = ScanBatchWriter::isBusy(*outcome.error)
                                  ? QStringLiteral("索引数据库正被其他程序占用，稍后重试写入")
                                  : QString::fromStdString(outcome.error->description());
                const std::int64_t count = outcome.written > 0 ? store->indexedCount() : 0;
                batches += outcome.written;
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [guard, token, failure, count, number = batches, written = outcome.written] {
                        if (!guard || token->isCancelled())
                            return;
                        if (written > 0)
                            guard->publishScanBatch(count, number);
                        if (!failure.isEmpty())
                            guard->setStatusMessage(failure);
                    },
                    Qt::QueuedConnection);
            };
            auto onBatch = [&](const std::vector<IndexedItem>& batch) {
                if (!token->isCancelled())
                    post(writer.add(batch));
            };
            scanner.scanInBatches(outermostRoots(roots), excluded, junk, batchSize, onBatch, token.get());
            // Each try waits out the busy timeout: a lock held a little longer
            // than one batch's wait still lets the scan finish.
            for (int attempt = 0; attempt < finalAttempts && writer.pending() > 0 && !token->isCancelled(); ++attempt)
                post(writer.flush());
            return writer.pending() == 0;
        });
        const bool wroteAll = co_await scanning;
        if (!guard || token->isCancelled())
            co_return;
        m_storeRecovery->afterLocalWrites();
        auto counting = onPool([store = m_indexStore] { return store->indexedCount(); });
        const std::int64_t count = co_await counting;
        if (!guard || token->isCancelled())
            co_return;
        if (!wroteAll) {
            endIncompleteScan(count);
            co_return;
        }
        completeRebuild(count, QStringLiteral("启动扫描完成，共 %1 项").arg(count), roots);
        // The bootstrap handed the empty index to this scan without starting
        // the tagger: without this the first session would tag nothing.
        if (m_settings.enableImageFuzzySearch)
            startImageTagging();
        co_return;
    }

    auto rebuilding = onPool([store = m_indexStore, scanner = m_scanner, roots, rootsToReplace, excluded, junk, token] {
        return scanAndReplace(*store, scanner, roots, rootsToReplace, excluded, junk, *token);
    });
    const RescanOutcome outcome = co_await rebuilding;
    if (!guard || token->isCancelled() || outcome.cancelled)
        co_return;
    m_storeRecovery->afterLocalWrites();
    if (outcome.error) {
        setStatusMessage(QString::fromStdString(outcome.error->description()));
        setIndexing(false);
        co_return;
    }
    completeRebuild(outcome.count,
                    startupScan ? QStringLiteral("启动扫描完成，共 %1 项").arg(outcome.count)
                                : QStringLiteral("索引完成，共 %1 项").arg(outcome.count),
                    roots);
    if (startupScan && m_settings.enableImageFuzzySearch)
        startImageTagging();  // as above, for a half-built index scanned again
}

} // namespace pallix
