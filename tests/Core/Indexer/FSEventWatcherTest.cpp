#include "Core/Indexer/FSEventWatcher.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include "Platform/DeepChain.h"
#include "Platform/FileNames.h"
#include "Platform/Text.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
using test::DeepChain;
using test::TempTree;

// Collects deliveries. The watcher's threads need the kernel, so waits here are
// bounded real-time waits for an event, never sleeps that a result depends on.
class Recorder {
public:
    FSEventWatcher::Callback callback()
    {
        return [this](std::vector<std::string> paths) {
            std::lock_guard lock(m_mutex);
            m_deliveries.push_back(std::move(paths));
            m_changed.notify_all();
        };
    }

    // Waits until some delivered path equals `path`.
    bool waitFor(const std::string& path, std::chrono::milliseconds timeout = 1500ms)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return seenLocked(path); });
    }

    bool seen(const std::string& path)
    {
        std::lock_guard lock(m_mutex);
        return seenLocked(path);
    }

    std::vector<std::vector<std::string>> deliveries()
    {
        std::lock_guard lock(m_mutex);
        return m_deliveries;
    }

private:
    bool seenLocked(const std::string& path) const
    {
        return std::any_of(m_deliveries.begin(), m_deliveries.end(), [&](const auto& delivery) {
            return std::find(delivery.begin(), delivery.end(), path) != delivery.end();
        });
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::vector<std::string>> m_deliveries;
};

void touch(const std::string& path, std::string_view contents = "x")
{
    std::ofstream(path, std::ios::binary | std::ios::app) << contents;
}

// Waits (bounded, real time) until `condition` holds.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout = 3000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// Holds the thread that calls pass() while holding, until released.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false;
    bool held = false;

    void hold()
    {
        std::lock_guard lock(mutex);
        holding = true;
        held = false;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        holding = false;
        changed.notify_all();
    }
    void pass()
    {
        std::unique_lock lock(mutex);
        if (!holding)
            return;
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return !holding; });
    }
    bool waitHeld()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 1500ms, [&] { return held; });
    }
};

// Waits until the delivery thread sleeps on the fake clock, which it does once
// the first change of a batch has arrived.
bool waitForSleeper(const FakeClock& clock)
{
    return waitUntil([&] { return clock.sleepers() != 0; }, 1500ms);
}

// The kernel's event queue length when a test can overflow it quickly, else 0.
int smallQueueLimit()
{
    int maxQueued = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> maxQueued;
    return maxQueued > 0 && maxQueued <= 100000 ? maxQueued : 0;
}

FSEventWatcher::Options fastOptions()
{
    FSEventWatcher::Options options;
    options.latency = 50ms;
    return options;
}

