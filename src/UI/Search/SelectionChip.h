#pragma once
// SelectionChip: one chip of the filter panel: a check-box symbol (filled
// with the accent when selected) and a title on a rounded shape tinted with
// the accent when selected. A flat button; what is selected comes from the
// model through setSelected(). GUI thread only.

#include <QAbstractButton>

namespace pallix {

class SelectionChip : public QAbstractButton {
    Q_OBJECT

public:
    explicit SelectionChip(const QString& title, QWidget* parent = nullptr);

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    void setTitle(const QString& title);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_selected = false;
};

} // namespace pallix
