#include "UI/Browser/FolderBrowserGrid.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>

#include "App/Browser/FolderBrowserModel.h"
#include "App/Paths/ShownNames.h"
#include "App/Paths/SystemPaths.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Common/GridMetrics.h"
#include "UI/Common/PointerPlace.h"
#include "UI/Common/ResultPainting.h"
#include "UI/Results/FolderVideoHints.h"

namespace pallix {

namespace {

namespace paint = ResultPainting;

constexpr const GridMetrics::Spec& kSpec = GridMetrics::kFolderBrowserGrid;

QString qs(std::string_view s)
{
    return QString::fromUtf8(s);
}

} // namespace

FolderBrowserGrid::FolderBrowserGrid(FolderBrowserModel& model, ThumbnailProvider& thumbnails,
                                     FolderVideoHints& hints, QWidget* parent)
    : QAbstractScrollArea(parent),
      m_model(model),
      m_thumbnails(thumbnails),
      m_hints(hints),
      // Rounder cards than the results grid's, a lighter outline, and no hover.
      m_cards(CardPainting::CardStyle{8, 0.65, 1.0})
{
    setFrameShape(QFrame::NoFrame);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(24);
    viewport()->setMouseTracking(true);
    m_textOverlay = new SelectableTextOverlay(viewport());
    connect(m_textOverlay, &SelectableTextOverlay::pressed, &m_model, &FolderBrowserModel::setSelectedItemID);
    connect(&m_model, &FolderBrowserModel::itemsChanged, this, [this] {
        setDropTarget(-1);
        m_pressIndex = -1;
        m_selectedIndex = std::nullopt;
        relayout();
    });
    connect(&m_model, &FolderBrowserModel::selectionChanged, this, [this] {
        m_selectedIndex = std::nullopt;
        viewport()->update();
        placeSelectableTexts();
    });
    connect(&m_thumbnails, &ThumbnailProvider::previewsChanged, viewport(), qOverload<>(&QWidget::update));
    connect(&m_hints, &FolderVideoHints::hintsArrived, viewport(), qOverload<>(&QWidget::update));
    relayout();
}

void FolderBrowserGrid::setZoom(double zoom)
{
    if (zoom == m_zoom)
        return;
    m_zoom = zoom;
    relayout();
}

GridMetrics::Card FolderBrowserGrid::card(int index) const
{
    return GridMetrics::card(kSpec, GridMetrics::cardKind(m_model.items().at(index)), m_zoom);
}

int FolderBrowserGrid::cardHeight(int index) const
{
    const int name = QFontMetrics(paint::font(kSpec.namePixelSize.at(m_zoom))).height();
    const int subtitle = QFontMetrics(paint::font(kSpec.subtitlePixelSize.at(m_zoom))).height();
    return GridMetrics::cardHeight(card(index), name, subtitle);
}

void FolderBrowserGrid::relayout()
{
    m_columns = GridMetrics::columns(kSpec, viewport()->width() - 2 * kSpec.padding, m_zoom);
    m_rowTops.clear();
    m_rowHeights.clear();
    const QList<IndexedItem>& items = m_model.items();
    int y = kSpec.padding;
    for (qsizetype first = 0; first < items.size(); first += m_columns.count) {
        int height = 0;
        for (qsizetype i = first; i < std::min(items.size(), first + m_columns.count); ++i)
            height = std::max(height, cardHeight(static_cast<int>(i)));
        m_rowTops.push_back(y);
        m_rowHeights.push_back(height);
        y += height + kSpec.rowSpacing;
    }
    m_contentHeight = m_rowTops.empty() ? 0 : y - kSpec.rowSpacing + kSpec.padding;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, m_contentHeight - viewport()->height()));
    viewport()->update();
    hoverUnderPointer();
    placeSelectableTexts();
}

// A listing or a scroll moves the cards under a resting pointer, and no
// mouse move comes: the card under it is found again at once.
void FolderBrowserGrid::hoverUnderPointer()
{
    const std::optional<QPoint> pointer = pointerIn(*viewport());
    m_hovered = pointer ? cardAt(toContent(*pointer)) : -1;
}

QRect FolderBrowserGrid::cardRect(int index) const
{
    if (index < 0 || index >= m_model.items().size())
        return {};
    const int row = index / m_columns.count;
    const int column = index % m_columns.count;
    const double x = kSpec.padding + m_columns.left + column * (m_columns.width + kSpec.columnSpacing);
    return QRect(static_cast<int>(x), m_rowTops.at(static_cast<std::size_t>(row)), static_cast<int>(m_columns.width),
                 m_rowHeights.at(static_cast<std::size_t>(row)));
}

QRectF FolderBrowserGrid::previewRect(int index) const
{
    const bool raster = m_model.items().at(index).showsGridRasterPreview();
    return GridMetrics::previewRect(kSpec, card(index), cardRect(index), raster, m_zoom);
}

