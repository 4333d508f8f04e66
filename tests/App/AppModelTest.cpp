#include "App/AppModel.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "App/Indexing/WatcherBatches.h"
#include "Core/Config/EditionRule.h"
#include "Core/Models/AppEdition.h"
#include "Support/LaunchAgentManager.h"
#include "ModelTestSupport.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

// State after construction.

TEST(AppModelState, FreshInstallStartsEmptyWithItsDefaults)
{
    ModelHarness h;
    h.start();
    AppModel& m = *h.model;
    EXPECT_TRUE(m.searchSession().searchText().isEmpty());
    EXPECT_TRUE(m.searchSession().results().isEmpty());
    EXPECT_TRUE(m.searchSession().imageFuzzyResults().isEmpty());
    EXPECT_TRUE(m.searchSession().skuRelatedResults().isEmpty());
    EXPECT_TRUE(m.searchSession().serverResults().isEmpty());
    EXPECT_TRUE(m.searchSession().selectedItemID().isEmpty());
    EXPECT_EQ(m.searchSession().constraints().sortField(), SearchSortField::Name);
    EXPECT_TRUE(m.searchSession().constraints().sortAscending());
    EXPECT_EQ(m.searchSession().constraints().contentFilters(), std::set<SearchContentFilter>{SearchContentFilter::All});
    EXPECT_FALSE(m.searchSession().constraints().caseSensitive());
    EXPECT_EQ(m.searchSession().constraints().matchMode(), SearchMatchMode::Contains);
    EXPECT_EQ(m.searchSession().constraints().displayMode(), ResultDisplayMode::Grid);
    EXPECT_DOUBLE_EQ(m.searchSession().constraints().gridZoom(), 1.0);
    EXPECT_EQ(m.statusMessage(), "准备中");
    EXPECT_EQ(m.localIndex().indexedCount(), 0);
    EXPECT_EQ(h.model->sharedDrives().serverIndexedCount(), 0);
    EXPECT_FALSE(h.model->sharedDrives().isServerIndexing());
    EXPECT_TRUE(h.model->sharedDrives().serverIndexStatusText().isEmpty());
    EXPECT_FALSE(m.localIndex().isIndexing());
    EXPECT_EQ(m.settings(), AppSettings{});
    ASSERT_EQ(m.searchSession().constraints().scopeHistory().size(), 1u);
    EXPECT_TRUE(m.searchSession().constraints().scopeHistory().front().isEmpty());
    EXPECT_EQ(m.searchSession().constraints().scopeHistoryIndex(), 0);
    EXPECT_EQ(m.searchSession().searchGeneration(), 0);
    EXPECT_TRUE(m.foregroundActivity().isForegroundActive());
    EXPECT_TRUE(std::isinf(m.searchSession().typingClock().secondsSinceLastKeystroke()));
}

TEST(AppModelState, PublishedFieldsAreQtPropertiesInDeclarationOrder)
{
    // The search state is the session's and its constraints', history's and inline rename's;
    // the index's state is the local index's; the rest stays the model's.
    const std::vector<const char*> session = {"searchText",        "results",       "imageFuzzyResults",
                                              "skuRelatedResults", "serverResults", "selectedItemID",
                                              "isSearching",       "searchingHint"};
    const std::vector<const char*> rename = {"targetID", "draft"};
    const std::vector<const char*> constraints = {"sortField",   "sortAscending", "contentFilters", "caseSensitive",
                                                  "matchMode",   "displayMode",   "gridZoom",       "scopedPath"};
    const std::vector<const char*> history = {"entries"};
    const std::vector<const char*> index = {"isIndexing", "indexedCount"};
    const std::vector<const char*> model = {"settings", "statusMessage"};
    for (const auto& [meta, expected] :
         {std::pair{&SearchSession::staticMetaObject, session},
          std::pair{&SearchConstraints::staticMetaObject, constraints},
          std::pair{&SearchHistory::staticMetaObject, history}, std::pair{&InlineRename::staticMetaObject, rename},
          std::pair{&LocalIndex::staticMetaObject, index}, std::pair{&AppModel::staticMetaObject, model}}) {
        SCOPED_TRACE(meta->className());
        ASSERT_EQ(meta->propertyCount() - meta->propertyOffset(), static_cast<int>(expected.size()));
        for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
            const QMetaProperty p = meta->property(meta->propertyOffset() + i);
            SCOPED_TRACE(expected[i]);
            EXPECT_STREQ(p.name(), expected[i]);
            EXPECT_TRUE(p.hasNotifySignal());
        }
    }
}

