#pragma once
// ResultsCanvas: what the list and the grid share. One scroll area over the
// display rows of the ResultsModel that lays them out by arithmetic and paints
// only the rows that meet the viewport: no widget per row or card. It turns
// clicks into the selection (the session's selectedItemID), double clicks on the
// icon or preview into openItemRequested, clicks on painted action buttons and
// on the show-more row into their signals, and a click on empty space into a
// cleared selection (and cancelInlineRenameRequested while a rename runs). A
// pressed row dragged away drags its file out. PageUp/PageDown move the
// selection by the item rows shown whole, Home/End to the first/last result.
// It scrolls the selected row to the centre whenever the selection is
// announced and when the view itself comes on screen (not when its window is
// shown again), keeps a shown selected row in its place when the list is
// searched again, and repaints when the thumbnail provider announces
// previews. The selected and the hovered item's texts are selectable labels
// laid over the rows (SelectableTextOverlay); the item under a resting
// pointer stays hovered when the rows change or move under it. A resting
// pointer shows the item's tooltip where it covers no other item's name.
// Subclasses give the geometry and the painting. GUI thread only.

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include <QAbstractScrollArea>
#include <QPointer>
#include <QRect>

class QVariantAnimation;

#include "Core/Models/IndexedItem.h"
#include "UI/Common/SelectableTextOverlay.h"
#include "UI/Results/InlineRenameField.h"

namespace pallix {

class SearchSession;
class FolderVideoHints;
class HoverTip;
class ResultsModel;
class ThumbnailProvider;

class ResultsCanvas : public QAbstractScrollArea {
    Q_OBJECT

public:
    // The part of a row under a point.
    enum class Part { None, Row, Icon, Action, ShowMore, Count };
    struct Hit {
        int row = -1;
        Part part = Part::None;
        int action = -1;  // Part::Action: 0 scope, 1 open, 2 reveal
    };

    ResultsCanvas(ResultsModel& rows, SearchSession& session, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                  QWidget* parent = nullptr);

    // Geometry in content coordinates (y from the top of the scrolled content).
    virtual QRect rowRect(int row) const = 0;
    // Where an item row's name is painted, and the rename field goes.
    virtual QRect nameRect(int row) const = 0;
    virtual Hit hitTest(QPoint contentPos) const = 0;
    int contentHeight() const { return m_contentHeight; }
    // The rows whose rectangles meet the content rectangle, in row order.
    virtual void visibleRows(const QRect& contentRect, const std::function<void(int)>& visit) const = 0;
    // Lays the rows out again for the current width (and zoom).
    void relayout();
    // Scrolls so that the row's centre is the viewport's, within the range;
    // animated, it eases out over 0.14 s.
    void centerOnRow(int row, bool animated = false);
    int hoveredRow() const { return m_hoveredRow; }
    // The field over the name of the item being renamed, while this view is
    // shown and holds the item; else null.
    InlineRenameField* renameField() const { return m_renameField; }

signals:
    void openItemRequested(const pallix::IndexedItem& item);
    void revealItemRequested(const pallix::IndexedItem& item);
    void scopeToItemRequested(const pallix::IndexedItem& item);
    void cancelInlineRenameRequested();
    void commitInlineRenameRequested();
    void inlineRenameEditingEnded();
    // A secondary click on an item that has a context menu.
    void contextMenuRequested(const pallix::IndexedItem& item, QPoint globalPos);

protected:
    // Returns the content height.
    virtual int layoutRows(int viewportWidth) = 0;
    virtual void paintRow(QPainter& painter, int row, const QRect& rect) = 0;
    virtual void paintBackground(QPainter& painter, const QRect& viewportRect);
    // The rename field's font size.
    virtual int renameFieldPixelSize() const = 0;
    // The texts of an item row the user may select, in content coordinates.
    virtual std::vector<SelectableTextOverlay::Text> selectableTexts(int row) const = 0;
    // Selectable labels stand over the row's texts: the painting leaves them out.
    bool textsCovered(int row) const { return row == m_coveredRows[0] || row == m_coveredRows[1]; }

    bool isSelected(const IndexedItem& item) const;
    bool isRenaming(const IndexedItem& item) const;
    // The hovered action button of the hovered row, or -1.
    int hoveredAction() const { return m_hoveredAction; }
    QPoint toContent(QPoint viewportPos) const;

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

    // Whether a folder item holds videos, as far as known; false for files.
    bool folderHasVideo(const IndexedItem& item) const;

    ResultsModel& m_rows;
    SearchSession& m_session;
    ThumbnailProvider& m_thumbnails;
    FolderVideoHints& m_hints;

private:
    void setHover(int row, int action);
    // The item under the pointer, found again after the rows changed or
    // moved: no mouse move comes while the pointer rests.
    void hoverUnderPointer();
    // Lays out the rows for the width without placing the overlays.
    void layoutContent();
    // The rename field, the hover and the labels, after the rows changed or moved.
    void placeOverlays();
    void showTip(int row, QPoint pointer);
    // Where the tip of the row goes (global): somewhere it covers no other item's name.
    QPoint tipPlace(int row, QPoint pointer, QSize size) const;
    void activateAction(int row, int action);
    void scrollToSelection();
    int itemsPerPage() const;
    void rememberSelectionPlace();
    void keepSelectionPlace();
    void startDrag(int row);
    // Shows, moves or removes the rename field after anything that may have
    // moved the target's name.
    void placeRenameField();
    void removeRenameField();
    // Lays labels over the texts of the selected and the hovered row.
    void placeSelectableTexts();
    void selectPressedText(const QString& rowId);

    QVariantAnimation* m_scrollAnimation = nullptr;
    HoverTip* m_tip = nullptr;
    QString m_tipRowId;  // of the item the tip tells of
    bool m_scrollWhenShown = true;  // the view was hidden in its window, or never shown
    bool m_holdOverlays = false;    // a reset is being laid out: overlays are placed once, at its end
    int m_contentHeight = 0;
    int m_hoveredRow = -1;
    int m_pressRow = -1;  // an item pressed and not yet released: a drag may start
    QPoint m_pressPos;
    int m_hoveredAction = -1;
    QPointer<InlineRenameField> m_renameField;
    SelectableTextOverlay* m_textOverlay = nullptr;
    std::array<int, 2> m_coveredRows{-1, -1};
    std::optional<int> m_selectedRow;  // of the selected item in the rows; unknown after a change
    // The selected row's place in the viewport before a reset, while shown.
    struct SelectionPlace {
        QString id;
        int viewportTop = 0;
    };
    std::optional<SelectionPlace> m_selectionPlace;
};

} // namespace pallix
