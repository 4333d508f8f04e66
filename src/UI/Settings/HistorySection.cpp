#include "UI/Settings/HistorySection.h"

#include <QHBoxLayout>
#include <QLabel>

#include "App/Search/SearchSession.h"
#include "App/Settings/SettingsOperations.h"
#include "UI/Settings/ElidingLabel.h"
#include "UI/Settings/PathLists.h"
#include "UI/Settings/SettingsStyle.h"

namespace pallix {

using settingsstyle::TextStyle;

namespace {

QPushButton* borderlessButton(const QString& text, bool secondary)
{
    auto* button = new QPushButton(text);
    button->setFlat(true);
    if (secondary)
        settingsstyle::applySecondaryColor(button);
    return button;
}

} // namespace

const QString& HistorySection::caption()
{
    // The model keeps 15 entries, and the list shows every one of them.
    static const QString text =
        QStringLiteral("历史记录最多保留 15 条（去重置顶）。常用词会显示在搜索框下方，点击即可一键搜索。");
    return text;
}

HistorySection::HistorySection(SearchSession& search, SettingsOperations& settings, QWidget* parent)
    : QWidget(parent),
      m_search(search),
      m_history(search.history()),
      m_settings(settings),
      m_addCurrent(new QPushButton(QStringLiteral("把当前搜索加入常用词"))),
      m_termsBlock(new QWidget),
      m_terms(new RemovablePathList({}, QStringLiteral("移除常用词"),
                                    [&history = search.history()](const std::set<int>& offsets) {
                                        history.removeCommonSearchTerm(offsets);
                                    })),
      m_noTerms(settingsstyle::label(QStringLiteral("暂无常用词（你可以在搜索框下方或这里添加）。"), TextStyle::Callout,
                                     true, true)),
      m_recent(new QWidget),
      m_recentLayout(new QVBoxLayout(m_recent))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(settingsstyle::label(caption(), TextStyle::Callout, true, true));

    auto* addRow = new QHBoxLayout;
    addRow->setSpacing(10);
    addRow->addWidget(m_addCurrent);
    addRow->addStretch(1);
    layout->addLayout(addRow);
    connect(m_addCurrent, &QPushButton::clicked, this,
            [this] { m_history.addCommonSearchTerm(m_search.searchText()); });

    auto* termsLayout = new QVBoxLayout(m_termsBlock);
    termsLayout->setContentsMargins(0, 0, 0, 0);
    termsLayout->setSpacing(6);
    termsLayout->addWidget(settingsstyle::label(QStringLiteral("常用搜索词："), TextStyle::Caption, true, false));
    termsLayout->addWidget(m_terms);
    layout->addWidget(m_termsBlock);
    layout->addWidget(m_noTerms);

    m_recentLayout->setContentsMargins(0, 0, 0, 0);
    m_recentLayout->setSpacing(6);
    layout->addWidget(m_recent);

    connect(&m_search, &SearchSession::searchTextChanged, this, &HistorySection::refreshAddButton);
    connect(&m_settings, &SettingsOperations::settingsChanged, this, &HistorySection::refreshTerms);
    connect(&m_history, &SearchHistory::changed, this, &HistorySection::rebuildRecent);
    refreshAddButton();
    refreshTerms();
    rebuildRecent();
}

void HistorySection::refreshAddButton()
{
    m_addCurrent->setEnabled(!m_search.searchText().trimmed().isEmpty());
}

void HistorySection::refreshTerms()
{
    const QStringList terms = toQStringList(m_settings.settings().commonSearchTerms);
    m_terms->setPaths(terms);
    m_termsBlock->setVisible(!terms.isEmpty());
    m_noTerms->setVisible(terms.isEmpty());
}

void HistorySection::rebuildRecent()
{
    // "删除" of a row triggers this rebuild from its own click.
    clearRowsLater(m_recentLayout);
    const QStringList& history = m_history.entries();
    m_recent->setVisible(!history.isEmpty());
    if (history.isEmpty())
        return;
    m_recentLayout->addWidget(settingsstyle::label(QStringLiteral("最近搜索："), TextStyle::Caption, true, false));
    for (const QString& entry : history)
        m_recentLayout->addWidget(recentRow(entry));
    auto* clear = borderlessButton(QStringLiteral("清除最近搜索"), true);
    connect(clear, &QPushButton::clicked, this, [this] { m_settings.clearSearchHistory(); });
    auto* clearRow = new QWidget;
    auto* clearLayout = new QHBoxLayout(clearRow);
    clearLayout->setContentsMargins(0, 0, 0, 0);
    clearLayout->addWidget(clear);
    clearLayout->addStretch(1);
    m_recentLayout->addWidget(clearRow);
}

QWidget* HistorySection::recentRow(const QString& entry)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(8);
    auto* text = new ElidingLabel(entry, 1);
    settingsstyle::applyTextStyle(text, TextStyle::Callout);
    // Its own line's height, centred: stretched to the buttons' height the
    // text would sit at the top.
    layout->addWidget(text, 1, Qt::AlignVCenter);
    auto* keep = borderlessButton(QStringLiteral("加入常用"), false);
    auto* remove = borderlessButton(QStringLiteral("删除"), true);
    layout->addWidget(keep);
    layout->addWidget(remove);
    connect(keep, &QPushButton::clicked, this, [this, entry] { m_history.addCommonSearchTerm(entry); });
    connect(remove, &QPushButton::clicked, this,
            [this, entry] { m_settings.removeSearchHistoryEntry(entry); });
    return row;
}

} // namespace pallix
