#pragma once
// ChipStyle: the one look of panels and chips: a rounded shape
// (UI/Common/RoundedShape.h) filled with the control background (or a tint
// of the accent) and outlined in black at opacity 0.06. GUI thread only.

#include <QColor>
#include <QFont>
#include <QPalette>

namespace pallix::chipstyle {

// Black at opacity 0.06: the outline of every unselected chip and panel.
QColor hairline();
// The control background of `palette` at `opacity`.
QColor controlBackground(const QPalette& palette, qreal opacity);
// The accent colour of `palette` at `opacity`.
QColor accent(const QPalette& palette, qreal opacity);
// A font of `pixelSize` and `weight` based on the application's.
QFont font(int pixelSize, QFont::Weight weight);

} // namespace pallix::chipstyle
