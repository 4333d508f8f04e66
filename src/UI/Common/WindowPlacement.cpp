#include "UI/Common/WindowPlacement.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace pallix::WindowPlacement {

namespace {

constexpr char kPlacedProperty[] = "pallixPlaced";

// A typical title bar and border, for when no window of ours has been
// decorated yet.
constexpr QMargins kUsualFrame(4, 28, 4, 4);

QMargins marginsOf(const QWidget* widget)
{
    const QWindow* handle = widget ? widget->windowHandle() : nullptr;
    return handle ? handle->frameMargins() : QMargins();
}

// Before a window is first mapped its decoration is unknown: that of
// another window of ours stands in for it.
QMargins expectedFrameMargins(const QWidget* window, const QWidget* owner)
{
    for (const QWidget* known : {window, owner}) {
        if (!marginsOf(known).isNull())
            return marginsOf(known);
    }
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other->isVisible() && !marginsOf(other).isNull())
            return marginsOf(other);
    }
    return kUsualFrame;
}

// Any part of it: a window the user left over an edge is where they want it.
bool isOnAScreen(const QRect& frame)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(),
                       [&](const QScreen* screen) { return screen->geometry().intersects(frame); });
}

} // namespace

QRect fittedFrame(QSize frameSize, const QRect& available, const QRect& anchor)
{
    QRect frame(QPoint(), frameSize.boundedTo(available.size()));
    frame.moveCenter((anchor.isEmpty() ? available : anchor).center());
    frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() + 1 - frame.width()));
    frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() + 1 - frame.height()));
    return frame;
}

QScreen* openingScreen(const QWidget* parent)
{
    if (parent && parent->isVisible()) {
        // The screen that holds the most of it: it may hang over an edge.
        const QRect frame = parent->window()->frameGeometry();
        QScreen* holder = nullptr;
        qint64 largest = 0;
        for (QScreen* screen : QGuiApplication::screens()) {
            const QRect common = screen->geometry().intersected(frame);
            const qint64 area = qint64(common.width()) * common.height();
            if (area > largest) {
                largest = area;
                holder = screen;
            }
        }
        return holder ? holder : parent->window()->screen();
    }
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

void placeForOpening(QWidget* window, const QWidget* parent)
{
    const QWidget* owner = parent && parent->isVisible() ? parent->window() : nullptr;
    if (owner == window)
        owner = nullptr;
    const QScreen* screen = openingScreen(owner);
    if (!window || !screen)
        return;
    const QRect available = screen->availableGeometry();
    const QMargins margins = expectedFrameMargins(window, owner);
    // Not "wholly inside the free area": a window manager's frame and panels
    // are only guessed here, and a window the user moved near an edge came
    // back centred on every show.
    if (window->property(kPlacedProperty).toBool() && isOnAScreen(window->geometry().marginsAdded(margins)))
        return;
    const QRect frame =
        fittedFrame(window->size().grownBy(margins), available, owner ? owner->frameGeometry() : QRect());
    window->resize(frame.size().shrunkBy(margins).expandedTo(window->minimumSize()));
    window->move(frame.topLeft());
    window->setProperty(kPlacedProperty, true);
}

} // namespace pallix::WindowPlacement
