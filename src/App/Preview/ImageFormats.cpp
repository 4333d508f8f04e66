#include "App/Preview/ImageFormats.h"

#include <algorithm>
#include <array>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace pallix::ImageFormats {

namespace {

constexpr std::array<std::string_view, 3> kHeif{"heic", "heif", "avif"};
constexpr std::array<std::string_view, 8> kCameraRaw{"raw", "cr2", "cr3", "nef", "arw", "orf", "rw2", "dng"};
// Formats Qt recognises only by name.
constexpr std::array<std::string_view, 3> kWithoutSignature{"tga", "svg", "svgz"};

template <std::size_t N>
bool holds(const std::array<std::string_view, N>& list, std::string_view extension)
{
    return std::find(list.begin(), list.end(), extension) != list.end();
}

} // namespace

bool isHeifExtension(std::string_view extension) { return holds(kHeif, extension); }
bool isCameraRawExtension(std::string_view extension) { return holds(kCameraRaw, extension); }

bool isHelperOnlyExtension(std::string_view extension)
{
    return isHeifExtension(extension) || isCameraRawExtension(extension);
}

QByteArray setDevice(QImageReader& reader, QFile& file, const QString& path)
{
    // The descriptor's file has no name: the format comes from the content.
    QByteArray format = QImageReader::imageFormat(&file);
    if (format.isEmpty()) {
        const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
        if (holds(kWithoutSignature, std::string_view(suffix.constData(), static_cast<std::size_t>(suffix.size()))))
            format = suffix;
    }
    file.seek(0);
    reader.setDevice(&file);
    reader.setFormat(format);
    return format;
}

bool pngLooksWhole(QFile& file)
{
    // The last chunk: zero length, "IEND", its fixed checksum.
    static const QByteArray kEnd = QByteArray::fromHex("0000000049454e44ae426082");
    const qint64 at = file.size() - kEnd.size();
    if (at < 8 || !file.seek(at))
        return false;
    const bool whole = file.read(kEnd.size()) == kEnd;
    file.seek(0);
    return whole;
}

} // namespace pallix::ImageFormats
