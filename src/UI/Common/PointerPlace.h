#pragma once
// Where the pointer stands over a widget, for views that must find the item
// under it again when their content changes under a resting pointer (no
// mouse move arrives then). GUI thread only.

#include <optional>

#include <QPoint>

class QWidget;

namespace pallix {

// The pointer's position in `widget` while it is over the widget or a child
// laid on it; none otherwise.
std::optional<QPoint> pointerIn(const QWidget& widget);

} // namespace pallix
