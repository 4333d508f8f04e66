#include "UI/Settings/SettingsView.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "App/Indexing/LocalIndex.h"
#include "App/Search/SearchSession.h"
#include "App/SharedDrives/SharedDrives.h"
#include "Core/Config/EditionRule.h"
#include "UI/Settings/BoundToggle.h"
#include "UI/Settings/CompactSection.h"
#include "UI/Settings/DirectoryChooser.h"
#include "UI/Settings/HistorySection.h"
#include "UI/Settings/LimitStepper.h"
#include "UI/Settings/PathLists.h"
#include "UI/Settings/SharedDriveSection.h"
#include "UI/Settings/SettingsChrome.h"
#include "UI/Settings/SettingsStyle.h"

namespace pallix {

using settingsstyle::TextStyle;

namespace {

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

std::vector<SettingsView::Section> SettingsView::sectionsOf(AppEdition edition)
{
    std::vector<Section> sections{Section::AutoIndex};
    if (hasSharedDriveFeatures(edition))
        sections.push_back(Section::SharedDrives);
    sections.insert(sections.end(), {Section::IndexRoots, Section::IndexScope, Section::RunOptions, Section::History});
    return sections;
}

QString SettingsView::titleOf(Section section)
{
    switch (section) {
    case Section::AutoIndex: return QStringLiteral("自动索引");
    case Section::SharedDrives: return QStringLiteral("共享盘索引（独立库）");
    case Section::IndexRoots: return QStringLiteral("索引目录");
    case Section::IndexScope: return QStringLiteral("索引范围");
    case Section::RunOptions: return QStringLiteral("运行选项");
    case Section::History: return QStringLiteral("搜索历史与常用词");
    case Section::Count: break;
    }
    return {};
}

SettingsView::SettingsView(Features features, AppEdition edition, QWidget* parent)
    : QWidget(parent), m_features(features)
{
    setWindowTitle(QStringLiteral("设置"));
    setFixedSize(720, 560);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_header = new SettingsHeader;
    layout->addWidget(m_header);
    layout->addWidget(divider());
    layout->addWidget(buildScrollColumn(edition), 1);
    layout->addWidget(divider());
    layout->addWidget(buildBottomBar());
}

void SettingsView::setRecordingHooks(HotKeyRow::RecordingHooks hooks)
{
    m_hotKeyRow->setRecordingHooks(std::move(hooks));
}

void SettingsView::setHotKeyStatus(const HotKeyStatus* status)
{
    m_hotKeyRow->setStatus(status);
}

void SettingsView::dismiss()
{
    window()->close();
}

QCheckBox* SettingsView::toggle(const QString& text) const
{
    for (QCheckBox* box : findChildren<QCheckBox*>()) {
        if (box->text() == text)
            return box;
    }
    return nullptr;
}

void SettingsView::hideEvent(QHideEvent* event)
{
    // Leaving the window never leaves recording (and the released grab) on.
    m_hotKeyRow->stopRecording();
    QWidget::hideEvent(event);
}

void SettingsView::showEvent(QShowEvent* event)
{
    // The mounted volumes are not published: look again whenever the view shows.
    refreshDiscovered();
    QWidget::showEvent(event);
}

void SettingsView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), palette().color(QPalette::Window));
}

QWidget* SettingsView::buildScrollColumn(AppEdition edition)
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(16);
    for (Section section : sectionsOf(edition)) {
        CompactSection* built = buildSection(section);
        m_sections.push_back(built);
        layout->addWidget(built);
    }
    layout->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setWidget(column);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return scroll;
}

CompactSection* SettingsView::buildSection(Section section)
{
    auto* built = new CompactSection(titleOf(section));
    switch (section) {
    case Section::AutoIndex: fillAutoIndex(built); break;
    case Section::SharedDrives:
        m_sharedDrives = new SharedDriveSection(m_features.settings, m_features.sharedDrives);
        built->contentLayout()->addWidget(m_sharedDrives);
        break;
    case Section::IndexRoots: fillIndexRoots(built); break;
    case Section::IndexScope: fillIndexScope(built); break;
    case Section::RunOptions: fillRunOptions(built); break;
    case Section::History:
        built->contentLayout()->addWidget(new HistorySection(m_features.search, m_features.settings));
        break;
    case Section::Count: break;
    }
    return built;
}

