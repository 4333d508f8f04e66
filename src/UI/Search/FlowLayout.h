#pragma once
// FlowLayout: lays its items out left to right and wraps to a new line when
// the width runs out, like Qt's flow layout example; its height follows the
// width. The search-assist row holds its chips in one. GUI thread only.

#include <QLayout>
#include <QList>

namespace pallix {

class FlowLayout : public QLayout {
public:
    FlowLayout(int horizontalSpacing, int verticalSpacing, QWidget* parent = nullptr);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(m_items.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override { return minimumSize(); }
    void setGeometry(const QRect& rect) override;

private:
    // Places the items in `rect` (only when `apply`); returns the height used.
    int arrange(const QRect& rect, bool apply) const;

    QList<QLayoutItem*> m_items;
    int m_horizontalSpacing;
    int m_verticalSpacing;
};

} // namespace pallix
