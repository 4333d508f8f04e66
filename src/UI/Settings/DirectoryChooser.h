#pragma once
// The folder chooser of the settings window: a folders-only file dialog,
// opened without running a nested event loop, over the settings window.
// GUI thread only; the completion runs later on the GUI thread.

#include <functional>

#include <QString>
#include <QStringList>
#include <QWidget>

namespace pallix {

// Shows the chooser over `parent`'s window. `completion` gets the chosen
// folders in the dialog's order, or an empty list when it is cancelled; it
// is not called when `parent` is gone first. With `several` the user may
// pick more than one folder.
void chooseDirectories(QWidget* parent, const QString& title, bool several,
                       std::function<void(const QStringList&)> completion);

} // namespace pallix
