#include "App/Indexing/LocalIndex.h"

#include <algorithm>

#include <sqlite3.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "Core/Config/EditionRule.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/ScanBatchWriter.h"
#include "Platform/MountedVolumes.h"

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

LocalIndex::LocalIndex(const AppContext& context, std::int64_t startupCount, QObject* parent)
    : QObject(parent),
      m_context(context),
      m_scanner(context.environment().scanner),
      m_runMarkers(context.environment().defaults),
      m_indexedCount(startupCount)
{
}

const std::string& LocalIndex::lastIndexedCountKey()
{
    static const std::string key = editionDefaultsKey(DefaultsName::LastIndexedCount);
    return key;
}

const std::string& LocalIndex::lastIndexedRootsKey()
{
    static const std::string key = editionDefaultsKey(DefaultsName::LastIndexedRoots);
    return key;
}

std::int64_t LocalIndex::loadIndexedCountFromDatabase(const std::filesystem::path& database)
{
    // Its own read-only connection, made before the store opens the file: the
    // window gets a number at once without waiting for the store.
    sqlite3* db = nullptr;
    std::int64_t count = 0;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM file_index;", -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(db);
    return count;
}

void LocalIndex::setIndexing(bool indexing)
{
    if (indexing == m_isIndexing)
        return;
    m_isIndexing = indexing;
    emit isIndexingChanged();
}

void LocalIndex::setIndexedCount(qint64 count)
{
    if (count == m_indexedCount)
        return;
    m_indexedCount = count;
    emit indexedCountChanged();
}

