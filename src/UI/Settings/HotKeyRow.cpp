#include "UI/Settings/HotKeyRow.h"

#include <QHBoxLayout>

#include "App/Settings/SettingsOperations.h"
#include "UI/Common/HotKeyKeyMap.h"
#include "UI/Settings/HotKeyRecorder.h"
#include "UI/Settings/HotKeyStatus.h"
#include "UI/Settings/SettingsStyle.h"

namespace pallix {

using settingsstyle::TextStyle;

HotKeyRow::HotKeyRow(SettingsOperations& settings, QWidget* parent)
    : QWidget(parent),
      m_settings(settings),
      m_text(settingsstyle::label({}, TextStyle::Callout, true, false)),
      m_recordButton(new QPushButton),
      m_recorder(new HotKeyRecorder),
      m_clearButton(new QPushButton(QStringLiteral("关闭")))
{
    m_text->setWordWrap(true);  // a refusal's reason can be long
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_text, 1);
    auto* group = new QHBoxLayout;
    group->setSpacing(8);
    group->addWidget(m_recordButton);
    group->addWidget(m_recorder);
    layout->addLayout(group);
    settingsstyle::applySecondaryColor(m_clearButton);
    layout->addWidget(m_clearButton);

    // A click leaves the focus with the recorder, so that a second press
    // ends recording instead of ending it on the press and starting anew.
    m_recordButton->setFocusPolicy(Qt::TabFocus);
    connect(m_recordButton, &QPushButton::clicked, this, &HotKeyRow::toggleRecording);
    connect(m_clearButton, &QPushButton::clicked, this,
            [this] { m_settings.updateGlobalHotKey(std::nullopt); });
    connect(m_recorder, &HotKeyRecorder::cancelled, this, &HotKeyRow::stopRecording);
    connect(m_recorder, &HotKeyRecorder::recorded, this, [this](const GlobalHotKey& hotKey) {
        m_settings.updateGlobalHotKey(hotKey);
        stopRecording();
    });
    connect(&m_settings, &SettingsOperations::settingsChanged, this, &HotKeyRow::refresh);
    refresh();
}

HotKeyRow::~HotKeyRow()
{
    // A window closed mid-recording must not leave the global grab released.
    // Nothing else: the model may be going away too.
    if (m_recording && m_hooks.ended)
        m_hooks.ended();
}

void HotKeyRow::setStatus(const HotKeyStatus* status)
{
    if (m_status)
        disconnect(m_status, nullptr, this, nullptr);
    m_status = status;
    if (status)
        connect(status, &HotKeyStatus::changed, this, &HotKeyRow::refresh);
    refresh();
}

void HotKeyRow::toggleRecording()
{
    const bool wasRecording = m_recording;
    stopRecording();
    if (!wasRecording)
        startRecording();
}

void HotKeyRow::startRecording()
{
    if (m_recording)
        return;
    m_recording = true;
    if (m_hooks.started)
        m_hooks.started();
    m_recorder->setRecording(true);
    refresh();
}

void HotKeyRow::stopRecording()
{
    if (!m_recording)
        return;
    m_recording = false;
    m_recorder->setRecording(false);
    if (m_hooks.ended)
        m_hooks.ended();
    refresh();
}

void HotKeyRow::refresh()
{
    const auto& hotKey = m_settings.settings().globalHotKey;
    QString text = QStringLiteral("全局快捷键：")
                   + (hotKey ? hotkeymap::displayText(*hotKey) : QStringLiteral("未设置"));
    // A key the desktop refused must not look as if it worked.
    const bool refused = hotKey && m_status && m_status->state() == HotKeyStatus::State::NotRegistered;
    if (refused)
        text += QStringLiteral("（未注册：%1）").arg(m_status->reason());
    else if (hotKey && m_status && m_status->state() == HotKeyStatus::State::Pending)
        text += QStringLiteral("（正在向桌面注册…）");
    m_text->setText(text);
    m_text->setStyleSheet(refused ? QStringLiteral("color: #c0392b;") : QString());
    m_recordButton->setText(m_recording ? QStringLiteral("录制中…（按 Esc 取消）") : QStringLiteral("设置快捷键…"));
    m_clearButton->setEnabled(hotKey.has_value());
}

} // namespace pallix
