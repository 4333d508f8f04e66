// Build-time tool: renders the application's SVG icon as a square PNG of the
// given side, for the icon theme's fixed-size folders.
// Usage: pallix-render-icon <input.svg> <side> <output.png>

#include <cstdio>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <input.svg> <side> <output.png>\n", argv[0]);
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    const int side = QByteArray(argv[2]).toInt();
    if (!svg.isValid() || side <= 0)
        return 1;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    return image.save(QString::fromLocal8Bit(argv[3]), "PNG") ? 0 : 1;
}
