#pragma once
// HotKeyRegistration: gets the stored global hot key to work on this desktop
// and says when it does not. On X11 it grabs the key (HotKeyManager); in a
// Wayland session it asks the desktop portal (GlobalShortcutsPortal), and
// where neither is possible it names the command `pallix --toggle` for the
// desktop's own keyboard settings. The outcome is published in a
// HotKeyStatus for the settings and reported once as a fault notice.
// GUI thread.

#include <functional>
#include <memory>
#include <optional>

#include <QObject>

#include "Core/HotKey/HotKey.h"
#include "UI/Common/HotKeyMapping.h"
#include "UI/Settings/HotKeyStatus.h"

namespace pallix {

class GlobalShortcutsPortal;
class HotKeyManager;

class HotKeyRegistration : public QObject {
    Q_OBJECT

public:
    struct Context {
        HotKeyManager* x11 = nullptr;            // the X11 grab; used when `portal` is none
        GlobalShortcutsPortal* portal = nullptr;  // the Wayland road, when the session is Wayland's
        std::function<void()> trigger;            // the key was pressed
        std::function<void(const QString&)> report;  // a failure for the status line
    };

    explicit HotKeyRegistration(Context context, QObject* parent = nullptr);

    // A Wayland session, where no program may grab keys.
    static bool isWaylandSession();

    void registerHotKey(const std::optional<GlobalHotKey>& hotKey);
    const HotKeyStatus& status() const { return m_status; }

private:
    void fail(hotkeys::HotKeyFailure failure, const QString& detail);

    Context m_context;
    std::optional<GlobalHotKey> m_hotKey;
    HotKeyStatus m_status;
};

} // namespace pallix
