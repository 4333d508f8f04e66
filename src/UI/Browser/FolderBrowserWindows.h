#pragma once
// FolderBrowserWindows: the window side of FolderBrowserManager. Every
// request opens a new browser window, shown, raised and active, also for a
// folder another window already shows; each window owns its controller and
// is deleted on close, so this keeps only weak references to them.
// GUI thread only.

#include <QList>
#include <QObject>
#include <QPointer>

#include "App/Browser/FolderBrowserModel.h"

namespace pallix {

class FolderBrowserManager;
class FolderBrowserWindowController;
class ThumbnailProvider;

class FolderBrowserWindows : public QObject {
    Q_OBJECT

public:
    // Answers the manager's requests from now on.
    FolderBrowserWindows(FolderBrowserManager& manager, ThumbnailProvider& thumbnails,
                         FolderBrowserModel::Environment environment = {}, QObject* parent = nullptr);
    // Closes the windows still open: they use the thumbnails handed in here.
    ~FolderBrowserWindows() override;

    FolderBrowserWindowController* open(const QString& path);
    // The controllers of the windows still open, oldest first.
    QList<FolderBrowserWindowController*> controllers() const;

private:
    ThumbnailProvider& m_thumbnails;
    FolderBrowserModel::Environment m_environment;
    QList<QPointer<FolderBrowserWindowController>> m_controllers;
};

} // namespace pallix
