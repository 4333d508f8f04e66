#include "App/Settings/SettingsOperations.h"

#include <chrono>

#include <gtest/gtest.h>

#include "App/AppModel.h"
#include "App/FakeContext.h"
#include "App/Indexing/LocalIndex.h"
#include "App/ModelTestSupport.h"
#include "Core/Models/AppEdition.h"
#include "Support/LaunchAgentManager.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

// The operations on a context of their own, with no model: each effect is a
// callback that logs its name and how many writes of the record preceded it.
struct OpsOnContext : FakeContext {
    std::vector<std::string> effects;
    QStringList history{"报告", "合同"};
    LaunchAgentManager launchAgent{AppEditionInfo::applicationIdentifier()};
    std::unique_ptr<SettingsOperations> ops;

    OpsOnContext()
    {
        const auto note = [this](const std::string& name) {
            return [this, name] { effects.push_back(name + "@" + std::to_string(settingsWrites)); };
        };
        SettingsOperations::Effects e;
        e.applyKeepWarmRule = note("keepWarm");
        e.searchAgain = note("search");
        e.forgetShownListIsComplete = note("forgetComplete");
        e.rebuildIndex = note("rebuild");
        e.startImageTagging = note("tagging");
        e.clearImageResults = note("clearImages");
        e.clearLocalResults = note("clearLocal");
        e.clearServerResults = note("clearServer");
        e.startServerFullScanIfNeeded = note("serverScan");
        e.searchHistory = [this] { return history; };
        e.replaceSearchHistory = [this, note](const QStringList& replaced) {
            history = replaced;
            note("history")();
        };
        ops = std::make_unique<SettingsOperations>(*context, launchAgent, std::move(e));
    }
};

TEST(SettingsOperations, EachEffectRunsOnceItsSettingIsWrittenBack)
{
    OpsOnContext o;
    o.ops->updateKeepAppWarmInBackground(true);
    o.ops->updateExcludeSystemJunkFromIndex(false);
    o.ops->updateSearchLimit(300);
    o.ops->updateAutoIndexExternalVolumes(false);
    o.ops->updateEnableImageFuzzySearch(true);
    o.ops->updateEnableImageFuzzySearch(false);
    o.ops->updateKeepIndexerInBackground(false);
    o.ops->applySearchScopeChanges(false, true);
    o.ops->applyServerSearchScope(false);  // the local side comes back on
    EXPECT_EQ(o.effects, (std::vector<std::string>{"keepWarm@1", "search@2", "forgetComplete@3", "search@3",
                                                   "rebuild@4", "tagging@5", "clearImages@6", "clearLocal@8",
                                                   "serverScan@8", "search@8", "clearServer@9", "search@9"}));
    EXPECT_EQ(o.settingsWrites, 9);
    EXPECT_TRUE(o.settings.keepAppWarmInBackground);
    EXPECT_FALSE(o.settings.excludeSystemJunkFromIndex);
    EXPECT_EQ(o.settings.searchLimit, 300);
    EXPECT_FALSE(o.settings.autoIndexExternalVolumes);
    EXPECT_FALSE(o.settings.keepIndexerInBackground);
    EXPECT_TRUE(o.settings.includeLocalInSearch);
    EXPECT_FALSE(o.settings.includeServerInSearch);
    EXPECT_EQ(o.statusLines.size(), 1u);  // the junk filter's word

    // The recent searches change through the model's list, and only when an entry matches.
    o.effects.clear();
    o.ops->removeSearchHistoryEntry("合 同");
    EXPECT_TRUE(o.effects.empty());
    o.ops->removeSearchHistoryEntry("合同");
    EXPECT_EQ(o.history, QStringList{"报告"});
    o.ops->clearSearchHistory();
    EXPECT_TRUE(o.history.isEmpty());
    EXPECT_EQ(o.effects, (std::vector<std::string>{"history@9", "history@9"}));
}

