#pragma once
// PinchZoom: the running magnification of a touchpad pinch, gathered from
// the platform's native gesture events, for the grids that zoom with it.
// GUI thread only.

#include <functional>

class QEvent;

namespace pallix {

class PinchZoom {
public:
    // Whether the event is a native gesture: a grid takes them all. On a
    // zoom step, `onZoom` gets the pinch's magnification so far, minus 1;
    // a new pinch starts from 0; other gestures give nothing.
    bool take(const QEvent& event, const std::function<void(double)>& onZoom);

private:
    double m_total = 0;
};

} // namespace pallix
