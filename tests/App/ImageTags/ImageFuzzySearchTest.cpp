#include "App/ImageTags/ImageFuzzySearch.h"

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "Core/Semantic/ImageSemanticStore.h"
#include "App/ModelTestSupport.h"
#include "App/Search/ImageContentRule.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;
using Tokens = std::vector<std::string>;

std::set<std::string> asSet(const Tokens& tokens)
{
    return {tokens.begin(), tokens.end()};
}

std::vector<std::string> pathsOf(const ItemList& items)
{
    std::vector<std::string> out;
    for (const IndexedItem& item : items)
        out.emplace_back(item.path());
    return out;
}

IndexedItem sized(const std::string& path, std::int64_t size)
{
    const IndexedItem plain = fileItem(path);
    return IndexedItem(plain.path(), plain.name(), plain.parentPath(), plain.fileExtension(), size, plain.modifiedAt(),
                       IndexedItem::ItemType::File);
}

TEST(ImageFuzzySearch, TermsExpandThroughTheKeywordTable)
{
    EXPECT_EQ(asSet(ImageFuzzySearch::expandFuzzyTokens(" 猫 ")), (std::set<std::string>{"猫", "ocr:猫", "cat", "ocr:cat"}));
    EXPECT_EQ(asSet(ImageFuzzySearch::expandFuzzyTokens("Cat")), (std::set<std::string>{"cat", "ocr:cat"}));
    EXPECT_TRUE(ImageFuzzySearch::expandFuzzyTokens(" \n").empty());
    const Tokens cup = ImageFuzzySearch::expandFuzzyTokens("杯子");
    EXPECT_EQ(cup.size(), 10u);
    EXPECT_EQ(asSet(cup).count("ocr:bottle"), 1u);
    // Rows whose labels repeat across rows keep each token once.
    EXPECT_EQ(asSet(ImageFuzzySearch::expandFuzzyTokens("花")).size(), 12u);
    EXPECT_EQ(asSet(ImageFuzzySearch::expandFuzzyTokens("眼镜")), (std::set<std::string>{"眼镜", "ocr:眼镜", "glasses", "ocr:glasses"}));
    EXPECT_EQ(ImageFuzzySearch::expandFuzzyTokens("红色").size(), 2u);  // not a keyword
}

TEST(ImageFuzzySearch, PlanTakesTwoTermsAndScalesItsLimits)
{
    SearchQuery query;
    query.tokens = {"猫", " ", "Red", "third"};
    ImageFuzzySearch::Plan plan = ImageFuzzySearch::plan(query, 100, true);
    ASSERT_EQ(plan.groups.size(), 1u);  // the blank second term is dropped, the third never read
    EXPECT_EQ(plan.nameTokens, (Tokens{"猫", "cat"}));
    EXPECT_EQ(plan.cap, 100);
    EXPECT_EQ(plan.localTagLimit, 1800);
    EXPECT_EQ(plan.serverTagLimit, 300);
    EXPECT_EQ(plan.folderLimit, 100);
    EXPECT_EQ(plan.candidateLimit, 2200);

    query.tokens = {"猫", "red"};
    plan = ImageFuzzySearch::plan(query, 10000, false);
    EXPECT_EQ(plan.groups.size(), 2u);
    EXPECT_EQ(plan.cap, 1200);
    EXPECT_EQ(plan.localTagLimit, 6000);
    EXPECT_EQ(plan.serverTagLimit, 0);
    EXPECT_EQ(plan.folderLimit, 240);
    EXPECT_EQ(plan.candidateLimit, 8000);
}

TEST(ImageFuzzySearch, OrderIsKindFirstThenTheFieldThenThePath)
{
    const ItemList items{sized("/d/b.png", 5),  sized("/d/movie.mp4", 99), fileItem("/d/folder", true),
                         sized("/d/A.png", 5),  sized("/d/big.jpg", 50),   sized("/d/doc.pdf", 70)};
    EXPECT_EQ(pathsOf(ImageFuzzySearch::sortedFuzzyResults(items, SearchSortField::Size, false)),
              (std::vector<std::string>{"/d/folder", "/d/big.jpg", "/d/A.png", "/d/b.png", "/d/movie.mp4", "/d/doc.pdf"}));
    EXPECT_EQ(pathsOf(ImageFuzzySearch::sortedFuzzyResults(items, SearchSortField::Name, true)),
              (std::vector<std::string>{"/d/folder", "/d/A.png", "/d/b.png", "/d/big.jpg", "/d/doc.pdf", "/d/movie.mp4"}));
    // A video sits with the documents: any file with an extension is document-like.
    EXPECT_EQ(ImageFuzzySearch::fuzzyKindOrder(fileItem("/d/a.mp3")), 2);
    EXPECT_EQ(ImageFuzzySearch::fuzzyKindOrder(fileItem("/d/README")), 7);

    const ItemList kept = ImageFuzzySearch::finish({items.begin(), items.end()}, {QStringLiteral("/d/big.jpg")},
                                                   SearchSortField::Size, false, 2);
    EXPECT_EQ(pathsOf(kept), (std::vector<std::string>{"/d/folder", "/d/A.png"}));
}

// A model over a seeded local index and a seeded tag database, with the
// real tag store and the model's own image-content search.
struct ImageRoad {
    ModelHarness h;

