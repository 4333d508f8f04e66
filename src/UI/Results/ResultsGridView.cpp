#include "UI/Results/ResultsGridView.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QPainter>
#include <QWheelEvent>

#include "App/Search/SearchSession.h"
#include "App/Paths/ShownNames.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Common/CardPainting.h"
#include "UI/Common/ResultPainting.h"
#include "UI/Results/ResultTexts.h"

namespace pallix {

namespace {

using RowKind = ResultsModel::RowKind;
namespace paint = ResultPainting;

constexpr double kHeaderTitlePx = 12;
constexpr double kHeaderSubtitlePx = 11;
constexpr int kShowMoreTop = 6;
constexpr const GridMetrics::Spec& kSpec = GridMetrics::kResultsGrid;

} // namespace

ResultsGridView::ResultsGridView(ResultsModel& rows, SearchSession& session, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                  QWidget* parent)
    : ResultsCanvas(rows, session, thumbnails, hints, parent),
      // Cards of 6 px corners; a hovered folder's preview grows a little.
      m_cards(CardPainting::CardStyle{6, 0.7, 1.08})
{
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents, false);
    connect(&m_session.constraints(), &SearchConstraints::gridZoomChanged, this, &ResultsCanvas::relayout);
}

int ResultsGridView::layoutRows(int viewportWidth)
{
    m_zoom = m_session.constraints().gridZoom();
    ResultsGridLayout::TextHeights text;
    text.nameLine = QFontMetrics(paint::font(kSpec.namePixelSize.at(m_zoom))).height();
    text.subtitleLine = QFontMetrics(paint::font(kSpec.subtitlePixelSize.at(m_zoom))).height();
    text.headerTitle = QFontMetrics(paint::font(kHeaderTitlePx, QFont::DemiBold)).height();
    text.headerSubtitle = QFontMetrics(paint::font(kHeaderSubtitlePx)).height();
    text.button = paint::kButtonHeight;
    m_layout.build(m_rows, viewportWidth, m_zoom, text);
    return m_layout.height();
}

void ResultsGridView::visibleRows(const QRect& contentRect, const std::function<void(int)>& visit) const
{
    m_layout.visit(contentRect, visit);
}

QRect ResultsGridView::nameRect(int row) const
{
    const QRect rect = rowRect(row);
    const GridMetrics::Card card = GridMetrics::card(kSpec, m_rows.rowAt(row).card, m_zoom);
    const int line = QFontMetrics(paint::font(kSpec.namePixelSize.at(m_zoom))).height();
    const int padding = static_cast<int>(card.horizontalPadding);
    const int top = static_cast<int>(rect.top() + (card.verticalPadding + card.stackSpacing) + card.previewHeight);
    return {rect.left() + padding, top, rect.width() - 2 * padding, line + 8};
}

// Smaller than the name at the smallest zoom would be too small to edit in.
int ResultsGridView::renameFieldPixelSize() const
{
    return static_cast<int>(std::lround(std::max(kSpec.namePixelSize.at(m_zoom), 12.0)));
}

QRectF ResultsGridView::previewRect(int row) const
{
    const GridMetrics::Card card = GridMetrics::card(kSpec, m_rows.rowAt(row).card, m_zoom);
    return GridMetrics::previewRect(kSpec, card, m_layout.rect(row), m_rows.itemAt(row).showsGridRasterPreview(), m_zoom);
}

QRect ResultsGridView::showMoreButton(const QRect& rect) const
{
    return paint::showMoreButtonRect(rect, rect.top() + kShowMoreTop, m_rows.hiddenFuzzyCount());
}

ResultsCanvas::Hit ResultsGridView::hitTest(QPoint pos) const
{
    const int row = m_layout.rowAt(pos);
    if (row < 0)
        return {};
    const RowKind kind = m_rows.rowAt(row).kind;
    if (kind == RowKind::ShowMore)
        return showMoreButton(m_layout.rect(row)).contains(pos) ? Hit{row, Part::ShowMore} : Hit{};
    if (kind != RowKind::Item)
        return {row, Part::Row};
    return {row, previewRect(row).contains(pos) ? Part::Icon : Part::Row};
}

void ResultsGridView::paintRow(QPainter& painter, int row, const QRect& rect)
{
    switch (m_rows.rowAt(row).kind) {
    case RowKind::Item: paintCard(painter, row, rect); break;
    case RowKind::SectionHeader: paintHeader(painter, row, rect); break;
    case RowKind::Divider: paint::paintDivider(painter, rect.left(), rect.right() + 1, rect.top() + 2, palette()); break;
    case RowKind::ShowMore:
        paint::paintShowMoreButton(painter, rect, rect.top() + kShowMoreTop, m_rows.hiddenFuzzyCount(), palette());
        break;
    case RowKind::Count: break;
    }
}

