#pragma once
// ResultsListView: the list body of the results area. Rows of columns (icon
// and name, type, size, date, folder, hover actions), with a divider and a
// counted header before each side section and the image-content show-more
// row. Item rows share one height, so the layout is one offset per row and a
// binary search finds the visible range. GUI thread only.

#include <vector>

#include "UI/Common/ElidedText.h"
#include "UI/Results/ResultsCanvas.h"

namespace pallix {

class ResultsListView : public ResultsCanvas {
    Q_OBJECT

public:
    static constexpr int kIconSize = 18;
    static constexpr int kActionButtonSize = 24;
    static constexpr int kActionSpacing = 6;
    static constexpr int kActionCount = 3;

    ResultsListView(ResultsModel& rows, SearchSession& session, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                  QWidget* parent = nullptr);

    QRect rowRect(int row) const override;
    Hit hitTest(QPoint contentPos) const override;
    void visibleRows(const QRect& contentRect, const std::function<void(int)>& visit) const override;

    // Whether the row shows its action buttons now (hover or selection).
    bool showsActions(int row) const;
    // The three action buttons of a row, right-aligned in the actions column.
    QRect actionRect(int row, int action) const;
    // The symbol of a row's action button.
    static QString actionSymbol(const IndexedItem& item, int action);
    // Where a rename field would stand over the name.
    QRect nameRect(int row) const override;

protected:
    int layoutRows(int viewportWidth) override;
    void paintRow(QPainter& painter, int row, const QRect& rect) override;
    int renameFieldPixelSize() const override;
    std::vector<SelectableTextOverlay::Text> selectableTexts(int row) const override;

private:
    int heightOf(int row) const;
    void paintItem(QPainter& painter, int row, const QRect& rect);
    void paintHeader(QPainter& painter, int row, const QRect& rect);
    void paintShowMore(QPainter& painter, int row, const QRect& rect);
    void paintActions(QPainter& painter, int row);

    std::vector<int> m_tops;  // per row, then the content height
    int m_width = 0;
    int m_itemHeight = 26;
    ElidedText m_texts;
};

} // namespace pallix
