#include "App/ModelTestSupport.h"

namespace pallix {

using namespace testing_support;

TEST(AppModelSettings, ScopeChangesPersistAndClearTheListsLeftOut)
{
    ModelHarness h;
    writeFile(h.rootFolder() / "报告.txt");
    h.start();
    ASSERT_TRUE(h.settle());
    h.model->setServerResults(fileItems({"/srv/share/报告.txt"}));

    h.model->applySearchScopeChanges(true, false);
    EXPECT_TRUE(h.model->serverResults().isEmpty());
    EXPECT_FALSE(SettingsStore(h.defaults).settings().includeServerInSearch);

    h.model->setSearchText(QStringLiteral("报告"));
    h.model->scheduleSearch(true, false);
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.model->results().size() == 1; }));
    const auto before = h.model->searchGeneration();
    h.log.clear();
    h.model->applySearchScopeChanges(false, true);
    EXPECT_TRUE(h.model->results().isEmpty());
    EXPECT_TRUE(h.logged("server:fullScan"));
    EXPECT_EQ(h.model->searchGeneration(), before + 1);  // and searches again at once
    const AppSettings stored = SettingsStore(h.defaults).settings();
    EXPECT_FALSE(stored.includeLocalInSearch);
    EXPECT_TRUE(stored.includeServerInSearch);
}

TEST(AppModelSettings, TurningExternalIndexingOnPersistsAndRebuilds)
{
    ModelHarness h;
    h.presetSettings([](AppSettings& s) { s.autoIndexExternalVolumes = false; });
    h.start();
    ASSERT_TRUE(h.settle());
    writeFile(h.rootFolder() / "新文件.txt");
    h.model->updateAutoIndexExternalVolumes(true);
    EXPECT_TRUE(h.model->settings().autoIndexExternalVolumes);
    EXPECT_TRUE(SettingsStore(h.defaults).settings().autoIndexExternalVolumes);
    EXPECT_TRUE(h.model->isIndexing());
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return !h.model->isIndexing(); }));
    EXPECT_EQ(h.model->indexedCount(), 2);  // the root folder and the new file
}

} // namespace pallix
