#pragma once
// GridMetrics: the sizes of the two card grids (the results grid and the
// folder browser's) at a zoom factor (the zoom rule itself is App/Search/GridZoom.h). The rules
// are written once: a length follows the zoom within its floor and ceiling,
// columns adapt between a minimum and a maximum width, a card is as high as
// its padding, preview, two name lines and subtitle, never less than its
// minimum. What the two grids do differently is data: each grid's Spec.
// Pure functions; any thread.

#include <array>
#include <cstddef>
#include <limits>

#include <QRect>

#include "Core/Models/IndexedItem.h"

namespace pallix::GridMetrics {

// How a card is drawn: a folder, a file whose preview is a raster (image,
// video, PDF), or any other file.
enum class CardKind { Folder, Raster, Other, Count };
CardKind cardKind(const IndexedItem& item);

// A length at a zoom: perZoom × zoom + fixed, kept within [floor, ceiling].
struct Length {
    double perZoom = 0;
    double fixed = 0;
    double floor = 0;
    double ceiling = std::numeric_limits<double>::infinity();
    double at(double zoom) const;
};

constexpr Length scaled(double perZoom, double floor = 0, double ceiling = std::numeric_limits<double>::infinity())
{
    return {perZoom, 0, floor, ceiling};
}
constexpr Length fixed(double value)
{
    return {0, value, 0, std::numeric_limits<double>::infinity()};
}

// One kind of card of one grid.
struct CardSpec {
    Length iconSize;           // asked of the thumbnail provider
    Length previewHeight;      // what the layout gives the preview
    Length previewMinHeight;   // the least the preview may shrink to
    Length horizontalPadding;
    Length verticalPadding;    // above the preview and below the subtitle
    Length stackSpacing;       // between the preview, the name and the subtitle
    Length minHeight;          // of the whole card
};

// One grid: its spacing, its columns, its texts and its cards.
struct Spec {
    int padding = 0;                // around the grid
    double columnSpacing = 0;
    int rowSpacing = 0;
    Length columnMinWidth;
    Length columnMaxWidth;          // never below the minimum
    Length namePixelSize;
    Length subtitlePixelSize;
    Length previewInset;            // of a preview that is not a raster; a raster fills the width
    double rasterPreviewRadius = 0; // the rounded corners of a raster preview; others are square
    std::array<CardSpec, static_cast<std::size_t>(CardKind::Count)> cards;  // by CardKind
};

inline constexpr Spec kResultsGrid{
    .padding = 14,
    .columnSpacing = 10,
    .rowSpacing = 14,
    .columnMinWidth = scaled(132, 120),
    .columnMaxWidth = scaled(156),
    .namePixelSize = scaled(15),
    .subtitlePixelSize = scaled(12),
    .previewInset = scaled(2),
    .rasterPreviewRadius = 10,
    .cards = {{
        {scaled(134), scaled(142), scaled(142), scaled(8), scaled(6), scaled(6), scaled(176, 176)},   // folder
        {scaled(118), scaled(122), scaled(122), scaled(10), scaled(8), scaled(8), scaled(174, 174)},  // raster
        {scaled(72), scaled(104), scaled(104), scaled(10), scaled(8), scaled(8), scaled(156, 156)},   // other
    }},
};

// Wider columns and taller rows; fixed paddings and texts, icons within bounds.
inline constexpr Spec kFolderBrowserGrid{
    .padding = 16,
    .columnSpacing = 14,
    .rowSpacing = 16,
    .columnMinWidth = scaled(136, 120),
    .columnMaxWidth = scaled(170),
    .namePixelSize = fixed(14),
    .subtitlePixelSize = fixed(11),
    .previewInset = {},
    .rasterPreviewRadius = 0,
    .cards = {{
        {scaled(116, 90, 160), scaled(118), scaled(110), fixed(10), fixed(10), fixed(8), scaled(170)},  // folder
        {scaled(100, 78, 148), scaled(102), scaled(96), fixed(10), fixed(10), fixed(8), scaled(170)},   // raster
        {scaled(100, 78, 148), scaled(94), scaled(88), fixed(10), fixed(10), fixed(8), scaled(170)},    // other
    }},
};

// A card's lengths at a zoom.
struct Card {
    double iconSize = 0;
    double previewHeight = 0;
    double previewMinHeight = 0;
    double horizontalPadding = 0;
    double verticalPadding = 0;
    double stackSpacing = 0;
    double minHeight = 0;
};
Card card(const Spec& grid, CardKind kind, double zoom);
// The full height of a card: the name always takes two lines, so the cards
// of a row line up and no text is measured per card.
int cardHeight(const Card& card, int nameLine, int subtitleLine);

struct ColumnWidths {
    double minimum = 0;
    double maximum = 0;
};
ColumnWidths columnWidths(const Spec& grid, double zoom);

struct Columns {
    int count = 1;
    double width = 0;
    double left = 0;  // of the first column, centring the grid
};
// As many columns of at least the minimum width as fit, widened up to the
// maximum, the grid centred in what is left.
Columns columns(const Spec& grid, double availableWidth, double zoom);

double previewInset(const Spec& grid, bool raster, double zoom);
double previewCornerRadius(const Spec& grid, bool raster);
// Where a card's preview goes: inside the padding, at the top.
QRectF previewRect(const Spec& grid, const Card& card, const QRect& cardRect, bool raster, double zoom);

} // namespace pallix::GridMetrics
