#include "App/Preview/RasterDecoding.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include "App/Preview/PhotoFiles.h"
#include "Platform/SpecialFiles.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

using RasterDecoding::Kind;

// A JPEG whose pixels lie on their side, with the EXIF orientation 6
// ("turn 90° clockwise to show"): left half red, right half blue.
QByteArray sidewaysJpeg()
{
    QImage image(80, 40, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, 40, 40, Qt::red);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    const QByteArray tiff = QByteArray::fromHex("4d4d002a00000008"     // big-endian TIFF, IFD at 8
                                                "0001"                 // one entry
                                                "011200030000000100060000"  // orientation = 6
                                                "00000000");           // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1 = QByteArray::fromHex("ffe1");
    const int length = payload.size() + 2;
    app1.append(char(length >> 8)).append(char(length & 0xff)).append(payload);
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

void write(const std::string& path, const QByteArray& bytes)
{
    QFile out(QString::fromStdString(path));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
}

bool reddish(const QColor& c) { return c.red() > 180 && c.blue() < 90; }
bool bluish(const QColor& c) { return c.blue() > 150 && c.red() < 90; }

TEST(RasterDecoding, AJpegIsTurnedUprightByItsOrientation)
{
    test::TempTree tree;
    const std::string path = tree.path("sideways.jpg");
    write(path, sidewaysJpeg());
    const QImage image = RasterDecoding::decodeImage(QString::fromStdString(path), 96);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(40, 80));  // portrait once turned
    EXPECT_TRUE(reddish(image.pixelColor(20, 10)));  // the left half went to the top
    EXPECT_TRUE(bluish(image.pixelColor(20, 70)));
}

TEST(RasterDecoding, ImagesAreScaledToTheLargerSideAndNeverBelow64)
{
    test::TempTree tree;
    QImage big(1000, 500, QImage::Format_RGB32);
    big.fill(Qt::green);
    ASSERT_TRUE(big.save(QString::fromStdString(tree.path("big.png"))));
    EXPECT_EQ(RasterDecoding::decodeImage(QString::fromStdString(tree.path("big.png")), 200.2).size(), QSize(201, 100));
    EXPECT_EQ(RasterDecoding::decodeImage(QString::fromStdString(tree.path("big.png")), 10).size(), QSize(64, 32));
    EXPECT_TRUE(RasterDecoding::decodeImage(QString::fromStdString(tree.file("junk.png", "no image")), 96).isNull());
}

TEST(RasterDecoding, AnSvgIsDrawnAtTheSizeAskedFor)
{
    test::TempTree tree;
    const std::string svg = tree.file("shape.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='20' height='10'>"
                                                   "<rect width='20' height='10' fill='#f00'/></svg>");
    const QImage image = RasterDecoding::decodeImage(QString::fromStdString(svg), 128);
    EXPECT_EQ(image.size(), QSize(128, 64));  // drawn large, not a small bitmap blown up
    EXPECT_TRUE(reddish(image.pixelColor(64, 32)));
}

TEST(RasterDecoding, AnImageTooLargeToDecodeIsRefusedNotAllocated)
{
    test::TempTree tree;
    QImage small(4, 4, QImage::Format_RGB32);
    small.fill(Qt::white);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    small.save(&buffer, "PNG");
    // Claim 30,000 × 30,000 in the header (and fix its checksum): 3.6 GB to decode.
    png.replace(16, 8, QByteArray::fromHex("0000753000007530"));
    const quint32 crc = [&] {
        quint32 c = 0xffffffffu;
        for (char byte : png.mid(12, 17)) {
            c ^= static_cast<quint8>(byte);
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
        }
        return ~c;
    }();
    for (int i = 0; i < 4; ++i)
        png[29 + i] = char((crc >> (24 - 8 * i)) & 0xff);
    write(tree.path("bomb.png"), png);
    EXPECT_TRUE(RasterDecoding::decodeImage(QString::fromStdString(tree.path("bomb.png")), 256).isNull());
}

