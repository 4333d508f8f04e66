#pragma once
// Maps Qt's key events to the hot-key record's stored form: the position-based
// virtual key codes of the reference (US) layout and the record's modifier
// bits (Super = Command, Shift, Alt = Option, Ctrl = Control). Pure functions,
// callable from any thread. The reverse mapping, record to X11 keysym, belongs
// to the hot-key registration.

#include <cstdint>
#include <optional>

#include <QString>
#include <Qt>

namespace pallix {
struct GlobalHotKey;
}

namespace pallix::hotkeymap {

// The record's key code of `qtKey`; shifted symbols ("!", "@") give the code
// of their key on the reference layout, and with KeypadModifier in
// `modifiers` the key is the keypad's. None for keys the record cannot hold
// (modifier keys alone, media keys).
std::optional<std::uint32_t> keyCodeForQtKey(int qtKey, Qt::KeyboardModifiers modifiers = {});

// The record's modifier bits of `modifiers`; keypad and group-switch flags are ignored.
std::uint32_t modifierBitsForQt(Qt::KeyboardModifiers modifiers);

// The record as Linux desktops write keys: "Ctrl+Alt+Space", "Meta+A".
// Qt's portable text, not the native one: with Qt's Chinese translation
// loaded the native text says "空格" and "左方向", which no desktop's keyboard
// settings show. A code without a Qt key keeps its number ("Ctrl+Key65").
// The record's own displayString() stays the stored form's.
QString displayText(const GlobalHotKey& hotKey);

} // namespace pallix::hotkeymap