TEST(FSEventWatcher, ReportsCreateModifyDeleteAndRenameAsStandardisedPaths)
{
    TempTree tree;
    tree.file("old.txt");
    tree.file("doomed.txt");
    tree.file("sub/inner.txt");
    Recorder recorder;
    FSEventWatcher watcher(recorder.callback(), fastOptions());
    watcher.start({tree.path("sub/../.") + "/"});
    EXPECT_EQ(watcher.watchCount(), 2u);

    touch(tree.path("new.txt"));
    touch(tree.path("sub/inner.txt"));
    ASSERT_EQ(std::rename(tree.path("old.txt").c_str(), tree.path("renamed.txt").c_str()), 0);
    ASSERT_EQ(::unlink(tree.path("doomed.txt").c_str()), 0);

    for (const char* name : {"new.txt", "sub/inner.txt", "old.txt", "renamed.txt", "doomed.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(recorder.waitFor(tree.path(name)));
    }
}

TEST(FSEventWatcher, GathersChangesForTheLatencyAfterTheFirst)
{
    TempTree tree;
    auto clock = std::make_shared<FakeClock>();
    Recorder recorder;
    FSEventWatcher::Options options;
    options.clock = clock;
    FSEventWatcher watcher(recorder.callback(), options);
    watcher.start({tree.root()});

    touch(tree.path("a.txt"));
    ASSERT_TRUE(waitForSleeper(*clock));
    touch(tree.path("b.txt"));
    clock->advance(699ms);
    EXPECT_FALSE(recorder.waitFor(tree.path("a.txt"), 50ms)) << "delivered before the latency";
    clock->advance(1ms);
    ASSERT_TRUE(recorder.waitFor(tree.path("a.txt")));

    // b.txt came within the latency: it travels with a.txt unless the kernel
    // was slower than the test, in which case it forms the next delivery.
    if (!recorder.seen(tree.path("b.txt"))) {
        ASSERT_TRUE(waitForSleeper(*clock));
        clock->advance(700ms);
        EXPECT_TRUE(recorder.waitFor(tree.path("b.txt")));
    }
    for (const auto& delivery : recorder.deliveries())
        EXPECT_FALSE(delivery.empty());
}

TEST(FSEventWatcher, WatchesFoldersCreatedOrMovedInAfterStart)
{
    TempTree tree;
    TempTree elsewhere;
    elsewhere.file("moved/deep/x.txt");
    Recorder recorder;
    FSEventWatcher watcher(recorder.callback(), fastOptions());
    watcher.start({tree.root()});

    tree.dir("made/nested/deeper");
    ASSERT_TRUE(recorder.waitFor(tree.path("made")));
    ASSERT_EQ(std::rename(elsewhere.path("moved").c_str(), tree.path("moved").c_str()), 0);
    ASSERT_TRUE(recorder.waitFor(tree.path("moved")));

    // The watch of a new folder is in place before the folder is reported.
    touch(tree.path("made/nested/deeper/f.txt"));
    touch(tree.path("moved/deep/y.txt"));
    EXPECT_TRUE(recorder.waitFor(tree.path("made/nested/deeper/f.txt")));
    EXPECT_TRUE(recorder.waitFor(tree.path("moved/deep/y.txt")));
}

// A folder named in GBK (合同), from an archive made elsewhere: watched, and
// reported under the stored form of its path, as the index keeps it.
TEST(FSEventWatcher, AFolderNamedInAnotherEncodingIsWatchedAndReportedByItsStoredPath)
{
    TempTree tree;
    const std::string folder = tree.dir("\xBA\xCF\xCD\xAC");
    const std::string excluded = tree.dir("skip\xFF");
    const auto stored = [](const std::string& bytes) { return filenames::fromFileSystem(bytes); };
    Recorder recorder;
    FSEventWatcher watcher(recorder.callback(), fastOptions());
    FSEventWatcher::WatchRules rules;
    rules.excludedPaths = {stored(excluded)};
    watcher.start({tree.root()}, rules);
    EXPECT_EQ(watcher.watchCount(), 2u);

    touch(excluded + "/ignored.txt");
    touch(folder + "/\xB7\xA2\xC6\xB1.pdf");
    tree.dir("\xBA\xCF\xCD\xAC/new\xC4");
    EXPECT_TRUE(recorder.waitFor(stored(folder + "/\xB7\xA2\xC6\xB1.pdf")));
    ASSERT_TRUE(recorder.waitFor(stored(folder + "/new\xC4")));
    touch(folder + "/new\xC4/inner.txt");
    EXPECT_TRUE(recorder.waitFor(stored(folder + "/new\xC4/inner.txt")));
    EXPECT_FALSE(recorder.seen(stored(excluded + "/ignored.txt")));
    for (const auto& delivery : recorder.deliveries())
        for (const std::string& path : delivery)
            EXPECT_TRUE(text::isValidUtf8(path)) << filenames::displayForm(filenames::fromFileSystem(path));

    // A root given by its stored path.
    Recorder fromRoot;
    FSEventWatcher rootWatcher(fromRoot.callback(), fastOptions());
    rootWatcher.start({stored(folder)});
    EXPECT_EQ(rootWatcher.watchCount(), 2u);
    touch(folder + "/new\xC4/again.txt");
    EXPECT_TRUE(fromRoot.waitFor(stored(folder + "/new\xC4/again.txt")));
}

TEST(FSEventWatcher, AFolderRenamedInsideTheTreeReportsUnderItsNewPath)
{
    TempTree tree;
    tree.file("before/inner/x.txt");
    Recorder recorder;
    FSEventWatcher watcher(recorder.callback(), fastOptions());
    watcher.start({tree.root()});

    ASSERT_EQ(std::rename(tree.path("before").c_str(), tree.path("after").c_str()), 0);
    ASSERT_TRUE(recorder.waitFor(tree.path("after")));
    touch(tree.path("after/inner/x.txt"));
    EXPECT_TRUE(recorder.waitFor(tree.path("after/inner/x.txt")));
    EXPECT_FALSE(recorder.seen(tree.path("before/inner/x.txt")));
}

TEST(FSEventWatcher, ASecondStartReplacesTheWatchedSet)
{
    TempTree first;
    TempTree second;
    first.dir("sub");
    Recorder recorder;
    FSEventWatcher watcher(recorder.callback(), fastOptions());
    watcher.start({first.root()});
    EXPECT_EQ(watcher.watchCount(), 2u);
    watcher.start({second.root(), second.path("missing")});
    EXPECT_EQ(watcher.watchCount(), 1u);

    touch(first.path("sub/ignored.txt"));
    touch(second.path("seen.txt"));
    ASSERT_TRUE(recorder.waitFor(second.path("seen.txt")));
    EXPECT_FALSE(recorder.seen(first.path("sub/ignored.txt")));

    watcher.start({});
    EXPECT_FALSE(watcher.isWatching());
    watcher.start({second.path("missing")});
    EXPECT_FALSE(watcher.isWatching());
}

TEST(FSEventWatcher, AFileRootReportsItsOwnChanges)
{
    TempTree tree;
    const std::string file = tree.file("single.txt");
    Recorder recorder;
    FSEventWatcher watcher(recorder.callback(), fastOptions());
    watcher.start({file});
    touch(file);
    EXPECT_TRUE(recorder.waitFor(file));
}

TEST(FSEventWatcher, AtTheWatchLimitItStopsAddingWatchesAndSaysSo)
{
    TempTree tree;
    for (const char* dir : {"a", "b", "c", "d"})
        tree.dir(dir);
    Recorder recorder;
    FSEventWatcher::Options options = fastOptions();
    options.watchLimit = 3;
    FSEventWatcher watcher(recorder.callback(), options);
    watcher.start({tree.root()});

    EXPECT_TRUE(watcher.watchLimitReached());
    EXPECT_EQ(watcher.watchCount(), 3u);
    touch(tree.path("top.txt"));
    EXPECT_TRUE(recorder.waitFor(tree.path("top.txt")));

    watcher.start({tree.path("a")});
    EXPECT_FALSE(watcher.watchLimitReached());
}

TEST(FSEventWatcher, ExcludedAndJunkTreesGetNoWatchAndReportNothing)
{
    TempTree tree;
    for (const char* dir : {"docs/deep", "excluded/inner", ".cache/thumbs", ".local/share/Trash/files"})
        tree.dir(dir);
    Recorder recorder;
    FSEventWatcher watcher(recorder.callback(), fastOptions());
    FSEventWatcher::WatchRules rules;
    rules.excludedPaths = {tree.path("excluded") + "/"};
    rules.skipSystemJunk = true;
    watcher.start({tree.root()}, rules);
    // The root, docs, docs/deep, .local, .local/share; not the trash, the cache or the excluded folder.
    EXPECT_EQ(watcher.watchCount(), 5u);

    touch(tree.path(".cache/thumbs/t.png"));
    touch(tree.path("excluded/x.txt"));
    touch(tree.path(".cache/new.txt"));
    touch(tree.path("docs/deep/seen.txt"));
    ASSERT_TRUE(recorder.waitFor(tree.path("docs/deep/seen.txt")));
    for (const char* quiet : {".cache/thumbs/t.png", "excluded/x.txt", ".cache/new.txt", ".cache", "excluded"})
        EXPECT_FALSE(recorder.seen(tree.path(quiet))) << quiet;
}

TEST(FSEventWatcher, TheFirstFoldersAreWatchedBeforeTheRestAndAShortfallIsToldOnce)
{
    TempTree tree;
    for (const char* dir : {"a/a1", "b/b1", "home/user/docs", "z"})
        tree.dir(dir);
    Recorder recorder;
    std::vector<FSEventWatcher::Shortfall> told;
    FSEventWatcher::Options options = fastOptions();
    options.watchLimit = 3;
    options.onShortfall = [&](const FSEventWatcher::Shortfall& s) { told.push_back(s); };
    FSEventWatcher watcher(recorder.callback(), options);
    FSEventWatcher::WatchRules rules;
    rules.firstFolders = {tree.path("home/user"), "/elsewhere/not/under/a/root"};
    watcher.start({tree.root()}, rules);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].limitReached);
    EXPECT_EQ(told[0].watched, 3u);
    // The home and the folder in it took two of the three watches, the root the last.
    touch(tree.path("home/user/docs/d.txt"));
    touch(tree.path("a/a1/no.txt"));
    touch(tree.path("top.txt"));
    ASSERT_TRUE(recorder.waitFor(tree.path("home/user/docs/d.txt")));
    ASSERT_TRUE(recorder.waitFor(tree.path("top.txt")));
    EXPECT_FALSE(recorder.seen(tree.path("a/a1/no.txt")));
}

