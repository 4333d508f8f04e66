#include "UI/Common/ElidedText.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <QTransform>

#include "UI/Common/TextLines.h"

namespace pallix {

namespace {

// A few screens of distinct texts; past it the cache starts anew rather than grow.
constexpr qsizetype kMostTexts = 4096;

} // namespace

void ElidedText::draw(QPainter& painter, const QRect& box, Qt::Alignment align, const QString& text, const QFont& font,
                      Qt::TextElideMode mode)
{
    if (text.isEmpty() || box.width() <= 0)
        return;
    const ElidedTextKey key{text, box.width(), font.pixelSize(), font.weight(), mode};
    auto found = m_laidOut.find(key);
    if (found == m_laidOut.end()) {
        if (m_laidOut.size() >= kMostTexts)
            m_laidOut.clear();
        QStaticText laidOut(TextLines::shown(TextLines::lines(text, font, box.width(), {1, mode})).value(0));
        laidOut.setTextFormat(Qt::PlainText);
        laidOut.prepare(QTransform(), font);
        found = m_laidOut.insert(key, {laidOut, QFontMetricsF(font).height()});
    }
    // Centred by the font's line height, as drawText() centres: the laid-out
    // size is rounded up to whole pixels.
    const qreal x = align & Qt::AlignRight ? box.left() + box.width() - found->text.size().width() : box.left();
    painter.drawStaticText(QPointF(x, box.top() + (box.height() - found->lineHeight) / 2), found->text);
}

} // namespace pallix
