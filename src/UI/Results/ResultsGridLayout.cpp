#include "UI/Results/ResultsGridLayout.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace pallix {

using CardKind = ResultsModel::CardKind;
using RowKind = ResultsModel::RowKind;

namespace {

constexpr const GridMetrics::Spec& kSpec = GridMetrics::kResultsGrid;

} // namespace

ResultsGridLayout::Columns ResultsGridLayout::columnsFor(double available, double z)
{
    return GridMetrics::columns(kSpec, available, z);
}

int ResultsGridLayout::cardHeight(CardKind kind, double z, const TextHeights& text)
{
    return GridMetrics::cardHeight(GridMetrics::card(kSpec, kind, z), text.nameLine, text.subtitleLine);
}

void ResultsGridLayout::build(const ResultsModel& rows, int viewportWidth, double z, const TextHeights& text)
{
    m_elements.clear();
    m_cardRowTops.clear();
    m_cardRowHeights.clear();
    m_width = viewportWidth;
    m_columns = columnsFor(viewportWidth - 2 * kSpec.padding, z);
    std::array<int, static_cast<std::size_t>(CardKind::Count)> heights{};
    for (int k = 0; k < static_cast<int>(CardKind::Count); ++k)
        heights[static_cast<std::size_t>(k)] = cardHeight(static_cast<CardKind>(k), z, text);

    int y = kSpec.padding;
    const int count = rows.rowCount();
    for (int row = 0; row < count;) {
        if (!m_elements.empty())
            y += kSectionSpacing;
        Element e;
        e.firstRow = row;
        e.top = y;
        const ResultsModel::Row& r = rows.rowAt(row);
        if (r.kind == RowKind::Item) {
            e.kind = ElementKind::Cards;
            int end = row;
            while (end < count && rows.rowAt(end).kind == RowKind::Item && rows.rowAt(end).section == r.section)
                ++end;
            e.rowCount = end - row;
            e.firstCardRow = static_cast<int>(m_cardRowTops.size());
            int cy = y;
            for (int first = row; first < end; first += m_columns.count) {
                int h = 0;
                for (int i = first; i < std::min(end, first + m_columns.count); ++i)
                    h = std::max(h, heights[static_cast<std::size_t>(rows.rowAt(i).card)]);
                if (first > row)
                    cy += kSpec.rowSpacing;
                m_cardRowTops.push_back(cy);
                m_cardRowHeights.push_back(h);
                cy += h;
            }
            e.height = cy - y;
            row = end;
        } else {
            e.kind = r.kind == RowKind::Divider ? ElementKind::Divider
                     : r.kind == RowKind::SectionHeader ? ElementKind::Header
                                                        : ElementKind::ShowMore;
            e.height = e.kind == ElementKind::Divider  ? 5
                       : e.kind == ElementKind::Header ? text.headerTitle + 2 + text.headerSubtitle
                                                       : 6 + text.button;
            ++row;
        }
        y += e.height;
        m_elements.push_back(e);
    }
    m_height = y + kSpec.padding;
}

const ResultsGridLayout::Element* ResultsGridLayout::elementOf(int row) const
{
    auto it = std::upper_bound(m_elements.begin(), m_elements.end(), row,
                               [](int r, const Element& e) { return r < e.firstRow; });
    if (it == m_elements.begin())
        return nullptr;
    const Element& e = *std::prev(it);
    return row < e.firstRow + e.rowCount ? &e : nullptr;
}

QRect ResultsGridLayout::cardRect(const Element& e, int index) const
{
    const auto cardRow = static_cast<std::size_t>(e.firstCardRow + index / m_columns.count);
    const int column = index % m_columns.count;
    const double x = kSpec.padding + m_columns.left + column * (m_columns.width + kSpec.columnSpacing);
    return QRect(static_cast<int>(std::lround(x)), m_cardRowTops[cardRow], static_cast<int>(std::lround(m_columns.width)),
                 m_cardRowHeights[cardRow]);
}

QRect ResultsGridLayout::rect(int row) const
{
    const Element* e = elementOf(row);
    if (!e)
        return {};
    if (e->kind == ElementKind::Cards)
        return cardRect(*e, row - e->firstRow);
    return QRect(kSpec.padding, e->top, m_width - 2 * kSpec.padding, e->height);
}

int ResultsGridLayout::rowAt(QPoint pos) const
{
    auto it = std::upper_bound(m_elements.begin(), m_elements.end(), pos.y(),
                               [](int y, const Element& e) { return y < e.top; });
    if (it == m_elements.begin())
        return -1;
    const Element& e = *std::prev(it);
    if (pos.y() >= e.top + e.height)
        return -1;
    if (e.kind != ElementKind::Cards)
        return rect(e.firstRow).contains(pos) ? e.firstRow : -1;
    const auto first = m_cardRowTops.begin() + e.firstCardRow;
    const auto last = first + (e.rowCount + m_columns.count - 1) / m_columns.count;
    const auto rowIt = std::upper_bound(first, last, pos.y());
    if (rowIt == first)
        return -1;
    const int cardRow = static_cast<int>(std::distance(first, rowIt)) - 1;
    const double x = pos.x() - kSpec.padding - m_columns.left;
    const int column = static_cast<int>(std::floor(x / (m_columns.width + kSpec.columnSpacing)));
    if (column < 0 || column >= m_columns.count)
        return -1;
    const int index = cardRow * m_columns.count + column;
    if (index >= e.rowCount)
        return -1;
    return cardRect(e, index).contains(pos) ? e.firstRow + index : -1;
}

void ResultsGridLayout::visit(const QRect& area, const std::function<void(int)>& visitRow) const
{
    for (const Element& e : m_elements) {
        if (e.top > area.bottom() || e.top + e.height < area.top())
            continue;
        if (e.kind != ElementKind::Cards) {
            visitRow(e.firstRow);
            continue;
        }
        const int cardRows = (e.rowCount + m_columns.count - 1) / m_columns.count;
        const auto first = m_cardRowTops.begin() + e.firstCardRow;
        auto it = std::upper_bound(first, first + cardRows, area.top());
        int cardRow = std::max(0, static_cast<int>(std::distance(first, it)) - 1);
        for (; cardRow < cardRows && first[cardRow] <= area.bottom(); ++cardRow) {
            const int begin = cardRow * m_columns.count;
            for (int i = begin; i < std::min(e.rowCount, begin + m_columns.count); ++i)
                visitRow(e.firstRow + i);
        }
    }
}

} // namespace pallix
