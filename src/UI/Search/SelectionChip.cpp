#include "UI/Search/SelectionChip.h"

#include <QFontMetrics>
#include <QPainter>

#include "UI/Common/RoundedShape.h"
#include "UI/Common/Symbols.h"
#include "UI/Search/ChipStyle.h"

namespace pallix {

namespace {

constexpr int kPaddingX = 9;
constexpr int kPaddingY = 5;
constexpr int kSpacing = 6;
constexpr int kIconSize = 12;
constexpr int kTitlePixels = 12;
constexpr qreal kRadius = 7;

} // namespace

SelectionChip::SelectionChip(const QString& title, QWidget* parent) : QAbstractButton(parent)
{
    setText(title);
    setFont(chipstyle::font(kTitlePixels, QFont::Normal));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SelectionChip::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

void SelectionChip::setTitle(const QString& title)
{
    if (title == text())
        return;
    setText(title);
    updateGeometry();
}

QSize SelectionChip::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = kPaddingX + kIconSize + kSpacing + metrics.horizontalAdvance(text()) + kPaddingX;
    return {width, kPaddingY + std::max(kIconSize, metrics.height()) + kPaddingY};
}

void SelectionChip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& p = palette();
    if (m_selected)
        paintRoundedShape(painter, rect(), kRadius, chipstyle::accent(p, 0.12), chipstyle::accent(p, 0.35));
    else
        paintRoundedShape(painter, rect(), kRadius, chipstyle::controlBackground(p, 1.0), chipstyle::hairline());

    const QColor iconColor = m_selected ? p.color(QPalette::Highlight) : p.color(QPalette::PlaceholderText);
    const QString symbol = m_selected ? QStringLiteral("checkmark.square.fill") : QStringLiteral("square");
    const int iconY = (height() - kIconSize) / 2;
    painter.drawPixmap(QRect(kPaddingX, iconY, kIconSize, kIconSize),
                       symbols::tinted(symbol, kIconSize, iconColor, devicePixelRatioF()));
    painter.setPen(p.color(QPalette::WindowText));
    const int titleX = kPaddingX + kIconSize + kSpacing;
    const QRect titleRect(titleX, 0, width() - titleX - kPaddingX, height());
    painter.drawText(titleRect, Qt::AlignVCenter | Qt::AlignLeft, text());
}

} // namespace pallix
