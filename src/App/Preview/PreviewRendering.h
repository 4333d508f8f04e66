#pragma once
// PreviewRendering: the work behind one queued preview request: the pixel
// size, the sample files of a folder, the decoding and the finished picture
// (a square aspect-filled thumbnail or a drawn folder). Pure apart from
// reading the files: runs on a worker thread; any thread.

#include <optional>

#include <QImage>
#include <QString>
#include <QStringList>

#include "App/Preview/RasterDecoding.h"
#include "App/Preview/RegularFile.h"

namespace pallix {

// One queued render.
struct PreviewRequest {
    QString pendingKey;        // the memory key the result is stored under
    QString itemPath;
    bool isDirectory = false;
    bool isImage = false;      // the extension is in the image set
    RasterDecoding::Kind rasterKind = RasterDecoding::Kind::None;
    double modifiedAt = 0;     // seconds since 1970, for the disk key
    double iconSize = 0;       // points
    bool allowNestedLookup = false;
    bool urgent = false;
    QString diskFile;          // where the result is written; empty: memory only
};

// What one render made: the picture, or none for the fallback icon. A
// special file (a pipe named like an image...) is not read: `type` names it,
// and it is shown with its type's icon. `overdue`: the render was given up
// after its time budget, so the missing picture says nothing of the file.
struct RenderOutcome {
    RenderOutcome(std::optional<QImage> picture = std::nullopt, RegularFile::Type type = RegularFile::Type::Regular)
        : picture(std::move(picture)), type(type)
    {
    }
    std::optional<QImage> picture;
    RegularFile::Type type;
    bool overdue = false;
};

namespace PreviewRendering {

// 2 × iconSize within 96...cap; cap 256 for images, videos and PDF files,
// 304 for everything else (folders).
double maxPixel(const PreviewRequest& request);

// From the names of a folder's image files in file-manager order: all of
// one to three, the first three of four, the third to fifth of five or more.
QStringList pickSamples(const QStringList& sortedNames);

// The folder's visible image files, sorted by name as a file manager does
// (digits by value), then picked.
QStringList sampleFiles(const QString& folder);

// The samples that decode, in order: the first selected one at `maxPixel`,
// the later ones at most 148 pixels; those that cannot be decoded are left out.
QList<QImage> decodeSamples(const QStringList& files, double maxPixel);

// The finished picture, or none when the caller should show the fallback
// icon; a special file is named, not read. A PDF page gets a thin grey frame.
// The picture comes as pixmapReady() makes it.
RenderOutcome render(const PreviewRequest& request);

// `image` in the format a pixmap keeps it in (an opaque one without its alpha
// channel), made on the thread that read or drew it: converting it and
// looking for transparent pixels on the GUI thread held up the next paint.
QImage pixmapReady(const QImage& image);

// `page` with a one-pixel grey frame drawn over its edge.
QImage framedPage(QImage page);

} // namespace PreviewRendering
} // namespace pallix
