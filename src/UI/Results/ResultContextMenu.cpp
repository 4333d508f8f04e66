#include "UI/Results/ResultContextMenu.h"

#include <QStyleOptionMenuItem>

namespace pallix {

namespace {

const char* const kDestructiveProperty = "destructive";

} // namespace

ResultContextMenu::ResultContextMenu(IndexedItem item, QWidget* parent) : QMenu(parent), m_item(std::move(item))
{
    setAttribute(Qt::WA_DeleteOnClose);
    addEntry(m_item.isDirectory() ? QStringLiteral("进入此文件夹范围") : QStringLiteral("进入上级文件夹范围"),
             Entry::ScopeToItem);
    addEntry(QStringLiteral("打开"), Entry::Open);
    addEntry(QStringLiteral("打开上级文件夹"), Entry::OpenParent);
    addEntry(QStringLiteral("在文件管理器中显示"), Entry::Reveal);
    addSeparator();
    addEntry(QStringLiteral("复制名称"), Entry::CopyName);
    addEntry(QStringLiteral("复制路径"), Entry::CopyPath);
    addEntry(QStringLiteral("拷贝项目（可在文件管理器粘贴）"), Entry::CopyFile);
    addSeparator();
    addEntry(QStringLiteral("重命名"), Entry::Rename);
    addEntry(QStringLiteral("制作副本"), Entry::Duplicate);
    addSeparator();
    addEntry(QStringLiteral("移到回收站"), Entry::MoveToTrash);
    actions().constLast()->setProperty(kDestructiveProperty, true);
}

bool ResultContextMenu::isDestructive(const QAction* action)
{
    return action->property(kDestructiveProperty).toBool();
}

void ResultContextMenu::addEntry(const QString& title, Entry entry)
{
    // The item is a copy of our own: the entry acts on it even when the
    // results were replaced while the menu was open.
    addAction(title, this, [this, entry] { emit entryChosen(entry, m_item); });
}

// Qt has no destructive role for menu entries: the text is drawn red.
void ResultContextMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const
{
    QMenu::initStyleOption(option, action);
    if (!isDestructive(action))
        return;
    const QColor red(0xd7, 0x26, 0x1e);
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        option->palette.setColor(role, red);
}

} // namespace pallix
