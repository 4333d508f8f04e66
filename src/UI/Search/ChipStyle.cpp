#include "UI/Search/ChipStyle.h"

#include <QApplication>

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

} // namespace pallix::chipstyle
