#include "UI/Results/ResultsArea.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "ResultsTestSupport.h"
#include "UI/Common/SelectableLabel.h"
#include "UI/Results/EmptyResultsPanel.h"
#include "UI/Results/ListColumns.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsHeaderView.h"
#include "UI/Results/ResultsListView.h"
#include "UI/Settings/ElidingLabel.h"

namespace pallix {
namespace {

using namespace testing_support;
using F = SearchContentFilter;

struct ResultsAreaTest : testing::Test {
    ResultsFixture f;
    ResultsArea area{f.model().searchSession(), nullptr, f.h.thumbnails};
    void SetUp() override
    {
        area.resize(1300, 700);
        area.show();
    }
    QPushButton* button(const QString& title)
    {
        for (QPushButton* b : area.emptyPanel()->findChildren<QPushButton*>())
            if (b->text() == title)
                return b;
        return nullptr;
    }
};

TEST(EmptyResultsPanel, ConstraintLinesAndResetTitle)
{
    using P = EmptyResultsPanel;
    using Lines = std::vector<P::Line>;
    P::Constraints c{QString(), {F::All}, "plain", SearchMatchMode::Contains, false};
    EXPECT_EQ(P::constraintLines(c), (Lines{{"匹配", "包含"}}));
    EXPECT_EQ(P::resetButtonTitle(c), "再试一次");

    c.contentFilters = {F::Videos, F::Images, F::Archives};
    EXPECT_EQ(P::constraintLines(c).front(), (P::Line{"筛选类型", "压缩文件、图片、视频"}));
    c.contentFilters = {F::All, F::Folders, F::Images, F::Documents, F::Videos, F::Normal, F::Archives, F::Executables};
    EXPECT_EQ(P::constraintLines(c).front().second, "压缩文件、可执行文件、图片、所有、文件夹、文档、普通、视频");
    EXPECT_EQ(P::resetButtonTitle(c), "清除限制并重试");

    EXPECT_EQ(P::detectedTextConstraints("re:abc EXT:png"), (QStringList{"ext:…", "re:…"}));
    EXPECT_EQ(P::detectedTextConstraints("next: where:"), (QStringList{"ext:…", "re:…"}));
    EXPECT_EQ(P::detectedTextConstraints("path:a type:f dm:1 ext: re:"),
              (QStringList{"ext:…", "path:…", "type:…", "dm:…", "re:…"}));

    c = P::Constraints{"/home/a", {F::All}, "", SearchMatchMode::Exact, true};
    c.searchText = "x ext:png";
    EXPECT_EQ(P::constraintLines(c), (Lines{{"当前范围", "/home/a"}, {"搜索条件", "ext:…"}, {"匹配", "精确（区分大小写）"}}));
    // Operators alone keep the plain title.
    EXPECT_EQ(P::resetButtonTitle(P::Constraints{QString(), {F::All}, "ext:png", SearchMatchMode::Contains, false}),
              "再试一次");
}

TEST_F(ResultsAreaTest, EmptyPanelShowsTheStateAndItsButtonsEmit)
{
    EXPECT_EQ(area.currentBody(), area.emptyPanel());
    EXPECT_EQ(area.emptyPanel()->buttonTitles(), QStringList{"再试一次"});
    QSignalSpy reset(&area, &ResultsArea::resetConstraintsRequested);
    QSignalSpy clear(&area, &ResultsArea::clearScopeRequested);
    QSignalSpy enable(&area, &ResultsArea::enableExternalIndexingRequested);

    f.model().searchSession().constraints().applyScopedPath("/home/a", true);
    EXPECT_EQ(area.emptyPanel()->buttonTitles(), (QStringList{"清除范围", "清除限制并重试"}));
    EXPECT_EQ(area.emptyPanel()->lines().front(), (EmptyResultsPanel::Line{"当前范围", "/home/a"}));
    area.setExternalIndexingCTA(ResultsArea::ExternalIndexingCTA{"外接磁盘未建立索引", "索引外接磁盘"});
    ASSERT_TRUE(button("清除范围") && button("清除限制并重试") && button("索引外接磁盘"));
    button("清除范围")->click();
    button("清除限制并重试")->click();
    button("索引外接磁盘")->click();
    EXPECT_EQ(clear.count(), 1);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(enable.count(), 1);
    area.setExternalIndexingCTA(std::nullopt);
    EXPECT_EQ(button("索引外接磁盘"), nullptr);

    // Changed while results are listed: shown as it then stands once they are gone.
    f.publishMain(fileItems({"/home/a/x.txt"}));
    ASSERT_NE(area.currentBody(), area.emptyPanel());
    f.model().searchSession().constraints().clearScope();
    f.publishMain({});
    ASSERT_EQ(area.currentBody(), area.emptyPanel());
    EXPECT_EQ(area.emptyPanel()->buttonTitles(), QStringList{"再试一次"});
}

TEST_F(ResultsAreaTest, BodyFollowsResultsAndModeAndHeaderOnlyInList)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    EXPECT_EQ(area.currentBody(), area.emptyPanel());
    EXPECT_TRUE(area.headerView()->isVisible());  // stays above the empty panel
    f.publishMain(numberedFiles("a", 3));
    EXPECT_EQ(area.currentBody(), area.listView());
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::Grid);
    EXPECT_EQ(area.currentBody(), area.gridView());
    EXPECT_FALSE(area.headerView()->isVisible());
}

