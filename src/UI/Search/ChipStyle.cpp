#include "UI/Search/ChipStyle.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

namespace pallix::chipstyle {

QColor hairline()
{
    return QColor(0, 0, 0, 15);
}

QColor controlBackground(const QPalette& palette, qreal opacity)
{
    QColor color = palette.color(QPalette::Base);
    color.setAlphaF(opacity);
    return color;
}

QColor accent(const QPalette& palette, qreal opacity)
{
    QColor color = palette.color(QPalette::Highlight);
    color.setAlphaF(opacity);
    return color;
}

QFont font(int pixelSize, QFont::Weight weight)
{
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

void paintShape(QPainter& painter, const QRectF& rect, qreal radius, const QColor& fill, const QColor& outline)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    // A radius past half the height is a capsule.
    const qreal r = std::min(radius, shape.height() / 2);
    QPainterPath path;
    path.addRoundedRect(shape, r, r);
    painter.fillPath(path, fill);
    painter.setPen(QPen(outline, 1));
    painter.drawPath(path);
    painter.restore();
}

} // namespace pallix::chipstyle
