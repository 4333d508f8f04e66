#pragma once
// FolderBrowserMetrics: the sizes of a folder browser window's grid and cards
// at a zoom factor, and the zoom step of one key press or pinch update. Pure
// functions; any thread.

#include "Core/Models/IndexedItem.h"

namespace pallix::browsermetrics {

inline constexpr double kMinZoom = 0.7;
inline constexpr double kMaxZoom = 1.9;
inline constexpr double kColumnSpacing = 14;
inline constexpr double kRowSpacing = 16;
inline constexpr double kGridPadding = 16;
inline constexpr double kCardPadding = 10;
inline constexpr double kCardStackSpacing = 8;

enum class CardKind { Folder, Raster, Other, Count };

struct HeightRange {
    double minimum = 0;
    double maximum = 0;
};

struct ColumnWidths {
    double minimum = 0;
    double maximum = 0;
};

CardKind cardKind(const IndexedItem& item);
// The size a card asks the thumbnail provider for.
double cardIconSize(CardKind kind, double zoom);
HeightRange previewHeight(CardKind kind, double zoom);
double minimumCardHeight(double zoom);
ColumnWidths columnWidths(double zoom);
// One size for every item of the prefetch.
double prefetchIconSize(double zoom);
// The zoom after one step in the direction of `delta` (0 counts as out),
// at least 0.12 and at most 0.28, kept within the zoom range.
double adjustedZoom(double zoom, double delta);

} // namespace pallix::browsermetrics
