// What the model tells and does when its files are damaged, unreadable or
// held by another process, and when a search's expression runs away.

#include <algorithm>
#include <future>
#include <thread>

#include <sqlite3.h>

#include "App/IndexRunMarkers.h"
#include "ModelTestSupport.h"
#include "TestSupport/DamagingSqliteVfs.h"

namespace pallix {
namespace {

using namespace testing_support;
using namespace std::chrono_literals;

TEST(AppModelFaults, AnUnreadableSettingsFileIsNamedAndLeftAlone)
{
    ModelHarness h;
    writeFile(h.rootFolder() / "a.txt");
    const fs::path settingsFile = h.support.path() / "defaults.json";
    fs::create_directories(settingsFile);  // as root nothing is denied: a folder cannot be read either
    h.env.defaults = Defaults::atFile(settingsFile);
    h.start();
    ASSERT_EQ(h.model->faultNotices().texts().size(), 1);
    const QString notice = h.model->faultNotices().texts().front();
    EXPECT_TRUE(notice.startsWith("无法读取设置文件")) << notice.toStdString();
    EXPECT_TRUE(notice.contains(QString::fromStdString(settingsFile.string())));
    ASSERT_TRUE(h.settle());
    // The start-up's scan said its progress and its end in the status line;
    // the notice is still there, untouched, until the user dismisses it.
    EXPECT_GE(h.indexOf("status:启动后正在完整扫描本机与外接硬盘..."), 0);
    EXPECT_TRUE(h.model->statusMessage().startsWith("启动扫描完成")) << h.model->statusMessage().toStdString();
    EXPECT_EQ(h.model->faultNotices().texts(), QStringList{notice});
    h.model->faultNotices().dismissAll();
    EXPECT_TRUE(h.model->faultNotices().isEmpty());
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
    EXPECT_EQ(h.model->indexedCount(), 2);  // the volume's folder and its file
    // The scan's progress and end went to the status line, past the notices.
    EXPECT_TRUE(h.model->statusMessage().startsWith("启动扫描完成")) << h.model->statusMessage().toStdString();
    EXPECT_TRUE(h.model->faultNotices().texts().contains(
        QStringLiteral("索引数据库已损坏，已另存为 index.sqlite.corrupt，正在重新建立索引")));
}

// Another process holds the database's write lock from another thread until
// the test signals it.
class LockHolder {
public:
    explicit LockHolder(const fs::path& db)
    {
        std::promise<void> locked;
        auto isLocked = locked.get_future();
        m_thread = std::thread([this, db, locked = std::move(locked), released = m_release.get_future()]() mutable {
            sqlite3* other = nullptr;
            sqlite3_open(db.c_str(), &other);
            sqlite3_exec(other, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr);
            locked.set_value();
            released.wait();
            sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
            sqlite3_close(other);
        });
        isLocked.wait();
    }
    void release()
    {
        if (!m_released)
            m_release.set_value();
        m_released = true;
    }
    ~LockHolder()
    {
        release();
        m_thread.join();
    }

private:
    std::promise<void> m_release;
    bool m_released = false;
    std::thread m_thread;
};

TEST(AppModelFaults, ABatchRefusedByALockedIndexIsWrittenOnceTheLockIsGone)
{
    ModelHarness h;
    for (int i = 0; i < 6; ++i)
        writeFile(h.rootFolder() / ("f" + std::to_string(i) + ".txt"));
    seedIndex(h.databasePath(), {});
    h.env.startupScanBatchSize = 2;
    LockHolder lock(h.databasePath());
    h.start();
    // The first batch waits out the busy timeout, is refused and kept.
    ASSERT_TRUE(waitFor([&] { return h.logged("status:索引数据库正被其他程序占用，稍后重试写入"); }));
    lock.release();
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.model->indexedCount(), 7);
    EXPECT_EQ(h.model->statusMessage(), "启动扫描完成，共 7 项");
    EXPECT_FALSE(IndexRunMarkers(h.defaults).unfinishedRoots());
}

TEST(AppModelFaults, AScanThatCouldNotWriteEverythingIsNotRecordedAsDone)
{
    ModelHarness h;
    writeFile(h.rootFolder() / "a.txt");
    seedIndex(h.databasePath(), {});
    h.env.startupScanFinalWriteAttempts = 0;
    {
        LockHolder lock(h.databasePath());
        h.start();
        ASSERT_TRUE(h.settle());
    }
    EXPECT_EQ(h.model->statusMessage(), "索引数据库正忙，部分扫描结果未能写入，下次启动将重新扫描");
    // Left unfinished, so the next start walks the roots again.
    EXPECT_TRUE(IndexRunMarkers(h.defaults).unfinishedRoots());
    EXPECT_FALSE(h.defaults->contains(AppModel::lastIndexedRootsKey()));
    EXPECT_EQ(h.indexOfPrefix("status:启动扫描完成"), -1);
    // The watcher still leaves the excluded folders out.
    ASSERT_NE(h.watcher, nullptr);
    EXPECT_EQ(h.watcher->startsWithRules(), int(std::count_if(h.log.begin(), h.log.end(), [](const std::string& e) {
                  return e.starts_with("watch:");
              })));
}

// Another program holds the index through the start-up, past the busy
// timeout: the start-up waits for it instead of giving up for the session.
TEST(AppModelFaults, AStartUpMetByALockedIndexWaitsAndGoesOnOnceItIsFree)
{
    ModelHarness h;
    writeFile(h.rootFolder() / "docs" / "plan.txt");
    fs::create_directories(h.databasePath().parent_path());
    LockHolder lock(h.databasePath());
    h.start();
    ASSERT_TRUE(waitFor([&] { return h.logged("status:索引数据库正被其他程序占用，稍后重试打开"); }));
    EXPECT_FALSE(h.bootstrapEnded);
    EXPECT_EQ(h.watcher, nullptr) << "nothing goes on before the index is open";
    lock.release();
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.bootstrapEnded && !h.model->isIndexing(); }, 100ms, 30000));
    EXPECT_EQ(h.model->statusMessage(), "启动扫描完成，共 3 项");
    EXPECT_FALSE(fs::exists(h.databasePath().string() + ".corrupt")) << "a lock is no damage";
    EXPECT_NE(h.watcher, nullptr);
    h.model->searchSession().setSearchText("plan");
    h.model->searchSession().scheduleSearch(true, false);
    EXPECT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 1; }));
}