int FolderBrowserGrid::cardAt(QPoint pos) const
{
    const auto row = std::upper_bound(m_rowTops.begin(), m_rowTops.end(), pos.y()) - m_rowTops.begin() - 1;
    if (row < 0)
        return -1;
    const double x = pos.x() - kSpec.padding - m_columns.left;
    const int column = static_cast<int>(std::floor(x / (m_columns.width + kSpec.columnSpacing)));
    if (x < 0 || column >= m_columns.count)
        return -1;
    const int index = static_cast<int>(row) * m_columns.count + column;
    return cardRect(index).contains(pos) ? index : -1;
}

QPoint FolderBrowserGrid::toContent(QPoint viewportPos) const
{
    return viewportPos + QPoint(0, verticalScrollBar()->value());
}

void FolderBrowserGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void FolderBrowserGrid::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const int scroll = verticalScrollBar()->value();
    const QRect visible = event->rect().translated(0, scroll);
    painter.translate(0, -scroll);
    for (std::size_t row = 0; row < m_rowTops.size(); ++row) {
        if (m_rowTops[row] > visible.bottom() || m_rowTops[row] + m_rowHeights[row] < visible.top())
            continue;
        const int first = static_cast<int>(row) * m_columns.count;
        for (int i = first; i < std::min(static_cast<int>(m_model.items().size()), first + m_columns.count); ++i)
            paintCard(painter, i, cardRect(i));
    }
}

QString FolderBrowserGrid::subtitle(const IndexedItem& item, bool folderHasVideo)
{
    if (item.isDirectory() && folderHasVideo)
        return QStringLiteral("文件夹 · 含视频");
    return qs(item.kindDescription());
}

void FolderBrowserGrid::paintCard(QPainter& painter, int index, const QRect& rect)
{
    const IndexedItem& item = m_model.items().at(index);
    const double iconSize = card(index).iconSize;
    CardPainting::Card card;
    card.rect = rect;
    card.preview = previewRect(index);
    card.image = m_thumbnails.image(item, iconSize, true, false, ThumbnailProvider::PreviewPriority::Normal);
    const TextBox box = textBox(index);
    card.textLeft = box.left;
    card.textWidth = box.width;
    card.nameTop = box.nameTop;
    card.subtitleTop = box.subtitleTop;
    card.namePixelSize = kSpec.namePixelSize.at(m_zoom);
    card.subtitlePixelSize = kSpec.subtitlePixelSize.at(m_zoom);
    card.video = item.isDirectory() && m_hints.hasVideo(item.path());
    // Labels stand over a covered card's texts.
    if (!textsCovered(index)) {
        card.name = shownnames::shown(item.name());
        card.subtitle = subtitle(item, card.video);
    }
    card.selected = m_model.selectedItemID() == qs(item.path());
    card.dropTarget = index == m_dropTarget;
    m_cards.paint(painter, card, palette());
}

FolderBrowserGrid::TextBox FolderBrowserGrid::textBox(int index) const
{
    const QRect rect = cardRect(index);
    const GridMetrics::Card metrics = card(index);
    const int nameTop = static_cast<int>(previewRect(index).bottom() + metrics.stackSpacing);
    return {rect.left() + static_cast<int>(metrics.horizontalPadding),
            rect.width() - 2 * static_cast<int>(metrics.horizontalPadding), nameTop,
            nameTop + static_cast<int>(metrics.stackSpacing)};
}

// The name and the subtitle, as paintCard() draws them, in content coordinates.
std::vector<SelectableTextOverlay::Text> FolderBrowserGrid::selectableTexts(int index) const
{
    const IndexedItem& item = m_model.items().at(index);
    const TextBox box = textBox(index);
    const QFont nameFont = paint::font(kSpec.namePixelSize.at(m_zoom));
    const QFont subtitleFont = paint::font(kSpec.subtitlePixelSize.at(m_zoom));
    const QString name = shownnames::shown(item.name());
    const int line = QFontMetrics(nameFont).height();
    const int lines = std::max(1, static_cast<int>(CardPainting::nameLines(name, nameFont, box.width).size()));
    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;
    const bool video = item.isDirectory() && m_hints.hasVideo(item.path());
    return {{QRect(box.left, box.nameTop, box.width, lines * line), name, nameFont, palette().color(QPalette::Text),
             centred, CardPainting::kNameRule},
            {QRect(box.left, box.subtitleTop + lines * line, box.width, QFontMetrics(subtitleFont).height()),
             subtitle(item, video), subtitleFont, paint::secondaryText(palette()), centred,
             CardPainting::kSubtitleRule}};
}

void FolderBrowserGrid::placeSelectableTexts()
{
    std::vector<SelectableTextOverlay::Item> items;
    m_coveredCards = {-1, -1};
    const QList<IndexedItem>& children = m_model.items();
    const auto add = [&](int index) {
        if (index < 0 || index >= children.size() || index == m_coveredCards[0])
            return;
        std::vector<SelectableTextOverlay::Text> texts = selectableTexts(index);
        for (SelectableTextOverlay::Text& text : texts)
            text.rect.translate(0, -verticalScrollBar()->value());
        m_coveredCards[items.size()] = index;
        items.push_back({qs(children.at(index).path()), std::move(texts)});
    };
    // Found once per listing or selection, not on every scroll step.
    if (!m_selectedIndex) {
        const std::string selected = m_model.selectedItemID().toStdString();
        const auto found = std::find_if(children.begin(), children.end(),
                                        [&](const IndexedItem& child) { return child.path() == selected; });
        m_selectedIndex = selected.empty() || found == children.end() ? -1 : static_cast<int>(found - children.begin());
    }
    add(*m_selectedIndex);
    add(m_hovered);
    m_textOverlay->show(items);
}

