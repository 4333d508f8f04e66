#pragma once
// WelcomeSheet: the window-modal sheet that greets a first-time user: the
// first scan, searching during it, adding shared drives by hand, and what to
// do when the system refuses to open the application. Its one button
// "开始使用" is the default (Return); Esc and the window's close also end it.
// Whoever opens it records the closing (finished()). GUI thread only.

#include <QDialog>

class QPushButton;

namespace pallix {

class WelcomeSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMinimumWidth = 440;

    explicit WelcomeSheet(QWidget* parent = nullptr);

    QPushButton* startButton() const { return m_start; }

private:
    QPushButton* m_start = nullptr;
};

} // namespace pallix
