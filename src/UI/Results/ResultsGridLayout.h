#pragma once
// ResultsGridLayout: where every row of the ResultsModel stands in the grid,
// by arithmetic only: the sections' cards in adaptive columns whose width
// follows the zoom, card rows as high as their tallest card, and the
// dividers, subtitled headers and show-more button between them. Building it
// is linear in the rows; finding a row's rectangle, the row under a point and
// the rows in a rectangle costs a few comparisons plus the rows found.
// Pure (no widgets); GUI thread like its owner.

#include <functional>
#include <vector>

#include <QRect>

#include "UI/Common/GridMetrics.h"
#include "UI/Results/ResultsModel.h"

namespace pallix {

class ResultsGridLayout {
public:
    // Line heights of the texts a card and a header hold, measured by the view.
    struct TextHeights {
        int nameLine = 18;
        int subtitleLine = 15;
        int headerTitle = 15;
        int headerSubtitle = 14;
        int button = 24;
    };
    using Columns = GridMetrics::Columns;
    // Between a section and the next.
    static constexpr int kSectionSpacing = 12;

    static Columns columnsFor(double availableWidth, double z);
    // The full height of a card of this kind.
    static int cardHeight(ResultsModel::CardKind kind, double z, const TextHeights& text);

    void build(const ResultsModel& rows, int viewportWidth, double z, const TextHeights& text);

    int height() const { return m_height; }
    const Columns& columns() const { return m_columns; }
    QRect rect(int row) const;
    // The model row whose rectangle holds the point, or -1.
    int rowAt(QPoint pos) const;
    void visit(const QRect& area, const std::function<void(int)>& visitRow) const;

private:
    enum class ElementKind { Cards, Divider, Header, ShowMore };
    struct Element {
        ElementKind kind = ElementKind::Cards;
        int firstRow = 0;      // model row of the first card, or of the element
        int rowCount = 1;      // cards of a card element
        int top = 0;
        int height = 0;
        int firstCardRow = 0;  // into m_cardRowTops
    };
    const Element* elementOf(int row) const;
    QRect cardRect(const Element& element, int index) const;

    std::vector<Element> m_elements;
    std::vector<int> m_cardRowTops;
    std::vector<int> m_cardRowHeights;
    Columns m_columns;
    int m_width = 0;
    int m_height = 0;
};

} // namespace pallix
