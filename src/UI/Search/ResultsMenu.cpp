#include "UI/Search/ResultsMenu.h"

#include "App/Actions/ResultActions.h"
#include "App/Search/SearchSession.h"

namespace pallix {

ResultsMenu::ResultsMenu(SearchSession& session, ResultActions& actions, QWidget* results, QWidget* parent)
    : QMenu(QStringLiteral("结果"), parent), m_session(session), m_actions(actions)
{
    // In the notation of the shortcuts beside them, which Qt translates.
    const auto keyText = [](Qt::Key key) { return QKeySequence(key).toString(QKeySequence::NativeText); };
    addItemAction(QStringLiteral("打开选中项\t") + keyText(Qt::Key_Return), {}, &ResultsMenu::openSelected);
    addItemAction(QStringLiteral("显示所在位置"), {QKeySequence(Qt::CTRL | Qt::Key_Return)}, &ResultsMenu::revealSelected);
    addItemAction(QStringLiteral("快速预览\t") + keyText(Qt::Key_Space), {}, &ResultsMenu::previewSelected);
    addSeparator();
    // F2 is the file managers' rename key here.
    addItemAction(QStringLiteral("重命名"), {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R), QKeySequence(Qt::Key_F2)},
                  &ResultsMenu::renameSelected);
    addItemAction(QStringLiteral("制作副本"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D)},
                  &ResultsMenu::duplicateSelected);
    addItemAction(QStringLiteral("拷贝项目"), {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C)},
                  &ResultsMenu::copySelectedFile);
    addSeparator();
    addItemAction(QStringLiteral("复制名称"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)},
                  &ResultsMenu::copySelectedName);
    addItemAction(QStringLiteral("复制路径"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P)},
                  &ResultsMenu::copySelectedPath);
    addSeparator();
    QAction* trash = addItemAction(QStringLiteral("移到回收站"), {QKeySequence(Qt::CTRL | Qt::Key_Backspace)},
                                   &ResultsMenu::trashSelected);
    // Elsewhere Ctrl+Backspace deletes the word before the caret.
    trash->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    if (results)
        results->addAction(trash);

    // The selected item can also leave the lists while the selection stays.
    for (auto signal : {&SearchSession::selectedItemIDChanged, &SearchSession::resultsChanged,
                        &SearchSession::imageFuzzyResultsChanged, &SearchSession::serverResultsChanged})
        connect(&m_session, signal, this, &ResultsMenu::updateEnabled);
    updateEnabled();
}

QAction* ResultsMenu::addItemAction(const QString& title, const QList<QKeySequence>& keys,
                                    void (ResultsMenu::*slot)())
{
    QAction* action = addAction(title);
    action->setShortcuts(keys);
    // The shortcuts must work while the menu is closed: the menu's window
    // adds the menu's actions to itself.
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void ResultsMenu::updateEnabled()
{
    const bool hasItem = m_session.selectedItem().has_value();
    for (QAction* action : actions())
        action->setEnabled(hasItem || action->isSeparator());
}

void ResultsMenu::openSelected()
{
    m_actions.openSelected();
}

void ResultsMenu::revealSelected()
{
    m_actions.revealSelected();
}

void ResultsMenu::previewSelected()
{
    m_session.previewSelected();
}

void ResultsMenu::renameSelected()
{
    if (const auto item = m_session.selectedItem())
        m_actions.beginInlineRename(*item);
}

void ResultsMenu::duplicateSelected()
{
    if (const auto item = m_session.selectedItem())
        m_actions.duplicateItem(*item);
}

void ResultsMenu::copySelectedFile()
{
    if (const auto item = m_session.selectedItem())
        m_actions.copyFileToPasteboard(*item);
}

void ResultsMenu::copySelectedName()
{
    m_actions.copySelectedName();
}

void ResultsMenu::copySelectedPath()
{
    m_actions.copySelectedPath();
}

void ResultsMenu::trashSelected()
{
    m_actions.moveSelectedToTrash();
}

} // namespace pallix
