// burst: the live index under a burst of new files. Over a tree already
// indexed (the catchup command's tree and database), the inotify watcher runs
// on the tree and a loop writes what it reports as the application's
// batches do (coalesced, one batch at a time); meanwhile a thread creates
// --files files in one burst under one folder, and halfway through one file
// elsewhere. Prints when every burst file was in the index, when the file
// elsewhere was, and the time of a fresh scan of the burst's subtree into the
// same index. `--road reconcile` writes the batches the way they were written
// before the live index learned to cost what changed (every reported folder
// walked whole and compared row by row), for the before figure;
// `--lost-every N` adds the root to every N-th batch, as the watcher reports
// it after its queue overflowed; `--busy-writers N` runs N other processes
// that write files in `--busy-dir` (outside the root unless given)
// for the whole run, as other programs on a busy machine do.
// The burst's files and rows are removed at the end.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "BenchSupport.h"
#include "Commands.h"
#include "Core/Indexer/FSEventWatcher.h"
#include "Core/Indexer/FileScanner.h"
#include "Core/Indexer/FolderReconciler.h"
#include "Core/Indexer/LiveChanges.h"

namespace fs = std::filesystem;

namespace pallix::bench {

namespace {

void makeFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot make " + path);
    ::close(fd);
}

// Other programs writing elsewhere: each process writes 16 KB files into a
// folder of its own, syncs every 64th and rewrites the same 512, until it is
// stopped. Processes, not threads: the kernel shares the machine between
// programs, not between the threads of this one.
class BusyWriters {
public:
    BusyWriters(int count, const std::string& folder)
    {
        for (int n = 0; n < count; ++n) {
            const std::string own = folder + "/w" + std::to_string(n);
            fs::create_directories(own);
            // Named before the fork: the child only calls the system.
            std::vector<std::string> names;
            for (int i = 0; i < 512; ++i)
                names.push_back(own + "/f" + std::to_string(i));
            const pid_t pid = ::fork();
            if (pid == 0)
                writeUntilStopped(names);
            if (pid > 0)
                m_children.push_back(pid);
        }
    }
    ~BusyWriters()
    {
        for (const pid_t pid : m_children)
            ::kill(pid, SIGTERM);
        for (const pid_t pid : m_children)
            ::waitpid(pid, nullptr, 0);
    }
    BusyWriters(const BusyWriters&) = delete;
    BusyWriters& operator=(const BusyWriters&) = delete;

private:
    [[noreturn]] static void writeUntilStopped(const std::vector<std::string>& names)
    {
        static char block[16384];
        for (std::uint64_t i = 0;; ++i) {
            const int fd = ::open(names[i % names.size()].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0)
                ::_exit(1);
            const bool wrote = ::write(fd, block, sizeof block) == ssize_t(sizeof block);
            if (i % 64 == 0)
                ::fsync(fd);
            ::close(fd);
            if (!wrote)
                ::_exit(1);
        }
    }

    std::vector<pid_t> m_children;
};

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " (1 min), " + five + " (5 min)";
}

// The watcher's deliveries, gathered as the application's receiver gathers
// them: everything that came until the disk was quiet for `quiet`, or at the
// latest `atMost` after the first path.
class Pending {
public:
    void add(std::vector<std::string> paths)
    {
        std::lock_guard lock(m_mutex);
        if (m_paths.empty())
            m_since = SteadyClock::now();
        for (std::string& path : paths)
            if (m_seen.insert(path).second)
                m_paths.push_back(std::move(path));
        m_last = SteadyClock::now();
        m_changed.notify_all();
    }
    // Empty once `stop` is set and nothing is pending; `since` is the first
    // arrival of what it returns.
    std::vector<std::string> take(const std::atomic<bool>& stop, SteadyClock::time_point& since)
    {
        using namespace std::chrono_literals;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait_for(lock, 50ms, [&] { return !m_paths.empty() || stop; });
            if (m_paths.empty() && stop)
                return {};
            if (isDue())
                break;
        }
        return handOver(since);
    }
    // What is due now, without waiting: the writer has a slice of its own to go on with.
    std::vector<std::string> takeDue(SteadyClock::time_point& since)
    {
        std::lock_guard lock(m_mutex);
        return isDue() ? handOver(since) : std::vector<std::string>{};
    }
    bool empty()
    {
        std::lock_guard lock(m_mutex);
        return m_paths.empty();
    }
    // Whether a batch would be handed over now: the slice being written gives way to it.
    bool due()
    {
        std::lock_guard lock(m_mutex);
        return isDue();
    }