TEST(AppModelState, DisplayModeRawValues)
{
    EXPECT_EQ(resultDisplayModeFromRaw("grid"), ResultDisplayMode::Grid);
    EXPECT_EQ(resultDisplayModeFromRaw("list"), ResultDisplayMode::List);
    EXPECT_EQ(resultDisplayModeFromRaw("Grid"), std::nullopt);
    EXPECT_EQ(resultDisplayModeFromRaw(""), std::nullopt);
    EXPECT_EQ(rawValue(ResultDisplayMode::List), "list");
}

// Construction: counts and legacy keys.

TEST(AppModelConstruction, StoredCountLargerThanTheDatabaseShowsFirstThenTheStoresCount)
{
    ModelHarness h;
    std::vector<IndexedItem> items;
    for (int i = 0; i < 100; ++i)
        items.push_back(fileItem("/data/f" + std::to_string(i) + ".txt"));
    seedIndex(h.databasePath(), items);
    h.defaults->setInteger(LocalIndex::lastIndexedCountKey(), 120);
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});

    h.start();
    EXPECT_EQ(h.model->localIndex().indexedCount(), 120);
    EXPECT_EQ(h.model->statusMessage(), "已载入索引 120 项");
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.model->localIndex().indexedCount(), 100);
    EXPECT_EQ(h.defaults->integer(LocalIndex::lastIndexedCountKey()), 100);
}

TEST(AppModelConstruction, DatabaseCountWinsOverASmallerStoredCount)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data/a.txt"), fileItem("/data/b.txt")});
    h.defaults->setInteger(LocalIndex::lastIndexedCountKey(), 1);
    h.start();
    EXPECT_EQ(h.model->localIndex().indexedCount(), 2);
    EXPECT_EQ(h.model->statusMessage(), "已载入索引 2 项");
}

TEST(AppModelConstruction, LegacyKeysAreCopiedOnlyWhereTheEditionHasNothingBetter)
{
    const struct {
        std::optional<std::int64_t> editionCount;
        std::int64_t legacyCount;
        std::int64_t expected;
    } cases[] = {{10, 5, 10}, {3, 5, 5}, {std::nullopt, 5, 5}, {7, 0, 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "edition " << c.editionCount.value_or(-1) << " legacy " << c.legacyCount);
        ModelHarness h;
        if (c.editionCount)
            h.defaults->setInteger(LocalIndex::lastIndexedCountKey(), *c.editionCount);
        h.defaults->setInteger(legacyDefaultsKey(DefaultsName::LastIndexedCount), c.legacyCount);
        h.start();
        EXPECT_EQ(h.defaults->integer(LocalIndex::lastIndexedCountKey()).value_or(0), c.expected);
        EXPECT_EQ(h.defaults->integer(legacyDefaultsKey(DefaultsName::LastIndexedCount)), c.legacyCount);
        h.stop();
    }

    ModelHarness roots;
    roots.defaults->setStringList(legacyDefaultsKey(DefaultsName::LastIndexedRoots), {"/b", "/a"});
    roots.defaults->setBoolean(legacyDefaultsKey(DefaultsName::WelcomeSheetDismissed), true);
    roots.start();
    EXPECT_EQ(roots.defaults->stringList(LocalIndex::lastIndexedRootsKey()), (std::vector<std::string>{"/b", "/a"}));
    EXPECT_EQ(roots.defaults->boolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed)), true);

    ModelHarness kept;
    kept.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/mine"});
    kept.defaults->setStringList(legacyDefaultsKey(DefaultsName::LastIndexedRoots), {"/old"});
    kept.defaults->setBoolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed), false);
    kept.defaults->setBoolean(legacyDefaultsKey(DefaultsName::WelcomeSheetDismissed), true);
    kept.start();
    EXPECT_EQ(kept.defaults->stringList(LocalIndex::lastIndexedRootsKey()), (std::vector<std::string>{"/mine"}));
    EXPECT_EQ(kept.defaults->boolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed)), false);
}

