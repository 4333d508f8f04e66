#include "UI/Search/KeyDownMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace pallix {

KeyDownMonitor::KeyDownMonitor(Handler handler, QObject* parent) : QObject(parent), m_handler(std::move(handler))
{
    QCoreApplication::instance()->installEventFilter(this);
}

KeyDownMonitor::~KeyDownMonitor()
{
    if (auto* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool KeyDownMonitor::eventFilter(QObject* watched, QEvent* event)
{
    // A press reaches the window object first and then the focused widget:
    // looking only at widgets hands each press to the handler once on its way in.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || !m_handler)
        return false;
    return m_handler(static_cast<QKeyEvent&>(*event));
}

} // namespace pallix
