#pragma once
// TermChip: one chip of the search-assist row: a star (common term) or a
// clock (history entry) and the text on a capsule. While the pointer is over
// it a delete button shows at its trailing edge; that button is a child of
// its own, so a click on it deletes without activating the chip. A history
// chip's context menu offers "加入常用词". GUI thread only.

#include <QAbstractButton>

#include "UI/Search/SearchAssistChips.h"

class QToolButton;

namespace pallix {

class TermChip : public QAbstractButton {
    Q_OBJECT

public:
    explicit TermChip(const SearchTermChip& chip, QWidget* parent = nullptr);

    const SearchTermChip& chip() const { return m_chip; }
    bool isHovered() const { return m_hovered; }
    QToolButton* deleteButton() const { return m_delete; }

    QSize sizeHint() const override;

signals:
    void deleteRequested();
    void addToCommonRequested();  // history chips only

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void setHovered(bool hovered);

    SearchTermChip m_chip;
    bool m_hovered = false;
    QToolButton* m_delete = nullptr;
};

} // namespace pallix
