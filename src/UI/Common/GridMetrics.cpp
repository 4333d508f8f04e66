#include "UI/Common/GridMetrics.h"

#include <algorithm>
#include <cmath>

namespace pallix::GridMetrics {

CardKind cardKind(const IndexedItem& item)
{
    if (item.isDirectory())
        return CardKind::Folder;
    return item.showsGridRasterPreview() ? CardKind::Raster : CardKind::Other;
}

double Length::at(double zoom) const
{
    return std::clamp(perZoom * zoom + fixed, floor, ceiling);
}

Card card(const Spec& grid, CardKind kind, double zoom)
{
    const CardSpec& sizes = grid.cards[static_cast<std::size_t>(kind)];
    return {sizes.iconSize.at(zoom),          sizes.previewHeight.at(zoom), sizes.previewMinHeight.at(zoom),
            sizes.horizontalPadding.at(zoom), sizes.verticalPadding.at(zoom), sizes.stackSpacing.at(zoom),
            sizes.minHeight.at(zoom)};
}

int cardHeight(const Card& card, int nameLine, int subtitleLine)
{
    const double content = 2 * (card.verticalPadding + card.stackSpacing) + card.previewHeight + 2 * nameLine + subtitleLine;
    return static_cast<int>(std::ceil(std::max(card.minHeight, content)));
}

ColumnWidths columnWidths(const Spec& grid, double zoom)
{
    const double minimum = grid.columnMinWidth.at(zoom);
    return {minimum, std::max(minimum, grid.columnMaxWidth.at(zoom))};
}

Columns columns(const Spec& grid, double available, double zoom)
{
    const ColumnWidths widths = columnWidths(grid, zoom);
    const double spacing = grid.columnSpacing;
    Columns c;
    c.count = std::max(1, static_cast<int>(std::floor((available + spacing) / (widths.minimum + spacing))));
    c.width = std::clamp((available - (c.count - 1) * spacing) / c.count, widths.minimum, widths.maximum);
    c.left = std::max(0.0, (available - (c.count * c.width + (c.count - 1) * spacing)) / 2);
    return c;
}

double previewInset(const Spec& grid, bool raster, double zoom)
{
    return raster ? 0.0 : grid.previewInset.at(zoom);
}

double previewCornerRadius(const Spec& grid, bool raster)
{
    return raster ? grid.rasterPreviewRadius : 0.0;
}

QRectF previewRect(const Spec& grid, const Card& card, const QRect& rect, bool raster, double zoom)
{
    const double inset = previewInset(grid, raster, zoom);
    return QRectF(rect.left() + card.horizontalPadding + inset, rect.top() + card.verticalPadding + inset,
                  rect.width() - 2 * (card.horizontalPadding + inset), card.previewHeight - inset);
}

} // namespace pallix::GridMetrics
