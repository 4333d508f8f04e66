#include "UI/Shell/TrayController.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>

#include "UI/Common/AppNotifications.h"
#include "UI/Common/Symbols.h"

namespace pallix {

TrayController::TrayController(std::function<void()> openSettings, QObject* parent)
    : QObject(parent), m_openSettings(std::move(openSettings))
{
    buildMenu();
    connect(&AppNotifications::shared(), &AppNotifications::menuBarVisibilityChanged, this,
            [this](const QVariant& value) { setIconVisible(visibilityFrom(value)); }, Qt::QueuedConnection);
    setIconVisible(true);  // from launch; the stored setting follows through the notification
}

TrayController::~TrayController()
{
    delete m_menu;
}

void TrayController::buildMenu()
{
    m_menu = new QMenu;
    auto& notifications = AppNotifications::shared();
    connect(m_menu->addAction(QStringLiteral("打开搜索")), &QAction::triggered, this,
            [&notifications] { notifications.postShowSearchWindow(); });
    connect(m_menu->addAction(QStringLiteral("聚焦搜索框")), &QAction::triggered, this, [&notifications] {
        notifications.postShowSearchWindow();
        notifications.postFocusSearchField();
    });
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("设置…")), &QAction::triggered, this, [this] {
        if (m_openSettings)
            m_openSettings();
    });
    m_menu->addSeparator();
    m_quit = m_menu->addAction(QStringLiteral("退出珀溪"));
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // quit() first asks every window to close, and the search window only
    // hides: exit() ends the event loop without asking.
    connect(m_quit, &QAction::triggered, qApp, [] { QCoreApplication::exit(0); });
}

TrayController::ClickAction TrayController::clickAction(QSystemTrayIcon::ActivationReason reason,
                                                        Qt::KeyboardModifiers modifiers)
{
    switch (reason) {
    case QSystemTrayIcon::Context: return ClickAction::ShowMenu;
    case QSystemTrayIcon::Trigger:
        return modifiers.testFlag(Qt::ControlModifier) ? ClickAction::ShowMenu : ClickAction::Toggle;
    case QSystemTrayIcon::Unknown: return ClickAction::Toggle;
    // The second press of a double click must not toggle the window back.
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::MiddleClick: return ClickAction::Ignore;
    }
    return ClickAction::Ignore;
}

bool TrayController::visibilityFrom(const QVariant& value)
{
    return value.typeId() == QMetaType::Bool ? value.toBool() : true;
}

void TrayController::handleActivation(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers)
{
    switch (clickAction(reason, modifiers)) {
    case ClickAction::Toggle: AppNotifications::shared().postToggleSearchWindow(); break;
    case ClickAction::ShowMenu:
        // A right click shows the context menu by itself.
        if (reason != QSystemTrayIcon::Context)
            m_menu->popup(QCursor::pos());
        break;
    case ClickAction::Ignore: break;
    }
}

void TrayController::setIconVisible(bool visible)
{
    if (!visible) {
        delete m_icon;
        m_icon = nullptr;
        return;
    }
    if (m_icon || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_icon = new QSystemTrayIcon(symbols::applicationIcon(), this);
    m_icon->setToolTip(QStringLiteral("珀溪"));
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        handleActivation(reason, QApplication::queryKeyboardModifiers());
    });
    m_icon->show();
}

} // namespace pallix
