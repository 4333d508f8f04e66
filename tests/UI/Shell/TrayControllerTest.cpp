#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>

#include "UI/Common/AppNotifications.h"
#include "UI/Shell/TrayController.h"

namespace pallix {

using Click = TrayController::ClickAction;

TEST(TrayController, LeftClickTogglesRightOrControlClickShowsTheMenu)
{
    EXPECT_EQ(TrayController::clickAction(QSystemTrayIcon::Trigger, Qt::NoModifier), Click::Toggle);
    EXPECT_EQ(TrayController::clickAction(QSystemTrayIcon::Trigger, Qt::ControlModifier), Click::ShowMenu);
    EXPECT_EQ(TrayController::clickAction(QSystemTrayIcon::Trigger, Qt::ShiftModifier), Click::Toggle);
    EXPECT_EQ(TrayController::clickAction(QSystemTrayIcon::Context, Qt::NoModifier), Click::ShowMenu);
    EXPECT_EQ(TrayController::clickAction(QSystemTrayIcon::Unknown, Qt::NoModifier), Click::Toggle);
    EXPECT_EQ(TrayController::clickAction(QSystemTrayIcon::DoubleClick, Qt::NoModifier), Click::Ignore);
    EXPECT_EQ(TrayController::clickAction(QSystemTrayIcon::MiddleClick, Qt::NoModifier), Click::Ignore);
}

TEST(TrayController, OnlyAPlainClickPostsToggle)
{
    TrayController tray(nullptr);
    QSignalSpy toggles(&AppNotifications::shared(), &AppNotifications::toggleSearchWindow);
    tray.handleActivation(QSystemTrayIcon::Trigger, Qt::ControlModifier);
    tray.handleActivation(QSystemTrayIcon::Context, Qt::NoModifier);
    EXPECT_EQ(toggles.count(), 0);
    tray.menu()->close();
    tray.handleActivation(QSystemTrayIcon::Trigger, Qt::NoModifier);
    EXPECT_EQ(toggles.count(), 1);
}

TEST(TrayController, VisibilityValueDefaultsToShown)
{
    EXPECT_TRUE(TrayController::visibilityFrom(QVariant()));
    EXPECT_TRUE(TrayController::visibilityFrom(QVariant(QStringLiteral("false"))));
    EXPECT_TRUE(TrayController::visibilityFrom(QVariant(true)));
    EXPECT_FALSE(TrayController::visibilityFrom(QVariant(false)));
}

TEST(TrayController, MenuEntriesPostTheirNotifications)
{
    int settingsOpened = 0;
    TrayController tray([&] { ++settingsOpened; });
    const QList<QAction*> actions = tray.menu()->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("打开搜索"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("聚焦搜索框"));
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), QStringLiteral("设置…"));
    EXPECT_TRUE(actions[4]->isSeparator());
    EXPECT_EQ(actions[5]->text(), QStringLiteral("退出珀溪"));
    EXPECT_EQ(actions[5]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(actions[5], tray.quitAction());

    auto& notifications = AppNotifications::shared();
    std::vector<std::string> posted;
    QObject receiver;
    QObject::connect(&notifications, &AppNotifications::showSearchWindow, &receiver, [&] { posted.push_back("show"); });
    QObject::connect(&notifications, &AppNotifications::focusSearchField, &receiver, [&] { posted.push_back("focus"); });
    actions[0]->trigger();
    EXPECT_EQ(posted, (std::vector<std::string>{"show"}));
    posted.clear();
    actions[1]->trigger();
    EXPECT_EQ(posted, (std::vector<std::string>{"show", "focus"}));
    actions[3]->trigger();
    EXPECT_EQ(settingsOpened, 1);
}

} // namespace pallix
