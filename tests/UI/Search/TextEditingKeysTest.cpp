#include "UI/Search/TextEditingKeys.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace pallix {
namespace {

// A window whose shortcuts use the editing keys, as a window's commands do:
// each firing is noted.
struct TextEditingKeysTest : testing::Test {
    QWidget window;
    QLineEdit* field = new QLineEdit;
    QLabel* label = new QLabel(QStringLiteral("可选择的文字"));
    QPushButton* button = new QPushButton(QStringLiteral("按钮"));
    QStringList fired;
    TextEditingKeys keys;

    void SetUp() override
    {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* layout = new QVBoxLayout(&window);
        for (QWidget* widget : {static_cast<QWidget*>(field), static_cast<QWidget*>(label),
                                static_cast<QWidget*>(button)})
            layout->addWidget(widget);
        const QKeyCombination shortcuts[] = {
            Qt::CTRL | Qt::Key_Backspace, Qt::CTRL | Qt::Key_A, Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Z,
            QKeyCombination(Qt::Key_Home), QKeyCombination(Qt::Key_End), Qt::CTRL | Qt::Key_Left,
            Qt::CTRL | Qt::Key_Right, QKeyCombination(Qt::Key_Delete)};
        for (QKeyCombination combination : shortcuts) {
            auto* action = new QAction(&window);
            action->setShortcut(QKeySequence(combination));
            action->setShortcutContext(Qt::WindowShortcut);
            QObject::connect(action, &QAction::triggered, &window,
                             [this, combination] { fired << QKeySequence(combination).toString(); });
            window.addAction(action);
        }
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void press(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(widget, key, modifiers);
    }
};

TEST_F(TextEditingKeysTest, AFocusedFieldKeepsItsEditingKeys)
{
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClicks(field, QStringLiteral("alpha beta"));
    press(field, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("alpha "));
    press(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("alpha beta"));
    press(field, Qt::Key_Home);
    press(field, Qt::Key_Delete);
    EXPECT_EQ(field->text(), QStringLiteral("lpha beta"));
    press(field, Qt::Key_End);
    press(field, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(field->cursorPosition(), 5);
    press(field, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(field->cursorPosition(), 9);
    press(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(field->selectedText(), QStringLiteral("lpha beta"));
    press(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("lpha beta"));
    EXPECT_TRUE(fired.isEmpty()) << fired.join(u' ').toStdString();
}

// A label's selected text is copied by Ctrl+C; with nothing selected, or
// another control focused, the key is the window's command.
TEST_F(TextEditingKeysTest, ASelectableLabelKeepsCopyWhileItHoldsASelection)
{
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::mouseClick(label, Qt::LeftButton);
    ASSERT_TRUE(label->hasFocus());
    press(label, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(fired, QStringList{QKeySequence(Qt::CTRL | Qt::Key_C).toString()});
    press(label, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(label->selectedText(), label->text());
    press(label, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), label->text());
    EXPECT_EQ(fired.size(), 1);

    button->setFocus();
    press(button, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(fired.size(), 2);
}

} // namespace
} // namespace pallix
