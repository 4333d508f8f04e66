#include "App/Preview/Thumbnailer/StillPicture.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>

#include <libheif/heif.h>
#include <libraw/libraw.h>

#include "App/Preview/ImageFormats.h"

namespace pallix::StillPicture {

namespace {

bool withinBudget(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width * height <= ImageFormats::kHelperMaxPixels;
}

QImage scaledDown(const QImage& image, int side)
{
    if (image.isNull() || std::max(image.width(), image.height()) <= side)
        return image.copy();  // owns its pixels, whatever buffer it was read from
    return image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// --- HEIF and AVIF ---------------------------------------------------------

using Context = std::unique_ptr<heif_context, decltype(&heif_context_free)>;
using Handle = std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)>;
using Image = std::unique_ptr<heif_image, decltype(&heif_image_release)>;

bool looksLikeHeif(const std::string& file)
{
    QFile in(QString::fromStdString(file));
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = in.read(64);
    const heif_filetype_result kind =
        heif_check_filetype(reinterpret_cast<const uint8_t*>(head.constData()), static_cast<int>(head.size()));
    return kind == heif_filetype_yes_supported || kind == heif_filetype_maybe;
}

// The smallest stored thumbnail at least `side` large; null when none is.
Handle pictureToDecode(const heif_image_handle* primary, int side)
{
    Handle chosen(nullptr, heif_image_handle_release);
    int chosenSide = 0;
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(count, 0)));
    heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    for (heif_item_id id : ids) {
        heif_image_handle* thumbnail = nullptr;
        if (heif_image_handle_get_thumbnail(primary, id, &thumbnail).code != heif_error_Ok)
            continue;
        Handle candidate(thumbnail, heif_image_handle_release);
        const int longer = std::max(heif_image_handle_get_width(thumbnail), heif_image_handle_get_height(thumbnail));
        if (longer >= side && (!chosen || longer < chosenSide)) {
            chosen = std::move(candidate);
            chosenSide = longer;
        }
    }
    return chosen;
}

// --- camera RAW ------------------------------------------------------------

// LibRaw's `flip`: 3 is upside down, 5 turned left, 6 turned right.
QImage upright(const QImage& image, int flip)
{
    const int degrees = flip == 3 ? 180 : flip == 5 ? 270 : flip == 6 ? 90 : 0;
    return degrees == 0 ? image : image.transformed(QTransform().rotate(degrees));
}

QImage fromBitmap(const libraw_processed_image_t& bitmap)
{
    if (bitmap.type != LIBRAW_IMAGE_BITMAP || bitmap.bits != 8 || (bitmap.colors != 3 && bitmap.colors != 1))
        return {};
    const QImage::Format format = bitmap.colors == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8;
    const QImage view(bitmap.data, bitmap.width, bitmap.height, bitmap.width * bitmap.colors, format);
    return view.copy();
}

// The camera's preview, when it is at least `side` large; its orientation
// is the raw file's, not its own.
QImage embeddedPreview(LibRaw& raw, int side)
{
    const libraw_thumbnail_t& stored = raw.imgdata.thumbnail;
    if (stored.twidth != 0 && std::max(stored.twidth, stored.theight) < side)
        return {};
    if (!withinBudget(stored.twidth ? stored.twidth : 1, stored.theight ? stored.theight : 1)
        || raw.unpack_thumb() != LIBRAW_SUCCESS)
        return {};
    int error = 0;
    std::unique_ptr<libraw_processed_image_t, decltype(&LibRaw::dcraw_clear_mem)> made(raw.dcraw_make_mem_thumb(&error),
                                                                                      &LibRaw::dcraw_clear_mem);
    if (!made)
        return {};
    QImage preview;
    if (made->type == LIBRAW_IMAGE_JPEG) {
        QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(made->data),
                                                   static_cast<qsizetype>(made->data_size));
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "jpeg");
        const QSize size = reader.size();
        if (!size.isValid() || std::max(size.width(), size.height()) < side)
            return {};
        reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
        preview = reader.read();
    } else {
        preview = fromBitmap(*made);
    }
    if (preview.isNull() || std::max(preview.width(), preview.height()) < side)
        return {};
    return upright(scaledDown(preview, side), raw.imgdata.sizes.flip);
}

