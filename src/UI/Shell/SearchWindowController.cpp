#include "UI/Shell/SearchWindowController.h"

#include <QApplication>
#include <QCloseEvent>

#include "UI/Common/AppNotifications.h"
#include "UI/Common/CloseShortcut.h"
#include "UI/Common/WindowPlacement.h"

namespace pallix {

namespace {

constexpr char kRoleProperty[] = "pallixWindowRole";
constexpr char kSearchRole[] = "search";

} // namespace

SearchWindowController::SearchWindowController(QObject* parent) : QObject(parent) {}

void SearchWindowController::configure(QWidget* window)
{
    if (!window)
        return;
    if (m_window != window) {
        if (m_window)
            m_window->removeEventFilter(this);
        m_window = window;
        markSearchWindow(window);
        window->setWindowTitle(QStringLiteral("珀溪"));
        window->setMinimumSize(920, 620);
        window->resize(1120, 720);
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->installEventFilter(this);
        installCloseShortcut(window);  // hides it, as its close button does
    }
    installObserversIfNeeded();
}

void SearchWindowController::markSearchWindow(QWidget* window)
{
    window->setProperty(kRoleProperty, QLatin1String(kSearchRole));
}

bool SearchWindowController::isSearchWindow(const QWidget* widget)
{
    return widget && widget->property(kRoleProperty).toString() == QLatin1String(kSearchRole);
}

void SearchWindowController::installObserversIfNeeded()
{
    if (m_didInstallObservers)
        return;
    m_didInstallObservers = true;
    auto& notifications = AppNotifications::shared();
    connect(&notifications, &AppNotifications::showSearchWindow, this, &SearchWindowController::show,
            Qt::QueuedConnection);
    connect(&notifications, &AppNotifications::toggleSearchWindow, this, &SearchWindowController::toggle,
            Qt::QueuedConnection);
}

// Every close request (the title bar's button, Alt+F4, close()) hides the window.
bool SearchWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close) {
        event->ignore();
        m_window->hide();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void SearchWindowController::show()
{
    if (!m_window)
        return;
    enforceSingleSearchWindow(m_window);
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    if (!m_window->isVisible())
        WindowPlacement::placeForOpening(m_window, nullptr);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    AppNotifications::shared().postFocusSearchField();
}

void SearchWindowController::toggle()
{
    if (!m_window)
        return;
    // Qt counts a minimised window as visible; the user sees none.
    if (m_window->isVisible() && !m_window->isMinimized()) {
        m_window->hide();
        return;
    }
    show();
}

void SearchWindowController::enforceSingleSearchWindow(QWidget* keep)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != keep && isSearchWindow(widget))
            widget->hide();
    }
}

} // namespace pallix
