#pragma once
// ResultsArea: the results part of the search window. It shows the session's
// four result lists in their fixed sections, as a list with columns or as a
// zoomable grid of cards, or the empty-results panel when nothing survives
// the content filters. It keeps no search state: it reads the session's
// published properties, writes the selection (a click, a tap on empty space)
// and the grid zoom, and hands the item actions of its menus and keys to
// ResultActions itself. The signals below announce each request as it is
// handled; only the offer to index external disks is left to the search view.
// An area made without actions (shown on its own) only announces them.
// GUI thread only.

#include <memory>
#include <optional>

#include <QString>
#include <QWidget>

#include "Core/Models/IndexedItem.h"
#include "UI/Results/ResultContextMenu.h"

class QStackedWidget;
class QPoint;

namespace pallix {

class ResultActions;
class SearchSession;
class EmptyResultsPanel;
class FolderVideoHints;
class ResultsCanvas;
class ResultsGridView;
class ResultsHeaderView;
class ResultsListView;
class ResultsModel;
class ResultsPrefetch;
class ThumbnailProvider;

class ResultsArea : public QWidget {
    Q_OBJECT

public:
    // The empty panel's offer to index external disks.
    struct ExternalIndexingCTA {
        QString title;
        QString actionTitle;
        friend bool operator==(const ExternalIndexingCTA&, const ExternalIndexingCTA&) = default;
    };

    ResultsArea(SearchSession& session, ResultActions* actions, ThumbnailProvider& thumbnails,
                QWidget* parent = nullptr);
    // `prefetch` none: previews are prefetched from `thumbnails` on the session's clock.
    ResultsArea(SearchSession& session, ResultActions* actions, ThumbnailProvider& thumbnails,
                std::unique_ptr<ResultsPrefetch> prefetch, QWidget* parent = nullptr);
    ~ResultsArea() override;

    // Shown by the empty panel while set; the search view decides.
    void setExternalIndexingCTA(const std::optional<ExternalIndexingCTA>& cta);

    // The parts, for the window's tests and for the rename field and context
    // menu that attach to them later.
    ResultsModel& resultsModel() { return *m_rows; }
    ResultsPrefetch& prefetch() { return *m_prefetch; }
    FolderVideoHints& folderVideoHints() { return *m_hints; }
    ResultsHeaderView* headerView() const { return m_header; }
    ResultsListView* listView() const { return m_list; }
    ResultsGridView* gridView() const { return m_grid; }
    EmptyResultsPanel* emptyPanel() const { return m_empty; }
    // The list, the grid or the empty panel, whichever is shown.
    QWidget* currentBody() const;

signals:
    void adjustZoomRequested(double delta);
    void openItemRequested(const pallix::IndexedItem& item);
    void revealItemRequested(const pallix::IndexedItem& item);
    void scopeToItemRequested(const pallix::IndexedItem& item);
    void openParentRequested(const pallix::IndexedItem& item);
    void copyNameRequested(const pallix::IndexedItem& item);
    void copyPathRequested(const pallix::IndexedItem& item);
    void copyFileRequested(const pallix::IndexedItem& item);
    void renameRequested(const pallix::IndexedItem& item);
    void duplicateRequested(const pallix::IndexedItem& item);
    void moveToTrashRequested(const pallix::IndexedItem& item);
    void commitInlineRenameRequested();
    void cancelInlineRenameRequested();
    void inlineRenameEditingEnded();
    void clearScopeRequested();
    void resetConstraintsRequested();
    void enableExternalIndexingRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void updateBody();
    void connectCanvas(ResultsCanvas* canvas);
    void showContextMenu(const IndexedItem& item, QPoint globalPos);
    void runEntry(ResultContextMenu::Entry entry, const IndexedItem& item);
    void prefetchIfChanged();
    // Hands each request to the session or to the result actions.
    void connectActions(ResultActions& actions);

    SearchSession& m_session;
    ThumbnailProvider& m_thumbnails;
    std::unique_ptr<ResultsModel> m_rows;
    std::unique_ptr<FolderVideoHints> m_hints;
    std::unique_ptr<ResultsPrefetch> m_prefetch;
    ResultsHeaderView* m_header = nullptr;
    ResultsListView* m_list = nullptr;
    ResultsGridView* m_grid = nullptr;
    EmptyResultsPanel* m_empty = nullptr;
    QStackedWidget* m_stack = nullptr;
};

} // namespace pallix
