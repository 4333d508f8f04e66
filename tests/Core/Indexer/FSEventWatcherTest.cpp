#include "Core/Indexer/FSEventWatcher.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "Platform/TempTree.h"

namespace pallix {
namespace {

using namespace std::chrono_literals;
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

// Waits (bounded, real time) until the delivery thread sleeps on the fake clock,
// which it does once the first change of a batch has arrived.
bool waitForSleeper(const FakeClock& clock, std::chrono::milliseconds timeout = 1500ms)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (clock.sleepers() == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

void touch(const std::string& path, std::string_view contents = "x")
{
    std::ofstream(path, std::ios::binary | std::ios::app) << contents;
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
    int maxQueued = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> maxQueued;
    if (maxQueued <= 0 || maxQueued > 100000)
        GTEST_SKIP() << "queue limit " << maxQueued << " too large to overflow quickly";

    TempTree tree;
    const std::string folder = tree.dir("many");
    // Holds the reading thread before its first read until released.
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool holding = true;
        bool held = false;
        void release()
        {
            std::lock_guard lock(mutex);
            holding = false;
            changed.notify_all();
        }
    };
    auto gate = std::make_shared<Gate>();
    Recorder recorder;
    FSEventWatcher::Options options = fastOptions();
    options.beforeRead = [gate] {
        std::unique_lock lock(gate->mutex);
        gate->held = true;
        gate->changed.notify_all();
        gate->changed.wait(lock, [&] { return !gate->holding; });
    };
    FSEventWatcher watcher(recorder.callback(), options);
    struct Releaser {
        std::shared_ptr<Gate> gate;
        ~Releaser() { gate->release(); }
    } releaser{gate};
    watcher.start({tree.root(), folder});

    touch(tree.path("first.txt"));
    {
        std::unique_lock lock(gate->mutex);
        ASSERT_TRUE(gate->changed.wait_for(lock, 1500ms, [&] { return gate->held; }));
    }
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