TEST_F(ResultsAreaTest, ClicksSelectOpenActAndEmptySpaceClears)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    f.publishMain(numberedFiles("a", 5));
    ResultsListView* list = area.listView();
    QWidget* viewport = list->viewport();
    QSignalSpy open(&area, &ResultsArea::openItemRequested);
    QSignalSpy reveal(&area, &ResultsArea::revealItemRequested);
    QSignalSpy scope(&area, &ResultsArea::scopeToItemRequested);
    QSignalSpy cancel(&area, &ResultsArea::cancelInlineRenameRequested);

    // A click on the date column selects; a double click there does not open.
    const QRect dates = ListColumns::layout(viewport->width(), 0, 1)[ListColumns::Modified];
    const QPoint dateOfRow2(dates.center().x(), list->rowRect(2).center().y());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, dateOfRow2);
    EXPECT_EQ(f.model().searchSession().selectedItemID(), "/r/a2.txt");
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, dateOfRow2);
    EXPECT_EQ(open.count(), 0);

    // The selected row shows its buttons: scope, open, reveal.
    ASSERT_TRUE(list->showsActions(2));
    EXPECT_EQ(ResultsListView::actionSymbol(f.model().searchSession().results()[2], 0), "arrow.turn.down.right");
    QTest::mouseClick(viewport, Qt::LeftButton, {}, list->actionRect(2, 0).center());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, list->actionRect(2, 1).center());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, list->actionRect(2, 2).center());
    ASSERT_EQ(scope.count(), 1);
    EXPECT_EQ(qvariant_cast<IndexedItem>(scope.at(0).at(0)).path(), "/r/a2.txt");
    EXPECT_EQ(open.count(), 1);
    EXPECT_EQ(reveal.count(), 1);

    // A double click on the icon selects and opens, unless that row is being renamed.
    const QPoint iconOfRow3(ListColumns::kPadding + 9, list->rowRect(3).center().y());
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, iconOfRow3);
    EXPECT_EQ(f.model().searchSession().selectedItemID(), "/r/a3.txt");
    EXPECT_EQ(open.count(), 2);
    f.model().searchSession().inlineRename().setTargetID("/r/a3.txt");
    EXPECT_FALSE(list->showsActions(3));
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, iconOfRow3);
    EXPECT_EQ(open.count(), 2);

    // Below the last row: the selection goes, and so does the rename.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(300, list->rowRect(4).bottom() + 40));
    EXPECT_EQ(f.model().searchSession().selectedItemID(), "");
    EXPECT_EQ(cancel.count(), 1);
    f.model().searchSession().inlineRename().setTargetID(QString());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(300, list->rowRect(4).bottom() + 40));
    EXPECT_EQ(cancel.count(), 1);
}

TEST_F(ResultsAreaTest, NoRowShowsActionsPast120MainResults)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    f.publishMain(numberedFiles("a", 121));
    f.model().searchSession().setSelectedItemID("/r/a0.txt");
    EXPECT_FALSE(area.listView()->showsActions(0));
}