TEST(FSEventWatcher, AnOverflowedQueueReportsTheRoots)
{
    const int maxQueued = smallQueueLimit();
    if (maxQueued == 0)
        GTEST_SKIP() << "the kernel's event queue is too large to overflow quickly";

    TempTree tree;
    const std::string folder = tree.dir("many");
    auto gate = std::make_shared<Gate>();
    gate->hold();
    Recorder recorder;
    FSEventWatcher::Options options = fastOptions();
    options.beforeRead = [gate] { gate->pass(); };
    FSEventWatcher watcher(recorder.callback(), options);
    struct Releaser {
        std::shared_ptr<Gate> gate;
        ~Releaser() { gate->release(); }
    } releaser{gate};
    watcher.start({tree.root(), folder});

    touch(tree.path("first.txt"));
    ASSERT_TRUE(gate->waitHeld());
    // The reader is held: these overflow the kernel's queue.
    for (int i = 0; i <= maxQueued; ++i)
        touch(folder + "/f" + std::to_string(i), "");
    gate->release();

    ASSERT_TRUE(recorder.waitFor(folder, 3000ms));
    EXPECT_TRUE(recorder.seen(tree.root()));
    // Still watching afterwards.
    touch(folder + "/after.txt");
    EXPECT_TRUE(recorder.waitFor(folder + "/after.txt"));
}

