#include "UI/Search/SearchKeyHandler.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "App/AppModel.h"
#include "UI/Shell/HotKeyManager.h"

namespace pallix {

SearchKeyHandler::SearchKeyHandler(AppModel& model, QWidget* searchView, QWidget* searchField, QWidget* results)
    : m_model(model), m_searchView(searchView), m_searchField(searchField), m_results(results)
{
}

bool SearchKeyHandler::handle(const QKeyEvent& event)
{
    switch (event.key()) {
    case Qt::Key_Space: return handleSpace();
    case Qt::Key_Up: return handleArrow(-1);
    case Qt::Key_Down: return handleArrow(1);
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
    if (m_model.selectedItemID().isEmpty() || !m_model.inlineRenameTargetID().isEmpty())
        return false;
    if (!m_searchView || QApplication::activeWindow() != m_searchView->window())
        return false;
    if (takesText(QApplication::focusWidget()))
        return false;
    m_model.previewSelected();
    return true;
}

bool SearchKeyHandler::handleArrow(int offset)
{
    const QWidget* focus = QApplication::focusWidget();
    const bool inField = focus && focus == m_searchField;
    const bool inResults = focus && m_results && (focus == m_results || m_results->isAncestorOf(focus));
    // The rename field inside the results moves its caret, not the selection.
    if (!inField && (!inResults || takesText(focus)))
        return false;
    m_model.moveSelection(offset);
    return true;
}

} // namespace pallix
