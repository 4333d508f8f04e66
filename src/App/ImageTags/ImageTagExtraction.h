#pragma once
// ImageTagExtraction: the tags of one image file, made on this machine without
// any network. The file is decoded as thumbnails are, in the helper process
// under its bounds and a time limit (RasterDecoding::decodeInHelper), with
// its orientation applied and the longest side at most 512 pixels; the
// thumbnail goes to the recognisers: the classifier
// when there is one, the text recogniser, and the mean of its pixels for the
// colour pair. The system's recognisers run in a helper process of their own. ImageTagRules turns what they saw into tags.
//
// Threads: extractImageTags() may run on any thread but the GUI thread's
// work never waits on it; the recognisers behind it keep per-thread state.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QImage>

#include "App/Preview/RasterDecoding.h"
#include "Core/Semantic/ImageTagRules.h"

namespace pallix {

// One recognised line of text and the recogniser's confidence in it (0..1).
struct RecognisedLine {
    std::string text;
    float confidence = 0;
};

// Finds lines of simplified Chinese and English text in an image.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;
    // Lines top to bottom; empty when nothing is found or recognition fails.
    virtual std::vector<RecognisedLine> recognise(const QImage& image) = 0;
    // Drops the calling thread's engine and its buffers; the next call builds them again.
    virtual void releaseWorkingMemory() {}
};

// Names what an image shows: identifiers with confidences, best first.
class ImageClassifier {
public:
    virtual ~ImageClassifier() = default;
    virtual std::vector<imagetags::Classification> classify(const QImage& image) = 0;
    // False once the classifier knows it cannot name anything (no model).
    virtual bool recognisesObjects() const { return true; }
    // Drops the network and its buffers; the next call builds them again.
    virtual void releaseWorkingMemory() {}
};

// What the tagger calls for each image.
class ImageTagExtractor {
public:
    virtual ~ImageTagExtractor() = default;
    // The tags of the image at `path`, without repeats; empty when it cannot
    // be read. Never throws.
    virtual std::vector<std::string> extractImageTags(const std::string& path) = 0;
    // The tags it gives include the objects an image shows; false once it
    // knows they cannot (its images are then read again when they can).
    virtual bool recognisesObjects() const { return true; }
    // After a pass: what the recognisers built for it goes, on the thread
    // that extracted (their engines are per thread).
    virtual void releaseWorkingMemory() {}
};

class ImageTagExtraction final : public ImageTagExtractor {
public:
    static constexpr int kThumbnailSide = 512;

    static constexpr std::chrono::milliseconds kDecodeLimit{RasterDecoding::kHelperTimeoutMs};

    // Either recogniser may be null: its kind of tag is then left out. A
    // decode that takes longer than `decodeLimit` is given up: no tags.
    ImageTagExtraction(std::shared_ptr<TextRecognizer> text, std::shared_ptr<ImageClassifier> classifier,
                       std::chrono::milliseconds decodeLimit = kDecodeLimit);
    // The recognisers this machine has, tesseract and the object detector,
    // in their helper process (RecogniserProcess).
    static std::shared_ptr<ImageTagExtraction> system();

    std::vector<std::string> extractImageTags(const std::string& path) override;
    bool recognisesObjects() const override { return m_classifier && m_classifier->recognisesObjects(); }
    void releaseWorkingMemory() override;

    // The upright thumbnail of the file, at most 512 pixels on its longest
    // side; nothing when the file cannot be decoded within `limit`.
    static std::optional<QImage> thumbnail(const std::string& path, std::chrono::milliseconds limit = kDecodeLimit);
    // The colour pair of the image's mean pixel; nothing for an empty image.
    static std::optional<std::pair<std::string, std::string>> dominantColorTags(const QImage& image);

private:
    std::shared_ptr<TextRecognizer> m_text;
    std::shared_ptr<ImageClassifier> m_classifier;
    std::chrono::milliseconds m_decodeLimit;
};

} // namespace pallix
