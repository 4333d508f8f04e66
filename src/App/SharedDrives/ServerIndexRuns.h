#pragma once
// ServerIndexRuns: the runs that fill the shared-drive index. The first scan
// walks the roots while the index is empty; the manual update walks them again,
// adding and refreshing rows; the resume check starts a manual update when the
// run markers show that the last run was cut short; the daily scan adds, at
// most once a day at launch, the files changed in the last day. No run removes
// a row. The share trees are walked gently: one listing at a time, never into
// another mount below a share.
//
// Owned by SharedDrives, whose status it publishes; GUI thread only. The
// walks run on the context's pool and write the shared-drive store there;
// progress is posted to the GUI thread, where every published field and run
// marker is written after re-checking that its owner lives and the run's token
// has not fired. A run whose token fired (the application is going) writes no
// completion marker, which is what lets the next launch resume it; so does a
// run that lost a share mid-run or could not write some of its batches, after
// saying so in the status line. A walk that ended but could not read some
// folders finished with errors: it is complete, and says how many.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QString>

#include "App/Async/JobHandle.h"
#include "Core/Indexer/FileScanner.h"
#include "Core/Models/IndexedItem.h"
#include "Platform/Clock.h"

namespace pallix {

class AppContext;
class SharedDrives;

class ServerIndexRuns {
public:
    static constexpr int kRunBatchSize = 5500;
    static constexpr int kDailyBatchSize = 4500;
    static constexpr double kDailyIntervalSeconds = 86400;

    // `isLocalIndexing`: see SharedDrives. `listingFault` is the scanner's
    // test seam, passed on to the share walks.
    ServerIndexRuns(const AppContext& context, SharedDrives& drives, std::function<bool()> isLocalIndexing,
                    FileScanner::ListingFault listingFault);

    void startServerFullScanIfNeeded();
    void refreshServerIndexManually();
    void maybeResumeServerIndexIfInterrupted();
    // Decides at once and starts the daily scan when due; does not wait for it.
    QCoro::Task<> maybeRunServerIncrementalScanOnLaunch();

    // A first scan or manual update holds the run handle.
    bool isRunActive() const;
    // Stops the run holding the handle; the daily scan stops only at the application's end.
    void cancel();

    // The run markers: wall-clock seconds since 1970, none when absent.
    std::optional<double> serverIndexRunStartedAt() const;
    std::optional<double> serverIndexRunCompletedAt() const;
    std::optional<double> serverLastIncrementalScanAt() const;

    // What a run keeps of the scanned items: folders, and images, videos and
    // documents (with presentations). The daily rule keeps folders, and images
    // and documents modified at or after `cutoff`.
    static bool passesFullKeepRule(const IndexedItem& item);
    static bool passesDailyKeepRule(const IndexedItem& item, double cutoff);

    enum class RunKind { FirstScan, ManualUpdate };

    // What a first scan or manual update could not do. A share gone or a
    // batch not written makes the run incomplete: it says so and writes no
    // completion marker. Unreadable folders alone do not: walking them again
    // would fail the same way at every launch.
    struct RunOutcome {
        std::int64_t count = 0;           // rows in the index at the end
        std::int64_t unreadable = 0;      // folders and entries the walk could not read
        std::int64_t vanishedShares = 0;  // roots gone or unmounted during the walk
        std::int64_t failedWrites = 0;    // batches the store refused
        bool isIncomplete() const { return vanishedShares > 0 || failedWrites > 0; }
    };
    // The status line of an incomplete run; `resumesAtLaunch`: the next launch takes it up.
    static QString incompleteText(const RunOutcome& outcome, bool resumesAtLaunch);
    // The status line of a finished run that added `added` rows.
    static QString finishedText(RunKind kind, const RunOutcome& outcome, std::int64_t added);

private:
    std::vector<std::string> runRoots() const;
    void startRun(RunKind kind, std::vector<std::string> roots);
    QCoro::Task<> runFull(RunKind kind, std::vector<std::string> roots, std::shared_ptr<CancelToken> token);
    QCoro::Task<> runDaily(std::vector<std::string> roots, std::vector<std::string> excluded, bool junk,
                           std::shared_ptr<CancelToken> token);
    void publishProgress(RunKind kind, std::int64_t count, std::int64_t base);
    void finishRun(RunKind kind, const RunOutcome& outcome, std::int64_t base);
    void stamp(const std::string& key);

    const AppContext& m_context;
    SharedDrives& m_drives;
    std::function<bool()> m_isLocalIndexing;
    FileScanner m_scanner;  // read-ahead off, stays on each share's file system
    JobHandle m_runTask;    // the first scan or manual update
};

} // namespace pallix
