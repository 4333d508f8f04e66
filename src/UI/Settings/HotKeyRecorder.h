#pragma once
// HotKeyRecorder: an invisible widget that, while recording, holds the
// keyboard focus and turns the next key press with a modifier into a
// GlobalHotKey. Escape cancels (whatever modifiers are held), and so does
// losing the focus to another control; a key without modifiers, or one the
// record cannot hold, is swallowed and recording goes on. While recording it also takes the keys that would otherwise be window
// shortcuts or focus moves (Escape, Tab, Ctrl+Q). GUI thread.

#include <optional>

#include <QWidget>

#include "Core/HotKey/HotKey.h"

namespace pallix {

class HotKeyRecorder : public QWidget {
    Q_OBJECT

public:
    // What a key press does while recording.
    struct Outcome {
        enum class Kind { Cancel, Ignore, Record, Count } kind = Kind::Ignore;
        std::optional<GlobalHotKey> hotKey;  // set for Record
    };
    static Outcome outcomeOf(int qtKey, Qt::KeyboardModifiers modifiers);

    explicit HotKeyRecorder(QWidget* parent = nullptr);

    bool isRecording() const { return m_recording; }
    // Starting shows the recorder and takes the focus; stopping hides it.
    void setRecording(bool recording);

signals:
    void cancelled();
    void recorded(const pallix::GlobalHotKey& hotKey);

protected:
    bool event(QEvent* event) override;

private:
    bool m_recording = false;
};

} // namespace pallix
