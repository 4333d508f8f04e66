#pragma once
// StillPicture: one photo or image file decoded in the pallix-thumbnailer
// helper. HEIC, HEIF and AVIF go to libheif, camera RAW files to LibRaw, the
// rest to Qt's readers under a larger allocation limit than the
// application's (a 16-bit 6000 × 4000 PNG). Every road refuses a picture of
// more than ImageFormats::kHelperMaxPixels before allocating it, and the
// result is upright, as the orientation the file records says. For RAW the
// camera's own preview is taken when it is at least as large as asked;
// the raw data are developed only when it is not.

#include <string>

#include <QImage>
#include <QString>

namespace pallix::StillPicture {

// The picture of the file at `file` (a path the helper opened itself),
// whose name the user gave is `name` (its extension picks RAW before
// anything else), scaled so its larger side is at most `side`. Null when
// nothing can be made of it.
QImage decode(const std::string& file, const QString& name, int side);

} // namespace pallix::StillPicture
