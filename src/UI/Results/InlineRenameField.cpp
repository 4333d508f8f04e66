#include "UI/Results/InlineRenameField.h"

#include <QKeyEvent>
#include <QTimer>

#include "App/Search/SearchSession.h"

namespace pallix {

InlineRenameField::InlineRenameField(SearchSession& session, int pixelSize, QWidget* parent)
    : QLineEdit(parent), m_session(session)
{
    setObjectName(QStringLiteral("inlineRenameField"));
    QFont font = this->font();
    font.setPixelSize(pixelSize);
    setFont(font);
    setText(session.inlineRename().draft());
    connect(this, &QLineEdit::textEdited, &m_session.inlineRename(), &InlineRename::setDraft);
    connect(&m_session.inlineRename(), &InlineRename::draftChanged, this, &InlineRenameField::showModelDraft);
    // After the owner has placed and shown us.
    QTimer::singleShot(0, this, &InlineRenameField::takeFocus);
}

void InlineRenameField::takeFocus()
{
    if (!isVisible())
        return;
    setFocus(Qt::OtherFocusReason);
    selectAll();
}

void InlineRenameField::showModelDraft()
{
    if (text() != m_session.inlineRename().draft())
        setText(m_session.inlineRename().draft());
}

// Tab would otherwise move the focus before a key press is seen.
bool InlineRenameField::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            endByKey(&InlineRenameField::commitRequested);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void InlineRenameField::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: endByKey(&InlineRenameField::commitRequested); break;
    case Qt::Key_Escape: endByKey(&InlineRenameField::cancelRequested); break;
    default: QLineEdit::keyPressEvent(event); return;
    }
    event->accept();
}

void InlineRenameField::endByKey(void (InlineRenameField::*ending)())
{
    m_skipNextEndEditing = true;
    emit(this->*ending)();
    // A field still shown (a rename the file system refused, its message box
    // over the window) keeps the keyboard: once the box is gone, Escape
    // cancels here, and no focus loss of ours is to follow.
    if (isVisible() && hasFocus()) {
        m_skipNextEndEditing = false;
        return;
    }
    // The owner may have hidden us already; then the flag waits for the
    // focus loss that still follows, as a flag set here must.
    if (hasFocus())
        clearFocus();
}

void InlineRenameField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // The field's own context menu takes the focus for a moment only, and so
    // does a message box over the window (or another application): the focus
    // comes back here.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        return;
    if (m_skipNextEndEditing) {
        m_skipNextEndEditing = false;
        return;
    }
    // A click takes the focus before the clicked widget sees the press: a
    // click on another result or on empty space must first move or clear
    // the selection, which cancels the rename, before the end of editing
    // could commit it.
    if (event->reason() == Qt::MouseFocusReason) {
        QTimer::singleShot(0, this, &InlineRenameField::editingEnded);
        return;
    }
    emit editingEnded();
}

} // namespace pallix
