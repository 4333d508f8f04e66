#pragma once
// SharedDriveSection: the content of the settings section "共享盘索引（独立库）":
// the switch of the shared-drive index, which sides a search covers, the
// model's latest shared-drive message, adding folders through the chooser,
// the manual update, clearing, resumption at launch, the folder list (or the
// hint when there is none) and the index's status line. It keeps nothing of
// its own and follows the stored settings and the shared-drive status live:
// whether a run is going, the index size and the message. GUI thread only;
// both objects must outlive the section.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

namespace pallix {

class RemovablePathList;
class SettingsOperations;
class SharedDrives;

class SharedDriveSection : public QWidget {
    Q_OBJECT

public:
    // Shown when no folder is known; names the folders the detection looks for.
    static QString noFoldersHint();
    // The status line for a run going or not and the index size.
    static QString statusText(bool indexing, qint64 count);

    SharedDriveSection(SettingsOperations& settings, SharedDrives& drives, QWidget* parent = nullptr);

    QCheckBox* enableToggle() const { return m_enable; }
    QCheckBox* localScopeToggle() const { return m_localScope; }
    QCheckBox* serverScopeToggle() const { return m_serverScope; }
    QCheckBox* autoResumeToggle() const { return m_autoResume; }
    QLabel* messageLabel() const { return m_message; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* updateButton() const { return m_update; }
    QPushButton* clearButton() const { return m_clear; }
    QLabel* hintLabel() const { return m_hint; }
    RemovablePathList* rootsList() const { return m_roots; }
    QLabel* statusLabel() const { return m_status; }

private:
    void buildScopeRow(QVBoxLayout* layout);
    void buildButtonRow(QVBoxLayout* layout);
    void buildFolders(QVBoxLayout* layout);
    void chooseFolders();
    void refreshMessage();
    void refreshFolders();
    void refreshUpdateButton();
    void refreshStatus();

    SettingsOperations& m_settings;
    SharedDrives& m_drives;
    QCheckBox* m_enable = nullptr;
    QCheckBox* m_localScope = nullptr;
    QCheckBox* m_serverScope = nullptr;
    QCheckBox* m_autoResume = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_clear = nullptr;
    QLabel* m_hint = nullptr;
    QWidget* m_rootsBlock = nullptr;
    RemovablePathList* m_roots = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace pallix