ResultsGridView::TextBox ResultsGridView::textBox(int row) const
{
    const QRect rect = m_layout.rect(row);
    const GridMetrics::Card card = GridMetrics::card(kSpec, m_rows.rowAt(row).card, m_zoom);
    return {rect.left() + static_cast<int>(card.horizontalPadding),
            rect.width() - static_cast<int>(2 * card.horizontalPadding),
            static_cast<int>(rect.top() + (card.verticalPadding + card.stackSpacing) + card.previewHeight),
            static_cast<int>(rect.top() + (card.verticalPadding + 2 * card.stackSpacing) + card.previewHeight)};
}

// The name (unless renamed, when its two lines stay) and the subtitle, as the card draws them.
std::vector<SelectableTextOverlay::Text> ResultsGridView::selectableTexts(int row) const
{
    const IndexedItem& item = m_rows.itemAt(row);
    const TextBox box = textBox(row);
    const QFont nameFont = paint::font(kSpec.namePixelSize.at(m_zoom));
    const QFont subtitleFont = paint::font(kSpec.subtitlePixelSize.at(m_zoom));
    const QString name = shownnames::shown(item.name());
    const int line = QFontMetrics(nameFont).height();
    const int nameLines = static_cast<int>(CardPainting::nameLines(name, nameFont, box.width).size());
    const int lines = isRenaming(item) ? 2 : std::max(1, nameLines);
    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;
    std::vector<SelectableTextOverlay::Text> texts;
    if (!isRenaming(item))
        texts.push_back({QRect(box.left, box.nameTop, box.width, lines * line), name, nameFont,
                         palette().color(QPalette::Text), centred, CardPainting::kNameRule});
    texts.push_back({QRect(box.left, box.subtitleTop + lines * line, box.width, QFontMetrics(subtitleFont).height()),
                     ResultTexts::gridSubtitle(item, folderHasVideo(item)), subtitleFont, paint::secondaryText(palette()),
                     centred, CardPainting::kSubtitleRule});
    return texts;
}

void ResultsGridView::paintCard(QPainter& painter, int row, const QRect& rect)
{
    const IndexedItem& item = m_rows.itemAt(row);
    const GridMetrics::Card card = GridMetrics::card(kSpec, m_rows.rowAt(row).card, m_zoom);
    CardPainting::Card drawn;
    drawn.rect = rect;
    drawn.preview = previewRect(row);
    drawn.image = m_thumbnails.image(item, card.iconSize, true, false, ThumbnailProvider::PreviewPriority::Normal);
    drawn.previewRadius = GridMetrics::previewCornerRadius(kSpec, item.showsGridRasterPreview());
    const TextBox box = textBox(row);
    drawn.textLeft = box.left;
    drawn.textWidth = box.width;
    drawn.nameTop = box.nameTop;
    drawn.subtitleTop = box.subtitleTop;
    drawn.namePixelSize = kSpec.namePixelSize.at(m_zoom);
    drawn.subtitlePixelSize = kSpec.subtitlePixelSize.at(m_zoom);
    drawn.badgeZoom = m_zoom;
    drawn.video = folderHasVideo(item);
    // Labels stand over a covered card's texts.
    if (!textsCovered(row)) {
        drawn.name = shownnames::shown(item.name());
        drawn.subtitle = ResultTexts::gridSubtitle(item, drawn.video);
    }
    drawn.selected = isSelected(item);
    drawn.hoveredFolder = item.isDirectory() && row == hoveredRow();
    drawn.nameCovered = isRenaming(item);
    m_cards.paint(painter, drawn, palette());
}

void ResultsGridView::paintHeader(QPainter& painter, int row, const QRect& rect)
{
    const ResultsModel::Section section = m_rows.rowAt(row).section;
    const QRect text = rect.adjusted(2, 0, -2, 0);
    const QFont title = paint::font(kHeaderTitlePx, QFont::DemiBold);
    painter.setFont(title);
    painter.setPen(paint::secondaryText(palette()));
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, ResultsModel::sectionTitle(section));
    painter.setFont(paint::font(kHeaderSubtitlePx));
    painter.setPen(paint::tertiaryText(palette()));
    painter.drawText(text.adjusted(0, QFontMetrics(title).height() + 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                     ResultsModel::sectionSubtitle(section));
}

void ResultsGridView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        ResultsCanvas::wheelEvent(event);
        return;
    }
    // Wheels report coarse steps (a notch is one line), touchpads precise
    // pixels: the model's step grows with the delta and is clamped.
    const QPointF delta = !event->pixelDelta().isNull() ? QPointF(event->pixelDelta())
                                                        : QPointF(event->angleDelta()) / 120.0;
    const double value = delta.y() != 0 ? delta.y() : delta.x();
    if (value == 0) {
        event->ignore();
        return;
    }
    emit adjustZoomRequested(value);
    event->accept();
}

bool ResultsGridView::viewportEvent(QEvent* event)
{
    if (m_pinch.take(*event, [this](double magnification) { emit adjustZoomRequested(magnification); }))
        return true;
    return ResultsCanvas::viewportEvent(event);
}

} // namespace pallix
