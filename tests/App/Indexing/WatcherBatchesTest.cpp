#include "App/Indexing/WatcherBatches.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

#include <gtest/gtest.h>

#include <QScopeGuard>

#include "App/Indexing/LocalIndex.h"
#include "App/ModelTestSupport.h"
#include "TestSupport/DamagingSqliteVfs.h"
#include "App/RecordingDesktop.h"
#include "App/Actions/ResultActions.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

// Paths of the rows under `root` in the index file, read on a connection of
// its own.
std::set<std::string> indexedPathsUnder(const fs::path& database, const std::string& root)
{
    std::set<std::string> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT path FROM file_index;", -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                std::string path = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
                if (paths::isUnder(path, root))
                    out.insert(std::move(path));
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(db);
    return out;
}

std::set<std::string> diskPathsUnder(const fs::path& root)
{
    std::set<std::string> out{root.string()};
    for (const auto& entry : fs::recursive_directory_iterator(root))
        out.insert(entry.path().string());
    return out;
}

// A one-shot latch a scanner fault can wait on, from a worker thread.
class Gate {
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void waitOpen()
    {
        std::unique_lock lock(m_mutex);
        m_arrived = true;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_open; });
    }
    bool arrived()
    {
        std::lock_guard lock(m_mutex);
        return m_arrived;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
    bool m_arrived = false;
};

// A model whose only root is a real folder tree, indexed by the start-up scan,
// with the recording watcher of the harness (deliver() stands for inotify).
struct LiveIndex {
    TempDir tree;
    fs::path root = tree.path() / "root";
    // Errno for listings of the given folder, or 0. Change it only while no
    // batch runs: the scanner calls it on the model's workers.
    std::function<int(const std::string&)> listingFault;
    // What the watcher's batches said last: the size of the pending set, the
    // batches handed over and not yet written, and how many arrivals joined
    // the pending set.
    int pending = 0;
    int unfinished = 0;
    int arrivals = 0;
    ModelHarness h;  // last: the model and its jobs go first

    LiveIndex()
    {
        fs::create_directories(root);
        writeFile(root / "docs" / "a.txt");
        writeFile(root / "docs" / "b.txt");
        writeFile(root / "keep.txt");
        fs::create_directories(tree.path() / "sibling");
        writeFile(tree.path() / "sibling" / "s.txt");
        h.env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{localVolume(root.string())});
        h.env.scanner.readAheadThreads = 0;
        h.env.scanner.listingFault = [this](const std::string& path) { return listingFault ? listingFault(path) : 0; };
    }

    // Without `seed` the start-up scan indexes the tree; with it the index
    // holds exactly those rows.
    bool start(const std::vector<IndexedItem>& seed = {})
    {
        if (!seed.empty()) {
            seedIndex(h.databasePath(), seed);
            h.defaults->setStringList(LocalIndex::lastIndexedRootsKey(), {root.string()});
        }
        startModel();
        return h.settle() && quiet();
    }
    void startModel()
    {
        h.start();
        pending = unfinished = arrivals = 0;
        WatcherBatches& batches = h.model->watcherBatches();
        QObject::connect(&batches, &WatcherBatches::pendingPathsChanged, &batches, [this](int count) {
            pending = count;
            if (count > 0)
                ++arrivals;
        });
        QObject::connect(&batches, &WatcherBatches::unfinishedBatchesChanged, &batches,
                         [this](int count) { unfinished = count; });
    }
    AppModel& model() { return *h.model; }
    std::string at(const std::string& relative) const { return (root / relative).string(); }
    bool indexed(const std::string& path) { return indexedPathsUnder(h.databasePath(), path).contains(path); }

    // Nothing pending, no batch unfinished, the store's quiet periods over.
    bool quiet()
    {
        return pumpUntil(*h.clock, [&] {
            return pending == 0 && unfinished == 0 && h.localProbe->runningBackgroundJobs() == 0
                   && h.clock->sleepers() == 0;
        }, 50ms);
    }
    void deliver(std::vector<std::string> paths)
    {
        const int before = arrivals;
        h.watcher->deliver(std::move(paths));
        ASSERT_TRUE(waitFor([&] { return arrivals > before; }));
    }
    // Delivers, lets the wait of `delay` run out and waits for the batch.
    bool handle(std::vector<std::string> paths, Clock::Duration delay = 300ms)
    {
        deliver(std::move(paths));
        return advanceOnceSleeping(*h.clock, delay) && quiet();
    }
};

// A first batch that stops in its listing of the album until the gate opens;
// the listings of docs are counted meanwhile.
struct AlbumHold {
    Gate gate;
    std::atomic<bool> holding{true};
    std::atomic<int> docsListings{0};

    bool start(LiveIndex& live)
    {
        live.listingFault = [this, &live](const std::string& path) {
            if (path == live.at("album") && holding.exchange(false))
                gate.waitOpen();
            if (path == live.at("docs"))
                ++docsListings;
            return 0;
        };
        writeFile(live.root / "album" / "x.jpg");
        live.deliver({live.at("album/x.jpg")});
        return advanceOnceSleeping(*live.h.clock, 300ms)
               && waitFor([this] { return gate.arrived(); });
    }
};

TEST(FileEventsCoalescing, ChangesAreCollectedOnlyWhileTheIndexerMayRunInTheBackground)
{
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep);
        ModelHarness h;
        h.presetSettings([keep](AppSettings& s) { s.keepIndexerInBackground = keep; });
        h.start();
        ASSERT_TRUE(h.settle());
        int pending = 0;
        QObject::connect(&h.model->watcherBatches(), &WatcherBatches::pendingPathsChanged, h.model.get(),
                         [&](int count) { pending = count; });
        h.watcher->deliver({"/data/changed.txt"});
        h.watcher->deliver({});  // a marker: once it is handled, so is the first
        QCoreApplication::processEvents();
        EXPECT_EQ(pending, keep ? 1 : 0);
    }
}

