#include "App/Preview/PreviewRendering.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

#include <gtest/gtest.h>

#include "QtPrinters.h"

#include "App/Preview/FolderPreviewDrawing.h"
#include "App/Preview/PhotoFiles.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

PreviewRequest request(double iconSize, bool folder, RasterDecoding::Kind kind, bool image)
{
    PreviewRequest r;
    r.iconSize = iconSize;
    r.isDirectory = folder;
    r.rasterKind = kind;
    r.isImage = image;
    return r;
}

TEST(PreviewRendering, PixelSizeIsTwiceTheIconWithinItsBounds)
{
    using K = RasterDecoding::Kind;
    EXPECT_EQ(PreviewRendering::maxPixel(request(24, false, K::Image, true)), 96);
    EXPECT_EQ(PreviewRendering::maxPixel(request(100, false, K::Image, true)), 200);
    EXPECT_EQ(PreviewRendering::maxPixel(request(200, false, K::Image, true)), 256);
    EXPECT_EQ(PreviewRendering::maxPixel(request(200, false, K::Video, false)), 256);
    EXPECT_EQ(PreviewRendering::maxPixel(request(200, false, K::Pdf, false)), 256);
    EXPECT_EQ(PreviewRendering::maxPixel(request(200, true, K::None, false)), 304);
    EXPECT_EQ(FolderPreviewDrawing::canvasSide(30), 96);
    EXPECT_EQ(FolderPreviewDrawing::canvasSide(80), 160);
    EXPECT_EQ(FolderPreviewDrawing::canvasSide(150), 224);
}

// A white page on a white card reads as a page by its thin grey frame; the
// page inside stays as drawn.
TEST(PreviewRendering, APdfPageGetsAThinFrame)
{
    test::TempTree tree;
    const QString path = QString::fromStdString(tree.path("blank.pdf"));
    {
        QPdfWriter pdf(path);
        QPainter(&pdf).fillRect(QRect(0, 0, pdf.width(), pdf.height()), Qt::white);
    }
    PreviewRequest pdf = request(80, false, RasterDecoding::Kind::Pdf, false);
    pdf.itemPath = path;
    const auto page = PreviewRendering::render(pdf).picture;
    ASSERT_TRUE(page.has_value());
    ASSERT_EQ(page->size(), QSize(80, 80));
    const auto grey = [](const QColor& c) { return c.red() < 235 && c.red() > 120 && c.red() == c.blue(); };
    for (const QPoint edge : {QPoint(0, 40), QPoint(79, 40), QPoint(40, 0), QPoint(40, 79)})
        EXPECT_TRUE(grey(page->pixelColor(edge))) << edge.x() << "," << edge.y();
    EXPECT_EQ(page->pixelColor(1, 40), QColor(Qt::white));
    EXPECT_EQ(page->pixelColor(40, 40), QColor(Qt::white));

    // A picture in a palette format is framed too, not left as it was.
    QImage indexed(6, 6, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(255, 255, 255)});
    indexed.fill(0);
    const QImage framed = PreviewRendering::framedPage(indexed);
    EXPECT_TRUE(grey(framed.pixelColor(0, 0)));
    EXPECT_EQ(framed.pixelColor(3, 3), QColor(Qt::white));
}

// A page's square shows its top, where a title stands, not its middle.
TEST(PreviewRendering, APdfThumbnailShowsTheTopOfItsPage)
{
    test::TempTree tree;
    const QString path = QString::fromStdString(tree.path("titled.pdf"));
    {
        QPdfWriter pdf(path);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        QPainter painter(&pdf);
        painter.fillRect(QRect(0, 0, pdf.width(), pdf.height()), Qt::white);
        painter.fillRect(QRect(0, 0, pdf.width(), pdf.height() / 10), Qt::blue);  // the title band
    }
    PreviewRequest pdf = request(80, false, RasterDecoding::Kind::Pdf, false);
    pdf.itemPath = path;
    const auto page = PreviewRendering::render(pdf).picture;
    ASSERT_TRUE(page.has_value());
    ASSERT_EQ(page->size(), QSize(80, 80));
    const QColor title = page->pixelColor(40, 4);
    EXPECT_TRUE(title.blue() > 200 && title.red() < 60) << title.name().toStdString();
    EXPECT_EQ(page->pixelColor(40, 60), QColor(Qt::white));
}

