#include "UI/Results/ResultsArea.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "App/AppModel.h"
#include "UI/Results/EmptyResultsPanel.h"
#include "UI/Results/FolderVideoHints.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsHeaderView.h"
#include "UI/Results/ResultsListView.h"
#include "UI/Results/ResultsModel.h"

namespace pallix {

ResultsArea::ResultsArea(AppModel& model, ThumbnailProvider& thumbnails, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_thumbnails(thumbnails)
    , m_rows(std::make_unique<ResultsModel>(model))
    , m_hints(std::make_unique<FolderVideoHints>())
{
    auto* layout = new QVBoxLayout(this);
    // Room for the one-pixel outline drawn around the area.
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    m_header = new ResultsHeaderView;
    m_list = new ResultsListView(*m_rows, model, thumbnails, *m_hints);
    m_grid = new ResultsGridView(*m_rows, model, thumbnails, *m_hints);
    m_empty = new EmptyResultsPanel(model);
    m_stack = new QStackedWidget;
    for (QWidget* body : {static_cast<QWidget*>(m_list), static_cast<QWidget*>(m_grid), static_cast<QWidget*>(m_empty)})
        m_stack->addWidget(body);
    layout->addWidget(m_header);
    layout->addWidget(m_stack, 1);

    for (ResultsCanvas* canvas : {static_cast<ResultsCanvas*>(m_list), static_cast<ResultsCanvas*>(m_grid)}) {
        connect(canvas, &ResultsCanvas::openItemRequested, this, &ResultsArea::openItemRequested);
        connect(canvas, &ResultsCanvas::revealItemRequested, this, &ResultsArea::revealItemRequested);
        connect(canvas, &ResultsCanvas::scopeToItemRequested, this, &ResultsArea::scopeToItemRequested);
        connect(canvas, &ResultsCanvas::cancelInlineRenameRequested, this, &ResultsArea::cancelInlineRenameRequested);
    }
    connect(m_grid, &ResultsGridView::adjustZoomRequested, this, &ResultsArea::adjustZoomRequested);
    connect(m_empty, &EmptyResultsPanel::clearScopeRequested, this, &ResultsArea::clearScopeRequested);
    connect(m_empty, &EmptyResultsPanel::resetConstraintsRequested, this, &ResultsArea::resetConstraintsRequested);
    connect(m_empty, &EmptyResultsPanel::enableExternalIndexingRequested, this,
            &ResultsArea::enableExternalIndexingRequested);
    m_list->viewport()->installEventFilter(this);
    connect(m_rows.get(), &QAbstractItemModel::modelReset, this, &ResultsArea::updateBody);
    connect(&m_model, &AppModel::displayModeChanged, this, &ResultsArea::updateBody);
    updateBody();
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
    const bool list = m_model.displayMode() == ResultDisplayMode::List;
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
