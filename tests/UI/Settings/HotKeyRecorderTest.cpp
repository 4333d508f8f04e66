#include "UI/Settings/HotKeyRecorder.h"

#include <X11/keysym.h>
#include <xcb/xproto.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "SettingsTestSupport.h"
#include "UI/Common/HotKeyKeyMap.h"
#include "UI/Common/HotKeyMapping.h"
#include "UI/Shell/GlobalShortcutsPortal.h"

namespace pallix {
namespace {

using namespace testing_support;
using Kind = HotKeyRecorder::Outcome::Kind;

TEST(HotKeyKeyMap, QtKeysBecomeTheRecordsKeyCodes)
{
    const std::pair<int, std::uint32_t> cases[] = {
        {Qt::Key_A, 0},        {Qt::Key_S, 1},       {Qt::Key_K, 40},     {Qt::Key_M, 46},    {Qt::Key_Z, 6},
        {Qt::Key_1, 18},       {Qt::Key_Exclam, 18}, {Qt::Key_5, 23},     {Qt::Key_0, 29},    {Qt::Key_9, 25},
        {Qt::Key_Return, 36},  {Qt::Key_Space, 49},  {Qt::Key_Backspace, 51}, {Qt::Key_Escape, 53},
        {Qt::Key_Left, 123},   {Qt::Key_Right, 124}, {Qt::Key_Down, 125}, {Qt::Key_Up, 126},
        {Qt::Key_Tab, 48},     {Qt::Key_Minus, 27},  {Qt::Key_Plus, 24},  {Qt::Key_F1, 122},  {Qt::Key_Delete, 117},
    };
    for (const auto& [key, code] : cases) {
        SCOPED_TRACE(key);
        EXPECT_EQ(hotkeymap::keyCodeForQtKey(key), code);
    }
    // Every letter and digit has a code, and no two letters share one.
    std::set<std::uint32_t> letters;
    for (int key = Qt::Key_A; key <= Qt::Key_Z; ++key)
        letters.insert(hotkeymap::keyCodeForQtKey(key).value_or(999));
    EXPECT_EQ(letters.size(), 26u);
    EXPECT_FALSE(letters.count(999));
    for (int key = Qt::Key_0; key <= Qt::Key_9; ++key)
        EXPECT_TRUE(hotkeymap::keyCodeForQtKey(key)) << key;
    // Names the record shows come back for the codes made here.
    EXPECT_EQ((GlobalHotKey{*hotkeymap::keyCodeForQtKey(Qt::Key_Q), GlobalHotKey::kControl}).displayString(), "⌃Q");
    EXPECT_EQ((GlobalHotKey{*hotkeymap::keyCodeForQtKey(Qt::Key_7), GlobalHotKey::kShift}).displayString(), "⇧7");
    for (int key : {Qt::Key_Alt, Qt::Key_Shift, Qt::Key_Control, Qt::Key_Meta, Qt::Key_VolumeUp})
        EXPECT_FALSE(hotkeymap::keyCodeForQtKey(key)) << key;
}

TEST(HotKeyKeyMap, ModifiersBecomeTheRecordsBits)
{
    EXPECT_EQ(hotkeymap::modifierBitsForQt(Qt::AltModifier), 0x800u);
    EXPECT_EQ(hotkeymap::modifierBitsForQt(Qt::MetaModifier), 0x100u);
    EXPECT_EQ(hotkeymap::modifierBitsForQt(Qt::ShiftModifier), 0x200u);
    EXPECT_EQ(hotkeymap::modifierBitsForQt(Qt::ControlModifier), 0x1000u);
    EXPECT_EQ(hotkeymap::modifierBitsForQt(Qt::MetaModifier | Qt::AltModifier), 0x900u);
    EXPECT_EQ(hotkeymap::modifierBitsForQt(Qt::KeypadModifier | Qt::GroupSwitchModifier), 0u);
}

TEST(HotKeyKeyMap, KeysShowAsThisDesktopWritesThem)
{
    const std::pair<GlobalHotKey, const char*> cases[] = {
        {GlobalHotKey::optionSpace(), "Alt+Space"},
        {GlobalHotKey::standard(), "Ctrl+Alt+Space"},
        {{40, GlobalHotKey::kControl | GlobalHotKey::kOption}, "Ctrl+Alt+K"},
        {{15, GlobalHotKey::kControl | GlobalHotKey::kShift}, "Ctrl+Shift+R"},
        {{18, GlobalHotKey::kShift}, "Shift+1"},  // the unshifted key, not "!"
        {{36, GlobalHotKey::kOption}, "Alt+Return"},
        {{123, GlobalHotKey::kControl}, "Ctrl+Left"},
        {{83, GlobalHotKey::kControl | GlobalHotKey::kOption}, "Ctrl+Alt+Num+1"},  // the keypad's own
        {{76, GlobalHotKey::kControl}, "Ctrl+Num+Enter"},
        {{65, GlobalHotKey::kControl}, "Ctrl+Num+."},
        {{10, GlobalHotKey::kControl}, "Ctrl+Key10"},  // a code no key of this keyboard has
    };
    for (const auto& [hotKey, text] : cases) {
        SCOPED_TRACE(text);
        const QString shown = hotkeymap::displayText(hotKey);
        EXPECT_EQ(shown, QString::fromUtf8(text));
    }
    // Super as Qt names it, never as another system's glyph.
    EXPECT_EQ(hotkeymap::displayText({0, GlobalHotKey::kCommand | GlobalHotKey::kOption | GlobalHotKey::kShift}),
              QStringLiteral("Meta+Alt+Shift+A"));
    // The stored form's own text is unchanged.
    EXPECT_EQ(GlobalHotKey::optionSpace().displayString(), "⌥Space");
}

TEST(HotKeyRecorder, OutcomeOfAKeyPress)
{
    const auto optionSpace = HotKeyRecorder::outcomeOf(Qt::Key_Space, Qt::AltModifier);
    EXPECT_EQ(optionSpace.kind, Kind::Record);
    EXPECT_EQ(optionSpace.hotKey, (GlobalHotKey{49, 0x800}));
    EXPECT_EQ(optionSpace.hotKey->displayString(), "⌥Space");
    EXPECT_EQ(HotKeyRecorder::outcomeOf(Qt::Key_K, Qt::MetaModifier | Qt::AltModifier).hotKey,
              (GlobalHotKey{40, 0x900}));
    // Shift alone counts as a modifier.
    EXPECT_EQ(HotKeyRecorder::outcomeOf(Qt::Key_A, Qt::ShiftModifier).hotKey, (GlobalHotKey{0, 0x200}));
    // Escape cancels whatever is held; no modifier, or a lone modifier key, is ignored.
    EXPECT_EQ(HotKeyRecorder::outcomeOf(Qt::Key_Escape, Qt::MetaModifier).kind, Kind::Cancel);
    EXPECT_EQ(HotKeyRecorder::outcomeOf(Qt::Key_Escape, Qt::NoModifier).kind, Kind::Cancel);
    EXPECT_EQ(HotKeyRecorder::outcomeOf(Qt::Key_A, Qt::NoModifier).kind, Kind::Ignore);
    EXPECT_EQ(HotKeyRecorder::outcomeOf(Qt::Key_Space, Qt::KeypadModifier).kind, Kind::Ignore);
    EXPECT_EQ(HotKeyRecorder::outcomeOf(Qt::Key_Alt, Qt::AltModifier).kind, Kind::Ignore);
}

// The row inside a shown settings view, with the grab hooks counted.
struct HotKeyRowTest : SettingsFixture {
    int suspended = 0;
    int resumed = 0;
    HotKeyRow* row = nullptr;

