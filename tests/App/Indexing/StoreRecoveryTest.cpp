// What the application does when another program holds an index file or the
// disk damages one: the start-up waits for the lock, and a store that started
// over on damage is told once and filled again.

#include "App/Indexing/StoreRecovery.h"

#include <algorithm>

#include "App/Indexing/IndexLockHolder.h"
#include "App/Indexing/LocalIndex.h"
#include "App/ModelTestSupport.h"
#include "TestSupport/DamagingSqliteVfs.h"

namespace pallix {
namespace {

using namespace testing_support;
using namespace std::chrono_literals;

// Another program holds the index through the start-up, past the busy
// timeout: the start-up waits for it instead of giving up for the session.
TEST(StoreRecovery, AStartUpMetByALockedIndexWaitsAndGoesOnOnceItIsFree)
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
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.bootstrapEnded && !h.model->localIndex().isIndexing(); }, 100ms, 30000));
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
TEST(StoreRecovery, DamageMetAfterStartUpIsToldOnceAndTheRootsAreWalkedAgain)
{
    testsupport::DamagingSqliteVfs disk;
    ModelHarness h;
    writeFile(h.rootFolder() / "docs" / "plan.txt");
    writeFile(h.rootFolder() / "photos" / "beach.jpg");
    h.start();
    ASSERT_TRUE(h.settle());
    ASSERT_EQ(h.model->localIndex().indexedCount(), 5);

    ASSERT_NE(h.watcher, nullptr);
    disk.damage(h.databasePath());
    writeFile(h.rootFolder() / "docs" / "new.txt");
    h.watcher->deliver({(h.rootFolder() / "docs" / "new.txt").string()});
    const std::string notice = "notice:索引数据库已损坏，已另存为 index.sqlite.corrupt，正在重新建立索引";
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.logged(notice); }));
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return !h.model->localIndex().isIndexing() && h.model->localIndex().indexedCount() == 6; }));
    EXPECT_EQ(std::count(h.log.begin(), h.log.end(), notice), 1);
    EXPECT_EQ(h.model->statusMessage(), "索引完成，共 6 项");
    EXPECT_EQ(h.model->context().faultNotices().texts().size(), 1) << "still shown after the walk's progress";
    EXPECT_TRUE(fs::exists(h.databasePath().string() + ".corrupt"));
    h.model->searchSession().setSearchText("beach");
    h.model->searchSession().scheduleSearch(true, false);
    EXPECT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 1; }));
}

// Damage deep in a large index that the start-up check does not reach: the
// snapshot load meets it, and the index is moved aside and walked again,
// said once, instead of the part before the damage being shown as the index.
TEST(StoreRecovery, AnIndexWhoseLoadMeetsDamageIsRebuiltNotHalfLoaded)
{
    testsupport::DamagingSqliteVfs disk;
    ModelHarness h;
    writeFile(h.rootFolder() / "docs" / "plan.txt");
    std::vector<IndexedItem> items;
    for (int i = 0; i < 30000; ++i)
        items.push_back(fileItem((h.rootFolder() / "gone" / ("old-file-" + std::to_string(i) + ".txt")).string()));
    seedIndex(h.databasePath(), items);
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {h.rootFolder().string()});
    disk.damagePagesForReaders(h.databasePath(), disk.middleRowPage(h.databasePath(), "file_index"), 2);

    h.start();
    const std::string notice = "notice:索引数据库已损坏，已另存为 index.sqlite.corrupt，正在重新建立索引";
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.logged(notice); }));
    ASSERT_TRUE(pumpUntil(*h.clock, [&] { return h.bootstrapEnded && !h.model->localIndex().isIndexing(); }));
    EXPECT_EQ(std::count(h.log.begin(), h.log.end(), notice), 1);
    EXPECT_TRUE(fs::exists(h.databasePath().string() + ".corrupt"));
    EXPECT_EQ(h.model->localIndex().indexedCount(), 3);  // the volume's folder, docs and plan.txt
    h.model->searchSession().setSearchText("plan");
    h.model->searchSession().scheduleSearch(true, false);
    EXPECT_TRUE(pumpUntil(*h.clock, [&] { return h.model->searchSession().results().size() == 1; }));
    EXPECT_EQ(h.model->searchSession().results().front().path(), (h.rootFolder() / "docs" / "plan.txt").string());
}

} // namespace
} // namespace pallix