private:
    bool isDue() const
    {
        using namespace std::chrono_literals;
        const auto now = SteadyClock::now();
        return !m_paths.empty() && (now - m_last >= 300ms || now - m_since >= LiveChanges::kHandOverAtMost);
    }
    std::vector<std::string> handOver(SteadyClock::time_point& since)
    {
        since = m_since;
        m_seen.clear();
        return std::exchange(m_paths, {});
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_paths;
    std::unordered_set<std::string> m_seen;
    SteadyClock::time_point m_since, m_last;
};

// The batch as it was written before: each reported folder walked whole and
// its rows compared, each file upserted, each parent listed.
void writeAsBefore(IndexStore& store, const FileScanner& scanner, const std::vector<std::string>& paths,
                   const LiveScope& scope)
{
    std::vector<IndexedItem> files;
    std::vector<std::string> folders;
    for (const std::string& path : paths) {
        const std::optional<IndexedItem> item = IndexedItem::from(path);
        if (!item)
            continue;
        if (item->isDirectory())
            folders.push_back(path);
        else
            files.push_back(*item);
    }
    FolderReconciler::inSlices(files, [&](const std::vector<IndexedItem>& slice) { return store.upsert(slice).has_value(); });
    for (const std::string& folder : folders)
        (void)FolderReconciler::reconcile(store, scanner, folder, scope.excludedPaths, scope.excludeSystemJunk);
    std::vector<IndexStore::FolderListing> listings;
    for (const std::string& parent : LiveChanges::foldersHolding(paths, scope.roots))
        if (auto listed = scanner.scanImmediateChildren(parent, scope.excludedPaths, scope.excludeSystemJunk))
            listings.push_back({parent, std::move(*listed)});
    (void)store.synchronizeFolders(listings);
}

// One batch's write, for where the time goes.
struct BatchTime {
    std::size_t paths = 0;
    std::size_t folders = 0;  // holding its paths
    bool behind = false;
    bool elsewhere = false;  // holds the file made elsewhere
    double startMs = 0;
    double waitedMs = 0;  // its oldest change, when taken
    double writeMs = 0;
    bool storeBusy = false;  // the store ran a job of its own (its search indexes' rebuild) when the write began
    bool gaveWay = false;    // stopped for a batch due meanwhile, and written again later
};

void printSlowest(std::vector<BatchTime> times)
{
    const auto print = [](const char* what, const BatchTime& t) {
        std::printf("burst: %s batch at %.1f s: %zu paths in %zu folders%s, waited %.2f s, written in %.2f s%s%s\n",
                    what, t.startMs / 1000, t.paths, t.folders, t.behind ? " (behind)" : "", t.waitedMs / 1000,
                    t.writeMs / 1000, t.storeBusy ? ", the store busy with a job of its own" : "",
                    t.gaveWay ? ", gave way" : "");
    };
    for (const BatchTime& t : times)
        if (t.elsewhere)
            print("the file elsewhere's", t);
    std::sort(times.begin(), times.end(), [](const BatchTime& a, const BatchTime& b) { return a.writeMs > b.writeMs; });
    for (std::size_t i = 0; i < std::min<std::size_t>(5, times.size()); ++i)
        print("a slowest", times[i]);
}

struct Burst {
    std::vector<BatchTime> times;
    double allSearchableMs = -1;
    double elsewhereMs = -1;
    int batches = 0;
    int behindBatches = 0;
    int lostBatches = 0;  // holding a root: the watcher's queue overflowed
    int gaveWay = 0;
};

} // namespace

