#pragma once
// ResultsHeaderView: the column titles above the list (and above the empty
// panel in list mode), laid out by ListColumns like the rows below it.
// GUI thread only.

#include <QStringList>
#include <QWidget>

namespace pallix {

class ResultsHeaderView : public QWidget {
    Q_OBJECT

public:
    explicit ResultsHeaderView(QWidget* parent = nullptr);

    // The width the rows below are laid out in (the list's viewport, without
    // its scroll bar), so the titles stand over their columns; 0: own width.
    void setColumnsWidth(int width);

    // "名称", "类型", "大小", "修改日期", "路径", and the untitled actions column.
    static QStringList titles();
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_columnsWidth = 0;
};

} // namespace pallix
