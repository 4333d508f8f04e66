#include "UI/Search/TermChip.h"

#include <cmath>

#include <QContextMenuEvent>
#include <QCursor>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QToolButton>

#include "UI/Common/RoundedShape.h"
#include "UI/Common/Symbols.h"
#include "UI/Search/ChipStyle.h"

namespace pallix {

namespace {

constexpr int kPaddingX = 10;
constexpr int kPaddingY = 6;
constexpr int kSpacing = 6;
constexpr int kIconSize = 11;
constexpr int kDeleteRoom = 16;  // extra room after the text while hovered
constexpr int kDeleteSize = 14;
constexpr int kDeleteInset = 6;
constexpr int kMinimumWidth = 88;

} // namespace

TermChip::TermChip(const SearchTermChip& chip, QWidget* parent) : QAbstractButton(parent), m_chip(chip)
{
    setObjectName(QStringLiteral("termChip"));
    setText(chip.text);
    setToolTip(chip.text);
    setFont(chipstyle::font(12, QFont::Normal));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    m_delete = new QToolButton(this);
    m_delete->setObjectName(QStringLiteral("deleteTermButton"));
    m_delete->setAutoRaise(true);
    m_delete->setCursor(Qt::ArrowCursor);
    m_delete->setFocusPolicy(Qt::NoFocus);
    m_delete->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; background: transparent; }"));
    m_delete->setIcon(QIcon(symbols::tinted(QStringLiteral("xmark.circle.fill"), kDeleteSize,
                                            palette().color(QPalette::PlaceholderText), devicePixelRatioF())));
    m_delete->setIconSize(QSize(kDeleteSize, kDeleteSize));
    m_delete->setFixedSize(kDeleteSize, kDeleteSize);
    m_delete->setToolTip(QStringLiteral("删除"));
    m_delete->hide();
    connect(m_delete, &QToolButton::clicked, this, &TermChip::deleteRequested);
}

QSize TermChip::sizeHint() const
{
    const QFontMetrics metrics(font());
    // Rounded up from the fractional advance: the painted text is elided
    // against it, and a width rounded down cut the last letter off.
    const int text = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(m_chip.text))) + (m_hovered ? kDeleteRoom : 0);
    const int width = kPaddingX + kIconSize + kSpacing + text + kPaddingX;
    return {std::max(width, kMinimumWidth), kPaddingY + std::max(kIconSize, metrics.height()) + kPaddingY};
}

void TermChip::setHovered(bool hovered)
{
    if (hovered == m_hovered)
        return;
    m_hovered = hovered;
    m_delete->setVisible(hovered);
    updateGeometry();
    update();
}

void TermChip::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    setHovered(true);
}

void TermChip::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    setHovered(false);
}

void TermChip::moveEvent(QMoveEvent* event)
{
    QAbstractButton::moveEvent(event);
    // Moved by the row's new layout under a pointer that stood still: no
    // leave event comes, and a chip the pointer left would show its delete
    // button on.
    if (m_hovered && !rect().contains(mapFromGlobal(QCursor::pos())))
        setHovered(false);
}

void TermChip::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    m_delete->move(width() - kDeleteInset - kDeleteSize, (height() - kDeleteSize) / 2);
}

void TermChip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& p = palette();
    const bool common = m_chip.style == SearchTermChipStyle::Common;
    paintRoundedShape(painter, rect(), 999, chipstyle::controlBackground(p, common ? 0.95 : 0.75),
                          chipstyle::hairline());

    const QColor iconColor = common ? chipstyle::accent(p, 0.9) : p.color(QPalette::PlaceholderText);
    const QString symbol = common ? QStringLiteral("star.fill") : QStringLiteral("clock");
    painter.drawPixmap(QRect(kPaddingX, (height() - kIconSize) / 2, kIconSize, kIconSize),
                       symbols::tinted(symbol, kIconSize, iconColor, devicePixelRatioF()));
    const int textX = kPaddingX + kIconSize + kSpacing;
    const QRect textRect(textX, 0, width() - textX - kPaddingX - (m_hovered ? kDeleteRoom : 0), height());
    painter.setPen(p.color(QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     QFontMetrics(font()).elidedText(m_chip.text, Qt::ElideRight, textRect.width()));
}

void TermChip::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_chip.style != SearchTermChipStyle::History)
        return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("加入常用词"), this, &TermChip::addToCommonRequested);
    menu.exec(event->globalPos());
}

} // namespace pallix
