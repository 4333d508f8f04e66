#pragma once
// HotKeyManager: the one global hot key of the process. It grabs the key on
// the X11 root window (with the NumLock and CapsLock variants, so the key
// works whatever their state) and runs the trigger when a press arrives
// through Qt's native event filter. Where no grab is possible (Wayland, no
// X11, a key another program holds) registration reports failure instead of
// pretending the key is active. GUI thread only.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QAbstractNativeEventFilter>

#include "Core/HotKey/HotKey.h"
#include "UI/Common/HotKeyMapping.h"

struct xcb_connection_t;

namespace pallix {

class HotKeyManager final : public QAbstractNativeEventFilter {
public:
    static HotKeyManager& shared();

    HotKeyManager() = default;
    ~HotKeyManager() override;
    HotKeyManager(const HotKeyManager&) = delete;
    HotKeyManager& operator=(const HotKeyManager&) = delete;

    // Releases the previous grab and grabs `hotKey`; none leaves no hot key.
    // False when a key was given and could not be grabbed: then nothing is
    // grabbed and the trigger never runs. While suspended the key is only
    // remembered (true), and grabbed on resume().
    bool registerHotKey(const std::optional<GlobalHotKey>& hotKey, std::function<void()> trigger);
    // Releases the grab while the settings window records a new key, so the
    // old one reaches the recorder; resume() grabs it again.
    void suspend();
    bool resume();
    bool isSuspended() const { return m_suspended; }
    bool isGrabbed() const { return !m_grabbedKeycodes.empty(); }
    // Why the last grab failed; meaningful after a false from above.
    hotkeys::HotKeyFailure failure() const { return m_failure; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    static xcb_connection_t* x11Connection();
    bool grab();
    void ungrab();

    std::optional<GlobalHotKey> m_hotKey;
    std::function<void()> m_trigger;
    std::vector<std::uint8_t> m_grabbedKeycodes;  // empty while nothing is grabbed
    std::uint16_t m_modifiers = 0;
    std::uint32_t m_root = 0;
    bool m_suspended = false;
    hotkeys::HotKeyFailure m_failure = hotkeys::HotKeyFailure::Taken;
    bool m_filterInstalled = false;
};

} // namespace pallix