// The disk damages the index while the application runs: the change that
// meets the damage has the index moved aside, said once, and every root walked
// again at once, not at the next start.
TEST(AppModelFaults, DamageMetAfterStartUpIsToldOnceAndTheRootsAreWalkedAgain)
{
    testsupport::DamagingSqliteVfs disk;
    ModelHarness h;
    writeFile(h.rootFolder() / "docs" / "plan.txt");
    writeFile(h.rootFolder() / "photos" / "beach.jpg");
    h.start();
    ASSERT_TRUE(h.settle());
    ASSERT_EQ(h.model->indexedCount(), 5);

    ASSERT_NE(h.watcher, nullptr);
    disk.damage(h.databasePath());
    writeFile(h.rootFolder() / "docs" / "new.txt");
    h.watcher->deliver({(h.rootFolder() / "docs" / "new.txt").string()});
    const std::string notice = "notice:索引数据库已损坏，已另存为 index.sqlite.corrupt，正在重新建立索引";
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.logged(notice); }));
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return !h.model->isIndexing() && h.model->indexedCount() == 6; }));
    EXPECT_EQ(std::count(h.log.begin(), h.log.end(), notice), 1);
    EXPECT_EQ(h.model->statusMessage(), "索引完成，共 6 项");
    EXPECT_EQ(h.model->faultNotices().texts().size(), 1) << "still shown after the walk's progress";
    EXPECT_TRUE(fs::exists(h.databasePath().string() + ".corrupt"));
    h.model->searchSession().setSearchText("beach");
    h.model->searchSession().scheduleSearch(true, false);
    EXPECT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 1; }));
}

// Damage deep in a large index that the start-up check does not reach: the
// snapshot load meets it, and the index is moved aside and walked again,
// said once, instead of the part before the damage being shown as the index.
TEST(AppModelFaults, AnIndexWhoseLoadMeetsDamageIsRebuiltNotHalfLoaded)
{
    testsupport::DamagingSqliteVfs disk;
    ModelHarness h;
    writeFile(h.rootFolder() / "docs" / "plan.txt");
    std::vector<IndexedItem> items;
    for (int i = 0; i < 30000; ++i)
        items.push_back(fileItem((h.rootFolder() / "gone" / ("old-file-" + std::to_string(i) + ".txt")).string()));
    seedIndex(h.databasePath(), items);
    h.defaults->setStringList(AppModel::lastIndexedRootsKey(), {h.rootFolder().string()});
    disk.damagePagesForReaders(h.databasePath(), disk.middleRowPage(h.databasePath(), "file_index"), 2);

    h.start();
    const std::string notice = "notice:索引数据库已损坏，已另存为 index.sqlite.corrupt，正在重新建立索引";
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.logged(notice); }));
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.bootstrapEnded && !h.model->isIndexing(); }));
    EXPECT_EQ(std::count(h.log.begin(), h.log.end(), notice), 1);
    EXPECT_TRUE(fs::exists(h.databasePath().string() + ".corrupt"));
    EXPECT_EQ(h.model->indexedCount(), 3);  // the volume's folder, docs and plan.txt
    h.model->searchSession().setSearchText("plan");
    h.model->searchSession().scheduleSearch(true, false);
    EXPECT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 1; }));
    EXPECT_EQ(h.model->searchSession().results().front().path(), (h.rootFolder() / "docs" / "plan.txt").string());
}

TEST(AppModelFaults, ARunawayExpressionIsReportedInTheStatusLine)
{
    ModelHarness h;
    std::vector<IndexedItem> items;
    for (int i = 0; i < 20; ++i)
        items.push_back(fileItem("/data/abcdefghijklmnopqrstuvw" + std::to_string(i + 10) + ".txt"));
    seedIndex(h.databasePath(), items);
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(AppModel::lastIndexedRootsKey(), {"/data"});
    h.start();
    ASSERT_TRUE(h.settle());
    h.model->searchSession().setSearchText("re:^(\\w+\\s?)+$");
    h.model->searchSession().scheduleSearch(true, false);
    EXPECT_TRUE(pumpUntil(*h.clock, [&] { return h.model->statusMessage() == "正则表达式过于复杂，部分结果可能缺失"; }));
}

} // namespace
} // namespace pallix
