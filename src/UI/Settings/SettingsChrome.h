#pragma once
// The settings window's own header: the title "设置" and the caption
// "简单模式". It draws no window buttons: the window manager's title bar
// already closes, minimises and maximises the window. The caption is plain
// text, not a control. GUI thread.

#include <QWidget>

namespace pallix {

class SettingsHeader : public QWidget {
    Q_OBJECT

public:
    explicit SettingsHeader(QWidget* parent = nullptr);
};

} // namespace pallix
