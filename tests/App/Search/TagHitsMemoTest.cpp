// The image-content stage of a search repeated for the same words: the model
// with the real tag store behind a counting one, and the live index's
// re-searches.

#include "App/Search/TagHitsMemo.h"

#include <atomic>
#include <set>

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "App/AppModel.h"
#include "App/ImageTags/ImageTagWrites.h"
#include "App/ModelTestSupport.h"
#include "Core/Semantic/ImageSemanticStore.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

// Hands everything to the real store and counts the searches asked of it.
class CountingTagStore final : public ImageTagStore {
public:
    explicit CountingTagStore(std::shared_ptr<ImageTagStore> store) : m_store(std::move(store)) {}
    std::optional<std::string> bootstrap() override { return m_store->bootstrap(); }
    bool hasTags(const std::string& path) override { return m_store->hasTags(path); }
    std::optional<std::string> upsert(const std::string& path, const std::vector<std::string>& tags, double updatedAt,
                                      int format, const std::optional<ImageFileStamp>& file) override
    {
        return m_store->upsert(path, tags, updatedAt, format, file);
    }
    std::vector<std::string> searchPaths(const std::vector<std::vector<std::string>>& groups, int limit) override
    {
        ++searches;
        return m_store->searchPaths(groups, limit);
    }
    std::atomic<int> searches{0};

private:
    std::shared_ptr<ImageTagStore> m_store;
};

std::set<std::string> shownImages(const SearchSession& session)
{
    std::set<std::string> out;
    for (const IndexedItem& item : session.imageFuzzyResults())
        out.emplace(item.path());
    return out;
}

// A model whose root is a real folder with three images and a note, indexed
// by the start-up scan, two of the images tagged already.
struct RepeatRoad {
    std::shared_ptr<CountingTagStore> counting;
    ModelHarness h;  // last: the model goes first

    RepeatRoad()
    {
        for (const char* name : {"red.png", "blue.png", "cherry.png", "notes.txt"})
            writeFile(h.rootFolder() / name);
        ImageSemanticStore tags(h.env.supportDirectory / "image_semantic.sqlite");
        EXPECT_EQ(tags.bootstrap(), std::nullopt);
        EXPECT_EQ(tags.upsert(at("red.png"), {"红色", "red"}, 1), std::nullopt);
        EXPECT_EQ(tags.upsert(at("blue.png"), {"蓝色", "blue"}, 1), std::nullopt);
        h.env.services.makeImageTagStore = [this](const std::filesystem::path& file) {
            counting = std::make_shared<CountingTagStore>(std::make_shared<ImageSemanticStore>(file));
            return counting;
        };
        h.start();
    }
    std::string at(const std::string& name) const { return (h.rootFolder() / name).string(); }
    bool ready()
    {
        if (!h.settle())
            return false;
        IndexStore& store = *h.model->context().stores().local;
        return pumpUntil(*h.clock, [&] {
            return store.status().cacheReady && h.localProbe->runningBackgroundJobs() == 0 && !store.items({at("red.png")}, 1).empty();
        }, 50ms);
    }
    SearchSession& session() { return h.model->searchSession(); }
    // What the tagger does: it writes through the model's store.
    void tag(const std::string& path, const std::vector<std::string>& tags)
    {
        ASSERT_EQ(h.model->context().stores().localImageTags->upsert(path, tags, 2), std::nullopt);
    }
    // A file changed on disk: the live index writes it and searches again.
    void fileChanged(const std::string& path)
    {
        const std::int64_t generation = session().searchGeneration();
        h.watcher->deliver({path});
        ASSERT_TRUE(pumpUntil(*h.clock, [&] { return session().searchGeneration() > generation; }, 50ms));
        ASSERT_TRUE(h.runOut());
    }
    void search(const QString& text)
    {
        session().setSearchText(text);
        session().scheduleSearch(true, false);
        ASSERT_TRUE(h.runOut());
    }
};

