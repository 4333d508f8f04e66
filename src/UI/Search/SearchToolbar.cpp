#include "UI/Search/SearchToolbar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

#include "App/Search/SearchSession.h"
#include "App/Settings/SettingsOperations.h"
#include "Core/Models/AppEdition.h"
#include "UI/Common/Symbols.h"

namespace pallix {

namespace {

QToolButton* modeButton(const QString& symbol, const QString& tip)
{
    auto* button = new QToolButton;
    button->setIcon(symbols::icon(symbol));
    button->setToolTip(tip);
    button->setFixedSize(28, 24);
    button->setCheckable(true);
    button->setAutoRaise(true);
    return button;
}

QLabel* captionLabel()
{
    auto* label = new QLabel;
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

SearchToolbar::SearchToolbar(SearchSession& session, SettingsOperations& settings, QWidget* parent)
    : QWidget(parent), m_session(session), m_settings(settings)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    m_filterToggle = new QToolButton;
    m_filterToggle->setIcon(symbols::icon(QStringLiteral("slider.horizontal.3")));
    m_filterToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_filterToggle->setText(QStringLiteral("展开筛选"));
    connect(m_filterToggle, &QToolButton::clicked, this, &SearchToolbar::toggleFilterPanel);
    row->addWidget(m_filterToggle, 0, Qt::AlignTop);
    row->addWidget(makeDisplayModeSwitch(), 0, Qt::AlignTop);
    row->addStretch(1);
    row->addWidget(makeRightGroup(), 0, Qt::AlignTop);

    connect(&m_session.constraints(), &SearchConstraints::displayModeChanged, this, &SearchToolbar::updateDisplayMode);
    connect(&m_session, &SearchSession::settingsChanged, this, &SearchToolbar::updateScopes);
    connect(&m_session, &SearchSession::isSearchingChanged, this, &SearchToolbar::updateProgress);
    connect(&m_session, &SearchSession::searchingHintChanged, this, &SearchToolbar::updateProgress);
    for (auto signal : {&SearchSession::resultsChanged, &SearchSession::serverResultsChanged,
                        &SearchSession::summaryInputsChanged, &SearchSession::searchTextChanged})
        connect(&m_session, signal, this, &SearchToolbar::updateSummary);
    updateDisplayMode();
    updateScopes();
    updateProgress();
    updateSummary();
}

QWidget* SearchToolbar::makeDisplayModeSwitch()
{
    auto* modes = new QWidget;
    auto* layout = new QHBoxLayout(modes);
    layout->setContentsMargins(2, 0, 0, 0);
    layout->setSpacing(4);
    m_gridButton = modeButton(QStringLiteral("square.grid.2x2"), QStringLiteral("网格"));
    m_listButton = modeButton(QStringLiteral("list.bullet"), QStringLiteral("列表"));
    SearchConstraints& constraints = m_session.constraints();
    connect(m_gridButton, &QToolButton::clicked, this,
            [&constraints] { constraints.setDisplayMode(ResultDisplayMode::Grid); });
    connect(m_listButton, &QToolButton::clicked, this,
            [&constraints] { constraints.setDisplayMode(ResultDisplayMode::List); });
    layout->addWidget(m_gridButton);
    layout->addWidget(m_listButton);
    return modes;
}

QWidget* SearchToolbar::makeRightGroup()
{
    auto* group = new QWidget;
    m_rightLayout = new QHBoxLayout(group);
    m_rightLayout->setContentsMargins(0, 2, 0, 0);
    m_rightLayout->setSpacing(14);

    auto* refresh = new QToolButton;
    refresh->setIcon(symbols::icon(QStringLiteral("arrow.clockwise")));
    refresh->setText(QStringLiteral("刷新搜索"));
    refresh->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    refresh->setAutoRaise(true);
    connect(refresh, &QToolButton::clicked, this, [this] { m_session.scheduleSearch(true, true); });
    m_rightLayout->addWidget(refresh);

    auto* scopes = new QHBoxLayout;
    scopes->setSpacing(16);
    m_localScope = new QCheckBox(QStringLiteral("本机 + 外接"));
    connect(m_localScope, &QCheckBox::clicked, this, &SearchToolbar::setLocalScope);
    scopes->addWidget(m_localScope);
    if (AppEditionInfo::current() == AppEdition::Mardell) {
        m_serverScope = new QCheckBox(QStringLiteral("共享盘"));
        connect(m_serverScope, &QCheckBox::clicked, this, &SearchToolbar::setServerScope);
        scopes->addWidget(m_serverScope);
    }
    m_rightLayout->addLayout(scopes);
    m_rightLayout->addSpacing(8);

    auto* status = new QWidget;
    status->setMinimumWidth(260);
    auto* statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(8);
    statusLayout->addStretch(1);
    m_progress = new QWidget;
    auto* progressLayout = new QHBoxLayout(m_progress);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(6);
    auto* spinner = new QProgressBar;
    spinner->setRange(0, 0);  // busy: no known end
    spinner->setFixedSize(48, 10);
    spinner->setTextVisible(false);
    progressLayout->addWidget(spinner);
    m_progressHint = captionLabel();
    progressLayout->addWidget(m_progressHint);
    statusLayout->addWidget(m_progress);
    m_summary = captionLabel();
    m_summary->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statusLayout->addWidget(m_summary);
    m_rightLayout->addWidget(status);
    return group;
}

void SearchToolbar::toggleFilterPanel()
{
    m_filterPanelExpanded = !m_filterPanelExpanded;
    m_filterToggle->setText(m_filterPanelExpanded ? QStringLiteral("收起筛选") : QStringLiteral("展开筛选"));
    m_rightLayout->setContentsMargins(0, m_filterPanelExpanded ? 8 : 2, 0, 0);
    emit filterPanelExpandedChanged(m_filterPanelExpanded);
}

void SearchToolbar::setLocalScope(bool on)
{
    m_settings.applyLocalSearchScope(on);
}

void SearchToolbar::setServerScope(bool on)
{
    m_settings.applyServerSearchScope(on);
}

void SearchToolbar::updateDisplayMode()
{
    m_gridButton->setChecked(m_session.constraints().displayMode() == ResultDisplayMode::Grid);
    m_listButton->setChecked(m_session.constraints().displayMode() == ResultDisplayMode::List);
}

void SearchToolbar::updateScopes()
{
    m_localScope->setChecked(m_session.settings().includeLocalInSearch);
    if (m_serverScope)
        m_serverScope->setChecked(m_session.settings().includeServerInSearch);
}

void SearchToolbar::updateProgress()
{
    m_progress->setVisible(m_session.isSearching());
    const QString hint = m_session.searchingHint();
    m_progressHint->setText(hint.isEmpty() ? QStringLiteral("正在搜索…") : hint);
}

void SearchToolbar::updateSummary()
{
    m_summary->setText(m_session.resultSummaryText());
}

} // namespace pallix