std::vector<std::string> LocalIndex::activeIndexedRoots() const
{
    std::vector<std::string> combined;
    for (const std::string& root : m_context.settings().indexedRoots)
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

std::vector<std::string> LocalIndex::discoverMountedRoots() const
{
    std::vector<std::string> roots;
    if (const auto volumes = m_context.environment().volumes->mountedVolumes()) {
        for (const MountedVolume& volume : *volumes) {
            if (!volume.isLocal())
                continue;
            if (!m_context.settings().autoIndexExternalVolumes && volume.isRemovable)
                continue;
            roots.push_back(paths::standardize(volume.mountPoint));
        }
    }
    if (roots.empty())
        roots.push_back("/");
    return roots;
}

bool LocalIndex::hasMountedRemovableVolumes() const
{
    const auto volumes = m_context.environment().volumes->mountedVolumes();
    return volumes && std::any_of(volumes->begin(), volumes->end(), [](const MountedVolume& volume) {
               return volume.isLocal() && volume.isRemovable;
           });
}

std::vector<std::string> LocalIndex::lastIndexedRootsSnapshot() const
{
    std::vector<std::string> roots =
        m_context.defaults().stringList(lastIndexedRootsKey()).value_or(std::vector<std::string>{});
    for (std::string& root : roots)
        root = paths::standardize(root);
    return roots;
}

void LocalIndex::persistIndexedRootsSnapshot(std::vector<std::string> roots)
{
    std::sort(roots.begin(), roots.end());
    m_context.defaults().setStringList(lastIndexedRootsKey(), roots);
}

QCoro::Task<std::vector<std::string>> LocalIndex::missingIndexedRoots(std::vector<std::string> roots)
{
    auto probing = m_context.onPool([store = m_context.stores().local, roots] {
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

bool LocalIndex::shouldPerformBackgroundRootRefresh(const std::vector<std::string>& currentRoots,
                                                    const std::vector<std::string>& previousRoots, bool rootsIndexed)
{
    if (!rootsIndexed)
        return true;
    std::vector<std::string> current;
    for (const std::string& root : currentRoots)
        current.push_back(paths::standardize(root));
    return sortedCopy(std::move(current)) != sortedCopy(previousRoots);
}

std::vector<std::string> LocalIndex::removedIndexedRoots(const std::vector<std::string>& currentRoots,
                                                         const std::vector<std::string>& previousRoots)
{
    std::vector<std::string> removed;
    for (const std::string& previous : previousRoots) {
        if (std::find(currentRoots.begin(), currentRoots.end(), previous) == currentRoots.end())
            removed.push_back(previous);
    }
    return removed;
}

std::vector<std::string> LocalIndex::rootsToRescan(const std::vector<std::string>& currentRoots,
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

void LocalIndex::addIndexedRoot(const QString& path)
{
    const std::string root = path.isEmpty() ? std::string() : paths::standardize(path.toStdString());
    if (root.empty())
        return;
    const std::vector<std::string>& configured = m_context.settings().indexedRoots;
    if (std::find(configured.begin(), configured.end(), root) != configured.end())
        return;
    m_context.writeSettings([&root](AppSettings& record) { record.indexedRoots.push_back(root); });
    emit watcherRestartWanted();
    rebuildIndex(false);
}

void LocalIndex::removeIndexedRoot(const std::set<int>& offsets)
{
    m_context.writeSettings([&offsets](AppSettings& record) {
        for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) {
            if (*it >= 0 && static_cast<std::size_t>(*it) < record.indexedRoots.size())
                record.indexedRoots.erase(record.indexedRoots.begin() + *it);
        }
    });
    emit watcherRestartWanted();
    rebuildIndex(false);
}

void LocalIndex::refreshIndexedRootsInBackground(std::vector<std::string> currentRoots,
                                                 std::vector<std::string> previousRoots,
                                                 std::vector<std::string> missingRoots)
{
    const std::vector<std::string> removed = removedIndexedRoots(currentRoots, previousRoots);
    if (missingRoots.empty() && removed.empty()) {
        persistIndexedRootsSnapshot(std::move(currentRoots));
        return;
    }
    m_context.setStatusMessage(QStringLiteral("已进入搜索，可后台同步磁盘索引"));
    beginIndexRun(currentRoots);
    std::vector<std::string> toScan = rootsToRescan(currentRoots, missingRoots, removed);
    std::vector<std::string> toReplace = distinctUnion(missingRoots, removed);
    runBackgroundRefresh(std::move(currentRoots), std::move(toScan), std::move(toReplace));
}

QCoro::Task<> LocalIndex::runBackgroundRefresh(std::vector<std::string> currentRoots,
                                               std::vector<std::string> rootsToScan,
                                               std::vector<std::string> rootsToReplace)
{
    QPointer<LocalIndex> guard(this);
    // Nothing keeps or cancels this job but the model's end.
    auto token = std::make_shared<CancelToken>();
    m_context.trackDetachedJob(token);
    const std::vector<std::string> excluded = m_context.settings().excludedPaths;
    const bool junk = m_context.settings().excludeSystemJunkFromIndex;

    auto refreshing = m_context.onPool(
        [store = m_context.stores().local, scanner = m_scanner, rootsToScan, rootsToReplace, excluded, junk, token] {
            return scanAndReplace(*store, scanner, rootsToScan, rootsToReplace, excluded, junk, *token);
        });
    const RescanOutcome outcome = co_await refreshing;
    if (!guard || token->isCancelled())
        co_return;
    emit writesDone();
    if (outcome.error) {
        m_context.setStatusMessage(QString::fromStdString(outcome.error->description()));
        co_return;
    }
    publishIndexedCount(outcome.count);
    persistIndexedRootsSnapshot(std::move(currentRoots));
    completeIndexRun();
    m_context.setStatusMessage(QStringLiteral("后台同步完成，共 %1 项").arg(outcome.count));
    emit searchWanted();
}

void LocalIndex::rebuildIndex(bool startupScan)
{
    m_rebuildTask.cancel();
    setIndexing(true);
    m_context.setStatusMessage(startupScan ? QStringLiteral("启动后正在完整扫描本机与外接硬盘...")
                                 : QStringLiteral("正在建立索引..."));
    std::vector<std::string> roots = activeIndexedRoots();
    std::vector<std::string> toReplace = distinctUnion(roots, lastIndexedRootsSnapshot());
    // The rows under the roots of an unfinished walk are as unsure as the others.
    if (const auto unfinished = m_runMarkers.unfinishedRoots())
        toReplace = distinctUnion(toReplace, *unfinished);
    beginIndexRun(roots);
    m_rebuildTask = JobHandle::start();
    // Tracked too, so that the model's end stops a walk under way.
    m_context.trackDetachedJob(m_rebuildTask.token());
    runRebuild(startupScan, std::move(roots), std::move(toReplace), m_indexedCount, m_rebuildTask);
}

void LocalIndex::publishIndexedCount(std::int64_t count)
{
    setIndexedCount(count);
    m_context.defaults().setIntegerSoon(lastIndexedCountKey(), count);
    // The index changed under the shown list, so it no longer stands for the
    // whole answer: searching the same text again must ask the store, or a
    // deleted file would be narrowed back onto the screen.
    emit contentChanged();
}

void LocalIndex::adoptStoredCount(std::int64_t count)
{
    setIndexedCount(count);
    m_context.defaults().setInteger(lastIndexedCountKey(), m_indexedCount);
}

void LocalIndex::beginIndexRun(const std::vector<std::string>& roots)
{
    m_runMarkers.begin(roots, wallClockSeconds());
}

void LocalIndex::completeIndexRun()
{
    m_runMarkers.complete(wallClockSeconds());
}

void LocalIndex::publishScanBatch(std::int64_t count, int batchNumber)
{
    publishIndexedCount(count);
    m_context.setStatusMessage(QStringLiteral("启动扫描中，已可搜索 %1 项").arg(count));
    // Searching after every batch would redo the whole search for each 5500
    // items; the first batch and every sixth keep the list fresh enough.
    if (batchNumber == 1 || batchNumber % 6 == 0)
        emit searchWanted();
}

void LocalIndex::endIncompleteScan(std::int64_t count)
{
    // The run is not recorded as done: the next start scans the roots again.
    publishIndexedCount(count);
    m_context.setStatusMessage(QStringLiteral("索引数据库正忙，部分扫描结果未能写入，下次启动将重新扫描"));
    emit watcherRestartWanted();
    setIndexing(false);
}

void LocalIndex::completeRebuild(std::int64_t count, const QString& text, const std::vector<std::string>& roots)
{
    publishIndexedCount(count);
    m_context.setStatusMessage(text);
    persistIndexedRootsSnapshot(roots);
    completeIndexRun();
    emit watcherRestartWanted();
    setIndexing(false);
    emit searchWanted();
}

QCoro::Task<> LocalIndex::runRebuild(bool startupScan, std::vector<std::string> roots,
                                     std::vector<std::string> rootsToReplace, std::int64_t previousCount, JobHandle job)
{
    QPointer<LocalIndex> guard(this);
    const auto token = job.token();
    const std::vector<std::string> excluded = m_context.settings().excludedPaths;
    const bool junk = m_context.settings().excludeSystemJunkFromIndex;

    if (startupScan && previousCount == 0) {
        const int batchSize = m_context.environment().startupScanBatchSize;
        const int finalAttempts = m_context.environment().startupScanFinalWriteAttempts;
        // The batches are written on the worker; each one's count is handed to
        // the GUI thread, in order, ahead of the job's own completion.
        auto scanning = m_context.onPool([store = m_context.stores().local, scanner = m_scanner, roots, excluded, junk,
                                          batchSize, finalAttempts, token, guard] {
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
                            guard->m_context.setStatusMessage(failure);
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
        emit writesDone();
        auto counting = m_context.onPool([store = m_context.stores().local] { return store->indexedCount(); });
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
        if (m_context.settings().enableImageFuzzySearch)
            emit imageTaggingWanted();
        co_return;
    }

    auto rebuilding = m_context.onPool(
        [store = m_context.stores().local, scanner = m_scanner, roots, rootsToReplace, excluded, junk, token] {
            return scanAndReplace(*store, scanner, roots, rootsToReplace, excluded, junk, *token);
        });
    const RescanOutcome outcome = co_await rebuilding;
    if (!guard || token->isCancelled() || outcome.cancelled)
        co_return;
    emit writesDone();
    if (outcome.error) {
        m_context.setStatusMessage(QString::fromStdString(outcome.error->description()));
        setIndexing(false);
        co_return;
    }
    completeRebuild(outcome.count,
                    startupScan ? QStringLiteral("启动扫描完成，共 %1 项").arg(outcome.count)
                                : QStringLiteral("索引完成，共 %1 项").arg(outcome.count),
                    roots);
    if (startupScan && m_context.settings().enableImageFuzzySearch)
        emit imageTaggingWanted();  // as above, for a half-built index scanned again
}

} // namespace pallix