TEST(FileEventsCoalescing, DelayDependsOnFocusAndTyping)
{
    const struct {
        const char* name;
        bool active;
        bool typing;
        Clock::Duration delay;
    } cases[] = {
        {"in front", true, false, 300ms},
        {"in front while typing", true, true, 1500ms},
        {"in the background", false, false, 1800ms},
        {"in the background while typing", false, true, 1800ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LiveIndex live;
        ASSERT_TRUE(live.start());
        if (!c.active)
            live.model().foregroundActivity().applicationDidResignActive();
        if (c.typing)
            live.model().searchSession().typingClock().noteKeystroke();
        writeFile(live.root / "new.txt");
        live.deliver({live.at("new.txt")});
        ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, c.delay - 1ms));
        // The fake clock holds a sleep of the delay until it has moved that far.
        EXPECT_EQ(live.h.sleepLog->sleeps().back(), c.delay);
        EXPECT_GT(live.pending, 0);
        live.h.clock->advance(1ms);
        ASSERT_TRUE(live.quiet());
        EXPECT_TRUE(live.indexed(live.at("new.txt")));
    }
}

TEST(FileEventsCoalescing, EachArrivalRestartsTheWaitAndAllAreHandledTogether)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    writeFile(live.root / "one.txt");
    writeFile(live.root / "two.txt");
    live.deliver({live.at("one.txt")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 250ms));
    live.deliver({live.at("two.txt")});
    live.h.clock->advance(100ms);  // past the end of the first wait
    // The second arrival ended the first wait; only the second is left.
    ASSERT_TRUE(live.h.allResumed(1));
    EXPECT_EQ(live.pending, 2);
    EXPECT_FALSE(live.indexed(live.at("one.txt")));
    ASSERT_TRUE(live.quiet());
    EXPECT_TRUE(live.indexed(live.at("one.txt")));
    EXPECT_TRUE(live.indexed(live.at("two.txt")));
}

TEST(FileEventsCoalescing, ConstantChurnStillRunsTheBatchWithinTwoSeconds)
{
    // In the background each arrival asks for 1,800 ms more; one every 700 ms
    // (the watcher's own cadence) would put the batch off for ever.
    LiveIndex live;
    ASSERT_TRUE(live.start());
    live.model().foregroundActivity().applicationDidResignActive();
    const Clock::TimePoint firstArrival = live.h.clock->now();
    writeFile(live.root / "first.txt");
    live.deliver({live.at("first.txt")});
    for (int i = 0; i < 2; ++i) {  // 1,400 ms of churn
        ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 700ms));
        writeFile(live.root / ("churn" + std::to_string(i) + ".txt"));
        live.deliver({live.at("churn" + std::to_string(i) + ".txt")});
    }
    EXPECT_FALSE(live.indexed(live.at("first.txt")));
    ASSERT_TRUE(pumpUntil(*live.h.clock, [&] { return live.indexed(live.at("first.txt")); }, 50ms));
    EXPECT_TRUE(live.indexed(live.at("churn1.txt")));
    // 1,800 ms after the last arrival would be 3,200 ms.
    EXPECT_LT(live.h.clock->now() - firstArrival, Clock::Duration(2500ms));
}

TEST(FileEventsCoalescing, NothingIsCollectedWhileTheIndexerMayNotRunInTheBackground)
{
    LiveIndex live;
    live.h.presetSettings([](AppSettings& s) { s.keepIndexerInBackground = false; });
    ASSERT_TRUE(live.start());
    writeFile(live.root / "new.txt");
    live.h.watcher->deliver({live.at("new.txt")});
    ASSERT_TRUE(live.h.allResumed());  // the delivery reached the model, which started nothing
    EXPECT_EQ(live.arrivals, 0);
    EXPECT_EQ(live.pending, 0);
    EXPECT_EQ(live.h.clock->sleepers(), 0);
    EXPECT_FALSE(live.indexed(live.at("new.txt")));
}

TEST(FileEventsBatch, CreatedChangedRemovedAndRenamedLocations)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    ASSERT_TRUE(live.indexed(live.at("docs/a.txt")));

    // A folder moved to a new name, a new file, a removed one, all in one batch.
    fs::rename(live.root / "docs", live.root / "papers");
    writeFile(live.root / "new.txt");
    fs::remove(live.root / "keep.txt");
    ASSERT_TRUE(live.handle({live.at("docs"), live.at("papers"), live.at("new.txt"), live.at("keep.txt")}));
    EXPECT_FALSE(live.indexed(live.at("docs")));
    EXPECT_FALSE(live.indexed(live.at("docs/a.txt")));
    EXPECT_TRUE(live.indexed(live.at("papers")));
    EXPECT_TRUE(live.indexed(live.at("papers/b.txt")));
    EXPECT_TRUE(live.indexed(live.at("new.txt")));
    EXPECT_FALSE(live.indexed(live.at("keep.txt")));
}

TEST(FileEventsBatch, JunkFileIsRemovedAndAFileCreatedAndDeletedCountsAsGone)
{
    LiveIndex live;
    writeFile(live.root / "docs" / "Thumbs.db");
    // Indexed by an earlier run that did not filter junk.
    // The folders' rows with their times on disk, so that the start finds
    // nothing changed while no model ran.
    ASSERT_TRUE(live.start({*IndexedItem::from(live.root.string()), *IndexedItem::from(live.at("docs")),
                            fileItem(live.at("docs/Thumbs.db")), fileItem(live.at("docs/a.txt"))}));
    ASSERT_TRUE(live.indexed(live.at("docs/Thumbs.db")));
    ASSERT_TRUE(live.handle({live.at("docs/Thumbs.db"), live.at("ghost.txt")}));
    EXPECT_FALSE(live.indexed(live.at("docs/Thumbs.db")));
    EXPECT_FALSE(live.indexed(live.at("ghost.txt")));
    EXPECT_TRUE(live.indexed(live.at("docs/a.txt")));
}

