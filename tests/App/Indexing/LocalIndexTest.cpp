#include "App/Indexing/LocalIndex.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include <sqlite3.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "App/Indexing/IndexLockHolder.h"
#include "App/Indexing/IndexRunMarkers.h"
#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;
using Roots = std::vector<std::string>;

MountedVolume networkVolume(std::string mountPoint)
{
    MountedVolume v = localVolume(std::move(mountPoint));
    v.kind = VolumeKind::Network;
    v.fileSystemType = "nfs";
    return v;
}

// Active roots.

TEST(IndexedRoots, ActiveRootsRule)
{
    const struct {
        const char* name;
        Roots configured;
        std::optional<std::vector<MountedVolume>> volumes;
        bool external;
        Roots expected;
    } cases[] = {
        {"nothing qualifies: the whole disk", {}, std::vector<MountedVolume>{}, true, {"/"}},
        {"volume list unavailable", {}, std::nullopt, true, {"/"}},
        {"network volumes are not local", {}, std::vector{networkVolume("/mnt/nfs")}, true, {"/"}},
        {"configured first, then volumes",
         {"/home/u/docs/"},
         std::vector{localVolume("/"), localVolume("/media/usb", true)},
         true,
         {"/home/u/docs", "/", "/media/usb"}},
        {"removable volume left out when external volumes are off",
         {},
         std::vector{localVolume("/"), localVolume("/media/usb", true)},
         false,
         {"/"}},
        {"configured root equal to a volume is listed once, in its configured place",
         {"/data", "/home/u"},
         std::vector{localVolume("/"), localVolume("/data")},
         true,
         {"/data", "/home/u", "/"}},
        {"only a removable volume and external volumes off", {}, std::vector{localVolume("/media/usb", true)}, false, {"/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelHarness h;
        h.env.volumes = std::make_shared<FixedVolumeProvider>(c.volumes);
        h.presetSettings([&](AppSettings& s) {
            s.indexedRoots = c.configured;
            s.autoIndexExternalVolumes = c.external;
        });
        h.preventStartUp();
        h.start();
        EXPECT_EQ(h.model->localIndex().activeIndexedRoots(), c.expected);
        h.stop();
    }
}

TEST(IndexedRoots, RemovableVolumesAreReportedOnlyWhenLocalAndRemovable)
{
    const struct {
        std::vector<MountedVolume> volumes;
        bool expected;
    } cases[] = {
        {{localVolume("/")}, false},
        {{localVolume("/"), localVolume("/media/usb", true)}, true},
        {{[] {
             MountedVolume v = networkVolume("/mnt/x");
             v.isRemovable = true;
             return v;
         }()},
         false},
    };
    for (const auto& c : cases) {
        ModelHarness h;
        h.env.volumes = std::make_shared<FixedVolumeProvider>(c.volumes);
        h.preventStartUp();
        h.start();
        EXPECT_EQ(h.model->localIndex().hasMountedRemovableVolumes(), c.expected);
        h.stop();
    }
}

TEST(IndexedRoots, SnapshotIsWrittenSortedAndReadStandardized)
{
    ModelHarness h;
    h.start();
    ASSERT_TRUE(h.settle());
    h.model->localIndex().persistIndexedRootsSnapshot({"/b", "/a", "/c"});
    EXPECT_EQ(h.defaults->stringList(LocalIndex::lastIndexedRootsKey()), (Roots{"/a", "/b", "/c"}));
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/x/", "/y/../z"});
    EXPECT_EQ(h.model->localIndex().lastIndexedRootsSnapshot(), (Roots{"/x", "/z"}));
    h.defaults->setString(LocalIndex::lastIndexedRootsKey(), "/not-a-list");
    EXPECT_TRUE(h.model->localIndex().lastIndexedRootsSnapshot().empty());
    h.defaults->remove(LocalIndex::lastIndexedRootsKey());
    EXPECT_TRUE(h.model->localIndex().lastIndexedRootsSnapshot().empty());
}

TEST(IndexedRoots, WhetherToReconcile)
{
    EXPECT_TRUE(LocalIndex::shouldPerformBackgroundRootRefresh({"/a"}, {"/a"}, false));
    EXPECT_FALSE(LocalIndex::shouldPerformBackgroundRootRefresh({"/b", "/a/"}, {"/a", "/b"}, true));
    EXPECT_TRUE(LocalIndex::shouldPerformBackgroundRootRefresh({"/a"}, {"/a", "/b"}, true));
    EXPECT_TRUE(LocalIndex::shouldPerformBackgroundRootRefresh({"/a", "/c"}, {"/a"}, true));
}

TEST(IndexedRoots, RemovedRootsAndWhatIsWalkedAgain)
{
    EXPECT_EQ(LocalIndex::removedIndexedRoots({"/a"}, {"/a", "/b", "/a/sub"}), (Roots{"/b", "/a/sub"}));
    // A removed root inside a current one is walked again, a plain removed one is not.
    EXPECT_EQ(LocalIndex::rootsToRescan({"/a"}, {"/m"}, {"/b", "/a/sub"}), (Roots{"/m", "/a/sub"}));
    EXPECT_EQ(LocalIndex::rootsToRescan({"/"}, {}, {"/media/usb"}), (Roots{"/media/usb"}));
    // Containment is exact: /ab is not inside /a, /A/x not inside /a.
    EXPECT_EQ(LocalIndex::rootsToRescan({"/a"}, {}, {"/ab", "/A/x"}), Roots{});
}

// Missing roots.

TEST(IndexedRoots, MissingRootsUseExactCaseSensitivePrefixes)
{
    ModelHarness h;
    seedIndex(h.databasePath(), {fileItem("/data2/x.txt"), fileItem("/a/B/y.txt"), fileItem("/data/z.txt")});
    h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume("/data")});
    h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {"/data"});
    h.start();
    ASSERT_TRUE(h.settle());

    std::optional<Roots> missing;
    const Roots asked{"/data", "/dat", "/a/b", "/a/B", "/data2", "/"};
    [](LocalIndex& index, Roots roots, std::optional<Roots>& out) -> QCoro::Task<> {
        QCoro::Task<Roots> finding = index.missingIndexedRoots(std::move(roots));
        out = co_await finding;
    }(h.model->localIndex(), asked, missing);
    ASSERT_TRUE(waitFor([&] { return missing.has_value(); }));
    EXPECT_EQ(*missing, (Roots{"/dat", "/a/b"}));
}

