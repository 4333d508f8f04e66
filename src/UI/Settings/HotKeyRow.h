#pragma once
// HotKeyRow: the run-options row that shows the stored global hot key,
// records a new one and turns it off. Recording is the row's own state: it
// starts on "设置快捷键…", ends on Escape, on a recorded key, on a second
// press of the button and when the settings window goes away. While it
// records, the application's global grab must be released, or the key
// pressed would reach the grab instead of the recorder: whoever shows the
// settings sets the two recording hooks for that. GUI thread.

#include <functional>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

namespace pallix {

class HotKeyRecorder;
class SettingsOperations;
class HotKeyStatus;

class HotKeyRow : public QWidget {
    Q_OBJECT

public:
    struct RecordingHooks {
        std::function<void()> started;  // e.g. suspend the global grab
        std::function<void()> ended;    // e.g. restore it
    };

    explicit HotKeyRow(SettingsOperations& settings, QWidget* parent = nullptr);
    ~HotKeyRow() override;

    void setRecordingHooks(RecordingHooks hooks) { m_hooks = std::move(hooks); }
    // Where the registration publishes whether the desktop took the key;
    // without one the row shows the stored key only.
    void setStatus(const HotKeyStatus* status);
    bool isRecording() const { return m_recording; }
    void startRecording();
    // Ends recording, if on, without storing anything.
    void stopRecording();

    QLabel* textLabel() const { return m_text; }
    QPushButton* recordButton() const { return m_recordButton; }
    QPushButton* clearButton() const { return m_clearButton; }
    HotKeyRecorder* recorder() const { return m_recorder; }

private:
    void refresh();
    void toggleRecording();

    SettingsOperations& m_settings;
    RecordingHooks m_hooks;
    QPointer<const HotKeyStatus> m_status;
    bool m_recording = false;
    QLabel* m_text;
    QPushButton* m_recordButton;
    HotKeyRecorder* m_recorder;
    QPushButton* m_clearButton;
};

} // namespace pallix
