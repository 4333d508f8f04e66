// How the detector's class maxima become tags: the cut-off, the COCO
// identifiers against the Chinese table, and "people"; where the installed
// model is found.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "Core/Semantic/CenterNetDetector.h"

namespace pallix {
namespace {

using imagetags::classificationTags;
using Tags = std::vector<std::string>;

std::vector<float> maxima(std::initializer_list<std::pair<const char*, float>> scores)
{
    const auto& ids = CenterNetDetector::cocoIdentifiers();
    std::vector<float> values(ids.size(), 0.01f);
    for (const auto& [label, score] : scores) {
        const auto found = std::find_if(ids.begin(), ids.end(), [&](const std::string& id) {
            return id == label || id.ends_with(std::string("/") + label);
        });
        EXPECT_NE(found, ids.end()) << label;
        values[static_cast<std::size_t>(found - ids.begin())] = score;
    }
    return values;
}

bool holds(const Tags& tags, const std::string& tag)
{
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

TEST(CenterNetDetectorMapping, CocoLabelsReachTheTableButAComputerMouseNeverBecomesARodent)
{
    ASSERT_EQ(CenterNetDetector::cocoIdentifiers().size(), 80u);
    const Tags mouse = classificationTags(CenterNetDetector::results(maxima({{"computer mouse", 0.9f}}), 0));
    EXPECT_FALSE(holds(mouse, "老鼠"));
    EXPECT_FALSE(holds(mouse, "mouse"));
    EXPECT_TRUE(holds(mouse, "电脑"));
    for (const std::string& id : CenterNetDetector::cocoIdentifiers())
        EXPECT_FALSE(holds(imagetags::leafIdentifiers(id), "mouse")) << id;

    const Tags couch = classificationTags(CenterNetDetector::results(maxima({{"couch", 0.6f}}), 0));
    EXPECT_TRUE(holds(couch, "沙发"));
    EXPECT_TRUE(holds(couch, "家具"));
    EXPECT_TRUE(holds(couch, "couch"));
    const Tags glass = classificationTags(CenterNetDetector::results(maxima({{"wine glass", 0.5f}}), 0));
    EXPECT_TRUE(holds(glass, "玻璃杯"));
    EXPECT_TRUE(holds(glass, "酒"));
    const Tags phone = classificationTags(CenterNetDetector::results(maxima({{"cell phone", 0.5f}}), 0));
    EXPECT_TRUE(holds(phone, "手机"));
}

TEST(CenterNetDetectorMapping, DropsWeakClassesAndOrdersTheRestBestFirst)
{
    const auto found = CenterNetDetector::results(maxima({{"cup", 0.36f}, {"dog", 0.8f}, {"cat", 0.349f}}), 0);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].identifier, "dog");
    EXPECT_EQ(found[1].identifier, "cup");
    // The table rule's own floor (0.08) would have kept the cat.
    EXPECT_FALSE(holds(classificationTags(found), "猫"));
    EXPECT_TRUE(CenterNetDetector::results(std::vector<float>(80, 0.34f), 1).empty());
}

TEST(CenterNetDetectorMapping, TwoStrongPersonPeaksMeanPeople)
{
    const auto one = classificationTags(CenterNetDetector::results(maxima({{"person", 0.7f}}), 1));
    EXPECT_TRUE(holds(one, "人物"));
    EXPECT_FALSE(holds(one, "people"));
    const auto two = classificationTags(CenterNetDetector::results(maxima({{"person", 0.7f}}), 2));
    EXPECT_TRUE(holds(two, "people"));
    EXPECT_TRUE(holds(two, "person"));
    // Two peaks over 0.3 with the best under the cut-off: people, not person.
    const auto faint = CenterNetDetector::results(maxima({{"person", 0.32f}}), 2);
    ASSERT_EQ(faint.size(), 1u);
    EXPECT_EQ(faint[0].identifier, "people");
}

TEST(CenterNetDetectorModel, TheInstalledModelIsFoundFromTheProgramsFolderAndFromItsHelpers)
{
    std::string name = (std::filesystem::temp_directory_path() / "pallix-model-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    const std::filesystem::path prefix = name;
    const std::filesystem::path models = prefix / "share/pallix/models";
    std::filesystem::create_directories(models);
    std::ofstream(models / "centernet.json") << "{}";
    std::ofstream(models / "centernet.bin") << "0";
    EXPECT_EQ(CenterNetDetector::findModelFolder(prefix / "bin"), models);
    EXPECT_EQ(CenterNetDetector::findModelFolder(prefix / "libexec/pallix"), models);
    std::filesystem::remove_all(prefix);
}

} // namespace
} // namespace pallix