// Start-up reconciliation.

struct ReconcileTest : testing::Test {
    ModelHarness h;
    TempDir tree;

    // The folders on disk get their rows' time: unchanged since the run that
    // wrote the rows, so the start's catch-up leaves them to what is tested.
    void seed(const std::vector<IndexedItem>& rows, const Roots& snapshot)
    {
        for (const IndexedItem& row : rows) {
            const auto seconds = static_cast<std::time_t>(row.modifiedAt());
            const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
            if (row.isDirectory())
                ::utimensat(AT_FDCWD, std::string(row.path()).c_str(), times, 0);
        }
        seedIndex(h.databasePath(), rows);
        h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), snapshot);
    }
    void useRoots(const Roots& configured)
    {
        h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume(tree.str())});
        h.presetSettings([&](AppSettings& s) { s.indexedRoots = configured; });
    }
    bool rowExists(const std::string& path)
    {
        IndexStore store(h.databasePath(), std::make_shared<FakeClock>());
        EXPECT_TRUE(store.bootstrap().has_value());
        return store.hasIndexedItems({path});
    }
    std::string p(const std::string& relative) const { return (tree.path() / relative).string(); }
};

TEST_F(ReconcileTest, UnchangedRootsWithRowsAreLeftAlone)
{
    writeFile(tree.path() / "a.txt");
    seed({fileItem(tree.str(), true), fileItem(p("a.txt"))}, {tree.str()});
    useRoots({});
    h.start();
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(h.logged("status:已进入搜索，可后台同步磁盘索引"));
    // Once the catch-up has found nothing changed.
    EXPECT_TRUE(waitFor([&] { return h.model->statusMessage() == "已加载 2 条索引，可立即搜索"; }));
}

