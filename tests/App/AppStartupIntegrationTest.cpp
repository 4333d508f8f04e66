// A real AppModel, real stores, scanner, watcher, defaults file and clock,
// against a temporary home whose only root is a generated tree.

#include "App/AppModel.h"

#include <gtest/gtest.h>

#include "App/Paths/AppPaths.h"
#include "App/Indexing/LocalIndex.h"
#include "ModelTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;

// A temporary home with its own data, settings and cache folders.
struct ScratchHome {
    TempDir home;
    ScopedEnv homeVar{"HOME", home.str()};
    ScopedEnv data{"XDG_DATA_HOME", (home.path() / "data").string()};
    ScopedEnv config{"XDG_CONFIG_HOME", (home.path() / "config").string()};
    ScopedEnv cache{"XDG_CACHE_HOME", (home.path() / "cache").string()};
};

TEST(AppStartupIntegration, EmptyIndexIsFilledByTheBatchedStartUpScanAndSearchable)
{
    ScratchHome scratch;
    const TempDir& home = scratch.home;

    // 60 folders of 100 files: with the root, 6061 items, two batches of the start-up scan.
    const auto tree = home.path() / "tree";
    for (int d = 0; d < 60; ++d) {
        for (int f = 0; f < 100; ++f)
            writeFile(tree / ("folder_" + std::to_string(d)) / ("file_" + std::to_string(d) + "_" + std::to_string(f) + ".txt"));
    }

    AppModelEnvironment env;
    env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume(tree.string())});
    AppModel model(env);
    std::vector<std::string> statuses;
    QObject::connect(&model, &AppModel::statusMessageChanged, &model,
                     [&] { statuses.push_back(model.statusMessage().toStdString()); });

    ASSERT_TRUE(waitFor([&] { return model.statusMessage() == "启动扫描完成，共 6061 项"; }, 120000))
        << model.statusMessage().toStdString();
    EXPECT_EQ(model.localIndex().activeIndexedRoots(), std::vector<std::string>{tree.string()});
    const std::vector<std::string> expected = {"等待首次索引", "启动后正在完整扫描本机与外接硬盘...",
                                               "启动扫描中，已可搜索 5500 项", "启动扫描中，已可搜索 6061 项",
                                               "启动扫描完成，共 6061 项"};
    EXPECT_EQ(statuses, expected);
    EXPECT_EQ(model.localIndex().indexedCount(), 6061);
    EXPECT_FALSE(model.localIndex().isIndexing());
    EXPECT_TRUE(std::filesystem::exists(AppPaths::applicationSupportAppDirectory() / "index.sqlite"));
    EXPECT_TRUE(std::filesystem::exists(Defaults::standardFile()));

    model.searchSession().setSearchText("file_42_7.txt");
    model.searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(waitFor([&] { return !model.searchSession().results().isEmpty(); }, 30000));
    const std::string wanted = (tree / "folder_42" / "file_42_7.txt").string();
    EXPECT_TRUE(std::any_of(model.searchSession().results().begin(), model.searchSession().results().end(),
                            [&](const IndexedItem& item) { return item.path() == wanted; }));
    EXPECT_EQ(model.searchSession().selectedItemID(), QString::fromUtf8(model.searchSession().results().front().path()));
}

TEST(AppStartupIntegration, ImageTaggingStartsWhenTheFirstScanCompletes)
{
    ScratchHome scratch;
    const TempDir& home = scratch.home;
    const auto tree = home.path() / "tree";
    writeFile(tree / "照片" / "马.jpg");

    AppModelEnvironment env;
    env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume(tree.string())});
    std::vector<std::string> sessions;
    std::int64_t indexedWhenStarted = -1;
    env.services.startImageTagging = [&](std::shared_ptr<IndexStore> index, std::shared_ptr<ImageTagStore>,
                                         const std::string& session) {
        sessions.push_back(session);
        indexedWhenStarted = index->indexedCount();
    };
    AppModel model(env);
    ASSERT_TRUE(waitFor([&] { return model.statusMessage() == "启动扫描完成，共 3 项"; }, 60000))
        << model.statusMessage().toStdString();
    ASSERT_TRUE(waitFor([&] { return !sessions.empty(); }));
    EXPECT_EQ(sessions, std::vector<std::string>{"local"});
    EXPECT_EQ(indexedWhenStarted, 3);
}

} // namespace
} // namespace pallix