QImage developed(LibRaw& raw, int side)
{
    const libraw_image_sizes_t& sizes = raw.imgdata.sizes;
    if (!withinBudget(sizes.raw_width, sizes.raw_height))
        return {};
    libraw_output_params_t& params = raw.imgdata.params;
    params.use_camera_wb = 1;
    params.output_bps = 8;
    // Half the size skips the demosaicing, when half is still large enough.
    params.half_size = std::max(sizes.width, sizes.height) / 2 >= side;
    if (raw.unpack() != LIBRAW_SUCCESS || raw.dcraw_process() != LIBRAW_SUCCESS)
        return {};
    int error = 0;
    std::unique_ptr<libraw_processed_image_t, decltype(&LibRaw::dcraw_clear_mem)> made(raw.dcraw_make_mem_image(&error),
                                                                                      &LibRaw::dcraw_clear_mem);
    // Turned upright by LibRaw already.
    return made ? scaledDown(fromBitmap(*made), side) : QImage();
}

QImage heif(const std::string& file, int side)
{
    Context context(heif_context_alloc(), heif_context_free);
    if (!context || heif_context_read_from_file(context.get(), file.c_str(), nullptr).code != heif_error_Ok)
        return {};
    heif_image_handle* primary = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &primary).code != heif_error_Ok)
        return {};
    Handle picture(primary, heif_image_handle_release);
    if (Handle thumbnail = pictureToDecode(primary, side))
        picture = std::move(thumbnail);
    if (!withinBudget(heif_image_handle_get_width(picture.get()), heif_image_handle_get_height(picture.get())))
        return {};
    const bool alpha = heif_image_handle_has_alpha_channel(picture.get());
    heif_image* decoded = nullptr;
    // The default options apply the rotation and mirroring the file records.
    if (heif_decode_image(picture.get(), &decoded, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr)
            .code
        != heif_error_Ok)
        return {};
    Image image(decoded, heif_image_release);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0)
        return {};
    const QImage view(pixels, width, height, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    return scaledDown(view, side);
}

QImage cameraRaw(const std::string& file, int side)
{
    // LibRaw's object holds its tables inline: too large for the stack.
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    if (raw->open_file(file.c_str()) != LIBRAW_SUCCESS)
        return {};
    if (QImage preview = embeddedPreview(*raw, side); !preview.isNull())
        return preview;
    return developed(*raw, side);
}

QImage qtImage(const std::string& file, const QString& name, int side)
{
    QFile in(QString::fromStdString(file));
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QImageReader::setAllocationLimit(ImageFormats::kHelperAllocationLimitMiB);
    QImageReader reader;
    if (ImageFormats::setDevice(reader, in, name).isEmpty())
        return {};
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && !withinBudget(size.width(), size.height()))
        return {};
    if (size.isValid() && std::max(size.width(), size.height()) > side)
        reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    // 16-bit colour is written back as 8-bit: the picture is for a screen.
    if (image.depth() > 32)
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return scaledDown(image, side);
}

} // namespace

QImage decode(const std::string& file, const QString& name, int side)
{
    const bool rawByName = ImageFormats::isCameraRawExtension(QFileInfo(name).suffix().toLower().toStdString());
    if (rawByName) {
        if (QImage image = cameraRaw(file, side); !image.isNull())
            return image;
    }
    if (looksLikeHeif(file))
        return heif(file, side);
    if (QImage image = qtImage(file, name, side); !image.isNull() || rawByName)
        return image;
    return cameraRaw(file, side);
}

} // namespace pallix::StillPicture