// A model whose start-up ended before any scan: the operations' write-back
// and their effects on the service hooks, nothing else.
struct SettingsOpsTest : testing::Test {
    ModelHarness h;
    void SetUp() override
    {
        h.preventStartUp();
        h.env.services.beginKeepWarmActivity = [this] {
            h.log.push_back("keepWarm:begin");
            return std::shared_ptr<void>(new int(1), [log = &h.log](void* p) {
                log->push_back("keepWarm:end");
                delete static_cast<int*>(p);
            });
        };
        h.start();
        ASSERT_TRUE(waitFor([this] { return h.bootstrapEnded; }));
        h.log.clear();
    }
    AppModel& model() { return *h.model; }
    SettingsOperations& ops() { return h.model->settingsOperations(); }
    // The record as the next start of the application would load it.
    AppSettings reloaded() const { return SettingsStore(h.defaults).settings(); }
};

TEST_F(SettingsOpsTest, EveryOperationStoresBeforeItsEffectAndTheStoreSurvivesARestart)
{
    // The hooks read the stored document at the moment they are called.
    bool storedWhenShown = true;
    std::optional<GlobalHotKey> storedWhenRegistered;
    h.stop();
    h.env.services.menuBarVisibilityChanged = [&](bool visible) {
        storedWhenShown = SettingsStore(h.defaults).settings().showMenuBarIcon == visible;
        h.log.push_back(std::string("menuBar:") + (visible ? "1" : "0"));
    };
    h.env.services.registerHotKey = [&](const std::optional<GlobalHotKey>& key) {
        storedWhenRegistered = SettingsStore(h.defaults).settings().globalHotKey;
        h.log.push_back("hotKey:" + (key ? key->displayString() : std::string("none")));
    };
    h.start();
    ASSERT_TRUE(waitFor([this] { return h.bootstrapEnded; }));
    h.log.clear();

    ops().updateShowMenuBarIcon(false);
    EXPECT_TRUE(storedWhenShown);
    EXPECT_TRUE(h.logged("menuBar:0"));
    ops().updateGlobalHotKey(GlobalHotKey{40, GlobalHotKey::kCommand | GlobalHotKey::kOption});
    EXPECT_EQ(storedWhenRegistered, (GlobalHotKey{40, 0x900}));
    EXPECT_TRUE(h.logged("hotKey:⌥⌘K"));
    ops().updateKeepIndexerInBackground(false);
    ops().updateEnableImageFuzzySearch(false);

    const AppSettings loaded = reloaded();
    EXPECT_FALSE(loaded.showMenuBarIcon);
    EXPECT_EQ(loaded.globalHotKey, (GlobalHotKey{40, 0x900}));
    EXPECT_FALSE(loaded.keepIndexerInBackground);
    EXPECT_FALSE(loaded.enableImageFuzzySearch);
    EXPECT_EQ(model().settings(), loaded);
}

TEST_F(SettingsOpsTest, ClearedHotKeyUnregistersAndStaysClearedAfterARestart)
{
    int published = 0;
    QObject::connect(h.model.get(), &AppModel::settingsChanged, h.model.get(), [&] { ++published; });
    ops().updateGlobalHotKey(std::nullopt);
    EXPECT_EQ(h.log, std::vector<std::string>{"hotKey:none"});
    EXPECT_EQ(published, 1);
    EXPECT_FALSE(model().settings().globalHotKey);
    EXPECT_FALSE(reloaded().globalHotKey);
}

TEST_F(SettingsOpsTest, LaunchAtLoginWritesAndRemovesTheAutostartEntry)
{
    TempDir config;
    ScopedEnv env("XDG_CONFIG_HOME", config.str());
    const auto entry = config.path() / "autostart" / (AppEditionInfo::applicationIdentifier() + ".desktop");

    ops().updateLaunchAtLogin(true);
    ASSERT_TRUE(fs::exists(entry));
    std::ifstream in(entry);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("/usr/bin/pallix"), std::string::npos);
    EXPECT_TRUE(reloaded().launchAtLogin);

    ops().updateLaunchAtLogin(false);
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(reloaded().launchAtLogin);
}

