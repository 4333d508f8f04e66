#pragma once
// FolderBrowserManager: opens folder browser windows, one new window per
// request, each kept until it closes. One per process; GUI thread only.
// Until the folder browser window exists, a request is only announced through
// windowRequested(), which the window layer connects to.

#include <QObject>
#include <QString>

namespace pallix {

class FolderBrowserManager : public QObject {
    Q_OBJECT

public:
    static FolderBrowserManager& shared();

    // Opens a new browser window on `path`; reports nothing.
    void open(const QString& path);
    // Whether a window layer listens to windowRequested(); until one does a
    // folder is shown by the file manager instead.
    bool hasWindowProvider() const;

signals:
    void windowRequested(const QString& path);
};

} // namespace pallix
