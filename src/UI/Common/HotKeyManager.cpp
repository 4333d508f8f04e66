#include "UI/Common/HotKeyManager.h"

#include <algorithm>
#include <cstdlib>

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include "UI/Common/HotKeyMapping.h"

namespace pallix {

namespace {

// NumLock (Mod2) and CapsLock (Lock) are part of a press's state: without a
// grab for each combination the key would stop working with NumLock on.
constexpr std::uint16_t kLockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint16_t kIgnoredState = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;
constexpr std::uint16_t kKeyModifierBits = 0xff;

} // namespace

HotKeyManager& HotKeyManager::shared()
{
    static HotKeyManager* manager = new HotKeyManager;  // lives to the end of the process
    return *manager;
}

HotKeyManager::~HotKeyManager()
{
    ungrab();
    if (m_filterInstalled && qApp)
        qApp->removeNativeEventFilter(this);
}

xcb_connection_t* HotKeyManager::x11Connection()
{
    auto* app = qGuiApp;
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool HotKeyManager::registerHotKey(const std::optional<GlobalHotKey>& hotKey, std::function<void()> trigger)
{
    ungrab();
    m_trigger = nullptr;
    m_hotKey = hotKey;
    if (!hotKey)
        return true;
    m_trigger = std::move(trigger);
    if (m_suspended)
        return true;
    return grab();
}

void HotKeyManager::suspend()
{
    m_suspended = true;
    ungrab();
}

bool HotKeyManager::resume()
{
    m_suspended = false;
    return !m_hotKey || grab();
}

bool HotKeyManager::grab()
{
    const auto x11Key = hotkeys::toX11(*m_hotKey);
    xcb_connection_t* connection = x11Connection();
    if (!x11Key || !connection) {
        m_failure = !x11Key ? hotkeys::HotKeyFailure::NoSuchKey : hotkeys::HotKeyFailure::NoGlobalShortcuts;
        return false;
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    m_modifiers = x11Key->modifiers;

    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    xcb_keycode_t* keycodes = symbols ? xcb_key_symbols_get_keycode(symbols, x11Key->keysym) : nullptr;
    bool ok = keycodes && keycodes[0] != XCB_NO_SYMBOL;
    for (int i = 0; ok && keycodes[i] != XCB_NO_SYMBOL; ++i) {
        m_grabbedKeycodes.push_back(keycodes[i]);
        for (std::uint16_t variant : kLockVariants) {
            const auto cookie = xcb_grab_key_checked(connection, 1, m_root, m_modifiers | variant, keycodes[i],
                                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            // BadAccess: another client holds this combination.
            if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
                std::free(error);
                ok = false;
            }
        }
    }
    std::free(keycodes);
    if (symbols)
        xcb_key_symbols_free(symbols);
    if (!ok) {
        m_failure = hotkeys::HotKeyFailure::Taken;
        ungrab();
        return false;
    }
    if (!m_filterInstalled) {
        qApp->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    return true;
}

void HotKeyManager::ungrab()
{
    xcb_connection_t* connection = x11Connection();
    if (connection) {
        for (std::uint8_t keycode : m_grabbedKeycodes) {
            for (std::uint16_t variant : kLockVariants)
                xcb_ungrab_key(connection, keycode, m_root, m_modifiers | variant);
        }
        xcb_flush(connection);
    }
    m_grabbedKeycodes.clear();
}

bool HotKeyManager::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || m_grabbedKeycodes.empty())
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
    const std::uint16_t state = press->state & kKeyModifierBits & ~kIgnoredState;
    const bool ours = press->event == m_root && state == m_modifiers
                      && std::find(m_grabbedKeycodes.begin(), m_grabbedKeycodes.end(), press->detail)
                             != m_grabbedKeycodes.end();
    if (ours && m_trigger)
        m_trigger();
    return ours;
}

} // namespace pallix
