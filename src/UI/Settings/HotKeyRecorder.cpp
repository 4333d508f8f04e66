#include "UI/Settings/HotKeyRecorder.h"

#include <QKeyEvent>
#include <QTimer>

#include "UI/Common/HotKeyKeyMap.h"

namespace pallix {

HotKeyRecorder::Outcome HotKeyRecorder::outcomeOf(int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (qtKey == Qt::Key_Escape)
        return {Outcome::Kind::Cancel, std::nullopt};
    const std::uint32_t bits = hotkeymap::modifierBitsForQt(modifiers);
    const auto keyCode = hotkeymap::keyCodeForQtKey(qtKey, modifiers);
    if (bits == 0 || !keyCode)
        return {Outcome::Kind::Ignore, std::nullopt};
    return {Outcome::Kind::Record, GlobalHotKey{*keyCode, bits}};
}

HotKeyRecorder::HotKeyRecorder(QWidget* parent) : QWidget(parent)
{
    // Present in the window but neither seen nor clicked.
    setFixedSize(0, 0);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void HotKeyRecorder::setRecording(bool recording)
{
    if (recording == m_recording)
        return;
    m_recording = recording;
    setVisible(recording);
    if (!recording)
        return;
    setFocus(Qt::OtherFocusReason);
    // Once more after the window has handled the click that started
    // recording, which may move the focus back to the button.
    QTimer::singleShot(0, this, [this] {
        if (m_recording && window())
            setFocus(Qt::OtherFocusReason);
    });
}

bool HotKeyRecorder::event(QEvent* event)
{
    if (!m_recording)
        return QWidget::event(event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Every key is ours while recording: no window shortcut may fire.
        event->accept();
        return true;
    case QEvent::KeyPress: {
        // Handled here, before QWidget::event turns Tab into a focus move.
        auto* key = static_cast<QKeyEvent*>(event);
        const Outcome outcome = outcomeOf(key->key(), key->modifiers());
        key->accept();
        if (outcome.kind == Outcome::Kind::Cancel)
            emit cancelled();
        else if (outcome.kind == Outcome::Kind::Record)
            emit recorded(*outcome.hotKey);
        return true;
    }
    case QEvent::KeyRelease:
        event->accept();
        return true;
    case QEvent::FocusOut:
        // Another control took the keys: the next one pressed would be its,
        // not the new hot key, so recording ends and the old key stays.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
            emit cancelled();
        return QWidget::event(event);
    default:
        return QWidget::event(event);
    }
}

} // namespace pallix
