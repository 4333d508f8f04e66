#include "UI/Search/SearchView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include "App/Actions/ResultActions.h"
#include "App/Search/SearchSession.h"
#include "App/Settings/SettingsOperations.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Search/FilterPanel.h"
#include "UI/Search/FilterSummaryRow.h"
#include "UI/Search/KeyDownMonitor.h"
#include "UI/Search/SearchAssistRow.h"
#include "UI/Search/SearchKeyHandler.h"
#include "UI/Search/SearchToolbar.h"
#include "UI/Search/TextEditingKeys.h"
#include "UI/Search/WelcomeSheet.h"
#include "UI/Common/AppNotifications.h"
#include "UI/Common/Symbols.h"

namespace pallix {

SearchView::SearchView(SearchSession& session, Services services, ThumbnailProvider& thumbnails, QWidget* parent)
    : QWidget(parent), m_session(session), m_services(std::move(services))
{
    auto* root = new QVBoxLayout(this);
    root->setSpacing(6);
    root->addWidget(makeSearchRow());
    m_assistRow = new SearchAssistRow(session, m_services.settings, this);
    root->addWidget(m_assistRow);
    m_toolbar = new SearchToolbar(session, m_services.settings, this);
    root->addWidget(m_toolbar);
    m_filterPanel = new FilterPanel(session.constraints(), this);
    m_filterPanel->setVisible(false);
    root->addWidget(m_filterPanel);
    m_filterSummary = new FilterSummaryRow(session.constraints(), this);
    root->addWidget(m_filterSummary);
    m_filterAnimation = new QPropertyAnimation(m_filterPanel, "maximumHeight", this);
    m_filterAnimation->setDuration(180);
    m_filterAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_filterAnimation, &QPropertyAnimation::finished, this, &SearchView::finishFilterPanelAnimation);
    connect(m_toolbar, &SearchToolbar::filterPanelExpandedChanged, this, &SearchView::setFilterPanelExpanded);
    m_results = new ResultsArea(session, &m_services.actions, thumbnails, this);
    root->addWidget(m_results, 1);

