#include "UI/Results/ResultsGridView.h"

#include <algorithm>
#include <cmath>

#include <QFontMetrics>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QWheelEvent>

#include "App/Search/SearchSession.h"
#include "App/SystemPaths.h"
#include "Core/Preview/ThumbnailProvider.h"
#include "UI/Results/CardPainting.h"
#include "UI/Results/ResultPainting.h"
#include "UI/Results/ResultSymbols.h"
#include "UI/Results/ResultTexts.h"

namespace pallix {

namespace {

using RowKind = ResultsModel::RowKind;
namespace paint = ResultPainting;

constexpr double kHeaderTitlePx = 12;
constexpr double kHeaderSubtitlePx = 11;
constexpr double kHoverScale = 1.08;
constexpr int kShowMoreTop = 6;

} // namespace

ResultsGridView::ResultsGridView(ResultsModel& rows, SearchSession& session, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                  QWidget* parent)
    : ResultsCanvas(rows, session, thumbnails, hints, parent)
{
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents, false);
    connect(&m_session, &SearchSession::gridZoomChanged, this, &ResultsCanvas::relayout);
}

int ResultsGridView::layoutRows(int viewportWidth)
{
    m_zoom = m_session.gridZoom();
    ResultsGridLayout::TextHeights text;
    text.nameLine = QFontMetrics(paint::font(GridMetrics::namePixelSize(m_zoom))).height();
    text.subtitleLine = QFontMetrics(paint::font(GridMetrics::subtitlePixelSize(m_zoom))).height();
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
    const GridMetrics::Card card = GridMetrics::card(m_rows.rowAt(row).card, m_zoom);
    const int line = QFontMetrics(paint::font(GridMetrics::namePixelSize(m_zoom))).height();
    const int padding = static_cast<int>(card.horizontalPadding);
    const int top = static_cast<int>(rect.top() + 2 * card.spacing + card.previewHeight);
    return {rect.left() + padding, top, rect.width() - 2 * padding, line + 8};
}

// Smaller than the name at the smallest zoom would be too small to edit in.
int ResultsGridView::renameFieldPixelSize() const
{
    return static_cast<int>(std::lround(std::max(GridMetrics::namePixelSize(m_zoom), 12.0)));
}

QRectF ResultsGridView::previewRect(int row) const
{
    const QRect rect = m_layout.rect(row);
    const IndexedItem& item = m_rows.itemAt(row);
    const GridMetrics::Card card = GridMetrics::card(m_rows.rowAt(row).card, m_zoom);
    const double inset = GridMetrics::previewInset(item.showsGridRasterPreview(), m_zoom);
    return QRectF(rect.left() + card.horizontalPadding + inset, rect.top() + card.spacing + inset,
                  rect.width() - 2 * (card.horizontalPadding + inset), card.previewHeight - inset);
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

void ResultsGridView::paintCard(QPainter& painter, int row, const QRect& rect)
{
    const IndexedItem& item = m_rows.itemAt(row);
    const GridMetrics::Card card = GridMetrics::card(m_rows.rowAt(row).card, m_zoom);
    const bool raster = item.showsGridRasterPreview();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (isSelected(item)) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        painter.fillPath(shape, paint::accent(palette(), 0.1));
        painter.setPen(QPen(paint::accent(palette(), 0.7), 1));
        painter.drawPath(shape);
    }

    QRectF preview = previewRect(row);
    const QPixmap image = m_thumbnails.image(item, card.previewIconSize, true, false,
                                             ThumbnailProvider::PreviewPriority::Normal);
    QSizeF fitted = QSizeF(image.size()) / image.devicePixelRatio();
    fitted.scale(preview.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), fitted);
    target.moveCenter(preview.center());
    if (item.isDirectory() && row == hoveredRow()) {
        // A hovered folder grows about its centre; its neighbours stay put.
        const QPointF centre = target.center();
        target.setSize(target.size() * kHoverScale);
        target.moveCenter(centre);
    }
    const QRect pixels = target.toAlignedRect();
    // Already at its size and shape: a plain blit. With antialiasing on, the
    // raster engine draws a pixmap through its path filler, ten times slower.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawPixmap(pixels.topLeft(), m_scaledPreviews.scaled(image, pixels.size(), GridMetrics::previewCornerRadius(raster)));
    painter.setRenderHint(QPainter::Antialiasing);

    const bool video = folderHasVideo(item);
    if (video)
        CardPainting::paintVideoBadge(painter, preview, m_zoom, palette());

    const int width = rect.width() - static_cast<int>(2 * card.horizontalPadding);
    const int left = rect.left() + static_cast<int>(card.horizontalPadding);
    const QFont nameFont = paint::font(GridMetrics::namePixelSize(m_zoom));
    const QFontMetrics nameMetrics(nameFont);
    int y = static_cast<int>(rect.top() + 2 * card.spacing + card.previewHeight);
    painter.setFont(nameFont);
    painter.setPen(palette().color(QPalette::Text));
    // Under the rename field the name keeps its two lines, so the card does not jump.
    const int lines = isRenaming(item) ? 2
                                       : CardPainting::paintName(painter, systempaths::display(item.name()), nameFont,
                                                                 QRect(left, y, width, 2 * nameMetrics.height()));
    const QFont subtitleFont = paint::font(GridMetrics::subtitlePixelSize(m_zoom));
    const QFontMetrics subtitleMetrics(subtitleFont);
    y = static_cast<int>(rect.top() + 3 * card.spacing + card.previewHeight) + lines * nameMetrics.height();
    painter.setFont(subtitleFont);
    painter.setPen(paint::secondaryText(palette()));
    painter.drawText(QRect(left, y, width, subtitleMetrics.height()), Qt::AlignHCenter | Qt::AlignTop,
                     subtitleMetrics.elidedText(ResultTexts::gridSubtitle(item, video), Qt::ElideRight, width));
    painter.restore();
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
    if (event->type() == QEvent::NativeGesture) {
        if (const auto magnification = m_pinch.take(static_cast<const QNativeGestureEvent&>(*event)))
            emit adjustZoomRequested(*magnification);
        return true;
    }
    return ResultsCanvas::viewportEvent(event);
}

} // namespace pallix
