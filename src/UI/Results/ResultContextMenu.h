#pragma once
// ResultContextMenu: the context menu of one result (a list row or a grid
// card of the main, image-content and shared-drive sections). It holds the
// item it was opened on and reports the chosen entry with that item, whatever
// the selection is by then; what an entry does is the results area's owner's
// business. Deletes itself when closed. GUI thread only.

#include <QMenu>

#include "Core/Models/IndexedItem.h"

namespace pallix {

class ResultContextMenu : public QMenu {
    Q_OBJECT

public:
    enum class Entry {
        ScopeToItem,
        Open,
        OpenParent,
        Reveal,
        CopyName,
        CopyPath,
        CopyFile,
        Rename,
        Duplicate,
        MoveToTrash,
        Count
    };

    explicit ResultContextMenu(IndexedItem item, QWidget* parent = nullptr);

    const IndexedItem& item() const { return m_item; }
    // Whether the entry's action is drawn as destructive.
    static bool isDestructive(const QAction* action);

signals:
    void entryChosen(pallix::ResultContextMenu::Entry entry, const pallix::IndexedItem& item);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;

private:
    void addEntry(const QString& title, Entry entry);

    IndexedItem m_item;
};

} // namespace pallix
