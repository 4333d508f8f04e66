#pragma once
// ResultPainting: the drawing pieces the list and the grid share (fonts by
// pixel size, the secondary colours, the bordered show-more button, the hover
// action button, dividers). Font sizes are in device-independent pixels, not
// points, so text and the fixed column and card sizes keep their proportions
// whatever the screen's dots per inch.
// GUI thread only.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QString>

class QPainter;
class QPixmap;

namespace pallix::ResultPainting {

QFont font(double pixelSize, QFont::Weight weight = QFont::Normal);
QColor secondaryText(const QPalette& palette);
QColor tertiaryText(const QPalette& palette);
// The accent colour at the given opacity.
QColor accent(const QPalette& palette, double opacity);
// `top` laid over the opaque `below`, as one opaque colour: filling with it
// looks the same as blending, and fills a row without reading what lies under it.
QColor over(const QColor& top, const QColor& below);

// Qt's raster engine hands a fill or a blit of 96 device rows or more to the
// global thread pool in pieces and waits for them all; on a busy machine,
// waking those threads took longer than the work, and a paint waited on
// whichever thread was slowest to run. Drawn in bands of fewer rows, the work
// stays on the painting thread.
inline constexpr int kBandDeviceRows = 64;
void fillInBands(QPainter& painter, const QRect& rect, const QBrush& brush);
void drawPixmapInBands(QPainter& painter, QPoint topLeft, const QPixmap& pixmap);

inline constexpr int kButtonHeight = 24;

// "显示更多（N）".
QString showMoreTitle(int hidden);
// The bordered show-more button, centred horizontally in `row` with its top at `top`.
QRect showMoreButtonRect(const QRect& row, int top, int hidden);
void paintBorderedButton(QPainter& painter, const QRect& rect, const QString& title, const QPalette& palette);
// The show-more button at showMoreButtonRect(row, top, hidden).
void paintShowMoreButton(QPainter& painter, const QRect& row, int top, int hidden, const QPalette& palette);
// A 24×24 rounded square with one symbol; the fill and outline darken while hovered.
void paintHoverActionButton(QPainter& painter, const QRect& rect, const QString& symbol, bool hovered,
                            const QPalette& palette);
void paintDivider(QPainter& painter, int left, int right, int y, const QPalette& palette);

} // namespace pallix::ResultPainting
