#pragma once
// AppNotifications: the four in-process notifications that tie the tray icon,
// the global hot key, the menus and the search window together. Posting emits
// a signal; every receiver connects with Qt::QueuedConnection, so a
// notification takes effect after the code that posted it has returned.
// GUI thread only.

#include <QObject>
#include <QVariant>

namespace pallix {

class AppNotifications : public QObject {
    Q_OBJECT

public:
    static AppNotifications& shared();

    void postToggleSearchWindow() { emit toggleSearchWindow(); }
    void postShowSearchWindow() { emit showSearchWindow(); }
    void postFocusSearchField() { emit focusSearchField(); }
    // `visible` is the new value of the tray-icon setting; an invalid or
    // non-bool value means "show".
    void postMenuBarVisibilityChanged(const QVariant& visible) { emit menuBarVisibilityChanged(visible); }

signals:
    void toggleSearchWindow();
    void showSearchWindow();
    void focusSearchField();
    void menuBarVisibilityChanged(const QVariant& visible);
};

} // namespace pallix