TEST(FileEventsBatch, LocationsOutsideTheRootsAndTheRootsOwnFolderStayOut)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    const std::string outside = (live.tree.path() / "sibling" / "s.txt").string();
    ASSERT_TRUE(live.handle({outside}));
    EXPECT_FALSE(live.indexed(outside));

    // A change reported for the root itself rescans it; the folder holding it
    // is no part of the index, so the root's siblings stay out.
    writeFile(live.root / "top.txt");
    ASSERT_TRUE(live.handle({live.root.string()}));
    EXPECT_TRUE(live.indexed(live.at("top.txt")));
    EXPECT_TRUE(indexedPathsUnder(live.h.databasePath(), (live.tree.path() / "sibling").string()).empty());
    EXPECT_FALSE(live.indexed(live.tree.path().string()));
}

TEST(FileEventsBatch, ExcludedFolderLosesItsFileToTheFolderListing)
{
    LiveIndex live;
    live.h.presetSettings([&](AppSettings& s) { s.excludedPaths = {live.at("private")}; });
    ASSERT_TRUE(live.start());
    writeFile(live.root / "private" / "secret.txt");
    ASSERT_TRUE(live.handle({live.at("private/secret.txt")}));
    EXPECT_FALSE(live.indexed(live.at("private/secret.txt")));
}

TEST(FileEventsBatch, FolderThatCannotBeListedKeepsItsRows)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    ASSERT_TRUE(live.indexed(live.at("docs/b.txt")));
    fs::remove(live.root / "docs" / "b.txt");  // unseen: the listing below fails
    live.listingFault = [&](const std::string& path) { return path == live.at("docs") ? EACCES : 0; };

    writeFile(live.root / "docs" / "a.txt", "changed");
    ASSERT_TRUE(live.handle({live.at("docs/a.txt"), live.at("docs")}));
    EXPECT_TRUE(live.indexed(live.at("docs/a.txt")));
    EXPECT_TRUE(live.indexed(live.at("docs/b.txt")));

    live.listingFault = nullptr;
    ASSERT_TRUE(live.handle({live.at("docs/a.txt")}));
    EXPECT_FALSE(live.indexed(live.at("docs/b.txt")));  // a listing that works settles it
}

TEST(FileEventsBatch, BatchesAreWrittenFirstInFirstOut)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    fs::create_directories(live.root / "album" / "inner");
    writeFile(live.root / "album" / "photo.jpg");

    // The first batch walks the new album and stops in front of its inner
    // folder, having seen photo.jpg.
    Gate gate;
    std::atomic<bool> holdInner{true};
    live.listingFault = [&](const std::string& path) {
        if (path == live.at("album/inner") && holdInner.exchange(false))
            gate.waitOpen();
        return 0;
    };
    live.deliver({live.at("album")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return gate.arrived(); }));

    // Meanwhile the photo goes and its removal is handed over.
    fs::remove(live.root / "album" / "photo.jpg");
    live.deliver({live.at("album/photo.jpg")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return live.pending == 0; }));
    EXPECT_EQ(live.unfinished, 2);
    gate.open();
    ASSERT_TRUE(live.quiet());
    // Side by side, the removal would have landed first and the first batch's
    // stale photo after it.
    EXPECT_FALSE(live.indexed(live.at("album/photo.jpg")));
    EXPECT_TRUE(live.indexed(live.at("album/inner")));
}

// Another program holds the index's write lock while a batch arrives: the
// batch waits and is written again once the lock is gone, and the index ends
// as the disk is.
TEST(FileEventsBatch, ABatchRefusedByAnotherProgramsLockIsWrittenOnceTheLockIsGone)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(live.h.databasePath().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);

    writeFile(live.root / "new.txt");
    writeFile(live.root / "docs" / "c.txt");
    writeFile(live.root / "fresh" / "inner" / "x.txt");
    fs::remove(live.root / "keep.txt");
    live.deliver({live.at("new.txt"), live.at("docs/c.txt"), live.at("fresh"), live.at("keep.txt")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    // The store waits out its connection's patience, then the batch waits on
    // the clock to be tried again (or, refused writes passed over, ends).
    // Nothing else sleeps once the batch is handed over: no write has landed,
    // so the store has no job.
    ASSERT_TRUE(waitFor([&] {
        if (live.pending != 0)
            return false;
        const bool retrying = live.h.clock->sleepers() > 0 && live.h.localProbe->runningBackgroundJobs() == 0;
        return live.unfinished == 0 || retrying;
    }));
    ASSERT_EQ(sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close_v2(other);

    ASSERT_TRUE(live.quiet());
    EXPECT_EQ(indexedPathsUnder(live.h.databasePath(), live.root.string()), diskPathsUnder(live.root));
    EXPECT_EQ(live.model().localIndex().indexedCount(), live.model().context().stores().local->indexedCount());
}

// While another program holds the index's write lock, new files are found
// from memory, and the status line says that another program holds the
// index and how long it has waited; once the lock is gone the file follows.
TEST(FileEventsBatch, FilesKeptOutByAnotherProgramsLockAreSearchableAndTheWaitIsSaid)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    IndexStore& store = *live.model().context().stores().local;
    const std::int64_t before = store.indexedCount();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(live.h.databasePath().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto releaseLock = [&] {
        if (other) {
            sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
            sqlite3_close_v2(other);
            other = nullptr;
        }
    };
    const auto releaseAtEnd = qScopeGuard(releaseLock);

    std::vector<std::string> made;
    for (int i = 0; i < 300; ++i) {
        writeFile(live.root / "docs" / ("held" + std::to_string(i) + ".txt"));
        made.push_back(live.at("docs/held" + std::to_string(i) + ".txt"));
    }
    live.deliver(made);
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    const auto said = [&](int seconds) {
        return live.model().statusMessage().startsWith(
            QStringLiteral("索引数据库正被其他程序占用（已等待 %1 秒）").arg(seconds));
    };
    // Refused: the batch waits on the clock to be tried again.
    ASSERT_TRUE(waitFor([&] {
        return live.pending == 0 && live.h.clock->sleepers() > 0 && live.h.localProbe->runningBackgroundJobs() == 0;
    }));
    EXPECT_EQ(store.items(made, 301).size(), 300u);
    ASSERT_TRUE(waitFor([&] { return said(0); })) << live.model().statusMessage().toStdString();
    EXPECT_EQ(live.model().localIndex().indexedCount(), before + 300);
    EXPECT_FALSE(live.indexed(made.front()));

    // Tried again after the pause on the clock, and refused again: the wait grows.
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 2s));
    ASSERT_TRUE(waitFor([&] { return said(2); })) << live.model().statusMessage().toStdString();

    releaseLock();
    ASSERT_TRUE(live.quiet());
    EXPECT_EQ(indexedPathsUnder(live.h.databasePath(), live.root.string()), diskPathsUnder(live.root));
    EXPECT_EQ(live.model().localIndex().indexedCount(), before + 300);
    EXPECT_FALSE(live.model().statusMessage().contains(QStringLiteral("占用")));
}

