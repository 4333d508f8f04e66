#pragma once
// ResultActions: what the user does to a result (open, reveal, copy, rename,
// duplicate, trash, scope), on the item handed in or on the search session's
// selection. The model owns one; the search window's menus, keys and context
// menus call it. Failures reach the user through the status line and an
// alert; each change on disk is followed by an immediate re-search.
// GUI thread only.

#include <memory>

#include <QString>

#include "App/Actions/FileActionHandler.h"
#include "Core/Models/IndexedItem.h"

namespace pallix {

class AppContext;
class DesktopEffects;
class SearchSession;

class ResultActions {
public:
    // `desktop` none: the system's, without dialogs.
    ResultActions(const AppContext& context, SearchSession& session, std::shared_ptr<DesktopEffects> desktop);
    ~ResultActions();

    const FileActionHandler& fileActionHandler() const { return m_handler; }

    // A folder opens in a folder browser window, a file in its default application.
    void open(const IndexedItem& item);
    void openPath(const QString& path);
    // Shows the item selected in the file manager.
    void reveal(const IndexedItem& item);
    void copyName(const IndexedItem& item);
    void copyPath(const IndexedItem& item);
    void copyFileToPasteboard(const IndexedItem& item);
    void beginInlineRename(const IndexedItem& item);
    void commitInlineRename();
    void cancelInlineRename();
    void duplicateItem(const IndexedItem& item);
    // Asks for confirmation first.
    void moveItemToTrash(const IndexedItem& item);
    void scopeToItem(const IndexedItem& item);

    // The same on the selected result; nothing when there is none.
    void openSelected();
    void revealSelected();
    void copySelectedName();
    void copySelectedPath();
    void moveSelectedToTrash();

private:
    // Runs `action` on the selected result; nothing when there is none.
    void onSelection(void (ResultActions::*action)(const IndexedItem&));
    void copyText(const QString& text, const QString& status);
    void closeInlineRename();
    void fail(const QString& title, const QString& message);

    const AppContext& m_context;
    SearchSession& m_session;
    FileActionHandler m_handler;
};

} // namespace pallix