    void SetUp() override
    {
        SettingsFixture::SetUp();
        show();
        view->setRecordingHooks({[this] { ++suspended; }, [this] { ++resumed; }});
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
        row = view->hotKeyRow();
        h.log.clear();
    }
    void startRecording()
    {
        row->recordButton()->click();
        ASSERT_TRUE(row->isRecording());
        ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == row->recorder(); }));
    }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), modifiers);
    }
};

TEST_F(HotKeyRowTest, OptionSpaceIsRecordedStoredAndRegistered)
{
    model().settingsOperations().updateGlobalHotKey(GlobalHotKey{0, 0x1000});
    h.log.clear();
    EXPECT_EQ(row->textLabel()->text(), "全局快捷键：Ctrl+A");
    startRecording();
    EXPECT_EQ(row->recordButton()->text(), "录制中…（按 Esc 取消）");
    EXPECT_EQ(suspended, 1);
    press(Qt::Key_A);  // no modifier: swallowed, recording goes on
    EXPECT_TRUE(row->isRecording());
    press(Qt::Key_Space, Qt::AltModifier);
    EXPECT_FALSE(row->isRecording());
    EXPECT_EQ(model().settings().globalHotKey, (GlobalHotKey{49, 0x800}));
    EXPECT_EQ(reloaded().globalHotKey, (GlobalHotKey{49, 0x800}));
    EXPECT_EQ(h.log, std::vector<std::string>{"hotKey:⌥Space"});
    EXPECT_EQ(row->textLabel()->text(), "全局快捷键：Alt+Space");
    EXPECT_EQ(row->recordButton()->text(), "设置快捷键…");
    EXPECT_EQ(resumed, 1);
}