// A burst goes in slices, one batch after another: the shown search is asked
// again after the first and the last, not after each (each search holds the
// store while it runs), and the index ends as the disk is.
TEST(FileEventsBatch, WhileBatchesFollowEachOtherTheSearchIsAskedAgainAtTheFirstAndTheLast)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    int asked = 0;
    QObject::connect(&live.model().watcherBatches(), &WatcherBatches::searchWanted, &live.model().watcherBatches(),
                     [&](bool) { ++asked; });
    int written = 0;
    QObject::connect(&live.model().watcherBatches(), &WatcherBatches::batchWritten, &live.model().watcherBatches(),
                     [&](qint64) { ++written; });

    // Three new folders too large to share a slice: their slices are written in turn.
    std::vector<std::string> made;
    for (const char* folder : {"b1", "b2", "b3"}) {
        made.push_back(live.at(std::string("docs/") + folder));
        for (int i = 0; i < 1100; ++i) {
            const std::string relative = std::string("docs/") + folder + "/f" + std::to_string(i) + ".txt";
            writeFile(live.root / relative);
            made.push_back(live.at(relative));
        }
    }
    ASSERT_TRUE(live.handle(made));

    EXPECT_GE(written, 3);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(indexedPathsUnder(live.h.databasePath(), live.root.string()), diskPathsUnder(live.root));
}

TEST(FileEventsBatch, BatchesQueuedBehindARunningOneGoAsOne)
{
    LiveIndex live;
    fs::create_directories(live.root / "album");
    ASSERT_TRUE(live.start());

    // The first batch stops in its listing of the album.
    AlbumHold hold;
    ASSERT_TRUE(hold.start(live));
    Gate& gate = hold.gate;
    const std::atomic<int>& docsListings = hold.docsListings;

    // Three hand-overs queue behind it, each touching docs, one naming a path twice.
    const auto handOver = [&](std::vector<std::string> paths) {
        live.deliver(std::move(paths));
        ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
        ASSERT_TRUE(waitFor([&] { return live.pending == 0; }));
    };
    writeFile(live.root / "docs" / "c.txt");
    handOver({live.at("docs/c.txt")});
    fs::remove(live.root / "docs" / "a.txt");
    handOver({live.at("docs/a.txt")});
    writeFile(live.root / "docs" / "d.txt");
    handOver({live.at("docs/d.txt"), live.at("docs/c.txt")});
    EXPECT_EQ(live.unfinished, 4);

    gate.open();
    ASSERT_TRUE(live.quiet());
    EXPECT_EQ(docsListings.load(), 1) << "the queued batches were written as one";
    for (const char* present : {"album/x.jpg", "docs/b.txt", "docs/c.txt", "docs/d.txt"})
        EXPECT_TRUE(live.indexed(live.at(present))) << present;
    EXPECT_FALSE(live.indexed(live.at("docs/a.txt")));
}

TEST(FileEventsBatch, ForegroundBatchReportsAndSearchesAgainBackgroundOneIsSilent)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    const auto startCount = live.model().localIndex().indexedCount();

    live.model().searchSession().setSearchText("new");
    live.model().context().setStatusMessage("before");
    const auto generation = live.model().searchSession().searchGeneration();
    writeFile(live.root / "new1.txt");
    ASSERT_TRUE(live.handle({live.at("new1.txt")}));
    EXPECT_EQ(live.model().localIndex().indexedCount(), startCount + 1);
    EXPECT_EQ(live.h.defaults->integer(LocalIndex::lastIndexedCountKey()), startCount + 1);
    EXPECT_EQ(live.model().statusMessage(), QStringLiteral("实时索引已更新，共 %1 项").arg(startCount + 1));
    EXPECT_EQ(live.model().searchSession().searchGeneration(), generation + 1);
    // The write leaves the indexes complete, so no rebuild keeps the store
    // busy while the search's pause runs out: wait for its answer.
    ASSERT_TRUE(pumpUntil(*live.h.clock, [&] { return live.model().searchSession().results().size() == 1; }, 50ms));
    EXPECT_EQ(live.model().searchSession().results().front().name(), "new1.txt");

    // The same text searched again after the change must not come from the shown list.
    fs::remove(live.root / "new1.txt");
    ASSERT_TRUE(live.handle({live.at("new1.txt")}));
    EXPECT_TRUE(pumpUntil(*live.h.clock, [&] { return live.model().searchSession().results().isEmpty(); }, 50ms));
    writeFile(live.root / "new1.txt");
    ASSERT_TRUE(live.handle({live.at("new1.txt")}));
    ASSERT_TRUE(pumpUntil(*live.h.clock, [&] { return live.model().searchSession().results().size() == 1; }, 50ms));

    live.model().foregroundActivity().applicationDidResignActive();
    live.model().context().setStatusMessage("before");
    writeFile(live.root / "new2.txt");
    ASSERT_TRUE(live.handle({live.at("new2.txt")}, 1800ms));
    EXPECT_EQ(live.model().localIndex().indexedCount(), startCount + 2);
    EXPECT_EQ(live.h.defaults->integer(LocalIndex::lastIndexedCountKey()), startCount + 2);
    EXPECT_EQ(live.model().statusMessage(), "before");
    EXPECT_EQ(live.model().searchSession().searchGeneration(), generation + 3);
    EXPECT_EQ(live.model().searchSession().results().size(), 1);
}

