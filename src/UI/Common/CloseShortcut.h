#pragma once
// CloseShortcut: Ctrl+W closes a window of ours while it is the active one,
// as it closes the windows of every Linux desktop application. What closing
// does is the window's own (the search window hides). GUI thread only.

class QWidget;

namespace pallix {

// Binds Ctrl+W to `window`->close(); the shortcut is a child of `window`.
void installCloseShortcut(QWidget* window);

} // namespace pallix
