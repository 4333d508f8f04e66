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

#include "UI/Results/ResultsModel.h"

namespace pallix {

// The zoom-dependent sizes of the grid and its cards (z = grid zoom).
namespace GridMetrics {
constexpr double kColumnSpacing = 10;
constexpr int kRowSpacing = 14;
constexpr int kPadding = 14;
constexpr int kSectionSpacing = 12;

double columnMinWidth(double z);  // max(132 z, 120)
double columnMaxWidth(double z);  // max(minimum, 156 z)

struct Card {
    double previewIconSize;  // asked of the thumbnail provider
    double previewHeight;
    double spacing;          // between preview, name and subtitle, and the vertical padding
    double horizontalPadding;
    double minHeight;        // max(base, base × z)
};
Card card(ResultsModel::CardKind kind, double z);
// Raster previews fill the width and round their corners; the rest sit inset.
double previewInset(bool raster, double z);
double previewCornerRadius(bool raster);
double namePixelSize(double z);
double subtitlePixelSize(double z);
} // namespace GridMetrics

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
    struct Columns {
        int count = 1;
        double width = 0;
        double left = 0;  // of the first column, centring the grid
    };

    static Columns columnsFor(double availableWidth, double z);
    // Adaptive columns of any grid: as many of at least `minWidth` as fit,
    // widened up to `maxWidth`, the grid centred in what is left.
    static Columns columnsFor(double availableWidth, double minWidth, double maxWidth, double spacing);
    // The full height of a card of this kind: the name takes two lines.
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
