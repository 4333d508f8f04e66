#include "Core/HotKey/HotKey.h"

#include <array>
#include <cmath>
#include <limits>
#include <string_view>

namespace pallix {

namespace {

std::optional<std::string_view> namedKey(std::uint32_t keyCode)
{
    switch (keyCode) {
    case 36: return "Return";
    case 49: return "Space";
    case 51: return "Delete";
    case 53: return "Esc";
    case 123: return "←";
    case 124: return "→";
    case 125: return "↓";
    case 126: return "↑";
    default: return std::nullopt;
    }
}

// Characters of key codes 0 to 46 on the reference layout; '\0' marks keys
// (punctuation, Return, code 10) that show by number instead.
constexpr std::array<char, 47> kKeyCharacters = {
     'a',  's',  'd',  'f',  'h',  'g',  'z',  'x',  'c',  'v', '\0',  'b',  'q',  'w',  'e',  'r',
     'y',  't',  '1',  '2',  '3',  '4',  '6',  '5', '\0',  '9',  '7', '\0',  '8',  '0', '\0',  'o',
     'u', '\0',  'i',  'p', '\0',  'l',  'j', '\0',  'k', '\0', '\0', '\0', '\0',  'n',  'm',
};

std::optional<char> keyEquivalentFromKeyCode(std::uint32_t keyCode)
{
    if (keyCode >= kKeyCharacters.size() || kKeyCharacters[keyCode] == '\0')
        return std::nullopt;
    return kKeyCharacters[keyCode];
}

std::string keyDisplay(std::uint32_t keyCode)
{
    if (auto name = namedKey(keyCode))
        return std::string(*name);
    if (auto c = keyEquivalentFromKeyCode(keyCode)) {
        const char upper = (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
        return std::string(1, upper);
    }
    return "Key" + std::to_string(keyCode);
}

std::optional<std::uint32_t> jsonToUInt32(const nlohmann::json& value)
{
    constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        return v <= kMax ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(v)) : std::nullopt;
    }
    if (value.is_number_integer()) {  // signed in the document, so here negative or small
        const auto v = value.get<std::int64_t>();
        if (v < 0 || static_cast<std::uint64_t>(v) > kMax)
            return std::nullopt;
        return static_cast<std::uint32_t>(v);
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (!std::isfinite(d) || d != std::trunc(d) || d < 0 || d > static_cast<double>(kMax))
            return std::nullopt;
        return static_cast<std::uint32_t>(d);
    }
    return std::nullopt;
}

} // namespace

std::string GlobalHotKey::displayString() const
{
    std::string text;
    if (carbonModifiers & kControl)
        text += "⌃";
    if (carbonModifiers & kOption)
        text += "⌥";
    if (carbonModifiers & kShift)
        text += "⇧";
    if (carbonModifiers & kCommand)
        text += "⌘";
    return text + keyDisplay(keyCode);
}

nlohmann::ordered_json GlobalHotKey::toJson() const
{
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["keyCode"] = keyCode;
    object["carbonModifiers"] = carbonModifiers;
    return object;
}

std::optional<GlobalHotKey> GlobalHotKey::fromJson(const nlohmann::json& value)
{
    if (!value.is_object())
        return std::nullopt;
    const auto keyCode = value.find("keyCode");
    const auto modifiers = value.find("carbonModifiers");
    if (keyCode == value.end() || modifiers == value.end())
        return std::nullopt;
    const auto code = jsonToUInt32(*keyCode);
    const auto mask = jsonToUInt32(*modifiers);
    if (!code || !mask)
        return std::nullopt;
    return GlobalHotKey{*code, *mask};
}

} // namespace pallix
