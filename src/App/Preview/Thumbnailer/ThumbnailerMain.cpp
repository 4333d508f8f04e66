// pallix-thumbnailer: decodes one PDF page, one video frame or one image
// (HEIC, AVIF, camera RAW and whatever Qt reads) and writes it as PNG to
// standard output. It runs as a process of its own so that a decoder crash
// or hang on a hostile file ends this process only; the application kills it
// after a timeout, and its address space is bounded.
//
//   pallix-thumbnailer pdf|video|image <max-pixel> <path>
//
// Exit 0 with the PNG on stdout, 1 when nothing could be made, 2 on misuse.

#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <poppler-qt6.h>

#include "App/Paths/HelperPrograms.h"
#include "App/Preview/RegularFile.h"
#include "App/Preview/Thumbnailer/StillPicture.h"
#include "App/Preview/Thumbnailer/VideoPoster.h"

namespace {

int writePng(const QImage& image)
{
    if (image.isNull())
        return 1;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return 1;
    return pallix::helperprograms::writeAll(STDOUT_FILENO, {bytes.constData(), std::size_t(bytes.size())}) ? 0 : 1;
}

int pdfPage(const QString& path, int maxPixel)
{
    std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    if (!document || document->isLocked() || document->numPages() < 1)
        return 1;
    std::unique_ptr<Poppler::Page> page = document->page(0);
    if (!page)
        return 1;
    const QSizeF points = page->pageSizeF();
    const double longer = std::max(points.width(), points.height());
    if (longer <= 0)
        return 1;
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    const double dpi = 72.0 * maxPixel / longer;
    QImage image = page->renderToImage(dpi, dpi);
    // Pages without a background are transparent; a sheet of paper is white.
    QImage sheet(image.size(), QImage::Format_RGB32);
    sheet.fill(Qt::white);
    {
        QPainter painter(&sheet);
        painter.drawImage(0, 0, image);
    }
    return writePng(sheet);
}

} // namespace

// Under the sanitizer build the decoding libraries' own leaks at exit would
// turn every answer into a failure; the process is short-lived anyway.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0";
}

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    pallix::helperprograms::boundAddressSpace();
    // Only a regular file is decoded: the decoders would wait for ever on a
    // pipe and read /dev/zero without end. They are handed the descriptor's
    // own name, so a file swapped for a pipe after the check is not reached.
    const int fd = pallix::RegularFile::openForReading(argv[3]);
    if (fd < 0)
        return 1;
    const std::string file = "/proc/self/fd/" + std::to_string(fd);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const int maxPixel = std::clamp(QString::fromLocal8Bit(argv[2]).toInt(), 16, 4096);
    if (mode == QLatin1String("pdf"))
        return pdfPage(QString::fromStdString(file), maxPixel);
    if (mode == QLatin1String("video"))
        return writePng(pallix::VideoPoster::posterFrame(file, maxPixel));
    if (mode == QLatin1String("image"))
        return writePng(pallix::StillPicture::decode(file, QString::fromLocal8Bit(argv[3]), maxPixel));
    return 2;
}
