#pragma once
// FaultNotices: what went wrong that the user must see (a damaged index moved
// aside, a settings file that could not be read, a hot key the system
// refused). The status line is rewritten by every scan's progress; these
// notices stand beside it, each until the user has dismissed it or its cause
// is gone, so no progress text can bury them. A notice is keyed by its cause:
// raising it again replaces its text instead of adding a second one.
// GUI thread only.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

namespace pallix {

class FaultNotices : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList texts READ texts NOTIFY changed)

public:
    enum class Cause { IndexDamage, ServerIndexDamage, Settings, HotKey, ReadOnlyIndex, CacheFolder };

    explicit FaultNotices(QObject* parent = nullptr) : QObject(parent) {}

    // Oldest first.
    QStringList texts() const;
    bool isEmpty() const { return m_notices.isEmpty(); }

    // Shows `text` for `cause` until dismissed or withdrawn; the same text
    // again changes nothing (it was said once).
    void raise(Cause cause, const QString& text);
    // The cause is gone (the hot key was grabbed after all).
    void withdraw(Cause cause);
    // The user has seen them.
    void dismissAll();

signals:
    void changed();
    // Each text as it is first shown.
    void raised(const QString& text);

private:
    struct Notice {
        Cause cause;
        QString text;
    };
    QVector<Notice> m_notices;
};

} // namespace pallix
