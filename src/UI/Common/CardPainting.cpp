#include "UI/Common/CardPainting.h"

#include <algorithm>

#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QTextLayout>

#include "UI/Common/ResultPainting.h"
#include "UI/Common/ResultSymbols.h"
#include "UI/Common/RoundedShape.h"

namespace pallix::CardPainting {

namespace {

namespace paint = ResultPainting;

constexpr double kSelectedFill = 0.1;
constexpr double kDropTargetFill = 0.16;
// A few screens of cards; past it the texts are laid out anew rather than kept.
constexpr qsizetype kMostTexts = 2048;

// One line of `text` centred in `width`, its top at 0, as drawText() with
// Qt::AlignHCenter | Qt::AlignTop lays it out.
QList<QGlyphRun> centredLine(const QString& text, const QFont& font, int width)
{
    QTextLayout layout(text, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(width);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    return line.glyphRuns();
}

void drawRuns(QPainter& painter, QPointF origin, const QList<QGlyphRun>& runs)
{
    for (const QGlyphRun& run : runs)
        painter.drawGlyphRun(origin, run);
}

// A capsule in the preview's top-right corner, sized by the zoom: the folder holds videos.
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

} // namespace

QStringList nameLines(const QString& name, const QFont& font, int width)
{
    return TextLines::shown(TextLines::lines(name, font, width, kNameRule));
}

void CardPainter::paint(QPainter& painter, const Card& card, const QPalette& palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (card.selected || card.dropTarget)
        paintRoundedShape(painter, card.rect, m_style.cornerRadius,
                          paint::accent(palette, card.dropTarget ? kDropTargetFill : kSelectedFill),
                          card.selected ? paint::accent(palette, m_style.selectedOutlineOpacity) : Qt::transparent);

    QSizeF fitted = QSizeF(card.image.size()) / card.image.devicePixelRatio();
    fitted.scale(card.preview.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), fitted);
    target.moveCenter(card.preview.center());
    if (card.hoveredFolder && m_style.hoverScale != 1.0) {
        // A hovered folder grows about its centre; its neighbours stay put.
        const QPointF centre = target.center();
        target.setSize(target.size() * m_style.hoverScale);
        target.moveCenter(centre);
    }
    const QRect pixels = target.toAlignedRect();
    // Already at its size and shape: a plain blit. With antialiasing on, the
    // raster engine draws a pixmap through its path filler, ten times slower.
    painter.setRenderHint(QPainter::Antialiasing, false);
    paint::drawPixmapInBands(painter, pixels.topLeft(), scaledPreview(card.image, pixels.size(), card.previewRadius));
    painter.setRenderHint(QPainter::Antialiasing);

    if (card.video)
        paintVideoBadge(painter, card.preview, card.badgeZoom, palette);

    const LaidOutText& text = laidOut(card);
    // Under the rename field the name keeps its two lines, so the card does not jump.
    const int lines = card.nameCovered ? 2 : text.nameLines;
    painter.setPen(palette.color(QPalette::Text));
    if (!card.nameCovered) {
        drawRuns(painter, QPointF(card.textLeft, card.nameTop), text.firstLine);
        drawRuns(painter, QPointF(card.textLeft, card.nameTop + text.nameLineHeight), text.secondLine);
    }
    painter.setPen(paint::secondaryText(palette));
    drawRuns(painter, QPointF(card.textLeft, card.subtitleTop + lines * text.nameLineHeight), text.subtitle);
    painter.restore();
}

// The name in at most two centred lines (nameLines); the subtitle elided in one.
const CardPainter::LaidOutText& CardPainter::laidOut(const Card& card)
{
    const CardTextKey key{card.name, card.subtitle, card.textWidth, card.namePixelSize, card.subtitlePixelSize};
    if (auto found = m_texts.constFind(key); found != m_texts.cend())
        return *found;
    if (m_texts.size() >= kMostTexts)
        m_texts.clear();
    const QFont nameFont = paint::font(card.namePixelSize);
    const QFont subtitleFont = paint::font(card.subtitlePixelSize);
    LaidOutText text;
    text.nameLineHeight = QFontMetrics(nameFont).height();
    const QStringList lines = nameLines(card.name, nameFont, card.textWidth);
    text.firstLine = centredLine(lines.value(0), nameFont, card.textWidth);
    if (lines.size() > 1) {
        text.nameLines = 2;
        text.secondLine = centredLine(lines.constLast(), nameFont, card.textWidth);
    }
    const QStringList subtitle =
        TextLines::shown(TextLines::lines(card.subtitle, subtitleFont, card.textWidth, kSubtitleRule));
    text.subtitle = centredLine(subtitle.value(0), subtitleFont, card.textWidth);
    return *m_texts.insert(key, std::move(text));
}

// Scaling and rounding a preview on every paint cost most of a grid's paint
// (a rounded clip sends every pixel through the slow blending path); the
// cards on screen keep theirs. Keyed by the picture (a new preview is a new
// key), the size and the corner radius.
QPixmap CardPainter::scaledPreview(const QPixmap& image, QSize size, double radius)
{
    if (radius <= 0 && image.size() == size * image.devicePixelRatio())
        return image;
    const QString key =
        QStringLiteral("%1#%2x%3#%4").arg(image.cacheKey()).arg(size.width()).arg(size.height()).arg(radius);
    if (const QPixmap* cached = m_previews.object(key))
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
    m_previews.insert(key, new QPixmap(shaped), std::max(1, size.width() * size.height() * 4 / 1024));
    return shaped;
}

} // namespace pallix::CardPainting
