#pragma once
// HotKeyStatus: whether the desktop took the stored global hot key, published
// for the settings' hot-key row. The registration writes it; a grab refused
// by X11 is known at once, a desktop portal answers later. GUI thread.

#include <QObject>
#include <QString>

namespace pallix {

class HotKeyStatus : public QObject {
    Q_OBJECT

public:
    enum class State { Registered, Pending, NotRegistered };

    using QObject::QObject;

    State state() const { return m_state; }
    // Why the key is not registered, for the user; empty otherwise.
    const QString& reason() const { return m_reason; }

    void setRegistered() { set(State::Registered, {}); }
    void setPending() { set(State::Pending, {}); }
    void setNotRegistered(const QString& reason) { set(State::NotRegistered, reason); }

signals:
    void changed();

private:
    void set(State state, const QString& reason)
    {
        if (state == m_state && reason == m_reason)
            return;
        m_state = state;
        m_reason = reason;
        emit changed();
    }

    State m_state = State::Registered;
    QString m_reason;
};

} // namespace pallix