TEST_F(ReconcileTest, NewRootThatAlreadyHasRowsOnlyRewritesTheSnapshot)
{
    writeFile(tree.path() / "sub" / "a.txt");
    seed({fileItem(tree.str(), true), fileItem(p("sub"), true), fileItem(p("sub/a.txt"))}, {tree.str()});
    useRoots({p("sub")});
    h.start();
    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(h.logged("status:已进入搜索，可后台同步磁盘索引"));
    EXPECT_EQ(h.defaults->stringList(LocalIndex::lastIndexedRootsKey()), (Roots{tree.str(), p("sub")}));
}

TEST_F(ReconcileTest, MissingRootIsScannedInTheBackground)
{
    writeFile(tree.path() / "a.txt");
    writeFile(tree.path() / "extra" / "b.txt");
    seed({fileItem(tree.str(), true), fileItem(p("a.txt"))}, {tree.str()});
    useRoots({p("extra")});
    h.start();
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(waitFor([&] { return h.model->statusMessage() == "后台同步完成，共 4 项"; }));
    EXPECT_GT(h.indexOf("status:后台同步完成，共 4 项"), h.indexOf("status:已进入搜索，可后台同步磁盘索引"));
    EXPECT_FALSE(h.model->localIndex().isIndexing());  // the reconciliation does not count as indexing
    EXPECT_EQ(h.model->localIndex().indexedCount(), 4);
    EXPECT_EQ(h.defaults->integer(LocalIndex::lastIndexedCountKey()), 4);
    EXPECT_EQ(h.defaults->stringList(LocalIndex::lastIndexedRootsKey()), (Roots{tree.str(), p("extra")}));
}

TEST_F(ReconcileTest, RemovedRootLosesItsRowsWithoutARescan)
{
    TempDir other;
    writeFile(other.path() / "old.txt");
    writeFile(tree.path() / "a.txt");
    seed({fileItem(tree.str(), true), fileItem(p("a.txt")), fileItem(other.str(), true),
          fileItem((other.path() / "old.txt").string())},
         {tree.str(), other.str()});
    useRoots({});
    h.start();
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(waitFor([&] { return h.model->statusMessage() == "后台同步完成，共 2 项"; }));
    h.stop();
    EXPECT_FALSE(rowExists(other.str()));
    EXPECT_TRUE(rowExists(p("a.txt")));
}

TEST_F(ReconcileTest, RemovedRootInsideAnActiveRootKeepsWhatIsStillThere)
{
    writeFile(tree.path() / "sub" / "kept.txt");
    seed({fileItem(tree.str(), true), fileItem(p("sub"), true), fileItem(p("sub/kept.txt")),
          fileItem(p("sub/deleted-meanwhile.txt"))},
         {tree.str(), p("sub")});
    useRoots({});
    h.start();
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(waitFor([&] { return h.model->statusMessage() == "后台同步完成，共 3 项"; }));
    h.stop();
    EXPECT_TRUE(rowExists(p("sub/kept.txt")));
    EXPECT_FALSE(rowExists(p("sub/deleted-meanwhile.txt")));
}

// Full rebuild.

struct RebuildTest : testing::Test {
    ModelHarness h;
    TempDir tree;

    void SetUp() override
    {
        h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume(tree.str())});
    }
    std::string p(const std::string& relative) const { return (tree.path() / relative).string(); }
    // d0 ... d3 with f0.txt ... f4.txt each: 25 items with the root.
    void writeFourFoldersOfFive()
    {
        for (int d = 0; d < 4; ++d) {
            for (int i = 0; i < 5; ++i)
                writeFile(tree.path() / ("d" + std::to_string(d)) / ("f" + std::to_string(i) + ".txt"));
        }
    }
    // Status texts of the batched scan with the search generation at each.
    struct Step {
        std::string text;
        std::int64_t generation;
    };
    std::vector<Step> steps;
    void recordSteps()
    {
        QObject::connect(h.model.get(), &AppModel::statusMessageChanged, h.model.get(), [this] {
            steps.push_back({h.model->statusMessage().toStdString(), h.model->searchSession().searchGeneration()});
        });
    }
};

