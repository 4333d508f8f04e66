// The list and the grid as the user scrolls and pages them: a search run
// again while files change leaves the view where the user scrolled it, and
// the page keys move the selection by what the view shows.

#include "UI/Results/ResultsCanvas.h"

#include <gtest/gtest.h>

#include <QAbstractAnimation>
#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QVariantAnimation>
#include <QWheelEvent>

#include "ResultsTestSupport.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsListView.h"

namespace pallix {
namespace {

using namespace testing_support;

struct ResultsCanvasTest : testing::TestWithParam<ResultDisplayMode> {
    ResultsFixture f;
    ResultsArea area{f.model().searchSession(), nullptr, f.h.thumbnails};
    ResultsCanvas* canvas = nullptr;
    void SetUp() override
    {
        area.resize(1120, 600);
        area.show();
        f.model().searchSession().constraints().setDisplayMode(GetParam());
        canvas = GetParam() == ResultDisplayMode::List ? static_cast<ResultsCanvas*>(area.listView())
                                                       : area.gridView();
        f.publishMain(numberedFiles("a", 600, "png"));
        settle(canvas);
    }
    const QString& selected() { return f.model().searchSession().selectedItemID(); }
    // The events a publication posts have run, and any scroll they began has ended.
    static void settle(ResultsCanvas* canvas)
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        auto* animation = canvas->findChild<QVariantAnimation*>();
        ASSERT_NE(animation, nullptr);
        ASSERT_TRUE(waitFor([&] { return animation->state() == QAbstractAnimation::Stopped; }));
    }
    // The results the view shows whole.
    static int shownWhole(ResultsCanvas* canvas)
    {
        const QRect shown = canvas->viewport()->rect().translated(0, canvas->verticalScrollBar()->value());
        int whole = 0;
        canvas->visibleRows(shown, [&](int row) { whole += shown.contains(canvas->rowRect(row)) ? 1 : 0; });
        return whole;
    }
    static void wheelDown(ResultsCanvas* canvas, int notches)
    {
        const QPointF at(200, 200);
        for (int i = 0; i < notches; ++i) {
            QWheelEvent event(at, canvas->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(canvas->viewport(), &event);
        }
    }
    static QPoint centreOf(ResultsCanvas* canvas, int row)
    {
        return canvas->rowRect(row).translated(0, -canvas->verticalScrollBar()->value()).center();
    }
};

TEST_P(ResultsCanvasTest, ASearchRunAgainLeavesTheViewWhereTheUserScrolledIt)
{
    QTest::mouseClick(canvas->viewport(), Qt::LeftButton, {}, centreOf(canvas, 1));
    ASSERT_EQ(selected(), "/r/a1.png");
    settle(canvas);
    wheelDown(canvas, 40);
    QScrollBar* bar = canvas->verticalScrollBar();
    const int scrolled = bar->value();
    ASSERT_GT(scrolled, 4 * canvas->viewport()->height());

    // The live index searched the same text again: the same list, then one
    // with new files above the selection.
    f.publishMain(numberedFiles("a", 600, "png"));
    settle(canvas);
    EXPECT_EQ(bar->value(), scrolled);
    ItemList grown = numberedFiles("new", 3, "png");
    grown.append(numberedFiles("a", 600, "png"));
    f.publishMain(grown);
    settle(canvas);
    EXPECT_EQ(bar->value(), scrolled);
    EXPECT_EQ(selected(), "/r/a1.png");

    // A selection that really changes is still scrolled to.
    f.model().searchSession().setSelectedItemID("/r/a300.png");
    settle(canvas);
    EXPECT_TRUE(canvas->viewport()->rect().contains(centreOf(canvas, area.resultsModel().rowOfId("/r/a300.png"))));
}

TEST_P(ResultsCanvasTest, PageKeysMoveTheSelectionByAPageAndHomeEndToTheEnds)
{
    QTest::mouseClick(canvas->viewport(), Qt::LeftButton, {}, centreOf(canvas, 0));
    ASSERT_EQ(selected(), "/r/a0.png");
    settle(canvas);
    const int topPage = shownWhole(canvas);
    ASSERT_GT(topPage, 2);

    QTest::keyClick(canvas, Qt::Key_PageDown);
    EXPECT_EQ(selected(), QStringLiteral("/r/a%1.png").arg(topPage));
    QTest::keyClick(canvas, Qt::Key_End);
    EXPECT_EQ(selected(), "/r/a599.png");
    settle(canvas);
    EXPECT_TRUE(canvas->viewport()->rect().contains(centreOf(canvas, area.resultsModel().rowOfId("/r/a599.png"))));
    const int bottomPage = shownWhole(canvas);
    QTest::keyClick(canvas, Qt::Key_PageUp);
    EXPECT_EQ(selected(), QStringLiteral("/r/a%1.png").arg(599 - bottomPage));
    QTest::keyClick(canvas, Qt::Key_Home);
    EXPECT_EQ(selected(), "/r/a0.png");
    QTest::keyClick(canvas, Qt::Key_PageUp);  // clamped at the first
    EXPECT_EQ(selected(), "/r/a0.png");
}

INSTANTIATE_TEST_SUITE_P(ListAndGrid, ResultsCanvasTest,
                         testing::Values(ResultDisplayMode::List, ResultDisplayMode::Grid),
                         [](const testing::TestParamInfo<ResultDisplayMode>& info) {
                             return info.param == ResultDisplayMode::List ? "List" : "Grid";
                         });

} // namespace
} // namespace pallix
