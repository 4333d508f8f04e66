// A real AppModel with the real image-tag store, tagger and extraction (the
// defaults of AppServices) over an index that holds two generated images.

#include "App/AppModel.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>

#include "Core/Semantic/ImageTagStore.h"
#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;

TEST(ImageSearchIntegration, TheRunningModelTagsImagesInTheBackgroundAndFindsThemByColour)
{
    TempDir home;
    const auto root = home.path() / "photos";
    fs::create_directories(root);
    const std::string red = (root / "holiday.png").string();
    const std::string blue = (root / "sea.png").string();
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(QColor(230, 10, 10));
    ASSERT_TRUE(image.save(QString::fromStdString(red)));
    image.fill(QColor(10, 10, 230));
    ASSERT_TRUE(image.save(QString::fromStdString(blue)));

    AppModelEnvironment env;
    env.defaults = Defaults::inMemory();
    env.supportDirectory = home.path() / "support";
    env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume(root.string())});
    env.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {root.string()});
    seedIndex(env.supportDirectory / "index.sqlite",
              {*IndexedItem::from(root.string()), *IndexedItem::from(red), *IndexedItem::from(blue)});
    AppModel model(env);

    // Tagging starts at the end of the start-up, as the index has items.
    const std::shared_ptr<ImageTagStore>& tags = model.context().stores().localImageTags;
    ASSERT_TRUE(waitFor([&] { return tags->hasTags(red) && tags->hasTags(blue); }, 60000));
    QSignalSpy passes(&model.searchSession(), &SearchSession::imageFuzzyResultsChanged);
    model.searchSession().setSearchText(QStringLiteral("红色"));
    model.searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(waitFor([&] { return !model.searchSession().imageFuzzyResults().isEmpty(); }, 30000));
    ASSERT_EQ(model.searchSession().imageFuzzyResults().size(), 1);
    EXPECT_EQ(model.searchSession().imageFuzzyResults().front().path(), red);
    EXPECT_TRUE(model.searchSession().results().isEmpty());  // no name holds the word
    // The second, larger pass follows on the real clock and finds the same;
    // the model is not left with it asleep.
    ASSERT_TRUE(waitFor([&] { return passes.count() >= 2; }, 30000));
    ASSERT_EQ(model.searchSession().imageFuzzyResults().size(), 1);
    EXPECT_EQ(model.searchSession().imageFuzzyResults().front().path(), red);
}

} // namespace
} // namespace pallix