TEST_F(HotKeyRowTest, EscapeCancelsRecordingAndDoesNotCloseTheWindow)
{
    startRecording();
    press(Qt::Key_Escape, Qt::MetaModifier);
    EXPECT_FALSE(row->isRecording());
    EXPECT_EQ(model().settings().globalHotKey, GlobalHotKey::standard());
    EXPECT_TRUE(h.log.empty());
    EXPECT_EQ(resumed, 1);
    // A fired Escape shortcut would have pressed "关闭设置" down at once.
    EXPECT_FALSE(view->closeButton()->isDown());
    EXPECT_TRUE(view->isVisible());
}

TEST_F(HotKeyRowTest, SecondPressOfTheButtonAndHidingEndRecording)
{
    startRecording();
    row->recordButton()->click();
    EXPECT_FALSE(row->isRecording());
    EXPECT_EQ(resumed, 1);
    startRecording();
    view->hide();
    EXPECT_FALSE(row->isRecording());
    EXPECT_EQ(suspended, 2);
    EXPECT_EQ(resumed, 2);
    EXPECT_TRUE(h.log.empty());
}

// The keys pressed after a click elsewhere are that control's: recording
// ends there and the old key is registered again. A click on the button
// itself still ends recording, it does not start it anew.
TEST_F(HotKeyRowTest, ClickingAnotherControlEndsRecordingAndKeepsTheOldKey)
{
    QLineEdit* field = view->pathField();
    ASSERT_NE(field, nullptr);
    startRecording();
    QTest::mouseClick(field, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == field; }));
    EXPECT_FALSE(row->isRecording());
    EXPECT_EQ(resumed, 1);
    EXPECT_EQ(row->recordButton()->text(), "设置快捷键…");
    press(Qt::Key_Space, Qt::AltModifier);
    EXPECT_EQ(model().settings().globalHotKey, GlobalHotKey::standard());
    EXPECT_TRUE(h.log.empty());

    startRecording();
    QTest::mouseClick(row->recordButton(), Qt::LeftButton);
    EXPECT_FALSE(row->isRecording());
    EXPECT_EQ(suspended, 2);
    EXPECT_EQ(resumed, 2);
}

// The keypad's keys are keys of their own, with NumLock on or off; media
// keys have no code and are not taken.
TEST_F(HotKeyRowTest, KeypadKeysAreRecordedAsTheKeypadsOwn)
{
    const Qt::KeyboardModifiers ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    startRecording();
    press(Qt::Key_VolumeUp, ctrlAlt);
    press(Qt::Key_MediaPlay, Qt::ControlModifier);
    EXPECT_TRUE(row->isRecording());
    press(Qt::Key_1, ctrlAlt | Qt::KeypadModifier);
    EXPECT_FALSE(row->isRecording());
    EXPECT_EQ(model().settings().globalHotKey, (GlobalHotKey{83, 0x1800}));
    EXPECT_EQ(row->textLabel()->text(), "全局快捷键：Ctrl+Alt+Num+1");
    // A desktop's portal is asked for the keypad's key too.
    EXPECT_EQ(GlobalShortcutsPortal::preferredTrigger(*model().settings().globalHotKey), "CTRL+ALT+KP_1");

    struct KeypadCase {
        Qt::Key key;
        std::uint32_t code;
        std::uint32_t keysym;
    };
    const KeypadCase keypad[] = {
        {Qt::Key_End, 83, XK_KP_1}, {Qt::Key_Clear, 87, XK_KP_5},  // NumLock off
        {Qt::Key_Enter, 76, XK_KP_Enter}, {Qt::Key_Period, 65, XK_KP_Decimal},
    };
    for (const KeypadCase& c : keypad) {
        SCOPED_TRACE(c.code);
        startRecording();
        press(c.key, Qt::ControlModifier | Qt::KeypadModifier);
        ASSERT_EQ(model().settings().globalHotKey, (GlobalHotKey{c.code, 0x1000}));
        // What the grab takes: that very key.
        EXPECT_EQ(hotkeys::toX11(*model().settings().globalHotKey), (X11HotKey{c.keysym, XCB_MOD_MASK_CONTROL}));
    }
    // The same symbols off the keypad stay the main block's keys.
    startRecording();
    press(Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(model().settings().globalHotKey, (GlobalHotKey{18, 0x1000}));
}

TEST_F(HotKeyRowTest, ClearingTheHotKeyUnregistersItAndSurvivesARestart)
{
    ASSERT_TRUE(row->clearButton()->isEnabled());
    row->clearButton()->click();
    EXPECT_EQ(row->textLabel()->text(), "全局快捷键：未设置");
    EXPECT_FALSE(row->clearButton()->isEnabled());
    EXPECT_EQ(h.log, std::vector<std::string>{"hotKey:none"});
    restart();
    show();
    EXPECT_FALSE(model().settings().globalHotKey);
    EXPECT_EQ(view->hotKeyRow()->textLabel()->text(), "全局快捷键：未设置");
    EXPECT_FALSE(view->hotKeyRow()->clearButton()->isEnabled());
}

} // namespace
} // namespace pallix
