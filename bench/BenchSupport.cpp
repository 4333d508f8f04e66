#include "BenchSupport.h"

#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <thread>

#include "Core/Search/SearchParser.h"

namespace pallix::bench {

namespace {

std::vector<std::string_view> splitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

template <typename T>
bool readNumber(std::string_view s, T& out)
{
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

std::int64_t statusField(const std::string& status, const std::string& key)
{
    const std::size_t at = status.find(key + ":");
    if (at == std::string::npos)
        return 0;
    return std::atoll(status.c_str() + at + key.size() + 1) * 1024;  // the kernel reports kB
}

} // namespace

Args::Args(const std::vector<std::string>& argv, const std::set<std::string>& options,
           const std::set<std::string>& flags)
{
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (arg == "--") {
            std::string text;
            for (std::size_t j = i + 1; j < argv.size(); ++j)
                text += (j > i + 1 ? " " : "") + argv[j];
            m_trailing = text;
            return;
        }
        if (!arg.starts_with("--"))
            throw UsageError("unexpected argument \"" + arg + "\"");
        const std::string name = arg.substr(2);
        if (flags.contains(name)) {
            m_values[name].push_back("1");
        } else if (options.contains(name)) {
            if (i + 1 >= argv.size())
                throw UsageError("--" + name + " needs a value");
            m_values[name].push_back(argv[++i]);
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
}

std::string Args::get(const std::string& name, const std::string& fallback) const
{
    const auto it = m_values.find(name);
    return it == m_values.end() ? fallback : it->second.back();
}

std::string Args::required(const std::string& name) const
{
    if (!has(name))
        throw UsageError("--" + name + " is required");
    return get(name);
}

std::vector<std::string> Args::all(const std::string& name) const
{
    const auto it = m_values.find(name);
    return it == m_values.end() ? std::vector<std::string>{} : it->second;
}

int Args::integer(const std::string& name, int fallback, int minimum) const
{
    if (!has(name))
        return fallback;
    int value = 0;
    if (!readNumber(std::string_view(get(name)), value) || value < minimum)
        throw UsageError("--" + name + " wants a whole number of at least " + std::to_string(minimum));
    return value;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    // Python's round() rounds halves to even, as nearbyint does by default.
    const auto rank = static_cast<std::size_t>(std::nearbyint(p / 100.0 * double(values.size() - 1)));
    return values[std::min(values.size() - 1, rank)];
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

MemoryProbe MemoryProbe::now()
{
    std::ifstream in("/proc/self/status");
    const std::string status((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    MemoryProbe probe;
    probe.rssAnon = statusField(status, "RssAnon");
    probe.rssFile = statusField(status, "RssFile");
    const struct mallinfo2 info = mallinfo2();
    probe.heapInUse = static_cast<std::int64_t>(info.uordblks + info.hblkhd);
    return probe;
}

void readCorpus(const std::filesystem::path& file, std::size_t batchSize,
                const std::function<void(std::vector<CorpusEntry>&)>& onBatch)
{
    std::ifstream in(file);
    if (!in)
        throw UsageError("cannot read the corpus " + file.string());
    std::vector<CorpusEntry> batch;
    batch.reserve(batchSize);
    std::string line;
    std::size_t lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.empty())
            continue;
        const std::vector<std::string_view> f = splitTabs(line);
        CorpusEntry e;
        int isDir = 0;
        double mtime = 0;
        if (f.size() != 4 || f[0].empty() || !readNumber(f[1], isDir) || !readNumber(f[2], e.size) ||
            !readNumber(f[3], mtime))
            throw UsageError(file.string() + ":" + std::to_string(lineNumber) + ": not path\\tis_dir\\tsize\\tmtime");
        e.path = std::string(f[0]);
        e.isDirectory = isDir == 1;
        e.modifiedAt = mtime;
        batch.push_back(std::move(e));
        if (batch.size() == batchSize) {
            onBatch(batch);
            batch.clear();
        }
    }
    if (!batch.empty())
        onBatch(batch);
}

IndexedItem itemFromCorpus(const CorpusEntry& entry)
{
    FileMetadata metadata;
    metadata.isDirectory = entry.isDirectory;
    metadata.contentModifiedAt = entry.modifiedAt;
    if (!entry.isDirectory)
        metadata.fileSize = entry.size;
    std::optional<IndexedItem> item = IndexedItem::from(entry.path, metadata);
    if (!item)
        throw UsageError("the corpus path " + entry.path + " is not valid UTF-8");
    return std::move(*item);
}

std::vector<QueryCase> readQueries(const std::filesystem::path& file)
{
    std::ifstream in(file);
    if (!in)
        throw UsageError("cannot read the query set " + file.string());
    std::vector<QueryCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            throw UsageError("query set line without a class: " + line);
        QueryCase c{line.substr(0, tab), line.substr(tab + 1)};
        // The window reads an expression only after "re:".
        if (c.queryClass == "regex" && !c.text.starts_with("re:"))
            c.text = "re:" + c.text;
        cases.push_back(std::move(c));
    }
    if (cases.empty())
        throw UsageError("the query set " + file.string() + " is empty");
    return cases;
}

QueryOptions queryOptionsFrom(const Args& args)
{
    QueryOptions o;
    if (args.has("mode")) {
        const std::optional<SearchMatchMode> mode = searchMatchModeFromRaw(args.get("mode"));
        if (!mode)
            throw UsageError("--mode is contains, prefix, suffix or exact");
        o.matchMode = *mode;
    }
    if (args.has("sort")) {
        const std::optional<SearchSortField> field = searchSortFieldFromRaw(args.get("sort"));
        if (!field)
            throw UsageError("--sort is name, path, size or modifiedAt");
        o.sortField = *field;
    }
    if (args.has("filter")) {
        o.contentFilters.clear();
        for (const std::string& raw : args.all("filter")) {
            const std::optional<SearchContentFilter> filter = searchContentFilterFromRaw(raw);
            if (!filter)
                throw UsageError("unknown --filter " + raw);
            o.contentFilters.insert(*filter);
        }
    }
    o.caseSensitive = args.has("case");
    o.ascending = !args.has("desc");
    return o;
}

SearchQuery parseQuery(std::string_view text, const QueryOptions& o)
{
    static const SearchParser parser;
    return parser.parse(text, o.contentFilters, o.caseSensitive, o.matchMode, o.sortField, o.ascending,
                        o.excludeSystemJunk);
}

void selectEdition(const std::string& edition)
{
    if (edition == "qel")
        ::setenv("PALLIX_APP_ID", "io.pallix.qel", 1);
    else if (edition == "mardell")
        ::setenv("PALLIX_APP_ID", "io.pallix.desktop", 1);
    else
        throw UsageError("--edition is mardell or qel");
}

void requireDatabase(const std::filesystem::path& db)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(db, ec))
        throw UsageError("no index database at " + db.string());
}

std::unique_ptr<IndexStore> openCompleteStore(const std::filesystem::path& db, std::shared_ptr<IndexStoreProbe> probe)
{
    auto store = std::make_unique<IndexStore>(db, Clock::system(), probe);
    StoreResult<void> opened = store->bootstrap();
    if (!opened)
        throw std::runtime_error(opened.error().description());
    store->waitForSearchCacheReady();
    waitForCompleteIndexes(*store);
    waitForNameOrders(*probe);
    return store;
}

void waitForCompleteIndexes(const IndexStore& store)
{
    while (!store.status().searchIndexesComplete)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void waitForNameOrders(const IndexStoreProbe& probe)
{
    while (!probe.nameOrdersReady())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void waitForLoweredNames(const IndexStoreProbe& probe)
{
    while (!probe.isLoweredNameColumnComplete())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace pallix::bench