// "已复制路径" is read, not flashed: the note of a change on disk that
// follows within 3 s leaves it, and only the count in the summary moves.
TEST(FileEventsBatch, AnActionsConfirmationStaysThreeSecondsWhileFilesChange)
{
    LiveIndex live;
    live.h.env.desktop = std::make_shared<RecordingDesktop>();
    ASSERT_TRUE(live.start());
    const auto startCount = live.model().localIndex().indexedCount();
    SearchSession& search = live.model().searchSession();
    search.setSearchText("keep");
    search.scheduleSearch(true, false);
    ASSERT_TRUE(pumpUntil(*live.h.clock, [&] { return search.results().size() == 1; }));
    search.setSelectedItemID(QString::fromStdString(live.at("keep.txt")));
    live.model().resultActions().copySelectedPath();
    ASSERT_EQ(live.model().statusMessage(), QStringLiteral("已复制路径"));
    const Clock::TimePoint copiedAt = live.h.clock->now();

    writeFile(live.root / "new1.txt");
    ASSERT_TRUE(live.handle({live.at("new1.txt")}));
    ASSERT_LT(live.h.clock->now() - copiedAt, 3s);
    EXPECT_EQ(live.model().localIndex().indexedCount(), startCount + 1);
    EXPECT_EQ(live.model().statusMessage(), QStringLiteral("已复制路径"));

    live.h.clock->advance(3s - (live.h.clock->now() - copiedAt));
    writeFile(live.root / "new2.txt");
    ASSERT_TRUE(live.handle({live.at("new2.txt")}));
    EXPECT_EQ(live.model().statusMessage(), QStringLiteral("实时索引已更新，共 %1 项").arg(startCount + 2));
}

TEST(FileEventsBatch, NoSearchWithoutIntentAndNoneAfterGoingToTheBackgroundMidBatch)
{
    LiveIndex live;
    ASSERT_TRUE(live.start());
    auto generation = live.model().searchSession().searchGeneration();
    writeFile(live.root / "new1.txt");
    ASSERT_TRUE(live.handle({live.at("new1.txt")}));
    EXPECT_EQ(live.model().searchSession().searchGeneration(), generation);  // empty search field
    EXPECT_EQ(live.model().statusMessage(), QStringLiteral("实时索引已更新，共 %1 项").arg(live.model().localIndex().indexedCount()));

    Gate gate;
    std::atomic<bool> hold{true};
    live.listingFault = [&](const std::string& path) {
        if (path == live.root.string() && hold.exchange(false))
            gate.waitOpen();
        return 0;
    };
    live.model().searchSession().setSearchText("new");
    live.model().context().setStatusMessage("before");
    generation = live.model().searchSession().searchGeneration();
    writeFile(live.root / "new2.txt");
    live.deliver({live.at("new2.txt")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return gate.arrived(); }));
    live.model().foregroundActivity().applicationDidResignActive();
    gate.open();
    ASSERT_TRUE(live.quiet());
    EXPECT_TRUE(live.indexed(live.at("new2.txt")));
    EXPECT_EQ(live.model().statusMessage(), "before");
    EXPECT_EQ(live.model().searchSession().searchGeneration(), generation);
}

// The same with inotify reporting the changes.

// A folder reported again has its children compared with a listing of it,
// one level deep; only a folder new to the index is walked with its subtree.
// A folder both reported and holding a reported file is listed once.
TEST(FileEventsBatch, AFolderIsComparedByItsChildrenAndOnlyANewFolderIsWalked)
{
    LiveIndex live;
    writeFile(live.root / "docs" / "sub" / "deep" / "x.txt");
    ASSERT_TRUE(live.start());
    std::mutex mutex;
    std::vector<std::string> listed;
    live.listingFault = [&](const std::string& path) {
        std::lock_guard lock(mutex);
        listed.push_back(path);
        return 0;
    };
    writeFile(live.root / "docs" / "new.txt");
    fs::remove(live.root / "docs" / "a.txt");
    fs::rename(live.root / "docs" / "b.txt", live.root / "docs" / "renamed.txt");
    writeFile(live.root / "docs" / "fresh" / "inner" / "y.txt");
    ASSERT_TRUE(live.handle({live.at("docs"), live.at("docs/new.txt")}));

    EXPECT_EQ(indexedPathsUnder(live.h.databasePath(), live.root.string()), diskPathsUnder(live.root));
    std::lock_guard lock(mutex);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), live.at("docs")), 1);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), live.at("docs/sub")), 0) << "a known folder was walked";
    EXPECT_EQ(std::count(listed.begin(), listed.end(), live.at("docs/fresh/inner")), 1);
}

