#pragma once
// One line of text drawn in a box, elided (at its right end unless asked
// otherwise), laid out once.
// A results list draws the same kinds, sizes, dates and folders row after row
// and list after list while the user types; shaping them anew for every paint
// took most of it. GUI thread only.

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QString>

class QPainter;
class QRect;

namespace pallix {

// What a laid-out text depends on: the fonts differ only in size and weight.
struct ElidedTextKey {
    QString text;
    int width = 0;
    int pixelSize = 0;
    int weight = 0;
    Qt::TextElideMode mode = Qt::ElideRight;
    bool operator==(const ElidedTextKey&) const = default;
};

inline size_t qHash(const ElidedTextKey& key, size_t seed = 0) noexcept
{
    return qHashMulti(seed, key.text, key.width, key.pixelSize, key.weight, int(key.mode));
}

class ElidedText {
public:
    // What painter.drawText(box, align | Qt::AlignVCenter, elided) draws,
    // with `font` (set on the painter by the caller) and the painter's pen.
    void draw(QPainter& painter, const QRect& box, Qt::Alignment align, const QString& text, const QFont& font,
              Qt::TextElideMode mode = Qt::ElideRight);

private:
    struct LaidOut {
        QStaticText text;
        qreal lineHeight = 0;
    };
    QHash<ElidedTextKey, LaidOut> m_laidOut;
};

} // namespace pallix
