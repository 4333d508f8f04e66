// type: the latency of every keystroke state of a query set, in one cache state
// of the store, after checking the answers against AnswerCheck.
//  complete  IndexStore::search with complete inverted indexes (the full limit);
//  scan      the typing search over the cached list: the linear scan with the
//            typing candidate cap, ranked with the typing limit (typingSearch),
//            each run right after the keystroke before it;
//  database  the typing-fast prefix search of names on the store's connection.

#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "AnswerCheck.h"
#include "BenchSupport.h"
#include "Commands.h"
#include "HostSteal.h"

namespace pallix::bench {

namespace {

enum class CacheState { Complete, Scan, Database };

struct Route {
    CacheState state = CacheState::Complete;
    int limit = 10000;

    // The application's typing limit and candidate cap.
    TypingBudget typing() const { return TypingBudget::typing(limit); }

    std::vector<IndexedItem> run(IndexStore& store, const SearchQuery& query) const
    {
        switch (state) {
        case CacheState::Complete: return store.search(query, limit);
        case CacheState::Scan: return store.typingSearch(query, typing());
        case CacheState::Database: return store.typingFastDatabaseSearch(query, typing().limit);
        }
        return {};
    }

    std::optional<std::string> check(const AnswerCheck& reference, const IndexStoreProbe& store, const SearchQuery& query,
                                     const std::vector<IndexedItem>& answer) const
    {
        switch (state) {
        case CacheState::Complete: return reference.checkComplete(store, query, limit, answer);
        case CacheState::Scan: return reference.checkScan(query, typing().limit, typing().candidateCap, answer);
        case CacheState::Database: return reference.checkDatabase(query, typing().limit, answer);
        }
        return std::nullopt;
    }
};

CacheState cacheStateFrom(const std::string& raw)
{
    if (raw == "complete")
        return CacheState::Complete;
    if (raw == "scan")
        return CacheState::Scan;
    if (raw == "database")
        return CacheState::Database;
    throw UsageError("--state is complete, scan or database");
}

// Every case, or `count` of them spread evenly with the first of every class among them.
std::vector<std::size_t> casesToCheck(const std::vector<QueryCase>& cases, const std::string& raw)
{
    std::vector<std::size_t> picked;
    if (raw == "all") {
        for (std::size_t i = 0; i < cases.size(); ++i)
            picked.push_back(i);
        return picked;
    }
    int count = 0;
    try {
        count = std::stoi(raw);
    } catch (const std::exception&) {
        count = -1;
    }
    if (count < 0)
        throw UsageError("--check is all or a number of queries");
    std::map<std::string, std::size_t> firstOfClass;
    for (std::size_t i = 0; i < cases.size(); ++i)
        firstOfClass.try_emplace(cases[i].queryClass, i);
    if (count == 0)
        return picked;
    for (const auto& [cls, i] : firstOfClass)
        picked.push_back(i);
    for (int k = 0; k < count; ++k)
        picked.push_back(static_cast<std::size_t>(std::int64_t(k) * std::int64_t(cases.size()) / count));
    std::sort(picked.begin(), picked.end());
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    return picked;
}

// Returns the number of wrong answers; prints the first few.
std::size_t checkAnswers(IndexStore& store, const IndexStoreProbe& probe, const std::filesystem::path& db,
                         const std::vector<QueryCase>& cases, const std::vector<std::size_t>& picked,
                         const Route& route, const QueryOptions& options)
{
    const auto loaded = SteadyClock::now();
    const AnswerCheck reference(db);
    std::printf("check: reference of %zu rows read in %.2f s\n", reference.itemCount(), millisecondsSince(loaded) / 1000);
    if (reference.itemCount() != static_cast<std::size_t>(store.indexedCount()))
        std::printf("check: the store holds %lld items, the database %zu rows\n",
                    static_cast<long long>(store.indexedCount()), reference.itemCount());

    const auto started = SteadyClock::now();
    std::size_t failures = 0, empty = 0;
    std::map<std::string, int> routes;
    for (std::size_t i : picked) {
        const SearchQuery query = parseQuery(cases[i].text, options);
        const std::vector<IndexedItem> answer = route.run(store, query);
        empty += answer.empty();
        if (std::optional<std::string> wrong = route.check(reference, probe, query, answer)) {
            if (++failures <= 10)
                std::printf("check: WRONG [%s] \"%s\": %s\n", cases[i].queryClass.c_str(), cases[i].text.c_str(),
                            wrong->c_str());
        } else if (route.state == CacheState::Complete) {
            ++routes[reference.lastCompleteRoute()];
        }
    }
    std::printf("check: %zu of %zu keystroke states answered as the reference (%zu with no result) in %.1f s\n",
                picked.size() - failures, picked.size(), empty, millisecondsSince(started) / 1000);
    for (const auto& [name, count] : routes)
        std::printf("check:   reference ranked %s: %d\n", name.c_str(), count);
    return failures;
}

struct Timing {
    const QueryCase* queryCase = nullptr;
    double medianMs = 0;
    double maxMs = 0;
    std::size_t results = 0;
    // Complete state: the index candidates ranked first, or -1 when every item was ranked.
    std::int64_t candidates = -1;
};

// Each case `reps` times in a row, as bench_plocate.py does; parsing included.
// On the typing road each run comes right after the case before it, untimed,
// as a keystroke comes after the one before: the store keeps what the last
// keystroke's scan found, and a case run after itself would find it all there.
std::vector<Timing> timeCases(IndexStore& store, const IndexStoreProbe& probe, const std::vector<QueryCase>& cases,
                              const Route& route, const QueryOptions& options, int reps)
{
    for (const QueryCase& c : cases)  // warm-up pass
        route.run(store, parseQuery(c.text, options));
    std::vector<Timing> timings;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const QueryCase& c = cases[i];
        const QueryCase& before = cases[(i + cases.size() - 1) % cases.size()];
        std::vector<double> samples;
        std::size_t results = 0;
        for (int r = 0; r < reps; ++r) {
            if (route.state == CacheState::Scan)
                route.run(store, parseQuery(before.text, options));
            const auto start = SteadyClock::now();
            results = route.run(store, parseQuery(c.text, options)).size();
            samples.push_back(millisecondsSince(start));
        }
        timings.push_back({&c, median(samples), *std::max_element(samples.begin(), samples.end()), results});
    }
    // After every case: the candidates' records, hundreds of thousands for a
    // short word, made and freed between two cases slowed the next one down.
    if (route.state == CacheState::Complete)
        for (Timing& t : timings)
            if (auto fast = probe.fastCandidateItems(parseQuery(t.queryCase->text, options)))
                t.candidates = static_cast<std::int64_t>(fast->size());
    return timings;
}

void printRow(const std::string& name, const std::vector<Timing>& rows)
{
    std::vector<double> ms;
    double results = 0;
    for (const Timing& t : rows) {
        ms.push_back(t.medianMs);
        results += double(t.results);
    }
    std::printf("%-10s %4zu %9.2f %9.2f %9.2f %9.2f %9.0f\n", name.c_str(), rows.size(), percentile(ms, 50),
                percentile(ms, 95), percentile(ms, 99), *std::max_element(ms.begin(), ms.end()),
                results / double(rows.size()));
}

void printTable(const std::vector<Timing>& timings)
{
    std::map<std::string, std::vector<Timing>> byClass;
    for (const Timing& t : timings)
        byClass[t.queryCase->queryClass].push_back(t);
    std::printf("%-10s %4s %9s %9s %9s %9s %9s\n", "class", "n", "p50 ms", "p95 ms", "p99 ms", "max ms", "results");
    for (const auto& [cls, rows] : byClass)
        printRow(cls, rows);
    printRow("ALL", timings);
}

void writeCsv(const std::filesystem::path& file, const std::vector<Timing>& timings)
{
    std::ofstream out(file);
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
    out << "class,query,median_ms,max_ms,results,index_candidates\n";
    for (const Timing& t : timings) {
        std::string quoted = "\"";
        for (char ch : t.queryCase->text)
            quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        quoted += '"';
        out << t.queryCase->queryClass << ',' << quoted << ',' << t.medianMs << ',' << t.maxMs << ',' << t.results << ','
            << t.candidates << '\n';
    }
}

} // namespace