// Changes that waited behind a long batch are written by listing the folders
// that hold them, once each; in front the status line says the index is
// catching up, then that it has caught up; in the background it says
// nothing of it; and the index ends as the disk is.
TEST(FileEventsBatch, BehindTheIndexCatchesUpByItsFoldersAndSaysSoInFront)
{
    for (const bool inFront : {true, false}) {
        SCOPED_TRACE(inFront);
        LiveIndex live;
        fs::create_directories(live.root / "album");
        ASSERT_TRUE(live.start());
        AlbumHold hold;
        ASSERT_TRUE(hold.start(live));
        Gate& gate = hold.gate;
        const std::atomic<int>& docsListings = hold.docsListings;
        if (!inFront)
            live.model().foregroundActivity().applicationDidResignActive();
        const QString before = live.model().statusMessage();

        std::vector<std::string> changed;
        for (int i = 0; i < 40; ++i) {
            const std::string name = "n" + std::to_string(i) + ".txt";
            writeFile(live.root / "docs" / name);
            changed.push_back(live.at("docs/" + name));
        }
        fs::remove(live.root / "docs" / "a.txt");
        writeFile(live.root / "fresh" / "inner" / "y.txt");
        fs::remove(live.root / "keep.txt");
        for (const char* path : {"docs/a.txt", "fresh", "keep.txt"})
            changed.push_back(live.at(path));
        live.deliver(changed);
        ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, inFront ? 300ms : 1800ms));
        ASSERT_TRUE(waitFor([&] { return live.pending == 0; }));
        live.h.clock->advance(10s);  // the changes wait behind the album's batch
        live.h.log.clear();
        gate.open();
        ASSERT_TRUE(live.quiet());

        EXPECT_EQ(indexedPathsUnder(live.h.databasePath(), live.root.string()), diskPathsUnder(live.root));
        EXPECT_EQ(docsListings.load(), 1);
        EXPECT_EQ(live.h.logged("status:实时索引正在追上磁盘上的变化…"), inFront);
        if (inFront)
            EXPECT_EQ(live.model().statusMessage(), QStringLiteral("实时索引已追上磁盘上的变化，共 %1 项")
                                                        .arg(live.model().context().stores().local->indexedCount()));
        else
            EXPECT_EQ(live.model().statusMessage(), before);
    }
}

// Another program writes many files into one folder while the index is
// behind; a file made elsewhere meanwhile is searchable before the burst's
// changes are written, not after them.
TEST(FileEventsBatch, AFileMadeElsewhereIsNotHeldBehindABurst)
{
    // The first batch stops in its listing of the album; the burst's first
    // listing stops too, until the test has looked. The gates outlive the
    // model, whose workers may wait on them, and open however the test ends.
    Gate albumGate, burstGate;
    std::atomic<bool> holdAlbum{true}, holdBurst{true};
    LiveIndex live;
    const auto openGates = qScopeGuard([&] {
        albumGate.open();
        burstGate.open();
    });
    fs::create_directories(live.root / "album");
    fs::create_directories(live.root / "burst");
    ASSERT_TRUE(live.start());
    live.listingFault = [&](const std::string& path) {
        if (path == live.at("album") && holdAlbum.exchange(false))
            albumGate.waitOpen();
        if (path == live.at("burst") && holdBurst.exchange(false))
            burstGate.waitOpen();
        return 0;
    };
    writeFile(live.root / "album" / "x.jpg");
    live.deliver({live.at("album/x.jpg")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return albumGate.arrived(); }));

    std::vector<std::string> burst;
    for (int i = 0; i < 200; ++i) {
        const std::string name = "burst/f" + std::to_string(i) + ".txt";
        writeFile(live.root / name);
        burst.push_back(live.at(name));
    }
    live.deliver(burst);
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return live.pending == 0 && live.unfinished == 2; }));  // handed over on its own
    writeFile(live.root / "docs" / "late.txt");
    live.deliver({live.at("docs/late.txt")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return live.pending == 0 && live.unfinished == 3; }));
    live.h.clock->advance(10s);  // both wait behind the album's batch
    albumGate.open();

    ASSERT_TRUE(waitFor([&] { return live.indexed(live.at("docs/late.txt")) && burstGate.arrived(); }))
        << "the file made elsewhere waited for the burst";
    EXPECT_FALSE(live.indexed(live.at("burst/f0.txt")));
    EXPECT_GT(live.unfinished, 0);
    burstGate.open();
    ASSERT_TRUE(live.quiet());
    EXPECT_EQ(indexedPathsUnder(live.h.databasePath(), live.root.string()), diskPathsUnder(live.root));
    EXPECT_EQ(live.model().statusMessage(), QStringLiteral("实时索引已追上磁盘上的变化，共 %1 项")
                                                .arg(live.model().context().stores().local->indexedCount()));
}

TEST(FileEventsBatch, TheSliceBeingWrittenGivesWayBetweenFoldersToABatchHandedOver)
{
    // One slice lists three busy folders; the first listing stops until a
    // file made elsewhere is handed over. The slice must not go on to the
    // others first: however many folders it meets, the file waits for one.
    Gate firstGate, lastGate;
    std::atomic<bool> holdFirst{true}, holdLast{true};
    // Whether the file made elsewhere was in the index when the slice came to
    // the last folder: read there, as the slice runs again at once after it.
    std::atomic<bool> lateBeforeLast{false};
    LiveIndex live;
    const auto openGates = qScopeGuard([&] {
        firstGate.open();
        lastGate.open();
    });
    for (const char* folder : {"a", "b", "c"})
        fs::create_directories(live.root / "burst" / folder);
    ASSERT_TRUE(live.start());
    live.listingFault = [&](const std::string& path) {
        if (path == live.at("burst/a") && holdFirst.exchange(false))
            firstGate.waitOpen();
        if (path == live.at("burst/c") && holdLast.exchange(false)) {
            lateBeforeLast = live.indexed(live.at("docs/late.txt"));
            lastGate.waitOpen();
        }
        return 0;
    };
    std::vector<std::string> burst;
    for (const char* folder : {"a", "b", "c"})
        for (int i = 0; i < 100; ++i) {
            const std::string name = std::string("burst/") + folder + "/f" + std::to_string(i) + ".txt";
            writeFile(live.root / name);
            burst.push_back(live.at(name));
        }
    live.deliver(burst);
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return firstGate.arrived(); }));
    writeFile(live.root / "docs" / "late.txt");
    live.deliver({live.at("docs/late.txt")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return live.pending == 0 && live.unfinished == 2; }));
    firstGate.open();

    // The slice runs again, to its end.
    ASSERT_TRUE(waitFor([&] { return lastGate.arrived(); }));
    EXPECT_TRUE(live.indexed(live.at("docs/late.txt")));
    EXPECT_TRUE(lateBeforeLast) << "the slice listed every folder before the file made elsewhere";
    lastGate.open();
    ASSERT_TRUE(live.quiet());
    EXPECT_EQ(indexedPathsUnder(live.h.databasePath(), live.root.string()), diskPathsUnder(live.root));
}

