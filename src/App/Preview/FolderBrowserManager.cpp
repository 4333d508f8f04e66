#include "App/Preview/FolderBrowserManager.h"

#include <QMetaMethod>

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

bool FolderBrowserManager::hasWindowProvider() const
{
    return isSignalConnected(QMetaMethod::fromSignal(&FolderBrowserManager::windowRequested));
}

} // namespace pallix
