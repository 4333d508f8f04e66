#include "App/ResultActions.h"

#include <QDesktopServices>
#include <QUrl>

#include "App/AppModel.h"

namespace pallix {

ResultActions::ResultActions(AppModel& model) : m_model(model) {}

ResultActions::~ResultActions() = default;

void ResultActions::open(const IndexedItem& item)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(item.path())));
}

void ResultActions::openPath(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void ResultActions::reveal(const IndexedItem&) {}
void ResultActions::copyName(const IndexedItem&) {}
void ResultActions::copyPath(const IndexedItem&) {}
void ResultActions::copyFileToPasteboard(const IndexedItem&) {}
void ResultActions::beginInlineRename(const IndexedItem&) {}
void ResultActions::commitInlineRename() {}
void ResultActions::cancelInlineRename() {}
void ResultActions::duplicateItem(const IndexedItem&) {}
void ResultActions::moveItemToTrash(const IndexedItem&) {}
void ResultActions::scopeToItem(const IndexedItem&) {}

void ResultActions::openSelected()
{
    if (const auto item = m_model.selectedItem())
        open(*item);
}

void ResultActions::revealSelected() {}
void ResultActions::copySelectedName() {}
void ResultActions::copySelectedPath() {}
void ResultActions::moveSelectedToTrash() {}

} // namespace pallix
