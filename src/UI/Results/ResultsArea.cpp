#include "UI/Results/ResultsArea.h"

#include <utility>

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "App/Actions/ResultActions.h"
#include "App/Search/SearchSession.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Common/AfterPaint.h"
#include "UI/Results/EmptyResultsPanel.h"
#include "UI/Results/FolderVideoHints.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsHeaderView.h"
#include "UI/Results/ResultsListView.h"
#include "UI/Results/ResultsModel.h"
#include "UI/Results/ResultsPrefetch.h"

namespace pallix {

namespace {

std::unique_ptr<ResultsPrefetch> prefetchFrom(ThumbnailProvider& thumbnails, const ResultsModel& rows,
                                              const SearchSession& session)
{
    return std::make_unique<ResultsPrefetch>(
        rows, session, session.clock(),
        [&thumbnails](const QList<IndexedItem>& items, double iconSize, ResultsPrefetch::Priority priority) {
            thumbnails.prefetch(items, iconSize, false, priority);
        });
}

} // namespace

ResultsArea::ResultsArea(SearchSession& session, ResultActions* actions, ThumbnailProvider& thumbnails, QWidget* parent)
    : ResultsArea(session, actions, thumbnails, nullptr, parent)
{
}

ResultsArea::ResultsArea(SearchSession& session, ResultActions* actions, ThumbnailProvider& thumbnails,
                         std::unique_ptr<ResultsPrefetch> prefetch,
                         QWidget* parent)
    : QWidget(parent)
    , m_session(session)
    , m_thumbnails(thumbnails)
    , m_rows(std::make_unique<ResultsModel>(session))
    , m_hints(std::make_unique<FolderVideoHints>())
    , m_prefetch(prefetch ? std::move(prefetch) : prefetchFrom(thumbnails, *m_rows, session))
{
    auto* layout = new QVBoxLayout(this);
    // Room for the one-pixel outline drawn around the area.
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    m_header = new ResultsHeaderView;
    m_list = new ResultsListView(*m_rows, session, thumbnails, *m_hints);
    m_grid = new ResultsGridView(*m_rows, session, thumbnails, *m_hints);
    m_empty = new EmptyResultsPanel(session);
    m_stack = new QStackedWidget;
    for (QWidget* body : {static_cast<QWidget*>(m_list), static_cast<QWidget*>(m_grid), static_cast<QWidget*>(m_empty)})
        m_stack->addWidget(body);
    layout->addWidget(m_header);
    layout->addWidget(m_stack, 1);

    connectCanvas(m_list);
    connectCanvas(m_grid);
    connect(m_grid, &ResultsGridView::adjustZoomRequested, this, &ResultsArea::adjustZoomRequested);
    connect(m_empty, &EmptyResultsPanel::clearScopeRequested, this, &ResultsArea::clearScopeRequested);
    connect(m_empty, &EmptyResultsPanel::resetConstraintsRequested, this, &ResultsArea::resetConstraintsRequested);
    connect(m_empty, &EmptyResultsPanel::enableExternalIndexingRequested, this,
            &ResultsArea::enableExternalIndexingRequested);
    m_list->viewport()->installEventFilter(this);
    connect(m_rows.get(), &QAbstractItemModel::modelReset, this, &ResultsArea::updateBody);
    connect(&m_session.constraints(), &SearchConstraints::displayModeChanged, this, &ResultsArea::updateBody);
    // The new rows are painted before their thumbnails are asked for.
    auto* prefetchAfterPaint = new AfterPaint([this] { prefetchIfChanged(); }, this);
    connect(m_rows.get(), &QAbstractItemModel::modelReset, prefetchAfterPaint, &AfterPaint::request);
    connect(&m_session.constraints(), &SearchConstraints::gridZoomChanged, this, &ResultsArea::prefetchIfChanged);
    if (actions)
        connectActions(*actions);
    updateBody();
}

void ResultsArea::connectActions(ResultActions& actions)
{
    SearchSession& session = m_session;
    const auto item = [this, &actions](auto signal, void (ResultActions::*action)(const IndexedItem&)) {
        connect(this, signal, this, [&actions, action](const IndexedItem& it) { (actions.*action)(it); });
    };
    item(&ResultsArea::openItemRequested, &ResultActions::open);
    item(&ResultsArea::revealItemRequested, &ResultActions::reveal);
    item(&ResultsArea::scopeToItemRequested, &ResultActions::scopeToItem);
    item(&ResultsArea::copyNameRequested, &ResultActions::copyName);
    item(&ResultsArea::copyPathRequested, &ResultActions::copyPath);
    item(&ResultsArea::copyFileRequested, &ResultActions::copyFileToPasteboard);
    item(&ResultsArea::renameRequested, &ResultActions::beginInlineRename);
    item(&ResultsArea::duplicateRequested, &ResultActions::duplicateItem);
    item(&ResultsArea::moveToTrashRequested, &ResultActions::moveItemToTrash);
    connect(this, &ResultsArea::openParentRequested, this,
            [&actions](const IndexedItem& it) { actions.openPath(QString::fromUtf8(it.parentPath())); });
    connect(this, &ResultsArea::commitInlineRenameRequested, this, [&actions] { actions.commitInlineRename(); });
    connect(this, &ResultsArea::cancelInlineRenameRequested, this, [&actions] { actions.cancelInlineRename(); });
    connect(this, &ResultsArea::inlineRenameEditingEnded, this, [&session, &actions] {
        if (!session.inlineRename().targetID().isEmpty())
            actions.commitInlineRename();
    });
    connect(this, &ResultsArea::adjustZoomRequested, this,
            [&session](double delta) { session.constraints().adjustGridZoom(delta); });
    connect(this, &ResultsArea::clearScopeRequested, this, [&session] { session.constraints().clearScope(); });
    connect(this, &ResultsArea::resetConstraintsRequested, this,
            [&session] { session.constraints().resetSearchConstraints(); });
}

void ResultsArea::connectCanvas(ResultsCanvas* canvas)
{
    connect(canvas, &ResultsCanvas::openItemRequested, this, &ResultsArea::openItemRequested);
    connect(canvas, &ResultsCanvas::revealItemRequested, this, &ResultsArea::revealItemRequested);
    connect(canvas, &ResultsCanvas::scopeToItemRequested, this, &ResultsArea::scopeToItemRequested);
    connect(canvas, &ResultsCanvas::cancelInlineRenameRequested, this, &ResultsArea::cancelInlineRenameRequested);
    connect(canvas, &ResultsCanvas::commitInlineRenameRequested, this, &ResultsArea::commitInlineRenameRequested);
    connect(canvas, &ResultsCanvas::inlineRenameEditingEnded, this, &ResultsArea::inlineRenameEditingEnded);
    connect(canvas, &ResultsCanvas::contextMenuRequested, this, &ResultsArea::showContextMenu);
}

void ResultsArea::showContextMenu(const IndexedItem& item, QPoint globalPos)
{
    auto* menu = new ResultContextMenu(item, this);
    connect(menu, &ResultContextMenu::entryChosen, this, &ResultsArea::runEntry);
    menu->popup(globalPos);
}

void ResultsArea::runEntry(ResultContextMenu::Entry entry, const IndexedItem& item)
{
    using Entry = ResultContextMenu::Entry;
    switch (entry) {
    case Entry::ScopeToItem: emit scopeToItemRequested(item); break;
    case Entry::Open: emit openItemRequested(item); break;
    case Entry::OpenParent: emit openParentRequested(item); break;
    case Entry::Reveal: emit revealItemRequested(item); break;
    case Entry::CopyName: emit copyNameRequested(item); break;
    case Entry::CopyPath: emit copyPathRequested(item); break;
    case Entry::CopyFile: emit copyFileRequested(item); break;
    case Entry::Rename: emit renameRequested(item); break;
    case Entry::Duplicate: emit duplicateRequested(item); break;
    case Entry::MoveToTrash: emit moveToTrashRequested(item); break;
    case Entry::Count: break;
    }
}

// Only while on screen: coming on screen runs a prefetch anyway.
void ResultsArea::prefetchIfChanged()
{
    if (isVisible())
        m_prefetch->runIfChanged();
}

ResultsArea::~ResultsArea()
{
    // The bodies hold references to the rows and the hints: they go first,
    // unwatched, so no event of a half-destroyed list reaches the filter.
    m_list->viewport()->removeEventFilter(this);
    delete m_stack;
}

void ResultsArea::setExternalIndexingCTA(const std::optional<ExternalIndexingCTA>& cta)
{
    m_empty->setOffer(cta ? std::optional(EmptyResultsPanel::Offer{cta->title, cta->actionTitle}) : std::nullopt);
}

QWidget* ResultsArea::currentBody() const
{
    return m_stack->currentWidget();
}

void ResultsArea::updateBody()
{
    const bool list = m_session.constraints().displayMode() == ResultDisplayMode::List;
    m_header->setVisible(list);
    QWidget* body = m_rows->isEmpty() ? static_cast<QWidget*>(m_empty)
                    : list            ? static_cast<QWidget*>(m_list)
                                      : static_cast<QWidget*>(m_grid);
    m_stack->setCurrentWidget(body);
}

bool ResultsArea::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && watched == m_list->viewport())
        m_header->setColumnsWidth(static_cast<QWidget*>(watched)->width());
    return QWidget::eventFilter(watched, event);
}

void ResultsArea::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Coming on screen shows the first image-content matches only again.
    m_rows->setShowAllFuzzy(false);
    m_prefetch->run();
}

void ResultsArea::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.06f), 1));
    painter.drawPath(outline);
}

} // namespace pallix
