#pragma once
// SettingsView: the settings window's one content, shown as the settings
// window and as a window-modal sheet of the search window (see
// SettingsWindow). A fixed 720 × 560 panel: the header, a scrolling column of
// titled sections, and a bottom bar with "关闭设置" (Escape) and "退出程序"
// (Ctrl+Q). It keeps no copy of the settings: every control shows the stored
// value, re-read whenever it is republished, and every change goes through
// one operation. Each section binds to the feature it shows: the settings
// operations, the shared drives, the local index (its roots and rescan) and
// the search session (the history). The only state of its own is the text of
// the folder-path field and whether the hot-key row records. GUI thread only;
// the features must outlive the view.

#include <vector>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

#include "App/Settings/SettingsOperations.h"
#include "Core/Config/AppSettings.h"
#include "Core/Models/AppEdition.h"
#include "UI/Settings/HotKeyRow.h"

namespace pallix {

class CompactPathList;
class CompactSection;
class LimitStepper;
class LocalIndex;
class RemovablePathList;
class SearchSession;
class SettingsHeader;
class SharedDriveSection;
class SharedDrives;

class SettingsView : public QWidget {
    Q_OBJECT

public:
    enum class Section { AutoIndex, SharedDrives, IndexRoots, IndexScope, RunOptions, History, Count };
    // The sections of `edition`, top to bottom: the edition without shared
    // drives has no shared-drive section at all.
    static std::vector<Section> sectionsOf(AppEdition edition);
    static QString titleOf(Section section);

    // The features the view's controls show and change.
    struct Features {
        SettingsOperations& settings;
        SharedDrives& sharedDrives;
        LocalIndex& localIndex;
        SearchSession& search;
    };

    explicit SettingsView(Features features, AppEdition edition = AppEditionInfo::current(),
                          QWidget* parent = nullptr);

    const Features& features() const { return m_features; }
    void setRecordingHooks(HotKeyRow::RecordingHooks hooks);
    void setHotKeyStatus(const HotKeyStatus* status);
    // Closes the window or the sheet that shows the view.
    void dismiss();

    // The parts, for whoever drives the view without a pointer.
    const std::vector<CompactSection*>& sections() const { return m_sections; }
    SettingsHeader* header() const { return m_header; }
    HotKeyRow* hotKeyRow() const { return m_hotKeyRow; }
    QPushButton* rescanButton() const { return m_rescanButton; }
    QLineEdit* pathField() const { return m_pathField; }
    QPushButton* addButton() const { return m_addButton; }
    QPushButton* chooseButton() const { return m_chooseButton; }
    CompactPathList* discoveredList() const { return m_discovered; }
    RemovablePathList* rootsList() const { return m_roots; }
    LimitStepper* limitStepper() const { return m_stepper; }
    QPushButton* closeButton() const { return m_closeButton; }
    QPushButton* quitButton() const { return m_quitButton; }
    // None in the edition without shared drives.
    SharedDriveSection* sharedDriveSection() const { return m_sharedDrives; }
    // The switch labelled `text`, or none.
    QCheckBox* toggle(const QString& text) const;

protected:
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildScrollColumn(AppEdition edition);
    CompactSection* buildSection(Section section);
    void fillAutoIndex(CompactSection* section);
    void fillIndexRoots(CompactSection* section);
    void fillIndexScope(CompactSection* section);
    void fillRunOptions(CompactSection* section);
    QWidget* buildBottomBar();
    // A switch that shows `field` of the stored record and writes through `operation`.
    QCheckBox* boundToggle(const QString& text, bool AppSettings::*field,
                           void (SettingsOperations::*operation)(bool));
    void chooseDirectory();
    void refreshDiscovered();
    void refreshRoots();

    Features m_features;
    std::vector<CompactSection*> m_sections;
    SettingsHeader* m_header = nullptr;
    HotKeyRow* m_hotKeyRow = nullptr;
    QPushButton* m_rescanButton = nullptr;
    QLineEdit* m_pathField = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_chooseButton = nullptr;
    CompactPathList* m_discovered = nullptr;
    RemovablePathList* m_roots = nullptr;
    LimitStepper* m_stepper = nullptr;
    QPushButton* m_closeButton = nullptr;
    QPushButton* m_quitButton = nullptr;
    SharedDriveSection* m_sharedDrives = nullptr;
};

} // namespace pallix