TEST_F(SettingsOpsTest, AutostartFailureShowsInTheStatusLineAndKeepsTheSetting)
{
    TempDir config;
    writeFile(config.path() / "blocked");  // a file where the config folder should be
    ScopedEnv env("XDG_CONFIG_HOME", (config.path() / "blocked").string());
    const QString before = model().statusMessage();

    ops().updateLaunchAtLogin(true);
    EXPECT_NE(model().statusMessage(), before);
    EXPECT_FALSE(model().statusMessage().isEmpty());
    EXPECT_TRUE(model().settings().launchAtLogin);
    EXPECT_TRUE(reloaded().launchAtLogin);
}

TEST_F(SettingsOpsTest, KeepWarmHoldsOneActivityAndReleasesIt)
{
    ops().updateKeepAppWarmInBackground(true);
    ops().updateKeepAppWarmInBackground(true);
    EXPECT_EQ(h.log, std::vector<std::string>{"keepWarm:begin"});
    ops().updateKeepAppWarmInBackground(false);
    EXPECT_EQ(h.log, (std::vector<std::string>{"keepWarm:begin", "keepWarm:end"}));
    ops().updateKeepAppWarmInBackground(false);
    EXPECT_EQ(h.log.size(), 2u);
    EXPECT_FALSE(reloaded().keepAppWarmInBackground);
}

TEST_F(SettingsOpsTest, ScopeChangesClearTheSideTurnedOff)
{
    model().searchSession().setSearchText("report");
    model().searchSession().applySearchResults(fileItems({"/data/report.txt"}), model().searchSession().currentQuerySnapshot());
    model().searchSession().setServerResults(fileItems({"/srv/report.txt"}));

    ops().applySearchScopeChanges(false, true);
    EXPECT_TRUE(model().searchSession().results().isEmpty());
    EXPECT_EQ(model().searchSession().serverResults().size(), 1);
    EXPECT_TRUE(h.logged("server:fullScan"));
    EXPECT_FALSE(reloaded().includeLocalInSearch);
    EXPECT_TRUE(reloaded().includeServerInSearch);

    h.log.clear();
    ops().applySearchScopeChanges(true, false);
    EXPECT_TRUE(model().searchSession().serverResults().isEmpty());
    EXPECT_FALSE(h.logged("server:fullScan"));
    EXPECT_TRUE(reloaded().includeLocalInSearch);
    EXPECT_FALSE(reloaded().includeServerInSearch);
}

// Recent searches.

TEST_F(SettingsOpsTest, DeletingARecentSearchRemovesTheFirstCanonicallyEqualEntryAndPersists)
{
    const QString composed = QString::fromUtf8("caf\u00e9");
    const QString decomposed = QString::fromUtf8("cafe\u0301");
    model().searchSession().history().setEntries({"报告", decomposed, "Café", composed});
    ops().removeSearchHistoryEntry(composed);
    EXPECT_EQ(model().searchSession().history().entries(), (QStringList{"报告", "Café", composed}));
    EXPECT_EQ(h.defaults->stringList(SearchHistory::key()),
              (std::vector<std::string>{"报告", "Café", composed.toStdString()}));

    // No equal entry (case and width count): nothing changes, nothing is written.
    h.defaults->setStringList(SearchHistory::key(), {"sentinel"});
    ops().removeSearchHistoryEntry("CAFÉ");
    ops().removeSearchHistoryEntry(QString::fromUtf8("报 告"));
    EXPECT_EQ(model().searchSession().history().entries().size(), 3);
    EXPECT_EQ(h.defaults->stringList(SearchHistory::key()), std::vector<std::string>{"sentinel"});

    ops().clearSearchHistory();
    EXPECT_TRUE(model().searchSession().history().entries().isEmpty());
    EXPECT_EQ(h.defaults->stringList(SearchHistory::key()), std::vector<std::string>{});
}

// Operations that search or scan again, over a seeded index.
struct SeededSettingsTest : testing::Test {
    ModelHarness h;