TEST_F(RebuildTest, BatchedStartUpScanSearchesAfterTheFirstAndEverySixthBatch)
{
    for (int i = 0; i < 25; ++i)
        writeFile(tree.path() / ("f" + std::to_string(i) + ".txt"));
    h.env.startupScanBatchSize = 2;  // 26 items: 13 batches
    h.start();
    recordSteps();
    ASSERT_TRUE(h.settle());

    std::vector<Step> batches;
    std::optional<Step> done;
    for (const Step& s : steps) {
        if (s.text.rfind("启动扫描中，已可搜索 ", 0) == 0)
            batches.push_back(s);
        else if (s.text.rfind("启动扫描完成", 0) == 0)
            done = s;
    }
    ASSERT_EQ(batches.size(), 13u);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->text, "启动扫描完成，共 26 项");
    for (std::size_t i = 0; i < batches.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        SCOPED_TRACE(number);
        EXPECT_EQ(batches[i].text, "启动扫描中，已可搜索 " + std::to_string(2 * number) + " 项");
        // A batch that searched raised the generation before the next status.
        const std::int64_t next = i + 1 < batches.size() ? batches[i + 1].generation : done->generation;
        const bool searched = number == 1 || number % 6 == 0;
        EXPECT_EQ(next - batches[i].generation, searched ? 1 : 0);
    }
    EXPECT_EQ(h.model->localIndex().indexedCount(), 26);
    EXPECT_FALSE(h.model->localIndex().isIndexing());
}

TEST_F(RebuildTest, SecondRebuildStopsTheBatchedScanAndItsCompletionIsNeverShown)
{
    writeFourFoldersOfFive();
    // The first walk stops when it lists d3 until the test lets it go on.
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    h.env.scanner.readAheadThreads = 0;
    h.env.scanner.listingFault = [&](const std::string& path) {
        if (path == p("d3")) {
            std::unique_lock lock(mutex);
            released.wait(lock, [&] { return open; });
        }
        return 0;
    };
    h.env.startupScanBatchSize = 1;
    h.start();
    ASSERT_TRUE(waitFor([&] { return h.indexOfPrefix("status:启动扫描中") >= 0; }));
    h.model->localIndex().rebuildIndex(false);
    EXPECT_EQ(h.model->statusMessage(), "正在建立索引...");
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    released.notify_all();
    ASSERT_TRUE(h.settle());
    h.model->context().pool().waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    EXPECT_EQ(h.indexOfPrefix("status:启动扫描完成"), -1);
    EXPECT_EQ(h.model->statusMessage(), "索引完成，共 25 项");
    // Nothing of the first scan arrives after the second took over.
    int lastBatch = -1;
    for (std::size_t i = 0; i < h.log.size(); ++i) {
        if (h.log[i].rfind("status:启动扫描中", 0) == 0)
            lastBatch = static_cast<int>(i);
    }
    EXPECT_LT(lastBatch, h.indexOf("status:正在建立索引..."));
}

// A consistent copy of a database another connection may be writing.
bool copyDatabase(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to.parent_path());
    sqlite3* source = nullptr;
    sqlite3* target = nullptr;
    bool ok = sqlite3_open_v2(from.c_str(), &source, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
              && sqlite3_open(to.c_str(), &target) == SQLITE_OK;
    if (ok) {
        sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
        ok = backup && sqlite3_backup_step(backup, -1) == SQLITE_DONE;
        sqlite3_backup_finish(backup);
    }
    sqlite3_close_v2(source);
    sqlite3_close_v2(target);
    return ok;
}

