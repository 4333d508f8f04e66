#include "UI/Common/HotKeyKeyMap.h"

#include <algorithm>
#include <array>
#include <utility>

#include <QKeySequence>

#include "Core/HotKey/HotKey.h"

namespace pallix::hotkeymap {

namespace {

struct KeyCodeEntry {
    int qtKey;
    std::uint32_t code;
};

// Letters, digits, punctuation (and their shifted symbols on the reference
// layout), then the named keys.
constexpr std::array kKeyCodes{
    KeyCodeEntry{Qt::Key_A, 0},   KeyCodeEntry{Qt::Key_S, 1},   KeyCodeEntry{Qt::Key_D, 2},
    KeyCodeEntry{Qt::Key_F, 3},   KeyCodeEntry{Qt::Key_H, 4},   KeyCodeEntry{Qt::Key_G, 5},
    KeyCodeEntry{Qt::Key_Z, 6},   KeyCodeEntry{Qt::Key_X, 7},   KeyCodeEntry{Qt::Key_C, 8},
    KeyCodeEntry{Qt::Key_V, 9},   KeyCodeEntry{Qt::Key_B, 11},  KeyCodeEntry{Qt::Key_Q, 12},
    KeyCodeEntry{Qt::Key_W, 13},  KeyCodeEntry{Qt::Key_E, 14},  KeyCodeEntry{Qt::Key_R, 15},
    KeyCodeEntry{Qt::Key_Y, 16},  KeyCodeEntry{Qt::Key_T, 17},  KeyCodeEntry{Qt::Key_O, 31},
    KeyCodeEntry{Qt::Key_U, 32},  KeyCodeEntry{Qt::Key_I, 34},  KeyCodeEntry{Qt::Key_P, 35},
    KeyCodeEntry{Qt::Key_L, 37},  KeyCodeEntry{Qt::Key_J, 38},  KeyCodeEntry{Qt::Key_K, 40},
    KeyCodeEntry{Qt::Key_N, 45},  KeyCodeEntry{Qt::Key_M, 46},

    KeyCodeEntry{Qt::Key_1, 18},  KeyCodeEntry{Qt::Key_Exclam, 18},
    KeyCodeEntry{Qt::Key_2, 19},  KeyCodeEntry{Qt::Key_At, 19},
    KeyCodeEntry{Qt::Key_3, 20},  KeyCodeEntry{Qt::Key_NumberSign, 20},
    KeyCodeEntry{Qt::Key_4, 21},  KeyCodeEntry{Qt::Key_Dollar, 21},
    KeyCodeEntry{Qt::Key_6, 22},  KeyCodeEntry{Qt::Key_AsciiCircum, 22},
    KeyCodeEntry{Qt::Key_5, 23},  KeyCodeEntry{Qt::Key_Percent, 23},
    KeyCodeEntry{Qt::Key_Equal, 24}, KeyCodeEntry{Qt::Key_Plus, 24},
    KeyCodeEntry{Qt::Key_9, 25},  KeyCodeEntry{Qt::Key_ParenLeft, 25},
    KeyCodeEntry{Qt::Key_7, 26},  KeyCodeEntry{Qt::Key_Ampersand, 26},
    KeyCodeEntry{Qt::Key_Minus, 27}, KeyCodeEntry{Qt::Key_Underscore, 27},
    KeyCodeEntry{Qt::Key_8, 28},  KeyCodeEntry{Qt::Key_Asterisk, 28},
    KeyCodeEntry{Qt::Key_0, 29},  KeyCodeEntry{Qt::Key_ParenRight, 29},
    KeyCodeEntry{Qt::Key_BracketRight, 30}, KeyCodeEntry{Qt::Key_BraceRight, 30},
    KeyCodeEntry{Qt::Key_BracketLeft, 33},  KeyCodeEntry{Qt::Key_BraceLeft, 33},
    KeyCodeEntry{Qt::Key_Apostrophe, 39},   KeyCodeEntry{Qt::Key_QuoteDbl, 39},
    KeyCodeEntry{Qt::Key_Semicolon, 41},    KeyCodeEntry{Qt::Key_Colon, 41},
    KeyCodeEntry{Qt::Key_Backslash, 42},    KeyCodeEntry{Qt::Key_Bar, 42},
    KeyCodeEntry{Qt::Key_Comma, 43},        KeyCodeEntry{Qt::Key_Less, 43},
    KeyCodeEntry{Qt::Key_Slash, 44},        KeyCodeEntry{Qt::Key_Question, 44},
    KeyCodeEntry{Qt::Key_Period, 47},       KeyCodeEntry{Qt::Key_Greater, 47},
    KeyCodeEntry{Qt::Key_QuoteLeft, 50},    KeyCodeEntry{Qt::Key_AsciiTilde, 50},

    KeyCodeEntry{Qt::Key_Return, 36}, KeyCodeEntry{Qt::Key_Tab, 48},   KeyCodeEntry{Qt::Key_Backtab, 48},
    KeyCodeEntry{Qt::Key_Space, GlobalHotKey::kSpaceKeyCode},
    KeyCodeEntry{Qt::Key_Backspace, 51}, KeyCodeEntry{Qt::Key_Escape, 53},
    KeyCodeEntry{Qt::Key_F5, 96},   KeyCodeEntry{Qt::Key_F6, 97},   KeyCodeEntry{Qt::Key_F7, 98},
    KeyCodeEntry{Qt::Key_F3, 99},   KeyCodeEntry{Qt::Key_F8, 100},  KeyCodeEntry{Qt::Key_F9, 101},
    KeyCodeEntry{Qt::Key_F11, 103}, KeyCodeEntry{Qt::Key_F10, 109}, KeyCodeEntry{Qt::Key_F12, 111},
    KeyCodeEntry{Qt::Key_Home, 115}, KeyCodeEntry{Qt::Key_PageUp, 116}, KeyCodeEntry{Qt::Key_Delete, 117},
    KeyCodeEntry{Qt::Key_F4, 118},  KeyCodeEntry{Qt::Key_End, 119}, KeyCodeEntry{Qt::Key_F2, 120},
    KeyCodeEntry{Qt::Key_PageDown, 121}, KeyCodeEntry{Qt::Key_F1, 122},
    KeyCodeEntry{Qt::Key_Left, 123}, KeyCodeEntry{Qt::Key_Right, 124},
    KeyCodeEntry{Qt::Key_Down, 125}, KeyCodeEntry{Qt::Key_Up, 126},
};

// The keypad's keys, which Qt reports with KeypadModifier and the keys of
// the main block's symbols. With NumLock off they report the moves they
// stand for (Home on 7): the place on the keypad is what is recorded.
constexpr std::array kKeypadCodes{
    KeyCodeEntry{Qt::Key_Period, 65},   KeyCodeEntry{Qt::Key_Comma, 65},    KeyCodeEntry{Qt::Key_Delete, 65},
    KeyCodeEntry{Qt::Key_Asterisk, 67}, KeyCodeEntry{Qt::Key_Plus, 69},     KeyCodeEntry{Qt::Key_Slash, 75},
    KeyCodeEntry{Qt::Key_Enter, 76},    KeyCodeEntry{Qt::Key_Minus, 78},    KeyCodeEntry{Qt::Key_Equal, 81},
    KeyCodeEntry{Qt::Key_0, 82},        KeyCodeEntry{Qt::Key_Insert, 82},
    KeyCodeEntry{Qt::Key_1, 83},        KeyCodeEntry{Qt::Key_End, 83},
    KeyCodeEntry{Qt::Key_2, 84},        KeyCodeEntry{Qt::Key_Down, 84},
    KeyCodeEntry{Qt::Key_3, 85},        KeyCodeEntry{Qt::Key_PageDown, 85},
    KeyCodeEntry{Qt::Key_4, 86},        KeyCodeEntry{Qt::Key_Left, 86},
    KeyCodeEntry{Qt::Key_5, 87},        KeyCodeEntry{Qt::Key_Clear, 87},
    KeyCodeEntry{Qt::Key_6, 88},        KeyCodeEntry{Qt::Key_Right, 88},
    KeyCodeEntry{Qt::Key_7, 89},        KeyCodeEntry{Qt::Key_Home, 89},
    KeyCodeEntry{Qt::Key_8, 91},        KeyCodeEntry{Qt::Key_Up, 91},
    KeyCodeEntry{Qt::Key_9, 92},        KeyCodeEntry{Qt::Key_PageUp, 92},
};

// The first entry whose `field` holds `value`: for a code, its unshifted key
// (with NumLock on, on the keypad).
template <std::size_t N, typename Field>
const KeyCodeEntry* findEntry(const std::array<KeyCodeEntry, N>& table, Field KeyCodeEntry::*field, Field value)
{
    const auto found = std::find_if(table.begin(), table.end(), [&](const KeyCodeEntry& e) { return e.*field == value; });
    return found == table.end() ? nullptr : &*found;
}

} // namespace

std::optional<std::uint32_t> keyCodeForQtKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    const KeyCodeEntry* entry = modifiers.testFlag(Qt::KeypadModifier)
                                    ? findEntry(kKeypadCodes, &KeyCodeEntry::qtKey, qtKey)
                                    : findEntry(kKeyCodes, &KeyCodeEntry::qtKey, qtKey);
    return entry ? std::optional<std::uint32_t>(entry->code) : std::nullopt;
}