// A write that fails on a full disk is said with its cause, the count stays
// what the index holds, and the batch is written once there is room again.
TEST(FileEventsBatch, AFullDiskIsSaidAndTheChangesAreWrittenOnceThereIsRoom)
{
    testsupport::DamagingSqliteVfs disk;
    LiveIndex live;
    ASSERT_TRUE(live.start());
    const std::int64_t before = live.model().context().stores().local->indexedCount();

    disk.setDiskFull(true);
    writeFile(live.root / "docs" / "new.txt");
    live.deliver({live.at("docs/new.txt")});
    ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 300ms));
    ASSERT_TRUE(waitFor([&] { return live.model().statusMessage().startsWith(QStringLiteral("磁盘空间不足")); }))
        << live.model().statusMessage().toStdString();
    EXPECT_TRUE(live.model().statusMessage().contains(QStringLiteral("共 %1 项").arg(before)));
    EXPECT_EQ(live.model().localIndex().indexedCount(), before);
    EXPECT_FALSE(live.indexed(live.at("docs/new.txt")));

    disk.setDiskFull(false);
    ASSERT_TRUE(live.quiet());
    EXPECT_TRUE(live.indexed(live.at("docs/new.txt")));
    EXPECT_EQ(live.model().localIndex().indexedCount(), before + 1);
    EXPECT_FALSE(live.model().statusMessage().contains(QStringLiteral("未能写入")));
    EXPECT_TRUE(live.model().statusMessage().endsWith(QStringLiteral("共 %1 项").arg(before + 1)));
}

// Files created, renamed and removed while no model ran are found by the
// next start's catch-up, which says once that it catches up.
TEST(FileEventsCatchUp, ChangesMadeWhileNoModelRanAreFoundAtTheNextStart)
{
    LiveIndex live;
    for (int i = 0; i < 30; ++i)
        writeFile(live.root / "still" / ("s" + std::to_string(i) + ".txt"));
    writeFile(live.root / "old" / "sub" / "x.txt");
    // Folder times an hour back: a change in the clock tick of the tree's
    // making would otherwise leave its folder's time as it was.
    const struct timespec old[2] = {{1'700'000'000, 0}, {1'700'000'000, 0}};
    for (const auto& entry : fs::recursive_directory_iterator(live.root))
        if (entry.is_directory())
            ::utimensat(AT_FDCWD, entry.path().c_str(), old, 0);
    ::utimensat(AT_FDCWD, live.root.c_str(), old, 0);
    ASSERT_TRUE(live.start());
    ASSERT_TRUE(live.indexed(live.at("old/sub/x.txt")));
    live.h.stop();

    writeFile(live.root / "docs" / "new.txt");
    fs::remove(live.root / "docs" / "a.txt");
    fs::rename(live.root / "keep.txt", live.root / "kept.txt");
    fs::remove_all(live.root / "old");
    writeFile(live.root / "fresh" / "inner" / "n.txt");

    live.h.bootstrapEnded = false;
    live.h.log.clear();
    live.startModel();
    ASSERT_TRUE(live.h.settle() && live.quiet());
    EXPECT_EQ(indexedPathsUnder(live.h.databasePath(), live.root.string()), diskPathsUnder(live.root));
    const auto said = std::find(live.h.log.begin(), live.h.log.end(), "status:正在补上未运行期间磁盘上的变化…");
    ASSERT_NE(said, live.h.log.end());
    EXPECT_EQ(std::count(said, live.h.log.end(), *said), 1);
    EXPECT_TRUE(live.h.logged("status:已补上未运行期间的变化，共 "
                              + std::to_string(live.model().context().stores().local->indexedCount()) + " 项"));
    EXPECT_EQ(live.model().localIndex().indexedCount(), live.model().context().stores().local->indexedCount());
}

struct RealWatcher : LiveIndex {
    // Lists the watcher handed over, counted on its thread; shared, as the
    // watcher goes after this.
    std::shared_ptr<std::atomic<int>> deliveries = std::make_shared<std::atomic<int>>(0);
    RealWatcher()
    {
        h.env.services.makeWatcher = [deliveries = deliveries](FSEventWatcher::Callback callback,
                                                               FSEventWatcher::ShortfallCallback) {
            return makeFileSystemWatcher([deliveries, callback = std::move(callback)](std::vector<std::string> paths) {
                ++*deliveries;
                callback(std::move(paths));
            });
        };
    }
    std::vector<std::string> shownNames()
    {
        std::vector<std::string> names;
        for (const IndexedItem& item : model().searchSession().results())
            names.emplace_back(item.name());
        return names;
    }
    // Real time for the watcher to report, fake time for the model's waits.
    bool until(const std::function<bool()>& condition, int timeoutMs = 30000)
    {
        return pumpUntil(*h.clock, condition, 100ms, timeoutMs);
    }
    // The watcher adds its watches on a thread of its own after each start:
    // a change is only seen once they stand, which a probe file shows.
    bool startWatching()
    {
        if (!start())
            return false;
        for (int attempt = 0; attempt < 20; ++attempt) {
            writeFile(root / ("probe" + std::to_string(attempt) + ".txt"));
            if (until([&] { return indexed(at("probe" + std::to_string(attempt) + ".txt")); }, 3000))
                return quiet();
        }
        return false;
    }
};

