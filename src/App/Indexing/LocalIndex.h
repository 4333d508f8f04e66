#pragma once
// LocalIndex: the local index as the application keeps it: which roots are
// indexed (the configured ones and the mounted local volumes), the full walk
// that rebuilds the index, the batched scan of the first start, the
// background reconciliation of changed roots, the markers of an unfinished
// walk and the published item count. It knows neither the search nor the
// watcher: it says what happened through its signals, which the model
// connects (a changed index to the search, a restart to the watcher, the end
// of its writes to the store's recovery).
//
// GUI thread only. The walks and the store calls run on the context's pool;
// each job holds a QPointer to this object and a cancel token, and publishes
// nothing once this object is gone or its token fired.

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <QCoroTask>
#include <QObject>
#include <QString>

#include "App/Context/AppContext.h"
#include "App/Indexing/IndexRunMarkers.h"
#include "App/Async/JobHandle.h"
#include "Core/Indexer/FileScanner.h"

namespace pallix {

class LocalIndex : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isIndexing READ isIndexing NOTIFY isIndexingChanged)
    Q_PROPERTY(qint64 indexedCount READ indexedCount NOTIFY indexedCountChanged)

public:
    // `startupCount` is shown until the store's own count is known.
    LocalIndex(const AppContext& context, std::int64_t startupCount, QObject* parent = nullptr);

    // User-defaults keys of the running edition ("PallixMardell.lastIndexedCount").
    static const std::string& lastIndexedCountKey();
    static const std::string& lastIndexedRootsKey();
    // The rows of the index file, counted on a read-only connection of its
    // own before the store opens it; 0 when it cannot be read.
    static std::int64_t loadIndexedCountFromDatabase(const std::filesystem::path& database);

    // A rebuild (not the background reconciliation) is running.
    bool isIndexing() const { return m_isIndexing; }
    qint64 indexedCount() const { return m_indexedCount; }

    // Indexed roots.
    std::vector<std::string> activeIndexedRoots() const;
    std::vector<std::string> discoverMountedRoots() const;
    bool hasMountedRemovableVolumes() const;
    std::vector<std::string> lastIndexedRootsSnapshot() const;
    void persistIndexedRootsSnapshot(std::vector<std::string> roots);
    // The roots under which the index holds no row, in their order.
    QCoro::Task<std::vector<std::string>> missingIndexedRoots(std::vector<std::string> roots);
    static bool shouldPerformBackgroundRootRefresh(const std::vector<std::string>& currentRoots,
                                                   const std::vector<std::string>& previousRoots, bool rootsIndexed);
    // Previous roots that are no longer roots; their rows are replaced.
    static std::vector<std::string> removedIndexedRoots(const std::vector<std::string>& currentRoots,
                                                        const std::vector<std::string>& previousRoots);
    // What the reconciliation walks: the missing roots, and the removed ones
    // that still lie inside a current root. Those rows belong to that root now:
    // rewalking keeps what is still there (and drops an unmounted volume's),
    // where deleting them would leave the folder unsearchable.
    static std::vector<std::string> rootsToRescan(const std::vector<std::string>& currentRoots,
                                                  const std::vector<std::string>& missingRoots,
                                                  const std::vector<std::string>& removedRoots);
    // A full walk began and never finished (killed, quit, or refused a write).
    bool hasUnfinishedRun() const { return m_runMarkers.unfinishedRoots().has_value(); }

    void refreshIndexedRootsInBackground(std::vector<std::string> currentRoots, std::vector<std::string> previousRoots,
                                         std::vector<std::string> missingRoots);
    // Replaces a running rebuild. `startupScan`: the first start's scan, which
    // on an empty index writes in batches that are searchable as they land.
    void rebuildIndex(bool startupScan);
    void addIndexedRoot(const QString& path);
    void removeIndexedRoot(const std::set<int>& offsets);

    // The store's count after writes made elsewhere (the watcher's batches):
    // published, remembered for the next start, and the shown list no longer
    // stands for the whole answer.
    void publishIndexedCount(std::int64_t count);
    // The store's count as the start-up found it: published and remembered.
    void adoptStoredCount(std::int64_t count);

signals:
    void isIndexingChanged();
    void indexedCountChanged();
    // The index changed under the shown results.
    void contentChanged();
    // A walk wrote enough for the current search to be asked again at once.
    void searchWanted();
    // The roots or their rules changed, or a walk ended: the watcher starts over.
    void watcherRestartWanted();
    // Writes into the store are done (the store may have started over on them).
    void writesDone();
    // The first scan, or one walked again at the start, filled the index and
    // the image tagging is on.
    void imageTaggingWanted();

private:
    QCoro::Task<> runRebuild(bool startupScan, std::vector<std::string> roots, std::vector<std::string> rootsToReplace,
                             std::int64_t previousCount, JobHandle job);
    QCoro::Task<> runBackgroundRefresh(std::vector<std::string> currentRoots, std::vector<std::string> rootsToScan,
                                       std::vector<std::string> rootsToReplace);
    void publishScanBatch(std::int64_t count, int batchNumber);
    void completeRebuild(std::int64_t count, const QString& text, const std::vector<std::string>& roots);
    void endIncompleteScan(std::int64_t count);
    void beginIndexRun(const std::vector<std::string>& roots);
    void completeIndexRun();
    void setIndexing(bool indexing);
    void setIndexedCount(qint64 count);

    const AppContext& m_context;
    FileScanner m_scanner;
    IndexRunMarkers m_runMarkers;  // whether the last full walk of the roots finished
    JobHandle m_rebuildTask;       // the newest rebuild; a newer one cancels it
    bool m_isIndexing = false;
    qint64 m_indexedCount = 0;
};

} // namespace pallix