// Collects the folders the watcher lists and the threads that list them.
class ListingLog {
public:
    std::function<void(const std::string&)> seam()
    {
        return [this](const std::string& folder) {
            std::lock_guard lock(m_mutex);
            m_folders.push_back(folder);
            m_threads.push_back(std::this_thread::get_id());
        };
    }

    std::vector<std::string> take()
    {
        std::lock_guard lock(m_mutex);
        m_threads.clear();
        return std::exchange(m_folders, {});
    }

    std::optional<std::thread::id> listerOf(const std::string& folder)
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find(m_folders.begin(), m_folders.end(), folder);
        if (it == m_folders.end())
            return std::nullopt;
        return m_threads[std::size_t(it - m_folders.begin())];
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_folders;
    std::vector<std::thread::id> m_threads;
};

TEST(FSEventWatcher, AddingOrDroppingARootTouchesOnlyThatRootsWatches)
{
    TempTree kept;
    TempTree other;
    kept.dir("x/y");
    other.dir("p");
    ListingLog listings;
    Recorder recorder;
    FSEventWatcher::Options options = fastOptions();
    options.onListFolder = listings.seam();
    FSEventWatcher watcher(recorder.callback(), options);
    watcher.start({kept.root()});
    EXPECT_EQ(listings.take().size(), 3u);

    watcher.start({kept.root(), other.root()});
    EXPECT_THAT(listings.take(), testing::UnorderedElementsAre(other.root(), other.path("p")));
    EXPECT_EQ(watcher.watchCount(), 5u);

    // The same roots again (a rebuild's restart) walk nothing.
    watcher.start({kept.root(), other.root()});
    EXPECT_TRUE(listings.take().empty());

    watcher.start({other.root()});
    EXPECT_TRUE(listings.take().empty());
    EXPECT_EQ(watcher.watchCount(), 2u);
    touch(kept.path("x/y/unwatched.txt"));
    touch(other.path("p/seen.txt"));
    ASSERT_TRUE(recorder.waitFor(other.path("p/seen.txt")));
    EXPECT_FALSE(recorder.seen(kept.path("x/y/unwatched.txt")));
}