    void SetUp() override
    {
        std::vector<IndexedItem> rows;
        for (int i = 0; i < 350; ++i)
            rows.push_back(fileItem("/data/note" + std::to_string(1000 + i) + ".txt"));
        rows.push_back(fileItem("/data/.DS_Store"));
        seedIndex(h.databasePath(), rows);
        h.env.volumes = std::make_shared<FixedVolumeProvider>(
            std::vector<MountedVolume>{localVolume("/data"), localVolume("/media/usb", true)});
        h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data", "/media/usb"});
        h.start();
        ASSERT_TRUE(h.settle());
        IndexStore& store = *h.model->context().stores().local;
        ASSERT_TRUE(pumpUntil(*h.clock, [&] {
            return store.status().cacheReady && store.status().searchIndexesComplete && h.localProbe->runningBackgroundJobs() == 0
                   && h.clock->sleepers() == 0;
        }, 50ms));
    }
    AppModel& model() { return *h.model; }
    SettingsOperations& ops() { return h.model->settingsOperations(); }
    bool showsCount(qsizetype n)
    {
        const bool shown = pumpUntil(*h.clock, [&] { return model().searchSession().results().size() == n; }, std::chrono::milliseconds(5), 3000);
        if (!shown)
            ADD_FAILURE() << "shows " << model().searchSession().results().size() << ", not " << n;
        return shown;
    }
};

TEST_F(SeededSettingsTest, SearchLimitIsClampedStoredAndSearchedWith)
{
    model().searchSession().setSearchText("note");
    model().searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(showsCount(350));

    ops().updateSearchLimit(50);
    EXPECT_EQ(model().settings().searchLimit, 200);
    EXPECT_TRUE(showsCount(200));
    ops().updateSearchLimit(250);
    EXPECT_EQ(SettingsStore(h.defaults).settings().searchLimit, 250);
    EXPECT_TRUE(showsCount(250));
    ops().updateSearchLimit(20000);
    EXPECT_EQ(SettingsStore(h.defaults).settings().searchLimit, 10000);
    // A higher limit searches the store again instead of narrowing the cut list.
    EXPECT_TRUE(showsCount(350));
    ops().updateSearchLimit(1500);
    EXPECT_EQ(model().settings().searchLimit, 1500);
}

TEST_F(SeededSettingsTest, JunkFilterSetsItsStatusAndSearchesAgainWithoutRescan)
{
    model().searchSession().setSearchText("DS_Store");
    model().searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return model().searchSession().lastDisplayedQuery().has_value(); }));
    EXPECT_TRUE(model().searchSession().results().isEmpty());

    ops().updateExcludeSystemJunkFromIndex(false);
    EXPECT_EQ(model().statusMessage(),
              QStringLiteral("已关闭该过滤：搜索立即显示更多系统/元数据类文件；与磁盘完全一致请重建索引。"));
    EXPECT_FALSE(model().localIndex().isIndexing());
    EXPECT_TRUE(showsCount(1));

    ops().updateExcludeSystemJunkFromIndex(true);
    EXPECT_TRUE(model().statusMessage().startsWith(QStringLiteral("已开启过滤系统与垃圾文件")));
    EXPECT_TRUE(showsCount(0));
    EXPECT_FALSE(model().localIndex().isIndexing());
}

TEST_F(SeededSettingsTest, ExternalVolumesSwitchRescansWithoutTheRemovableVolume)
{
    auto has = [](const std::vector<std::string>& roots, const std::string& root) {
        return std::find(roots.begin(), roots.end(), root) != roots.end();
    };
    EXPECT_TRUE(has(model().localIndex().discoverMountedRoots(), "/media/usb"));
    ops().updateAutoIndexExternalVolumes(false);
    EXPECT_TRUE(model().localIndex().isIndexing());
    EXPECT_FALSE(has(model().localIndex().discoverMountedRoots(), "/media/usb"));
    EXPECT_FALSE(SettingsStore(h.defaults).settings().autoIndexExternalVolumes);
    EXPECT_TRUE(pumpUntil(*h.clock, [&] { return !model().localIndex().isIndexing(); }));
}

} // namespace
} // namespace pallix
