#pragma once
// TrayController: the tray icon and its menu ("打开搜索", "聚焦搜索框",
// "设置…", "退出珀溪"). A plain left click toggles the search window; a right
// click or a Ctrl+left click shows the menu. The icon follows the tray-icon
// setting through the visibility notification. Where the desktop has no tray
// nothing is shown and nothing is reported. GUI thread only.

#include <functional>

#include <QObject>
#include <QSystemTrayIcon>

class QAction;
class QMenu;

namespace pallix {

class TrayController : public QObject {
    Q_OBJECT

public:
    enum class ClickAction { Toggle, ShowMenu, Ignore };

    // `openSettings` runs for "设置…"; empty: the entry does nothing.
    explicit TrayController(std::function<void()> openSettings, QObject* parent = nullptr);
    ~TrayController() override;

    static ClickAction clickAction(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers);
    // An invalid or non-bool value shows the icon.
    static bool visibilityFrom(const QVariant& value);

    QMenu* menu() const { return m_menu; }
    QAction* quitAction() const { return m_quit; }
    // Whether an icon is in the tray; always false without a tray.
    bool isIconShown() const { return m_icon && m_icon->isVisible(); }

    void handleActivation(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers);
    void setIconVisible(bool visible);

private:
    void buildMenu();

    std::function<void()> m_openSettings;
    QMenu* m_menu = nullptr;
    QAction* m_quit = nullptr;
    QSystemTrayIcon* m_icon = nullptr;  // none while hidden or without a tray
};

} // namespace pallix
