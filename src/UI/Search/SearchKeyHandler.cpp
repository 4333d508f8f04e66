#include "UI/Search/SearchKeyHandler.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "App/Actions/ResultActions.h"
#include "App/Search/SearchSession.h"
#include "UI/Common/HotKeyManager.h"
#include "UI/Search/TextEditingKeys.h"

namespace pallix {

SearchKeyHandler::SearchKeyHandler(SearchSession& session, ResultActions& actions, QWidget* searchView,
                                   QWidget* searchField, QWidget* results)
    : m_session(session), m_actions(actions), m_searchView(searchView), m_searchField(searchField), m_results(results)
{
}

bool SearchKeyHandler::handle(const QKeyEvent& event)
{
    if (TextEditingKeys::keeps(QApplication::focusWidget(), event))
        return false;
    switch (event.key()) {
    case Qt::Key_Space: return handleSpace();
    case Qt::Key_Up: return handleArrow(-1);
    case Qt::Key_Down: return handleArrow(1);
    case Qt::Key_Return:
    case Qt::Key_Enter: return handleReturn(event);
    default: return false;
    }
}

bool SearchKeyHandler::takesText(const QWidget* widget)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(widget))
        return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(widget))
        return !text->isReadOnly();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget))
        return !plain->isReadOnly();
    if (const auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->isEditable();
    return qobject_cast<const QAbstractSpinBox*>(widget) != nullptr;
}

bool SearchKeyHandler::handleSpace()
{
    // Swallowing every Space while a result is selected (whatever the focus
    // and window) made spaces impossible to type in the query, the rename
    // field or the settings window: Space previews only where it types nothing.
    if (HotKeyManager::shared().isSuspended())
        return false;  // the settings window is recording a hot key
    if (m_session.selectedItemID().isEmpty() || !m_session.inlineRename().targetID().isEmpty())
        return false;
    if (!m_searchView || QApplication::activeWindow() != m_searchView->window())
        return false;
    if (takesText(QApplication::focusWidget()))
        return false;
    m_session.previewSelected();
    return true;
}

bool SearchKeyHandler::resultsHaveFocus() const
{
    const QWidget* focus = QApplication::focusWidget();
    // The rename field inside the results keeps its own keys.
    return focus && m_results && (focus == m_results || m_results->isAncestorOf(focus)) && !takesText(focus);
}

bool SearchKeyHandler::handleArrow(int offset)
{
    const QWidget* focus = QApplication::focusWidget();
    if (!(focus && focus == m_searchField) && !resultsHaveFocus())
        return false;
    m_session.moveSelection(offset);
    return true;
}

// A clicked row or card holds the focus; Return there opens the selection as
// it does from the search field. With a modifier it is another command's.
bool SearchKeyHandler::handleReturn(const QKeyEvent& event)
{
    if ((event.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || !resultsHaveFocus())
        return false;
    m_actions.openSelected();
    return true;
}

} // namespace pallix
