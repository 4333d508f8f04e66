#pragma once
// One line of text drawn in a box, elided at its right end, laid out once.
// A results list draws the same kinds, sizes, dates and folders row after row
// and list after list while the user types; shaping them anew for every paint
// took most of it. A new text is shaped once, and again only when it must be
// elided. GUI thread only.

#include <QFont>
#include <QHash>
#include <QString>
#include <QTextLayout>

#include <memory>

class QPainter;
class QRect;

namespace pallix {

// What a laid-out text depends on: the fonts differ only in size and weight.
struct ElidedTextKey {
    QString text;
    int width = 0;
    int pixelSize = 0;
    int weight = 0;
    bool operator==(const ElidedTextKey&) const = default;
};

inline size_t qHash(const ElidedTextKey& key, size_t seed = 0) noexcept
{
    return qHashMulti(seed, key.text, key.width, key.pixelSize, key.weight);
}

class ElidedText {
public:
    // What painter.drawText(box, align | Qt::AlignVCenter, elided) draws,
    // with `font` (set on the painter by the caller) and the painter's pen.
    void draw(QPainter& painter, const QRect& box, Qt::Alignment align, const QString& text, const QFont& font);

private:
    struct LaidOut {
        std::shared_ptr<QTextLayout> layout;  // one line, shaped once
        qreal width = 0;
        qreal lineHeight = 0;
    };
    static LaidOut laidOut(const QString& text, int width, const QFont& font);

    QHash<ElidedTextKey, LaidOut> m_laidOut;
};

} // namespace pallix
