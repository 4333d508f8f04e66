#include "App/Preview/FolderPreviewDrawing.h"

#include <cstdlib>

#include <QFileInfo>
#include <QPainter>

#include <gtest/gtest.h>

namespace pallix {
namespace {

// Three samples that tell apart: a wide warm gradient, a tall blue sheet
// with a stripe, a green square with a disc.
QList<QImage> samples()
{
    QImage wide(300, 200, QImage::Format_RGB32);
    {
        QPainter p(&wide);
        QLinearGradient g(0, 0, 300, 0);
        g.setColorAt(0, Qt::red);
        g.setColorAt(1, Qt::yellow);
        p.fillRect(wide.rect(), g);
    }
    QImage tall(100, 300, QImage::Format_RGB32);
    tall.fill(QColor(40, 80, 220));
    {
        QPainter p(&tall);
        p.fillRect(0, 140, 100, 20, Qt::white);
    }
    QImage square(120, 120, QImage::Format_RGB32);
    square.fill(QColor(30, 160, 60));
    {
        QPainter p(&square);
        p.setBrush(Qt::white);
        p.drawEllipse(30, 30, 60, 60);
    }
    return {wide, tall, square};
}

QString golden()
{
    return QStringLiteral(PALLIX_TESTS_DIR "/App/Preview/data/folder-stack-160.png");
}

TEST(FolderPreviewDrawing, ThreeSamplesAt80PointsMatchTheGoldenDrawing)
{
    const QImage drawn = FolderPreviewDrawing::renderFolderPreviewStack(samples(), {false, false, false}, 80)
                             .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(drawn.size(), QSize(160, 160));
    if (std::getenv("PALLIX_WRITE_GOLDEN"))
        drawn.save(golden());
    const QImage expected = QImage(golden()).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(expected.size(), drawn.size()) << golden().toStdString();
    // Anti-aliasing may differ by a step between Qt versions; a moved card
    // or a wrong colour changes many pixels by far more.
    int off = 0;
    for (int y = 0; y < 160; ++y) {
        for (int x = 0; x < 160; ++x) {
            const QRgb a = drawn.pixel(x, y), b = expected.pixel(x, y);
            const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                    std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
            off += d > 24;
        }
    }
    EXPECT_LT(off, 160 * 160 / 100);
}

TEST(FolderPreviewDrawing, TheFirstSampleIsOnTheFrontCardAndBlankCardsStandBehindOne)
{
    QImage green(100, 100, QImage::Format_RGB32);
    green.fill(QColor(30, 160, 60));
    const QImage one = FolderPreviewDrawing::renderFolderPreviewStack({green}, {false}, 80);
    // The front card's middle (y up: 0.19 s + half of 0.61 s across, just
    // above the flap) shows the green sample; the back card's top corner is white.
    const QColor front = one.pixelColor(80, 160 - 62);
    EXPECT_GT(front.green(), front.red() + 60);
    const QColor back = one.pixelColor(136, 72);  // only the back card reaches out here
    EXPECT_GT(back.lightness(), 230);
}

} // namespace
} // namespace pallix
