// scan: FileScanner::scan over a real tree beside `find DIR -printf '%s %T@\n'`
// on the same tree, alternating, after checking that both see the same entries.

#include <cstdio>
#include <memory>
#include <set>

#include "BenchSupport.h"
#include "Commands.h"
#include "Core/Indexer/FileScanner.h"

namespace pallix::bench {

namespace {

std::string shellQuoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The lines `command` prints.
std::vector<std::string> linesOf(const std::string& command)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::vector<std::string> lines;
    std::string line;
    for (int c; (c = std::fgetc(pipe.get())) != EOF;) {
        if (c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    return lines;
}

double timeFind(const std::string& root)
{
    const std::string command = "find " + shellQuoted(root) + " -printf '%s %T@\\n' > /dev/null";
    const auto start = SteadyClock::now();
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("find failed on " + root);
    return millisecondsSince(start);
}

} // namespace

int runScan(const std::vector<std::string>& argv)
{
    const Args args(argv, {"root", "reps", "threads"}, {});
    const std::string root = paths::standardize(args.required("root"));
    const int reps = args.integer("reps", 5, 1);
    FileScanner::Options options;
    options.readAheadThreads =
        static_cast<unsigned>(args.integer("threads", static_cast<int>(FileScanner::defaultReadAheadThreads()), 0));
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec))
        throw UsageError("no folder at " + root);

    const FileScanner scanner(options);
    // The check: with nothing left out, the scanner lists exactly what find lists.
    // (The walk warms the page cache for both sides too.)
    const std::vector<std::string> found = linesOf("find " + shellQuoted(root) + " -printf '%p\\n'");
    std::set<std::string> fromFind(found.begin(), found.end());
    std::set<std::string> fromScanner;
    for (const IndexedItem& item : scanner.scan({root}, {}, false).items)
        fromScanner.emplace(item.path());
    if (fromFind != fromScanner) {
        std::printf("scan: WRONG: find lists %zu entries, the scanner %zu\n", fromFind.size(), fromScanner.size());
        return 1;
    }
    std::printf("scan: %zu entries, the same as find lists; %u read-ahead threads\n", fromFind.size(),
                options.readAheadThreads);

    // Timed as the application scans: junk left out of the items (but walked).
    std::vector<double> scanMs, findMs;
    std::size_t items = 0;
    for (int r = 0; r < reps; ++r) {
        const auto start = SteadyClock::now();
        items = scanner.scan({root}, {}, true).items.size();
        scanMs.push_back(millisecondsSince(start));
        findMs.push_back(timeFind(root));
    }
    const double entries = double(fromFind.size());
    const double scanMedian = median(scanMs), findMedian = median(findMs);
    std::printf("scan: FileScanner.scan  median %8.1f ms  %10.0f entries/s  (%zu items kept)\n", scanMedian,
                entries / (scanMedian / 1000), items);
    std::printf("scan: find -printf      median %8.1f ms  %10.0f entries/s\n", findMedian,
                entries / (findMedian / 1000));
    std::printf("scan: ratio scanner/find %.2f (below 1: the scanner is faster)\n", scanMedian / findMedian);
    return 0;
}

} // namespace pallix::bench
