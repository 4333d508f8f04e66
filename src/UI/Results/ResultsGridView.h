#pragma once
// ResultsGridView: the grid body of the results area. Cards whose size follows
// the session's grid zoom (preview, two-line name, subtitle), laid out by
// ResultsGridLayout, with subtitled headers between the sections. Ctrl with
// the wheel, and a pinch, ask for a zoom change (adjustZoomRequested) instead
// of scrolling; the session decides the step. GUI thread only.

#include "UI/Common/CardPainting.h"
#include "UI/Common/PinchZoom.h"
#include "UI/Results/ResultsCanvas.h"
#include "UI/Results/ResultsGridLayout.h"

namespace pallix {

class ResultsGridView : public ResultsCanvas {
    Q_OBJECT

public:
    ResultsGridView(ResultsModel& rows, SearchSession& session, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                  QWidget* parent = nullptr);

    QRect rowRect(int row) const override { return m_layout.rect(row); }
    Hit hitTest(QPoint contentPos) const override;
    void visibleRows(const QRect& contentRect, const std::function<void(int)>& visit) const override;
    const ResultsGridLayout& gridLayout() const { return m_layout; }
    // The preview's rectangle inside a card.
    QRectF previewRect(int row) const;
    // One line over the first line of the card's name.
    QRect nameRect(int row) const override;

signals:
    // Ctrl+wheel: the wheel's delta in lines (a notch is 1.0, pixel-precise
    // devices report their pixels), vertical first, else horizontal; a pinch:
    // its running magnification minus 1.
    void adjustZoomRequested(double delta);

protected:
    int layoutRows(int viewportWidth) override;
    void paintRow(QPainter& painter, int row, const QRect& rect) override;
    int renameFieldPixelSize() const override;
    std::vector<SelectableTextOverlay::Text> selectableTexts(int row) const override;
    void wheelEvent(QWheelEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    using TextBox = CardPainting::TextBox;
    TextBox textBox(int row) const;
    void paintCard(QPainter& painter, int row, const QRect& rect);
    void paintHeader(QPainter& painter, int row, const QRect& rect);
    QRect showMoreButton(const QRect& rect) const;

    ResultsGridLayout m_layout;
    double m_zoom = 1.0;
    PinchZoom m_pinch;
    CardPainting::CardPainter m_cards;
};

} // namespace pallix
