#include "UI/Browser/MouseButtonMonitor.h"

#include <QCoreApplication>
#include <QMouseEvent>

namespace pallix {

MouseButtonMonitor::MouseButtonMonitor(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler))
{
    QCoreApplication::instance()->installEventFilter(this);
}

MouseButtonMonitor::~MouseButtonMonitor()
{
    if (auto* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool MouseButtonMonitor::eventFilter(QObject* watched, QEvent* event)
{
    // As with keys, only the widget stage is looked at, so each press reaches
    // the handler once, not once for the window object and once for the widget.
    if (event->type() != QEvent::MouseButtonPress || !watched->isWidgetType() || !m_handler)
        return false;
    return m_handler(static_cast<QMouseEvent&>(*event));
}

} // namespace pallix
