// Where windows open, on two screens of 1600 × 1000 side by side (see
// two-screens.json): wholly on the screen of their parent, or of the pointer.

#include <gtest/gtest.h>

#include <QCursor>
#include <QScreen>
#include <QTest>

#include "App/ModelTestSupport.h"
#include "Core/Config/EditionRule.h"
#include "App/Preview/FolderBrowserManager.h"
#include "UI/Browser/FolderBrowserView.h"
#include "UI/Browser/FolderBrowserWindowController.h"
#include "UI/Browser/FolderBrowserWindows.h"
#include "UI/Common/AppNotifications.h"
#include "UI/Common/WindowPlacement.h"
#include "UI/Preview/PreviewPanelWindow.h"
#include "UI/Search/SearchWindow.h"
#include "UI/Settings/SettingsView.h"
#include "UI/Settings/SettingsWindow.h"
#include "UI/Shell/SearchWindowController.h"

namespace pallix {
namespace {

using namespace testing_support;

QRect freeArea(int screen)
{
    return QGuiApplication::screens().at(screen)->availableGeometry();
}

testing::AssertionResult whollyOn(const QWidget* window, int screen)
{
    if (freeArea(screen).contains(window->frameGeometry()))
        return testing::AssertionSuccess();
    const QRect f = window->frameGeometry();
    return testing::AssertionFailure() << window->metaObject()->className() << " at " << f.x() << "," << f.y() << " "
                                       << f.width() << "x" << f.height() << " is not wholly on screen " << screen;
}

TEST(WindowPlacement, AFrameIsCentredOnItsAnchorAndKeptWithinTheFreeArea)
{
    using WindowPlacement::fittedFrame;
    const QRect area(1600, 30, 1600, 970);
    EXPECT_EQ(fittedFrame({800, 600}, area), QRect(2000, 215, 800, 600));
    EXPECT_EQ(fittedFrame({800, 600}, area, QRect(2000, 100, 400, 200)), QRect(1800, 30, 800, 600));
    // An anchor near the far corner, or beyond it: pushed back inside.
    EXPECT_EQ(fittedFrame({980, 730}, area, QRect(2900, 800, 600, 400)), QRect(2220, 270, 980, 730));
    // Larger than the free area: cut down to it.
    EXPECT_EQ(fittedFrame({2000, 1200}, area, QRect(1700, 40, 10, 10)), area);
}

class WindowPlacementTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::screens().size(), 2);
        h.defaults->setBoolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed), true);
        h.start();
        ASSERT_TRUE(h.settle());
        fs::create_directories(h.rootFolder() / "相册");
        PreviewPanel::setShared(&preview);
    }
    void TearDown() override { PreviewPanel::setShared(nullptr); }

    ModelHarness h;
    PreviewPanelWindow preview;
    FolderBrowserWindows browsers{FolderBrowserManager::shared(), h.thumbnails};
};

TEST_F(WindowPlacementTest, EveryWindowOpensWhollyOnTheScreenOfItsParentOrOfThePointer)
{
    // Settings from the tray: no parent, the pointer on the right screen.
    QCursor::setPos(freeArea(1).center() + QPoint(600, 400));
    SettingsView* settings = SettingsWindow::showFor(*h.model);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings));
    EXPECT_TRUE(whollyOn(settings, 1));
    settings->close();

    // The search window, called up with the pointer there too.
    SearchWindow search(*h.model, h.thumbnails);
    SearchWindowController controller;
    controller.configure(&search);
    controller.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&search));
    EXPECT_TRUE(whollyOn(&search, 1));

    // The user drags it half past the right screen's far corner, and moves
    // the pointer to the other screen: what it opens stays on its screen.
    search.move(freeArea(1).bottomRight() - QPoint(700, 500));
    QCursor::setPos(freeArea(0).center());
    FolderBrowserWindowController* browser = browsers.open(QString::fromStdString((h.rootFolder() / "相册").string()));
    ASSERT_TRUE(QTest::qWaitForWindowActive(browser->window()));
    EXPECT_TRUE(whollyOn(browser->window(), 1));

    browser->window()->move(freeArea(1).topRight() - QPoint(300, -10));
    preview.present(nullptr, 0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    EXPECT_TRUE(whollyOn(&preview, 1));

    // Put back by the user where it fits, closed and opened again: it stays.
    const QPoint chosen = freeArea(1).topLeft() + QPoint(40, 40);
    preview.move(chosen);
    preview.close();
    QCursor::setPos(freeArea(1).center());
    preview.present(nullptr, 0);
    EXPECT_EQ(preview.pos(), chosen);
}

TEST_F(WindowPlacementTest, TheHotKeyShowsTheSearchWindowWhereTheUserLeftItUnlessItIsOffEveryScreen)
{
    SearchWindow search(*h.model, h.thumbnails);
    SearchWindowController controller;
    controller.configure(&search);
    const auto pressHotKey = [&] {
        const bool wasShown = search.isVisible();
        AppNotifications::shared().postToggleSearchWindow();
        return waitFor([&] { return search.isVisible() != wasShown; });
    };
    ASSERT_TRUE(pressHotKey());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&search));

    // Over the top edge, over the far left and right edges, across both
    // screens: the pointer elsewhere, it comes back to the same place.
    QCursor::setPos(freeArea(1).center());
    const QPoint leftAt[] = {{300, -8}, {-3, 200}, {3200 - search.frameGeometry().width() + 3, 150}, {1200, 100}};
    for (const QPoint& at : leftAt) {
        SCOPED_TRACE(testing::Message() << "left at " << at.x() << "," << at.y());
        search.move(at);
        const QRect left = search.frameGeometry();
        ASSERT_FALSE(freeArea(0).contains(left) || freeArea(1).contains(left));  // over an edge
        ASSERT_TRUE(pressHotKey());
        ASSERT_FALSE(search.isVisible());
        ASSERT_TRUE(pressHotKey());
        EXPECT_EQ(search.frameGeometry(), left);
    }

    // Off every screen (a screen it stood on is gone): it comes back whole
    // on the pointer's.
    search.move(5000, 300);
    ASSERT_TRUE(pressHotKey());
    ASSERT_TRUE(pressHotKey());
    EXPECT_TRUE(whollyOn(&search, 1));
}

} // namespace
} // namespace pallix
