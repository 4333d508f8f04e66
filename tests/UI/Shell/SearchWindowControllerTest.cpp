#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>

#include "UI/Common/AppNotifications.h"
#include "UI/Shell/SearchWindowController.h"

namespace pallix {

class SearchWindowControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        field = new QLineEdit(&window);
        window.setCentralWidget(field);
        controller.configure(&window);
    }

    QMainWindow window;
    QLineEdit* field = nullptr;
    SearchWindowController controller;
};

TEST_F(SearchWindowControllerTest, ConfigureSetsTitleAndSizesOnce)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("珀溪"));
    EXPECT_EQ(window.minimumSize(), QSize(920, 620));
    EXPECT_EQ(window.size(), QSize(1120, 720));
    EXPECT_TRUE(SearchWindowController::isSearchWindow(&window));
    window.resize(1000, 700);
    for (int i = 0; i < 20; ++i)
        controller.configure(&window);
    EXPECT_EQ(window.size(), QSize(1000, 700));
}

TEST_F(SearchWindowControllerTest, CloseHidesAndKeepsTheWindowAndItsText)
{
    QPointer<QMainWindow> alive(&window);
    window.show();
    field->setText(QStringLiteral("报告"));
    EXPECT_FALSE(window.close());
    EXPECT_FALSE(window.isVisible());
    QCoreApplication::processEvents();
    ASSERT_TRUE(alive);

    AppNotifications::shared().postShowSearchWindow();
    EXPECT_FALSE(window.isVisible());  // queued: after the poster returns
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 20000));
    EXPECT_EQ(field->text(), QStringLiteral("报告"));
}

TEST_F(SearchWindowControllerTest, CtrlWHidesTheWindowAsItsCloseButtonDoes)
{
    AppNotifications::shared().postShowSearchWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 20000));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setText(QStringLiteral("报告"));
    QTest::keyClick(field, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(field->text(), QStringLiteral("报告"));
}

TEST_F(SearchWindowControllerTest, ToggleHidesAVisibleWindowAndShowsAHiddenOne)
{
    QSignalSpy focusRequests(&AppNotifications::shared(), &AppNotifications::focusSearchField);
    AppNotifications::shared().postToggleSearchWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 20000));
    EXPECT_EQ(focusRequests.count(), 1);  // every show ends by asking for the field's focus

    AppNotifications::shared().postToggleSearchWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 20000));
    EXPECT_EQ(focusRequests.count(), 1);
}

TEST_F(SearchWindowControllerTest, ToggleBringsBackAMinimisedWindowWithTheFocusInItsField)
{
    window.show();
    window.showMinimized();
    ASSERT_TRUE(window.isMinimized());
    QSignalSpy focusRequests(&AppNotifications::shared(), &AppNotifications::focusSearchField);
    AppNotifications::shared().postToggleSearchWindow();
    ASSERT_TRUE(focusRequests.wait(20000));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
}

TEST_F(SearchWindowControllerTest, ShowHidesOtherSearchWindowsButNotWindowsWithTheSameTitle)
{
    QWidget otherSearchWindow;
    SearchWindowController::markSearchWindow(&otherSearchWindow);
    QWidget folderWindow;  // a folder browser showing a folder named like the app
    folderWindow.setWindowTitle(QStringLiteral("珀溪"));
    otherSearchWindow.show();
    folderWindow.show();

    AppNotifications::shared().postShowSearchWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 20000));
    EXPECT_FALSE(otherSearchWindow.isVisible());
    EXPECT_TRUE(folderWindow.isVisible());
    EXPECT_FALSE(SearchWindowController::isSearchWindow(&folderWindow));
}

TEST(SearchWindowControllerNoWindow, NotificationsBeforeAWindowDoNothing)
{
    SearchWindowController controller;
    controller.show();
    controller.toggle();
    EXPECT_EQ(controller.window(), nullptr);
}

} // namespace pallix
