#pragma once
// FolderBrowserGrid: the cards of one folder browser window, one per child of
// the folder shown, in adaptive columns whose size follows the window's zoom.
// Cards are painted, not widgets, and only those meeting the viewport; the
// rows are laid out by arithmetic. A click selects (on empty space it clears
// the selection), a double click on a preview activates, a card dragged away
// drags its file out, and files dropped on a folder card are handed on for
// the move; a file card highlights under a drag but refuses the drop. The
// selected and the hovered card's name and subtitle are selectable labels
// laid over the card (SelectableTextOverlay); the card under a resting
// pointer stays hovered when the cards change or move under it. GUI thread only.

#include <array>
#include <optional>
#include <vector>

#include <QAbstractScrollArea>
#include <QList>
#include <QUrl>

#include "Core/Models/IndexedItem.h"
#include "UI/Common/CardPainting.h"
#include "UI/Common/GridMetrics.h"
#include "UI/Common/PinchZoom.h"
#include "UI/Common/SelectableTextOverlay.h"

class QMimeData;

namespace pallix {

class FolderBrowserModel;
class FolderVideoHints;
class ThumbnailProvider;

class FolderBrowserGrid : public QAbstractScrollArea {
    Q_OBJECT

public:
    FolderBrowserGrid(FolderBrowserModel& model, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                      QWidget* parent = nullptr);

    double zoom() const { return m_zoom; }
    void setZoom(double zoom);

    // Geometry in content coordinates (y from the top of the scrolled content).
    QRect cardRect(int index) const;
    QRectF previewRect(int index) const;
    // The card under the point, or -1.
    int cardAt(QPoint contentPos) const;
    const GridMetrics::Columns& columns() const { return m_columns; }
    int contentHeight() const { return m_contentHeight; }
    // The card a drag of files hovers over, or -1.
    int dropTarget() const { return m_dropTarget; }

    // The distinct local files of a drag; empty when it carries none.
    static QList<QUrl> droppedFileUrls(const QMimeData& mime);
    // The subtitle under a card's name.
    static QString subtitle(const IndexedItem& item, bool folderHasVideo);

signals:
    void activated(const pallix::IndexedItem& item);
    void openRequested(const pallix::IndexedItem& item);
    void revealRequested(const pallix::IndexedItem& item);
    void moveRequested(const QList<QUrl>& urls, const QString& folder);
    // A pinch: its running magnification minus 1.
    void adjustZoomRequested(double delta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void relayout();
    void paintCard(QPainter& painter, int index, const QRect& rect);
    GridMetrics::Card card(int index) const;
    int cardHeight(int index) const;
    QPoint toContent(QPoint viewportPos) const;
    void setDropTarget(int index);
    void startDrag(int index);
    using TextBox = CardPainting::TextBox;
    TextBox textBox(int index) const;
    void setHovered(int index);
    void hoverUnderPointer();
    // Lays labels over the texts of the selected and the hovered card.
    void placeSelectableTexts();
    std::vector<SelectableTextOverlay::Text> selectableTexts(int index) const;
    bool textsCovered(int index) const { return index == m_coveredCards[0] || index == m_coveredCards[1]; }

    FolderBrowserModel& m_model;
    ThumbnailProvider& m_thumbnails;
    FolderVideoHints& m_hints;
    double m_zoom = 1.0;
    GridMetrics::Columns m_columns;
    std::vector<int> m_rowTops;     // of each card row
    std::vector<int> m_rowHeights;  // the tallest card of each row
    int m_contentHeight = 0;
    int m_dropTarget = -1;
    int m_pressIndex = -1;  // a card pressed and not yet released: a drag may start
    QPoint m_pressPos;
    int m_hovered = -1;
    SelectableTextOverlay* m_textOverlay = nullptr;
    std::array<int, 2> m_coveredCards{-1, -1};
    std::optional<int> m_selectedIndex;  // of the selected child; unknown after a change
    PinchZoom m_pinch;
    CardPainting::CardPainter m_cards;
};

} // namespace pallix
