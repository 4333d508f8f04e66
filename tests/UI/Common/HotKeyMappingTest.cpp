#include <gtest/gtest.h>

#include <X11/keysym.h>
#include <xcb/xproto.h>

#include "UI/Common/HotKeyManager.h"
#include "UI/Common/HotKeyMapping.h"

namespace pallix {

namespace {

struct MappingCase {
    GlobalHotKey record;
    std::uint32_t keysym;
    std::uint16_t modifiers;
};

} // namespace

TEST(HotKeyMapping, RecordsMapToKeysymAndModifierMask)
{
    constexpr auto kAlt = XCB_MOD_MASK_1, kSuper = XCB_MOD_MASK_4, kCtrl = XCB_MOD_MASK_CONTROL,
                   kShift = XCB_MOD_MASK_SHIFT;
    const MappingCase cases[] = {
        // The default: Option+Space.
        {GlobalHotKey::optionSpace(), XK_space, kAlt},
        {{49, GlobalHotKey::kCommand}, XK_space, kSuper},
        {{49, GlobalHotKey::kControl}, XK_space, kCtrl},
        {{0, GlobalHotKey::kCommand | GlobalHotKey::kShift}, XK_a, kSuper | kShift},
        {{3, GlobalHotKey::kControl | GlobalHotKey::kOption | GlobalHotKey::kShift | GlobalHotKey::kCommand}, XK_f,
         kCtrl | kAlt | kShift | kSuper},
        // Letters and digits by position, not alphabetically.
        {{16, GlobalHotKey::kOption}, XK_y, kAlt},
        {{17, GlobalHotKey::kOption}, XK_t, kAlt},
        {{46, GlobalHotKey::kOption}, XK_m, kAlt},
        {{18, GlobalHotKey::kCommand}, XK_1, kSuper},
        {{22, GlobalHotKey::kCommand}, XK_6, kSuper},
        {{23, GlobalHotKey::kCommand}, XK_5, kSuper},
        {{29, GlobalHotKey::kCommand}, XK_0, kSuper},
        // Named keys.
        {{36, GlobalHotKey::kControl}, XK_Return, kCtrl},
        {{51, GlobalHotKey::kControl}, XK_BackSpace, kCtrl},
        {{53, 0}, XK_Escape, 0},
        {{123, GlobalHotKey::kOption}, XK_Left, kAlt},
        {{124, GlobalHotKey::kOption}, XK_Right, kAlt},
        {{125, GlobalHotKey::kOption}, XK_Down, kAlt},
        {{126, GlobalHotKey::kOption}, XK_Up, kAlt},
        // Punctuation the record shows by number still has a key.
        {{24, GlobalHotKey::kControl}, XK_equal, kCtrl},
        {{122, 0}, XK_F1, 0},
        // Bits outside the four modifiers are carried but not grabbed.
        {{49, GlobalHotKey::kOption | 0x1}, XK_space, kAlt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record.displayString());
        const auto mapped = hotkeys::toX11(c.record);
        ASSERT_TRUE(mapped.has_value());
        EXPECT_EQ(mapped->keysym, c.keysym);
        EXPECT_EQ(mapped->modifiers, c.modifiers);
    }
}

TEST(HotKeyMapping, KeyCodesWithoutAKeyCannotBeGrabbed)
{
    for (std::uint32_t code : {10u, 52u, 200u}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(hotkeys::toX11({code, GlobalHotKey::kOption}).has_value());
    }
}

TEST(HotKeyMapping, FailureMessageNamesTheKey)
{
    using hotkeys::HotKeyFailure;
    EXPECT_EQ(hotkeys::registrationFailedMessage(GlobalHotKey::optionSpace()),
              QStringLiteral("全局快捷键 Alt+Space 注册失败（可能已被其他程序占用），可在设置中更换"));
    EXPECT_EQ(hotkeys::registrationFailedMessage({0, GlobalHotKey::kCommand | GlobalHotKey::kShift}),
              QStringLiteral("全局快捷键 Meta+Shift+A 注册失败（可能已被其他程序占用），可在设置中更换"));
    // Without any way to a global key, the status line and the settings name the command to bind.
    for (const QString& text : {hotkeys::registrationFailedMessage(GlobalHotKey::standard(),
                                                                   HotKeyFailure::NoGlobalShortcuts),
                                hotkeys::failureReason(HotKeyFailure::NoGlobalShortcuts),
                                hotkeys::registrationFailedMessage(GlobalHotKey::standard(), HotKeyFailure::Refused,
                                                                   QStringLiteral("用户取消")),
                                hotkeys::failureReason(HotKeyFailure::Refused)}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(text.contains(QStringLiteral("pallix --toggle")));
    }
    EXPECT_TRUE(hotkeys::registrationFailedMessage(GlobalHotKey::standard(), HotKeyFailure::Refused,
                                                   QStringLiteral("用户取消"))
                    .contains(QStringLiteral("用户取消")));
    EXPECT_EQ(hotkeys::failureReason(HotKeyFailure::Taken), QStringLiteral("已被其他程序占用，请换一个"));
}

// Offscreen there is no X11 display: a key cannot be grabbed and says so,
// while clearing always succeeds; suspended, the key waits for resume().
TEST(HotKeyManager, WithoutX11AGrabFailsAndClearingSucceeds)
{
    HotKeyManager manager;
    int triggers = 0;
    EXPECT_FALSE(manager.registerHotKey(GlobalHotKey::optionSpace(), [&] { ++triggers; }));
    EXPECT_FALSE(manager.isGrabbed());
    EXPECT_EQ(manager.failure(), hotkeys::HotKeyFailure::NoGlobalShortcuts);
    EXPECT_FALSE(manager.registerHotKey(GlobalHotKey{10, GlobalHotKey::kOption}, [&] { ++triggers; }));
    EXPECT_EQ(manager.failure(), hotkeys::HotKeyFailure::NoSuchKey);
    EXPECT_TRUE(manager.registerHotKey(std::nullopt, [&] { ++triggers; }));

    manager.suspend();
    EXPECT_TRUE(manager.isSuspended());
    EXPECT_TRUE(manager.registerHotKey(GlobalHotKey::optionSpace(), [&] { ++triggers; }));
    EXPECT_FALSE(manager.resume());
    EXPECT_FALSE(manager.isSuspended());
    EXPECT_EQ(triggers, 0);
}

} // namespace pallix
