// What the results show where, in the search window: a renamed item keeps
// its place under its new name while the index still lists the old path, and the
// view follows it wherever a new list puts it; showing the window again keeps the place
// the user scrolled to, while switching the display mode shows the selection.

#include <gtest/gtest.h>

#include <QAbstractAnimation>
#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWheelEvent>

#include "App/ModelTestSupport.h"
#include "Core/Config/EditionRule.h"
#include "UI/Results/InlineRenameField.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsCanvas.h"
#include "UI/Results/ResultsModel.h"
#include "UI/Search/SearchView.h"
#include "UI/Search/SearchWindow.h"
#include "UI/Shell/SearchWindowController.h"

namespace pallix {
namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class ResultsPlaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 1; i <= 60; ++i)
            writeFile(h.rootFolder() / versionName(i).toStdString());
        h.defaults->setBoolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed), true);
        h.start();
        ASSERT_TRUE(h.settle());
        window = std::make_unique<SearchWindow>(*h.model, h.thumbnails);
        window->resize(1100, 600);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        session().setSearchText(QStringLiteral("版本"));
        session().scheduleSearch(true, false);
        ASSERT_TRUE(pumpUntil(*h.clock, [&] { return session().results().size() == 60; }));
        ASSERT_TRUE(h.runOut());
    }

    static QString versionName(int i) { return QStringLiteral("版本 A%1.txt").arg(i, 2, 10, QChar('0')); }
    QString pathOf(const QString& name) const { return QString::fromStdString((h.rootFolder() / name.toStdString()).string()); }
    SearchSession& session() { return h.model->searchSession(); }
    const ResultsModel& rows() const { return window->searchView()->resultsArea()->resultsModel(); }
    ResultsCanvas* canvas() const
    {
        return qobject_cast<ResultsCanvas*>(window->searchView()->resultsArea()->currentBody());
    }
    // The row's rectangle in the viewport.
    QRect shownRect(int row) const
    {
        return canvas()->rowRect(row).translated(0, -canvas()->verticalScrollBar()->value());
    }
    bool isShown(const QString& id) const
    {
        const int row = rows().rowOfId(id);
        return row >= 0 && canvas()->viewport()->rect().contains(shownRect(row));
    }
    void clickDisplayMode(ResultDisplayMode mode)
    {
        const QString tip = mode == ResultDisplayMode::Grid ? QStringLiteral("网格") : QStringLiteral("列表");
        for (auto* button : window->findChildren<QToolButton*>()) {
            if (button->toolTip() == tip)
                QTest::mouseClick(button, Qt::LeftButton);
        }
        ASSERT_EQ(session().constraints().displayMode(), mode);
    }
    void clickName(const QString& path)
    {
        const int row = rows().rowOfId(path);
        ASSERT_GE(row, 0);
        const QPoint at = canvas()->nameRect(row).center() - QPoint(0, canvas()->verticalScrollBar()->value());
        QTest::mouseClick(canvas()->viewport(), Qt::LeftButton, {}, at);
        ASSERT_EQ(session().selectedItemID(), path);
    }
    // What the events posted so far do has been done, and any scroll has ended.
    void settle()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        for (auto* animation : canvas()->findChildren<QVariantAnimation*>())
            ASSERT_TRUE(QTest::qWaitFor([&] { return animation->state() == QAbstractAnimation::Stopped; }));
    }
    void wheelDown(int notches)
    {
        const QPointF at(200, 100);
        for (int i = 0; i < notches; ++i) {
            QWheelEvent event(at, canvas()->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(canvas()->viewport(), &event);
        }
    }

    ModelHarness h;
    std::unique_ptr<SearchWindow> window;
};

TEST_F(ResultsPlaceTest, ARenamedItemKeepsItsPlaceUnderItsNewNameThenTheListFollowsIt)
{
    const QString old = pathOf(versionName(2));
    const QString renamed = pathOf(QStringLiteral("版本 Z02.txt"));
    clickName(old);
    settle();
    const int place = rows().rowOfId(old);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas()->renameField() && canvas()->renameField()->hasFocus(); }));
    // "版本 A02.txt" becomes "版本 Z02.txt".
    InlineRenameField* rename = canvas()->renameField();
    QTest::keyClick(rename, Qt::Key_Home);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(rename, Qt::Key_Right);
    QTest::keyClick(rename, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClicks(rename, "Z");
    QTest::keyClick(rename, Qt::Key_Return);
    ASSERT_TRUE(fs::exists(renamed.toStdString()));

    const auto showsOldName = [&] {
        for (int row = 0; row < rows().rowCount(); ++row)
            if (rows().index(row).data(Qt::DisplayRole).toString() == versionName(2))
                return true;
        return false;
    };
    // Wherever the rename put it, the view shows it selected by its new name.
    const auto followed = [&] {
        settle();
        EXPECT_FALSE(showsOldName());
        EXPECT_EQ(session().selectedItemID(), renamed);
        EXPECT_TRUE(isShown(renamed));
    };
    followed();
    ASSERT_TRUE(h.runOut());
    EXPECT_EQ(rows().rowOfId(renamed), place);
    followed();

    // A file changes in another folder first: the index, still holding the
    // old path, lists the item there, under its new name.
    const std::string elsewhere = pathOf(QStringLiteral("其他/版本 B00.txt")).toStdString();
    writeFile(elsewhere);
    h.watcher->deliver({elsewhere});
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return rows().rowCount() == 61; }, 50ms));
    EXPECT_EQ(rows().rowOfId(renamed), place);
    followed();

    // The index learns of the rename: the item moves to the end, and the view with it.
    h.watcher->deliver({old.toStdString(), renamed.toStdString()});
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return rows().rowOfId(renamed) == 60; }, 50ms));
    followed();
    EXPECT_FALSE(isShown(pathOf(versionName(1))));
}

TEST_F(ResultsPlaceTest, ShowingTheWindowAgainKeepsThePlaceAndSwitchingTheModeShowsTheSelection)
{
    SearchWindowController controller;
    controller.configure(window.get());
    const QString first = pathOf(versionName(1));
    for (const ResultDisplayMode mode : {ResultDisplayMode::Grid, ResultDisplayMode::List}) {
        SCOPED_TRACE(mode == ResultDisplayMode::List ? "list" : "grid");
        clickDisplayMode(mode);
        settle();
        clickName(first);
        settle();
        wheelDown(6);
        settle();
        const int place = canvas()->verticalScrollBar()->value();
        ASSERT_GT(place, 0);
        ASSERT_FALSE(isShown(first));

        // The hot key, or `--toggle`, twice.
        controller.toggle();
        ASSERT_FALSE(window->isVisible());
        controller.toggle();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        settle();
        EXPECT_EQ(canvas()->verticalScrollBar()->value(), place);

        window->showMinimized();
        window->showNormal();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        settle();
        EXPECT_EQ(canvas()->verticalScrollBar()->value(), place);
    }
    // The grid comes on screen again in place of the list: it shows the selection.
    clickDisplayMode(ResultDisplayMode::Grid);
    settle();
    EXPECT_TRUE(isShown(first));
}

} // namespace
} // namespace pallix
