#pragma once
// WatcherBatches: keeps the local index in step with the disk while the
// application runs. The watcher's paths gather in a pending set until the
// disk has been quiet for a while (longer while the user types or the
// application is in the background), then go to the store as one batch;
// batches are written one at a time. The start-up's catch-up (what changed
// while the application was not running) is a batch of its own, queued ahead
// of the watcher's.
// A batch costs what changed (LiveChanges) and is written a slice at a time,
// the changes in quiet folders first; a batch handed over goes ahead of the
// slices left of earlier ones, and the slice being written gives way to it
// between two folders, so that a change made elsewhere is not held behind a
// burst. When the index falls behind (the batch's oldest change
// waited for seconds, or its changes lie in many folders) the batch takes
// the backlog's road, listing the folders that hold the changes once each,
// and the status line says the index is catching up until every change
// handed over is written, while the application is in front (in the
// background the line says nothing of this work). A failed write is said in
// the status line with its cause; on a full disk the batch is kept and
// written again later. While another program's write lock keeps a batch out
// of the file, its changes are searchable from the store's cache, the line
// says who holds the index and for how long, and the batch is tried again.
//
// What it needs from the rest of the application comes as hooks the model
// sets (the active roots, whether the user types, whether the application is
// in front); what it does for the rest goes out as signals.
//
// GUI thread only. The watcher delivers on its own thread and hands over to
// the GUI thread; the batches are written on the context's pool, each job
// holding a QPointer to this object.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QString>

#include "App/Context/AppContext.h"
#include "App/Context/AppServices.h"
#include "App/Async/JobHandle.h"
#include "Core/IndexDB/IndexStoreError.h"
#include "Core/Indexer/FileScanner.h"

namespace pallix {

class IndexStore;

class WatcherBatches : public QObject {
    Q_OBJECT

public:
    // Set once by the model, before the first watcher start.
    struct Hooks {
        std::function<std::vector<std::string>()> activeRoots;  // the roots the index covers now
        std::function<bool()> userIsTyping;
        std::function<bool()> appIsInFront;
    };

    WatcherBatches(const AppContext& context, Hooks hooks, QObject* parent = nullptr);

    // (Re)starts the watcher over the active roots with the exclusions, and
    // the home folder and the configured roots watched first.
    void startWatching();
    // Queues the catch-up over `roots` ahead of any watcher batch to come.
    void startCatchUp(std::vector<std::string> roots);
    // Paths have arrived that no batch has taken yet.
    bool hasPendingPaths() const { return !m_pendingPaths.isEmpty(); }

signals:
    // The pending set grew or was handed over; `count` is its size now.
    void pendingPathsChanged(int count);
    // A batch was handed over or finished; `count` counts those handed over
    // and not yet written, the one being written included.
    void unfinishedBatchesChanged(int count);
    // A batch was written; `count` is the store's count afterwards.
    void batchWritten(qint64 count);
    // Writes into the store are done (the store may have started over on them).
    void writesDone();
    // The shown search should be asked again, if there is one: at once after
    // the catch-up, after the usual pause after a batch in front.
    void searchWanted(bool immediate);

private:
    // One handed-over batch of file-system changes and what it was made with.
    struct Batch {
        std::vector<std::string> paths;
        std::vector<std::string> roots;
        std::vector<std::string> excludedPaths;
        bool excludeSystemJunk = true;
        bool foreground = true;  // the application was active when it was handed over
        // No paths: the start's look for what changed while the application
        // was not running (StartupCatchUp) over the roots.
        bool catchUp = false;
        Clock::TimePoint since{};  // the first arrival of its oldest path
        // A slice of a batch cut already: written as it is, nothing joins it.
        bool slice = false;
        // Taken when its oldest change had waited long or its changes lie in
        // many folders: written by the backlog's road.
        bool behind = false;
        // Stops between folders when a batch is handed over meanwhile; a slice
        // that gave way once runs to its end the next time.
        bool mayGiveWay = true;
    };
    struct Outcome {
        std::int64_t count = 0;       // the store's count afterwards
        bool refusedByLock = false;   // a write was refused: the batch stopped there
        bool changedAnything = true;  // of a catch-up: whether it found a change
        bool behind = false;          // written by the backlog's road
        bool gaveWay = false;         // stopped for a batch handed over meanwhile: to be written again
        // Of a batch cut into slices: the paths of the one written, and the
        // others, to queue behind those left of earlier batches.
        std::optional<std::vector<std::string>> written;
        std::vector<std::vector<std::string>> laterSlices;
        std::optional<IndexStoreError> failure;  // a write failed otherwise: the batch stopped there
    };

