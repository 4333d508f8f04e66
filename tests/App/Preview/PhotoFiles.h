#pragma once
// Real photo files for the decoders' tests: HEIC and AVIF made by libheif's
// own encoder from a PNG the test draws, and small DNGs written here (a DNG
// is a TIFF with a few tags of its own).

#include <algorithm>
#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace pallix::test {

// An 80 × 40 picture, left half red and right half blue.
inline QImage redLeftBlueRight(int width = 80, int height = 40)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, x < width / 2 ? QColor(230, 20, 20) : QColor(20, 20, 230));
    return image;
}

// Encodes `image` with heif-enc into `path` (.heic or .avif); false when
// the encoder is missing or fails.
inline bool encodeWithLibheif(const QImage& image, const QString& path)
{
    const QString encoder = QStandardPaths::findExecutable(QStringLiteral("heif-enc"));
    const QString png = path + QStringLiteral(".source.png");
    if (encoder.isEmpty() || !image.save(png, "PNG"))
        return false;
    QProcess encode;
    encode.start(encoder, {QStringLiteral("-q"), QStringLiteral("95"), QStringLiteral("-o"), path, png});
    return encode.waitForFinished(60000) && encode.exitStatus() == QProcess::NormalExit && encode.exitCode() == 0;
}

// A little-endian TIFF written from the back: data first, each IFD after
// what it points to.
class TiffWriter {
public:
    struct Entry {
        std::uint16_t tag;
        std::uint16_t type;  // 1 byte, 2 ascii, 3 short, 4 long, 5 rational, 10 signed rational
        std::uint32_t count;
        QByteArray value;
    };

    static Entry shorts(std::uint16_t tag, std::vector<std::uint16_t> values)
    {
        QByteArray bytes;
        for (std::uint16_t v : values)
            bytes.append(char(v & 0xff)).append(char(v >> 8));
        return {tag, 3, std::uint32_t(values.size()), bytes};
    }
    static Entry longs(std::uint16_t tag, std::vector<std::uint32_t> values)
    {
        QByteArray bytes;
        for (std::uint32_t v : values)
            bytes.append(le32(v));
        return {tag, 4, std::uint32_t(values.size()), bytes};
    }
    static Entry rationals(std::uint16_t tag, std::vector<std::int32_t> fractions, bool isSigned)
    {
        QByteArray bytes;
        for (std::int32_t v : fractions)
            bytes.append(le32(std::uint32_t(v)));
        return {tag, std::uint16_t(isSigned ? 10 : 5), std::uint32_t(fractions.size() / 2), bytes};
    }
    static Entry bytesOf(std::uint16_t tag, std::uint16_t type, const QByteArray& bytes)
    {
        return {tag, type, std::uint32_t(bytes.size()), bytes};
    }

    std::uint32_t put(const QByteArray& data)
    {
        if (m_bytes.size() % 2)
            m_bytes.append('\0');
        const auto at = std::uint32_t(m_bytes.size());
        m_bytes.append(data);
        return at;
    }
    std::uint32_t putIfd(std::vector<Entry> entries)
    {
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        std::vector<QByteArray> fields;
        for (Entry& e : entries)
            fields.push_back(e.value.size() > 4 ? le32(put(e.value)) : e.value.leftJustified(4, '\0'));
        QByteArray ifd;
        ifd.append(char(entries.size() & 0xff)).append(char(entries.size() >> 8));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            ifd.append(char(entries[i].tag & 0xff)).append(char(entries[i].tag >> 8));
            ifd.append(char(entries[i].type)).append('\0');
            ifd.append(le32(entries[i].count)).append(fields[i]);
        }
        ifd.append(le32(0));
        return put(ifd);
    }
    QByteArray file(std::uint32_t firstIfd) const
    {
        QByteArray out = m_bytes;
        out.replace(4, 4, le32(firstIfd));
        return out;
    }

private:
    static QByteArray le32(std::uint32_t v)
    {
        QByteArray b;
        for (int i = 0; i < 4; ++i)
            b.append(char((v >> (8 * i)) & 0xff));
        return b;
    }
    QByteArray m_bytes = QByteArray("II*\0\0\0\0\0", 8);
};

// The strip entries of an uncompressed 8-bit RGB picture stored in `tiff`.
inline std::vector<TiffWriter::Entry> rgbStrip(TiffWriter& tiff, const QImage& picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QByteArray pixels;
    for (int y = 0; y < rgb.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    const std::uint32_t at = tiff.put(pixels);
    return {TiffWriter::longs(256, {std::uint32_t(rgb.width())}), TiffWriter::longs(257, {std::uint32_t(rgb.height())}),
            TiffWriter::shorts(258, {8, 8, 8}), TiffWriter::shorts(259, {1}), TiffWriter::longs(273, {at}),
            TiffWriter::shorts(277, {3}), TiffWriter::longs(278, {std::uint32_t(rgb.height())}),
            TiffWriter::longs(279, {std::uint32_t(pixels.size())}), TiffWriter::shorts(284, {1})};
}

// A DNG of `raw` as linear sRGB data turned by the EXIF `orientation`, with
// `preview` (when not null) as the camera's own picture in IFD0.
inline QByteArray dngFile(const QImage& raw, int orientation, const QImage& preview = QImage())
{
    TiffWriter tiff;
    std::vector<TiffWriter::Entry> rawIfd = rgbStrip(tiff, raw);
    rawIfd.push_back(TiffWriter::longs(254, {0}));
    rawIfd.push_back(TiffWriter::shorts(262, {34892}));  // linear raw
    // XYZ to linear sRGB: the camera's colours are sRGB's.
    std::vector<TiffWriter::Entry> first{
        TiffWriter::bytesOf(50706, 1, QByteArray::fromHex("01040000")),
        TiffWriter::bytesOf(50708, 2, QByteArray("Pallix test camera", 19)),
        TiffWriter::rationals(50721, {32406, 10000, -15372, 10000, -4986, 10000, -9689, 10000, 18758, 10000, 415, 10000,
                                      557, 10000, -2040, 10000, 10570, 10000}, true),
        TiffWriter::rationals(50728, {1, 1, 1, 1, 1, 1}, false),
        TiffWriter::shorts(50778, {21}),
        TiffWriter::shorts(274, {std::uint16_t(orientation)})};
    if (preview.isNull()) {
        first.insert(first.end(), rawIfd.begin(), rawIfd.end());
    } else {
        const std::uint32_t rawAt = tiff.putIfd(rawIfd);
        for (TiffWriter::Entry& entry : rgbStrip(tiff, preview))
            first.push_back(entry);
        first.push_back(TiffWriter::longs(254, {1}));
        first.push_back(TiffWriter::shorts(262, {2}));
        first.push_back(TiffWriter::longs(330, {rawAt}));
    }
    return tiff.file(tiff.putIfd(first));
}

} // namespace pallix::test
