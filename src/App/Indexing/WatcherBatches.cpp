#include "App/Indexing/WatcherBatches.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <unordered_set>
#include <utility>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/Sqlite.h"
#include "Core/Indexer/LiveChanges.h"
#include "Core/Indexer/StartupCatchUp.h"
#include "App/Preview/FolderContentInspector.h"
#include "Platform/AllocatorArenas.h"
#include "Platform/FileNames.h"

namespace pallix {

using namespace std::chrono_literals;

namespace {

constexpr auto kCoalesceWhileTyping = 1500ms;
constexpr auto kCoalesceInFront = 300ms;
constexpr auto kCoalesceInBackground = 1800ms;
// Under constant churn every delivery would restart the wait and the batch
// would never run: it runs at the latest this long after its first path.
constexpr Clock::Duration kCoalesceAtMost = LiveChanges::kHandOverAtMost;

// Another program held the database's write lock for longer than the
// connection waits: the batch must be written again later.
constexpr auto kRetryRefusedBatch = 2000ms;

// While batches follow each other, the shown search is asked again at most this often.
constexpr auto kSearchAgainDuringBatchesEvery = 3000ms;

// A disk full under the index: the batch is kept and written again later.
constexpr auto kRetryFullDisk = 10000ms;

bool isDiskFull(const IndexStoreError& error) { return (error.sqliteCode & 0xff) == SQLITE_FULL; }

// A write that failed, said with its cause, and what the index holds.
QString writeFailureText(const IndexStoreError& error, std::int64_t count)
{
    if (isDiskFull(error))
        // The message already says the disk is full, with SQLite's own words.
        return QStringLiteral("%1：实时索引的变化未能写入，空间恢复后会再写入；索引共 %2 项")
            .arg(QString::fromStdString(error.message))
            .arg(count);
    return QStringLiteral("实时索引的变化未能写入（%1）；索引共 %2 项")
        .arg(QString::fromStdString(error.description()))
        .arg(count);
}

// A refusal by another program's lock is tried again as it is; any other
// failed write is said.
template <typename Outcome>
void noteFailure(Outcome& outcome, const std::optional<IndexStoreError>& error)
{
    if (!error)
        return;
    if (sqlite::isTransient(error->sqliteCode))
        outcome.refusedByLock = true;
    else
        outcome.failure = error;
}

// The first batch handed over, with the ones queued behind it under the same
// rules folded in. Each location is looked at as it is when the batch runs,
// so a path handed over twice is looked at once and nothing is lost; a burst
// then goes in a few large batches instead of many small ones, each paying
// for its folders' listings and the store's writes. A batch handed over goes
// ahead of the slices left of earlier ones, so that a change made meanwhile
// is not held behind a burst; the order loses nothing for the same reason.
template <typename Batch>
Batch takeCoalesced(std::deque<Batch>& queue)
{
    auto at = std::find_if(queue.begin(), queue.end(), [](const Batch& batch) { return !batch.slice; });
    if (at == queue.end())
        at = queue.begin();
    Batch batch = std::move(*at);
    at = queue.erase(at);
    if (batch.slice)
        return batch;
    std::unordered_set<std::string> seen(batch.paths.begin(), batch.paths.end());
    while (!batch.catchUp && at != queue.end() && !at->slice && !at->catchUp && at->roots == batch.roots
           && at->excludedPaths == batch.excludedPaths && at->excludeSystemJunk == batch.excludeSystemJunk) {
        for (std::string& path : at->paths)
            if (seen.insert(path).second)
                batch.paths.push_back(std::move(path));
        batch.foreground = at->foreground;  // as the latest hand-over found the application
        batch.since = std::min(batch.since, at->since);
        at = queue.erase(at);
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
    // The application's own databases change with every write it makes, the
    // batch's own included: taken in, each batch would bring on the next, and
    // a search with it, for ever.
    const std::shared_ptr<IndexStore>& store = m_context.stores().local;
    const std::string own = store ? paths::standardize(store->databaseURL().parent_path().string()) : std::string();
    bool arrived = paths.empty();
    for (const std::string& path : paths) {
        std::string standard = paths::standardize(path);
        if (!own.empty() && paths::isUnder(standard, own))
            continue;
        m_pendingPaths.insert(QString::fromStdString(standard));
        arrived = true;
    }
    if (!arrived)
        return;
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
    const Clock::TimePoint since = m_pendingSince.value_or(m_context.clock().now());
    m_pendingSince.reset();
    std::vector<std::string> paths;
    paths.reserve(m_pendingPaths.size());
    for (const QString& path : std::as_const(m_pendingPaths))
        paths.push_back(path.toStdString());
    m_pendingPaths.clear();
    emit pendingPathsChanged(0);
    if (!paths.empty())
        handleEvents(std::move(paths), since);
}

void WatcherBatches::handleEvents(std::vector<std::string> paths, Clock::TimePoint since)
{
    // The folders' content hints are remembered: a changed folder must be
    // looked at again. Forgetting never waits for a listing, so it runs
    // here: a job per batch on the shared pool waited for a hung listing.
    FolderContentInspector::shared().invalidateChanged(paths);
    if (!m_context.settings().keepIndexerInBackground)
        return;
    Batch batch{std::move(paths), m_hooks.activeRoots(), m_context.settings().excludedPaths,
                m_context.settings().excludeSystemJunkFromIndex, m_hooks.appIsInFront()};
    batch.since = since;
    queue(std::move(batch));
}

void WatcherBatches::queue(Batch batch)
{
    if (!batch.catchUp)
        m_handedOverMeanwhile->store(true);
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
        m_handedOverMeanwhile->store(
            std::any_of(m_batches.begin(), m_batches.end(), [](const Batch& b) { return !b.slice && !b.catchUp; }));
        const Clock::TimePoint began = m_context.clock().now();
        const Clock::Duration waited = began - batch.since;
        noteUnfinished();
        auto token = std::make_shared<CancelToken>();
        m_context.trackDetachedJob(token);
        // Said from the worker once the batch knows it is catching up.
        const QString catchingUpText = batch.catchUp ? QStringLiteral("正在补上未运行期间磁盘上的变化…")
                                                     : QStringLiteral("实时索引正在追上磁盘上的变化…");
        auto catchingUp = [guard, catchingUpText, foreground = batch.foreground] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, catchingUpText, foreground] {
                    if (guard && guard->showsProgress(foreground))
                        guard->sayOnTheLine(catchingUpText);
                },
                Qt::QueuedConnection);
        };
        std::function<bool()> giveWay;
        if (batch.mayGiveWay)
            giveWay = [meanwhile = m_handedOverMeanwhile] { return meanwhile->load(); };
        auto applying = m_context.onPool(
            [store = m_context.stores().local, scanner = m_scanner, batch, waited, token, catchingUp, giveWay] {
                return applyBatch(*store, scanner, batch, waited, token.get(), catchingUp, giveWay);
            });
        Outcome outcome = co_await applying;
        if (!guard)
            co_return;
        putBackTheRest(batch, outcome);
        if (outcome.refusedByLock)
            noteKeptOut(batch, began, outcome.count);
        else
            m_keptOutSince.reset();
        const bool diskFull = outcome.failure && isDiskFull(*outcome.failure);
        if (outcome.refusedByLock || diskFull) {
            // Every location is looked at again as it is then, so running the
            // whole batch again loses nothing and repeats nothing; it goes
            // first, ahead of batches handed over after it.
            if (diskFull)
                finishBatch(batch, outcome);
            auto waiting = m_context.clock().sleepFor(diskFull ? kRetryFullDisk : kRetryRefusedBatch, token);
            co_await waiting;
            if (!guard || token->isCancelled())
                co_return;
            m_batches.push_front(std::move(batch));
            noteUnfinished();
            continue;
        }
        if (outcome.gaveWay) {
            // Behind the batch it gave way to, ahead of the other slices.
            Batch again = batch;
            again.mayGiveWay = false;
            m_batches.push_front(std::move(again));
            noteUnfinished();
        }
        finishBatch(batch, outcome);
    }
    m_draining = false;
    noteUnfinished();
    // What the batches freed (rows, listings, the page cache past its kept
    // size, the table's rewritten folders) stays resident in the allocator's
    // arenas otherwise, however long the window then rests: beside a running
    // test suite the process rested at 389 MiB, with this at 164. About a
    // millisecond a time.
    (void)m_context.onPool([] { returnFreedMemory(); });
}

