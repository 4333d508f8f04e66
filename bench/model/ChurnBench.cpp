// pallix-churn-bench: the application model with the real inotify watcher on a
// real tree (make_tree.py) while files change: 10,000 changes (a third new
// files, a third renames, a third deletions of files the tree had, each path
// touched once) at a steady pace. For every change it polls the store until
// the index agrees with the disk and reports the delays (p50/p99); one search
// every 300 ms runs meanwhile on a thread of its own. At the end the whole
// index under the root is compared with a fresh walk of the disk. The tree is
// put back afterwards (deleted files come back empty).
//
// Usage: pallix-churn-bench --root TREE --work DIR [--changes 10000] [--change-us 2000] [--give-up-s 120]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>

#include "NearestRank.h"
#include "model/EventLoopWait.h"
#include "App/AppModel.h"
#include "App/Context/AppContext.h"
#include "App/Indexing/LocalIndex.h"
#include "App/Indexing/WatcherBatches.h"
#include "App/Search/SearchSession.h"
#include "Core/Config/SettingsStore.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/Indexer/FileScanner.h"
#include "Core/Search/SearchParser.h"

namespace pallix {
namespace {

using SteadyClock = std::chrono::steady_clock;

double msBetween(SteadyClock::time_point a, SteadyClock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The real watcher, started on a thread of its own as the application's is,
// counting the starts that have finished adding their watches.
class CountingWatcher final : public RootWatcher {
public:
    // Counts the deliveries that name the root itself: the watcher reports
    // the roots when the kernel's queue overflowed.
    CountingWatcher(FSEventWatcher::Callback onChange, std::string root)
        : m_watcher([this, onChange = std::move(onChange), root = std::move(root)](std::vector<std::string> paths) {
            if (std::find(paths.begin(), paths.end(), root) != paths.end())
                ++m_rootReports;
            onChange(std::move(paths));
        })
    {
    }
    ~CountingWatcher() override
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void start(const std::vector<std::string>& roots) override { start(roots, {}); }
    void start(const std::vector<std::string>& roots, const FSEventWatcher::WatchRules& rules) override
    {
        if (m_thread.joinable())
            m_thread.join();
        ++m_requested;
        m_thread = std::thread([this, roots, rules] {
            m_watcher.start(roots, rules);
            ++m_finished;
        });
    }
    int rootReports() const { return m_rootReports.load(); }
    // Every start asked for has added its watches.
    bool settled() const { return m_requested > 0 && m_finished.load() == m_requested; }

private:
    std::atomic<int> m_rootReports{0};  // before the watcher, whose threads count here
    FSEventWatcher m_watcher;
    std::thread m_thread;
    int m_requested = 0;
    std::atomic<int> m_finished{0};
};

// One change and what the index must show after it.
struct Change {
    std::string present;  // must be in the index ("" for a deletion)
    std::string absent;   // must not be ("" for a creation)
    SteadyClock::time_point at;
    double agreedMs = -1;
};

using bench::waitUntil;

std::set<std::string> indexedBelow(IndexStore& store, const std::string& root)
{
    std::set<std::string> paths;
    for (std::string after;;) {
        std::vector<std::string> page = store.pathsBelow(root, after, 5000);
        if (page.empty())
            return paths;
        after = page.back();
        paths.insert(page.begin(), page.end());
    }
}

// The changes to make: files the walk found (renamed and deleted) and new files beside them.
std::vector<Change> planChanges(const std::vector<IndexedItem>& walked, std::size_t count)
{
    std::vector<const IndexedItem*> files;
    std::vector<const IndexedItem*> folders;
    // A new file in a junk folder (a cache) is never indexed: none is planned there.
    const auto junkFolder = [](const IndexedItem& folder) {
        return IndexedItem::shouldExcludeAsSystemOrJunk(std::string(folder.path()) + "/n.txt", "n.txt", "txt", false);
    };
    for (const IndexedItem& item : walked)
        if (!item.isDirectory())
            files.push_back(&item);
        else if (!junkFolder(item))
            folders.push_back(&item);
    std::vector<Change> changes;
    for (std::size_t i = 0; i < count; ++i) {
        Change c;
        const std::string tag = std::to_string(i);
        if (i % 3 == 0) {
            c.present = std::string(folders[(i * 7919) % folders.size()]->path()) + "/churn-new-" + tag + ".txt";
        } else {
            const IndexedItem& file = *files[(i * 104729) % files.size()];
            c.absent = file.path();
            if (i % 3 == 1)
                c.present = std::string(file.parentPath()) + "/churn-renamed-" + tag + "-" + std::string(file.name());
        }
        changes.push_back(std::move(c));
    }
    // Each existing file once: drop repeats.
    std::set<std::string> seen;
    std::erase_if(changes, [&](const Change& c) { return !c.absent.empty() && !seen.insert(c.absent).second; });
    return changes;
}

void apply(const Change& c)
{
    if (c.absent.empty())
        std::ofstream(c.present, std::ios::binary);
    else if (c.present.empty())
        std::filesystem::remove(c.absent);
    else
        std::filesystem::rename(c.absent, c.present);
}

void undo(const Change& c)
{
    std::error_code ec;
    if (c.absent.empty())
        std::filesystem::remove(c.present, ec);
    else if (c.present.empty())
        std::ofstream(c.absent, std::ios::binary);
    else
        std::filesystem::rename(c.present, c.absent, ec);
}

// Polls the store for every change made and not yet seen in it, until all agree or `stop`.
void checkUntilAgreed(IndexStore& store, std::vector<Change>& changes, const std::atomic<std::size_t>& made,
                      const std::atomic<bool>& stop)
{
    std::size_t firstOpen = 0;
    while (!stop.load()) {
        const std::size_t upTo = made.load(std::memory_order_acquire);
        for (std::size_t i = firstOpen; i < upTo; ++i) {
            Change& c = changes[i];
            if (c.agreedMs >= 0)
                continue;
            const bool presentOk = c.present.empty() || !store.items({c.present}, 1).empty();
            const bool absentOk = c.absent.empty() || store.items({c.absent}, 1).empty();
            if (presentOk && absentOk)
                c.agreedMs = msBetween(c.at, SteadyClock::now());
        }
        while (firstOpen < upTo && changes[firstOpen].agreedMs >= 0)
            ++firstOpen;
        if (firstOpen == changes.size())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int run(const std::string& root, const std::filesystem::path& work, std::size_t count, int changeUs, int giveUpS)
{
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);
    AppModelEnvironment env;
    env.defaults = Defaults::inMemory();
    env.supportDirectory = work;
    // The tree as the one local volume: with none the model would index "/".
    MountedVolume volume;
    volume.mountPoint = root;
    volume.fileSystemType = "ext4";
    volume.kind = VolumeKind::Local;
    env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{volume});
    SettingsStore settings(env.defaults);
    AppSettings record = settings.settings();
    record.indexedRoots = {root};
    record.includeServerInSearch = false;
    settings.setSettings(record);
    settings.persist();
    CountingWatcher* watcher = nullptr;
    env.services.makeWatcher = [&](FSEventWatcher::Callback onChange, FSEventWatcher::ShortfallCallback) {
        auto made = std::make_unique<CountingWatcher>(std::move(onChange), root);
        watcher = made.get();
        return made;
    };

    AppModel model(env);
    bool started = false;
    QObject::connect(&model, &AppModel::bootstrapEnded, &model, [&] { started = true; });
    IndexStore& store = *model.context().stores().local;
    if (!waitUntil([&] { return started && store.status().cacheReady && store.status().searchIndexesComplete
                                && !model.localIndex().isIndexing() && watcher && watcher->settled(); }, 150000)) {
        std::fprintf(stderr, "the model did not finish its first scan: started %d, cache %d, indexes %d, "
                     "indexing %d, watcher %d\n", started, store.status().cacheReady,
                     store.status().searchIndexesComplete, model.localIndex().isIndexing(), watcher && watcher->settled());
        return 1;
    }
    const std::vector<IndexedItem> walked = FileScanner().scan({root}, {}, true).items;
    std::vector<Change> changes = planChanges(walked, count);
    std::printf("indexed %lld items under %s; %zu changes, one every %d us\n",
                static_cast<long long>(model.localIndex().indexedCount()), root.c_str(), changes.size(), changeUs);

    std::atomic<std::size_t> made{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        auto due = SteadyClock::now();
        for (Change& c : changes) {
            std::this_thread::sleep_until(due);
            due += std::chrono::microseconds(changeUs);
            c.at = SteadyClock::now();
            apply(c);
            made.fetch_add(1, std::memory_order_release);
        }
    });
    std::vector<double> searchMs;
    std::thread searcher([&] {
        const SearchParser parser;
        const std::vector<std::string> texts = {"report", "photo", "invoice 2023", "main.c", "会议", "churn", "readme"};
        for (std::size_t i = 0; !stop.load(); ++i) {
            const auto due = SteadyClock::now() + std::chrono::milliseconds(300);
            const SearchQuery q = parser.parse(texts[i % texts.size()], {SearchContentFilter::All}, false,
                                               SearchMatchMode::Contains, SearchSortField::Name, true, true);
            const auto start = SteadyClock::now();
            (void)store.search(q, 10000);
            searchMs.push_back(msBetween(start, SteadyClock::now()));
            std::this_thread::sleep_until(due);
        }
    });
    // Polls the store for every change made and not yet seen in it.
    std::atomic<bool> checked{false};
    std::thread checker([&] {
        checkUntilAgreed(store, changes, made, stop);
        checked = true;
    });
    const auto churnStart = SteadyClock::now();
    const bool agreed = waitUntil([&] { return checked.load(); }, giveUpS * 1000 + int(changes.size()) * changeUs / 1000);
    stop = true;
    writer.join();
    searcher.join();
    checker.join();
    const double churnMs = msBetween(churnStart, SteadyClock::now());
    if (!agreed)
        std::printf("gave up waiting for the index to agree\n");

    std::vector<double> delays;
    int shown = 0;
    for (const Change& c : changes) {
        if (c.agreedMs >= 0)
            delays.push_back(c.agreedMs);
        else if (shown++ < 5)
            std::printf("  not agreed: present \"%s\" absent \"%s\"\n", c.present.c_str(), c.absent.c_str());
    }
    std::printf("changes made in %.0f ms; index agreed for %zu of %zu\n",
                msBetween(changes.front().at, changes.back().at), delays.size(), changes.size());
    std::printf("change -> index agrees:  p50 %8.1f ms  p99 %8.1f ms  max %8.1f ms\n",
                bench::nearestRankPercentile(delays, 50), bench::nearestRankPercentile(delays, 99),
                bench::nearestRankPercentile(delays, 100));
    std::printf("searches meanwhile: %zu  p50 %8.1f ms  p99 %8.1f ms  max %8.1f ms  (over %.0f ms)\n",
                searchMs.size(), bench::nearestRankPercentile(searchMs, 50),
                bench::nearestRankPercentile(searchMs, 99), bench::nearestRankPercentile(searchMs, 100), churnMs);

    // The whole index against a fresh walk of the disk, once the model's
    // last batch had its time to run.
    waitUntil([] { return false; }, 3000);
    std::set<std::string> disk;
    for (const IndexedItem& item : FileScanner().scan({root}, {}, true).items)
        if (item.path() != root)
            disk.emplace(item.path());
    const std::set<std::string> indexed = indexedBelow(store, root);
    std::size_t missing = 0, extra = 0;
    for (const std::string& p : disk)
        if (!indexed.contains(p) && ++missing <= 5)
            std::printf("  missing: %s\n", p.c_str());
    for (const std::string& p : indexed)
        if (!disk.contains(p) && ++extra <= 5)
            std::printf("  extra:   %s\n", p.c_str());
    std::printf("status line: %s\n", model.statusMessage().toStdString().c_str());
    std::printf("deliveries naming the root (queue overflows): %d\n", watcher->rootReports());
    std::size_t outside = 0;
    for (const std::string& p : indexedBelow(store, "/"))
        if (!p.starts_with(root) && ++outside % 50000 == 1)
            std::printf("  outside the root: %s\n", p.c_str());
    std::printf("rows outside the root: %zu\n", outside);
    std::printf("full comparison: %zu on disk, %zu indexed, %zu missing from the index, %zu extra\n", disk.size(),
                indexed.size(), missing, extra);

    for (auto it = changes.rbegin(); it != changes.rend(); ++it)
        undo(*it);
    return delays.size() == changes.size() && missing == 0 && extra == 0 ? 0 : 2;
}

} // namespace
} // namespace pallix

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    std::string root, work;
    std::size_t changes = 10000;
    int changeUs = 2000;
    int giveUpS = 120;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--root")
            root = std::filesystem::absolute(argv[i + 1]).string();
        else if (name == "--work")
            work = argv[i + 1];
        else if (name == "--changes")
            changes = std::stoul(argv[i + 1]);
        else if (name == "--change-us")
            changeUs = std::stoi(argv[i + 1]);
        else if (name == "--give-up-s")
            giveUpS = std::stoi(argv[i + 1]);
    }
    if (root.empty() || work.empty()) {
        std::fprintf(stderr, "usage: pallix-churn-bench --root TREE --work DIR [--changes 10000] [--change-us 2000]"
                             " [--give-up-s 120]\n");
        return 2;
    }
    return pallix::run(root, std::filesystem::absolute(work), changes, changeUs, giveUpS);
}
