#pragma once
// FilterSummaryRow: the line shown in the filter panel's place while the
// panel is collapsed and the content filters are not the default: which
// filters apply, and "恢复默认", which resets the search constraints.
// GUI thread only.

#include <QWidget>

class QLabel;
class QPushButton;

namespace pallix {

class SearchConstraints;

class FilterSummaryRow : public QWidget {
    Q_OBJECT

public:
    explicit FilterSummaryRow(SearchConstraints& constraints, QWidget* parent = nullptr);

    // The panel's expansion is the search view's own state.
    void setPanelExpanded(bool expanded);
    QString text() const;
    QPushButton* restoreButton() const { return m_restore; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showModelState();

    SearchConstraints& m_constraints;
    bool m_panelExpanded = false;
    QLabel* m_text = nullptr;
    QPushButton* m_restore = nullptr;
};

} // namespace pallix