    ImageRoad()
    {
        seedIndex(h.databasePath(), {fileItem("/data/red.png"), fileItem("/data/blue.png"), fileItem("/data/notes.txt"),
                                     fileItem("/data/红色 red", true), fileItem("/data/elsewhere.png")});
        ImageSemanticStore tags(h.env.supportDirectory / "image_semantic.sqlite");
        EXPECT_EQ(tags.bootstrap(), std::nullopt);
        EXPECT_EQ(tags.upsert("/data/red.png", {"红色", "red", "ocr:sale"}, 1), std::nullopt);
        EXPECT_EQ(tags.upsert("/data/blue.png", {"蓝色", "blue"}, 1), std::nullopt);
        EXPECT_EQ(tags.upsert("/gone/red.png", {"红色", "red"}, 1), std::nullopt);  // not in the index
        h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
        h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
        h.start();
    }
    bool ready()
    {
        if (!h.settle())
            return false;
        IndexStore& store = *h.model->context().stores().local;
        return pumpUntil(*h.clock, [&] { return store.status().cacheReady && h.localProbe->runningBackgroundJobs() == 0; }, 50ms);
    }
    AppModel& model() { return *h.model; }
};

TEST(ImageFuzzySearchModel, RedFindsTheRedImageThroughTheRealStore)
{
    ImageRoad road;
    ASSERT_TRUE(road.ready());
    road.model().searchSession().setSearchText(QStringLiteral("红色"));
    road.model().searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return !road.model().searchSession().imageFuzzyResults().isEmpty(); }));
    // The tagged path the index does not hold gives nothing; the folder whose
    // name holds the term is a main result, so the image section leaves it out.
    EXPECT_EQ(pathsOf(road.model().searchSession().imageFuzzyResults()), std::vector<std::string>{"/data/red.png"});
    EXPECT_EQ(pathsOf(road.model().searchSession().results()), std::vector<std::string>{"/data/红色 red"});

    // Recognised text is found by its words too.
    road.model().searchSession().setImageFuzzyResults({});
    road.model().searchSession().setSearchText(QStringLiteral("sale"));
    road.model().searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return road.model().searchSession().lastDisplayedQuery()->rawText == "sale"; }));
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] {
        return pathsOf(road.model().searchSession().imageFuzzyResults()) == std::vector<std::string>{"/data/red.png"};
    }));
}

// A shared-drive image found by its content is an item of the shared-drive
// index, not of the local one: it shows beside the local hits.
TEST(ImageFuzzySearchModel, SharedDriveImagesFoundByTheirContentShow)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data/red.png")});
    seedIndex(h.env.supportDirectory / "server_index.sqlite", {fileItem("/srv/team/海报.png"), fileItem("/srv/team/b.png")});
    ImageSemanticStore localTags(h.env.supportDirectory / "image_semantic.sqlite");
    ASSERT_EQ(localTags.bootstrap(), std::nullopt);
    ASSERT_EQ(localTags.upsert("/data/red.png", {"红色", "red"}, 1), std::nullopt);
    ImageSemanticStore serverTags(h.env.supportDirectory / "server_image_semantic.sqlite");
    ASSERT_EQ(serverTags.bootstrap(), std::nullopt);
    ASSERT_EQ(serverTags.upsert("/srv/team/海报.png", {"红色", "red"}, 1), std::nullopt);
    ASSERT_EQ(serverTags.upsert("/srv/team/b.png", {"蓝色", "blue"}, 1), std::nullopt);
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
    h.presetSettings([](AppSettings& s) { s.enableImageFuzzySearch = true; });
    h.start();
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(pumpUntil(*h.clock, [&] {
        const AppStores& stores = h.model->context().stores();
        return stores.local->status().cacheReady && stores.server->status().cacheReady;
    }, 50ms));

    h.model->searchSession().setSearchText(QStringLiteral("红色"));
    h.model->searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().imageFuzzyResults().size() == 2; }));
    const std::vector<std::string> shown = pathsOf(h.model->searchSession().imageFuzzyResults());
    EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()),
              (std::set<std::string>{"/data/red.png", "/srv/team/海报.png"}));
}

TEST(ImageFuzzySearchModel, SwitchingTheFeatureStoresItStartsTaggingAndEmptiesTheSection)
{
    ImageRoad road;
    ASSERT_TRUE(road.ready());
    ASSERT_TRUE(road.h.logged("tagging:local"));
    road.h.log.clear();
    road.model().searchSession().setImageFuzzyResults({fileItem("/data/red.png")});
    road.model().settingsOperations().updateEnableImageFuzzySearch(false);
    EXPECT_TRUE(road.model().searchSession().imageFuzzyResults().isEmpty());
    EXPECT_FALSE(road.model().settings().enableImageFuzzySearch);
    EXPECT_FALSE(SettingsStore(road.h.defaults).settings().enableImageFuzzySearch);
    EXPECT_FALSE(road.h.logged("tagging:local"));
    EXPECT_FALSE(ImageContentRule::isWanted(road.model().searchSession().currentQuerySnapshot(),
                                          road.model().searchSession().settings()));

    road.model().settingsOperations().updateEnableImageFuzzySearch(true);
    EXPECT_TRUE(road.h.logged("tagging:local"));
    EXPECT_TRUE(SettingsStore(road.h.defaults).settings().enableImageFuzzySearch);
    EXPECT_TRUE(road.model().searchSession().imageFuzzyResults().isEmpty());  // no search of its own
}

} // namespace
} // namespace pallix
