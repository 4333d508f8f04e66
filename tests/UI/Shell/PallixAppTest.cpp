#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "App/ModelTestSupport.h"
#include "UI/Common/AppNotifications.h"
#include "UI/Common/Symbols.h"
#include "UI/Search/FaultNoticeBar.h"
#include "UI/Search/SearchWindow.h"
#include "UI/Settings/SettingsWindow.h"
#include "UI/Shell/HotKeyRegistration.h"
#include "UI/Shell/PallixApp.h"
#include "UI/Shell/SearchWindowController.h"
#include "UI/Shell/TrayController.h"

namespace pallix {

using namespace testing_support;

// The offscreen platform has neither a tray nor X11: the window shows at
// start, and the default hot key cannot be grabbed: the notice bar says so
// and names the command a desktop can bind, through the start-up's progress
// until the user dismisses it; the settings' hot-key row says so too.
TEST(PallixApp, StartsVisibleAndSaysWhenTheHotKeyCannotBeGrabbed)
{
    ModelHarness h;
    PallixApp app(h.env);
    QStringList notices;
    bool ended = false;
    QObject::connect(&app.model().context().faultNotices(), &FaultNotices::raised, &app,
                     [&](const QString& text) { notices << text; });
    QObject::connect(&app.model(), &AppModel::bootstrapEnded, &app, [&] { ended = true; });
    app.start();
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_TRUE(app.searchWindow().isVisible());
    // The window shows the application's icon, not a generic one.
    const QImage icon = app.searchWindow().windowIcon().pixmap(32, 32).toImage();
    EXPECT_FALSE(icon.isNull());
    EXPECT_EQ(icon, symbols::applicationIcon().pixmap(32, 32).toImage());
    EXPECT_TRUE(SearchWindowController::isSearchWindow(&app.searchWindow()));

    const QString failure =
        QStringLiteral("此桌面不提供全局快捷键服务，可在系统的键盘设置中为命令 pallix --toggle 设置快捷键");
    ASSERT_TRUE(waitFor([&] { return ended && !app.model().localIndex().isIndexing(); }));
    EXPECT_EQ(notices, QStringList{failure}) << "said once";
    FaultNoticeBar* bar = app.searchWindow().noticeBar();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->text()->text(), failure);
    EXPECT_NE(app.searchWindow().statusLine()->text(), failure) << "the status line has the start-up's own text";
    EXPECT_EQ(app.hotKeys().status().state(), HotKeyStatus::State::NotRegistered);

    SettingsView* settings = SettingsWindow::showFor(app.model());
    const QString row = settings->hotKeyRow()->textLabel()->text();
    EXPECT_TRUE(row.startsWith(QStringLiteral("全局快捷键：Ctrl+Alt+Space（未注册："))) << row.toStdString();
    EXPECT_TRUE(row.contains(QStringLiteral("pallix --toggle"))) << row.toStdString();
    settings->close();

    QTest::mouseClick(bar->dismissButton(), Qt::LeftButton);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(app.model().context().faultNotices().isEmpty());
}

TEST(PallixApp, NoHotKeyReportsNothing)
{
    ModelHarness h;
    h.presetSettings([](AppSettings& s) { s.globalHotKey.reset(); });
    PallixApp app(h.env);
    QStringList statuses;
    bool ended = false;
    QObject::connect(&app.model(), &AppModel::statusMessageChanged, &app,
                     [&] { statuses << app.model().statusMessage(); });
    QObject::connect(&app.model(), &AppModel::bootstrapEnded, &app, [&] { ended = true; });
    ASSERT_TRUE(waitFor([&] { return ended; }));
    EXPECT_TRUE(statuses.filter(QStringLiteral("全局快捷键")).isEmpty());
}

TEST(PallixApp, ClosingTheWindowHidesItAndTheHotKeyNotificationBringsItBack)
{
    ModelHarness h;
    PallixApp app(h.env);
    app.start();
    SearchWindow& window = app.searchWindow();
    app.model().searchSession().setSearchText(QStringLiteral("季度"));
    EXPECT_FALSE(window.close());
    EXPECT_FALSE(window.isVisible());
    AppNotifications::shared().postToggleSearchWindow();
    ASSERT_TRUE(waitFor([&] { return window.isVisible(); }));
    EXPECT_EQ(app.model().searchSession().searchText(), QStringLiteral("季度"));
}

// The search window refuses to close, so a quit that asks the windows first
// would be refused as well.
TEST(PallixApp, QuitEndsTheEventLoopAlthoughTheWindowOnlyHides)
{
    ModelHarness h;
    PallixApp app(h.env);
    app.start();
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, &app, [] { QCoreApplication::exit(1); });
    safety.start(5000);
    QTimer::singleShot(0, &app, [&] { app.tray().quitAction()->trigger(); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    safety.stop();
}

} // namespace pallix
