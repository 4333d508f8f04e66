#include "UI/Browser/FolderBrowserMetrics.h"

#include <algorithm>
#include <cmath>

namespace pallix::browsermetrics {

CardKind cardKind(const IndexedItem& item)
{
    if (item.isDirectory())
        return CardKind::Folder;
    const std::string_view ext = item.fileExtension();
    if (kinds::isImageExtension(ext) || kinds::isVideoExtension(ext) || ext == "pdf")
        return CardKind::Raster;
    return CardKind::Other;
}

double cardIconSize(CardKind kind, double zoom)
{
    if (kind == CardKind::Folder)
        return std::max(std::min(116 * zoom, 160.0), 90.0);
    return std::max(std::min(100 * zoom, 148.0), 78.0);
}

HeightRange previewHeight(CardKind kind, double zoom)
{
    switch (kind) {
    case CardKind::Folder: return {110 * zoom, 118 * zoom};
    case CardKind::Raster: return {96 * zoom, 102 * zoom};
    default: return {88 * zoom, 94 * zoom};
    }
}

double minimumCardHeight(double zoom)
{
    return 170 * zoom;
}

ColumnWidths columnWidths(double zoom)
{
    const double minimum = std::max(136 * zoom, 120.0);
    return {minimum, std::max(minimum, 170 * zoom)};
}

double prefetchIconSize(double zoom)
{
    return cardIconSize(CardKind::Folder, zoom);
}

double adjustedZoom(double zoom, double delta)
{
    const double size = std::min(std::max(std::abs(delta) * 0.018, 0.12), 0.28);
    const double step = delta > 0 ? size : -size;
    return std::min(std::max(zoom + step, kMinZoom), kMaxZoom);
}

} // namespace pallix::browsermetrics
