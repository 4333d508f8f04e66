#include "UI/Shell/PallixApp.h"

#include <utility>

#include <QApplication>

#include "App/AppModel.h"
#include "App/Context/AppContext.h"
#include "App/Context/FaultNotices.h"
#include "App/Preview/FolderBrowserManager.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Browser/FolderBrowserWindows.h"
#include "UI/Common/AppNotifications.h"
#include "UI/Common/HotKeyManager.h"
#include "UI/Common/Symbols.h"
#include "UI/Preview/DesktopDialogs.h"
#include "UI/Preview/PreviewPanelWindow.h"
#include "UI/Search/SearchView.h"
#include "UI/Search/SearchWindow.h"
#include "UI/Settings/SettingsWindow.h"
#include "UI/Shell/GlobalShortcutsPortal.h"
#include "UI/Shell/HotKeyRegistration.h"
#include "UI/Shell/SearchWindowController.h"
#include "UI/Shell/TrayController.h"

namespace pallix {

PallixApp::PallixApp(AppModelEnvironment environment, QObject* parent) : QObject(parent)
{
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(symbols::applicationIcon());
    symbols::ensureIconTheme();

    if (!environment.defaults)
        environment.defaults = Defaults::atFile(Defaults::standardFile());
    environment.services.menuBarVisibilityChanged = [](bool visible) {
        AppNotifications::shared().postMenuBarVisibilityChanged(visible);
    };
    if (HotKeyRegistration::isWaylandSession())
        m_portal = std::make_unique<GlobalShortcutsPortal>();
    m_hotKeys = std::make_unique<HotKeyRegistration>(HotKeyRegistration::Context{
        &HotKeyManager::shared(), m_portal.get(), [] { AppNotifications::shared().postToggleSearchWindow(); },
        [this](const QString& message) { reportHotKeyFailure(message); }});
    environment.services.registerHotKey = [this](const std::optional<GlobalHotKey>& hotKey) {
        registerHotKey(hotKey);
    };
    if (!environment.desktop)
        environment.desktop = makeWidgetDesktop();
    installPreviewPanel();
    ThumbnailProvider& thumbnails = environment.thumbnails ? *environment.thumbnails : ThumbnailProvider::shared();

    m_tray = std::make_unique<TrayController>([this] { SettingsWindow::showFor(*m_model); });
    m_controller = std::make_unique<SearchWindowController>();
    FolderBrowserEnvironment browsers;
    browsers.desktop = environment.desktop;  // the browser windows open and reveal as the results do
    m_model = std::make_unique<AppModel>(std::move(environment));
    if (const QString failure = std::exchange(m_pendingHotKeyFailure, {}); !failure.isEmpty())
        m_model->context().faultNotices().raise(FaultNotices::Cause::HotKey, failure);
    m_window = std::make_unique<SearchWindow>(*m_model, thumbnails);
    connect(m_window->searchView(), &SearchView::settingsRequested, this,
            [this] { SettingsWindow::showSheet(*m_model, m_window.get()); });
    // The recorder needs the key the grab would otherwise take.
    SettingsWindow::setRecordingHooks({[] { HotKeyManager::shared().suspend(); },
                                       [] { HotKeyManager::shared().resume(); }});
    SettingsWindow::setHotKeyStatus(&m_hotKeys->status());
    m_window->addAction(m_tray->quitAction());  // Ctrl+Q in the window as well
    m_controller->configure(m_window.get());
    // Folders opened from the results, or from anywhere, get windows of their own.
    m_browserWindows = std::make_unique<FolderBrowserWindows>(FolderBrowserManager::shared(), thumbnails, browsers);
}

PallixApp::~PallixApp() = default;

void PallixApp::start()
{
    m_controller->show();
}

// A key the system refuses used to stay silently inactive while the settings
// showed it as set: a notice says so, and stays until the user dismisses it
// or a key is grabbed.
void PallixApp::registerHotKey(const std::optional<GlobalHotKey>& hotKey)
{
    m_pendingHotKeyFailure.clear();
    if (m_model)
        m_model->context().faultNotices().withdraw(FaultNotices::Cause::HotKey);
    m_hotKeys->registerHotKey(hotKey);  // a failure comes back through reportHotKeyFailure
}

void PallixApp::reportHotKeyFailure(const QString& message)
{
    qWarning("%s", qPrintable(message));
    if (m_model)
        m_model->context().faultNotices().raise(FaultNotices::Cause::HotKey, message);
    else
        m_pendingHotKeyFailure = message;  // raised once the model exists
}

} // namespace pallix
