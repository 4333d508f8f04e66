#pragma once
// FolderBrowserModel: the state of one folder browser window: the folder
// shown, its children in display order, the selected child, the back/forward
// history, and the moves of files dropped on a child folder. Listings and
// moves run on a worker pool; their results come back to the GUI thread, where
// a listing is applied only while its navigation is still the newest. Nothing
// is persisted. GUI thread only.

#include <functional>
#include <memory>

#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "App/Actions/SafeMove.h"
#include "App/Actions/DesktopEffects.h"
#include "Core/Models/IndexedItem.h"
#include "App/Preview/PreviewController.h"

class QThreadPool;

namespace pallix {

struct FolderBreadcrumb {
    QString title;
    QString path;
    friend bool operator==(const FolderBreadcrumb&, const FolderBreadcrumb&) = default;
};

// What a browser model uses of the system; empty fields are the real ones.
struct FolderBrowserEnvironment {
    // The children of a folder in display order; runs on a worker thread.
    std::function<QList<IndexedItem>(const QString& path)> lister;  // empty: listFolder()
    SafeMove::RenameNoReplace rename;                                // empty: the no-replace rename
    QThreadPool* pool = nullptr;                                     // empty: the global pool
    std::shared_ptr<DesktopEffects> desktop;                         // empty: SystemDesktop
};

class FolderBrowserModel : public QObject {
    Q_OBJECT

public:
    using Environment = FolderBrowserEnvironment;
    using Lister = std::function<QList<IndexedItem>(const QString& path)>;

    // Starts listing `initialPath` at once, as a recorded navigation.
    explicit FolderBrowserModel(const QString& initialPath, Environment environment = {}, QObject* parent = nullptr);
    ~FolderBrowserModel() override;

    const QString& currentPath() const { return m_currentPath; }
    const QList<IndexedItem>& items() const { return m_items; }
    // The selected child's path; empty for none.
    const QString& selectedItemID() const { return m_selectedItemID; }
    void setSelectedItemID(const QString& path);
    const QStringList& history() const { return m_history; }
    qsizetype historyIndex() const { return m_historyIndex; }
    bool canGoBack() const { return m_historyIndex >= 1; }
    bool canGoForward() const { return m_historyIndex >= 0 && m_historyIndex < m_history.size() - 1; }
    // Which dropped files stayed where they were and why, one line; empty when the last batch moved all.
    const QString& moveProblem() const { return m_moveProblem; }
    bool isListing() const { return m_listingsInFlight > 0; }
    bool isMoving() const { return m_movesInFlight > 0; }

    void navigate(const QString& path, bool recordHistory);
    void goBack();
    void goForward();

    // The folder's name as it is drawn (ShownNames); "/" for the root.
    QString title() const;
    // Each crumb's title is drawn as it is; its path is the real one.
    QList<FolderBreadcrumb> breadcrumbs() const;

    // A folder opens in this window, a file in its default application.
    void open(const IndexedItem& item);
    // Shows the item selected in the file manager.
    void reveal(const IndexedItem& item);
    // An image shows with all the folder's images; anything else alone.
    void quickLook(const IndexedItem& item);
    void quickLookSelected();
    // Moves the distinct files of `urls` into `directoryPath` on the pool,
    // then lists the folder shown again; returns at once.
    void moveFileUrls(const QList<QUrl>& urls, const QString& directoryPath);

    PreviewController& previewController() { return m_previewController; }

    static QList<IndexedItem> listFolder(const QString& path);
    // Folders first, then by name: case-insensitive, digit runs by value; stable.
    static void sortForDisplay(QList<IndexedItem>& items);
    static QString standardized(const QString& path);
    static QString titleOf(const QString& path);

signals:
    void currentPathChanged(const QString& path);
    void itemsChanged();
    void selectionChanged();
    void historyChanged();
    void moveProblemChanged();
    void listingFinished();
    void movesFinished();

private:
    struct MoveReport {
        QString name;
        SafeMove::Outcome outcome;
    };

    void startListing();
    void applyListing(QList<IndexedItem> items, qint64 generation);
    void applyMoves(const QList<MoveReport>& reports);
    void setMoveProblem(const QString& text);

    QString m_currentPath;
    QList<IndexedItem> m_items;
    QString m_selectedItemID;
    qint64 m_loadGeneration = 0;
    QStringList m_history;
    qsizetype m_historyIndex = -1;
    QString m_moveProblem;
    int m_listingsInFlight = 0;
    int m_movesInFlight = 0;
    Lister m_lister;
    std::shared_ptr<const SafeMove> m_mover;  // shared with the move jobs, which may outlive the model
    QThreadPool* m_pool;
    std::shared_ptr<DesktopEffects> m_desktop;
    PreviewController m_previewController;
};

} // namespace pallix
