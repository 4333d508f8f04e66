#pragma once
// HoverTip: the tooltip of a result row or card. Its owner places it, so that
// it covers no other item's name, and it never takes a press: the window lets
// the pointer through to what lies under it, and any press, wheel turn or key
// closes it on the way to its target. Like the toolkit's tips it closes by
// itself after a while. GUI thread only.

#include <functional>

#include <QLabel>
#include <QTimer>

namespace pallix {

class HoverTip : public QLabel {
    Q_OBJECT

public:
    // A window of its own, deleted with `owner`.
    explicit HoverTip(QWidget* owner);

    // Shows `text` with its top-left at what `place` returns for its size,
    // in global coordinates.
    void showText(const QString& text, const std::function<QPoint(QSize)>& place);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTimer m_expiry;
};

} // namespace pallix
