#include "UI/Search/ResultsMenu.h"

#include "App/AppModel.h"

namespace pallix {

ResultsMenu::ResultsMenu(AppModel& model, QWidget* parent) : QMenu(QStringLiteral("结果"), parent), m_model(model)
{
    addItemAction(QStringLiteral("打开选中项\tReturn"), {}, &ResultsMenu::openSelected);
    addItemAction(QStringLiteral("显示所在位置"), QKeySequence(Qt::CTRL | Qt::Key_Return), &ResultsMenu::revealSelected);
    addItemAction(QStringLiteral("快速预览\tSpace"), {}, &ResultsMenu::previewSelected);
    addSeparator();
    addItemAction(QStringLiteral("重命名"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R), &ResultsMenu::renameSelected);
    addItemAction(QStringLiteral("制作副本"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D),
                  &ResultsMenu::duplicateSelected);
    addItemAction(QStringLiteral("拷贝项目"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C),
                  &ResultsMenu::copySelectedFile);
    addSeparator();
    addItemAction(QStringLiteral("复制名称"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
                  &ResultsMenu::copySelectedName);
    addItemAction(QStringLiteral("复制路径"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
                  &ResultsMenu::copySelectedPath);
    addSeparator();
    addItemAction(QStringLiteral("移到回收站"), QKeySequence(Qt::CTRL | Qt::Key_Backspace), &ResultsMenu::trashSelected);

    // The selected item can also leave the lists while the selection stays.
    for (auto signal : {&AppModel::selectedItemIDChanged, &AppModel::resultsChanged,
                        &AppModel::imageFuzzyResultsChanged, &AppModel::serverResultsChanged})
        connect(&m_model, signal, this, &ResultsMenu::updateEnabled);
    updateEnabled();
}

QAction* ResultsMenu::addItemAction(const QString& title, const QKeySequence& keys, void (ResultsMenu::*slot)())
{
    QAction* action = addAction(title);
    action->setShortcut(keys);
    // The shortcuts must work while the menu is closed: the menu's window
    // adds the menu's actions to itself.
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void ResultsMenu::updateEnabled()
{
    const bool hasItem = m_model.selectedItem().has_value();
    for (QAction* action : actions())
        action->setEnabled(hasItem || action->isSeparator());
}

void ResultsMenu::openSelected()
{
    m_model.resultActions().openSelected();
}

void ResultsMenu::revealSelected()
{
    m_model.resultActions().revealSelected();
}

void ResultsMenu::previewSelected()
{
    m_model.previewSelected();
}

void ResultsMenu::renameSelected()
{
    if (const auto item = m_model.selectedItem())
        m_model.resultActions().beginInlineRename(*item);
}

void ResultsMenu::duplicateSelected()
{
    if (const auto item = m_model.selectedItem())
        m_model.resultActions().duplicateItem(*item);
}

void ResultsMenu::copySelectedFile()
{
    if (const auto item = m_model.selectedItem())
        m_model.resultActions().copyFileToPasteboard(*item);
}

void ResultsMenu::copySelectedName()
{
    m_model.resultActions().copySelectedName();
}

void ResultsMenu::copySelectedPath()
{
    m_model.resultActions().copySelectedPath();
}

void ResultsMenu::trashSelected()
{
    m_model.resultActions().moveSelectedToTrash();
}

} // namespace pallix