TEST(AppModelConstruction, UnreadableDatabaseCountsAsZero)
{
    ModelHarness h;
    writeFile(h.databasePath(), "not a database");
    h.start();
    EXPECT_EQ(h.model->localIndex().indexedCount(), 0);
    EXPECT_EQ(h.model->statusMessage(), "准备中");
}

// Bootstrap.

TEST(AppModelBootstrap, FirstLaunchWaitsForTheFirstIndexThenScans)
{
    ModelHarness h;
    TempDir tree;
    writeFile(tree.path() / "a.txt");
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume(tree.str())});
    h.start();
    EXPECT_EQ(h.model->statusMessage(), "准备中");
    ASSERT_TRUE(h.settle());

    const int waiting = h.indexOf("status:等待首次索引");
    const int watch = h.indexOf("watch:" + tree.str());
    const int server = h.indexOf("server:autoConfigure");
    const int menuBar = h.indexOf("menuBar:1");
    const int hotKey = h.indexOf("hotKey:⌃⌥Space");
    const int scan = h.indexOf("status:启动后正在完整扫描本机与外接硬盘...");
    const int done = h.indexOf("status:启动扫描完成，共 2 项");
    ASSERT_GE(waiting, 0);
    EXPECT_LT(waiting, watch);
    EXPECT_LT(watch, server);
    EXPECT_LT(server, menuBar);
    EXPECT_LT(menuBar, hotKey);
    EXPECT_LT(hotKey, scan);
    EXPECT_LT(scan, done);
    // Nothing to tag on the empty index the bootstrap saw: tagging starts once
    // the first scan has filled it, in this session.
    EXPECT_LT(done, h.indexOf("tagging:local"));
    EXPECT_FALSE(h.logged("server:fullScan"));
    EXPECT_EQ(h.model->localIndex().indexedCount(), 2);
    EXPECT_EQ(h.defaults->stringList(LocalIndex::lastIndexedRootsKey()), (std::vector<std::string>{tree.str()}));
}

TEST(AppModelBootstrap, ExistingIndexIsSearchableAtOnceAndStartsTagging)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data", true), fileItem("/data/a.png")});
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
    h.start();
    ASSERT_TRUE(h.settle());
    const int loaded = h.indexOf("status:已加载 2 条索引");
    const int ready = h.indexOf("status:已加载 2 条索引，可立即搜索");
    ASSERT_GE(loaded, 0);
    EXPECT_LT(loaded, ready);
    EXPECT_GT(h.indexOf("tagging:local"), ready);
    EXPECT_FALSE(h.logged("tagging:server"));  // the shared-drive index is empty
    EXPECT_EQ(h.model->statusMessage(), "已加载 2 条索引，可立即搜索");
    EXPECT_EQ(h.indexOfPrefix("status:启动"), -1);  // no scan
}

// The environment's probes read the model's two stores, each its own: tests
// that wait for a store's quiet through them wait on that store.
TEST(AppModelBootstrap, EnvironmentProbesReadTheirOwnStores)
{
    ModelHarness h;
    writeFile(h.rootFolder() / "a.txt");
    h.start();
    ASSERT_TRUE(h.settle());
    IndexStore& local = *h.model->context().stores().local;
    ASSERT_TRUE(waitFor([&] { return local.status().cacheReady; }));
    EXPECT_GT(local.indexedCount(), 0);
    EXPECT_EQ(static_cast<std::int64_t>(h.localProbe->memoryUsage().itemCount), local.indexedCount());
    EXPECT_EQ(h.serverProbe->memoryUsage().itemCount, 0u);
    EXPECT_EQ(h.serverProbe->pragmaValue("journal_mode"), "wal");
}

