// What the model tells and does when its files are damaged or unreadable at
// the start, and when a search's expression runs away.

#include "ModelTestSupport.h"
#include "TestSupport/RawQuery.h"

namespace pallix {
namespace {

using namespace testing_support;
using namespace std::chrono_literals;
using test::rawQuery;

TEST(AppModelFaults, AnUnreadableSettingsFileIsNamedAndLeftAlone)
{
    ModelHarness h;
    writeFile(h.rootFolder() / "a.txt");
    const fs::path settingsFile = h.support.path() / "defaults.json";
    fs::create_directories(settingsFile);  // as root nothing is denied: a folder cannot be read either
    h.env.defaults = Defaults::atFile(settingsFile);
    h.start();
    ASSERT_EQ(h.model->context().faultNotices().texts().size(), 1);
    const QString notice = h.model->context().faultNotices().texts().front();
    EXPECT_TRUE(notice.startsWith("无法读取设置文件")) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QString::fromStdString(settingsFile.string())));
    ASSERT_TRUE(h.settle());
    // The start-up's scan said its progress and its end in the status line;
    // the notice is still there, untouched, until the user dismisses it.
    EXPECT_GE(h.indexOf("status:启动后正在完整扫描本机与外接硬盘..."), 0);
    EXPECT_TRUE(h.model->statusMessage().startsWith("启动扫描完成")) << h.model->statusMessage().toStdString();
    EXPECT_EQ(h.model->context().faultNotices().texts(), QStringList{notice});
    h.model->context().faultNotices().dismissAll();
    EXPECT_TRUE(h.model->context().faultNotices().isEmpty());
    EXPECT_TRUE(fs::is_directory(settingsFile));
    EXPECT_TRUE(h.model->settings().showMenuBarIcon) << "defaults in use";
}

TEST(AppModelFaults, ADamagedIndexIsKeptAsideAndRebuiltByTheFirstScan)
{
    ModelHarness h;
    writeFile(h.rootFolder() / "a.txt");
    writeFile(h.databasePath(), std::string(8192, 'g'));
    const fs::path serverDatabase = h.env.supportDirectory / "server_index.sqlite";
    writeFile(serverDatabase, std::string(8192, 's'));
    h.start();
    ASSERT_TRUE(h.settle());
    const std::string notice = "notice:索引数据库已损坏，已另存为 index.sqlite.corrupt，正在重新建立索引";
    EXPECT_GE(h.indexOf(notice), 0);
    EXPECT_LT(h.indexOf(notice), h.indexOf("status:启动后正在完整扫描本机与外接硬盘..."));
    EXPECT_TRUE(fs::exists(h.databasePath().string() + ".corrupt"));
    EXPECT_TRUE(fs::exists(serverDatabase.string() + ".corrupt"));
    EXPECT_GE(h.indexOfPrefix("notice:共享盘索引数据库已损坏"), 0);
    EXPECT_EQ(h.model->localIndex().indexedCount(), 2);  // the volume's folder and its file
    // The scan's progress and end went to the status line, past the notices.
    EXPECT_TRUE(h.model->statusMessage().startsWith("启动扫描完成")) << h.model->statusMessage().toStdString();
    EXPECT_TRUE(h.model->context().faultNotices().texts().contains(
        QStringLiteral("索引数据库已损坏，已另存为 index.sqlite.corrupt，正在重新建立索引")));
}

TEST(AppModelFaults, IndexesThePreviousReleaseWroteAreKeptWithTheirRows)
{
    ModelHarness h;
    const fs::path serverDatabase = h.env.supportDirectory / "server_index.sqlite";
    seedIndex(h.databasePath(), {fileItem("/data/a.txt"), fileItem("/data/b.txt"), fileItem("/data/c.txt")});
    seedIndex(serverDatabase, {fileItem("/mnt/share/x.jpg"), fileItem("/mnt/share/y.docx")});
    // Written by a real store (its triggers and marks included), then without
    // the stamp: the file the release before the stamp left behind.
    for (const fs::path& file : {h.databasePath(), serverDatabase}) {
        ASSERT_EQ(rawQuery(file, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger';"), "2");
        rawQuery(file, "PRAGMA application_id = 0;");
    }
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
    h.start();
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.model->localIndex().indexedCount(), 3);
    EXPECT_EQ(h.model->sharedDrives().serverIndexedCount(), 2);
    EXPECT_EQ(h.indexOfPrefix("notice:"), -1) << "nothing set aside, nothing to tell";
    EXPECT_EQ(h.indexOf("status:启动后正在完整扫描本机与外接硬盘..."), -1) << "no walk from nothing";
    for (const fs::path& file : {h.databasePath(), serverDatabase}) {
        EXPECT_FALSE(fs::exists(file.string() + ".corrupt")) << file;
        EXPECT_NE(rawQuery(file, "PRAGMA application_id;"), "0") << "stamped as ours from now on";
    }
}

TEST(AppModelFaults, EveryFileSetAsideIsKeptUnderANameOfItsOwnAndNamed)
{
    ModelHarness h;
    fs::create_directories(h.env.supportDirectory);
    for (const char* body : {"first", "second"}) {
        SCOPED_TRACE(body);
        const std::string fill = std::string("CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('") + body + "');";
        for (const char* suffix : {"", "-wal", "-shm"})
            fs::remove(h.databasePath().string() + suffix);
        rawQuery(h.databasePath(), fill);
        h.log.clear();
        h.bootstrapEnded = false;
        h.start();
        ASSERT_TRUE(h.settle());
        h.stop();
    }
    EXPECT_GE(h.indexOf("notice:索引数据库已损坏，已另存为 index.sqlite.corrupt-2，正在重新建立索引"), 0);
    EXPECT_EQ(rawQuery(h.databasePath().string() + ".corrupt", "SELECT body FROM notes;"), "first");
    EXPECT_EQ(rawQuery(h.databasePath().string() + ".corrupt-2", "SELECT body FROM notes;"), "second");
}

TEST(AppModelFaults, ARunawayExpressionIsReportedInTheStatusLine)
{
    ModelHarness h;
    std::vector<IndexedItem> items;
    for (int i = 0; i < 20; ++i)
        items.push_back(fileItem("/data/abcdefghijklmnopqrstuvw" + std::to_string(i + 10) + ".txt"));
    seedIndex(h.databasePath(), items);
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
    h.start();
    ASSERT_TRUE(h.settle());
    h.model->searchSession().setSearchText("re:^(\\w+\\s?)+$");
    h.model->searchSession().scheduleSearch(true, false);
    EXPECT_TRUE(pumpUntil(*h.clock, [&] { return h.model->statusMessage() == "正则表达式过于复杂，部分结果可能缺失"; }));
}

} // namespace
} // namespace pallix
