// catchup: the start's catch-up (StartupCatchUp) over a real tree against a
// full walk of the same tree, alternating: with nothing changed, and with a
// number of entries created, removed and renamed while nothing watched. After
// each catch-up with changes the index must hold exactly what a fresh walk
// finds. The tree (folders of 20 entries) and its index are made on the first
// run and reused; the changes of each repetition stay for the next.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <random>

#include "BenchSupport.h"
#include "Commands.h"
#include "Core/Indexer/FileScanner.h"
#include "Core/Indexer/StartupCatchUp.h"

namespace fs = std::filesystem;

namespace pallix::bench {

namespace {

constexpr int kEntriesPerFolder = 20;  // the folder and its 19 files
constexpr int kLeavesPerTop = 200;
constexpr timespec kOldTime{1'700'000'000, 0};

void makeFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot make " + path);
    ::close(fd);
}

std::string leafPath(const std::string& root, int leaf)
{
    return root + "/t" + std::to_string(leaf / kLeavesPerTop) + "/l" + std::to_string(leaf);
}

// Folders with their times set back: a change made in the same clock tick
// as the making would not show in its folder's time.
int makeTree(const std::string& root, int items)
{
    const int leaves = std::max(1, items / kEntriesPerFolder);
    fs::create_directories(root);
    for (int leaf = 0; leaf < leaves; ++leaf) {
        const std::string folder = leafPath(root, leaf);
        fs::create_directories(folder);
        for (int f = 1; f < kEntriesPerFolder; ++f)
            makeFile(folder + "/f" + std::to_string(f) + ".txt");
    }
    const timespec times[2] = {kOldTime, kOldTime};
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_directory())
            ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
    ::utimensat(AT_FDCWD, root.c_str(), times, 0);
    return leaves;
}

std::set<std::string> indexedPaths(IndexStore& store, const std::string& root)
{
    std::set<std::string> out;
    for (std::string after;;) {
        std::vector<std::string> page = store.pathsBelow(root, after, 5000);
        if (page.empty())
            return out;
        after = page.back();
        out.insert(page.begin(), page.end());
    }
}

// `count` changes spread over the leaves: 40 % new files, 30 % removed
// files, 20 % renamed files, 10 % as new folders of ten entries.
void makeChanges(const std::string& root, int leaves, int count, unsigned run)
{
    std::mt19937 random(run);
    std::uniform_int_distribution<int> anyLeaf(0, leaves - 1);
    const std::string tag = "r" + std::to_string(run) + "-";  // names no earlier run made
    int made = 0;
    for (int i = 0; made < count; ++i) {
        const std::string folder = leafPath(root, anyLeaf(random));
        const int kind = i % 10;
        if (kind < 4) {
            makeFile(folder + "/" + tag + "new" + std::to_string(i) + ".txt");
            ++made;
            continue;
        }
        // The first file of the folder still there, if any.
        std::string existing;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file()) {
                existing = entry.path().string();
                break;
            }
        if (kind < 9 && existing.empty())
            continue;
        if (kind < 7) {
            fs::remove(existing);
            ++made;
        } else if (kind < 9) {
            fs::rename(existing, folder + "/" + tag + "renamed" + std::to_string(i) + ".txt");
            ++made;
        } else {
            const std::string inner = folder + "/" + tag + "dir" + std::to_string(i);
            fs::create_directory(inner);
            for (int f = 0; f < 9; ++f)
                makeFile(inner + "/g" + std::to_string(f) + ".txt");
            made += 10;
        }
    }
}

} // namespace

int runCatchUp(const std::vector<std::string>& argv)
{
    const Args args(argv, {"root", "db", "items", "changes", "reps"}, {});
    const std::string root = paths::standardize(args.required("root"));
    const fs::path db = args.required("db");
    const int items = args.integer("items", 1000000, 20);
    const int changes = args.integer("changes", 10000, 1);
    const int reps = args.integer("reps", 3, 1);
    const FileScanner scanner;

    std::error_code ec;
    int leaves = std::max(1, items / kEntriesPerFolder);
    if (!fs::is_directory(root, ec)) {
        const auto start = SteadyClock::now();
        leaves = makeTree(root, items);
        fs::remove(db, ec);
        std::printf("catchup: made the tree of %d folders in %.1f s\n", leaves, millisecondsSince(start) / 1000);
    }
    const bool fresh = !fs::exists(db, ec);
    IndexStore store(db);
    if (!store.bootstrap())
        throw std::runtime_error("cannot open " + db.string());
    if (fresh) {
        const auto start = SteadyClock::now();
        scanner.scanInBatches({root}, {}, false, 5000, [&](const std::vector<IndexedItem>& batch) {
            if (!store.upsert(batch))
                throw std::runtime_error("cannot write the index");
        });
        std::printf("catchup: indexed the tree in %.1f s\n", millisecondsSince(start) / 1000);
    }
    store.waitForSearchCacheReady();
    std::printf("catchup: %lld items indexed under %s\n", static_cast<long long>(store.indexedCount()), root.c_str());

    std::vector<double> walkMs, idleMs, changedMs;
    bool allFound = true;
    for (int rep = 0; rep < reps; ++rep) {
        auto start = SteadyClock::now();
        const std::size_t walked = scanner.scan({root}, {}, false).items.size();
        walkMs.push_back(millisecondsSince(start));

        start = SteadyClock::now();
        const CatchUpOutcome idle = StartupCatchUp::run(store, scanner, {root}, {}, false);
        idleMs.push_back(millisecondsSince(start));
        if (idle.error || idle.changedAnything()) {
            std::printf("catchup: WRONG: nothing changed, yet %zu folders listed\n", idle.foldersListed);
            allFound = false;
        }

        makeChanges(root, leaves, changes, static_cast<unsigned>(std::time(nullptr)) * 16u + unsigned(rep));
        start = SteadyClock::now();
        const CatchUpOutcome caught = StartupCatchUp::run(store, scanner, {root}, {}, false);
        changedMs.push_back(millisecondsSince(start));

        std::set<std::string> onDisk;
        for (const IndexedItem& item : scanner.scan({root}, {}, false).items)
            if (item.path() != root)
                onDisk.emplace(item.path());
        const bool equal = !caught.error && indexedPaths(store, root) == onDisk;
        allFound = allFound && equal;
        std::printf("catchup: rep %d  walk %zu items %8.1f ms | nothing changed %8.1f ms, %zu folders checked | "
                    "%d changes %8.1f ms, %zu folders listed, %zu new  -> index %s the disk\n",
                    rep + 1, walked, walkMs.back(), idleMs.back(), idle.foldersChecked, changes, changedMs.back(),
                    caught.foldersListed, caught.foldersNew, equal ? "equals" : "DIFFERS FROM");
    }
    const double walk = median(walkMs), idle = median(idleMs), changed = median(changedMs);
    std::printf("catchup: median full walk %8.1f ms\n", walk);
    std::printf("catchup: median catch-up, nothing changed %8.1f ms  (%.2f x the walk; target <= 0.5)\n", idle,
                idle / walk);
    std::printf("catchup: median catch-up, %d changes  %8.1f ms  (%.2f x the walk)\n", changes, changed,
                changed / walk);
    std::printf("catchup: every change found: %s\n", allFound ? "yes" : "NO");
    return allFound ? 0 : 1;
}

} // namespace pallix::bench
