#include "App/ImageTags/ImageTagExtraction.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <QImageWriter>
#include <QTransform>

#include "App/ImageTags/TesseractRecognizer.h"
#include "App/Preview/PhotoFiles.h"
#include "Platform/SpecialFiles.h"
#include "Core/Semantic/ImageSemanticStore.h"
#include "App/ModelTestSupport.h"
#include "App/ImageTags/TagTestPictures.h"

namespace pallix {
namespace {

using testing_support::TempDir;
using Tags = std::vector<std::string>;
using test::holds;
using test::poster;
using test::solid;

std::string saveImage(const QImage& image, const std::filesystem::path& path)
{
    EXPECT_TRUE(image.save(QString::fromStdString(path.string())));
    return path.string();
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

TEST(ImageTagExtraction, PhotosQtCannotReadAreTaggedAndAStuckDecoderIsGivenUp)
{
    TempDir dir;
    const std::string heic = (dir.path() / "phone.heic").string();
    if (!test::encodeWithLibheif(solid(640, 480, QColor(255, 0, 0)), QString::fromStdString(heic)))
        GTEST_SKIP() << "heif-enc is not installed";
    testing_support::writeFile(dir.path() / "camera.dng", test::dngFile(solid(80, 40, QColor(0, 0, 255)), 1).toStdString());
    ImageTagExtraction patient(std::make_shared<FakeText>(), nullptr);
    EXPECT_EQ(patient.extractImageTags(heic), (Tags{"红色", "red"}));
    EXPECT_EQ(patient.extractImageTags((dir.path() / "camera.dng").string()), (Tags{"蓝色", "blue"}));

    // A decoder that never answers, even for a plain PNG: the image is given
    // up at the limit.
    const std::string png = saveImage(solid(64, 64, Qt::red), dir.path() / "plain.png");
    auto extraction =
        std::make_shared<ImageTagExtraction>(std::make_shared<FakeText>(), nullptr, std::chrono::milliseconds(300));
    const std::filesystem::path stuck = dir.path() / "stuck-decoder";
    testing_support::writeFile(stuck, "#!/bin/sh\nexec sleep 600\n");
    std::filesystem::permissions(stuck, std::filesystem::perms::owner_all);
    const QByteArray helper = qgetenv("PALLIX_THUMBNAILER");
    qputenv("PALLIX_THUMBNAILER", QByteArray::fromStdString(stuck.string()));
    auto tags = std::make_shared<Tags>(Tags{"unset"});
    const bool returned = test::returnsWithin([tags, png, extraction] { *tags = extraction->extractImageTags(png); },
                                              std::chrono::seconds(20));
    helper.isNull() ? qunsetenv("PALLIX_THUMBNAILER") : qputenv("PALLIX_THUMBNAILER", helper);
    ASSERT_TRUE(returned);
    EXPECT_TRUE(tags->empty());
}

TEST(TesseractRecognizer, SpacesBetweenIdeographsAreDropped)
{
    EXPECT_EQ(TesseractRecognizer::joinIdeographs("红 色 促  销 SALE 50%"), "红色促销 SALE 50%");
    EXPECT_EQ(TesseractRecognizer::joinIdeographs("A 红 b"), "A 红 b");
}

} // namespace
} // namespace pallix
