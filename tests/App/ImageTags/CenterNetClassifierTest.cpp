// The object detector on photos Debian ships, through the tagger's extraction
// road (thumbnail, classifier, tag rules), and its behaviour without a model.

#include "App/ImageTags/CenterNetClassifier.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using Tags = std::vector<std::string>;

bool holds(const Tags& tags, const std::string& tag)
{
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

std::string joined(const Tags& tags)
{
    std::string text;
    for (const auto& tag : tags)
        text += tag + " ";
    return text;
}

struct Photo {
    const char* path;
    std::vector<const char*> expected;
};

// python3-skimage's and darknet's sample photos (make installs both).
const Photo kPhotos[] = {
    {"/usr/lib/python3/dist-packages/skimage/data/coffee.png", {"杯子"}},
    {"/usr/lib/python3/dist-packages/skimage/data/horse.png", {"马"}},
    {"/usr/lib/python3/dist-packages/skimage/data/motorcycle_left.png", {"摩托车"}},
    {"/usr/share/darknet/data/eagle.jpg", {"鸟"}},
    {"/usr/share/darknet/data/dog.jpg", {"狗", "自行车"}},
    {"/usr/share/darknet/data/horses.jpg", {"马"}},
    {"/usr/share/darknet/data/person.jpg", {"人物", "狗"}},
};

TEST(CenterNetClassifier, NamesWhatDebiansSamplePhotosShow)
{
    const auto folder = CenterNetDetector::findModelFolder({});
    if (!folder)
        GTEST_SKIP() << "the detector model was not fetched into " << CenterNetDetector::buildModelFolder()
                     << " (make fetches it with npm)";
    ImageTagExtraction extraction(nullptr, std::make_shared<CenterNetClassifier>(*folder));
    int looked = 0;
    for (const Photo& photo : kPhotos) {
        if (!std::filesystem::exists(photo.path))
            continue;
        ++looked;
        const Tags tags = extraction.extractImageTags(photo.path);
        for (const char* tag : photo.expected)
            EXPECT_TRUE(holds(tags, tag)) << photo.path << " lacks " << tag << ": " << joined(tags);
        // COCO's mouse is a computer's; no photo here shows a rodent.
        EXPECT_FALSE(holds(tags, "老鼠")) << photo.path;
        if (looked == 1) {
            // Released after a pass, the network is built again by the next image.
            extraction.releaseWorkingMemory();
            EXPECT_EQ(extraction.extractImageTags(photo.path), tags);
        }
    }
    if (looked == 0)
        GTEST_SKIP() << "neither python3-skimage's nor darknet's sample photos are installed";
}

TEST(CenterNetClassifier, WithoutItsModelClassifiesNothingAndSaysWhyWhileColourGoesOn)
{
    testing_support::TempDir dir;
    std::ofstream(dir.path() / "centernet.json") << "{\"modelTopology\": ";  // cut short
    auto classifier = std::make_shared<CenterNetClassifier>(dir.path());
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    EXPECT_TRUE(classifier->classify(red).empty());
    EXPECT_NE(classifier->loadError().find("object detector unavailable"), std::string::npos)
        << classifier->loadError();
    classifier->releaseWorkingMemory();  // a model that cannot be used is not tried again
    EXPECT_TRUE(classifier->classify(red).empty());
    EXPECT_FALSE(classifier->loadError().empty());

    const std::string path = (dir.path() / "red.png").string();
    ASSERT_TRUE(red.save(QString::fromStdString(path)));
    const Tags tags = ImageTagExtraction(nullptr, classifier).extractImageTags(path);
    EXPECT_EQ(tags, (Tags{"红色", "red"}));
}

} // namespace
} // namespace pallix
