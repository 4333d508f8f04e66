// pallix-bench: measures the engine on a corpus, the way the application drives it.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSupport.h"
#include "Commands.h"
#include "Core/IndexDB/Sqlite.h"
#include "Platform/AllocatorArenas.h"

namespace {

constexpr std::string_view kUsage =
    "usage: pallix-bench COMMAND ...\n"
    "  load  --db FILE --list CORPUS.tsv [--batch 5500]\n"
    "  query --db FILE [--limit N] [--mode contains|prefix|suffix|exact] [--case]\n"
    "        [--sort name|path|size|modifiedAt] [--desc] [--filter KIND ...] [--edition mardell|qel] -- TEXT\n"
    "  type  --db FILE --queries QUERIES.tsv [--limit N] [--state complete|scan|database]\n"
    "        [--reps N] [--check all|N] [--csv OUT.csv] [--edition mardell|qel] [--include-junk]\n"
    "  open  --db FILE\n"
    "  scan  --root DIR [--reps N] [--threads N]\n"
    "  live  --db FILE --queries QUERIES.tsv [--seconds N] [--limit N] [--write-ms N] [--search-ms N]\n"
    "  deep  --dir DIR [--depth N] [--walk scan|watch] [--batch N]\n"
    "  catchup --root DIR --db FILE [--items N] [--changes N] [--reps N]\n"
    "  burst --root DIR --db FILE [--files N] [--per-folder N] [--road live|reconcile]\n";

int usage(const std::string& message)
{
    if (!message.empty())
        std::fprintf(stderr, "pallix-bench: %s\n", message.c_str());
    std::fputs(kUsage.data(), stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace pallix::bench;
    // The application's allocator setting; PALLIX_ARENAS=N compares another
    // limit, 0 the C library's default.
    const char* arenas = std::getenv("PALLIX_ARENAS");
    if (!arenas)
        pallix::limitAllocatorArenas();
    else if (const int n = std::atoi(arenas); n > 0)
        pallix::limitAllocatorArenas(n);
    // PALLIX_TRIM=0 leaves the C library's own trim and map limits.
    if (const char* trim = std::getenv("PALLIX_TRIM"); !trim || std::string(trim) != "0")
        pallix::fixAllocatorLimits();
    pallix::sqlite::configureProcess();
    if (argc < 2)
        return usage("");
    const std::string command = argv[1];
    const std::vector<std::string> rest(argv + 2, argv + argc);
    try {
        if (command == "load")
            return runLoad(rest);
        if (command == "query")
            return runQuery(rest);
        if (command == "type")
            return runType(rest);
        if (command == "open")
            return runOpen(rest);
        if (command == "scan")
            return runScan(rest);
        if (command == "live")
            return runLive(rest);
        if (command == "deep")
            return runDeep(rest);
        if (command == "catchup")
            return runCatchUp(rest);
        if (command == "burst")
            return runBurst(rest);
        return usage("unknown command \"" + command + "\"");
    } catch (const UsageError& e) {
        return usage(e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pallix-bench %s: %s\n", command.c_str(), e.what());
        return 1;
    }
}
