#pragma once
// PinchZoom: the running magnification of a touchpad pinch, gathered from
// the platform's native gesture events, for the grids that zoom with it.
// GUI thread only.

#include <optional>

class QNativeGestureEvent;

namespace pallix {

class PinchZoom {
public:
    // On a zoom step: the pinch's magnification so far, minus 1. A new
    // pinch starts from 0; other gestures give nothing.
    std::optional<double> take(const QNativeGestureEvent& event);

private:
    double m_total = 0;
};

} // namespace pallix
