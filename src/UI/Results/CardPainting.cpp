#include "UI/Results/CardPainting.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QTextLayout>

#include "UI/Results/ResultPainting.h"
#include "UI/Results/ResultSymbols.h"

namespace pallix::CardPainting {

namespace paint = ResultPainting;

// The name in at most two centred lines: the first as far as it fits (names
// are often one unbroken word, so it may break anywhere), the rest elided.
// The first line is drawn from its own layout, so it is shaped only once.
int paintName(QPainter& painter, const QString& name, const QFont& font, const QRect& area)
{
    QTextLayout layout(name, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(area.width());
    first.setPosition(QPointF(0, 0));
    layout.endLayout();
    layout.draw(&painter, area.topLeft());
    const int rest = static_cast<int>(name.size()) - first.textLength();
    if (rest <= 0)
        return 1;
    const QFontMetrics metrics(font);
    const QRect second(area.left(), area.top() + metrics.height(), area.width(), metrics.height());
    painter.drawText(second, Qt::AlignHCenter | Qt::AlignTop,
                     metrics.elidedText(name.right(rest), Qt::ElideRight, area.width()));
    return 2;
}

// Scaling and rounding a preview on every paint cost most of a grid's paint
// (a rounded clip sends every pixel through the slow blending path); the
// cards on screen keep theirs. Keyed by the picture (a new preview is a new
// key), the size and the corner radius.
QPixmap ScaledPreviews::scaled(const QPixmap& image, QSize size, double radius)
{
    if (radius <= 0 && image.size() == size * image.devicePixelRatio())
        return image;
    const QString key =
        QStringLiteral("%1#%2x%3#%4").arg(image.cacheKey()).arg(size.width()).arg(size.height()).arg(radius);
    if (const QPixmap* cached = m_cache.object(key))
        return *cached;
    // Painted, not QPixmap::scaled: the smooth scaler hands its rows to
    // other threads, and waiting for them costs more than the small scaling.
    QPixmap shaped(size);
    shaped.fill(Qt::transparent);
    QPainter painter(&shaped);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF area(shaped.rect());
    if (radius > 0) {
        // Rounded once here, as a textured fill, instead of clipping every paint.
        QBrush texture(image);
        texture.setTransform(QTransform::fromScale(area.width() / image.width(), area.height() / image.height()));
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(texture);
        painter.drawRoundedRect(area, radius, radius);
    } else {
        painter.drawPixmap(area, image, QRectF(image.rect()));
    }
    painter.end();
    m_cache.insert(key, new QPixmap(shaped), std::max(1, size.width() * size.height() * 4 / 1024));
    return shaped;
}

// A capsule in the preview's top-right corner: the folder holds videos.
void paintVideoBadge(QPainter& painter, const QRectF& preview, double zoom, const QPalette& palette)
{
    const double z = zoom;
    const QFont badgeFont = paint::font(std::max(10 * z, 9.0), QFont::DemiBold);
    const QFontMetricsF metrics(badgeFont);
    const QString text = QStringLiteral("视频");
    const double symbol = metrics.height();
    const QSizeF size(7 * z * 2 + symbol + 3 * z + metrics.horizontalAdvance(text), 3 * z * 2 + metrics.height());
    const QRectF badge(preview.right() - 6 * z - size.width(), preview.top() + 6 * z, size.width(), size.height());
    QPainterPath capsule;
    capsule.addRoundedRect(badge, badge.height() / 2, badge.height() / 2);
    painter.fillPath(capsule, QColor::fromRgbF(1, 1, 1, 0.75f));
    painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.1f), 1));
    painter.drawPath(capsule);
    const QRectF symbolRect(badge.left() + 7 * z, badge.top() + 3 * z, symbol, symbol);
    ResultSymbols::icon(QStringLiteral("play.rectangle.fill")).paint(&painter, symbolRect.toRect());
    painter.setFont(badgeFont);
    painter.setPen(palette.color(QPalette::Text));
    painter.drawText(QRectF(symbolRect.right() + 3 * z, symbolRect.top(), metrics.horizontalAdvance(text) + 1, symbol),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
}

} // namespace pallix::CardPainting
