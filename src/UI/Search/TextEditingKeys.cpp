#include "UI/Search/TextEditingKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "UI/Search/SearchKeyHandler.h"

namespace pallix {

namespace {

// The keys a single-line field edits or moves its caret with. Up and Down
// are not among them: the search field hands them to the results.
constexpr QKeySequence::StandardKey kEditingKeys[] = {
    QKeySequence::Undo, QKeySequence::Redo, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::SelectAll,
    QKeySequence::Delete, QKeySequence::Backspace, QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord,
    QKeySequence::DeleteEndOfLine, QKeySequence::DeleteCompleteLine, QKeySequence::MoveToNextChar,
    QKeySequence::MoveToPreviousChar, QKeySequence::MoveToNextWord, QKeySequence::MoveToPreviousWord,
    QKeySequence::MoveToStartOfLine, QKeySequence::MoveToEndOfLine, QKeySequence::MoveToStartOfDocument,
    QKeySequence::MoveToEndOfDocument, QKeySequence::SelectNextChar, QKeySequence::SelectPreviousChar,
    QKeySequence::SelectNextWord, QKeySequence::SelectPreviousWord, QKeySequence::SelectStartOfLine,
    QKeySequence::SelectEndOfLine, QKeySequence::SelectStartOfDocument, QKeySequence::SelectEndOfDocument,
};

bool isEditingKey(const QKeyEvent& key)
{
    for (QKeySequence::StandardKey standard : kEditingKeys) {
        if (key.matches(standard))
            return true;
    }
    // A character typed, with Shift at most.
    const bool typed = !key.text().isEmpty() && key.text().front().isPrint()
                       && !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    return typed;
}

// The text the widget shows can be selected, and some of it is.
bool hasSelectedText(const QWidget* widget)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(widget))
        return line->hasSelectedText();
    if (const auto* text = qobject_cast<const QTextEdit*>(widget))
        return text->textCursor().hasSelection();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget))
        return plain->textCursor().hasSelection();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->hasSelectedText();
    return false;
}

bool showsSelectableText(const QWidget* widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget)
           || qobject_cast<const QPlainTextEdit*>(widget);
}

} // namespace

TextEditingKeys::TextEditingKeys(QObject* parent) : QObject(parent)
{
    QCoreApplication::instance()->installEventFilter(this);
}

TextEditingKeys::~TextEditingKeys()
{
    if (auto* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool TextEditingKeys::keeps(const QWidget* widget, const QKeyEvent& key)
{
    if (!widget)
        return false;
    // Copying takes the selected text; without one it is the window's command.
    if (key.matches(QKeySequence::Copy))
        return showsSelectableText(widget) && hasSelectedText(widget);
    if (SearchKeyHandler::takesText(widget))
        return isEditingKey(key);
    return showsSelectableText(widget) && key.matches(QKeySequence::SelectAll);
}

bool TextEditingKeys::eventFilter(QObject* watched, QEvent* event)
{
    // The override is asked of the focused widget before any shortcut acts.
    if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (!keeps(static_cast<QWidget*>(watched), *key))
        return false;
    key->accept();
    return true;
}

} // namespace pallix
