#include "App/SharedDrives/ServerIndexRuns.h"

#include <algorithm>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>

#include "App/Context/AppContext.h"
#include "App/SharedDrives/ServerRoots.h"
#include "App/SharedDrives/SharedDrives.h"
#include "Core/Config/EditionRule.h"
#include "Core/IndexDB/IndexStore.h"

namespace pallix {

namespace {

const std::string& startedKey()
{
    static const std::string key = editionDefaultsKey(DefaultsName::ServerIndexRunStartedAt);
    return key;
}

const std::string& completedKey()
{
    static const std::string key = editionDefaultsKey(DefaultsName::ServerIndexRunCompletedAt);
    return key;
}

const std::string& dailyKey()
{
    static const std::string key = editionDefaultsKey(DefaultsName::ServerLastIncrementalScanAt);
    return key;
}

FileScanner::Options shareWalkOptions(FileScanner::ListingFault listingFault)
{
    // A share answers each listing over the network: reading ahead would put
    // several requests at once on a server the whole team uses.
    FileScanner::Options options;
    options.readAheadThreads = 0;
    options.listingFault = std::move(listingFault);
    options.stayOnRootFileSystem = true;
    return options;
}

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isPresentation(const std::string& extension)
{
    return extension == "ppt" || extension == "pptx";
}

bool isProgressBatch(int number)
{
    return number == 1 || number % 6 == 0;
}

// A share root's folder and the file system it lies on; none when it cannot
// be read. A share that is unmounted mid-run leaves its mount point behind,
// an empty folder on another file system, or nothing at all.
struct ShareMount {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const ShareMount&) const = default;
};

std::vector<std::optional<ShareMount>> mountsOf(const std::vector<std::string>& roots)
{
    std::vector<std::optional<ShareMount>> mounts;
    for (const std::string& root : roots) {
        struct stat status {};
        if (::stat(root.c_str(), &status) == 0)
            mounts.push_back(ShareMount{status.st_dev, status.st_ino});
        else
            mounts.push_back(std::nullopt);
    }
    return mounts;
}

// The roots readable before the walk that are gone or another folder after it.
std::int64_t countVanished(const std::vector<std::optional<ShareMount>>& before,
                           const std::vector<std::optional<ShareMount>>& after)
{
    std::int64_t vanished = 0;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
        if (before[i] && before[i] != after[i])
            ++vanished;
    return vanished;
}

} // namespace

ServerIndexRuns::ServerIndexRuns(const AppContext& context, SharedDrives& drives, std::function<bool()> isLocalIndexing,
                                 FileScanner::ListingFault listingFault)
    : m_context(context),
      m_drives(drives),
      m_isLocalIndexing(std::move(isLocalIndexing)),
      m_scanner(shareWalkOptions(std::move(listingFault)))
{
}

bool ServerIndexRuns::passesFullKeepRule(const IndexedItem& item)
{
    if (item.isDirectory())
        return true;
    const std::string ext = lowered(item.fileExtension());
    return kinds::isImageExtension(ext) || kinds::isVideoExtension(ext) || kinds::isDocumentExtension(ext)
           || isPresentation(ext);
}

bool ServerIndexRuns::passesDailyKeepRule(const IndexedItem& item, double cutoff)
{
    if (item.isDirectory())
        return true;
    if (item.modifiedAt() < cutoff)
        return false;
    const std::string ext = lowered(item.fileExtension());
    return kinds::isImageExtension(ext) || kinds::isDocumentExtension(ext) || isPresentation(ext);
}

std::optional<double> ServerIndexRuns::serverIndexRunStartedAt() const { return m_context.defaults().date(startedKey()); }
std::optional<double> ServerIndexRuns::serverIndexRunCompletedAt() const { return m_context.defaults().date(completedKey()); }
std::optional<double> ServerIndexRuns::serverLastIncrementalScanAt() const { return m_context.defaults().date(dailyKey()); }

bool ServerIndexRuns::isRunActive() const
{
    return m_runTask.isActive();
}

void ServerIndexRuns::cancel()
{
    m_runTask.cancel();
}

void ServerIndexRuns::stamp(const std::string& key)
{
    m_context.defaults().setDate(key, m_context.clock().clock().wallSecondsSince1970());
}

std::vector<std::string> ServerIndexRuns::runRoots() const
{
    std::vector<std::string> roots;
    for (const std::string& root : m_context.settings().serverIndexedRoots)
        roots.push_back(paths::standardize(root));
    return roots;
}

void ServerIndexRuns::startServerFullScanIfNeeded()
{
    if (!m_context.settings().enableServerIndexing)
        return;
    std::vector<std::string> roots = runRoots();
    if (roots.empty()) {
        m_drives.roots().beginServerAutoDetectIfNeeded();
        return;
    }
    if (m_runTask.isActive())
        return;
    startRun(RunKind::FirstScan, std::move(roots));
}

