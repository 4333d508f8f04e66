#pragma once
// ChipStyle: the one look of panels and chips: a rounded shape filled with
// the control background (or a tint of the accent) and outlined in black at
// opacity 0.06, one pixel wide. GUI thread only.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRectF>

class QPainter;

namespace pallix::chipstyle {

// Black at opacity 0.06: the outline of every unselected chip and panel.
QColor hairline();
// The control background of `palette` at `opacity`.
QColor controlBackground(const QPalette& palette, qreal opacity);
// The accent colour of `palette` at `opacity`.
QColor accent(const QPalette& palette, qreal opacity);
// A font of `pixelSize` and `weight` based on the application's.
QFont font(int pixelSize, QFont::Weight weight);
// The rounded shape with its outline, inside `rect` (the line stays within it).
void paintShape(QPainter& painter, const QRectF& rect, qreal radius, const QColor& fill, const QColor& outline);

} // namespace pallix::chipstyle