TEST(AppModelBootstrap, SharedDriveWorkRunsInOrderWhenResumptionIsOn)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data/a.txt")});
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
    h.presetSettings([](AppSettings& s) {
        s.enableServerIndexing = true;
        s.autoResumeServerIndexingOnLaunch = true;
        s.keepAppWarmInBackground = true;
    });
    h.start();
    ASSERT_TRUE(h.settle());
    // The resume check before the first scan: a started first scan holds the
    // run handle, and the check would never take up an interrupted run.
    const std::vector<std::string> expected = {"server:autoConfigure", "server:resume",  "server:fullScan",
                                               "server:incremental",   "menuBar:1",      "hotKey:⌃⌥Space",
                                               "keepWarm:begin"};
    int previous = -1;
    for (const std::string& entry : expected) {
        SCOPED_TRACE(entry);
        const int at = h.indexOf(entry);
        EXPECT_GT(at, previous);
        previous = at;
    }
    EXPECT_TRUE(h.model->foregroundActivity().holdsKeepWarmActivity());
}

TEST(AppModelBootstrap, StoreFailureStopsEverythingAfterIt)
{
    ModelHarness h;
    TempDir blocker;
    writeFile(blocker.path() / "file");
    h.env.supportDirectory = blocker.path() / "file" / "support";  // a folder under a regular file
    h.start();
    ASSERT_TRUE(waitFor([&] { return h.bootstrapEnded; }));
    QCoreApplication::processEvents();

    EXPECT_NE(h.model->statusMessage(), "准备中");
    EXPECT_FALSE(h.model->statusMessage().isEmpty());
    EXPECT_EQ(h.watcher, nullptr);  // never created
    EXPECT_FALSE(h.logged("server:autoConfigure"));
    EXPECT_FALSE(h.logged("menuBar:1"));
    EXPECT_EQ(h.indexOfPrefix("hotKey:"), -1);
    EXPECT_FALSE(h.model->localIndex().isIndexing());
    EXPECT_EQ(h.indexOfPrefix("status:启动"), -1);
}

TEST(AppModelBootstrap, ImageTagStoreFailureStopsTheStartUpWithItsText)
{
    ModelHarness h;
    h.env.services.makeImageTagStore = [](const std::filesystem::path&) { return std::make_shared<FailingTagStore>(); };
    h.start();
    ASSERT_TRUE(waitFor([&] { return h.bootstrapEnded; }));
    EXPECT_EQ(h.model->statusMessage(), "image tags unavailable");
    EXPECT_EQ(h.watcher, nullptr);
    EXPECT_FALSE(h.logged("menuBar:1"));
}

TEST(AppModelBootstrap, FailedAutostartWriteIsShownAndTheStartUpGoesOn)
{
    ModelHarness h;
    TempDir config;
    writeFile(config.path() / "autostart");  // a file where the folder must go
    ScopedEnv xdg("XDG_CONFIG_HOME", config.str());
    h.presetSettings([](AppSettings& s) { s.launchAtLogin = true; });
    h.start();
    ASSERT_TRUE(h.settle());

    const int watch = h.indexOfPrefix("watch:");
    const int failure = h.indexOf("status:" + LaunchAgentManager(AppEditionInfo::applicationIdentifier())
                                                   .sync(true, "/usr/bin/pallix")
                                                   .value_or(LaunchAgentError{})
                                                   .message);
    ASSERT_GE(watch, 0);
    ASSERT_GT(failure, watch);
    EXPECT_GT(h.indexOf("hotKey:⌃⌥Space"), failure);
    EXPECT_GT(h.indexOf("status:启动后正在完整扫描本机与外接硬盘..."), failure);
}