QCheckBox* SettingsView::boundToggle(const QString& text, bool AppSettings::*field,
                                     void (SettingsOperations::*operation)(bool))
{
    SettingsOperations& settings = m_features.settings;
    return pallix::boundToggle(
        settings, text, [field](const AppSettings& s) { return s.*field; },
        [&settings, operation](bool on) { (settings.*operation)(on); });
}

void SettingsView::fillAutoIndex(CompactSection* section)
{
    QVBoxLayout* content = section->contentLayout();
    content->addWidget(settingsstyle::label(
        QStringLiteral("启动时自动扫描本机磁盘与外接本地硬盘（可在下方开关控制）。共享盘/服务器走「共享盘索引（独立库）」"
                       "单独扫描（需先在文件管理器挂载后才可索引）。"),
        TextStyle::Callout, true, true));
    content->addWidget(boundToggle(QStringLiteral("自动索引外接硬盘（可移除卷）"), &AppSettings::autoIndexExternalVolumes,
                                   &SettingsOperations::updateAutoIndexExternalVolumes));
    m_discovered = new CompactPathList(QStringLiteral("暂无自动发现的磁盘"));
    content->addWidget(m_discovered);
    refreshDiscovered();
    connect(&m_features.settings, &SettingsOperations::settingsChanged, this, &SettingsView::refreshDiscovered);
    connect(&m_features.localIndex, &LocalIndex::isIndexingChanged, this, &SettingsView::refreshDiscovered);

    m_rescanButton = new QPushButton(QStringLiteral("重新扫描本机和外接硬盘"));
    const auto enable = [this] { m_rescanButton->setEnabled(!m_features.localIndex.isIndexing()); };
    enable();
    connect(&m_features.localIndex, &LocalIndex::isIndexingChanged, m_rescanButton, enable);
    connect(m_rescanButton, &QPushButton::clicked, this, [this] { m_features.localIndex.rebuildIndex(false); });
    auto* row = new QHBoxLayout;
    row->addWidget(m_rescanButton);
    row->addStretch(1);
    content->addLayout(row);
}

void SettingsView::fillIndexRoots(CompactSection* section)
{
    m_pathField = new QLineEdit;
    m_pathField->setPlaceholderText(QStringLiteral("输入目录路径"));
    m_addButton = new QPushButton(QStringLiteral("添加"));
    m_chooseButton = new QPushButton(QStringLiteral("选择目录"));
    auto* editor = new QHBoxLayout;
    editor->setSpacing(8);
    editor->addWidget(m_pathField, 1);
    editor->addWidget(m_addButton);
    editor->addWidget(m_chooseButton);
    section->contentLayout()->addLayout(editor);
    connect(m_addButton, &QPushButton::clicked, this, [this] {
        // Taken exactly as typed; the model standardises or ignores it, and
        // the field empties either way.
        m_features.localIndex.addIndexedRoot(m_pathField->text());
        m_pathField->clear();
    });
    connect(m_chooseButton, &QPushButton::clicked, this, &SettingsView::chooseDirectory);

    m_roots = new RemovablePathList(QStringLiteral("未添加额外索引目录"), QStringLiteral("不再索引此目录"),
                                    [this](const std::set<int>& offsets) {
                                        m_features.localIndex.removeIndexedRoot(offsets);
                                    });
    section->contentLayout()->addWidget(m_roots);
    refreshRoots();
    connect(&m_features.settings, &SettingsOperations::settingsChanged, this, &SettingsView::refreshRoots);
}