TEST_F(RebuildTest, StartUpScanStoppedHalfWayIsWalkedAgainAtTheNextStart)
{
    writeFourFoldersOfFive();
    // The first run's walk stops at the third folder it lists; what is on
    // disk then (the rows of its batches, the defaults) is what a kill or a
    // quit leaves behind.
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    int listed = 0;
    bool arrived = false;
    h.env.scanner.readAheadThreads = 0;
    h.env.scanner.listingFault = [&](const std::string& path) {
        std::unique_lock lock(mutex);
        if (path != tree.str() && ++listed == 3) {
            arrived = true;
            released.wait(lock, [&] { return open; });
        }
        return 0;
    };
    const auto release = [&] {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        released.notify_all();
    };
    // Whatever happens below, the walk is let go before the model is destroyed.
    const std::shared_ptr<void> releaseAtEnd(nullptr, [&](void*) { release(); });
    h.env.startupScanBatchSize = 1;
    const fs::path defaultsFile = h.support.path() / "defaults.json";
    h.defaults = Defaults::atFile(defaultsFile);
    h.env.defaults = h.defaults;
    h.start();
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        return arrived && h.model->localIndex().indexedCount() >= 10;
    }));

    ModelHarness next;
    next.env.volumes = h.env.volumes;
    next.env.supportDirectory = next.support.path() / "copied";
    ASSERT_TRUE(copyDatabase(h.databasePath(), next.databasePath()));
    fs::copy_file(defaultsFile, next.support.path() / "defaults.json");
    next.defaults = Defaults::atFile(next.support.path() / "defaults.json");
    next.env.defaults = next.defaults;
    release();
    h.stop();

    next.start();
    ASSERT_TRUE(next.settle());
    EXPECT_TRUE(next.logged("status:上次索引未完成，正在重新完整扫描…"));
    EXPECT_FALSE(next.logged("status:已加载 " + std::to_string(next.model->localIndex().indexedCount()) + " 条索引，可立即搜索"));
    EXPECT_EQ(next.model->statusMessage(), "启动扫描完成，共 25 项");
    EXPECT_EQ(next.model->localIndex().indexedCount(), 25);
    next.stop();

    // Finished now: the start after it trusts the index.
    next.log.clear();
    next.bootstrapEnded = false;
    next.start();
    ASSERT_TRUE(next.settle());
    EXPECT_FALSE(next.logged("status:上次索引未完成，正在重新完整扫描…"));
    EXPECT_EQ(next.model->statusMessage(), "已加载 25 条索引，可立即搜索");
}

TEST_F(RebuildTest, FullRebuildShowsItsTextsAndRestartsTheWatcher)
{
    writeFile(tree.path() / "a.txt");
    h.start();
    ASSERT_TRUE(h.settle());
    const auto watches = [&] {
        return std::count_if(h.log.begin(), h.log.end(), [](const std::string& e) { return e.rfind("watch:", 0) == 0; });
    };
    const auto watchesBefore = watches();
    const auto generation = h.model->searchSession().searchGeneration();
    h.model->localIndex().rebuildIndex(false);
    EXPECT_TRUE(h.model->localIndex().isIndexing());
    EXPECT_EQ(h.model->statusMessage(), "正在建立索引...");
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.model->statusMessage(), "索引完成，共 2 项");
    EXPECT_EQ(h.defaults->stringList(LocalIndex::lastIndexedRootsKey()), (Roots{tree.str()}));
    EXPECT_EQ(watches(), watchesBefore + 1);
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation + 1);
}

TEST_F(RebuildTest, RebuildKeepsTheRowsUnderAFolderItCouldNotList)
{
    writeFile(tree.path() / "locked" / "inside.txt");
    writeFile(tree.path() / "open" / "gone.txt");
    h.start();
    ASSERT_TRUE(h.settle());
    ASSERT_EQ(h.model->localIndex().indexedCount(), 5);

    // Both files go; only the one whose folder can still be listed is known to be gone.
    std::filesystem::remove(tree.path() / "locked" / "inside.txt");
    std::filesystem::remove(tree.path() / "open" / "gone.txt");
    h.model.reset();
    h.env.scanner.readAheadThreads = 0;
    h.env.scanner.listingFault = [&](const std::string& path) { return path == p("locked") ? EACCES : 0; };
    h.bootstrapEnded = false;
    h.start();
    ASSERT_TRUE(h.settle());
    // The start's catch-up of the removed files ends first: its word in the
    // status line would otherwise come after the rebuild's.
    ASSERT_TRUE(h.runOut());
    h.model->localIndex().rebuildIndex(false);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.model->statusMessage(), "索引完成，共 4 项");
    IndexStore store(h.databasePath(), std::make_shared<FakeClock>());
    ASSERT_TRUE(store.bootstrap().has_value());
    EXPECT_TRUE(store.hasIndexedItems({p("locked/inside.txt")}));
    EXPECT_FALSE(store.hasIndexedItems({p("open/gone.txt")}));
}

