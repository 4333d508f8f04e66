// The SKU-related section inside the results area: its rows and cards, their
// shading, and what a click, a double click and a right click do there.

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "ResultsTestSupport.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsCanvas.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsListView.h"

namespace pallix {
namespace {

using namespace testing_support;
using Section = ResultsModel::Section;

struct SkuRelatedSectionTest : testing::TestWithParam<ResultDisplayMode> {
    ResultsFixture f;
    ResultsArea area{f.model().searchSession(), nullptr, f.h.thumbnails};

    void SetUp() override
    {
        area.resize(1300, 700);
        area.show();
        f.model().searchSession().constraints().setDisplayMode(GetParam());
        f.model().searchSession().setSkuRelatedResults({fileItem("/k/Sub", true), fileItem("/k/a.png"), fileItem("/k/b.png")});
        f.publishMain(numberedFiles("a", 3));
    }

    ResultsCanvas* view() const
    {
        return GetParam() == ResultDisplayMode::List ? static_cast<ResultsCanvas*>(area.listView())
                                                     : static_cast<ResultsCanvas*>(area.gridView());
    }
    int skuRow(int i) const
    {
        const ResultsModel& rows = const_cast<ResultsArea&>(area).resultsModel();
        for (int r = 0; r < rows.rowCount(); ++r)
            if (rows.rowAt(r).kind == ResultsModel::RowKind::Item && rows.rowAt(r).section == Section::SkuRelated
                && rows.rowAt(r).index == i)
                return r;
        return -1;
    }
    // A point inside the row or card, away from its hover buttons.
    QPoint pointIn(int row) const
    {
        const QRect rect = view()->rowRect(row);
        return QPoint(rect.left() + 12, rect.center().y()) - QPoint(0, view()->verticalScrollBar()->value());
    }
};

TEST_P(SkuRelatedSectionTest, RowsContinueTheShadingAndOfferSelectAndOpenOnly)
{
    ResultsModel& rows = area.resultsModel();
    ASSERT_GE(skuRow(2), 0);
    // Three main rows above: the section's rows are 3, 4 and 5.
    EXPECT_TRUE(rows.rowAt(skuRow(0)).alternate);
    EXPECT_FALSE(rows.rowAt(skuRow(1)).alternate);
    EXPECT_EQ(rows.index(skuRow(1)).data(ResultsModel::RowIdRole).toString(), "/k/a.png");

    QSignalSpy open(&area, &ResultsArea::openItemRequested);
    QWidget* viewport = view()->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, pointIn(skuRow(1)));
    EXPECT_EQ(f.model().searchSession().selectedItemID(), "/k/a.png");
    EXPECT_EQ(open.count(), 0);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, pointIn(skuRow(2)));
    EXPECT_EQ(f.model().searchSession().selectedItemID(), "/k/b.png");
    ASSERT_EQ(open.count(), 1);
    EXPECT_EQ(qvariant_cast<IndexedItem>(open.at(0).at(0)).path(), "/k/b.png");

    // No context menu: a right click opens no menu and asks for nothing.
    std::vector<std::unique_ptr<QSignalSpy>> asks;
    for (auto signal : {&ResultsArea::copyNameRequested, &ResultsArea::copyPathRequested,
                        &ResultsArea::renameRequested, &ResultsArea::moveToTrashRequested,
                        &ResultsArea::duplicateRequested, &ResultsArea::openParentRequested})
        asks.push_back(std::make_unique<QSignalSpy>(&area, signal));
    const QPoint at = pointIn(skuRow(1));
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &menu);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    for (const auto& spy : asks)
        EXPECT_EQ(spy->count(), 0);
}

INSTANTIATE_TEST_SUITE_P(ListAndGrid, SkuRelatedSectionTest,
                         testing::Values(ResultDisplayMode::List, ResultDisplayMode::Grid),
                         [](const auto& info) { return info.param == ResultDisplayMode::List ? "List" : "Grid"; });

} // namespace
} // namespace pallix
