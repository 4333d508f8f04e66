#pragma once
// CardPainting: the drawing pieces of a card that the results grid and the
// folder browser grid share: the name in two centred lines, the "视频" badge
// and previews scaled (and rounded) once for the cards on screen.
// GUI thread only.

#include <QCache>
#include <QPixmap>
#include <QRect>
#include <QString>

class QFont;
class QPainter;
class QPalette;

namespace pallix::CardPainting {

// The name in at most two centred lines; returns the lines drawn, 1 or 2.
int paintName(QPainter& painter, const QString& name, const QFont& font, const QRect& area);
// A capsule in the preview's top-right corner, sized by the zoom: the folder holds videos.
void paintVideoBadge(QPainter& painter, const QRectF& preview, double zoom, const QPalette& palette);

// Previews at the size and corner radius they are drawn at, kept while cards show them.
class ScaledPreviews {
public:
    QPixmap scaled(const QPixmap& image, QSize size, double radius);

private:
    QCache<QString, QPixmap> m_cache{48 * 1024};  // cost in KiB
};

} // namespace pallix::CardPainting
