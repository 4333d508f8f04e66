#pragma once
// FolderBrowserWindowController: makes one folder browser window and keeps
// it in step with its model: the title is the folder's name ("/" for the
// root; the full path stands in the header, Linux windows have no subtitle).
// While its window is the active one, plain Space opens Quick Look on the
// selection and the mouse's back and forward buttons walk the history; any
// other press passes on. The window is deleted on close, and the controller,
// its model and its monitors go with it. GUI thread only.

#include <QObject>
#include <QPointer>

#include "App/Browser/FolderBrowserModel.h"

class QKeyEvent;
class QMouseEvent;

namespace pallix {

class FolderBrowserView;
class KeyDownMonitor;
class MouseButtonMonitor;
class ThumbnailProvider;

class FolderBrowserWindowController : public QObject {
    Q_OBJECT

public:
    static constexpr int kWidth = 980;
    static constexpr int kHeight = 700;
    static constexpr int kMinimumWidth = 760;
    static constexpr int kMinimumHeight = 520;

    // Builds the window (not shown yet) and starts listing `path`. The
    // controller belongs to the window from then on.
    FolderBrowserWindowController(const QString& path, ThumbnailProvider& thumbnails,
                                  FolderBrowserModel::Environment environment = {});

    FolderBrowserView* window() const { return m_window; }
    FolderBrowserModel& model() { return *m_model; }

    void updateWindowTitle(const QString& path);

    static bool isBrowserWindow(const QWidget* widget);

private:
    bool handleKey(const QKeyEvent& event);
    bool handleMouse(const QMouseEvent& event);
    bool isActive() const;

    FolderBrowserModel* m_model;
    QPointer<FolderBrowserView> m_window;
};

} // namespace pallix
