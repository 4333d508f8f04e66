#pragma once
// SharedDrives: the shared-drive index as the application shows it. It owns
// the published status (whether a run fills the index, how many rows it
// holds, the line the settings window shows), the list of roots
// (ServerRoots) and the runs that fill the index (ServerIndexRuns), and takes
// the settings window's operations on them. What it needs of the rest of the
// application comes in as a callback and goes out as signals the model
// connects: it never searches and never touches the search results itself.
//
// Built by AppModel; GUI thread only. Its jobs run on the context's pool and
// resume on the GUI thread after checking that this object lives.

#include <functional>
#include <memory>
#include <set>

#include <QObject>
#include <QString>
#include <QStringList>

#include "Core/Indexer/FileScanner.h"

namespace pallix {

class AppContext;
class ServerIndexRuns;
class ServerRoots;

class SharedDrives : public QObject {
    Q_OBJECT

    Q_PROPERTY(bool isServerIndexing READ isServerIndexing NOTIFY isServerIndexingChanged)
    Q_PROPERTY(qint64 serverIndexedCount READ serverIndexedCount NOTIFY serverIndexedCountChanged)
    Q_PROPERTY(QString serverIndexStatusText READ serverIndexStatusText NOTIFY serverIndexStatusTextChanged)

public:
    // `isLocalIndexing` answers whether the local index is being rebuilt: a
    // first scan that ends meanwhile leaves the status line to that rebuild.
    // `listingFault` is the scanner's test seam, passed on to the share walks.
    SharedDrives(const AppContext& context, std::function<bool()> isLocalIndexing,
                 FileScanner::ListingFault listingFault, QObject* parent = nullptr);
    ~SharedDrives() override;

    // Published state. A first scan or manual update sets isServerIndexing
    // while it walks; the count is the store's after the start-up's count and
    // each progress step; the status text is empty when there is nothing to say.
    bool isServerIndexing() const { return m_isServerIndexing; }
    qint64 serverIndexedCount() const { return m_serverIndexedCount; }
    const QString& serverIndexStatusText() const { return m_serverIndexStatusText; }
    // Written by the runs and the roots, and by the start-up's first count.
    void setServerIndexing(bool indexing);
    void setServerIndexedCount(qint64 count);
    void setServerIndexStatusText(const QString& text);

    ServerRoots& roots() { return *m_roots; }
    ServerIndexRuns& runs() { return *m_runs; }

    // The settings window's operations.
    void addServerIndexedRoots(const QStringList& paths);
    void clearServerIndexedRoots();
    void removeServerIndexedRoot(const std::set<int>& positions);
    void refreshServerIndexManually();
    // On: adopts the default roots, starts detection or the first scan. Off:
    // announces indexingTurnedOff(), clears the status and stops detection; a
    // run goes on to its end.
    void updateEnableServerIndexing(bool enabled);
    // Read at the next launch.
    void updateAutoResumeServerIndexingOnLaunch(bool enabled);

    // Stops detection and the run; the model's end calls it before it waits for its pool.
    void cancelJobs();

signals:
    void isServerIndexingChanged();
    void serverIndexedCountChanged();
    void serverIndexStatusTextChanged();
    // A run changed the index that the shared-drive results come from: search again now.
    void searchRequested();
    // A run or the daily scan is done writing to the store.
    void writesEnded();
    // Shared-drive indexing was turned off: its results go too.
    void indexingTurnedOff();

private:
    const AppContext& m_context;
    bool m_isServerIndexing = false;
    qint64 m_serverIndexedCount = 0;
    QString m_serverIndexStatusText;
    std::unique_ptr<ServerRoots> m_roots;
    std::unique_ptr<ServerIndexRuns> m_runs;
};

} // namespace pallix