TEST(RasterDecoding, SpecialFilesAreRefusedAtOnceHereAndInTheHelper)
{
    test::TempTree tree;
    const test::SpecialFiles special = test::makeSpecialFiles(tree);
    for (const std::string& path : special.all()) {
        for (Kind kind : {Kind::Image, Kind::Pdf, Kind::Video}) {
            SCOPED_TRACE(path + " as kind " + std::to_string(int(kind)));
            auto decoded = std::make_shared<bool>(true);
            ASSERT_TRUE(test::returnsWithin([decoded, kind, path = QString::fromStdString(path)] {
                *decoded = !RasterDecoding::decode(kind, path, 200).isNull();
            }));
            EXPECT_FALSE(*decoded);
        }
    }
    // The helper checks on its own: started on a pipe or a device it ends
    // with "nothing made" at once instead of waiting to be killed.
    const struct {
        const char* mode;
        std::string path;
    } direct[] = {{"pdf", special.pipes[1]}, {"video", special.pipes[4]}, {"video", special.devices[0]}};
    for (const auto& d : direct) {
        SCOPED_TRACE(d.path);
        QProcess helper;
        helper.start(RasterDecoding::helperPath(), {d.mode, "200", QString::fromStdString(d.path)});
        ASSERT_TRUE(helper.waitForFinished(5000));
        EXPECT_EQ(helper.exitCode(), 1);
        EXPECT_TRUE(helper.readAllStandardOutput().isEmpty());
    }
    // A regular file is read by its content, whatever its name says.
    QImage png(30, 20, QImage::Format_RGB32);
    png.fill(Qt::red);
    ASSERT_TRUE(png.save(QString::fromStdString(tree.path("really-a-png.jpg")), "PNG"));
    EXPECT_EQ(RasterDecoding::decodeImage(QString::fromStdString(tree.path("really-a-png.jpg")), 64).size(),
              QSize(30, 20));
}

TEST(RasterDecoding, APdfGivesItsFirstPageThroughTheHelper)
{
    test::TempTree tree;
    const QString path = QString::fromStdString(tree.path("doc.pdf"));
    {
        QPdfWriter pdf(path);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        QPainter p(&pdf);
        p.fillRect(QRect(0, 0, pdf.width(), pdf.height() / 2), Qt::red);
        pdf.newPage();
        p.fillRect(QRect(0, 0, pdf.width(), pdf.height()), Qt::blue);
    }
    const QImage page = RasterDecoding::decode(Kind::Pdf, path, 200);
    ASSERT_FALSE(page.isNull()) << RasterDecoding::helperPath().toStdString();
    EXPECT_EQ(std::max(page.width(), page.height()), 200);
    EXPECT_LT(page.width(), page.height());                         // A4 stands upright
    EXPECT_TRUE(reddish(page.pixelColor(page.width() / 2, page.height() / 5)));  // page one, not two
    EXPECT_EQ(page.pixelColor(page.width() / 2, page.height() * 4 / 5), QColor(Qt::white));
    EXPECT_TRUE(RasterDecoding::decode(Kind::Pdf, QString::fromStdString(tree.file("fake.pdf", "%PDF-junk")), 200).isNull());
}

// Makes `path` with ffmpeg from the lavfi inputs and output options given.
void makeVideo(const QString& ffmpeg, const QStringList& arguments, const QString& path)
{
    QProcess make;
    make.start(ffmpeg, QStringList{"-v", "error"} + arguments + QStringList{path});
    ASSERT_TRUE(make.waitForFinished(60000));
    ASSERT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
}

bool greenish(const QColor& c) { return c.green() > 180 && c.red() < 90 && c.blue() < 90; }

TEST(RasterDecoding, AVideoGivesAFrameAndItsLengthThroughTheHelper)
{
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    test::TempTree tree;
    const QString path = QString::fromStdString(tree.path("clip.mp4"));
    ASSERT_NO_FATAL_FAILURE(makeVideo(ffmpeg, {"-f", "lavfi", "-i", "color=c=blue:s=160x90:d=2", "-pix_fmt", "yuv420p",
                                               "-c:v", "libx264"}, path));
    const QImage frame = RasterDecoding::decode(Kind::Video, path, 128);
    ASSERT_FALSE(frame.isNull());
    EXPECT_EQ(frame.width(), 128);
    EXPECT_TRUE(bluish(frame.pixelColor(64, frame.height() / 2)));
    EXPECT_EQ(frame.text("Thumb::Movie::Length"), "2");
    EXPECT_TRUE(RasterDecoding::decode(Kind::Video, QString::fromStdString(tree.file("bad.mp4", "nope")), 128).isNull());
    // A playlist is read as a video, but the files it names are never opened.
    const QString segment = QString::fromStdString(tree.path("other.ts"));
    ASSERT_NO_FATAL_FAILURE(makeVideo(ffmpeg, {"-f", "lavfi", "-i", "color=c=blue:s=160x90:d=1", "-c:v", "mpeg2video"},
                                      segment));
    const std::string playlist = tree.file("list.mp4", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n"
                                                       + segment.toStdString() + "\n#EXT-X-ENDLIST\n");
    EXPECT_TRUE(RasterDecoding::decode(Kind::Video, QString::fromStdString(playlist), 128).isNull());
}