TEST(FSEventWatcher, AChangeUnderAKeptRootWhileANewRootIsWalkedIsReported)
{
    TempTree kept;
    TempTree added;
    added.dir("p");
    Recorder recorder;
    FSEventWatcher::Options options = fastOptions();
    options.onListFolder = [&](const std::string& folder) {
        if (folder == added.path("p"))
            touch(kept.path("during.txt"));
    };
    FSEventWatcher watcher(recorder.callback(), options);
    watcher.start({kept.root()});
    // The new root comes first: a restart from nothing would walk it before
    // the kept root had its watch back.
    watcher.start({added.root(), kept.root()});
    EXPECT_TRUE(recorder.waitFor(kept.path("during.txt")));
}

// Holds the watcher's reader while `change` runs, so that everything it does
// comes in one read of the event queue.
template <typename Change>
void inOneRead(Gate& reading, const std::string& poke, Change change)
{
    reading.hold();
    touch(poke);
    ASSERT_TRUE(reading.waitHeld());
    change();
    reading.release();
}

TEST(FSEventWatcher, AFolderMovedAroundTheTreeKeepsItsWatchesUntilItLeaves)
{
    TempTree tree;
    TempTree outside;
    tree.dir("from/moving/inner/deep");
    tree.dir("to");
    auto reading = std::make_shared<Gate>();
    ListingLog listings;
    Recorder recorder;
    FSEventWatcher::Options options = fastOptions();
    options.beforeRead = [reading] { reading->pass(); };
    options.onListFolder = listings.seam();
    FSEventWatcher watcher(recorder.callback(), options);
    struct Releaser {
        std::shared_ptr<Gate> gate;
        ~Releaser() { gate->release(); }
    } releaser{reading};
    FSEventWatcher::WatchRules rules;
    rules.skipSystemJunk = true;
    watcher.start({tree.root()}, rules);
    ASSERT_EQ(watcher.watchCount(), 6u);
    listings.take();

    // Into another folder: the watches move with it, nothing is walked again.
    inOneRead(*reading, tree.path("poke1"), [&] {
        ASSERT_EQ(std::rename(tree.path("from/moving").c_str(), tree.path("to/moved").c_str()), 0);
    });
    ASSERT_TRUE(recorder.waitFor(tree.path("to/moved")));
    touch(tree.path("to/moved/inner/deep/f.txt"));
    ASSERT_TRUE(recorder.waitFor(tree.path("to/moved/inner/deep/f.txt")));
    EXPECT_FALSE(recorder.seen(tree.path("from/moving/inner/deep/f.txt")));
    EXPECT_TRUE(listings.take().empty());
    EXPECT_EQ(watcher.watchCount(), 6u);

    // A new folder under the old name is watched apart from the moved one.
    // (Its path was reported already, by the move: wait for its watch instead.)
    tree.dir("from/moving");
    ASSERT_TRUE(waitUntil([&] { return watcher.watchCount() == 7; })) << watcher.watchCount();
    touch(tree.path("from/moving/new.txt"));
    touch(tree.path("to/moved/inner/old.txt"));
    EXPECT_TRUE(recorder.waitFor(tree.path("from/moving/new.txt")));
    EXPECT_TRUE(recorder.waitFor(tree.path("to/moved/inner/old.txt")));

    // Into a junk tree, and out of the tree: the watches go.
    inOneRead(*reading, tree.path("poke2"), [&] {
        ASSERT_EQ(std::rename(tree.path("to/moved").c_str(), tree.path(".cache").c_str()), 0);
        ASSERT_EQ(std::rename(tree.path("from/moving").c_str(), outside.path("moving").c_str()), 0);
    });
    EXPECT_TRUE(waitUntil([&] { return watcher.watchCount() == 3; })) << watcher.watchCount();
    touch(tree.path(".cache/inner/deep/g.txt"));
    touch(outside.path("moving/h.txt"));
    // Events of one watcher arrive in order: had those two been reported,
    // they would be by the time this one is.
    touch(tree.path("to/marker.txt"));
    ASSERT_TRUE(recorder.waitFor(tree.path("to/marker.txt")));
    for (const auto& delivery : recorder.deliveries())
        for (const std::string& path : delivery)
            EXPECT_THAT(path, testing::Not(testing::AnyOf(testing::HasSubstr("g.txt"), testing::HasSubstr("h.txt"))));

    // A folder deleted takes its watch with it.
    ASSERT_EQ(::unlink(tree.path("to/marker.txt").c_str()), 0);
    ASSERT_EQ(::rmdir(tree.path("to").c_str()), 0);
    EXPECT_TRUE(waitUntil([&] { return watcher.watchCount() == 2; })) << watcher.watchCount();
}