void SettingsView::fillIndexScope(CompactSection* section)
{
    section->contentLayout()->addWidget(
        boundToggle(QStringLiteral("过滤系统目录与垃圾文件（缓存、回收站、/proc、/sys、/tmp、系统库与状态目录等）"),
                    &AppSettings::excludeSystemJunkFromIndex, &SettingsOperations::updateExcludeSystemJunkFromIndex));
    section->contentLayout()->addWidget(settingsstyle::label(
        QStringLiteral("开启后索引与搜索均忽略难以作为普通文件打开的系统项；音视频、压缩包、文档等用户文件仍保留。"
                       "关闭后可见更多底层文件。重建索引(Ctrl+Shift+R)可清除库内已写入的旧条目。"),
        TextStyle::Callout, true, true));
}

void SettingsView::fillRunOptions(CompactSection* section)
{
    QVBoxLayout* content = section->contentLayout();
    content->addWidget(boundToggle(QStringLiteral("开机启动"), &AppSettings::launchAtLogin,
                                   &SettingsOperations::updateLaunchAtLogin));
    content->addWidget(boundToggle(QStringLiteral("托盘显示图标（常驻，随时打开搜索）"), &AppSettings::showMenuBarIcon,
                                   &SettingsOperations::updateShowMenuBarIcon));
    m_hotKeyRow = new HotKeyRow(m_features.settings);
    content->addWidget(m_hotKeyRow);
    content->addWidget(boundToggle(QStringLiteral("后台保持活跃（切回来更快，不做定时扫描）"),
                                   &AppSettings::keepAppWarmInBackground,
                                   &SettingsOperations::updateKeepAppWarmInBackground));
    // Linux does not slow down programs in the background: nothing to prevent.
    content->addWidget(settingsstyle::label(QStringLiteral("在 Linux 上此项无作用：系统不会限制后台程序。"),
                                            TextStyle::Caption, true, true));
    content->addWidget(boundToggle(QStringLiteral("后台持续监听索引变化"), &AppSettings::keepIndexerInBackground,
                                   &SettingsOperations::updateKeepIndexerInBackground));
    content->addWidget(boundToggle(QStringLiteral("图片内容模糊搜索（实验：杯子/花/猫等）"),
                                   &AppSettings::enableImageFuzzySearch,
                                   &SettingsOperations::updateEnableImageFuzzySearch));
    SettingsOperations& settings = m_features.settings;
    m_stepper = new LimitStepper([&settings] { return settings.settings().searchLimit; },
                                 [&settings](std::int64_t limit) { settings.updateSearchLimit(limit); });
    connect(&settings, &SettingsOperations::settingsChanged, m_stepper, &LimitStepper::refresh);
    content->addWidget(m_stepper);
}

QWidget* SettingsView::buildBottomBar()
{
    auto* bar = new QWidget;
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(18, 12, 18, 12);
    m_closeButton = new QPushButton(QStringLiteral("关闭设置"));
    m_closeButton->setShortcut(QKeySequence(Qt::Key_Escape));
    m_quitButton = new QPushButton(QStringLiteral("退出程序"));
    m_quitButton->setShortcut(QKeySequence::Quit);
    layout->addWidget(m_closeButton);
    layout->addStretch(1);
    layout->addWidget(m_quitButton);
    connect(m_closeButton, &QPushButton::clicked, this, &SettingsView::dismiss);
    connect(m_quitButton, &QPushButton::clicked, this, [] { QCoreApplication::quit(); });
    return bar;
}

void SettingsView::chooseDirectory()
{
    chooseDirectories(this, QStringLiteral("选择目录"), false, [this](const QStringList& folders) {
        if (!folders.isEmpty())
            m_features.localIndex.addIndexedRoot(folders.front());
    });
}

void SettingsView::refreshDiscovered()
{
    m_discovered->setPaths(toQStringList(m_features.localIndex.discoverMountedRoots()));
}

void SettingsView::refreshRoots()
{
    m_roots->setPaths(toQStringList(m_features.settings.settings().indexedRoots));
}

} // namespace pallix
