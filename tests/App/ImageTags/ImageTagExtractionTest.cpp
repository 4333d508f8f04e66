#include "App/ImageTags/ImageTagExtraction.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <QFont>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>

#include "App/ImageTags/TesseractRecognizer.h"
#include "Core/Semantic/ImageSemanticStore.h"
#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using testing_support::TempDir;
using Tags = std::vector<std::string>;

bool holds(const Tags& tags, const std::string& tag)
{
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

std::string saveImage(const QImage& image, const std::filesystem::path& path)
{
    EXPECT_TRUE(image.save(QString::fromStdString(path.string())));
    return path.string();
}

QImage solid(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Black words on white, large and centred, in the CJK font of the machine.
QImage poster(const QString& words, int width = 900, int height = 300)
{
    QImage image = solid(width, height, Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(height / 3);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, words);
    return image;
}

class FakeClassifier final : public ImageClassifier {
public:
    std::vector<imagetags::Classification> results;
    QSize seen;
    std::vector<imagetags::Classification> classify(const QImage& image) override
    {
        seen = image.size();
        return results;
    }
};

class FakeText final : public TextRecognizer {
public:
    std::vector<RecognisedLine> lines;
    std::vector<RecognisedLine> recognise(const QImage&) override { return lines; }
};

TEST(ImageTagExtraction, RealTesseractReadsAPrintedChineseAndEnglishPoster)
{
    TempDir dir;
    const std::string path = saveImage(poster(QStringLiteral("红色促销 SALE")), dir.path() / "poster.png");
    const Tags tags = ImageTagExtraction::system()->extractImageTags(path);
    EXPECT_TRUE(holds(tags, "白色"));  // mostly white paper
    // One line, one tag with its inner space; stored, it becomes two words.
    const Tags stored = ImageSemanticStore::splitTags(ImageSemanticStore::joinTags(tags));
    EXPECT_TRUE(holds(stored, "ocr:红色促销")) << ::testing::PrintToString(tags);
    EXPECT_TRUE(holds(stored, "sale")) << ::testing::PrintToString(tags);
}

TEST(ImageTagExtraction, SolidImagesGiveTheirColourPairAndNoText)
{
    TempDir dir;
    struct Case {
        QColor colour;
        const char* chinese;
        const char* english;
    };
    for (const Case& c : {Case{QColor(255, 0, 0), "红色", "red"}, Case{QColor(0, 0, 255), "蓝色", "blue"},
                          Case{QColor(0, 0, 0), "黑色", "dark"}}) {
        SCOPED_TRACE(c.english);
        const std::string path = saveImage(solid(640, 480, c.colour), dir.path() / (std::string(c.english) + ".png"));
        EXPECT_EQ(ImageTagExtraction::system()->extractImageTags(path), (Tags{c.chinese, c.english}));
    }
}

TEST(ImageTagExtraction, ThumbnailIsUprightAndBoundedAndUnreadableFilesGiveNothing)
{
    TempDir dir;
    // A JPEG whose orientation tag says "rotate 90°": stored 1200×600, shown 600×1200.
    const std::string rotated = (dir.path() / "rotated.jpg").string();
    QImageWriter writer(QString::fromStdString(rotated));
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    ASSERT_TRUE(writer.write(solid(1200, 600, Qt::green)));
    const std::optional<QImage> thumb = ImageTagExtraction::thumbnail(rotated);
    ASSERT_TRUE(thumb.has_value());
    EXPECT_EQ(thumb->size(), QSize(256, 512));

    testing_support::writeFile(dir.path() / "fake.png", "not an image at all");
    ImageTagExtraction extraction(std::make_shared<FakeText>(), nullptr);
    EXPECT_TRUE(extraction.extractImageTags((dir.path() / "fake.png").string()).empty());
    EXPECT_TRUE(extraction.extractImageTags((dir.path() / "missing.png").string()).empty());
    EXPECT_FALSE(ImageTagExtraction::dominantColorTags(QImage()).has_value());
}

TEST(ImageTagExtraction, ClassifierAndTextResultsFollowTheRules)
{
    TempDir dir;
    const std::string path = saveImage(solid(1024, 1024, QColor(255, 0, 0)), dir.path() / "cat.png");
    auto classifier = std::make_shared<FakeClassifier>();
    classifier->results = {{"animal/cat", 0.9f}, {"cup", 0.05f}};
    auto text = std::make_shared<FakeText>();
    text->lines = {{"Café", 0.9f}, {"x", 0.9f}, {"red", 0.9f}};
    ImageTagExtraction extraction(text, classifier);
    EXPECT_EQ(extraction.extractImageTags(path),
              (Tags{"animal/cat", "animal", "cat", "猫", "红色", "red", "ocr:cafe", "ocr:red"}));
    EXPECT_EQ(classifier->seen, QSize(512, 512));  // never the full image
}

TEST(TesseractRecognizer, SpacesBetweenIdeographsAreDropped)
{
    EXPECT_EQ(TesseractRecognizer::joinIdeographs("红 色 促  销 SALE 50%"), "红色促销 SALE 50%");
    EXPECT_EQ(TesseractRecognizer::joinIdeographs("A 红 b"), "A 红 b");
}

} // namespace
} // namespace pallix
