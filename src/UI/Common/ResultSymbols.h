#pragma once
// ResultSymbols: the small symbols the results area draws, by the names the
// views use ("folder", "eye", "magnifyingglass", ...). The icon theme's
// symbolic icon when it has one, else our own drawing from the resources, so
// a missing theme never leaves a blank. GUI thread only.

#include <QIcon>
#include <QString>

namespace pallix::ResultSymbols {

// Never null for the six names below; null for any other name.
//   "arrow.turn.down.right", "arrow.down.right.and.arrow.up.left", "folder",
//   "eye", "magnifyingglass", "play.rectangle.fill"
QIcon icon(const QString& name);
// The theme's name for a symbol, empty when unknown.
QString themeName(const QString& name);

} // namespace pallix::ResultSymbols