TEST_F(ResultsAreaTest, CtrlWheelOverTheGridZoomsAndPlainWheelScrolls)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::Grid);
    f.publishMain(numberedFiles("a", 400, "png"));
    ResultsGridView* grid = area.gridView();
    QWidget* viewport = grid->viewport();
    QSignalSpy zoom(&area, &ResultsArea::adjustZoomRequested);
    const auto wheel = [&](QPoint angle, Qt::KeyboardModifiers modifiers) {
        QWheelEvent event(QPointF(200, 200), viewport->mapToGlobal(QPointF(200, 200)), QPoint(), angle, Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    };
    grid->verticalScrollBar()->setValue(0);
    wheel(QPoint(0, -240), Qt::ControlModifier);
    wheel(QPoint(120, 0), Qt::ControlModifier | Qt::ShiftModifier);  // horizontal only
    wheel(QPoint(0, 0), Qt::ControlModifier);                         // nothing to report
    ASSERT_EQ(zoom.count(), 2);
    EXPECT_DOUBLE_EQ(zoom.at(0).at(0).toDouble(), -2.0);
    EXPECT_DOUBLE_EQ(zoom.at(1).at(0).toDouble(), 1.0);
    EXPECT_EQ(grid->verticalScrollBar()->value(), 0);

    wheel(QPoint(0, -120), Qt::NoModifier);
    EXPECT_GT(grid->verticalScrollBar()->value(), 0);
    EXPECT_EQ(zoom.count(), 2);

    // A pinch reports its running total each time, not the step.
    const auto pinch = [&](Qt::NativeGestureType type, double value) {
        QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, QPointF(200, 200),
                                  QPointF(200, 200), viewport->mapToGlobal(QPointF(200, 200)), value, QPointF());
        QApplication::sendEvent(viewport, &event);
    };
    zoom.clear();
    pinch(Qt::BeginNativeGesture, 0);
    for (int i = 0; i < 3; ++i)
        pinch(Qt::ZoomNativeGesture, 0.1);
    pinch(Qt::EndNativeGesture, 0);
    ASSERT_EQ(zoom.count(), 3);
    EXPECT_NEAR(zoom.at(0).at(0).toDouble(), 0.1, 1e-9);
    EXPECT_NEAR(zoom.at(2).at(0).toDouble(), 0.3, 1e-9);

    // The model's step follows, and the grid lays out its cards again.
    const double before = grid->gridLayout().columns().width;
    f.model().searchSession().constraints().adjustGridZoom(10);
    EXPECT_GT(grid->gridLayout().columns().width, before);
}

TEST_F(ResultsAreaTest, TheSelectedRowScrollsToTheCentre)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    f.model().searchSession().setImageFuzzyResults(numberedFiles("f", 50, "png"));
    f.publishMain(numberedFiles("a", 500));
    ResultsListView* list = area.listView();
    QScrollBar* bar = list->verticalScrollBar();
    const auto centred = [&](int row) {
        return std::abs(list->rowRect(row).center().y() - bar->value() - list->viewport()->height() / 2) <= 1;
    };
    f.model().searchSession().setSelectedItemID("/r/a400.txt");
    EXPECT_TRUE(waitFor([&] { return centred(400); }));
    // A path only among the image-content matches scrolls to its qualified row.
    f.model().searchSession().setSelectedItemID("/r/f10.png");
    const int fuzzyRow = area.resultsModel().rowOfId("fuzzy-/r/f10.png");
    ASSERT_GT(fuzzyRow, 500);
    EXPECT_TRUE(waitFor([&] { return centred(fuzzyRow); }));
    // Back to the top, clamped to the range.
    f.model().searchSession().setSelectedItemID("/r/a0.txt");
    EXPECT_TRUE(waitFor([&] { return bar->value() == 0; }));
}

TEST_F(ResultsAreaTest, ShowMoreButtonShowsEveryMatch)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    f.model().searchSession().setImageFuzzyResults(numberedFiles("f", 605, "png"));
    ResultsListView* list = area.listView();
    ResultsModel& rows = area.resultsModel();
    const int last = rows.rowCount() - 1;
    ASSERT_EQ(rows.rowAt(last).kind, ResultsModel::RowKind::ShowMore);
    list->centerOnRow(last);
    const QRect rect = list->rowRect(last).translated(0, -list->verticalScrollBar()->value());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_TRUE(rows.showAllFuzzy());
    EXPECT_EQ(rows.hiddenFuzzyCount(), 0);
}

} // namespace
} // namespace pallix

