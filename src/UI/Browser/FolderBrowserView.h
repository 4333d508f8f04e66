#pragma once
// FolderBrowserView: the content of one folder browser window: a header with
// back and forward, the folder's name, its full path and the breadcrumbs; a
// line naming the dropped files that stayed where they were; below, the
// zoomable card grid or, for a folder that shows nothing, a short text. It
// holds the window's grid zoom (1.0 at first, never saved), turns Ctrl with
// "=", "+", "-", "0" and a pinch into zoom steps, wires the cards to the
// model and warms the thumbnail cache for the first cards of each folder.
// GUI thread only.

#include <QList>
#include <QWidget>

#include "Core/Models/IndexedItem.h"

class QLabel;
class QHBoxLayout;
class QStackedWidget;
class QToolButton;

namespace pallix {

class FolderBrowserGrid;
class FolderBrowserModel;
class FolderVideoHints;
class ThumbnailProvider;

class FolderBrowserView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kUrgentPreviewCount = 5;
    static constexpr int kPrioritizedPreviewCount = 14;
    static constexpr int kDeferredPrefetchMs = 110;

    FolderBrowserView(FolderBrowserModel& model, ThumbnailProvider& thumbnails, QWidget* parent = nullptr);
    ~FolderBrowserView() override;

    double gridZoom() const { return m_zoom; }
    void adjustGridZoom(double delta);
    void resetGridZoom();

    FolderBrowserGrid& grid() { return *m_grid; }
    QToolButton& backButton() { return *m_back; }
    QToolButton& forwardButton() { return *m_forward; }
    // The crumb buttons' titles, in order.
    QStringList breadcrumbTitles() const;
    bool showsEmptyText() const;
    QString moveProblemText() const;

    // One size for every item of the prefetch: a folder card's.
    static double prefetchIconSize(double zoom);
    // The paths of the first items, whose change starts a prefetch run.
    static QStringList prefetchSignature(const QList<IndexedItem>& items);

private:
    QWidget* buildHeader();
    QWidget* buildContent();
    void installZoomShortcuts();
    void setZoom(double zoom);
    void showHistory();
    void showPath();
    void showItems();
    void showMoveProblem();
    void prefetchTopPreviews();
    void activate(const IndexedItem& item);

    FolderBrowserModel& m_model;
    ThumbnailProvider& m_thumbnails;
    FolderVideoHints* m_hints;
    double m_zoom = 1.0;
    QStringList m_prefetchSignature;
    QToolButton* m_back = nullptr;
    QToolButton* m_forward = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_path = nullptr;
    QWidget* m_crumbs = nullptr;
    QHBoxLayout* m_crumbLayout = nullptr;
    QLabel* m_problem = nullptr;
    QStackedWidget* m_content = nullptr;
    FolderBrowserGrid* m_grid = nullptr;
};

} // namespace pallix