TEST(RasterDecoding, AVideoWhoseFirstPictureCannotBeDecodedShowsTheFrameAThirdOfASecondIn)
{
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    test::TempTree tree;
    // Ten frames a second, each a picture of its own: red until 0.3 s, green
    // until 1 s, then blue for nine seconds.
    const QString intact = QString::fromStdString(tree.path("intact.mov"));
    ASSERT_NO_FATAL_FAILURE(makeVideo(ffmpeg, {"-f", "lavfi", "-i", "color=c=red:s=160x90:r=10:d=0.3",
                                               "-f", "lavfi", "-i", "color=c=lime:s=160x90:r=10:d=0.7",
                                               "-f", "lavfi", "-i", "color=c=blue:s=160x90:r=10:d=9",
                                               "-filter_complex", "[0][1][2]concat=n=3:v=1:a=0", "-c:v", "png"},
                                      intact));
    const QImage first = RasterDecoding::decode(Kind::Video, intact, 128);
    ASSERT_FALSE(first.isNull());
    EXPECT_TRUE(reddish(first.pixelColor(64, 36)));
    // The first picture's signature wiped: the decoder refuses it.
    QFile file(intact);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    const qsizetype signature = bytes.indexOf(QByteArray::fromHex("89504e470d0a1a0a"));
    ASSERT_GT(signature, 0);
    bytes.replace(signature, 8, QByteArray(8, '\0'));
    write(tree.path("broken.mov"), bytes);
    const QImage poster = RasterDecoding::decode(Kind::Video, QString::fromStdString(tree.path("broken.mov")), 128);
    ASSERT_FALSE(poster.isNull());
    EXPECT_EQ(poster.size(), QSize(128, 72));
    // Not the next red frame after the broken one, nor the blue a tenth in.
    EXPECT_TRUE(greenish(poster.pixelColor(64, 36))) << poster.pixelColor(64, 36).name().toStdString();
    EXPECT_EQ(poster.text("Thumb::Movie::Length"), "10");
}

QImage decodedImage(const std::string& path, double maxPixel)
{
    return RasterDecoding::decode(Kind::Image, QString::fromStdString(path), maxPixel);
}

TEST(RasterDecoding, HeicAvifAndDngComeBackInTheirColoursAndOrientation)
{
    test::TempTree tree;
    for (const char* name : {"photo.heic", "photo.avif"}) {
        SCOPED_TRACE(name);
        if (!test::encodeWithLibheif(test::redLeftBlueRight(), QString::fromStdString(tree.path(name))))
            GTEST_SKIP() << "heif-enc is not installed";
        const QImage image = decodedImage(tree.path(name), 64);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(64, 32));
        EXPECT_TRUE(reddish(image.pixelColor(10, 16))) << image.pixelColor(10, 16).name().toStdString();
        EXPECT_TRUE(bluish(image.pixelColor(54, 16))) << image.pixelColor(54, 16).name().toStdString();
    }
    // Stored on its side with the orientation 6: the left half goes to the top.
    write(tree.path("camera.dng"), test::dngFile(test::redLeftBlueRight(), 6));
    const QImage raw = decodedImage(tree.path("camera.dng"), 96);
    ASSERT_FALSE(raw.isNull());
    EXPECT_EQ(raw.size(), QSize(40, 80));
    EXPECT_TRUE(reddish(raw.pixelColor(20, 10))) << raw.pixelColor(20, 10).name().toStdString();
    EXPECT_TRUE(bluish(raw.pixelColor(20, 70))) << raw.pixelColor(20, 70).name().toStdString();
}

TEST(RasterDecoding, ARawGivesTheCamerasPreviewWhenLargeEnoughElseItsDevelopedData)
{
    test::TempTree tree;
    QImage preview(400, 200, QImage::Format_RGB888);
    preview.fill(QColor(20, 200, 20));
    write(tree.path("with-preview.dng"), test::dngFile(test::redLeftBlueRight(), 6, preview));
    const QImage small = decodedImage(tree.path("with-preview.dng"), 256);
    ASSERT_FALSE(small.isNull());
    EXPECT_EQ(small.size(), QSize(128, 256));  // the preview, turned as the raw file says
    EXPECT_TRUE(greenish(small.pixelColor(64, 128)));
    // Asked larger than the preview: the raw data, developed.
    const QImage large = decodedImage(tree.path("with-preview.dng"), 512);
    ASSERT_FALSE(large.isNull());
    EXPECT_EQ(large.size(), QSize(40, 80));
    EXPECT_TRUE(reddish(large.pixelColor(20, 10)));
    EXPECT_TRUE(bluish(large.pixelColor(20, 70)));
}

