#pragma once
// KeyDownMonitor: sees every key press of the application before the widget
// it is meant for, and swallows the ones its handler takes. It is an event
// filter on the application, installed for the monitor's lifetime; the
// handler can be replaced at any time and the next press uses the new one.
// GUI thread only.

#include <functional>

#include <QObject>

class QKeyEvent;

namespace pallix {

class KeyDownMonitor : public QObject {
    Q_OBJECT

public:
    // True: the press is handled and reaches no widget.
    using Handler = std::function<bool(QKeyEvent& event)>;

    explicit KeyDownMonitor(Handler handler, QObject* parent = nullptr);
    ~KeyDownMonitor() override;

    void setHandler(Handler handler) { m_handler = std::move(handler); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler m_handler;
};

} // namespace pallix
