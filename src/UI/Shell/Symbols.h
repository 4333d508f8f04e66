#pragma once
// Symbols: the named symbols the windows show ("magnifyingglass", "gearshape",
// …), taken from the icon theme with a small drawing of our own where the
// theme lacks one, and the application's own icon. GUI thread only.

#include <QIcon>
#include <QString>

namespace pallix::symbols {

// Makes sure an icon theme is set: Adwaita when the platform names none.
void ensureIconTheme();
QIcon icon(const QString& symbolName);
QIcon applicationIcon();

} // namespace pallix::symbols
