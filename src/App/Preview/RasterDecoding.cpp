#include "App/Preview/RasterDecoding.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLoggingCategory>
#include <QPainter>
#include <QProcess>

#include "App/Preview/ImageFormats.h"
#include "App/Preview/RegularFile.h"
#include "App/Paths/HelperPrograms.h"
#include "App/Paths/SystemPaths.h"

namespace pallix::RasterDecoding {

namespace {

int decoderSide(double maxPixel)
{
    return std::max(static_cast<int>(std::ceil(std::clamp(maxPixel, 0.0, 8192.0))), 64);
}

// Qt's image readers report a damaged file of the user's in categories of
// their own ("Premature end of JPEG file"); it is no fault of the
// application's, and 100,000 broken pictures made as many log lines.
QLoggingCategory::CategoryFilter g_previousFilter = nullptr;

void quietImageReaders(QLoggingCategory* category)
{
    if (g_previousFilter)
        g_previousFilter(category);
    const QByteArrayView name(category->categoryName());
    if (name.startsWith("qt.gui.imageio") || name.startsWith("qt.svg")) {
        for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
            category->setEnabled(type, false);
    }
}

void installQuietImageReaders()
{
    static std::once_flag once;
    std::call_once(once, [] { g_previousFilter = QLoggingCategory::installFilter(quietImageReaders); });
}

// Only JPEG decodes at a fraction of its size and SVG draws at the size
// asked for; the other readers (PNG too, though it takes a scaled size)
// allocate the whole picture first, with 8 bytes a pixel for 16-bit colour.
bool tooLargeHere(const QImageReader& reader, const QByteArray& format, QSize size)
{
    if (format == "jpeg" || format == "svg" || format == "svgz")
        return false;
    const qint64 bits = std::max<qint64>(QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel(), 32);
    return qint64(size.width()) * size.height() * bits / 8 > (qint64(kAllocationLimitMiB) << 20);
}

} // namespace

QImage decodeImage(const QString& path, double maxPixel)
{
    installQuietImageReaders();
    if (ImageFormats::isHelperOnlyExtension(QFileInfo(path).suffix().toLower().toStdString()))
        return decodeWithHelper(Kind::Image, path, maxPixel);
    QFile file;
    if (!RegularFile::open(file, path))
        return {};
    QImageReader::setAllocationLimit(kAllocationLimitMiB);
    QImageReader reader;
    const QByteArray format = ImageFormats::setDevice(reader, file, path);
    if (format.isEmpty())
        return {};
    // libpng writes a cut file's error to standard error before Qt hears of it.
    if (format == "png" && !ImageFormats::pngLooksWhole(file))
        return decodeWithHelper(Kind::Image, path, maxPixel);
    reader.setAutoTransform(true);
    const int side = decoderSide(maxPixel);
    const QSize size = reader.size();
    if (size.isValid() && tooLargeHere(reader, format, size))
        return decodeWithHelper(Kind::Image, path, maxPixel);
    // Scaling inside the reader lets JPEG decode at a fraction of its size
    // and SVG render at the size asked for.
    if (size.isValid() && !size.isEmpty() && std::max(size.width(), size.height()) > side)
        reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    else if (size.isValid() && format == "svg")
        reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (std::max(image.width(), image.height()) > side)
        image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QString helperPath()
{
    return helperprograms::find("PALLIX_THUMBNAILER", QStringLiteral("pallix-thumbnailer"),
                                QStringLiteral(PALLIX_THUMBNAILER_BUILD_PATH));
}

QImage decodeWithHelper(Kind kind, const QString& path, double maxPixel, int timeoutMs)
{
    // The helper checks again on its own descriptor; this spares the process,
    // as does an empty file, which holds no picture.
    if (RegularFile::typeOf(QFile::encodeName(path).toStdString()) != RegularFile::Type::Regular
        || QFileInfo(path).size() == 0)
        return {};
    return decodeInHelper(kind, path, maxPixel, timeoutMs);
}

QImage decodeInHelper(Kind kind, const QString& path, double maxPixel, int timeoutMs)
{
    const QString mode = kind == Kind::Pdf     ? QStringLiteral("pdf")
                         : kind == Kind::Video ? QStringLiteral("video")
                                               : QStringLiteral("image");
    QProcess helper;
    helper.setProcessChannelMode(QProcess::SeparateChannels);
    helper.setStandardErrorFile(QProcess::nullDevice());
    helper.start(helperPath(), {mode, QString::number(decoderSide(maxPixel)), path});
    if (!helper.waitForStarted(timeoutMs))
        return {};
    helper.closeWriteChannel();
    if (!helper.waitForFinished(timeoutMs)) {
        helper.kill();
        helper.waitForFinished(1000);
        return {};
    }
    if (helper.exitStatus() != QProcess::NormalExit || helper.exitCode() != 0)
        return {};
    // The helper's PNG is read under the same limit as any image.
    QImageReader::setAllocationLimit(kAllocationLimitMiB);
    QImage image;
    image.loadFromData(helper.readAllStandardOutput(), "PNG");
    return image;
}

QImage decode(Kind kind, const QString& path, double maxPixel)
{
    // The readers and the helper take a path Qt can name, whatever the name's bytes.
    const systempaths::PathForQt readable(path);
    if (readable.path().isEmpty())
        return {};
    switch (kind) {
    case Kind::Image:
        return decodeImage(readable.path(), maxPixel);
    case Kind::Video:
    case Kind::Pdf:
        return decodeWithHelper(kind, readable.path(), maxPixel);
    case Kind::None:
    case Kind::Count:
        break;
    }
    return {};
}

QImage scaledSquare(const QImage& image, int side, Crop crop)
{
    QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    const double w = std::max(image.width(), 1);
    const double h = std::max(image.height(), 1);
    const double scale = std::max(side / w, side / h);
    const QSizeF drawn(std::max(w * scale, 1.0), std::max(h * scale, 1.0));
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const double top = crop == Crop::Top ? 0.0 : (side - drawn.height()) / 2;
    painter.drawImage(QRectF(QPointF((side - drawn.width()) / 2, top), drawn), image);
    return canvas;
}

} // namespace pallix::RasterDecoding