    installZoomShortcuts();
    connect(m_results, &ResultsArea::enableExternalIndexingRequested, this,
            [this] { m_services.settings.updateAutoIndexExternalVolumes(true); });
    connect(&m_session, &SearchSession::searchTextChanged, this, &SearchView::showModelText);
    connect(&m_session, &SearchSession::selectedItemIDChanged, this, &SearchView::cancelRenameIfSelectionMoved);
    connect(&m_session, &SearchSession::settingsChanged, this, &SearchView::updateExternalIndexingCTA);
    connect(&m_session, &SearchSession::resultsChanged, this, &SearchView::updateExternalIndexingCTA);
    connect(&AppNotifications::shared(), &AppNotifications::focusSearchField, this,
            [this] { m_field->setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);

    m_keys = std::make_unique<SearchKeyHandler>(session, m_services.actions, this, m_field, m_results);
    m_keyMonitor = new KeyDownMonitor([this](QKeyEvent& event) { return m_keys->handle(event); }, this);
    new TextEditingKeys(this);
    showModelText();
    updateExternalIndexingCTA();
}

SearchView::~SearchView() = default;

QWidget* SearchView::makeSearchRow()
{
    auto* box = new QFrame;
    box->setObjectName(QStringLiteral("searchBox"));
    box->setFixedHeight(30);
    box->setStyleSheet(QStringLiteral("QFrame#searchBox { background: palette(base); "
                                      "border: 1px solid rgba(0, 0, 0, 31); border-radius: 8px; }"));
    auto* boxLayout = new QHBoxLayout(box);
    boxLayout->setContentsMargins(10, 0, 10, 0);
    boxLayout->setSpacing(8);
    auto* glass = new QLabel;
    glass->setPixmap(symbols::icon(QStringLiteral("magnifyingglass")).pixmap(16, 16));
    boxLayout->addWidget(glass);

    m_field = new QLineEdit;
    m_field->setObjectName(QStringLiteral("searchField"));
    m_field->setPlaceholderText(QStringLiteral("请输入文件名"));
    m_field->setFrame(false);
    m_field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    QFont font = m_field->font();
    font.setPixelSize(14);
    m_field->setFont(font);
    connect(m_field, &QLineEdit::textEdited, this, &SearchView::userEdited);
    connect(m_field, &QLineEdit::returnPressed, this, &SearchView::submit);
    boxLayout->addWidget(m_field, 1);

    m_clearButton = new QToolButton;
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setIcon(symbols::icon(QStringLiteral("xmark.circle.fill")));
    m_clearButton->setAutoRaise(true);
    m_clearButton->setCursor(Qt::ArrowCursor);
    m_clearButton->setFocusPolicy(Qt::NoFocus);
    connect(m_clearButton, &QToolButton::clicked, this, &SearchView::clearSearch);
    boxLayout->addWidget(m_clearButton);

    m_settingsButton = new QPushButton(symbols::icon(QStringLiteral("gearshape")), QStringLiteral("设置"));
    m_settingsButton->setObjectName(QStringLiteral("settingsButton"));
    connect(m_settingsButton, &QPushButton::clicked, this, &SearchView::settingsRequested);

    auto* row = new QWidget;
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(8);
    rowLayout->addWidget(box, 1);
    rowLayout->addWidget(m_settingsButton);
    return row;
}

// Ctrl with "=" or "+" zooms the grid in, "-" out, "0" back to 1.0. They act
// anywhere in the window, also while the search field has the focus.
void SearchView::installZoomShortcuts()
{
    const auto add = [this](QKeyCombination keys, auto action) {
        auto* shortcut = new QShortcut(QKeySequence(keys), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    add(Qt::CTRL | Qt::Key_Equal, [this] { m_session.constraints().adjustGridZoom(1); });
    add(Qt::CTRL | Qt::Key_Plus, [this] { m_session.constraints().adjustGridZoom(1); });
    add(Qt::CTRL | Qt::Key_Minus, [this] { m_session.constraints().adjustGridZoom(-1); });
    add(Qt::CTRL | Qt::Key_0, [this] { m_session.constraints().resetGridZoom(); });
}

void SearchView::userEdited(const QString& text)
{
    m_session.userTyped(text);
    m_clearButton->setVisible(!text.isEmpty());
}

void SearchView::clearSearch()
{
    m_session.setSearchText(QString());
    m_session.scheduleSearch(true, false);
}

// A text set elsewhere (a chip, a history pick). After a keystroke the field
// already holds it; writing only a different text keeps its caret and selection.
void SearchView::showModelText()
{
    if (m_field->text() != m_session.searchText())
        m_field->setText(m_session.searchText());
    m_clearButton->setVisible(!m_session.searchText().isEmpty());
}

void SearchView::submit()
{
    if (m_session.selectedItemID().isEmpty())
        m_session.selectFirstResult();
    m_services.actions.openSelected();
}

// Moving the selection away from the item being renamed ends the rename
// without committing it.
void SearchView::cancelRenameIfSelectionMoved()
{
    const QString target = m_session.inlineRename().targetID();
    if (target.isEmpty() || m_session.selectedItemID() == target)
        return;
    m_session.inlineRename().setTargetID(QString());
    m_session.inlineRename().setDraft(QString());
}

void SearchView::updateExternalIndexingCTA()
{
    std::optional<ResultsArea::ExternalIndexingCTA> cta;
    if (!m_session.settings().autoIndexExternalVolumes && m_services.hasMountedRemovableVolumes
        && m_services.hasMountedRemovableVolumes())
        cta = ResultsArea::ExternalIndexingCTA{
            QStringLiteral("检测到你连接了外接硬盘，但当前未开启外接硬盘索引，所以外接盘里的图片按名字可能搜不到。"),
            QStringLiteral("开启外接硬盘索引并重新扫描")};
    m_results->setExternalIndexingCTA(cta);
}

// The panel slides open and shut over 0.18 s; the summary follows at once.
void SearchView::setFilterPanelExpanded(bool expanded)
{
    m_filterSummary->setPanelExpanded(expanded);
    m_filterAnimation->stop();
    const int from = m_filterPanel->isVisible() ? m_filterPanel->height() : 0;
    m_filterPanel->setMaximumHeight(from);
    m_filterPanel->show();
    m_filterAnimation->setStartValue(from);
    m_filterAnimation->setEndValue(expanded ? m_filterPanel->sizeHint().height() : 0);
    m_filterAnimation->start();
}

void SearchView::finishFilterPanelAnimation()
{
    if (m_toolbar->isFilterPanelExpanded())
        m_filterPanel->setMaximumHeight(QWIDGETSIZE_MAX);
    else
        m_filterPanel->hide();
}

void SearchView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    m_field->setFocus(Qt::OtherFocusReason);
    m_session.scheduleSearch(true, false);
    // After the window is on screen, so that the sheet has a window to sit on.
    QMetaObject::invokeMethod(this, &SearchView::presentWelcomeSheetIfNeeded, Qt::QueuedConnection);
}

WelcomeSheet* SearchView::welcomeSheet() const
{
    return m_welcomeSheet;
}

// Any way of closing it counts: the button, Return, Esc or the window's close.
void SearchView::presentWelcomeSheetIfNeeded()
{
    if (m_welcomeSheet || (m_services.welcomeSheetDismissed && m_services.welcomeSheetDismissed()))
        return;
    m_welcomeSheet = new WelcomeSheet(window());
    m_welcomeSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_welcomeSheet, &QDialog::finished, this, [this] {
        if (m_services.markWelcomeSheetDismissed)
            m_services.markWelcomeSheetDismissed();
    });
    m_welcomeSheet->open();
}

} // namespace pallix
