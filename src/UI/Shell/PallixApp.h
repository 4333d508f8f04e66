#pragma once
// PallixApp: the application object. It owns what lives as long as the
// process: the model, the search window with its controller and the tray
// icon, and it fills the model's hooks for the tray icon and the global hot
// key. Closing the last window does not quit; only "退出珀溪" does.
// GUI thread only; create it after the QApplication.

#include <memory>
#include <optional>

#include <QObject>

#include "App/Context/AppEnvironment.h"

namespace pallix {

class AppModel;
class FolderBrowserWindows;
class GlobalShortcutsPortal;
class HotKeyRegistration;
class SearchWindow;
class SearchWindowController;
class TrayController;

class PallixApp : public QObject {
    Q_OBJECT

public:
    // Empty fields of `environment` are the running system's; the tray and
    // hot-key hooks are always this object's.
    explicit PallixApp(AppModelEnvironment environment = {}, QObject* parent = nullptr);
    ~PallixApp() override;

    // Opens the search window, as every start does.
    void start();

    AppModel& model() { return *m_model; }
    SearchWindow& searchWindow() { return *m_window; }
    SearchWindowController& windowController() { return *m_controller; }
    TrayController& tray() { return *m_tray; }
    FolderBrowserWindows& browserWindows() { return *m_browserWindows; }
    const HotKeyRegistration& hotKeys() const { return *m_hotKeys; }

private:
    void registerHotKey(const std::optional<GlobalHotKey>& hotKey);
    void reportHotKeyFailure(const QString& message);

    QString m_pendingHotKeyFailure;  // met before the model exists
    std::unique_ptr<GlobalShortcutsPortal> m_portal;  // in a Wayland session only
    std::unique_ptr<HotKeyRegistration> m_hotKeys;
    std::unique_ptr<TrayController> m_tray;
    std::unique_ptr<SearchWindowController> m_controller;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<SearchWindow> m_window;  // destroyed before the model it reads
    std::unique_ptr<FolderBrowserWindows> m_browserWindows;
};

} // namespace pallix