TEST(TagHitsMemo, ARepeatedSearchAsksTheTagStoreOnlyWhenNewTagsCouldChangeItsAnswer)
{
    RepeatRoad road;
    ASSERT_TRUE(road.ready());
    road.search(QStringLiteral("红色"));
    EXPECT_EQ(shownImages(road.session()), std::set<std::string>{road.at("red.png")});
    const int asked = road.counting->searches;
    EXPECT_EQ(asked, 2) << "the two passes";

    // A file changed elsewhere.
    writeFile(road.h.rootFolder() / "new.txt");
    road.fileChanged(road.at("new.txt"));
    // The tagger tagged an image with other words; the index searches again.
    road.tag(road.at("blue.png"), {"蓝色", "blue", "sky"});
    road.session().scheduleSearch(true, false);
    ASSERT_TRUE(road.h.runOut());
    EXPECT_EQ(road.counting->searches, asked);
    EXPECT_EQ(shownImages(road.session()), std::set<std::string>{road.at("red.png")});

    // Other words and back: the store is asked, at `askedAt`.
    road.search(QStringLiteral("蓝色"));
    const Clock::TimePoint askedAt = road.h.clock->now();
    road.search(QStringLiteral("红色"));
    const int askedAgain = road.counting->searches;
    EXPECT_EQ(askedAgain, asked + 4);
    // A tag that matters, and a search at once: the answer stands until the
    // refresh interval is over, and is then asked for once more.
    road.tag(road.at("cherry.png"), {"红色", "cherry"});
    QSignalSpy published(&road.session(), &SearchSession::imageFuzzyResultsChanged);
    road.session().scheduleSearch(true, false);
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return published.count() == 2; }));
    EXPECT_EQ(road.counting->searches, askedAgain);
    EXPECT_EQ(shownImages(road.session()), std::set<std::string>{road.at("red.png")});
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return shownImages(road.session()).size() == 2; }, 50ms));
    EXPECT_EQ(shownImages(road.session()), (std::set<std::string>{road.at("red.png"), road.at("cherry.png")}));
    EXPECT_EQ(road.counting->searches, askedAgain + 1);
    EXPECT_GE(road.h.clock->now() - askedAt, Clock::Duration(TagHitsMemo::kRefreshInterval));

    // The first pass's answer predates that tag: the next search asks for it.
    road.session().scheduleSearch(true, false);
    ASSERT_TRUE(road.h.runOut());
    EXPECT_EQ(road.counting->searches, askedAgain + 2);

    // An image gone from the disk leaves the section at the live index's
    // search, the tag store unasked: the index part is read again each time.
    fs::remove(road.h.rootFolder() / "cherry.png");
    road.fileChanged(road.at("cherry.png"));
    EXPECT_EQ(shownImages(road.session()), std::set<std::string>{road.at("red.png")});
    EXPECT_EQ(road.counting->searches, askedAgain + 2);
}

TEST(TagHitsMemo, TaggerProgressSearchesTheImageSectionAgainOnlyForTagsThatMatter)
{
    RepeatRoad road;
    ASSERT_TRUE(road.ready());
    const Clock::TimePoint askedAt = road.h.clock->now();
    road.search(QStringLiteral("红色"));
    const std::int64_t generation = road.session().searchGeneration();
    ASSERT_EQ(road.counting->searches, 2);

    road.tag(road.at("blue.png"), {"蓝色", "blue", "sky"});
    ASSERT_TRUE(road.h.runOut());
    EXPECT_EQ(road.counting->searches, 2);

    // Once the refresh interval is over, one pass, and no search of the rest.
    road.tag(road.at("cherry.png"), {"红色", "cherry"});
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return shownImages(road.session()).size() == 2; }, 50ms));
    EXPECT_EQ(shownImages(road.session()), (std::set<std::string>{road.at("red.png"), road.at("cherry.png")}));
    EXPECT_EQ(road.counting->searches, 3);
    EXPECT_GE(road.h.clock->now() - askedAt, Clock::Duration(TagHitsMemo::kRefreshInterval));
    EXPECT_EQ(road.session().searchGeneration(), generation);
    ASSERT_TRUE(road.h.runOut());
    EXPECT_EQ(road.counting->searches, 3);
}

} // namespace
} // namespace pallix