TEST(FileEventsRealWatcher, CreateDeleteAndRenameBecomeSearchable)
{
    RealWatcher live;
    ASSERT_TRUE(live.startWatching());
    live.model().searchSession().setSearchText("zebra");
    live.model().searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(live.until([&] { return live.model().searchSession().lastDisplayedQuery().has_value(); }));
    EXPECT_TRUE(live.model().searchSession().results().isEmpty());

    writeFile(live.root / "docs" / "zebra.txt");
    ASSERT_TRUE(live.until([&] { return live.shownNames() == std::vector<std::string>{"zebra.txt"}; }));
    EXPECT_EQ(live.model().statusMessage().left(9), QString::fromUtf8("实时索引已更新，共"));

    fs::create_directories(live.root / "zebra_folder");
    writeFile(live.root / "zebra_folder" / "inside.txt");
    ASSERT_TRUE(live.until([&] { return live.indexed(live.at("zebra_folder/inside.txt")); }));

    fs::rename(live.root / "zebra_folder", live.root / "zoo");
    ASSERT_TRUE(live.until([&] {
        return live.indexed(live.at("zoo/inside.txt")) && !live.indexed(live.at("zebra_folder"));
    }));

    fs::remove(live.root / "docs" / "zebra.txt");
    ASSERT_TRUE(live.until([&] { return live.model().searchSession().results().isEmpty() && !live.indexed(live.at("docs/zebra.txt")); }))
        << live.model().searchSession().results().size() << " shown " << (live.model().searchSession().results().isEmpty() ? "" : live.model().searchSession().results().front().path()) << ", indexed " << live.indexed(live.at("docs/zebra.txt")) << " status "
        << live.model().statusMessage().toStdString() << " pending " << live.pending
        << " batches " << live.unfinished << " q " << (live.model().searchSession().lastDisplayedQuery() ? live.model().searchSession().lastDisplayedQuery()->rawText : "-");
}

TEST(FileEventsRealWatcher, BackgroundBatchUpdatesSilently)
{
    RealWatcher live;
    ASSERT_TRUE(live.startWatching());
    live.model().searchSession().setSearchText("keep");
    live.model().searchSession().scheduleSearch(true, false);
    ASSERT_TRUE(live.until([&] { return live.shownNames() == std::vector<std::string>{"keep.txt"}; }));
    live.model().foregroundActivity().applicationDidResignActive();
    live.model().context().setStatusMessage("before");
    const auto count = live.model().localIndex().indexedCount();
    const auto generation = live.model().searchSession().searchGeneration();

    writeFile(live.root / "keep_too.txt");
    ASSERT_TRUE(live.until([&] { return live.model().localIndex().indexedCount() == count + 1; }));
    EXPECT_TRUE(live.indexed(live.at("keep_too.txt")));
    EXPECT_EQ(live.model().statusMessage(), "before");
    EXPECT_EQ(live.model().searchSession().searchGeneration(), generation);
    EXPECT_EQ(live.shownNames(), std::vector<std::string>{"keep.txt"});
}

TEST(FileEventsRealWatcher, BurstOfChangesEndsWithTheIndexMatchingTheDisk)
{
    RealWatcher live;
    ASSERT_TRUE(live.startWatching());
    // Files come and go and come back across several coalescing windows; any
    // batch applied out of order leaves a row for a file that is gone or
    // misses one that is there.
    for (int round = 0; round < 4; ++round) {
        const int delivered = *live.deliveries;
        for (int i = 0; i < 30; ++i)
            writeFile(live.root / "burst" / ("f" + std::to_string(i) + ".txt"));
        for (int i = round % 2; i < 30; i += 2)
            fs::remove(live.root / "burst" / ("f" + std::to_string(i) + ".txt"));
        if (round == 2)
            fs::rename(live.root / "burst", live.root / "burst_moved");
        if (round == 3)
            fs::rename(live.root / "burst_moved", live.root / "burst_back");
        // The round reaches the model, then its wait runs out: each round
        // has a window of its own.
        ASSERT_TRUE(waitFor([&] {
            return *live.deliveries > delivered && live.pending > 0;
        }));
        ASSERT_TRUE(advanceOnceSleeping(*live.h.clock, 400ms));
    }
    ASSERT_TRUE(live.until([&] {
        return indexedPathsUnder(live.h.databasePath(), live.root.string()) == diskPathsUnder(live.root)
               && live.unfinished == 0;
    }));
}

TEST(FileEventsRealWatcher, AtTheWatchLimitTheStatusLineSaysSoOnceWithTheCount)
{
    LiveIndex live;
    // The seam caps the watches at one: the root gets it, docs does not.
    live.h.env.services.makeWatcher = [](FSEventWatcher::Callback callback,
                                         FSEventWatcher::ShortfallCallback onShortfall) {
        FSEventWatcher::Options options;
        options.watchLimit = 1;
        options.onShortfall = std::move(onShortfall);
        return makeFileSystemWatcher(std::move(callback), std::move(options));
    };
    ASSERT_TRUE(live.start());
    const std::string text = "status:实时更新已达系统监控上限：仅监控了 1 个文件夹，其余文件夹的变化不会自动更新。"
                             "可提高 fs.inotify.max_user_watches（例如 sudo sysctl fs.inotify.max_user_watches=1048576）";
    ASSERT_TRUE(waitFor([&] { return live.h.logged(text); }));
    // The rebuild restarts the watcher, which meets the limit again: said once all the same.
    live.model().localIndex().rebuildIndex(false);
    ASSERT_TRUE(live.h.settle());
    ASSERT_TRUE(live.quiet());
    EXPECT_EQ(std::count(live.h.log.begin(), live.h.log.end(), text), 1);
}

} // namespace
} // namespace pallix
