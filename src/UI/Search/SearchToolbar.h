#pragma once
// SearchToolbar: the row under the search field: the filter-panel toggle,
// the grid/list switch, the refresh button, the search-scope checkboxes and
// the status (progress while a search with progress runs, then the result
// summary). Every control reads a session property and calls one session
// or settings operation. GUI thread only.

#include <QWidget>

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QToolButton;

namespace pallix {

class SearchSession;
class SettingsOperations;

class SearchToolbar : public QWidget {
    Q_OBJECT

public:
    SearchToolbar(SearchSession& session, SettingsOperations& settings, QWidget* parent = nullptr);

    bool isFilterPanelExpanded() const { return m_filterPanelExpanded; }

signals:
    void filterPanelExpandedChanged(bool expanded);

private:
    QWidget* makeDisplayModeSwitch();
    QWidget* makeRightGroup();
    void toggleFilterPanel();
    void setLocalScope(bool on);
    void setServerScope(bool on);
    void updateDisplayMode();
    void updateScopes();
    void updateProgress();
    void updateSummary();

    SearchSession& m_session;
    SettingsOperations& m_settings;
    bool m_filterPanelExpanded = false;
    QToolButton* m_filterToggle = nullptr;
    QToolButton* m_gridButton = nullptr;
    QToolButton* m_listButton = nullptr;
    QHBoxLayout* m_rightLayout = nullptr;
    QCheckBox* m_localScope = nullptr;
    QCheckBox* m_serverScope = nullptr;  // only in the edition with shared drives
    QWidget* m_progress = nullptr;
    QLabel* m_progressHint = nullptr;
    QLabel* m_summary = nullptr;
};

} // namespace pallix
