#include "UI/Common/AfterPaint.h"

#include <utility>

#include <QCoreApplication>
#include <QEvent>

namespace pallix {

namespace {
const QEvent::Type kAfterPaintEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
} // namespace

AfterPaint::AfterPaint(std::function<void()> work, QObject* parent) : QObject(parent), m_work(std::move(work)) {}

void AfterPaint::request()
{
    if (std::exchange(m_posted, true))
        return;
    QCoreApplication::postEvent(this, new QEvent(kAfterPaintEvent), Qt::LowEventPriority - 1);
}

bool AfterPaint::event(QEvent* event)
{
    if (event->type() != kAfterPaintEvent)
        return QObject::event(event);
    m_posted = false;
    m_work();
    return true;
}

} // namespace pallix