void ServerIndexRuns::refreshServerIndexManually()
{
    if (!m_context.settings().enableServerIndexing) {
        m_drives.setServerIndexStatusText(QStringLiteral("请先开启共享盘索引"));
        return;
    }
    std::vector<std::string> roots = runRoots();
    if (roots.empty()) {
        m_drives.roots().beginServerAutoDetectIfNeeded();
        return;
    }
    if (m_runTask.isActive()) {
        m_drives.setServerIndexStatusText(QStringLiteral("共享盘索引正在运行中…"));
        return;
    }
    startRun(RunKind::ManualUpdate, std::move(roots));
}

void ServerIndexRuns::maybeResumeServerIndexIfInterrupted()
{
    if (!m_context.settings().enableServerIndexing || runRoots().empty() || m_runTask.isActive())
        return;
    const std::optional<double> started = serverIndexRunStartedAt();
    if (!started)
        return;
    const double completed = serverIndexRunCompletedAt().value_or(kDistantPast);
    if (*started <= completed)
        return;
    m_drives.setServerIndexStatusText(QStringLiteral("检测到上次共享盘索引中断，正在自动续扫…"));
    refreshServerIndexManually();
}

void ServerIndexRuns::startRun(RunKind kind, std::vector<std::string> roots)
{
    m_runTask = JobHandle::start();
    runFull(kind, std::move(roots), m_runTask.token());
}

QCoro::Task<> ServerIndexRuns::runFull(RunKind kind, std::vector<std::string> roots, std::shared_ptr<CancelToken> token)
{
    QPointer<SharedDrives> guard(&m_drives);
    const auto store = m_context.stores().server;
    auto counting = m_context.onPool([store] { return store->indexedCount(); });
    const std::int64_t base = co_await counting;
    if (!guard || token->isCancelled())
        co_return;
    if (kind == RunKind::FirstScan && base != 0) {
        m_runTask = {};
        co_return;
    }
    stamp(startedKey());
    m_drives.setServerIndexing(true);
    if (kind == RunKind::FirstScan) {
        const QString text = QStringLiteral("正在建立共享盘索引（首次可能较久）…");
        m_context.setStatusMessage(text);
        m_drives.setServerIndexStatusText(text);
    } else {
        m_drives.setServerIndexStatusText(QStringLiteral("正在更新共享盘索引…"));
    }

    auto scanning = m_context.onPool([scanner = m_scanner, store, roots, kind, base, token, guard,
                                      excluded = m_context.settings().excludedPaths,
                                      junk = m_context.settings().excludeSystemJunkFromIndex] {
        RunOutcome outcome;
        const std::vector<std::optional<ShareMount>> before = mountsOf(roots);
        int batches = 0;
        const ScanReport report = scanner.scanInBatches(roots, excluded, junk, kRunBatchSize,
                                                        [&](const std::vector<IndexedItem>& batch) {
            std::vector<IndexedItem> kept;
            std::copy_if(batch.begin(), batch.end(), std::back_inserter(kept), passesFullKeepRule);
            if (kept.empty() || token->isCancelled())
                return;
            // A failed write loses only its batch; the run goes on, but is not complete.
            if (!store->upsert(kept))
                ++outcome.failedWrites;
            if (!isProgressBatch(++batches))
                return;
            const std::int64_t count = store->indexedCount();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, token, kind, count, base] {
                    if (guard && !token->isCancelled())
                        guard->runs().publishProgress(kind, count, base);
                },
                Qt::QueuedConnection);
        }, token.get());
        outcome.unreadable = static_cast<std::int64_t>(report.unreadablePaths.size());
        outcome.vanishedShares = countVanished(before, mountsOf(roots));
        outcome.count = store->indexedCount();
        return outcome;
    });
    const RunOutcome outcome = co_await scanning;
    // Cut short (the application is going): no completion marker, so the next
    // launch sees the run as interrupted.
    if (!guard || token->isCancelled())
        co_return;
    finishRun(kind, outcome, base);
}

void ServerIndexRuns::publishProgress(RunKind kind, std::int64_t count, std::int64_t base)
{
    m_drives.setServerIndexedCount(count);
    const std::int64_t added = std::max<std::int64_t>(count - base, 0);
    if (kind == RunKind::FirstScan)
        m_drives.setServerIndexStatusText(QStringLiteral("正在建立共享盘索引… 已收录 %1 项").arg(count));
    else if (added < 1)
        m_drives.setServerIndexStatusText(QStringLiteral("正在更新共享盘索引… 已收录 %1 项").arg(count));
    else
        m_drives.setServerIndexStatusText(QStringLiteral("正在更新共享盘索引… 已收录 %1 项（本次 +%2）").arg(count).arg(added));
}

