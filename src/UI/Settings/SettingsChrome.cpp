#include "UI/Settings/SettingsChrome.h"

#include <QHBoxLayout>
#include <QPainter>

#include "UI/Settings/SettingsStyle.h"

namespace pallix {

using settingsstyle::TextStyle;

TrafficLightButton::TrafficLightButton(const QColor& color, Symbol symbol, QWidget* parent)
    : QAbstractButton(parent), m_color(color), m_symbol(symbol)
{
    setFixedSize(14, 14);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void TrafficLightButton::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TrafficLightButton::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void TrafficLightButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
    painter.setPen(QPen(QColor(0, 0, 0, 31), 0.5));
    painter.setBrush(m_color);
    painter.drawEllipse(circle);
    if (m_hovered)
        paintSymbol(painter);
}

void TrafficLightButton::paintSymbol(QPainter& painter) const
{
    painter.setPen(QPen(QColor(0, 0, 0, 140), 1.4, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = QRectF(rect()).center();
    const qreal r = 3.0;
    switch (m_symbol) {
    case Symbol::Close:
        painter.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
        painter.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
        break;
    case Symbol::Minimize:
        painter.drawLine(c + QPointF(-r, 0), c + QPointF(r, 0));
        break;
    case Symbol::Zoom:
        // Two corners pointing apart, the outward arrows of a zoom.
        painter.drawLine(c + QPointF(-r, -r), c + QPointF(-r, 0));
        painter.drawLine(c + QPointF(-r, -r), c + QPointF(0, -r));
        painter.drawLine(c + QPointF(r, r), c + QPointF(r, 0));
        painter.drawLine(c + QPointF(r, r), c + QPointF(0, r));
        break;
    case Symbol::Count:
        break;
    }
}

QWidget* SettingsHeader::targetWindow(QWidget* from)
{
    QWidget* window = from ? from->window() : nullptr;
    if (window && window->windowModality() == Qt::WindowModal && window->parentWidget())
        return window->parentWidget()->window();
    return window;
}

SettingsHeader::SettingsHeader(std::function<void()> dismiss, QWidget* parent)
    : QWidget(parent),
      m_close(new TrafficLightButton(QColor::fromRgbF(1.0f, 0.37f, 0.33f), TrafficLightButton::Symbol::Close)),
      m_minimize(new TrafficLightButton(QColor::fromRgbF(1.0f, 0.74f, 0.18f), TrafficLightButton::Symbol::Minimize)),
      m_zoom(new TrafficLightButton(QColor::fromRgbF(0.18f, 0.8f, 0.25f), TrafficLightButton::Symbol::Zoom))
{
    m_close->setToolTip(QStringLiteral("关闭"));
    m_minimize->setToolTip(QStringLiteral("最小化"));
    m_zoom->setToolTip(QStringLiteral("缩放"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(12);
    auto* lights = new QHBoxLayout;
    lights->setSpacing(8);
    for (auto* button : {m_close, m_minimize, m_zoom})
        lights->addWidget(button);
    layout->addLayout(lights);
    layout->addWidget(settingsstyle::label(QStringLiteral("设置"), TextStyle::Headline, false, false));
    layout->addStretch(1);
    layout->addWidget(settingsstyle::label(QStringLiteral("简单模式"), TextStyle::Caption, true, false));

    connect(m_close, &QAbstractButton::clicked, this, [dismiss = std::move(dismiss)] {
        if (dismiss)
            dismiss();
    });
    connect(m_minimize, &QAbstractButton::clicked, this, [this] {
        if (QWidget* window = targetWindow(this))
            window->showMinimized();
    });
    connect(m_zoom, &QAbstractButton::clicked, this, [this] {
        if (QWidget* window = targetWindow(this))
            window->isMaximized() ? window->showNormal() : window->showMaximized();
    });
}

} // namespace pallix
