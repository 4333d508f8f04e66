#pragma once
// CardPainting: one card of a grid of files, as the results grid and the
// folder browser draw it: a highlight when selected (or under a drag), the
// preview fitted into its area, the "视频" badge of a folder holding videos,
// the name in two centred lines broken between words, and a subtitle. What the two grids do
// differently on purpose is the CardStyle; where the parts go is the
// caller's arithmetic, handed in with each Card. GUI thread only.

#include <QCache>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QStringList>

#include "UI/Common/TextLines.h"

class QPainter;
class QPalette;

namespace pallix::CardPainting {

// How one grid's cards look, fixed for the grid.
struct CardStyle {
    double cornerRadius = 6;             // of the highlight behind the card
    double selectedOutlineOpacity = 0.7; // the accent's opacity on a selected card's outline
    double hoverScale = 1.0;             // a hovered folder's preview grows by this about its centre
};

// Where a card's name and subtitle go, for the grids that lay labels over
// them: centred in [left, left + width).
struct TextBox {
    int left = 0;
    int width = 0;
    int nameTop = 0;
    int subtitleTop = 0;  // under a name of no lines
};

// One card to draw: its place, its parts' places and what they show.
struct Card {
    QRect rect;                  // the whole card: the highlight's shape
    QRectF preview;              // the area the image is fitted into; the badge sits in its corner
    QPixmap image;               // the preview at any size; scaled to fit here
    double previewRadius = 0;    // the rounded corners of the fitted image; 0 square
    int textLeft = 0;            // the name and subtitle are centred in [textLeft, textLeft + textWidth)
    int textWidth = 0;
    int nameTop = 0;
    int subtitleTop = 0;         // under a name of no lines: each line of the name moves it one line down
    double namePixelSize = 14;
    double subtitlePixelSize = 11;
    double badgeZoom = 1.0;      // the badge's scale
    QString name;
    QString subtitle;
    bool selected = false;
    bool dropTarget = false;     // files dragged over it: a stronger fill
    bool hoveredFolder = false;  // grows the preview by the style's hoverScale
    bool nameCovered = false;    // a rename field covers the name: it keeps its two lines, none drawn
    bool video = false;          // draws the badge
};

// A card's name: at most two lines, broken between words, the rest of a
// longer name on the second line; a line too long (one word wider than the
// card) is elided in the middle, so an extension at the end of the name
// stays whole. The subtitle: one line cut at its end. A label laid over the
// card shows its texts under the same rules.
inline constexpr TextLines::Rule kNameRule{2, Qt::ElideMiddle};
inline constexpr TextLines::Rule kSubtitleRule{1, Qt::ElideRight};

// The name's lines on a card `width` wide.
QStringList nameLines(const QString& name, const QFont& font, int width);

// Draws cards of one style and keeps the previews scaled (and rounded) for
// the cards on screen, so a repaint does not scale them again.
class CardPainter {
public:
    explicit CardPainter(CardStyle style) : m_style(style) {}

    void paint(QPainter& painter, const Card& card, const QPalette& palette);

private:
    // A card's texts, shaped once: a grid repaints the same cards as the
    // user types, hovers and scrolls, and shaping them took most of a paint.
    struct CardTextKey {
        QString name;
        QString subtitle;
        int width = 0;
        double namePixelSize = 0;
        double subtitlePixelSize = 0;
        bool operator==(const CardTextKey&) const = default;
        friend size_t qHash(const CardTextKey& key, size_t seed = 0) noexcept
        {
            return qHashMulti(seed, key.name, key.subtitle, key.width, key.namePixelSize, key.subtitlePixelSize);
        }
    };
    struct LaidOutText {
        QList<QGlyphRun> firstLine;   // each line at its own origin, centred in the width
        QList<QGlyphRun> secondLine;
        QList<QGlyphRun> subtitle;
        int nameLines = 1;
        int nameLineHeight = 0;
    };

    const LaidOutText& laidOut(const Card& card);
    QPixmap scaledPreview(const QPixmap& image, QSize size, double radius);

    CardStyle m_style;
    QCache<QString, QPixmap> m_previews{48 * 1024};  // cost in KiB
    QHash<CardTextKey, LaidOutText> m_texts;
};

} // namespace pallix::CardPainting
