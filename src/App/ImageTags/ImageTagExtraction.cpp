#include "App/ImageTags/ImageTagExtraction.h"

#include "App/ImageTags/RecogniserProcess.h"
#include "App/Paths/SystemPaths.h"
#include "App/Preview/RasterDecoding.h"

namespace pallix {

ImageTagExtraction::ImageTagExtraction(std::shared_ptr<TextRecognizer> text, std::shared_ptr<ImageClassifier> classifier,
                                       std::chrono::milliseconds decodeLimit)
    : m_text(std::move(text)), m_classifier(std::move(classifier)), m_decodeLimit(decodeLimit)
{
}

std::shared_ptr<ImageTagExtraction> ImageTagExtraction::system()
{
    // Both recognisers run in one helper process, started by the first image.
    auto process = std::make_shared<RecogniserProcess>();
    return std::make_shared<ImageTagExtraction>(RecogniserProcess::textRecognizer(process),
                                                RecogniserProcess::classifier(process));
}

void ImageTagExtraction::releaseWorkingMemory()
{
    if (m_text)
        m_text->releaseWorkingMemory();
    if (m_classifier)
        m_classifier->releaseWorkingMemory();
}

std::optional<QImage> ImageTagExtraction::thumbnail(const std::string& path, std::chrono::milliseconds limit)
{
    // The thumbnails' road: the helper process, killed once over its time,
    // so a decoder that never returns or a hung network disk costs one image.
    // Only the helper touches the file. A name that is not UTF-8 is read
    // through a path Qt can name.
    const systempaths::PathForQt readable(QString::fromStdString(path));
    if (readable.path().isEmpty())
        return std::nullopt;
    QImage image = RasterDecoding::decodeInHelper(RasterDecoding::Kind::Image, readable.path(), kThumbnailSide,
                                                    static_cast<int>(limit.count()));
    if (image.isNull())
        return std::nullopt;
    return image;
}

std::optional<std::pair<std::string, std::string>> ImageTagExtraction::dominantColorTags(const QImage& image)
{
    if (image.width() <= 0 || image.height() <= 0)
        return std::nullopt;
    // The plain mean of the stored values, as the colours are not managed:
    // transparent pixels count with the colour they hold.
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::uint64_t sums[3] = {0, 0, 0};
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* line = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            for (int c = 0; c < 3; ++c)
                sums[c] += line[3 * x + c];
    }
    const std::uint64_t pixels = static_cast<std::uint64_t>(rgb.width()) * static_cast<std::uint64_t>(rgb.height());
    const auto mean = [&](int c) { return static_cast<std::uint8_t>((sums[c] + pixels / 2) / pixels); };
    return imagetags::colourTags(mean(0), mean(1), mean(2));
}

std::vector<std::string> ImageTagExtraction::extractImageTags(const std::string& path)
{
    const std::optional<QImage> image = thumbnail(path, m_decodeLimit);
    if (!image)
        return {};
    std::vector<std::string> tags;
    if (m_classifier)
        tags = imagetags::classificationTags(m_classifier->classify(*image));
    if (auto colour = dominantColorTags(*image)) {
        tags.push_back(std::move(colour->first));
        tags.push_back(std::move(colour->second));
    }
    if (m_text) {
        std::vector<std::string> lines;
        for (RecognisedLine& line : m_text->recognise(*image))
            lines.push_back(std::move(line.text));
        for (std::string& tag : imagetags::recognisedTextTags(lines))
            tags.push_back(std::move(tag));
    }
    return imagetags::withoutRepeats(std::move(tags));
}

} // namespace pallix
