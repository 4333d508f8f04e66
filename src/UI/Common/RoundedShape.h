#pragma once
// RoundedShape: the rounded rectangle of chips, panels, highlights and row
// buttons, filled and outlined one pixel wide inside its rectangle,
// antialiased. Drawn once for each size, radius and colours and blitted
// after. GUI thread only.

#include <QColor>
#include <QRectF>

class QPainter;

namespace pallix {

// A radius past half the height makes a capsule; a transparent outline
// draws none.
void paintRoundedShape(QPainter& painter, const QRectF& rect, qreal radius, const QColor& fill, const QColor& outline);

} // namespace pallix