void FolderBrowserGrid::setHovered(int index)
{
    if (index == m_hovered)
        return;
    // The painted texts come back on the card left and go from the card entered.
    for (const int card : {m_hovered, index})
        viewport()->update(cardRect(card).translated(0, -verticalScrollBar()->value()));
    m_hovered = index;
    placeSelectableTexts();
}

void FolderBrowserGrid::leaveEvent(QEvent* event)
{
    setHovered(-1);
    QAbstractScrollArea::leaveEvent(event);
}

// The labels go with the cards they stand on.
void FolderBrowserGrid::scrollContentsBy(int dx, int dy)
{
    QAbstractScrollArea::scrollContentsBy(dx, dy);
    hoverUnderPointer();
    placeSelectableTexts();
}

void FolderBrowserGrid::mousePressEvent(QMouseEvent* event)
{
    const int index = cardAt(toContent(event->position().toPoint()));
    m_pressIndex = event->button() == Qt::LeftButton ? index : -1;
    m_pressPos = event->position().toPoint();
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
        m_model.setSelectedItemID(index < 0 ? QString() : qs(m_model.items().at(index).path()));
    event->accept();
}

void FolderBrowserGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        setHovered(cardAt(toContent(event->position().toPoint())));
    if (m_pressIndex < 0 || !(event->buttons() & Qt::LeftButton))
        return;
    if ((event->position().toPoint() - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        return;
    const int index = std::exchange(m_pressIndex, -1);
    startDrag(index);
}

void FolderBrowserGrid::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressIndex = -1;
    event->accept();
}

void FolderBrowserGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint pos = toContent(event->position().toPoint());
    const int index = cardAt(pos);
    if (event->button() == Qt::LeftButton && index >= 0 && previewRect(index).contains(pos))
        emit activated(m_model.items().at(index));
}

void FolderBrowserGrid::startDrag(int index)
{
    const IndexedItem item = m_model.items().at(index);
    auto* mime = new QMimeData;
    mime->setUrls({systempaths::url(item.path())});
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(m_thumbnails.image(item, 64, true, false, ThumbnailProvider::PreviewPriority::Normal));
    drag->exec(Qt::MoveAction | Qt::CopyAction | Qt::LinkAction, Qt::MoveAction);
}

void FolderBrowserGrid::contextMenuEvent(QContextMenuEvent* event)
{
    const int index = cardAt(toContent(event->pos()));
    if (index < 0)
        return;
    const IndexedItem item = m_model.items().at(index);
    QMenu menu(this);
    menu.addAction(QStringLiteral("打开"), this, [this, item] { emit openRequested(item); });
    menu.addAction(QStringLiteral("在文件管理器中显示"), this, [this, item] { emit revealRequested(item); });
    menu.exec(event->globalPos());
}

QList<QUrl> FolderBrowserGrid::droppedFileUrls(const QMimeData& mime)
{
    QList<QUrl> urls;
    std::set<QString> seen;
    for (const QUrl& url : mime.urls()) {
        if (url.isLocalFile() && seen.insert(FolderBrowserModel::standardized(systempaths::fromUrl(url))).second)
            urls.append(url);
    }
    return urls;
}

void FolderBrowserGrid::setDropTarget(int index)
{
    if (index == m_dropTarget)
        return;
    m_dropTarget = index;
    viewport()->update();
}

void FolderBrowserGrid::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedFileUrls(*event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void FolderBrowserGrid::dragMoveEvent(QDragMoveEvent* event)
{
    const int index = cardAt(toContent(event->position().toPoint()));
    // Every card shows the hover; only a folder takes the drop.
    setDropTarget(index);
    if (index >= 0 && m_model.items().at(index).isDirectory()) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void FolderBrowserGrid::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDropTarget(-1);
    event->accept();
}

void FolderBrowserGrid::dropEvent(QDropEvent* event)
{
    const int index = cardAt(toContent(event->position().toPoint()));
    setDropTarget(-1);
    const QList<QUrl> urls = droppedFileUrls(*event->mimeData());
    if (index < 0 || !m_model.items().at(index).isDirectory() || urls.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    emit moveRequested(urls, qs(m_model.items().at(index).path()));
}

bool FolderBrowserGrid::viewportEvent(QEvent* event)
{
    if (m_pinch.take(*event, [this](double magnification) { emit adjustZoomRequested(magnification); }))
        return true;
    return QAbstractScrollArea::viewportEvent(event);
}

} // namespace pallix
