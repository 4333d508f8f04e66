#include "UI/Settings/SharedDriveSection.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "App/Settings/SettingsOperations.h"
#include "App/SharedDrives/ServerRootDetection.h"
#include "App/SharedDrives/SharedDrives.h"
#include "UI/Settings/BoundToggle.h"
#include "UI/Settings/DirectoryChooser.h"
#include "UI/Settings/PathLists.h"
#include "UI/Settings/SettingsStyle.h"

namespace pallix {

using settingsstyle::TextStyle;

QString SharedDriveSection::noFoldersHint()
{
    QStringList names;
    for (std::string_view name : ServerRootDetection::kDefaultFolderNames)
        names << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    return QStringLiteral("尚未识别到共享盘目录（请先在文件管理器挂载服务器，并确保存在“%1”）。")
        .arg(names.join(QStringLiteral(" / ")));
}

QString SharedDriveSection::statusText(bool indexing, qint64 count)
{
    return indexing ? QStringLiteral("状态：正在建立共享盘索引（%1 项）").arg(count)
                    : QStringLiteral("状态：已收录 %1 项").arg(count);
}

SharedDriveSection::SharedDriveSection(SettingsOperations& settings, SharedDrives& drives, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_drives(drives)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_enable = boundToggle(
        m_settings, QStringLiteral("启用共享盘索引（后台扫描，独立库）"),
        [](const AppSettings& s) { return s.enableServerIndexing; },
        [this](bool on) { m_drives.updateEnableServerIndexing(on); });
    layout->addWidget(m_enable);
    buildScopeRow(layout);
    layout->addWidget(settingsstyle::label(
        QStringLiteral("可同时勾选：两边都搜；至少保留一侧开启（全关会自动恢复另一侧，避免出现空结果）。"),
        TextStyle::Caption, true, true));
    layout->addWidget(settingsstyle::label(
        QStringLiteral("共享盘索引写入独立数据库，不影响本机搜索速度。首次建立索引可能较久；挂载断开时会暂停。"),
        TextStyle::Callout, true, true));
    m_message = settingsstyle::label({}, TextStyle::Callout, true, true);
    layout->addWidget(m_message);
    buildButtonRow(layout);
    m_autoResume = boundToggle(
        m_settings, QStringLiteral("启动时自动续扫共享盘索引（可关闭，避免打开就跑）"),
        [](const AppSettings& s) { return s.autoResumeServerIndexingOnLaunch; },
        [this](bool on) { m_drives.updateAutoResumeServerIndexingOnLaunch(on); });
    settingsstyle::applyTextStyle(m_autoResume, TextStyle::Callout);
    layout->addWidget(m_autoResume);
    buildFolders(layout);
    m_status = settingsstyle::label({}, TextStyle::Caption, true, false);
    layout->addWidget(m_status);

    refreshMessage();
    refreshFolders();
    refreshUpdateButton();
    refreshStatus();
    connect(&m_drives, &SharedDrives::serverIndexStatusTextChanged, this, &SharedDriveSection::refreshMessage);
    connect(&m_settings, &SettingsOperations::settingsChanged, this, &SharedDriveSection::refreshFolders);
    connect(&m_settings, &SettingsOperations::settingsChanged, this, &SharedDriveSection::refreshUpdateButton);
    connect(&m_drives, &SharedDrives::isServerIndexingChanged, this, &SharedDriveSection::refreshUpdateButton);
    connect(&m_drives, &SharedDrives::isServerIndexingChanged, this, &SharedDriveSection::refreshStatus);
    connect(&m_drives, &SharedDrives::serverIndexedCountChanged, this, &SharedDriveSection::refreshStatus);
}

void SharedDriveSection::buildScopeRow(QVBoxLayout* layout)
{
    m_localScope = boundToggle(
        m_settings, QStringLiteral("本机 + 外接"), [](const AppSettings& s) { return s.includeLocalInSearch; },
        [this](bool on) { m_settings.applyLocalSearchScope(on); });
    m_serverScope = boundToggle(
        m_settings, QStringLiteral("共享盘"), [](const AppSettings& s) { return s.includeServerInSearch; },
        [this](bool on) { m_settings.applyServerSearchScope(on); });
    auto* row = new QHBoxLayout;
    row->setSpacing(16);
    for (QCheckBox* box : {m_localScope, m_serverScope}) {
        settingsstyle::applyTextStyle(box, TextStyle::Callout);
        row->addWidget(box);
    }
    row->addStretch(1);
    layout->addLayout(row);
}

void SharedDriveSection::buildButtonRow(QVBoxLayout* layout)
{
    m_add = new QPushButton(QStringLiteral("添加共享盘目录…"));
    m_update = new QPushButton(QStringLiteral("手动更新共享盘索引"));
    m_clear = new QPushButton(QStringLiteral("清除共享盘目录"));
    settingsstyle::applySecondaryColor(m_clear);
    connect(m_add, &QPushButton::clicked, this, &SharedDriveSection::chooseFolders);
    connect(m_update, &QPushButton::clicked, this, [this] { m_drives.refreshServerIndexManually(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { m_drives.clearServerIndexedRoots(); });
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    for (QPushButton* button : {m_add, m_update, m_clear})
        row->addWidget(button);
    row->addStretch(1);
    layout->addLayout(row);
}

void SharedDriveSection::buildFolders(QVBoxLayout* layout)
{
    m_hint = settingsstyle::label(noFoldersHint(), TextStyle::Callout, true, true);
    m_rootsBlock = new QWidget;
    auto* block = new QVBoxLayout(m_rootsBlock);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(6);
    block->addWidget(settingsstyle::label(QStringLiteral("共享盘索引目录："), TextStyle::Caption, true, false));
    m_roots = new RemovablePathList({}, QStringLiteral("移除此共享盘目录"),
                                    [this](const std::set<int>& offsets) { m_drives.removeServerIndexedRoot(offsets); });
    block->addWidget(m_roots);
    layout->addWidget(m_hint);
    layout->addWidget(m_rootsBlock);
}

void SharedDriveSection::chooseFolders()
{
    chooseDirectories(this, QStringLiteral("添加共享盘目录"), true, [this](const QStringList& folders) {
        if (!folders.isEmpty())
            m_drives.addServerIndexedRoots(folders);
    });
}

void SharedDriveSection::refreshMessage()
{
    // Hidden, the empty message takes no room in the column.
    m_message->setText(m_drives.serverIndexStatusText());
    m_message->setVisible(!m_message->text().isEmpty());
}

void SharedDriveSection::refreshFolders()
{
    const QStringList roots = toQStringList(m_settings.settings().serverIndexedRoots);
    m_roots->setPaths(roots);
    m_hint->setVisible(roots.isEmpty());
    m_rootsBlock->setVisible(!roots.isEmpty());
}

void SharedDriveSection::refreshUpdateButton()
{
    const AppSettings& s = m_settings.settings();
    m_update->setEnabled(!s.serverIndexedRoots.empty() && s.enableServerIndexing && !m_drives.isServerIndexing());
}

void SharedDriveSection::refreshStatus()
{
    m_status->setText(statusText(m_drives.isServerIndexing(), m_drives.serverIndexedCount()));
}

} // namespace pallix