int runBurst(const std::vector<std::string>& argv)
{
    const Args args(argv,
                    {"root", "db", "files", "per-folder", "road", "lost-every", "busy-writers", "busy-dir", "search",
                     "search-every"},
                    {});
    const std::string root = paths::standardize(args.required("root"));
    const fs::path db = args.required("db");
    const int files = args.integer("files", 100000, 1);
    const int perFolder = args.integer("per-folder", 1000, 1);
    const bool before = args.get("road", "live") == "reconcile";
    // As if the kernel's queue overflowed before every n-th batch: the watcher then reports the root.
    const int lostEvery = args.integer("lost-every", 0, 0);
    const int busyWriters = args.integer("busy-writers", 0, 0);
    const std::string busyDir = paths::standardize(args.get("busy-dir", root + "-busy-elsewhere"));
    // Files the other processes keep under the root, once all are made (their
    // folders are made before the watcher starts: the live index lists them,
    // it never meets them new).
    const std::int64_t busyRows = paths::isUnder(busyDir, root) ? std::int64_t(busyWriters) * 512 : 0;
    if (!fs::is_directory(root) || !fs::exists(db))
        throw UsageError("make the tree and its index first: pallix-bench catchup --root DIR --db FILE --reps 1");
    // Before any thread of this process starts: the writers are forked.
    std::optional<BusyWriters> others;
    if (busyWriters > 0) {
        fs::remove_all(busyDir);
        others.emplace(busyWriters, busyDir);
        std::printf("burst: %d other processes write files in %s\n", busyWriters, busyDir.c_str());
    }
    const FileScanner scanner;
    const LiveScope scope{{root}, {}, false};
    const auto probe = std::make_shared<IndexStoreProbe>();
    IndexStore store(db, Clock::system(), probe);
    if (!store.bootstrap())
        throw std::runtime_error("cannot open " + db.string());
    store.waitForSearchCacheReady();
    const std::string burst = root + "/burst";
    const std::string elsewhere = root + "/t0/l0/made-during-the-burst.txt";
    fs::remove_all(burst);
    fs::remove(elsewhere);
    (void)store.removePathPrefixes({burst, elsewhere, busyDir});
    const std::int64_t base = store.indexedCount() + busyRows;
    std::printf("burst: %lld items indexed under %s; %d files in folders of %d, road %s, root reported every %d "
                "batches\n",
                static_cast<long long>(base), root.c_str(), files, perFolder, before ? "reconcile" : "live", lostEvery);

    Pending pending;
    FSEventWatcher watcher([&](std::vector<std::string> paths) { pending.add(std::move(paths)); });
    auto start = SteadyClock::now();
    watcher.start({root});
    std::printf("burst: watching %zu folders after %.1f s\n", watcher.watchCount(), millisecondsSince(start) / 1000);

    std::atomic<bool> stop{false};
    Burst out;
    // `--search TEXT`: the shown search asked again after a batch, as the
    // window in front asks it, on a thread of its own as on the pool: after
    // every batch, or with `--search-every MS` at most that often while more
    // batches follow (the last batch of a run always asks).
    const auto searchEvery = std::chrono::milliseconds(args.integer("search-every", 0, 0));
    std::optional<SteadyClock::time_point> lastAsked;
    std::atomic<int> searchesAsked{0};
    std::vector<double> searchMs;
    std::thread searcher([&] {
        if (args.get("search", "").empty())
            return;
        const SearchQuery query = parseQuery(args.get("search", ""), {});
        int seen = 0;
        while (!stop) {
            if (searchesAsked.load() == seen) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            seen = searchesAsked.load();
            const auto searching = SteadyClock::now();
            (void)store.search(query, 1000);
            searchMs.push_back(millisecondsSince(searching));
        }
    });
    const auto burstStart = SteadyClock::now();  // the writer's times count from here
    std::thread writer([&] {
        // The slices of batches not written yet, behind which the
        // application queues them: a batch handed over goes first. A slice
        // that gave way once is written to its end the next time.
        struct Slice {
            std::vector<std::string> paths;
            SteadyClock::time_point since;
            bool mayGiveWay = true;
        };
        std::deque<Slice> slices;
        for (;;) {
            SteadyClock::time_point since;
            std::vector<std::string> paths = slices.empty() ? pending.take(stop, since) : pending.takeDue(since);
            if (paths.empty() && slices.empty())
                return;
            const bool handedOver = !paths.empty();
            bool mayGiveWay = !before;
            if (!handedOver) {
                mayGiveWay = mayGiveWay && slices.front().mayGiveWay;
                paths = std::move(slices.front().paths);
                since = slices.front().since;
                slices.pop_front();
            }
            const Clock::Duration waited = std::chrono::duration_cast<Clock::Duration>(SteadyClock::now() - since);
            const bool behind = LiveChanges::isBehind(paths, scope.roots, waited);
            if (handedOver && !before) {
                std::vector<std::vector<std::string>> cut = LiveChanges::slices(std::move(paths), scope.roots);
                paths = std::move(cut.front());
                for (std::size_t i = 1; i < cut.size(); ++i)
                    slices.push_back({std::move(cut[i]), since});
            }
            ++out.batches;
            if (lostEvery > 0 && out.batches % lostEvery == 0)
                paths.push_back(root);
            out.behindBatches += behind;
            out.lostBatches += std::find(paths.begin(), paths.end(), root) != paths.end();
            BatchTime time{paths.size(), LiveChanges::foldersHolding(paths, scope.roots).size(), behind,
                           std::find(paths.begin(), paths.end(), elsewhere) != paths.end(), millisecondsSince(burstStart),
                           std::chrono::duration<double, std::milli>(waited).count()};
            time.storeBusy = probe->runningBackgroundJobs() > 0;
            const auto writing = SteadyClock::now();
            if (before) {
                writeAsBefore(store, scanner, paths, scope);
            } else {
                LiveChanges::GiveWay giveWay;
                if (mayGiveWay)
                    giveWay = [&pending] { return pending.due(); };
                time.gaveWay = LiveChanges::write(store, scanner, paths, scope, behind, nullptr, giveWay).gaveWay;
            }
            time.writeMs = millisecondsSince(writing);
            const bool moreToCome = !slices.empty() || !pending.empty();
            if (!moreToCome || !lastAsked || SteadyClock::now() - *lastAsked >= searchEvery) {
                lastAsked = moreToCome ? std::optional(SteadyClock::now()) : std::nullopt;
                ++searchesAsked;
            }
            if (time.gaveWay) {
                ++out.gaveWay;
                slices.push_front({paths, since, false});
            }
            out.times.push_back(time);
        }
    });

    const int folders = (files + perFolder - 1) / perFolder;
    const std::int64_t wanted = base + 1 + folders + files + 1;  // the burst folder, its folders, files, elsewhere
    start = burstStart;
    std::atomic<double> elsewhereMadeAt{-1};
    std::thread maker([&] {
        fs::create_directory(burst);
        for (int i = 0; i < files; ++i) {
            const std::string folder = burst + "/d" + std::to_string(i / perFolder);
            if (i % perFolder == 0)
                fs::create_directory(folder);
            makeFile(folder + "/f" + std::to_string(i) + ".txt");
            if (i == files / 2) {
                makeFile(elsewhere);
                elsewhereMadeAt = millisecondsSince(start);
            }
        }
    });
    // Polled while the files are made, and after.
    std::atomic<double> madeAt{-1};
    std::thread waiter([&] {
        maker.join();
        madeAt = millisecondsSince(start);
    });
    using namespace std::chrono_literals;
    const auto limit = SteadyClock::now() + 10min;
    double longestPollMs = 0;  // a look into the store that waited for its lock
    while (SteadyClock::now() < limit && (out.allSearchableMs < 0 || out.elsewhereMs < 0)) {
        const auto polling = SteadyClock::now();
        if (out.elsewhereMs < 0 && elsewhereMadeAt >= 0 && !store.items({elsewhere}, 1).empty())
            out.elsewhereMs = millisecondsSince(start) - elsewhereMadeAt;
        if (out.allSearchableMs < 0 && store.indexedCount() >= wanted)
            out.allSearchableMs = millisecondsSince(start);
        longestPollMs = std::max(longestPollMs, millisecondsSince(polling));
        std::this_thread::sleep_for(20ms);
    }
    waiter.join();
    const double madeMs = madeAt;
    std::printf("burst: %d files made in %.1f s; load average %s\n", files, madeMs / 1000, loadAverage().c_str());
    stop = true;
    writer.join();
    searcher.join();
    if (!searchMs.empty()) {
        std::sort(searchMs.begin(), searchMs.end());
        double total = 0;
        for (const double ms : searchMs)
            total += ms;
        std::printf("burst: %zu searches after batches, median %.0f ms, longest %.0f ms, %.1f s in all\n",
                    searchMs.size(), searchMs[searchMs.size() / 2], searchMs.back(), total / 1000);
    }

    // The subtree scanned afresh into the same index.
    (void)store.removePathPrefixes({burst});
    start = SteadyClock::now();
    scanner.scanInBatches({burst}, {}, false, int(FolderReconciler::kSlice), [&](const std::vector<IndexedItem>& slice) {
        (void)store.upsert(slice);
    });
    const double scanMs = millisecondsSince(start);
    others.reset();
    if (busyWriters > 0)
        fs::remove_all(busyDir);

    const double lagMs = out.allSearchableMs - madeMs;
    std::printf("burst: every burst file searchable %.1f s after the first was made, %.1f s after the last "
                "(%d batches, %d behind, %d after lost events, %d gave way)\n",
                out.allSearchableMs / 1000, lagMs / 1000, out.batches, out.behindBatches, out.lostBatches, out.gaveWay);
    std::printf("burst: a fresh scan of the burst's subtree into the index %.1f s; after the last file made the "
                "live index took %.2f x that (target <= 2); the whole burst %.2f x\n",
                scanMs / 1000, lagMs / scanMs, out.allSearchableMs / scanMs);
    std::printf("burst: the file made elsewhere halfway showed after %.2f s (target < 5)\n", out.elsewhereMs / 1000);
    printSlowest(out.times);
    std::size_t busy = 0;
    double busyMs = 0, allMs = 0;
    for (const BatchTime& t : out.times) {
        busy += t.storeBusy;
        busyMs += t.storeBusy ? t.writeMs : 0;
        allMs += t.writeMs;
    }
    std::printf("burst: the longest look into the store (a file's row and the count) took %.2f s\n",
                longestPollMs / 1000);
    std::printf("burst: %zu of %zu batches began while the store ran a job of its own; they took %.1f of the %.1f s "
                "of writing\n",
                busy, out.times.size(), busyMs / 1000, allMs / 1000);
    fs::remove_all(burst);
    fs::remove(elsewhere);
    (void)store.removePathPrefixes({burst, elsewhere, busyDir});
    return out.allSearchableMs >= 0 && out.elsewhereMs >= 0 ? 0 : 1;
}

} // namespace pallix::bench
