#pragma once
// HotKeyMapping: turns the stored hot-key record (the original layout's
// position-based key codes and modifier mask) into what an X11 key grab needs:
// a keysym and a core modifier mask. Pure functions, any thread.

#include <cstdint>
#include <optional>

#include <QString>

#include "Core/HotKey/HotKey.h"

namespace pallix {

struct X11HotKey {
    std::uint32_t keysym = 0;     // X11 keysym, e.g. XK_space
    std::uint16_t modifiers = 0;  // XCB_MOD_MASK_* bits: Shift, Control, Mod1 (Alt), Mod4 (Super)
    friend bool operator==(const X11HotKey&, const X11HotKey&) = default;
};

namespace hotkeys {

// The keysym of a position-based key code; none for a code the table lacks.
std::optional<std::uint32_t> keysymForKeyCode(std::uint32_t keyCode);
// The same keysym's name as XKB writes it ("a", "space", "KP_Add"); empty
// for a code the table lacks.
QString keysymName(std::uint32_t keyCode);
// Option = Alt (Mod1), Command = Super (Mod4), Control, Shift; other bits dropped.
std::uint16_t x11Modifiers(std::uint32_t carbonModifiers);
// None when the key has no keysym: such a record cannot be grabbed.
std::optional<X11HotKey> toX11(const GlobalHotKey& hotKey);

// Why the desktop did not take a hot key.
enum class HotKeyFailure {
    Taken,              // another program holds the combination
    NoSuchKey,          // the key has no keysym to grab
    NoGlobalShortcuts,  // neither an X11 grab nor a desktop portal is possible
    Refused,            // the portal answered no (the user cancelled, or an error)
};

// The status line's words for a hot key that could not be registered;
// `detail` is the portal's own error text, if any.
QString registrationFailedMessage(const GlobalHotKey& hotKey, HotKeyFailure failure = HotKeyFailure::Taken,
                                  const QString& detail = {});
// The settings row's shorter reason for the same failure.
QString failureReason(HotKeyFailure failure, const QString& detail = {});

} // namespace hotkeys

} // namespace pallix
