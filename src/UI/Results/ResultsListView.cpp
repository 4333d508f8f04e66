#include "UI/Results/ResultsListView.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPainter>

#include "App/Paths/ShownNames.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Common/ResultPainting.h"
#include "UI/Common/TextLines.h"
#include "UI/Results/ListColumns.h"
#include "UI/Results/ResultTexts.h"
#include "UI/Results/ResultsModel.h"

namespace pallix {

namespace {

using RowKind = ResultsModel::RowKind;
namespace paint = ResultPainting;

constexpr int kRowPaddingY = 4;
constexpr double kNamePx = 13;
constexpr double kDetailPx = 12;
constexpr int kIconGap = 8;
// Both ends of a folder tell most: where it is and what it is called.
constexpr TextLines::Rule kFolderRule{1, Qt::ElideMiddle};
constexpr int kHeaderPaddingY = 6;
constexpr int kShowMorePaddingY = 8;

} // namespace

ResultsListView::ResultsListView(ResultsModel& rows, SearchSession& session, ThumbnailProvider& thumbnails, FolderVideoHints& hints,
                  QWidget* parent)
    : ResultsCanvas(rows, session, thumbnails, hints, parent)
{
}

int ResultsListView::heightOf(int row) const
{
    switch (m_rows.rowAt(row).kind) {
    case RowKind::Item: return m_itemHeight;
    case RowKind::SectionHeader: return QFontMetrics(paint::font(kDetailPx, QFont::DemiBold)).height() + 2 * kHeaderPaddingY;
    case RowKind::Divider: return 1;
    case RowKind::ShowMore: return paint::kButtonHeight + 2 * kShowMorePaddingY;
    case RowKind::Count: break;
    }
    return 0;
}

int ResultsListView::layoutRows(int viewportWidth)
{
    m_width = viewportWidth;
    // One height for every item row, room for the buttons included: a hovered
    // row must not push the rows below it down, nor may rows change height
    // when the list crosses the buttons' 120-result limit while typing.
    const int text = QFontMetrics(paint::font(kNamePx)).height();
    m_itemHeight = std::max({kIconSize, text, kActionButtonSize}) + 2 * kRowPaddingY;
    const int count = m_rows.rowCount();
    m_tops.resize(static_cast<std::size_t>(count) + 1);
    int y = 0;
    for (int row = 0; row < count; ++row) {
        m_tops[static_cast<std::size_t>(row)] = y;
        y += heightOf(row);
    }
    m_tops[static_cast<std::size_t>(count)] = y;
    return y;
}

QRect ResultsListView::rowRect(int row) const
{
    const auto r = static_cast<std::size_t>(row);
    return QRect(0, m_tops[r], m_width, m_tops[r + 1] - m_tops[r]);
}

void ResultsListView::visibleRows(const QRect& contentRect, const std::function<void(int)>& visit) const
{
    if (m_tops.size() < 2)
        return;
    const auto last = std::prev(m_tops.end());
    auto it = std::upper_bound(m_tops.begin(), last, contentRect.top());
    int row = static_cast<int>(std::distance(m_tops.begin(), it)) - 1;
    for (row = std::max(row, 0); row < m_rows.rowCount() && m_tops[static_cast<std::size_t>(row)] <= contentRect.bottom();
         ++row)
        visit(row);
}

ResultsCanvas::Hit ResultsListView::hitTest(QPoint pos) const
{
    if (m_tops.empty() || pos.y() < 0 || pos.y() >= m_tops.back())
        return {};
    const auto it = std::upper_bound(m_tops.begin(), m_tops.end(), pos.y());
    const int row = static_cast<int>(std::distance(m_tops.begin(), it)) - 1;
    const ResultsModel::Row& r = m_rows.rowAt(row);
    if (r.kind == RowKind::ShowMore) {
        const QRect button = paint::showMoreButtonRect(rowRect(row), rowRect(row).top() + kShowMorePaddingY,
                                                       m_rows.hiddenFuzzyCount());
        return button.contains(pos) ? Hit{row, Part::ShowMore} : Hit{row, Part::Row};
    }
    if (r.kind != RowKind::Item)
        return {row, Part::Row};
    if (showsActions(row)) {
        for (int action = 0; action < kActionCount; ++action) {
            if (actionRect(row, action).contains(pos))
                return {row, Part::Action, action};
        }
    }
    const QRect name = ListColumns::layout(m_width, rowRect(row).top(), rowRect(row).height())[ListColumns::Name];
    const QRect icon(name.left(), name.top(), kIconSize, name.height());
    return {row, icon.contains(pos) ? Part::Icon : Part::Row};
}

bool ResultsListView::showsActions(int row) const
{
    if (!m_rows.showsInlineActions() || m_rows.rowAt(row).kind != RowKind::Item)
        return false;
    const IndexedItem& item = m_rows.itemAt(row);
    return (row == hoveredRow() || isSelected(item)) && !isRenaming(item);
}

QRect ResultsListView::actionRect(int row, int action) const
{
    const QRect rect = rowRect(row);
    const QRect column = ListColumns::layout(m_width, rect.top(), rect.height())[ListColumns::Actions];
    // Where the columns are wider than the view (their minimum widths), the
    // buttons stay at the view's edge instead of out of reach beyond it.
    const int edge = std::min(column.right() + 1, m_width - ListColumns::kPadding);
    const int right = edge - (kActionCount - 1 - action) * (kActionButtonSize + kActionSpacing);
    return QRect(right - kActionButtonSize, rect.center().y() - kActionButtonSize / 2 + 1, kActionButtonSize,
                 kActionButtonSize);
}

QString ResultsListView::actionSymbol(const IndexedItem& item, int action)
{
    switch (action) {
    case 0:
        return item.isDirectory() ? QStringLiteral("arrow.down.right.and.arrow.up.left")
                                  : QStringLiteral("arrow.turn.down.right");
    case 1: return QStringLiteral("folder");
    case 2: return QStringLiteral("eye");
    default: return {};
    }
}

QRect ResultsListView::nameRect(int row) const
{
    const QRect rect = rowRect(row);
    const QRect name = ListColumns::layout(m_width, rect.top(), rect.height())[ListColumns::Name];
    return name.adjusted(kIconSize + kIconGap, 0, 0, 0);
}

int ResultsListView::renameFieldPixelSize() const
{
    return static_cast<int>(kNamePx);
}

// The name (unless renamed) and the folder, as paintItem() draws them.
std::vector<SelectableTextOverlay::Text> ResultsListView::selectableTexts(int row) const
{
    const IndexedItem& item = m_rows.itemAt(row);
    const QRect rect = rowRect(row);
    std::vector<SelectableTextOverlay::Text> texts;
    if (!isRenaming(item))
        texts.push_back(
            {nameRect(row), shownnames::shown(item.name()), paint::font(kNamePx), palette().color(QPalette::Text)});
    // Where a narrow view pulls the buttons over the column, the label stops
    // short of them: it would take their clicks.
    QRect folder = ListColumns::layout(m_width, rect.top(), rect.height())[ListColumns::Folder];
    folder.setRight(std::min(folder.right(), actionRect(row, 0).left() - ListColumns::kSpacing));
    texts.push_back({folder, shownnames::shown(item.parentPath()), paint::font(kDetailPx),
                     paint::secondaryText(palette()), Qt::AlignLeft | Qt::AlignVCenter, kFolderRule});
    return texts;
}

void ResultsListView::paintRow(QPainter& painter, int row, const QRect& rect)
{
    switch (m_rows.rowAt(row).kind) {
    case RowKind::Item: paintItem(painter, row, rect); break;
    case RowKind::SectionHeader: paintHeader(painter, row, rect); break;
    case RowKind::Divider: paint::paintDivider(painter, rect.left(), rect.right() + 1, rect.top(), palette()); break;
    case RowKind::ShowMore: paintShowMore(painter, row, rect); break;
    case RowKind::Count: break;
    }
}

void ResultsListView::paintItem(QPainter& painter, int row, const QRect& rect)
{
    const IndexedItem& item = m_rows.itemAt(row);
    // Opaque over the base the canvas was filled with: blending every other
    // row took a good part of a paint.
    const QColor base = palette().color(QPalette::Base);
    if (isSelected(item))
        painter.fillRect(rect, paint::over(paint::accent(palette(), 0.12), base));
    else if (m_rows.rowAt(row).alternate)
        painter.fillRect(rect, paint::over(QColor::fromRgbF(0, 0, 0, 0.025f), base));

    const auto columns = ListColumns::layout(m_width, rect.top(), rect.height());
    const QRect name = columns[ListColumns::Name];
    const QRect icon(name.left(), rect.center().y() - kIconSize / 2 + 1, kIconSize, kIconSize);
    painter.drawPixmap(icon, m_thumbnails.fallbackImage(QString::fromUtf8(item.path()), item.isDirectory(), kIconSize));

    const QFont nameFont = paint::font(kNamePx);
    painter.setFont(nameFont);
    painter.setPen(palette().color(QPalette::Text));
    const bool covered = textsCovered(row);
    if (!isRenaming(item) && !covered)  // the rename field or a label covers it
        m_texts.draw(painter, nameRect(row), Qt::AlignLeft, shownnames::shown(item.name()), nameFont);

    const QFont detail = paint::font(kDetailPx);
    painter.setFont(detail);
    painter.setPen(paint::secondaryText(palette()));
    const auto cell = [&](ListColumns::Column column, const QString& text, Qt::Alignment align,
                          Qt::TextElideMode mode = Qt::ElideRight) {
        m_texts.draw(painter, columns[column], align, text, detail, mode);
    };
    cell(ListColumns::Type, ResultTexts::rowTypeDescription(item, folderHasVideo(item)), Qt::AlignLeft);
    cell(ListColumns::Size, ResultTexts::sizeColumnText(item), Qt::AlignRight);
    cell(ListColumns::Modified, ResultTexts::modifiedDateText(item.modifiedAt()), Qt::AlignLeft);
    if (!covered)
        cell(ListColumns::Folder, shownnames::shown(item.parentPath()), Qt::AlignLeft, kFolderRule.elide);

    if (showsActions(row))
        paintActions(painter, row);
}

void ResultsListView::paintActions(QPainter& painter, int row)
{
    const IndexedItem& item = m_rows.itemAt(row);
    for (int action = 0; action < kActionCount; ++action) {
        const bool hovered = row == hoveredRow() && action == hoveredAction();
        paint::paintHoverActionButton(painter, actionRect(row, action), actionSymbol(item, action), hovered, palette());
    }
}

void ResultsListView::paintHeader(QPainter& painter, int row, const QRect& rect)
{
    QColor band = palette().color(QPalette::Window);
    band.setAlphaF(0.6f);
    painter.fillRect(rect, band);
    const ResultsModel::Section section = m_rows.rowAt(row).section;
    const QString title =
        ResultsModel::sectionTitle(section) + QStringLiteral("（%1）").arg(m_rows.filteredCount(section));
    painter.setFont(paint::font(kDetailPx, QFont::DemiBold));
    painter.setPen(paint::secondaryText(palette()));
    painter.drawText(rect.adjusted(ListColumns::kPadding, 0, -ListColumns::kPadding, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     title);
}

void ResultsListView::paintShowMore(QPainter& painter, int, const QRect& rect)
{
    QColor band = palette().color(QPalette::Window);
    band.setAlphaF(0.35f);
    painter.fillRect(rect, band);
    paint::paintShowMoreButton(painter, rect, rect.top() + kShowMorePaddingY, m_rows.hiddenFuzzyCount(), palette());
}

} // namespace pallix
