#pragma once
// GridZoom: the zoom rule of the card grids, read by the results grid's zoom
// (SearchConstraints) and by the folder browser's. A grid opens at 1.0 and
// stays within the range. Pure; any thread.

#include <algorithm>
#include <cmath>

namespace pallix::GridZoom {

inline constexpr double kMin = 0.7;
inline constexpr double kMax = 1.9;

// The zoom after one step in the direction of `delta` (0 counts as out): the
// step is |delta| × 0.018, at least 0.12 and at most 0.28.
inline double stepped(double zoom, double delta)
{
    const double step = std::clamp(std::abs(delta) * 0.018, 0.12, 0.28);
    return std::clamp(zoom + (delta > 0 ? step : -step), kMin, kMax);
}

} // namespace pallix::GridZoom