    RootWatcher& watcher();
    void reportWatchShortfall(const FSEventWatcher::Shortfall& shortfall);
    // The watcher's paths join the pending set, handled once the disk has been quiet.
    void enqueueCoalesced(std::vector<std::string> paths);
    QCoro::Task<> runCoalescing(Clock::Duration delay, std::shared_ptr<CancelToken> token);
    void handleEvents(std::vector<std::string> paths, Clock::TimePoint since);
    void queue(Batch batch);
    void noteUnfinished() { emit unfinishedBatchesChanged(unfinishedBatches()); }
    // Leaves `batch` as the slice the worker wrote; the other slices queue
    // behind those left of earlier batches.
    void putBackTheRest(Batch& batch, Outcome& outcome);
    QCoro::Task<> drainBatches();
    // Writes one batch into the store. Worker thread. `onCatchingUp` is
    // called once when a catch-up has found changes, before it writes them.
    // A batch that is not a slice yet is first cut into slices (worth it on
    // the worker: a burst's batch holds hundreds of thousands of paths), and
    // only the first is written. `waited`: since the oldest change.
    static Outcome applyBatch(IndexStore& store, const FileScanner& scanner, const Batch& taken, Clock::Duration waited,
                              const CancelToken* cancel, const std::function<void()>& onCatchingUp,
                              const std::function<bool()>& giveWay);
    void finishBatch(const Batch& batch, const Outcome& outcome);
    // Progress of the live index is shown only while the application is in
    // front, as it was when the batch was handed over.
    bool showsProgress(bool foreground) const;
    void sayOnTheLine(const QString& text);
    // Whether a batch's end is said: in front, or to replace what was said of it.
    bool saysOutcome(bool foreground);
    // Another program's write lock kept a batch out of the file (its changes
    // are in the store's cache): said with how long the index has been held.
    void noteKeptOut(const Batch& batch, Clock::TimePoint began, std::int64_t count);
    // The shown search asked again after a batch written in front.
    void searchAgainAfterBatch();
    int unfinishedBatches() const { return static_cast<int>(m_batches.size()) + (m_draining ? 1 : 0); }

    const AppContext& m_context;
    Hooks m_hooks;
    FileScanner m_scanner;
    std::unique_ptr<RootWatcher> m_watcher;  // created on first use
    bool m_watchShortfallReported = false;    // the status line said it once
    QSet<QString> m_pendingPaths;
    std::optional<Clock::TimePoint> m_pendingSince;  // first arrival of the pending set
    JobHandle m_coalesceTask;                        // the wait a newer arrival restarts
    std::deque<Batch> m_batches;  // handed over, waiting for the one before
    bool m_draining = false;      // a batch is being written
    // A batch was handed over while another is written: read by the worker.
    std::shared_ptr<std::atomic<bool>> m_handedOverMeanwhile = std::make_shared<std::atomic<bool>>(false);
    bool m_behind = false;        // the status line says the live index is catching up
    // The status line holds what this object said of work under way.
    bool m_lineHoldsOurClaim = false;
    // Since when writes have been kept out by another program's lock.
    std::optional<Clock::TimePoint> m_keptOutSince;
    // When a batch with more to come last asked for the search again.
    std::optional<Clock::TimePoint> m_lastSearchAsked;
};

} // namespace pallix
