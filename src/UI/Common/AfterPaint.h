#pragma once
// AfterPaint: runs a piece of work once the window has painted what is
// pending. Qt posts a window's update request at low priority; this posts
// below it, so work that hangs on a new list (thumbnails asked for, the
// search-history chips laid out again) waits until the new rows are on
// screen. Requests before it runs fold into one. GUI thread only.

#include <functional>

#include <QObject>

namespace pallix {

class AfterPaint : public QObject {
public:
    AfterPaint(std::function<void()> work, QObject* parent);

    void request();

protected:
    bool event(QEvent* event) override;

private:
    std::function<void()> m_work;
    bool m_posted = false;
};

} // namespace pallix
