#include "UI/Common/PinchZoom.h"

#include <QNativeGestureEvent>

namespace pallix {

bool PinchZoom::take(const QEvent& event, const std::function<void(double)>& onZoom)
{
    if (event.type() != QEvent::NativeGesture)
        return false;
    const auto& gesture = static_cast<const QNativeGestureEvent&>(event);
    if (gesture.gestureType() == Qt::BeginNativeGesture)
        m_total = 0;
    if (gesture.gestureType() == Qt::ZoomNativeGesture) {
        // Each event carries the step since the last; the owners want the total.
        m_total += gesture.value();
        onZoom(m_total);
    }
    return true;
}

} // namespace pallix
