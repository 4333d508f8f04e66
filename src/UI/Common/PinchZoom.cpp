#include "UI/Common/PinchZoom.h"

#include <QNativeGestureEvent>

namespace pallix {

std::optional<double> PinchZoom::take(const QNativeGestureEvent& event)
{
    if (event.gestureType() == Qt::BeginNativeGesture)
        m_total = 0;
    if (event.gestureType() != Qt::ZoomNativeGesture)
        return std::nullopt;
    // Each event carries the step since the last; the owners want the total.
    m_total += event.value();
    return m_total;
}

} // namespace pallix
