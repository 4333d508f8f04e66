#include "UI/Settings/ElidingLabel.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

namespace pallix {

ElidingLabel::ElidingLabel(const QString& text, int maxLines, QWidget* parent, Qt::TextElideMode mode)
    : QWidget(parent), m_text(text), m_maxLines(std::max(1, maxLines)), m_mode(mode)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setToolTip(text);
}

void ElidingLabel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setToolTip(text);
    updateGeometry();
    update();
}

QStringList ElidingLabel::linesFor(int width) const
{
    QStringList lines;
    if (width <= 0 || m_text.isEmpty())
        return lines;
    QTextLayout layout(m_text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == m_maxLines - 1) {
            // The last allowed line takes the whole rest of the text, elided.
            if (m_mode == Qt::ElideMiddle) {
                // The earlier lines hold the start: the cut goes at this line's start.
                const QString rest = m_text.mid(line.textStart()).trimmed();
                lines << fontMetrics().elidedText(rest, lines.isEmpty() ? Qt::ElideMiddle : Qt::ElideLeft, width);
            } else {
                const QString rest = m_text.mid(line.textStart()).simplified();
                lines << fontMetrics().elidedText(rest, m_mode, width);
            }
            break;
        }
        lines << m_text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

QSize ElidingLabel::sizeHint() const
{
    // Rounded up: the layout's fractional advances must fit on one line.
    const int width = static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(m_text))) + 1;
    return {std::min(width, 480), fontMetrics().lineSpacing()};
}

QSize ElidingLabel::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 4, fontMetrics().lineSpacing()};
}

int ElidingLabel::heightForWidth(int width) const
{
    const auto count = std::max<qsizetype>(1, linesFor(width).size());
    return static_cast<int>(count) * fontMetrics().lineSpacing();
}

void ElidingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QStringList lines = linesFor(width());
    const int step = fontMetrics().lineSpacing();
    for (qsizetype i = 0; i < lines.size(); ++i)
        painter.drawText(QRect(0, static_cast<int>(i) * step, width(), step), Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
}

} // namespace pallix
