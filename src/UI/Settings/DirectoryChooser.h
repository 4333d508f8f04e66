#pragma once
// The folder chooser of the settings window: the desktop's own chooser
// through the xdg-desktop-portal FileChooser interface where the desktop has
// one, else Qt's folders-only file dialog (in Chinese through Qt's
// translations); neither runs a nested event loop. GUI thread only; the
// completion runs later on the GUI thread.

#include <functional>

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace pallix {

// Shows the chooser over `parent`'s window. `completion` gets the chosen
// folders in the dialog's order, or an empty list when it is cancelled; it
// is not called when `parent` is gone first. With `several` the user may
// pick more than one folder. `bus` is where the portal is looked for.
void chooseDirectories(QWidget* parent, const QString& title, bool several,
                       std::function<void(const QStringList&)> completion,
                       const QDBusConnection& bus = QDBusConnection::sessionBus());

} // namespace pallix
