#pragma once
// Symbols: the named symbols the windows show ("magnifyingglass", "gearshape",
// …), taken from the icon theme with a small drawing of our own where the
// theme lacks one, and the application's own icon. GUI thread only.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace pallix::symbols {

// Makes sure an icon theme is set: Adwaita when the platform names none.
void ensureIconTheme();
QIcon icon(const QString& symbolName);
// The symbol drawn in one colour (its alpha kept), `size` pixels square at
// the screen's pixel ratio `ratio`.
QPixmap tinted(const QString& symbolName, int size, const QColor& color, qreal ratio = 1.0);
QIcon applicationIcon();

} // namespace pallix::symbols