namespace pallix {
namespace {

TEST_F(ResultsAreaTest, ColumnsFitTheViewAndStayClearOfTheRowButtons)
{
    f.model().searchSession().constraints().setDisplayMode(ResultDisplayMode::List);
    f.publishMain(numberedFiles("a", 3));
    ResultsListView* list = area.listView();
    QSignalSpy reveal(&area, &ResultsArea::revealItemRequested);
    f.model().searchSession().setSelectedItemID("/r/a1.txt");
    for (const int width : {920, 1120, 1600}) {
        SCOPED_TRACE(width);
        area.resize(width, 500);
        const int view = list->viewport()->width();
        const auto columns = ListColumns::layout(view, 0, 1);
        for (int c = 1; c < ListColumns::Count; ++c)
            EXPECT_GT(columns[c].left(), columns[c - 1].right()) << "column " << c;
        EXPECT_LE(columns[ListColumns::Actions].right(), view);
        EXPECT_GE(columns[ListColumns::Folder].width(), ListColumns::kFolderMinWidth);
        for (int action = 0; action < 3; ++action) {
            const QRect button = list->actionRect(1, action);
            EXPECT_TRUE(list->viewport()->rect().contains(button)) << action;
            EXPECT_LT(columns[ListColumns::Folder].right(), button.left()) << action;
        }
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->actionRect(1, 2).center());
    }
    EXPECT_EQ(reveal.count(), 3);
    // The selectable texts laid over the row leave the buttons their clicks.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list->viewport()->findChildren<SelectableLabel*>().isEmpty(); }));
    for (int action = 0; action < 3; ++action)
        EXPECT_EQ(list->viewport()->childAt(list->actionRect(1, action).center()), nullptr) << action;
}

TEST_F(ResultsAreaTest, TheScopePathTakesAtMostTwoLinesShortenedInTheMiddle)
{
    const QString deep = QStringLiteral("/home/用户/") + QStringLiteral("一个很长的文件夹名字/").repeated(30)
                         + QStringLiteral("最后一层");
    for (const QString& scope : {QStringLiteral("/home/用户/合同"), deep}) {
        f.model().searchSession().constraints().applyScopedPath(scope, true);
        area.resize(1100, 600);
        QApplication::processEvents();
        ElidingLabel* value = nullptr;
        for (ElidingLabel* label : area.emptyPanel()->findChildren<ElidingLabel*>())
            if (label->text() == scope)
                value = label;
        ASSERT_NE(value, nullptr);
        const QStringList lines = value->linesFor(value->width());
        EXPECT_LE(value->width(), 420);
        EXPECT_GE(value->height(), value->heightForWidth(value->width()));  // every line whole
        for (const QString& line : lines)
            EXPECT_LE(value->fontMetrics().horizontalAdvance(line), value->width()) << line.toStdString();
        if (scope != deep) {
            EXPECT_EQ(lines, QStringList{scope});
            continue;
        }
        ASSERT_EQ(lines.size(), 2);
        EXPECT_TRUE(lines[0].startsWith(QStringLiteral("/home/用户/一个很长的"))) << lines[0].toStdString();
        EXPECT_TRUE(lines[1].startsWith(QChar(0x2026))) << lines[1].toStdString();
        EXPECT_TRUE(lines[1].endsWith(QStringLiteral("/最后一层"))) << lines[1].toStdString();
    }
}

TEST_F(ResultsAreaTest, EmptyPanelHintIsNotCutOff)
{
    QLabel* hint = nullptr;
    for (QLabel* label : area.emptyPanel()->findChildren<QLabel*>())
        if (label->text().startsWith("通常是"))
            hint = label;
    ASSERT_NE(hint, nullptr);
    for (int width : {1300, 500}) {
        area.resize(width, 600);
        QApplication::processEvents();
        EXPECT_GE(hint->height(), hint->heightForWidth(hint->width())) << width;
        EXPECT_GE(hint->width(), std::min(hint->fontMetrics().horizontalAdvance(hint->text()), width - 40)) << width;
    }
}

} // namespace
} // namespace pallix
