#pragma once
// GlobalHotKey: the one system-wide shortcut that shows or hides the search
// window. A plain value: the settings record stores it, the settings window
// records it and the hot-key registration grabs it. It keeps the virtual key
// codes and modifier masks of the original keyboard layout as its stored form;
// translating them to X11 key codes is the registration's business.

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace pallix {

struct GlobalHotKey {
    // Modifier bits of `carbonModifiers`; any other bit is carried but ignored.
    static constexpr std::uint32_t kCommand = 0x100;
    static constexpr std::uint32_t kShift = 0x200;
    static constexpr std::uint32_t kOption = 0x800;
    static constexpr std::uint32_t kControl = 0x1000;
    static constexpr std::uint32_t kSpaceKeyCode = 49;

    // Position-based virtual key code (0 is the A key, 36 Return, 49 Space).
    std::uint32_t keyCode = 0;
    // Combination of the k* masks above, also none.
    std::uint32_t carbonModifiers = 0;

    // Option (Alt)+Space, the original layout's default shortcut.
    static GlobalHotKey optionSpace() { return {kSpaceKeyCode, kOption}; }
    // Ctrl+Alt+Space, the shortcut of a fresh installation: Alt+Space is the
    // window menu of every mainstream Linux desktop.
    static GlobalHotKey standard() { return {kSpaceKeyCode, kControl | kOption}; }

    // The stored form's text, kept for stored files and logs (the windows
    // show keys in the desktop's own notation): modifier symbols in the fixed
    // order Control, Option, Shift, Command, then the key's name.
    std::string displayString() const;

    // {"keyCode": …, "carbonModifiers": …}, in that order.
    nlohmann::ordered_json toJson() const;
    // Both members must be integral numbers in the unsigned 32-bit range (a float
    // only when its value is integral; a Bool never); nullopt otherwise.
    static std::optional<GlobalHotKey> fromJson(const nlohmann::json& value);

    friend bool operator==(const GlobalHotKey&, const GlobalHotKey&) = default;
};

} // namespace pallix
