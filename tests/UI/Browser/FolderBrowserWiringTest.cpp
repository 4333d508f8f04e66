// The application answers a folder request with a browser window of its own,
// told apart from the search window by its role.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "App/ModelTestSupport.h"
#include "App/Actions/ResultActions.h"
#include "App/Preview/FolderBrowserManager.h"
#include "UI/Browser/FolderBrowserView.h"
#include "UI/Browser/FolderBrowserWindowController.h"
#include "UI/Browser/FolderBrowserWindows.h"
#include "UI/Search/SearchWindow.h"
#include "UI/Shell/PallixApp.h"
#include "UI/Shell/SearchWindowController.h"

namespace pallix {

using namespace testing_support;

TEST(FolderBrowserWiring, AFolderRequestOpensAnActiveBrowserWindow)
{
    ModelHarness h;
    PallixApp app(h.env);
    // Its modal sheet would keep the browser from being active.
    app.model().settingsOperations().markWelcomeSheetDismissed();
    app.start();
    const QString folder = QString::fromStdString(h.rootFolder().string());
    FolderBrowserManager::shared().open(folder);
    ASSERT_EQ(app.browserWindows().controllers().size(), 1);
    FolderBrowserView* window = app.browserWindows().controllers().first()->window();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    EXPECT_TRUE(FolderBrowserWindowController::isBrowserWindow(window));
    EXPECT_FALSE(SearchWindowController::isSearchWindow(window));
    EXPECT_FALSE(FolderBrowserWindowController::isBrowserWindow(&app.searchWindow()));
    EXPECT_EQ(window->windowTitle(), QString::fromStdString(h.rootFolder().filename().string()));

    // A folder result opened from the search window gets a window too.
    const auto item = IndexedItem::from(h.rootFolder().string());
    ASSERT_TRUE(item.has_value());
    app.model().resultActions().open(*item);
    EXPECT_EQ(app.browserWindows().controllers().size(), 2);
}

} // namespace pallix
