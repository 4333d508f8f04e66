#include "App/Search/ServerSearchStage.h"

#include <atomic>
#include <future>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/ServerTestSupport.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;
using ::testing::UnorderedElementsAre;

const std::string kPrefixHit = "/srv/team/报告A.pdf";
const std::string kInnerHit = "/srv/team/年度报告.pdf";
const std::string kFolderHit = "/srv/team/报告夹";

// A model over a seeded local index and a seeded shared-drive index. The
// shared-drive store's cache can be held back, which sends the stage to the
// database file. No keystroke is stamped unless a test types.
struct ServerRoad {
    ModelHarness h;
    std::vector<std::string> imageStages;  // the texts the image stage ran for
    std::promise<void> cacheRelease;
    bool cacheHeld = false;

    explicit ServerRoad(bool holdCache, const std::function<void(AppSettings&)>& settings = {},
                        FileScanner::ListingFault listingFault = {})
        : cacheHeld(holdCache)
    {
        h.env.scanner.listingFault = std::move(listingFault);
        seedIndex(h.databasePath(), {fileItem("/data/unrelated.bin")});
        seedIndex(h.env.supportDirectory / "server_index.sqlite",
                  {fileItem(kPrefixHit), fileItem(kInnerHit), fileItem(kFolderHit, true), fileItem("/srv/team/x.jpg")});
        h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
        h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
        h.presetSettings([&](AppSettings& s) {
            s.enableImageFuzzySearch = true;
            if (settings)
                settings(s);
        });
        h.env.services.imageFuzzySearch = [this](SearchQuery query, int, QSet<QString>) -> QCoro::Task<QList<IndexedItem>> {
            imageStages.push_back(query.rawText);
            co_return ItemList();
        };
        h.start();
        // Before the queued start-up opens the store.
        if (holdCache) {
            auto released = cacheRelease.get_future().share();
            h.serverProbe->setBeforeCacheInstallHook([released] { released.wait(); });
        }
    }
    ~ServerRoad()
    {
        releaseCache();
        h.stop();
    }
    void releaseCache()
    {
        if (cacheHeld)
            cacheRelease.set_value();
        cacheHeld = false;
    }

    bool ready()
    {
        if (!h.settle())
            return false;
        return pumpUntil(*h.clock, [&] {
            return h.model->context().stores().local->status().cacheReady
                   && (cacheHeld || h.model->context().stores().server->status().cacheReady);
        }, 50ms);
    }
    AppModel& model() { return *h.model; }
    std::vector<std::string> shown() { return pathsOf(model().searchSession().serverResults()); }
    void search(const QString& text)
    {
        model().searchSession().setSearchText(text);
        model().searchSession().scheduleSearch(true, false);
    }
    bool imageStageRanFor(const std::string& text)
    {
        return std::find(imageStages.begin(), imageStages.end(), text) != imageStages.end();
    }
};

TEST(ServerSearchStage, TheLoadedStoreAnswersThenALongerTextNarrowsFirst)
{
    ServerRoad road(false);
    ASSERT_TRUE(road.ready());
    road.search("报告");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("报告"); }));
    EXPECT_THAT(road.shown(), UnorderedElementsAre(kPrefixHit, kInnerHit, kFolderHit));
    EXPECT_EQ(road.shown().front(), kFolderHit);  // folder first in the name order

    // A longer text filters the shown list at once, then searches the store.
    int published = 0;
    QObject::connect(&road.h.model->searchSession(), &SearchSession::serverResultsChanged, road.h.model.get(), [&] { ++published; });
    road.search("报告A");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("报告A"); }));
    EXPECT_EQ(published, 2);
    EXPECT_EQ(road.shown(), std::vector<std::string>{kPrefixHit});
}

TEST(ServerSearchStage, WithoutTheCacheTheDatabaseFileAnswersAndOnlyAFailedReadKeepsTheList)
{
    ServerRoad road(true);
    ASSERT_TRUE(road.ready());
    ASSERT_FALSE(road.model().context().stores().server->status().cacheReady);
    road.search("报告");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("报告"); }));
    // The file is asked for every name holding the words.
    EXPECT_THAT(road.shown(), UnorderedElementsAre(kPrefixHit, kInnerHit, kFolderHit));

    // The file cannot be read: the list on screen stays, and the image stage still follows.
    const fs::path database = road.model().context().stores().serverDatabasePath;
    const fs::path away = database.string() + ".away";
    fs::rename(database, away);
    road.search("年度");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("年度"); }));
    EXPECT_THAT(road.shown(), UnorderedElementsAre(kPrefixHit, kInnerHit, kFolderHit));
    fs::rename(away, database);

    // Nothing found in the file is an answer: the other text's hits go.
    road.search("无此文件");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("无此文件"); }));
    EXPECT_TRUE(road.shown().empty());
}

