#include "UI/Common/ElidedText.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>

namespace pallix {

namespace {

// A few screens of distinct texts; past it the cache starts anew rather than grow.
constexpr qsizetype kMostTexts = 4096;

} // namespace

void ElidedText::draw(QPainter& painter, const QRect& box, Qt::Alignment align, const QString& text, const QFont& font)
{
    if (text.isEmpty() || box.width() <= 0)
        return;
    const ElidedTextKey key{text, box.width(), font.pixelSize(), font.weight()};
    auto found = m_laidOut.find(key);
    if (found == m_laidOut.end()) {
        if (m_laidOut.size() >= kMostTexts)
            m_laidOut.clear();
        found = m_laidOut.insert(key, laidOut(text, box.width(), font));
    }
    // Centred by the font's line height, as drawText() centres.
    const qreal x = align & Qt::AlignRight ? box.left() + box.width() - found->width : box.left();
    found->layout->draw(&painter, QPointF(x, box.top() + (box.height() - found->lineHeight) / 2));
}

ElidedText::LaidOut ElidedText::laidOut(const QString& text, int width, const QFont& font)
{
    const auto shaped = [&font](const QString& line) {
        auto layout = std::make_shared<QTextLayout>(line, font);
        layout->setCacheEnabled(true);
        layout->beginLayout();
        layout->createLine();
        layout->endLayout();
        return layout;
    };
    // Most texts fit: their one shaping also measures them.
    std::shared_ptr<QTextLayout> layout = shaped(text);
    if (layout->lineAt(0).horizontalAdvance() > width)
        layout = shaped(QFontMetrics(font).elidedText(text, Qt::ElideRight, width));
    return {layout, layout->lineAt(0).naturalTextWidth(), QFontMetricsF(font).height()};
}

} // namespace pallix
