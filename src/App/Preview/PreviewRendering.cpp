#include "App/Preview/PreviewRendering.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QPainter>

#include "App/Paths/SystemPaths.h"
#include "Core/Models/IndexedItem.h"
#include "App/Preview/FileManagerOrder.h"
#include "App/Preview/FolderPreviewDrawing.h"

namespace pallix::PreviewRendering {

namespace {

constexpr double kLaterSampleMaxPixel = 148;

} // namespace

double maxPixel(const PreviewRequest& request)
{
    const bool raster = request.isImage || request.rasterKind == RasterDecoding::Kind::Video
                        || request.rasterKind == RasterDecoding::Kind::Pdf;
    return std::min(std::max(2 * request.iconSize, 96.0), raster ? 256.0 : 304.0);
}

QStringList pickSamples(const QStringList& sortedNames)
{
    if (sortedNames.size() <= 3)
        return sortedNames;
    if (sortedNames.size() == 4)
        return sortedNames.mid(0, 3);
    return sortedNames.mid(2, 3);
}

QStringList sampleFiles(const QString& folder)
{
    // One level, hidden files left out; a folder that cannot be listed is empty.
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    QStringList names;
    for (const QFileInfo& entry : entries) {
        if (kinds::isImageExtension(entry.suffix().toLower().toStdString()))
            names.append(entry.fileName());
    }
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return compareFileNames(a.toStdString(), b.toStdString()) < 0;
    });
    QStringList paths;
    for (const QString& name : pickSamples(names))
        paths.append(folder + u'/' + name);
    return paths;
}

QList<QImage> decodeSamples(const QStringList& files, double maxPixel)
{
    QList<QImage> samples;
    for (qsizetype i = 0; i < files.size(); ++i) {
        // By place in the selection: a later sample stays small even when the
        // first one cannot be decoded.
        const double size = i == 0 ? maxPixel : std::min(maxPixel, kLaterSampleMaxPixel);
        if (QImage decoded = RasterDecoding::decodeImage(files[i], size); !decoded.isNull())
            samples.append(std::move(decoded));
    }
    return samples;
}

RenderOutcome render(const PreviewRequest& request)
{
    const double pixels = maxPixel(request);
    if (request.isDirectory) {
        // Listed through a path Qt can name, which stays open for the decodes.
        const systempaths::PathForQt folder(request.itemPath);
        const QStringList files = folder.path().isEmpty() ? QStringList() : sampleFiles(folder.path());
        const QList<QImage> samples = decodeSamples(files, pixels);
        const QList<bool> videoFlags(samples.size(), false);
        QImage drawn = FolderPreviewDrawing::renderFolderPreviewStack(samples, videoFlags, request.iconSize);
        return RenderOutcome(drawn.isNull() ? std::nullopt : std::optional<QImage>(pixmapReady(drawn)));
    }
    const RegularFile::Type type = RegularFile::typeOf(systempaths::bytes(request.itemPath).toStdString());
    if (RegularFile::isSpecial(type))
        return {std::nullopt, type};
    const QImage picture = RasterDecoding::decode(request.rasterKind, request.itemPath, pixels);
    if (picture.isNull())
        return RenderOutcome();
    // The square's side is the icon size in points, as the views draw it.
    const int side = std::max(1, static_cast<int>(std::lround(std::clamp(request.iconSize, 1.0, 1024.0))));
    // A page shows its top, where its title is: its middle made cards look blank.
    const bool page = request.rasterKind == RasterDecoding::Kind::Pdf;
    QImage square = RasterDecoding::scaledSquare(picture, side, page ? RasterDecoding::Crop::Top : RasterDecoding::Crop::Centre);
    if (page)
        square = framedPage(std::move(square));
    return RenderOutcome(pixmapReady(square));
}

QImage pixmapReady(const QImage& image)
{
    if (image.isNull())
        return image;
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < premultiplied.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        if (std::any_of(line, line + premultiplied.width(), [](QRgb pixel) { return qAlpha(pixel) != 255; }))
            return premultiplied;
    }
    premultiplied.reinterpretAsFormat(QImage::Format_RGB32);
    return premultiplied;
}

QImage framedPage(QImage page)
{
    if (page.isNull())
        return page;
    // A white page on a white card has no edge of its own.
    if (page.format() != QImage::Format_ARGB32_Premultiplied && page.format() != QImage::Format_RGB32)
        page = page.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&page);
    painter.setPen(QPen(QColor(0, 0, 0, 64), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(page.rect().adjusted(0, 0, -1, -1));
    return page;
}

} // namespace pallix::PreviewRendering
