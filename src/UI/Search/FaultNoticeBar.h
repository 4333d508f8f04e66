#pragma once
// FaultNoticeBar: the faults the user must see (FaultNotices), in a bar of
// their own under the results, apart from the status line that every scan's
// progress rewrites. It stays until the user clicks "知道了". Hidden while
// there is none. GUI thread only.

#include <QFrame>

class QLabel;
class QPushButton;

namespace pallix {

class FaultNotices;

class FaultNoticeBar : public QFrame {
    Q_OBJECT

public:
    explicit FaultNoticeBar(FaultNotices& notices, QWidget* parent = nullptr);

    QLabel* text() const { return m_text; }
    QPushButton* dismissButton() const { return m_dismiss; }

private:
    void showNotices();

    FaultNotices& m_notices;
    QLabel* m_text = nullptr;
    QPushButton* m_dismiss = nullptr;
};

} // namespace pallix
