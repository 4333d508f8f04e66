#include "UI/Browser/FolderBrowserWindowController.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "UI/Browser/FolderBrowserView.h"
#include "UI/Browser/MouseButtonMonitor.h"
#include "UI/Common/CloseShortcut.h"
#include "UI/Search/KeyDownMonitor.h"

namespace pallix {

namespace {

constexpr char kRoleProperty[] = "pallixWindowRole";
constexpr char kBrowserRole[] = "folderBrowser";

} // namespace

FolderBrowserWindowController::FolderBrowserWindowController(const QString& path, ThumbnailProvider& thumbnails,
                                                             FolderBrowserModel::Environment environment)
    : m_model(new FolderBrowserModel(path, std::move(environment), this))
{
    auto* window = new FolderBrowserView(*m_model, thumbnails);
    m_window = window;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setProperty(kRoleProperty, QLatin1String(kBrowserRole));
    window->resize(kWidth, kHeight);
    window->setMinimumSize(kMinimumWidth, kMinimumHeight);
    installCloseShortcut(window);
    // Owned by the window: closing it deletes the window, this controller,
    // the model and both monitors together.
    setParent(window);
    new KeyDownMonitor([this](QKeyEvent& event) { return handleKey(event); }, this);
    new MouseButtonMonitor([this](QMouseEvent& event) { return handleMouse(event); }, this);
    connect(m_model, &FolderBrowserModel::currentPathChanged, this, &FolderBrowserWindowController::updateWindowTitle);
    updateWindowTitle(m_model->currentPath());
}

void FolderBrowserWindowController::updateWindowTitle(const QString& path)
{
    if (m_window)
        m_window->setWindowTitle(FolderBrowserModel::titleOf(path));
}

bool FolderBrowserWindowController::isBrowserWindow(const QWidget* widget)
{
    return widget && widget->property(kRoleProperty).toString() == QLatin1String(kBrowserRole);
}

bool FolderBrowserWindowController::isActive() const
{
    return m_window && QApplication::activeWindow() == m_window;
}

bool FolderBrowserWindowController::handleKey(const QKeyEvent& event)
{
    // Any modifier (Shift, Ctrl, Alt, Meta, keypad) leaves Space to others.
    if (event.key() != Qt::Key_Space || event.modifiers() != Qt::NoModifier || !isActive())
        return false;
    m_model->quickLookSelected();
    return true;  // swallowed also when nothing is selected
}

bool FolderBrowserWindowController::handleMouse(const QMouseEvent& event)
{
    if (!isActive())
        return false;
    switch (event.button()) {
    case Qt::BackButton: m_model->goBack(); return true;
    case Qt::ForwardButton:
    case Qt::ExtraButton3: m_model->goForward(); return true;
    default: return false;
    }
}

} // namespace pallix
