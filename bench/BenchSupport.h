#pragma once
// What the subcommands of pallix-bench share: the command line, timing and
// percentiles, memory probes, the corpus and query-set readers, and the
// store set-up and search exactly as the application makes them.
// Single-threaded: everything here runs on the program's main thread.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/IndexStoreProbe.h"
#include "Core/Search/SearchQuery.h"

namespace pallix::bench {

// Bad arguments or a missing input: main() prints the message and exits with 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "--name value" options, "--flag" switches and the text after "--".
class Args {
public:
    // `flags` take no value; every other "--name" takes the next argument.
    // Options may repeat (see all()). Anything unknown is a UsageError.
    Args(const std::vector<std::string>& argv, const std::set<std::string>& options,
         const std::set<std::string>& flags);

    bool has(const std::string& name) const { return m_values.contains(name); }
    // The last value of `name`, or `fallback`.
    std::string get(const std::string& name, const std::string& fallback = {}) const;
    std::string required(const std::string& name) const;
    std::vector<std::string> all(const std::string& name) const;
    int integer(const std::string& name, int fallback, int minimum) const;
    // The words after "--", joined by one space; nothing when there is no "--".
    std::optional<std::string> trailingText() const { return m_trailing; }

private:
    std::map<std::string, std::vector<std::string>> m_values;
    std::optional<std::string> m_trailing;
};

using SteadyClock = std::chrono::steady_clock;

inline double millisecondsSince(SteadyClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// Nearest-rank percentile as bench_plocate.py computes it, so both sides of the
// comparison are read the same way. `values` need not be sorted; empty gives 0.
double percentile(std::vector<double> values, double p);
double median(std::vector<double> values);

// Process memory: resident anonymous and file-backed pages, and the bytes the
// allocator has handed out and not taken back.
struct MemoryProbe {
    std::int64_t rssAnon = 0;
    std::int64_t rssFile = 0;
    std::int64_t heapInUse = 0;
    static MemoryProbe now();
};

// One line of the corpus: path \t is_dir \t size \t mtime.
struct CorpusEntry {
    std::string path;
    bool isDirectory = false;
    std::int64_t size = 0;
    double modifiedAt = 0;
};
// Reads the corpus line by line, handing over batches of `batchSize` entries
// (the remainder last). A malformed line is a UsageError naming it.
void readCorpus(const std::filesystem::path& file, std::size_t batchSize,
                const std::function<void(std::vector<CorpusEntry>&)>& onBatch);
// The record the scanner would make for the entry (no file-system access).
IndexedItem itemFromCorpus(const CorpusEntry& entry);

// One keystroke state of the query set: class \t query.
struct QueryCase {
    std::string queryClass;
    std::string text;  // what the user has typed (regex queries carry their "re:")
};
std::vector<QueryCase> readQueries(const std::filesystem::path& file);

// The options of the search window that shape a query.
struct QueryOptions {
    std::set<SearchContentFilter> contentFilters{SearchContentFilter::All};
    bool caseSensitive = false;
    SearchMatchMode matchMode = SearchMatchMode::Contains;
    SearchSortField sortField = SearchSortField::Name;
    bool ascending = true;
    bool excludeSystemJunk = true;  // the application's default
};
// Reads --mode, --case, --sort, --desc and --filter.
QueryOptions queryOptionsFrom(const Args& args);
SearchQuery parseQuery(std::string_view text, const QueryOptions& options);

// Selects the edition for the rest of the process ("mardell" or "qel").
void selectEdition(const std::string& edition);

// The database must exist: the store would create an empty one.
void requireDatabase(const std::filesystem::path& db);

// A bootstrapped store whose cache is installed and whose inverted indexes are
// complete, read by `probe`. Throws std::runtime_error when the bootstrap fails.
std::unique_ptr<IndexStore> openCompleteStore(const std::filesystem::path& db,
                                              std::shared_ptr<IndexStoreProbe> probe = std::make_shared<IndexStoreProbe>());
// Blocks until the store's indexes are complete (polling; the store offers no wait for it).
void waitForCompleteIndexes(const IndexStore& store);
// Blocks until every cached item has its name ordinal, which follow the indexes.
void waitForNameOrders(const IndexStoreProbe& probe);
// Until the stored lower-cased names are complete (an older file is filled after start-up).
void waitForLoweredNames(const IndexStoreProbe& probe);

} // namespace pallix::bench