int runType(const std::vector<std::string>& argv)
{
    const Args args(argv, {"db", "queries", "limit", "state", "reps", "check", "csv", "edition"}, {"include-junk"});
    const std::filesystem::path db = args.required("db");
    const std::vector<QueryCase> cases = readQueries(args.required("queries"));
    Route route;
    route.limit = args.integer("limit", 10000, 1);
    route.state = cacheStateFrom(args.get("state", "complete"));
    const int reps = args.integer("reps", 5, 1);
    const std::vector<std::size_t> picked = casesToCheck(cases, args.get("check", "all"));
    QueryOptions options;
    options.excludeSystemJunk = !args.has("include-junk");
    if (args.has("edition"))
        selectEdition(args.get("edition"));
    requireDatabase(db);

    const auto opening = SteadyClock::now();
    auto probe = std::make_shared<IndexStoreProbe>();
    const std::unique_ptr<IndexStore> store = openCompleteStore(db, probe);
    std::printf("type: %lld items, indexes complete after %.2f s; state %s, limit %d", 
                static_cast<long long>(store->indexedCount()), millisecondsSince(opening) / 1000,
                args.get("state", "complete").c_str(), route.limit);
    if (route.state != CacheState::Complete)
        std::printf(" (typing limit %d, candidate cap %d)", route.typing().limit, route.typing().candidateCap);
    std::printf(", %d runs per state, junk %s\n", reps, options.excludeSystemJunk ? "excluded" : "included");
    if (route.state == CacheState::Database) {
        // The road as it runs on every start but the first after an upgrade.
        const auto filling = SteadyClock::now();
        waitForLoweredNames(*probe);
        std::printf("type: stored lower-cased names complete after a further %.2f s\n",
                    millisecondsSince(filling) / 1000);
    }

    if (picked.empty()) {
        std::printf("check: SKIPPED (--check 0): the figures below are unchecked\n");
    } else if (checkAnswers(*store, *probe, db, cases, picked, route, options) > 0) {
        std::printf("type: wrong answers; nothing timed\n");
        return 1;
    }
    malloc_trim(0);  // the reference's memory goes back before timing

    const HostSteal steal;
    const ProcessCpu cpu;
    const std::vector<Timing> timings = timeCases(*store, *probe, cases, route, options, reps);
    printTable(timings);
    if (const double percent = steal.percentSinceStart(); percent >= 0)
        std::printf("host: %.1f %% of the CPU time went to others (steal) while timed\n", percent);
    std::printf("process: %.2f cores' worth of CPU while timed\n", cpu.coresSinceStart());
    if (args.has("csv"))
        writeCsv(args.get("csv"), timings);
    return 0;
}

} // namespace pallix::bench