TEST(AppModelBootstrap, AutostartEntryFollowsTheSetting)
{
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.str());
    const auto entry = config.path() / "autostart" / (AppEditionInfo::applicationIdentifier() + ".desktop");
    {
        ModelHarness h;
        h.presetSettings([](AppSettings& s) { s.launchAtLogin = true; });
        h.start();
        ASSERT_TRUE(h.settle());
        ASSERT_TRUE(std::filesystem::exists(entry));
    }
    ModelHarness off;
    off.start();
    ASSERT_TRUE(off.settle());
    EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST(AppModelBootstrap, StartUpRefreshPublishesNothingStale)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data/alpha.txt"), fileItem("/data/beta.txt")});
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});

    // The watcher starts right before the refresh sends its search to the
    // pool; one blocked thread then holds that search back until the user's
    // newer search is queued behind it.
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    bool blocked = false;
    h.onWatcherStart = [&] {
        if (blocked)
            return;
        blocked = true;
        h.model->context().pool().setMaxThreadCount(1);
        h.model->context().pool().start([&] {
            std::unique_lock lock(mutex);
            released.wait(lock, [&] { return open; });
        });
    };
    h.start();
    h.model->searchSession().setSearchText("alpha");
    ASSERT_TRUE(waitFor([&] { return blocked; }));
    std::vector<std::string> published;
    QObject::connect(&h.model->searchSession(), &SearchSession::resultsChanged, h.model.get(), [&] {
        for (const IndexedItem& item : h.model->searchSession().results())
            published.emplace_back(item.name());
    });
    h.model->searchSession().setSearchText("beta");
    h.model->searchSession().scheduleSearch(true, false);
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    released.notify_all();
    ASSERT_TRUE(h.settle());
    h.model->context().pool().waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(published, std::vector<std::string>{"beta.txt"});
}

TEST(AppModelBootstrap, StartUpRefreshWithoutIntentEmptiesTheResults)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data/alpha.txt")});
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
    h.start();
    h.model->searchSession().setSearchText("  \n ");
    h.model->searchSession().applySearchResults({fileItem("/data/alpha.txt")}, h.model->searchSession().currentQuerySnapshot());
    ASSERT_EQ(h.model->searchSession().results().size(), 1);
    ASSERT_TRUE(h.settle());
    EXPECT_TRUE(h.model->searchSession().results().isEmpty());
    EXPECT_TRUE(h.model->searchSession().selectedItemID().isEmpty());
}

TEST(AppModelBootstrap, OtherEditionHasNoSharedDriveTagStore)
{
    ScopedEnv id("PALLIX_APP_ID", "io.pallix.qel");
    ModelHarness h;
    int tagStores = 0;
    h.env.services.makeImageTagStore = [&](const std::filesystem::path& file) -> std::shared_ptr<ImageTagStore> {
        ++tagStores;
        EXPECT_EQ(file.filename(), "image_semantic.sqlite");
        return nullptr;
    };
    h.start();
    EXPECT_EQ(h.model->context().stores().serverImageTags, nullptr);
    EXPECT_EQ(tagStores, 1);
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(h.logged("tagging:server"));
}

// Activation.

struct ActivationTest : testing::Test {
    ModelHarness h;
    void SetUp() override
    {
        seedIndex(h.databasePath(), {fileItem("/data/alpha.txt")});
        h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
        h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
        h.start();
        ASSERT_TRUE(h.settle());
    }
    bool searchIsShown()
    {
        return pumpUntil(*h.clock, [&] {
            return h.model->searchSession().lastDisplayedQuery() && *h.model->searchSession().lastDisplayedQuery() == h.model->searchSession().currentQuerySnapshot();
        });
    }
};

TEST_F(ActivationTest, BecomingActiveSearchesOnlyWithSomethingNewToShow)
{
    h.model->foregroundActivity().applicationDidResignActive();
    EXPECT_FALSE(h.model->foregroundActivity().isForegroundActive());

    h.model->searchSession().setSearchText("alpha");
    const auto first = h.model->searchSession().searchGeneration();
    h.model->foregroundActivity().applicationDidBecomeActive();  // nothing shown for this query yet
    EXPECT_TRUE(h.model->foregroundActivity().isForegroundActive());
    EXPECT_EQ(h.model->searchSession().searchGeneration(), first + 1);
    ASSERT_TRUE(searchIsShown());

    h.model->searchSession().setSearchText("alph");
    h.clock->advance(1s);
    h.model->foregroundActivity().applicationDidBecomeActive();  // within 1.2 s of the last one
    EXPECT_EQ(h.model->searchSession().searchGeneration(), first + 1);

    h.model->searchSession().setSearchText("alpha");
    h.clock->advance(1s);
    h.model->foregroundActivity().applicationDidBecomeActive();  // same query shown, nothing pending
    EXPECT_EQ(h.model->searchSession().searchGeneration(), first + 1);

    h.watcher->deliver({"/data/new.txt"});
    ASSERT_TRUE(waitFor([&] { return h.model->watcherBatches().hasPendingPaths(); }));
    h.model->foregroundActivity().applicationDidBecomeActive();
    EXPECT_EQ(h.model->searchSession().searchGeneration(), first + 2);
}

