#pragma once
// RasterDecoding: small pictures of untrusted files, made off the GUI thread.
// Images are read here with Qt's readers, scaled while decoding and under an
// allocation limit, so a huge or hostile image fails instead of taking the
// memory. PDF pages and video frames come from the pallix-thumbnailer helper
// process: a decoder that crashes or hangs there costs one picture, not the
// application. Blocking; any thread except the GUI thread.

#include <QImage>
#include <QString>

namespace pallix::RasterDecoding {

enum class Kind { None, Image, Video, Pdf, Count };

// Bytes one decoded image may take; above it the reader refuses.
constexpr int kAllocationLimitMiB = 96;
// How long the helper may take for one picture before it is killed.
constexpr int kHelperTimeoutMs = 10000;

// The larger side of the result is at most max(ceil(maxPixel), 64); the
// picture is turned upright by its orientation tag. Null when it cannot be read.
QImage decodeImage(const QString& path, double maxPixel);
// The first page of a PDF file or a frame near the start of a video, through
// the helper; a video's picture carries its length in seconds as the text
// "Thumb::Movie::Length". Null on any failure.
QImage decodeWithHelper(Kind kind, const QString& path, double maxPixel);
// By kind: images here, PDF and video through the helper; None gives null.
QImage decode(Kind kind, const QString& path, double maxPixel);

// A side × side square filled by `image`, centred, the longer side cropped.
QImage scaledSquare(const QImage& image, int side);

// Where the helper lives: $PALLIX_THUMBNAILER, else beside the running
// executable, else in <prefix>/libexec/pallix of an installed one, else
// where the build put it.
QString helperPath();

} // namespace pallix::RasterDecoding
