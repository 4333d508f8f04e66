#pragma once
// The settings window's own header: three round window buttons (close,
// minimise, zoom) that show their symbol while the pointer is over them, the
// title "设置" and the caption "简单模式". Minimise and zoom act on the
// window that shows the settings or, when that is a sheet, on the window it
// is attached to. GUI thread.

#include <functional>

#include <QAbstractButton>
#include <QColor>
#include <QWidget>

namespace pallix {

class TrafficLightButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Symbol { Close, Minimize, Zoom, Count };

    TrafficLightButton(const QColor& color, Symbol symbol, QWidget* parent = nullptr);

    bool isHovered() const { return m_hovered; }
    QSize sizeHint() const override { return {14, 14}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void paintSymbol(class QPainter& painter) const;

    QColor m_color;
    Symbol m_symbol;
    bool m_hovered = false;
};

class SettingsHeader : public QWidget {
    Q_OBJECT

public:
    // `dismiss` closes the settings window or sheet.
    SettingsHeader(std::function<void()> dismiss, QWidget* parent = nullptr);

    // The window minimise and zoom act on, seen from `from`: its window, or
    // the parent window of a sheet; none when `from` has no window.
    static QWidget* targetWindow(QWidget* from);

    TrafficLightButton* closeButton() const { return m_close; }
    TrafficLightButton* minimizeButton() const { return m_minimize; }
    TrafficLightButton* zoomButton() const { return m_zoom; }

private:
    TrafficLightButton* m_close;
    TrafficLightButton* m_minimize;
    TrafficLightButton* m_zoom;
};

} // namespace pallix
