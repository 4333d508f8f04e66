#pragma once
// SearchToolbar: the row under the search field: the filter-panel toggle,
// the grid/list switch, the refresh button, the search-scope checkboxes and
// the status (progress while a search with progress runs, then the result
// summary). Every control reads a model property and calls one model
// operation. GUI thread only.

#include <QWidget>

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QToolButton;

namespace pallix {

class AppModel;

class SearchToolbar : public QWidget {
    Q_OBJECT

public:
    explicit SearchToolbar(AppModel& model, QWidget* parent = nullptr);

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

    AppModel& m_model;
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
