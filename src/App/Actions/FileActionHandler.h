#pragma once
// FileActionHandler: what the user does to a found file or folder: open it,
// duplicate it next to itself, move it to the trash after asking, rename it,
// put it on the clipboard, show an error. It keeps no state and never touches
// the index; the caller decides what to re-search or show afterwards. The
// desktop (opening, the clipboard, dialogs) comes in as DesktopEffects.
// GUI thread only; a duplicate copies on a worker thread and answers on the
// GUI thread. Paths are the index's stored form; files, URLs and the trash
// are reached by the real bytes (App/SystemPaths.h, Platform/FileNames.h).

#include <functional>
#include <memory>
#include <string>

#include <QObject>
#include <QString>

#include "App/Actions/DesktopEffects.h"
#include "App/Actions/FileActionError.h"
#include "Core/Models/IndexedItem.h"
#include "Platform/Expected.h"

namespace pallix {

class FileActionHandler {
public:
    using PathResult = Expected<std::string, FileActionError>;
    using DoneResult = Expected<void, FileActionError>;

    explicit FileActionHandler(std::shared_ptr<DesktopEffects> desktop);

    DesktopEffects& desktop() const { return *m_desktop; }

    // A folder goes to a folder browser window (the file manager while no
    // browser window exists), anything else to its default application.
    void open(const IndexedItem& item) const;
    void openPath(const QString& path) const;
    void reveal(std::string_view path) const;

    // `completion` gets the copy's path or the error, on the GUI thread, with
    // `context` alive; the copy runs on a worker thread.
    void duplicateItem(const IndexedItem& item, QObject* context,
                       std::function<void(const PathResult&)> completion) const;
    // A missing item fails at once with fileMissing; otherwise asks, then
    // moves the item to the freedesktop trash. "取消" gives Cancelled.
    void presentMoveToTrashConfirmation(const IndexedItem& item, std::function<void(const DoneResult&)> completion) const;
    void presentErrorAlert(const QString& title, const QString& message) const;
    // The item as the file managers paste it, plus its name as plain text.
    void copyFileReferenceToPasteboard(const IndexedItem& item) const;
    static PathResult performRename(const std::string& sourcePath, const QString& newDisplayName);

private:
    std::shared_ptr<DesktopEffects> m_desktop;
};

} // namespace pallix
