#include "UI/Results/ResultsGridLayout.h"

#include <gtest/gtest.h>

#include "ResultsTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;
using CardKind = ResultsModel::CardKind;
constexpr const GridMetrics::Spec& kGrid = GridMetrics::kResultsGrid;

TEST(GridMetrics, ColumnWidthsFollowTheZoomWithAFloor)
{
    EXPECT_DOUBLE_EQ(GridMetrics::columnWidths(kGrid, 0.7).minimum, 120);
    EXPECT_DOUBLE_EQ(GridMetrics::columnWidths(kGrid, 0.7).maximum, 120);
    EXPECT_DOUBLE_EQ(GridMetrics::columnWidths(kGrid, 1.0).minimum, 132);
    EXPECT_DOUBLE_EQ(GridMetrics::columnWidths(kGrid, 1.0).maximum, 156);
    EXPECT_NEAR(GridMetrics::columnWidths(kGrid, 1.9).minimum, 250.8, 1e-9);
    EXPECT_NEAR(GridMetrics::columnWidths(kGrid, 1.9).maximum, 296.4, 1e-9);

    // As many columns as fit at the minimum; each then as wide as the room
    // allows, up to the maximum, the grid centred.
    const auto at07 = ResultsGridLayout::columnsFor(1000, 0.7);
    EXPECT_EQ(at07.count, 7);  // 7 × 120 + 6 × 10 = 900
    EXPECT_DOUBLE_EQ(at07.width, 120);
    EXPECT_DOUBLE_EQ(at07.left, 50);
    const auto at1 = ResultsGridLayout::columnsFor(1000, 1.0);
    EXPECT_EQ(at1.count, 7);  // 7 × 132 + 60 = 984
    EXPECT_NEAR(at1.width, (1000 - 60) / 7.0, 1e-9);
    // Room for one column and a half: the one column stops at the maximum.
    const auto one = ResultsGridLayout::columnsFor(200, 1.0);
    EXPECT_EQ(one.count, 1);
    EXPECT_DOUBLE_EQ(one.width, 156);
    EXPECT_DOUBLE_EQ(one.left, 22);
    const auto at19 = ResultsGridLayout::columnsFor(1000, 1.9);
    EXPECT_EQ(at19.count, 3);
    EXPECT_NEAR(at19.width, 296.4, 1e-9);
    EXPECT_EQ(ResultsGridLayout::columnsFor(50, 1.0).count, 1);
}

TEST(GridMetrics, CardHeightsNeverDropBelowTheirBase)
{
    EXPECT_DOUBLE_EQ(GridMetrics::card(kGrid, CardKind::Folder, 0.7).minHeight, 176);
    EXPECT_NEAR(GridMetrics::card(kGrid, CardKind::Folder, 1.9).minHeight, 334.4, 1e-9);
    EXPECT_DOUBLE_EQ(GridMetrics::card(kGrid, CardKind::Raster, 0.7).minHeight, 174);
    EXPECT_DOUBLE_EQ(GridMetrics::card(kGrid, CardKind::Other, 1.0).minHeight, 156);
    EXPECT_NEAR(GridMetrics::card(kGrid, CardKind::Folder, 1.9).iconSize, 254.6, 1e-9);

    const ResultsGridLayout::TextHeights text;
    EXPECT_EQ(ResultsGridLayout::cardHeight(CardKind::Folder, 0.7, text), 176);
    EXPECT_GE(ResultsGridLayout::cardHeight(CardKind::Folder, 1.9, text), 335);
    // The preview sits inset and square-cornered unless the extension shows a raster.
    EXPECT_DOUBLE_EQ(GridMetrics::previewInset(kGrid, true, 1.5), 0);
    EXPECT_DOUBLE_EQ(GridMetrics::previewInset(kGrid, false, 1.5), 3);
    EXPECT_DOUBLE_EQ(GridMetrics::previewCornerRadius(kGrid, true), 10);
}

TEST(ResultsGridLayout, RectanglesHitTestsAndVisitsAgree)
{
    ResultsFixture f;
    ResultsModel rows(f.model().searchSession());
    f.model().searchSession().setServerResults(numberedFiles("s", 5));
    f.publishMain(numberedFiles("a", 23, "png"));
    ResultsGridLayout layout;
    const ResultsGridLayout::TextHeights text;
    layout.build(rows, 1028, 1.0, text);  // 1000 wide inside the padding: 7 columns
    ASSERT_EQ(layout.columns().count, 7);

    // Main cards: 4 card rows, 14 apart; then divider, header, the server cards.
    const int rowHeight = ResultsGridLayout::cardHeight(CardKind::Raster, 1.0, text);
    EXPECT_EQ(layout.rect(0).top(), kGrid.padding);
    EXPECT_EQ(layout.rect(7).top(), kGrid.padding + rowHeight + kGrid.rowSpacing);
    EXPECT_EQ(layout.rect(8).left() - layout.rect(7).left(), layout.rect(1).left() - layout.rect(0).left());
    for (int row = 0; row < rows.rowCount(); ++row) {
        const QRect r = layout.rect(row);
        ASSERT_FALSE(r.isEmpty()) << row;
        EXPECT_EQ(layout.rowAt(r.center()), row) << row;
        EXPECT_LE(r.bottom(), layout.height());
    }
    // Between cards and beyond the last card of a row: nothing.
    EXPECT_EQ(layout.rowAt(QPoint(layout.rect(0).right() + 5, layout.rect(0).center().y())), -1);
    EXPECT_EQ(layout.rowAt(QPoint(layout.rect(22).right() + 40, layout.rect(22).center().y())), -1);

    // Visiting a band gives exactly the rows that meet it, in order.
    const QRect band(0, layout.rect(7).top() + 5, 1028, rowHeight + 20);
    std::vector<int> seen;
    layout.visit(band, [&](int row) { seen.push_back(row); });
    std::vector<int> expected;
    for (int row = 0; row < rows.rowCount(); ++row)
        if (layout.rect(row).intersects(band))
            expected.push_back(row);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(seen.size(), 14u);  // the second and third card rows
}

} // namespace
} // namespace pallix
