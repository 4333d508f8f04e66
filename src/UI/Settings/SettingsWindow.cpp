#include "UI/Settings/SettingsWindow.h"

#include <QTimer>

#include "App/AppModel.h"
#include "App/Indexing/LocalIndex.h"
#include "UI/Common/CloseShortcut.h"
#include "UI/Common/WindowPlacement.h"
#include "UI/Settings/HotKeyStatus.h"

namespace pallix {

namespace {

HotKeyRow::RecordingHooks& recordingHooks()
{
    static HotKeyRow::RecordingHooks hooks;
    return hooks;
}

QPointer<const HotKeyStatus>& hotKeyStatus()
{
    static QPointer<const HotKeyStatus> status;
    return status;
}

QPointer<SettingsView>& windowSlot()
{
    static QPointer<SettingsView> view;
    return view;
}

QPointer<SettingsView>& sheetSlot()
{
    static QPointer<SettingsView> view;
    return view;
}

} // namespace

void SettingsWindow::setRecordingHooks(HotKeyRow::RecordingHooks hooks)
{
    recordingHooks() = std::move(hooks);
}

void SettingsWindow::setHotKeyStatus(const HotKeyStatus* status)
{
    hotKeyStatus() = status;
}

SettingsView* SettingsWindow::showFor(AppModel& model)
{
    return present(windowSlot(), model, nullptr);
}

SettingsView* SettingsWindow::showSheet(AppModel& model, QWidget* searchWindow)
{
    return present(sheetSlot(), model, searchWindow);
}

SettingsView::Features SettingsWindow::featuresOf(AppModel& model)
{
    return {model.settingsOperations(), model.sharedDrives(), model.localIndex(), model.searchSession()};
}

SettingsView* SettingsWindow::present(QPointer<SettingsView>& slot, AppModel& model, QWidget* parent)
{
    if (slot && (slot->parentWidget() != parent || &slot->features().settings != &model.settingsOperations())) {
        slot->close();
        slot = nullptr;  // it deletes itself later
    }
    if (!slot) {
        // A fresh view for each opening: the path field starts empty and the
        // hot-key row idle, as a newly shown settings panel does.
        auto* view = new SettingsView(featuresOf(model), AppEditionInfo::current(), parent);
        view->setWindowFlag(Qt::Window);
        view->setAttribute(Qt::WA_DeleteOnClose);
        installCloseShortcut(view);
        if (parent) {
            view->setWindowFlag(Qt::Sheet);
            view->setWindowModality(Qt::WindowModal);
        }
        view->setRecordingHooks(recordingHooks());
        view->setHotKeyStatus(hotKeyStatus());
        // The view reads the model until its last moment: it goes with it.
        QObject::connect(&model, &QObject::destroyed, view, [view] { delete view; });
        slot = view;
    }
    if (!slot->isVisible())
        WindowPlacement::placeForOpening(slot, parent);
    slot->show();
    slot->raise();
    slot->activateWindow();
    // Again once the window is mapped: a request made before that is lost on
    // some platforms, and the keys would keep going to the search window.
    QTimer::singleShot(0, slot.data(), [view = slot.data()] { view->activateWindow(); });
    return slot;
}

} // namespace pallix