void WatcherBatches::putBackTheRest(Batch& batch, Outcome& outcome)
{
    batch.behind = outcome.behind;
    if (!outcome.written)
        return;
    batch.paths = std::move(*outcome.written);
    batch.slice = true;  // written as it is if it must be written again
    for (std::vector<std::string>& slice : outcome.laterSlices) {
        Batch later{std::move(slice), batch.roots, batch.excludedPaths, batch.excludeSystemJunk, batch.foreground};
        later.since = batch.since;
        later.slice = true;
        m_batches.push_back(std::move(later));
    }
    noteUnfinished();
}

WatcherBatches::Outcome WatcherBatches::applyBatch(IndexStore& store, const FileScanner& scanner,
                                                   const Batch& taken, Clock::Duration waited,
                                                   const CancelToken* cancel,
                                                   const std::function<void()>& onCatchingUp,
                                                   const std::function<bool()>& giveWay)
{
    if (taken.catchUp) {
        const CatchUpOutcome caught = StartupCatchUp::run(store, scanner, taken.roots, taken.excludedPaths,
                                                          taken.excludeSystemJunk, cancel, onCatchingUp);
        Outcome outcome;
        noteFailure(outcome, caught.error);
        outcome.changedAnything = caught.changedAnything();
        outcome.count = store.indexedCount();
        return outcome;
    }
    // A write refused by another program's lock ends the batch, to be run
    // again; so does any other failed write, said in the status line.
    const LiveScope scope{taken.roots, taken.excludedPaths, taken.excludeSystemJunk};
    Outcome outcome;
    outcome.behind = LiveChanges::isBehind(taken.paths, taken.roots, waited);
    std::vector<std::string> paths;
    if (taken.slice) {
        paths = taken.paths;
    } else {
        std::vector<std::vector<std::string>> slices = LiveChanges::slices(taken.paths, taken.roots);
        if (!slices.empty()) {
            paths = std::move(slices.front());
            outcome.laterSlices.assign(std::make_move_iterator(slices.begin() + 1),
                                       std::make_move_iterator(slices.end()));
        }
        outcome.written = paths;
    }
    if (outcome.behind && onCatchingUp)
        onCatchingUp();
    const LiveOutcome live = LiveChanges::write(store, scanner, paths, scope, outcome.behind, cancel, giveWay);
    noteFailure(outcome, live.error);
    outcome.gaveWay = live.gaveWay;
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

bool WatcherBatches::showsProgress(bool foreground) const
{
    return foreground && m_hooks.appIsInFront();
}

void WatcherBatches::sayOnTheLine(const QString& text)
{
    m_context.setStatusMessage(text, StatusKind::Passing);
    m_lineHoldsOurClaim = true;
}

bool WatcherBatches::saysOutcome(bool foreground)
{
    return std::exchange(m_lineHoldsOurClaim, false) || showsProgress(foreground);
}

void WatcherBatches::noteKeptOut(const Batch& batch, Clock::TimePoint began, std::int64_t count)
{
    if (!m_keptOutSince)
        m_keptOutSince = began;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_context.clock().now() - *m_keptOutSince);
    // The store's cache took the changes: the count and the searches say them.
    emit batchWritten(count);
    m_context.setStatusMessage(
        QStringLiteral("索引数据库正被其他程序占用（已等待 %1 秒）：新的变化已可搜索，占用结束后写入；索引共 %2 项")
            .arg(seconds.count())
            .arg(count));
    m_lineHoldsOurClaim = true;
    if (showsProgress(batch.foreground))
        emit searchWanted(false);
}

