#include "UI/Common/PointerPlace.h"

#include <QCursor>
#include <QWidget>

namespace pallix {

std::optional<QPoint> pointerIn(const QWidget& widget)
{
    if (!widget.isVisible() || !widget.underMouse())
        return std::nullopt;
    const QPoint at = widget.mapFromGlobal(QCursor::pos());
    return widget.rect().contains(at) ? std::optional(at) : std::nullopt;
}

} // namespace pallix