TEST(ServerSearchStage, TypingAnswersWithNamePrefixesAndThePauseCompletesTheAnswer)
{
    ServerRoad road(true, [](AppSettings& s) { s.includeLocalInSearch = false; });
    ASSERT_TRUE(road.ready());
    road.model().searchSession().userTyped("报告");
    // The request's short pause, then the prefix search of the file.
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return !road.shown().empty(); }, 2ms));
    EXPECT_THAT(road.shown(), UnorderedElementsAre(kPrefixHit, kFolderHit));
    EXPECT_TRUE(road.imageStages.empty());  // a typing answer ends the request here

    // Once the user has paused, the completion waits for the store's cache;
    // when it comes, the store's complete answer replaces the prefixes.
    const TypingClock& typing = road.model().searchSession().typingClock();
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return typing.secondsSinceLastKeystroke() >= 1.0; }, 100ms));
    EXPECT_EQ(road.shown().size(), 2u);
    road.releaseCache();
    ASSERT_TRUE(waitFor([&] { return road.shown().size() == 3; }));
    EXPECT_THAT(road.shown(), UnorderedElementsAre(kPrefixHit, kInnerHit, kFolderHit));
}

TEST(ServerSearchStage, WithoutTheCacheTheFilesEmptyAnswerReplacesTheListAtOnceAndAfterThePause)
{
    ServerRoad road(true, [](AppSettings& s) { s.includeLocalInSearch = false; });
    ASSERT_TRUE(road.ready());
    road.model().searchSession().setServerResults(fileItems({"/srv/old/报告旧.pdf"}));
    int published = 0;
    QObject::connect(&road.h.model->searchSession(), &SearchSession::serverResultsChanged, road.h.model.get(), [&] { ++published; });
    // No name holds the text: the typing answer is empty, and so is the
    // file's: the other text's hit goes at once, not after the pause.
    road.model().searchSession().userTyped("季度表");
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return published >= 1; }, 20ms));
    EXPECT_TRUE(road.shown().empty());
    EXPECT_LT(road.model().searchSession().typingClock().secondsSinceLastKeystroke(), 6.68);
    // 6 s after the pause the completion asks the file again: still empty.
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return published >= 2; }, 200ms));
    EXPECT_TRUE(road.shown().empty());
    EXPECT_GE(road.model().searchSession().typingClock().secondsSinceLastKeystroke(), 6.68);
}

TEST(ServerSearchStage, ScopeChangesClearTheSideTurnedOffAndForgetItsQuery)
{
    ServerRoad road(false);
    ASSERT_TRUE(road.ready());
    road.search("报告");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("报告"); }));
    ASSERT_EQ(road.shown().size(), 3u);

    road.model().settingsOperations().applySearchScopeChanges(true, false);
    EXPECT_TRUE(road.shown().empty());
    EXPECT_FALSE(SettingsStore(road.h.defaults).settings().includeServerInSearch);
    // Back on, a longer text cannot narrow the forgotten list: the store answers.
    road.model().settingsOperations().applySearchScopeChanges(true, true);
    road.search("报告A");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("报告A"); }));
    EXPECT_EQ(road.shown(), std::vector<std::string>{kPrefixHit});

    // Local off: the local list goes at once.
    road.model().settingsOperations().applySearchScopeChanges(false, true);
    EXPECT_TRUE(road.model().searchSession().results().isEmpty());
    EXPECT_FALSE(road.model().settings().includeLocalInSearch);
}

TEST(ServerSearchStage, DuringARunTheDatabaseFileAnswersEvenWithTheCacheLoaded)
{
    std::atomic<bool> reached{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    TempDir shares;
    writeFile(shares.path() / "sub" / "a.jpg");
    const std::string blocked = (shares.path() / "sub").string();
    ServerRoad road(false, [&](AppSettings& s) {
        s.enableServerIndexing = true;
        s.serverIndexedRoots = {shares.str()};
    }, [&, released](const std::string& path) {
        if (path == blocked) {
            reached = true;
            released.wait();
        }
        return 0;
    });
    // Declared after the road: a failed assertion still frees the walk before the model goes.
    struct Releaser {
        std::promise<void>& promise;
        bool done = false;
        void operator()()
        {
            if (!std::exchange(done, true))
                promise.set_value();
        }
        ~Releaser() { (*this)(); }
    } releaseWalk{release};
    ASSERT_TRUE(road.ready());
    road.model().sharedDrives().refreshServerIndexManually();
    ASSERT_TRUE(waitFor([&] { return reached.load() && road.model().sharedDrives().isServerIndexing(); }));

    road.search("报告");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("报告"); }));
    // The file is asked for every name holding the words, as the store's memory would.
    EXPECT_THAT(road.shown(), UnorderedElementsAre(kPrefixHit, kInnerHit, kFolderHit));

    releaseWalk();
    ASSERT_TRUE(waitFor([&] { return !road.model().sharedDrives().isServerIndexing(); }));
    road.search("报告 ");
    ASSERT_TRUE(waitFor([&] { return road.imageStageRanFor("报告 "); }));
    EXPECT_THAT(road.shown(), UnorderedElementsAre(kPrefixHit, kInnerHit, kFolderHit));
}

} // namespace
} // namespace pallix