TEST(FSEventWatcher, ARootInsideAnotherIsWatchedOnceAndOutlivesIt)
{
    TempTree tree;
    tree.dir("inner/sub");
    tree.dir("beside");
    Recorder recorder;
    FSEventWatcher watcher(recorder.callback(), fastOptions());
    for (const auto& roots : {std::vector{tree.path("inner"), tree.root()}, std::vector{tree.root(), tree.path("inner")}}) {
        watcher.start({tree.path("missing")});
        watcher.start(roots);
        EXPECT_EQ(watcher.watchCount(), 4u);
        touch(tree.path("inner/sub/a.txt"));
        EXPECT_TRUE(recorder.waitFor(tree.path("inner/sub/a.txt")));
    }

    // The outer root dropped: the inner one is walked again and still reports.
    watcher.start({tree.path("inner")});
    EXPECT_EQ(watcher.watchCount(), 2u);
    touch(tree.path("beside/unseen.txt"));
    touch(tree.path("inner/sub/b.txt"));
    ASSERT_TRUE(recorder.waitFor(tree.path("inner/sub/b.txt")));
    EXPECT_FALSE(recorder.seen(tree.path("beside/unseen.txt")));
}

TEST(FSEventWatcher, OverflowsCoalesceIntoOneRewatchOffTheReadingThread)
{
    const int maxQueued = smallQueueLimit();
    if (maxQueued == 0)
        GTEST_SKIP() << "the kernel's event queue is too large to overflow quickly";

    TempTree tree;
    const std::string one = tree.file("one.txt");
    const std::string two = tree.file("two.txt");
    auto reading = std::make_shared<Gate>();
    auto rewatching = std::make_shared<Gate>();
    rewatching->hold();
    std::atomic<int> rewatchPasses{0};
    std::atomic<std::thread::id> reader{};
    ListingLog listings;
    Recorder recorder;
    FSEventWatcher::Options options = fastOptions();
    options.beforeRead = [reading, &reader] {
        reader = std::this_thread::get_id();
        reading->pass();
    };
    options.beforeRewatch = [rewatching, &rewatchPasses] {
        ++rewatchPasses;
        rewatching->pass();
    };
    options.onListFolder = listings.seam();
    FSEventWatcher watcher(recorder.callback(), options);
    struct Releaser {
        std::shared_ptr<Gate> a, b;
        ~Releaser() { a->release(), b->release(); }
    } releaser{reading, rewatching};
    watcher.start({tree.root()});

    const int fdOne = ::open(one.c_str(), O_WRONLY | O_APPEND);
    const int fdTwo = ::open(two.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fdOne, 0);
    ASSERT_GE(fdTwo, 0);
    for (int round = 0; round < 3; ++round) {
        reading->hold();
        touch(tree.path("poke" + std::to_string(round)));
        ASSERT_TRUE(reading->waitHeld());
        // Alternating writes are not merged: the held reader's queue overflows.
        for (int i = 0; i <= maxQueued; ++i)
            ASSERT_EQ(::write(i % 2 ? fdOne : fdTwo, "x", 1), 1);
        if (round == 2)
            tree.dir("late");  // its creation is lost with the overflow
        reading->release();
        // A marker is lost while the queue is still full: write it until one is reported.
        const std::string marker = tree.path("drained" + std::to_string(round));
        ASSERT_TRUE(waitUntil([&] {
            touch(marker);
            return recorder.waitFor(marker, 100ms);
        }, 5000ms));
    }
    ::close(fdOne);
    ::close(fdTwo);
    EXPECT_TRUE(recorder.seen(tree.root()));
    EXPECT_EQ(rewatchPasses.load(), 1);
    EXPECT_FALSE(listings.listerOf(tree.path("late")));

    rewatching->release();
    ASSERT_TRUE(waitUntil([&] { return listings.listerOf(tree.path("late")).has_value(); }));
    EXPECT_NE(*listings.listerOf(tree.path("late")), reader.load());
    touch(tree.path("late/inside.txt"));
    EXPECT_TRUE(recorder.waitFor(tree.path("late/inside.txt")));
    EXPECT_EQ(rewatchPasses.load(), 1);
}