void ServerIndexRuns::finishRun(RunKind kind, const RunOutcome& outcome, std::int64_t base)
{
    const std::int64_t count = outcome.count;
    m_drives.setServerIndexedCount(count);
    m_drives.setServerIndexing(false);
    m_runTask = {};
    if (outcome.isIncomplete()) {
        // Part of the share was not read or not written: no completion
        // marker, so the next launch's resume check walks it again.
        const QString text = incompleteText(outcome, m_context.settings().autoResumeServerIndexingOnLaunch);
        m_drives.setServerIndexStatusText(text);
        m_context.setStatusMessage(text);
        emit m_drives.writesEnded();
        if (kind == RunKind::ManualUpdate && m_context.settings().includeServerInSearch)
            emit m_drives.searchRequested();
        return;
    }
    stamp(completedKey());
    emit m_drives.writesEnded();
    const QString finished = finishedText(kind, outcome, std::max<std::int64_t>(count - base, 0));
    if (kind == RunKind::FirstScan) {
        m_drives.setServerIndexStatusText(count < 1 ? QStringLiteral("共享盘索引为空（请检查挂载与权限）") : finished);
        if (!m_isLocalIndexing())
            m_context.setStatusMessage(finished);
        return;
    }
    m_drives.setServerIndexStatusText(finished);
    if (m_context.settings().includeServerInSearch)
        emit m_drives.searchRequested();
}

QString ServerIndexRuns::finishedText(RunKind kind, const RunOutcome& outcome, std::int64_t added)
{
    QString text = kind == RunKind::FirstScan ? QStringLiteral("共享盘索引已建立（%1 项").arg(outcome.count)
                   : added < 1                ? QStringLiteral("共享盘索引已更新（%1 项，本次无新增").arg(outcome.count)
                                : QStringLiteral("共享盘索引已更新（%1 项，本次 +%2").arg(outcome.count).arg(added);
    if (outcome.unreadable > 0)
        text += QStringLiteral("，%1 处无法读取").arg(outcome.unreadable);
    return text + QStringLiteral("）");
}

QString ServerIndexRuns::incompleteText(const RunOutcome& outcome, bool resumesAtLaunch)
{
    QStringList reasons;
    if (outcome.vanishedShares > 0)
        reasons << QStringLiteral("共享盘在扫描中断开");
    if (outcome.unreadable > 0)
        reasons << QStringLiteral("%1 处无法读取").arg(outcome.unreadable);
    if (outcome.failedWrites > 0)
        reasons << QStringLiteral("%1 批未能写入索引").arg(outcome.failedWrites);
    const QString text = QStringLiteral("共享盘索引未完成（%1），已收录 %2 项")
                             .arg(reasons.join(QStringLiteral("，")))
                             .arg(outcome.count);
    return resumesAtLaunch ? text + QStringLiteral("，下次启动将继续") : text;
}

QCoro::Task<> ServerIndexRuns::maybeRunServerIncrementalScanOnLaunch()
{
    if (!m_context.settings().enableServerIndexing)
        co_return;
    std::vector<std::string> roots = runRoots();
    if (roots.empty())
        co_return;
    const double now = m_context.clock().clock().wallSecondsSince1970();
    if (now - serverLastIncrementalScanAt().value_or(kDistantPast) < kDailyIntervalSeconds)
        co_return;
    // Not kept as a run: it may overlap one, and only the application's end stops it.
    auto token = std::make_shared<CancelToken>();
    m_context.trackDetachedJob(token);
    runDaily(std::move(roots), m_context.settings().excludedPaths, m_context.settings().excludeSystemJunkFromIndex,
             std::move(token));
}

QCoro::Task<> ServerIndexRuns::runDaily(std::vector<std::string> roots, std::vector<std::string> excluded, bool junk,
                                        std::shared_ptr<CancelToken> token)
{
    QPointer<SharedDrives> guard(&m_drives);
    const double cutoff = m_context.clock().clock().wallSecondsSince1970() - kDailyIntervalSeconds;
    auto scanning = m_context.onPool([scanner = m_scanner, store = m_context.stores().server, roots, excluded, junk,
                                      cutoff, token] {
        scanner.scanInBatches(roots, excluded, junk, kDailyBatchSize, [&](const std::vector<IndexedItem>& batch) {
            std::vector<IndexedItem> kept;
            std::copy_if(batch.begin(), batch.end(), std::back_inserter(kept),
                         [cutoff](const IndexedItem& item) { return passesDailyKeepRule(item, cutoff); });
            if (!kept.empty() && !token->isCancelled())
                (void)store->upsert(kept);
        }, token.get());
    });
    co_await scanning;
    if (!guard || token->isCancelled())
        co_return;
    stamp(dailyKey());
    emit m_drives.writesEnded();
}

} // namespace pallix
