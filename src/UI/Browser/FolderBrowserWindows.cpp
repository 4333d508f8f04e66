#include "UI/Browser/FolderBrowserWindows.h"

#include <QApplication>

#include "App/Preview/FolderBrowserManager.h"
#include "UI/Browser/FolderBrowserView.h"
#include "UI/Browser/FolderBrowserWindowController.h"
#include "UI/Common/WindowPlacement.h"

namespace pallix {

FolderBrowserWindows::FolderBrowserWindows(FolderBrowserManager& manager, ThumbnailProvider& thumbnails,
                                           FolderBrowserModel::Environment environment, QObject* parent)
    : QObject(parent), m_thumbnails(thumbnails), m_environment(std::move(environment))
{
    connect(&manager, &FolderBrowserManager::windowRequested, this, [this](const QString& path) { open(path); });
}

FolderBrowserWindows::~FolderBrowserWindows()
{
    for (FolderBrowserWindowController* controller : controllers())
        delete controller->window();
}

FolderBrowserWindowController* FolderBrowserWindows::open(const QString& path)
{
    auto* controller = new FolderBrowserWindowController(path, m_thumbnails, m_environment);
    m_controllers.removeAll(nullptr);
    m_controllers.append(controller);
    FolderBrowserView* window = controller->window();
    // Over the window it was opened from, usually the search window.
    WindowPlacement::placeForOpening(window, QApplication::activeWindow());
    window->show();
    window->raise();
    window->activateWindow();
    return controller;
}

QList<FolderBrowserWindowController*> FolderBrowserWindows::controllers() const
{
    QList<FolderBrowserWindowController*> open;
    for (const auto& controller : m_controllers) {
        if (controller)
            open.append(controller);
    }
    return open;
}

} // namespace pallix
