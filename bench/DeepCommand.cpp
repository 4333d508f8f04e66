// deep: the peak memory of walking, or watching, one chain of folders as deep
// as asked (a folder "d" in a folder "d" ...), with a file at the bottom. Run
// once per depth and per walk: the peak is the process's own (VmHWM). With
// depth 0 no chain is made: the folder given is walked as it is (a wide tree,
// for the time and memory of the ordinary case).

#include <cstdio>
#include <fstream>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

#include "BenchSupport.h"
#include "Commands.h"
#include "Core/Indexer/FSEventWatcher.h"
#include "Core/Indexer/FileScanner.h"
#include "Platform/DeepChain.h"

namespace pallix::bench {

namespace {

long statusKiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    return -1;
}

} // namespace

int runDeep(const std::vector<std::string>& argv)
{
    const Args args(argv, {"dir", "depth", "walk", "batch"}, {});
    const std::string dir = args.required("dir");
    const int depth = args.integer("depth", 10000, 0);
    const std::string walk = args.get("walk", "scan");
    const int batchSize = args.integer("batch", 1000, 1);
    if (walk != "scan" && walk != "watch")
        throw UsageError("--walk scan|watch");

    std::optional<test::DeepChain> chain;
    if (depth > 0) {
        chain.emplace(dir, depth);
        ::close(::openat(chain->bottom(), "bottom.txt", O_CREAT | O_WRONLY, 0644));
    }
    const long before = statusKiB("VmHWM");
    const auto start = SteadyClock::now();
    std::size_t count = 0;
    double milliseconds = 0;
    if (walk == "scan") {
        FileScanner().scanInBatches({dir}, {}, true, batchSize,
                                    [&](const std::vector<IndexedItem>& batch) { count += batch.size(); });
        milliseconds = millisecondsSince(start);
    } else {
        FSEventWatcher watcher([](std::vector<std::string>) {});
        watcher.start({dir});
        // The time of start() alone: closing the watches is not part of it.
        milliseconds = millisecondsSince(start);
        count = watcher.watchCount();
    }
    std::printf("deep: %-5s depth %6d  %7zu %s  %9.1f ms  peak %8ld KiB  (%ld KiB before the walk)\n",
                walk.c_str(), depth, count, walk == "scan" ? "items  " : "watches", milliseconds,
                statusKiB("VmHWM"), before);
    if (chain)
        ::unlinkat(chain->bottom(), "bottom.txt", 0);
    return 0;
}

} // namespace pallix::bench
