#include "UI/Common/HotKeyMapping.h"

#include <utility>

#include <X11/keysym.h>
#include <xcb/xproto.h>

#include "UI/Common/HotKeyKeyMap.h"

namespace pallix::hotkeys {

namespace {

// Position-based key codes of the original layout and the keysym the same key
// carries on a US layout, with the keysym's name. Letters are the lower-case
// keysyms: a grab looks up the key code that produces them, whatever its
// shift level; keypad keysyms are those of NumLock on, on the same keys.
struct KeysymEntry {
    std::uint32_t keyCode;
    std::uint32_t keysym;
    const char* name;  // as XKB writes it: "a", "space", "KP_1"
};
#define PX_KEY(code, sym) KeysymEntry{code, XK_##sym, #sym}
constexpr KeysymEntry kKeysyms[] = {
    PX_KEY(0, a), PX_KEY(1, s), PX_KEY(2, d), PX_KEY(3, f), PX_KEY(4, h), PX_KEY(5, g), PX_KEY(6, z),
    PX_KEY(7, x), PX_KEY(8, c), PX_KEY(9, v), PX_KEY(11, b), PX_KEY(12, q), PX_KEY(13, w), PX_KEY(14, e),
    PX_KEY(15, r), PX_KEY(16, y), PX_KEY(17, t), PX_KEY(18, 1), PX_KEY(19, 2), PX_KEY(20, 3), PX_KEY(21, 4),
    PX_KEY(22, 6), PX_KEY(23, 5), PX_KEY(24, equal), PX_KEY(25, 9), PX_KEY(26, 7), PX_KEY(27, minus),
    PX_KEY(28, 8), PX_KEY(29, 0), PX_KEY(30, bracketright), PX_KEY(31, o), PX_KEY(32, u),
    PX_KEY(33, bracketleft), PX_KEY(34, i), PX_KEY(35, p), PX_KEY(36, Return), PX_KEY(37, l), PX_KEY(38, j),
    PX_KEY(39, apostrophe), PX_KEY(40, k), PX_KEY(41, semicolon), PX_KEY(42, backslash), PX_KEY(43, comma),
    PX_KEY(44, slash), PX_KEY(45, n), PX_KEY(46, m), PX_KEY(47, period), PX_KEY(48, Tab), PX_KEY(49, space),
    PX_KEY(50, grave), PX_KEY(51, BackSpace), PX_KEY(53, Escape), PX_KEY(65, KP_Decimal),
    PX_KEY(67, KP_Multiply), PX_KEY(69, KP_Add), PX_KEY(75, KP_Divide), PX_KEY(76, KP_Enter),
    PX_KEY(78, KP_Subtract), PX_KEY(81, KP_Equal), PX_KEY(82, KP_0), PX_KEY(83, KP_1), PX_KEY(84, KP_2),
    PX_KEY(85, KP_3), PX_KEY(86, KP_4), PX_KEY(87, KP_5), PX_KEY(88, KP_6), PX_KEY(89, KP_7), PX_KEY(91, KP_8),
    PX_KEY(92, KP_9), PX_KEY(96, F5), PX_KEY(97, F6), PX_KEY(98, F7), PX_KEY(99, F3), PX_KEY(100, F8),
    PX_KEY(101, F9), PX_KEY(103, F11), PX_KEY(105, F13), PX_KEY(107, F14), PX_KEY(109, F10), PX_KEY(111, F12),
    PX_KEY(113, F15), PX_KEY(114, Insert), PX_KEY(115, Home), PX_KEY(116, Prior), PX_KEY(117, Delete),
    PX_KEY(118, F4), PX_KEY(119, End), PX_KEY(120, F2), PX_KEY(121, Next), PX_KEY(122, F1), PX_KEY(123, Left),
    PX_KEY(124, Right), PX_KEY(125, Down), PX_KEY(126, Up),
};
#undef PX_KEY

const KeysymEntry* entryFor(std::uint32_t keyCode)
{
    for (const KeysymEntry& entry : kKeysyms) {
        if (entry.keyCode == keyCode)
            return &entry;
    }
    return nullptr;
}

} // namespace

std::optional<std::uint32_t> keysymForKeyCode(std::uint32_t keyCode)
{
    const KeysymEntry* entry = entryFor(keyCode);
    return entry ? std::optional<std::uint32_t>(entry->keysym) : std::nullopt;
}

QString keysymName(std::uint32_t keyCode)
{
    const KeysymEntry* entry = entryFor(keyCode);
    return entry ? QString::fromLatin1(entry->name) : QString();
}

std::uint16_t x11Modifiers(std::uint32_t carbonModifiers)
{
    std::uint16_t mask = 0;
    if (carbonModifiers & GlobalHotKey::kShift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (carbonModifiers & GlobalHotKey::kControl)
        mask |= XCB_MOD_MASK_CONTROL;
    if (carbonModifiers & GlobalHotKey::kOption)
        mask |= XCB_MOD_MASK_1;
    if (carbonModifiers & GlobalHotKey::kCommand)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

std::optional<X11HotKey> toX11(const GlobalHotKey& hotKey)
{
    const auto keysym = keysymForKeyCode(hotKey.keyCode);
    if (!keysym)
        return std::nullopt;
    return X11HotKey{*keysym, x11Modifiers(hotKey.carbonModifiers)};
}

namespace {

// What a user of a desktop without the service can still do.
constexpr char16_t kToggleAdvice[] = u"可在系统的键盘设置中为命令 pallix --toggle 设置快捷键";

QString withDetail(const QString& text, const QString& detail)
{
    return detail.isEmpty() ? text : text + QStringLiteral("：") + detail;
}

} // namespace

QString registrationFailedMessage(const GlobalHotKey& hotKey, HotKeyFailure failure, const QString& detail)
{
    const QString key = hotkeymap::displayText(hotKey);
    switch (failure) {
    case HotKeyFailure::Taken:
        return QStringLiteral("全局快捷键 %1 注册失败（可能已被其他程序占用），可在设置中更换").arg(key);
    case HotKeyFailure::NoSuchKey:
        return QStringLiteral("全局快捷键 %1 注册失败（此键不能作为全局快捷键），可在设置中更换").arg(key);
    case HotKeyFailure::NoGlobalShortcuts:
        return QStringLiteral("此桌面不提供全局快捷键服务，") + QString::fromUtf16(kToggleAdvice);
    case HotKeyFailure::Refused:
        return QStringLiteral("全局快捷键 %1 未被桌面接受（%2），").arg(key, withDetail(QStringLiteral("已拒绝"), detail))
               + QString::fromUtf16(kToggleAdvice);
    }
    return {};
}

QString failureReason(HotKeyFailure failure, const QString& detail)
{
    switch (failure) {
    case HotKeyFailure::Taken: return QStringLiteral("已被其他程序占用，请换一个");
    case HotKeyFailure::NoSuchKey: return QStringLiteral("此键不能作为全局快捷键");
    case HotKeyFailure::NoGlobalShortcuts:
        return QStringLiteral("此桌面不提供全局快捷键服务，") + QString::fromUtf16(kToggleAdvice);
    case HotKeyFailure::Refused:
        return withDetail(QStringLiteral("桌面未接受"), detail) + QStringLiteral("，") + QString::fromUtf16(kToggleAdvice);
    }
    return {};
}

} // namespace pallix::hotkeys