std::uint32_t modifierBitsForQt(Qt::KeyboardModifiers modifiers)
{
    constexpr std::pair<Qt::KeyboardModifier, std::uint32_t> kBits[] = {
        {Qt::MetaModifier, GlobalHotKey::kCommand},
        {Qt::ShiftModifier, GlobalHotKey::kShift},
        {Qt::AltModifier, GlobalHotKey::kOption},
        {Qt::ControlModifier, GlobalHotKey::kControl},
    };
    std::uint32_t bits = 0;
    for (const auto& [flag, bit] : kBits) {
        if (modifiers.testFlag(flag))
            bits |= bit;
    }
    return bits;
}

QString displayText(const GlobalHotKey& hotKey)
{
    constexpr std::pair<std::uint32_t, Qt::KeyboardModifier> kModifiers[] = {
        {GlobalHotKey::kControl, Qt::ControlModifier},
        {GlobalHotKey::kOption, Qt::AltModifier},
        {GlobalHotKey::kShift, Qt::ShiftModifier},
        {GlobalHotKey::kCommand, Qt::MetaModifier},
    };
    Qt::KeyboardModifiers modifiers;
    for (const auto& [bit, flag] : kModifiers) {
        if (hotKey.carbonModifiers & bit)
            modifiers |= flag;
    }
    const KeyCodeEntry* entry = findEntry(kKeyCodes, &KeyCodeEntry::code, hotKey.keyCode);
    if (!entry && (entry = findEntry(kKeypadCodes, &KeyCodeEntry::code, hotKey.keyCode)))
        modifiers |= Qt::KeypadModifier;  // written "Num+1"
    if (entry)
        return QKeySequence(QKeyCombination(modifiers, Qt::Key(entry->qtKey))).toString(QKeySequence::PortableText);
    // Qt writes modifiers only together with a key: take them from one.
    QString prefix = QKeySequence(QKeyCombination(modifiers, Qt::Key_A)).toString(QKeySequence::PortableText);
    prefix.chop(1);
    return prefix + QStringLiteral("Key%1").arg(hotKey.keyCode);
}

} // namespace pallix::hotkeymap
