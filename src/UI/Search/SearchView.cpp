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

#include "App/AppModel.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Search/FilterPanel.h"
#include "UI/Search/FilterSummaryRow.h"
#include "UI/Search/KeyDownMonitor.h"
#include "UI/Search/SearchAssistRow.h"
#include "UI/Search/SearchKeyHandler.h"
#include "UI/Search/SearchToolbar.h"
#include "UI/Search/WelcomeSheet.h"
#include "UI/Common/AppNotifications.h"
#include "UI/Common/Symbols.h"

namespace pallix {

SearchView::SearchView(AppModel& model, ThumbnailProvider& thumbnails, QWidget* parent)
    : QWidget(parent), m_model(model)
{
    auto* root = new QVBoxLayout(this);
    root->setSpacing(6);
    root->addWidget(makeSearchRow());
    m_assistRow = new SearchAssistRow(model, this);
    root->addWidget(m_assistRow);
    m_toolbar = new SearchToolbar(model, this);
    root->addWidget(m_toolbar);
    m_filterPanel = new FilterPanel(model, this);
    m_filterPanel->setVisible(false);
    root->addWidget(m_filterPanel);
    m_filterSummary = new FilterSummaryRow(model, this);
    root->addWidget(m_filterSummary);
    m_filterAnimation = new QPropertyAnimation(m_filterPanel, "maximumHeight", this);
    m_filterAnimation->setDuration(180);
    m_filterAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_filterAnimation, &QPropertyAnimation::finished, this, &SearchView::finishFilterPanelAnimation);
    connect(m_toolbar, &SearchToolbar::filterPanelExpandedChanged, this, &SearchView::setFilterPanelExpanded);
    m_results = new ResultsArea(model, thumbnails, this);
    root->addWidget(m_results, 1);

    installZoomShortcuts();
    connectResultsArea();
    connect(&m_model, &AppModel::searchTextChanged, this, &SearchView::showModelText);
    connect(&m_model, &AppModel::selectedItemIDChanged, this, &SearchView::cancelRenameIfSelectionMoved);
    connect(&m_model, &AppModel::settingsChanged, this, &SearchView::updateExternalIndexingCTA);
    connect(&m_model, &AppModel::resultsChanged, this, &SearchView::updateExternalIndexingCTA);
    connect(&AppNotifications::shared(), &AppNotifications::focusSearchField, this,
            [this] { m_field->setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);

    m_keys = std::make_unique<SearchKeyHandler>(model, this, m_field, m_results);
    m_keyMonitor = new KeyDownMonitor([this](QKeyEvent& event) { return m_keys->handle(event); }, this);
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
    add(Qt::CTRL | Qt::Key_Equal, [this] { m_model.adjustGridZoom(1); });
    add(Qt::CTRL | Qt::Key_Plus, [this] { m_model.adjustGridZoom(1); });
    add(Qt::CTRL | Qt::Key_Minus, [this] { m_model.adjustGridZoom(-1); });
    add(Qt::CTRL | Qt::Key_0, [this] { m_model.resetGridZoom(); });
}

void SearchView::connectResultsArea()
{
    ResultActions& actions = m_model.resultActions();
    AppModel& model = m_model;
    ResultsArea* r = m_results;
    connect(r, &ResultsArea::adjustZoomRequested, this, [&model](double delta) { model.adjustGridZoom(delta); });
    connect(r, &ResultsArea::openItemRequested, this, [&actions](const IndexedItem& item) { actions.open(item); });
    connect(r, &ResultsArea::revealItemRequested, this, [&actions](const IndexedItem& item) { actions.reveal(item); });
    connect(r, &ResultsArea::scopeToItemRequested, this,
            [&actions](const IndexedItem& item) { actions.scopeToItem(item); });
    connect(r, &ResultsArea::openParentRequested, this, [&actions](const IndexedItem& item) {
        actions.openPath(QString::fromStdString(item.parentPath()));
    });
    connect(r, &ResultsArea::copyNameRequested, this, [&actions](const IndexedItem& item) { actions.copyName(item); });
    connect(r, &ResultsArea::copyPathRequested, this, [&actions](const IndexedItem& item) { actions.copyPath(item); });
    connect(r, &ResultsArea::copyFileRequested, this,
            [&actions](const IndexedItem& item) { actions.copyFileToPasteboard(item); });
    connect(r, &ResultsArea::renameRequested, this,
            [&actions](const IndexedItem& item) { actions.beginInlineRename(item); });
    connect(r, &ResultsArea::duplicateRequested, this,
            [&actions](const IndexedItem& item) { actions.duplicateItem(item); });
    connect(r, &ResultsArea::moveToTrashRequested, this,
            [&actions](const IndexedItem& item) { actions.moveItemToTrash(item); });
    connect(r, &ResultsArea::commitInlineRenameRequested, this, [&actions] { actions.commitInlineRename(); });
    connect(r, &ResultsArea::cancelInlineRenameRequested, this, [&actions] { actions.cancelInlineRename(); });
    connect(r, &ResultsArea::inlineRenameEditingEnded, this, [&model, &actions] {
        if (!model.inlineRenameTargetID().isEmpty())
            actions.commitInlineRename();
    });
    connect(r, &ResultsArea::clearScopeRequested, this, [&model] {
        if (!model.scopedPath().isEmpty() || model.scopeHistoryIndex() >= 1)
            model.applyScopedPath(QString(), true);
    });
    connect(r, &ResultsArea::resetConstraintsRequested, this, [&model] { model.resetSearchConstraints(); });
    connect(r, &ResultsArea::enableExternalIndexingRequested, this,
            [&model] { model.settingsOperations().updateAutoIndexExternalVolumes(true); });
}

void SearchView::userEdited(const QString& text)
{
    m_model.noteUserSearchInput();
    m_model.setSearchText(text);
    m_model.scheduleSearch(false, false);
}

void SearchView::clearSearch()
{
    m_model.setSearchText(QString());
    m_model.scheduleSearch(true, false);
}

// Writing only a different text keeps the caret and the selection of the field.
void SearchView::showModelText()
{
    if (m_field->text() != m_model.searchText())
        m_field->setText(m_model.searchText());
    m_clearButton->setVisible(!m_model.searchText().isEmpty());
}

void SearchView::submit()
{
    if (m_model.selectedItemID().isEmpty())
        m_model.selectFirstResult();
    m_model.resultActions().openSelected();
}

// Moving the selection away from the item being renamed ends the rename
// without committing it.
void SearchView::cancelRenameIfSelectionMoved()
{
    const QString target = m_model.inlineRenameTargetID();
    if (target.isEmpty() || m_model.selectedItemID() == target)
        return;
    m_model.setInlineRenameTargetID(QString());
    m_model.setInlineRenameDraft(QString());
}

void SearchView::updateExternalIndexingCTA()
{
    std::optional<ResultsArea::ExternalIndexingCTA> cta;
    if (!m_model.settings().autoIndexExternalVolumes && m_model.hasMountedRemovableVolumes())
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
    m_model.scheduleSearch(true, false);
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
    if (m_welcomeSheet || m_model.welcomeSheetDismissed())
        return;
    m_welcomeSheet = new WelcomeSheet(window());
    m_welcomeSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_welcomeSheet, &QDialog::finished, this, [this] { m_model.markWelcomeSheetDismissed(); });
    m_welcomeSheet->open();
}

} // namespace pallix