TEST_F(ActivationTest, NoSearchIntentNoSearch)
{
    h.model->searchSession().setSearchText("   ");
    const auto before = h.model->searchSession().searchGeneration();
    h.clock->advance(5s);
    h.model->foregroundActivity().applicationDidBecomeActive();
    EXPECT_EQ(h.model->searchSession().searchGeneration(), before);
}

// Search intent and the query snapshot.

TEST(AppModelSearch, SearchIntentTable)
{
    ModelHarness h;
    h.start();
    const struct {
        const char* text;
        bool intent;
    } cases[] = {{"", false}, {" \n\t", false}, {"a", true}, {"ext:png", true}, {"*.txt", true}, {"re:^a", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        h.model->searchSession().setSearchText(QString::fromUtf8(c.text));
        EXPECT_EQ(TypingRoad::hasSearchIntent(h.model->searchSession().currentQuerySnapshot()), c.intent);
    }
    SearchQuery filtered = h.model->searchSession().currentQuerySnapshot();
    filtered.rawText.clear();
    filtered.contentFilters = {SearchContentFilter::Images};
    EXPECT_TRUE(TypingRoad::hasSearchIntent(filtered));
    filtered.contentFilters = {SearchContentFilter::All};
    filtered.wildcardPattern.reset();
    filtered.extensionFilter.reset();
    filtered.useRegularExpression = false;
    filtered.tokens.clear();
    filtered.pathFilter = "/data";
    EXPECT_TRUE(TypingRoad::hasSearchIntent(filtered));
}

TEST(AppModelSearch, NoIntentClearsAllFourListsWithoutAJob)
{
    ModelHarness h;
    h.start();
    ASSERT_TRUE(h.settle());
    h.model->searchSession().setImageFuzzyResults({fileItem("/a.png")});
    h.model->searchSession().setSkuRelatedResults({fileItem("/b.png")});
    h.model->searchSession().setServerResults({fileItem("/c.png")});
    h.model->searchSession().applySearchResults({fileItem("/d.txt")}, h.model->searchSession().currentQuerySnapshot());
    const auto before = h.model->searchSession().searchGeneration();
    h.model->searchSession().scheduleSearch(true, false);
    EXPECT_EQ(h.model->searchSession().searchGeneration(), before + 1);
    EXPECT_TRUE(h.model->searchSession().results().isEmpty());
    EXPECT_TRUE(h.model->searchSession().imageFuzzyResults().isEmpty());
    EXPECT_TRUE(h.model->searchSession().skuRelatedResults().isEmpty());
    EXPECT_TRUE(h.model->searchSession().serverResults().isEmpty());
}

TEST(AppModelSearch, OnlyTheNewestRequestPublishes)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data/alpha.txt"), fileItem("/data/beta.txt")});
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
    h.start();
    ASSERT_TRUE(h.settle());
    int publications = 0;
    QObject::connect(&h.model->searchSession(), &SearchSession::resultsChanged, h.model.get(), [&] { ++publications; });
    h.model->searchSession().setSearchText("alpha");
    h.model->searchSession().scheduleSearch(true, false);
    h.model->searchSession().setSearchText("beta");
    h.model->searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(waitFor([&] { return publications >= 1; }));
    h.model->context().pool().waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(publications, 1);
    ASSERT_EQ(h.model->searchSession().results().size(), 1);
    EXPECT_EQ(h.model->searchSession().results().front().name(), "beta.txt");
}

} // namespace
} // namespace pallix