TEST(RasterDecoding, ACutHeicAndRandomBytesNamedAsRawGiveNothingAtOnce)
{
    test::TempTree tree;
    const QString whole = QString::fromStdString(tree.path("whole.heic"));
    if (!test::encodeWithLibheif(test::redLeftBlueRight(400, 300), whole))
        GTEST_SKIP() << "heif-enc is not installed";
    QFile in(whole);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    write(tree.path("cut.heic"), bytes.left(bytes.size() / 2));
    QByteArray noise(64 * 1024, '\0');
    QRandomGenerator(61).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    write(tree.path("noise.cr2"), noise);
    write(tree.path("tiff-header.nef"), QByteArray("II*\0\x08\0\0\0", 8) + noise);
    for (const char* name : {"cut.heic", "noise.cr2", "tiff-header.nef"}) {
        SCOPED_TRACE(name);
        auto decoded = std::make_shared<bool>(true);
        ASSERT_TRUE(test::returnsWithin([decoded, path = tree.path(name)] { *decoded = !decodedImage(path, 256).isNull(); }));
        EXPECT_FALSE(*decoded);
    }
}

TEST(RasterDecoding, ALarge16BitPngGetsAPictureLikeAn8BitPhotoOfItsSize)
{
    test::TempTree tree;
    QImage deep(6000, 4000, QImage::Format_RGBX64);  // 192 MB decoded, twice the limit here
    deep.fill(QColor(20, 20, 230));
    QImageWriter writer(QString::fromStdString(tree.path("deep.png")), "png");
    writer.setQuality(90);  // little compression: quick to write
    ASSERT_TRUE(writer.write(deep));
    deep = QImage();
    const QImage image = decodedImage(tree.path("deep.png"), 256);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 256);
    EXPECT_NEAR(image.height(), 171, 1);
    EXPECT_TRUE(bluish(image.pixelColor(128, 85)));
}

// Everything the process writes to its standard error while it lives.
class StandardErrorCapture {
public:
    StandardErrorCapture() : m_saved(::dup(STDERR_FILENO)), m_file(std::tmpfile())
    {
        std::fflush(stderr);
        ::dup2(::fileno(m_file), STDERR_FILENO);
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            s_messages.append(text);
        });
    }
    ~StandardErrorCapture() { release(); }
    // Stops capturing; what was written and the Qt messages that were logged.
    QString release()
    {
        if (m_saved < 0)
            return {};
        qInstallMessageHandler(m_previous);
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
        QByteArray written(4096, '\0');
        std::rewind(m_file);
        written.resize(static_cast<qsizetype>(std::fread(written.data(), 1, written.size(), m_file)));
        std::fclose(m_file);
        return QString::fromUtf8(written) + s_messages.join(u'\n');
    }

private:
    static inline QStringList s_messages;
    int m_saved;
    std::FILE* m_file;
    QtMessageHandler m_previous = nullptr;
};

TEST(RasterDecoding, DamagedImagesOfTheUsersSayNothingOnStandardError)
{
    test::TempTree tree;
    QImage photo(300, 200, QImage::Format_RGB32);
    photo.fill(Qt::red);
    QByteArray png;
    QByteArray jpeg;
    QBuffer pngBuffer(&png);
    QBuffer jpegBuffer(&jpeg);
    ASSERT_TRUE(pngBuffer.open(QIODevice::WriteOnly) && photo.save(&pngBuffer, "PNG"));
    ASSERT_TRUE(jpegBuffer.open(QIODevice::WriteOnly) && photo.save(&jpegBuffer, "JPEG"));
    write(tree.path("empty.png"), {});
    write(tree.path("text.jpg"), "plain words");
    write(tree.path("cut.png"), png.left(png.size() / 2));
    write(tree.path("cut.jpg"), jpeg.left(jpeg.size() / 2));
    write(tree.path("whole.png"), png);
    StandardErrorCapture capture;
    for (const char* name : {"empty.png", "text.jpg", "cut.png", "cut.jpg"})
        decodedImage(tree.path(name), 128);
    const QImage whole = decodedImage(tree.path("whole.png"), 128);
    EXPECT_EQ(capture.release().toStdString(), "");
    EXPECT_EQ(whole.size(), QSize(128, 85));  // a readable one still reads
}

TEST(RasterDecoding, ASquareIsFilledAndTheLongerSideCropped)
{
    QImage wide(200, 100, QImage::Format_RGB32);
    wide.fill(Qt::blue);
    QPainter(&wide).fillRect(0, 0, 50, 100, Qt::red);  // the left quarter is cropped away
    const QImage square = RasterDecoding::scaledSquare(wide, 64);
    EXPECT_EQ(square.size(), QSize(64, 64));
    EXPECT_TRUE(bluish(square.pixelColor(2, 32)));
    EXPECT_TRUE(bluish(square.pixelColor(62, 32)));
}

} // namespace
} // namespace pallix
