#pragma once
// SettingsWindow: where the settings view is shown. showFor() opens the one
// settings window of the application (the tray item "设置…" and the menus),
// showSheet() the search window's settings sheet: a window of its own, modal
// to the search window only, so that while it has the focus every key goes
// to its fields and none to the search window's key handling. Both raise the
// existing one instead of opening a second. GUI thread only.

#include <QPointer>

#include "UI/Settings/HotKeyRow.h"
#include "UI/Settings/SettingsView.h"

namespace pallix {

class AppModel;

class SettingsWindow {
public:
    // Set once by whoever owns the global hot key (release the grab while
    // recording, restore it after); applied to every view opened afterwards.
    static void setRecordingHooks(HotKeyRow::RecordingHooks hooks);
    // Set by the same owner: whether the desktop took the key, shown in the row.
    static void setHotKeyStatus(const HotKeyStatus* status);

    // The settings window, made on first use and destroyed when closed.
    static SettingsView* showFor(AppModel& model);
    // The settings sheet of `searchWindow`, destroyed when closed.
    static SettingsView* showSheet(AppModel& model, QWidget* searchWindow);
    // The model's features a settings view binds to.
    static SettingsView::Features featuresOf(AppModel& model);

private:
    static SettingsView* present(QPointer<SettingsView>& slot, AppModel& model, QWidget* parent);
};

} // namespace pallix
