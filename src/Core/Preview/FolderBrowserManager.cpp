#include "Core/Preview/FolderBrowserManager.h"

namespace pallix {

FolderBrowserManager& FolderBrowserManager::shared()
{
    static FolderBrowserManager* manager = new FolderBrowserManager;
    return *manager;
}

void FolderBrowserManager::open(const QString& path)
{
    emit windowRequested(path);
}

} // namespace pallix
