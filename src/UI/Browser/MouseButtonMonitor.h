#pragma once
// MouseButtonMonitor: sees every mouse press of the application before the
// widget under the pointer, and swallows the ones its handler takes. An
// event filter on the application for the monitor's lifetime, like
// KeyDownMonitor for keys. GUI thread only.

#include <functional>

#include <QObject>

class QMouseEvent;

namespace pallix {

class MouseButtonMonitor : public QObject {
    Q_OBJECT

public:
    // True: the press is handled and reaches no widget.
    using Handler = std::function<bool(QMouseEvent& event)>;

    explicit MouseButtonMonitor(Handler handler, QObject* parent = nullptr);
    ~MouseButtonMonitor() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler m_handler;
};

} // namespace pallix
