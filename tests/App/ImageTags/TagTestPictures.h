#pragma once
// Pictures the image tag tests draw, and a look into the tags they give.

#include <algorithm>
#include <string>
#include <vector>

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>

namespace pallix::test {

inline bool holds(const std::vector<std::string>& tags, const std::string& tag)
{
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

inline QImage solid(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Black words on white, large and centred, in the CJK font of the machine.
inline QImage poster(const QString& words, int width = 900, int height = 300)
{
    QImage image = solid(width, height, Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(height / 3);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, words);
    return image;
}

} // namespace pallix::test
