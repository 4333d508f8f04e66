#pragma once
// RasterDecoding: small pictures of untrusted files, made off the GUI thread.
// Images are read here with Qt's readers, scaled while decoding and under an
// allocation limit, so a huge or hostile image fails instead of taking the
// memory. PDF pages, video frames, HEIC/AVIF and camera RAW photos, images
// too large for the limit here (a 16-bit photo) and PNGs cut short come from
// the pallix-thumbnailer helper process: a decoder that crashes or hangs
// there costs one picture, not the application, and what it says about the
// user's file stays out of the application's standard error (so do Qt's
// image readers' messages here). Blocking; any thread except the GUI thread.

#include <QImage>
#include <QString>

namespace pallix::RasterDecoding {

enum class Kind { None, Image, Video, Pdf, Count };

// Bytes one decoded image may take; above it the reader refuses.
constexpr int kAllocationLimitMiB = 96;
// How long the helper may take for one picture before it is killed.
constexpr int kHelperTimeoutMs = 10000;
// How long a caller waits for any one decode before it gives up on it (an
// in-process decoder cannot be killed): the helper's time and a little more.
constexpr int kDecodeBudgetMs = kHelperTimeoutMs + 2000;

// Only a regular file is read (RegularFile), so a pipe or device named like
// an image gives null at once. The larger side of the result is at most max(ceil(maxPixel), 64); the
// picture is turned upright by its orientation tag. Null when it cannot be read.
QImage decodeImage(const QString& path, double maxPixel);
// Through the helper, killed after `timeoutMs`: an image of any format the
// helper reads, the first page of a PDF file or a frame near the start of a
// video; a video's picture carries its length in seconds as the text
// "Thumb::Movie::Length". Null on any failure.
QImage decodeWithHelper(Kind kind, const QString& path, double maxPixel, int timeoutMs = kHelperTimeoutMs);
// The same without looking at the file in this process first, for a caller
// that must not wait on a hung disk here: only the helper touches it.
QImage decodeInHelper(Kind kind, const QString& path, double maxPixel, int timeoutMs = kHelperTimeoutMs);
// By kind: images here, PDF and video through the helper; None gives null.
QImage decode(Kind kind, const QString& path, double maxPixel);

// Which part of a picture taller than wide a square keeps.
enum class Crop { Centre, Top, Count };
// A side × side square filled by `image`, the longer side cropped: centred,
// or from the top edge (a page, whose title is at its top).
QImage scaledSquare(const QImage& image, int side, Crop crop = Crop::Centre);

// Where the helper lives: $PALLIX_THUMBNAILER, else beside the running
// executable, else in <prefix>/libexec/pallix of an installed one, else
// where the build put it.
QString helperPath();

} // namespace pallix::RasterDecoding
