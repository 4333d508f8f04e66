#include "UI/Results/ResultsGridView.h"

#include <cmath>

#include <QFontMetrics>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QWheelEvent>

#include "App/AppModel.h"
#include "Core/Preview/ThumbnailProvider.h"
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

ResultsGridView::ResultsGridView(ResultsModel& rows, AppModel& model, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                  QWidget* parent)
    : ResultsCanvas(rows, model, thumbnails, hints, parent)
{
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents, false);
    connect(&m_model, &AppModel::gridZoomChanged, this, &ResultsCanvas::relayout);
}

int ResultsGridView::layoutRows(int viewportWidth)
{
    m_zoom = m_model.gridZoom();
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

// The name in at most two centred lines: the first as far as it fits (names
// are often one unbroken word, so it may break anywhere), the rest elided.
// The first line is drawn from its own layout, so it is shaped only once.
int ResultsGridView::paintName(QPainter& painter, const QString& name, const QFont& font, const QRect& area)
{
    QTextLayout layout(name, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(area.width());
    first.setPosition(QPointF(0, 0));
    layout.endLayout();
    layout.draw(&painter, area.topLeft());
    const int rest = static_cast<int>(name.size()) - first.textLength();
    if (rest <= 0)
        return 1;
    const QFontMetrics metrics(font);
    const QRect second(area.left(), area.top() + metrics.height(), area.width(), metrics.height());
    painter.drawText(second, Qt::AlignHCenter | Qt::AlignTop,
                     metrics.elidedText(name.right(rest), Qt::ElideRight, area.width()));
    return 2;
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
    painter.drawPixmap(pixels.topLeft(), scaledPreview(image, pixels.size(), GridMetrics::previewCornerRadius(raster)));
    painter.setRenderHint(QPainter::Antialiasing);

    const bool video = folderHasVideo(item);
    if (video)
        paintVideoBadge(painter, preview);

    const int width = rect.width() - static_cast<int>(2 * card.horizontalPadding);
    const int left = rect.left() + static_cast<int>(card.horizontalPadding);
    const QFont nameFont = paint::font(GridMetrics::namePixelSize(m_zoom));
    const QFontMetrics nameMetrics(nameFont);
    int y = static_cast<int>(rect.top() + 2 * card.spacing + card.previewHeight);
    painter.setFont(nameFont);
    painter.setPen(palette().color(QPalette::Text));
    const int lines =
        paintName(painter, QString::fromStdString(item.name()), nameFont, QRect(left, y, width, 2 * nameMetrics.height()));
    const QFont subtitleFont = paint::font(GridMetrics::subtitlePixelSize(m_zoom));
    const QFontMetrics subtitleMetrics(subtitleFont);
    y = static_cast<int>(rect.top() + 3 * card.spacing + card.previewHeight) + lines * nameMetrics.height();
    painter.setFont(subtitleFont);
    painter.setPen(paint::secondaryText(palette()));
    painter.drawText(QRect(left, y, width, subtitleMetrics.height()), Qt::AlignHCenter | Qt::AlignTop,
                     subtitleMetrics.elidedText(ResultTexts::gridSubtitle(item, video), Qt::ElideRight, width));
    painter.restore();
}

// Scaling and rounding a preview on every paint cost most of a grid's paint
// (a rounded clip sends every pixel through the slow blending path); the
// cards on screen keep theirs. Keyed by the picture (a new preview is a new
// key), the size and the corner radius.
QPixmap ResultsGridView::scaledPreview(const QPixmap& image, QSize size, double radius)
{
    if (radius <= 0 && image.size() == size * image.devicePixelRatio())
        return image;
    const QString key =
        QStringLiteral("%1#%2x%3#%4").arg(image.cacheKey()).arg(size.width()).arg(size.height()).arg(radius);
    if (const QPixmap* cached = m_scaledPreviews.object(key))
        return *cached;
    // Painted, not QPixmap::scaled: the smooth scaler hands its rows to
    // other threads, and waiting for them costs more than the small scaling.
    QPixmap shaped(size);
    shaped.fill(Qt::transparent);
    QPainter painter(&shaped);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF area(shaped.rect());
    if (radius > 0) {
        // Rounded once here, as a textured fill, instead of clipping every paint.
        QBrush texture(image);
        texture.setTransform(QTransform::fromScale(area.width() / image.width(), area.height() / image.height()));
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(texture);
        painter.drawRoundedRect(area, radius, radius);
    } else {
        painter.drawPixmap(area, image, QRectF(image.rect()));
    }
    painter.end();
    m_scaledPreviews.insert(key, new QPixmap(shaped), std::max(1, size.width() * size.height() * 4 / 1024));
    return shaped;
}

// A capsule in the preview's top-right corner: the folder holds videos.
void ResultsGridView::paintVideoBadge(QPainter& painter, const QRectF& preview)
{
    const double z = m_zoom;
    const QFont badgeFont = paint::font(std::max(10 * z, 9.0), QFont::DemiBold);
    const QFontMetricsF metrics(badgeFont);
    const QString text = QStringLiteral("视频");
    const double symbol = metrics.height();
    const QSizeF size(7 * z * 2 + symbol + 3 * z + metrics.horizontalAdvance(text), 3 * z * 2 + metrics.height());
    const QRectF badge(preview.right() - 6 * z - size.width(), preview.top() + 6 * z, size.width(), size.height());
    QPainterPath capsule;
    capsule.addRoundedRect(badge, badge.height() / 2, badge.height() / 2);
    painter.fillPath(capsule, QColor::fromRgbF(1, 1, 1, 0.75f));
    painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.1f), 1));
    painter.drawPath(capsule);
    const QRectF symbolRect(badge.left() + 7 * z, badge.top() + 3 * z, symbol, symbol);
    ResultSymbols::icon(QStringLiteral("play.rectangle.fill")).paint(&painter, symbolRect.toRect());
    painter.setFont(badgeFont);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRectF(symbolRect.right() + 3 * z, symbolRect.top(), metrics.horizontalAdvance(text) + 1, symbol),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
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
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::BeginNativeGesture)
            m_pinchTotal = 0;
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            // Each event carries the step since the last; the owner wants the total.
            m_pinchTotal += gesture->value();
            emit adjustZoomRequested(m_pinchTotal);
        }
        return true;
    }
    return ResultsCanvas::viewportEvent(event);
}

} // namespace pallix