TEST(FSEventWatcher, FoldersPastThePathLimitAreWatched)
{
    TempTree tree;
    DeepChain chain(tree.root(), 5000);
    ASSERT_GT(chain.path().size(), std::size_t(PATH_MAX) * 2);
    Recorder recorder;
    std::vector<FSEventWatcher::Shortfall> told;
    FSEventWatcher::Options options = fastOptions();
    options.onShortfall = [&](const FSEventWatcher::Shortfall& s) { told.push_back(s); };
    FSEventWatcher watcher(recorder.callback(), options);
    watcher.start({tree.root()});
    EXPECT_EQ(watcher.watchCount(), 5001u);
    EXPECT_TRUE(told.empty());

    const int file = ::openat(chain.bottom(), "deep.txt", O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    EXPECT_TRUE(recorder.waitFor(chain.path() + "/deep.txt", 5000ms));
}

TEST(FSEventWatcher, DestroyingItWhileABatchWaitsStopsItsThreads)
{
    TempTree tree;
    auto clock = std::make_shared<FakeClock>();
    Recorder recorder;
    {
        FSEventWatcher::Options options;
        options.clock = clock;
        FSEventWatcher watcher(recorder.callback(), options);
        watcher.start({tree.root()});
        touch(tree.path("pending.txt"));
        ASSERT_TRUE(waitForSleeper(*clock));
    }
    EXPECT_EQ(clock->sleepers(), 0);
    EXPECT_TRUE(recorder.deliveries().empty());
}

} // namespace
} // namespace pallix
