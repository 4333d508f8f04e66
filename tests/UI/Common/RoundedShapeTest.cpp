// Rounded shapes are drawn once and blitted after: the blit must look like
// the shape drawn in place, and a shape of another size or colour is never
// the one drawn before.

#include "UI/Common/RoundedShape.h"

#include <cstdlib>
#include <tuple>

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace pallix {
namespace {

constexpr QRgb kBackground = 0xffffffff;

QImage blank()
{
    QImage image(200, 140, QImage::Format_ARGB32_Premultiplied);
    image.fill(kBackground);
    return image;
}

int channelGap(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

TEST(RoundedShape, ABlittedShapeLooksDrawnInPlaceAndEachSizeAndColourIsItsOwn)
{
    const QColor red(220, 0, 0, 200), blue(0, 0, 220, 200), hairline(0, 0, 0, 15);
    // top, width, height, radius, fill, outline
    const std::tuple<int, int, int, double, QColor, QColor> shapes[] = {
        {10, 100, 24, 999.0, red, hairline},
        {50, 100, 24, 999.0, blue, hairline},
        {90, 160, 30, 8.0, red, Qt::transparent},
    };
    QImage blitted = blank();
    {
        QPainter p(&blitted);
        for (const auto& [top, width, height, radius, fill, outline] : shapes)
            paintRoundedShape(p, QRectF(10, top, width, height), radius, fill, outline);
    }
    // Off the pixel grid by half a pixel each way, the shape is drawn in place
    // over the same pixels.
    QImage inPlace = blank();
    {
        QPainter p(&inPlace);
        p.translate(0.5, 0.5);
        for (const auto& [top, width, height, radius, fill, outline] : shapes)
            paintRoundedShape(p, QRectF(9.5, top - 0.5, width, height), radius, fill, outline);
    }
    int worst = 0;
    for (int y = 0; y < blitted.height(); ++y)
        for (int x = 0; x < blitted.width(); ++x)
            worst = std::max(worst, channelGap(blitted.pixel(x, y), inPlace.pixel(x, y)));
    EXPECT_LE(worst, 2);

    EXPECT_GT(qRed(blitted.pixel(60, 22)), 200);   // the red capsule
    EXPECT_GT(qBlue(blitted.pixel(60, 62)), 200);  // the blue one of the same size
    EXPECT_LT(qRed(blitted.pixel(60, 62)), 60);
    EXPECT_GT(qRed(blitted.pixel(160, 105)), 200);  // the wider shape fills its whole width
    EXPECT_EQ(blitted.pixel(10, 10), kBackground);  // a capsule's corner stays clear
    EXPECT_EQ(blitted.pixel(140, 22), kBackground);
}

} // namespace
} // namespace pallix
