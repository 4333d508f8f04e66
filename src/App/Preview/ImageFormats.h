#pragma once
// ImageFormats: which reader a picture file goes to, shared by the
// application and the pallix-thumbnailer helper. Photo formats Qt has no
// reader for here (HEIC/HEIF, AVIF, camera RAW) are decoded only in the
// helper; the others by Qt's readers, chosen by the file's content. Stateless;
// any thread.

#include <string_view>

#include <QByteArray>

class QFile;
class QImageReader;
class QString;

namespace pallix::ImageFormats {

// HEIC, HEIF and AVIF: read with libheif.
bool isHeifExtension(std::string_view extension);
// Camera RAW files: read with LibRaw.
bool isCameraRawExtension(std::string_view extension);
// Either of them: the helper decodes these, never the application.
bool isHelperOnlyExtension(std::string_view extension);

// The largest picture the helper decodes, in stored pixels (a 120-megapixel
// photo); a larger header is refused before anything is allocated.
constexpr long long kHelperMaxPixels = 120'000'000;
// Bytes one image decoded by Qt in the helper may take: a 16-bit photo of
// 6000 × 4000 needs 192 MB, over the application's own limit.
constexpr int kHelperAllocationLimitMiB = 1024;

// Points `reader` at `file`, opened by RegularFile::open() for `path`, with
// the format its content shows. The extension names the format only of
// files whose format has no signature (TGA, SVG): an empty or foreign file
// named .png reaches no decoder, which would only complain about it.
// Returns the format, empty when none fits.
QByteArray setDevice(QImageReader& reader, QFile& file, const QString& path);

// False when a PNG lacks its closing chunk (cut short): libpng reports such
// a file on the process's standard error, which the helper's is not.
bool pngLooksWhole(QFile& file);

} // namespace pallix::ImageFormats
