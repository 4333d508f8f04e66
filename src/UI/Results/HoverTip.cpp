#include "UI/Results/HoverTip.h"

#include <QApplication>
#include <QStyleOptionFrame>
#include <QStylePainter>
#include <QToolTip>

namespace pallix {

namespace {

// The toolkit's own tips stay up this long, and a little longer per character.
constexpr int kShownMs = 10000;
constexpr int kShownPerCharacterMs = 40;

} // namespace

HoverTip::HoverTip(QWidget* owner)
    : QLabel(owner, Qt::ToolTip | Qt::BypassGraphicsProxyWidget | Qt::WindowTransparentForInput)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setTextFormat(Qt::PlainText);
    setForegroundRole(QPalette::ToolTipText);
    setBackgroundRole(QPalette::ToolTipBase);
    setPalette(QToolTip::palette());
    setFont(QToolTip::font());
    setMargin(1 + style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, this));
    setIndent(1);
    m_expiry.setSingleShot(true);
    connect(&m_expiry, &QTimer::timeout, this, &QWidget::hide);
}

void HoverTip::showText(const QString& text, const std::function<QPoint(QSize)>& place)
{
    setText(text);
    adjustSize();
    move(place(size()));
    m_expiry.start(kShownMs + kShownPerCharacterMs * static_cast<int>(text.size()));
    show();
}

void HoverTip::paintEvent(QPaintEvent* event)
{
    QStylePainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    painter.drawPrimitive(QStyle::PE_PanelTipLabel, option);
    painter.end();
    QLabel::paintEvent(event);
}

void HoverTip::showEvent(QShowEvent* event)
{
    qApp->installEventFilter(this);
    QLabel::showEvent(event);
}

void HoverTip::hideEvent(QHideEvent* event)
{
    qApp->removeEventFilter(this);
    m_expiry.stop();
    QLabel::hideEvent(event);
}

// The event goes on to its target: the tip only gets out of the way.
bool HoverTip::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
        hide();
        break;
    default: break;
    }
    return false;
}

} // namespace pallix
