#include "UI/Common/HotKeyMapping.h"

#include <utility>

#include <X11/keysym.h>
#include <xcb/xproto.h>

#include "UI/Common/HotKeyKeyMap.h"

namespace pallix::hotkeys {

namespace {

// Position-based key codes of the original layout and the keysym the same key
// carries on a US layout. Letters are the lower-case keysyms: a grab looks up
// the key code that produces them, whatever its shift level.
constexpr std::pair<std::uint32_t, std::uint32_t> kKeysyms[] = {
    {0, XK_a}, {1, XK_s}, {2, XK_d}, {3, XK_f}, {4, XK_h}, {5, XK_g}, {6, XK_z}, {7, XK_x},
    {8, XK_c}, {9, XK_v}, {11, XK_b}, {12, XK_q}, {13, XK_w}, {14, XK_e}, {15, XK_r},
    {16, XK_y}, {17, XK_t}, {18, XK_1}, {19, XK_2}, {20, XK_3}, {21, XK_4}, {22, XK_6},
    {23, XK_5}, {24, XK_equal}, {25, XK_9}, {26, XK_7}, {27, XK_minus}, {28, XK_8}, {29, XK_0},
    {30, XK_bracketright}, {31, XK_o}, {32, XK_u}, {33, XK_bracketleft}, {34, XK_i}, {35, XK_p},
    {36, XK_Return}, {37, XK_l}, {38, XK_j}, {39, XK_apostrophe}, {40, XK_k}, {41, XK_semicolon},
    {42, XK_backslash}, {43, XK_comma}, {44, XK_slash}, {45, XK_n}, {46, XK_m}, {47, XK_period},
    {48, XK_Tab}, {49, XK_space}, {50, XK_grave}, {51, XK_BackSpace}, {53, XK_Escape},
    {65, XK_KP_Decimal}, {67, XK_KP_Multiply}, {69, XK_KP_Add}, {75, XK_KP_Divide},
    {76, XK_KP_Enter}, {78, XK_KP_Subtract}, {81, XK_KP_Equal}, {82, XK_KP_0}, {83, XK_KP_1},
    {84, XK_KP_2}, {85, XK_KP_3}, {86, XK_KP_4}, {87, XK_KP_5}, {88, XK_KP_6}, {89, XK_KP_7},
    {91, XK_KP_8}, {92, XK_KP_9}, {96, XK_F5}, {97, XK_F6}, {98, XK_F7}, {99, XK_F3},
    {100, XK_F8}, {101, XK_F9}, {103, XK_F11}, {105, XK_F13}, {107, XK_F14}, {109, XK_F10},
    {111, XK_F12}, {113, XK_F15}, {114, XK_Insert}, {115, XK_Home}, {116, XK_Prior},
    {117, XK_Delete}, {118, XK_F4}, {119, XK_End}, {120, XK_F2}, {121, XK_Next}, {122, XK_F1},
    {123, XK_Left}, {124, XK_Right}, {125, XK_Down}, {126, XK_Up},
};

} // namespace

std::optional<std::uint32_t> keysymForKeyCode(std::uint32_t keyCode)
{
    for (const auto& [code, keysym] : kKeysyms) {
        if (code == keyCode)
            return keysym;
    }
    return std::nullopt;
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
