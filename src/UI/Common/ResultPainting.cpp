#include "UI/Common/ResultPainting.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>

#include "UI/Common/ResultSymbols.h"
#include "UI/Common/RoundedShape.h"

namespace pallix::ResultPainting {

namespace {

constexpr double kButtonTextPx = 13;
constexpr int kButtonPaddingX = 12;

QColor withAlpha(QColor color, double opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

// Rows of a band in the painter's coordinates: fewer than the 96 device rows
// at which the raster engine goes to other threads.
int bandRows(const QPainter& painter)
{
    const double scale = std::max(1.0, std::abs(painter.deviceTransform().m22()));
    return std::max(1, static_cast<int>(kBandDeviceRows / scale));
}

} // namespace

void fillInBands(QPainter& painter, const QRect& rect, const QBrush& brush)
{
    const int rows = bandRows(painter);
    for (int top = rect.top(); top <= rect.bottom(); top += rows)
        painter.fillRect(QRect(rect.left(), top, rect.width(), std::min(rows, rect.bottom() + 1 - top)), brush);
}

void drawPixmapInBands(QPainter& painter, QPoint topLeft, const QPixmap& pixmap)
{
    const double ratio = pixmap.devicePixelRatio();
    const int rows = std::max(1, static_cast<int>(bandRows(painter) * ratio));  // in the pixmap's own pixels
    for (int y = 0; y < pixmap.height(); y += rows) {
        const QRect source(0, y, pixmap.width(), std::min(rows, pixmap.height() - y));
        const QRectF target(topLeft.x(), topLeft.y() + y / ratio, source.width() / ratio, source.height() / ratio);
        painter.drawPixmap(target, pixmap, QRectF(source));
    }
}

QFont font(double pixelSize, QFont::Weight weight)
{
    QFont f;
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    f.setWeight(weight);
    return f;
}

QColor secondaryText(const QPalette& palette) { return withAlpha(palette.color(QPalette::Text), 0.55); }
QColor tertiaryText(const QPalette& palette) { return withAlpha(palette.color(QPalette::Text), 0.35); }
QColor accent(const QPalette& palette, double opacity) { return withAlpha(palette.color(QPalette::Highlight), opacity); }

QColor over(const QColor& top, const QColor& below)
{
    const float a = top.alphaF();
    const auto mix = [a](float t, float b) { return t * a + b * (1 - a); };
    return QColor::fromRgbF(mix(top.redF(), below.redF()), mix(top.greenF(), below.greenF()),
                            mix(top.blueF(), below.blueF()));
}

QString showMoreTitle(int hidden) { return QStringLiteral("显示更多（%1）").arg(hidden); }

QRect showMoreButtonRect(const QRect& row, int top, int hidden)
{
    const int width = QFontMetrics(font(kButtonTextPx)).horizontalAdvance(showMoreTitle(hidden)) + 2 * kButtonPaddingX;
    return QRect(row.center().x() - width / 2, top, width, kButtonHeight);
}

void paintBorderedButton(QPainter& painter, const QRect& rect, const QString& title, const QPalette& palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
    painter.setBrush(palette.button());
    painter.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.setPen(palette.color(QPalette::ButtonText));
    painter.setFont(font(kButtonTextPx));
    painter.drawText(rect, Qt::AlignCenter, title);
    painter.restore();
}

void paintShowMoreButton(QPainter& painter, const QRect& row, int top, int hidden, const QPalette& palette)
{
    paintBorderedButton(painter, showMoreButtonRect(row, top, hidden), showMoreTitle(hidden), palette);
}

void paintHoverActionButton(QPainter& painter, const QRect& rect, const QString& symbol, bool hovered,
                            const QPalette& palette)
{
    painter.save();
    paintRoundedShape(painter, rect, 7, withAlpha(palette.color(QPalette::Window), hovered ? 0.96 : 0.9),
                      QColor::fromRgbF(0, 0, 0, hovered ? 0.14f : 0.08f));
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = 13;
    const QRect symbolRect(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    ResultSymbols::icon(symbol).paint(&painter, symbolRect);
    painter.restore();
}

void paintDivider(QPainter& painter, int left, int right, int y, const QPalette& palette)
{
    painter.fillRect(QRect(left, y, right - left, 1), withAlpha(palette.color(QPalette::Text), 0.12));
}

} // namespace pallix::ResultPainting