// A picture comes in the format its pixmap keeps, so the GUI thread need not
// convert it: with its see-through parts premultiplied, or opaque without alpha
// even when its file has an alpha channel.
TEST(PreviewRendering, APictureComesReadyForItsPixmap)
{
    test::TempTree tree;
    QImage glass(40, 40, QImage::Format_ARGB32), solid(40, 40, QImage::Format_ARGB32);
    glass.fill(QColor(0, 0, 255, 100));
    solid.fill(QColor(0, 128, 0));
    const QString glassPath = QString::fromStdString(tree.path("glass.png"));
    const QString solidPath = QString::fromStdString(tree.path("solid.png"));
    ASSERT_TRUE(glass.save(glassPath) && solid.save(solidPath));
    PreviewRequest picture = request(40, false, RasterDecoding::Kind::Image, true);
    picture.itemPath = glassPath;
    const auto seeThrough = PreviewRendering::render(picture).picture;
    picture.itemPath = solidPath;
    const auto opaque = PreviewRendering::render(picture).picture;
    ASSERT_TRUE(seeThrough && opaque);
    EXPECT_EQ(seeThrough->format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_NEAR(seeThrough->pixelColor(20, 20).alpha(), 100, 1);
    EXPECT_EQ(opaque->format(), QImage::Format_RGB32);
    EXPECT_EQ(opaque->pixelColor(20, 20), QColor(0, 128, 0));
}

TEST(PreviewRendering, SamplesAreAllOfThreeTheFirstThreeOfFourOtherwiseTheThirdToFifth)
{
    const QStringList seven{"1", "2", "3", "4", "5", "6", "7"};
    EXPECT_EQ(PreviewRendering::pickSamples({}), QStringList{});
    EXPECT_EQ(PreviewRendering::pickSamples(seven.mid(0, 2)), (QStringList{"1", "2"}));
    EXPECT_EQ(PreviewRendering::pickSamples(seven.mid(0, 3)), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(PreviewRendering::pickSamples(seven.mid(0, 4)), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(PreviewRendering::pickSamples(seven.mid(0, 5)), (QStringList{"3", "4", "5"}));
    EXPECT_EQ(PreviewRendering::pickSamples(seven), (QStringList{"3", "4", "5"}));
}

TEST(PreviewRendering, SampleFilesAreVisibleImagesOfTheFolderItselfInNameOrder)
{
    test::TempTree tree;
    for (const char* name : {"img10.png", "img2.JPG", ".hidden.png", "notes.txt", "clip.mp4", "img1.png", "img3.png"})
        tree.file(name, "x");
    tree.file("sub/img0.png", "x");
    const QString root = QString::fromStdString(tree.root());
    // Four images: the first three in name order.
    EXPECT_EQ(PreviewRendering::sampleFiles(root),
              (QStringList{root + "/img1.png", root + "/img2.JPG", root + "/img3.png"}));
    tree.file("img20.png", "x");
    EXPECT_EQ(PreviewRendering::sampleFiles(root),
              (QStringList{root + "/img3.png", root + "/img10.png", root + "/img20.png"}));
}

TEST(PreviewRendering, OnlyTheFirstSelectedSampleIsDecodedAtFullSize)
{
    test::TempTree tree;
    QImage big(600, 400, QImage::Format_RGB32);
    big.fill(Qt::blue);
    for (const char* name : {"2.png", "3.png"})
        ASSERT_TRUE(big.save(QString::fromStdString(tree.path(name))));
    tree.file("1.png", "not an image");
    const auto widths = [](const QList<QImage>& images) {
        QList<int> out;
        for (const QImage& image : images)
            out.append(image.width());
        return out;
    };
    const QString root = QString::fromStdString(tree.root());
    EXPECT_EQ(widths(PreviewRendering::decodeSamples({root + "/2.png", root + "/3.png"}, 304)), (QList<int>{304, 148}));
    // The first one selected cannot be decoded: the next stays a later sample.
    EXPECT_EQ(widths(PreviewRendering::decodeSamples(PreviewRendering::sampleFiles(root), 304)), (QList<int>{148, 148}));
}

TEST(PreviewRendering, AFolderWithoutDecodableSamplesGetsNoPicture)
{
    test::TempTree tree;
    tree.file("broken.png", "not an image");
    PreviewRequest r = request(80, true, RasterDecoding::Kind::None, false);
    r.itemPath = QString::fromStdString(tree.root());
    EXPECT_FALSE(PreviewRendering::render(r).picture);
    EXPECT_TRUE(FolderPreviewDrawing::renderFolderPreviewStack({}, {}, 80).isNull());
}

TEST(PreviewRendering, PhonePhotosAndCameraRawFilesGetCardsAndFolderSamples)
{
    test::TempTree tree;
    QImage red(300, 200, QImage::Format_RGB888);
    red.fill(QColor(230, 20, 20));
    if (!test::encodeWithLibheif(red, QString::fromStdString(tree.path("phone.heic"))))
        GTEST_SKIP() << "heif-enc is not installed";
    QFile dng(QString::fromStdString(tree.path("camera.dng")));
    ASSERT_TRUE(dng.open(QIODevice::WriteOnly));
    dng.write(test::dngFile(red, 1));
    dng.close();
    QFile::remove(QString::fromStdString(tree.path("phone.heic.source.png")));
    PreviewRequest card = request(64, false, RasterDecoding::Kind::Image, true);
    card.itemPath = QString::fromStdString(tree.path("phone.heic"));
    const auto picture = PreviewRendering::render(card).picture;
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), QSize(64, 64));
    EXPECT_GT(picture->pixelColor(32, 32).red(), 180);
    const QString root = QString::fromStdString(tree.root());
    EXPECT_EQ(PreviewRendering::decodeSamples(PreviewRendering::sampleFiles(root), 148).size(), 2);
}

} // namespace
} // namespace pallix
