#pragma once
// WindowPlacement: where a window of the application opens. It opens whole
// on one screen: the screen of the window it belongs to (its parent, or the
// window that asked for it), else the screen under the pointer. A window
// that is new, or whose last place is off every screen, is centred on that
// window or on the screen's free area and, when it is too large, made
// smaller; a window shown again whose frame is on any screen stays where the
// user left it, even over an edge or under a panel. GUI thread only.

#include <QMargins>
#include <QRect>

class QScreen;
class QWidget;

namespace pallix::WindowPlacement {

// The frame (window plus decoration) of `frameSize` centred on `anchor`,
// or on `available` when `anchor` is empty, then moved and, when needed,
// cut down so that it lies wholly inside `available`.
QRect fittedFrame(QSize frameSize, const QRect& available, const QRect& anchor = {});

// The screen a window opens on: that of `parent` when it is a visible
// window, else the one under the pointer, else the primary one.
QScreen* openingScreen(const QWidget* parent);

// Moves and sizes the top-level `window` before it is shown, as above.
// `parent` is the window it belongs to, or null.
void placeForOpening(QWidget* window, const QWidget* parent);

} // namespace pallix::WindowPlacement