void WatcherBatches::finishBatch(const Batch& batch, const Outcome& outcome)
{
    const std::int64_t count = outcome.count;
    emit batchWritten(count);
    emit writesDone();
    if (outcome.failure) {
        m_context.setStatusMessage(writeFailureText(*outcome.failure, count));
        m_lineHoldsOurClaim = false;
        return;
    }
    // In the background the line says nothing of this work, except to take
    // back what it said of it in front: a claim left there would outlive it.
    if (batch.catchUp) {
        if (!outcome.changedAnything)
            return;
        if (saysOutcome(batch.foreground))
            m_context.setStatusMessage(QStringLiteral("已补上未运行期间的变化，共 %1 项").arg(count),
                                       StatusKind::Passing);
        emit searchWanted(true);
        return;
    }
    // Behind, the status line says so until every change handed over is written.
    m_behind = m_behind || outcome.behind;
    if (m_behind) {
        if (!m_batches.empty() || !m_pendingPaths.isEmpty())
            return;
        m_behind = false;
        if (saysOutcome(batch.foreground))
            m_context.setStatusMessage(QStringLiteral("实时索引已追上磁盘上的变化，共 %1 项").arg(count),
                                       StatusKind::Passing);
        if (m_hooks.appIsInFront())
            emit searchWanted(false);
        return;
    }
    if (!saysOutcome(batch.foreground))
        return;
    m_context.setStatusMessage(QStringLiteral("实时索引已更新，共 %1 项").arg(count), StatusKind::Passing);
    if (showsProgress(batch.foreground))
        searchAgainAfterBatch();
}

void WatcherBatches::searchAgainAfterBatch()
{
    // A search holds the store while it runs: asked after every batch of a
    // burst on a busy machine, the searches took most of the store's time and
    // the batches waited behind them. While batches follow each other it is
    // asked at most every few seconds; the last batch of a run always asks.
    const Clock::TimePoint now = m_context.clock().now();
    const bool moreToCome = !m_batches.empty() || !m_pendingPaths.isEmpty();
    if (moreToCome && m_lastSearchAsked && now - *m_lastSearchAsked < kSearchAgainDuringBatchesEvery)
        return;
    m_lastSearchAsked = moreToCome ? std::optional(now) : std::nullopt;
    emit searchWanted(false);
}

} // namespace pallix