// Adding and removing roots.

TEST_F(RebuildTest, AddingARootPersistsItRestartsTheWatcherAndRebuilds)
{
    TempDir extra;
    writeFile(extra.path() / "x.txt");
    h.start();
    ASSERT_TRUE(h.settle());
    h.model->localIndex().addIndexedRoot(QString::fromStdString(extra.str() + "/"));
    EXPECT_EQ(h.model->settings().indexedRoots, (Roots{extra.str()}));
    EXPECT_EQ(h.log.back().rfind("status:正在建立索引...", 0), 0u);
    EXPECT_TRUE(h.logged("watch:" + extra.str() + "," + tree.str()));
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.model->statusMessage(), "索引完成，共 3 项");
    SettingsStore reread(h.defaults);
    EXPECT_EQ(reread.settings().indexedRoots, (Roots{extra.str()}));

    const auto generation = h.model->searchSession().searchGeneration();
    h.model->localIndex().addIndexedRoot(QString::fromStdString(extra.str()));  // already there: nothing
    h.model->localIndex().addIndexedRoot("");
    EXPECT_FALSE(h.model->localIndex().isIndexing());
    EXPECT_EQ(h.model->searchSession().searchGeneration(), generation);
}

TEST_F(RebuildTest, RemovingRootsAtOffsetsKeepsTheOthersAndDropsTheRemovedRows)
{
    TempDir r0, r1, r2;
    for (const TempDir* d : {&r0, &r1, &r2})
        writeFile(d->path() / "x.txt");
    h.presetSettings([&](AppSettings& s) { s.indexedRoots = {r0.str(), r1.str(), r2.str()}; });
    h.start();
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.model->localIndex().indexedCount(), 7);

    h.model->localIndex().removeIndexedRoot({0, 2});
    EXPECT_EQ(h.model->settings().indexedRoots, (Roots{r1.str()}));
    EXPECT_TRUE(h.model->localIndex().isIndexing());
    ASSERT_TRUE(h.settle());
    // The rows of the removed roots go because the last scan's roots are replaced too.
    EXPECT_EQ(h.model->statusMessage(), "索引完成，共 3 项");
    Roots expected{r1.str(), tree.str()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(h.defaults->stringList(LocalIndex::lastIndexedRootsKey()), expected);
}

// Writes refused by another program's lock.

TEST(LocalIndexFaults, ABatchRefusedByALockedIndexIsWrittenOnceTheLockIsGone)
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
    EXPECT_EQ(h.model->localIndex().indexedCount(), 7);
    EXPECT_EQ(h.model->statusMessage(), "启动扫描完成，共 7 项");
    EXPECT_FALSE(IndexRunMarkers(h.defaults).unfinishedRoots());
}

TEST(LocalIndexFaults, AScanThatCouldNotWriteEverythingIsNotRecordedAsDone)
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
    EXPECT_FALSE(h.defaults->contains(LocalIndex::lastIndexedRootsKey()));
    EXPECT_EQ(h.indexOfPrefix("status:启动扫描完成"), -1);
    // The watcher still leaves the excluded folders out.
    ASSERT_NE(h.watcher, nullptr);
    EXPECT_EQ(h.watcher->startsWithRules(), int(std::count_if(h.log.begin(), h.log.end(), [](const std::string& e) {
                  return e.starts_with("watch:");
              })));
}

} // namespace
} // namespace pallix
