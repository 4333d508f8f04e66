// pallix-model-bench: the application model's search road under a recorded
// typing sequence, over an index of a generated corpus (gen_corpus.py).
//
// It loads the corpus into an index file once (kept in --work), starts the
// real AppModel on it with the system clock and a watcher that does nothing,
// waits for the search cache and its indexes, checks the model's complete
// answer for every text the sequence pauses on against the store's own
// complete search (the store's answers are checked by pallix-bench), then
// replays the sequence: each keystroke sets the text, stamps the
// input time and asks for a search, exactly as the search field does. It
// reports, per keystroke, the time to the first published answer for that
// text, and for the last keystroke before a pause the time to the published
// complete answer (which by design includes the 0.68 s pause). A timer
// watches the GUI thread and reports its longest stall.
//
// Usage: pallix-model-bench --corpus CORPUS.tsv --work DIR [--key-ms 120]
//        [--pause-ms 1200] [--rounds 3] [--limit 10000] [--verbose]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include "NearestRank.h"
#include "CorpusIndex.h"
#include "model/CorpusModel.h"
#include "model/EventLoopWait.h"
#include "App/AppModel.h"
#include "Core/Config/SettingsStore.h"
#include "Core/IndexDB/IndexStore.h"
#include "Platform/Text.h"

namespace pallix {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Options {
    std::string corpus;
    std::string work;
    int keyMs = 120;
    int pauseMs = 1200;
    int rounds = 3;
    int limit = 10000;
    bool verbose = false;
};

// What is typed: each run is typed a character at a time, then the user pauses.
const std::vector<std::string> kRuns = {
    "report", "final report", "invoice 2023", "会议", "photo", "main.c", "budget draft", "readme",
};



std::optional<Options> parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--verbose") {
            o.verbose = true;
            --i;
            continue;
        }
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[i + 1];
        if (name == "--corpus")
            o.corpus = value;
        else if (name == "--work")
            o.work = value;
        else if (name == "--key-ms")
            o.keyMs = std::stoi(value);
        else if (name == "--pause-ms")
            o.pauseMs = std::stoi(value);
        else if (name == "--rounds")
            o.rounds = std::stoi(value);
        else if (name == "--limit")
            o.limit = std::stoi(value);
        else
            return std::nullopt;
    }
    if (o.corpus.empty() || o.work.empty())
        return std::nullopt;
    return o;
}

using bench::prepareIndex;
using bench::readCorpus;
using bench::waitUntil;

// One keystroke of the sequence and what became of it.
struct Keystroke {
    std::string text;
    SteadyClock::time_point at;
    bool endsRun = false;
    std::optional<double> firstAnswerMs;
    std::optional<double> completeAnswerMs;
};

int run(const Options& o)
{
    const std::filesystem::path work = std::filesystem::absolute(o.work);
    std::filesystem::create_directories(work);
    std::fprintf(stderr, "reading %s\n", o.corpus.c_str());
    const std::vector<IndexedItem> corpus = readCorpus(o.corpus);
    if (corpus.empty() || !prepareIndex(work / "index.sqlite", corpus)) {
        std::fprintf(stderr, "cannot prepare the index\n");
        return 1;
    }
    AppModelEnvironment env = bench::corpusEnvironment(corpus, work, o.limit);

    AppModel model(env);
    bool started = false;
    QObject::connect(&model, &AppModel::bootstrapEnded, &model, [&] { started = true; });
    QElapsedTimer loading;
    loading.start();
    IndexStore& store = *model.context().stores().local;
    if (!waitUntil([&] { return started && store.status().cacheReady && store.status().searchIndexesComplete; }, 600000)) {
        std::fprintf(stderr, "the search cache did not become ready\n");
        return 1;
    }
    std::printf("cache and indexes ready after %.0f ms (%lld items)\n", double(loading.elapsed()),
                static_cast<long long>(model.localIndex().indexedCount()));

    // Check first: the model's complete answer for every text it will finish on.
    for (const std::string& text : kRuns) {
        model.searchSession().setSearchText(QString::fromStdString(text));
        const SearchQuery query = model.searchSession().currentQuerySnapshot();
        model.searchSession().scheduleSearch(true, false);
        if (!waitUntil([&] { return model.searchSession().lastDisplayedQuery() && *model.searchSession().lastDisplayedQuery() == query
                                    && model.searchSession().displayedResultsComplete(); }, 60000)) {
            std::fprintf(stderr, "no complete answer for \"%s\"\n", text.c_str());
            return 1;
        }
        // The road must deliver what the store answers: every route of the
        // model ends on the store's complete search for a paused text.
        const auto searchStart = SteadyClock::now();
        const std::vector<IndexedItem> expected = store.search(query, o.limit);
        const double searchMs = std::chrono::duration<double, std::milli>(SteadyClock::now() - searchStart).count();
        std::set<std::string> want, got;
        for (const IndexedItem& item : expected)
            want.emplace(item.path());
        for (const IndexedItem& item : model.searchSession().results())
            got.emplace(item.path());
        if (want != got) {
            std::fprintf(stderr, "answer for \"%s\" differs from the store's: %zu against %zu\n",
                         text.c_str(), got.size(), want.size());
            return 1;
        }
        std::printf("checked \"%s\": %zu results (the store's complete search alone: %.1f ms)\n", text.c_str(),
                    got.size(), searchMs);
    }
    model.searchSession().setSearchText({});
    model.searchSession().scheduleSearch(true, false);

    // The replay.
    std::vector<Keystroke> keystrokes;
    std::size_t current = 0;
    auto notePublication = [&] {
        if (keystrokes.empty() || !model.searchSession().lastDisplayedQuery())
            return;
        const auto now = SteadyClock::now();
        // Answers of older keystrokes still count for them.
        for (std::size_t i = current + 1; i-- > 0;) {
            Keystroke& k = keystrokes[i];
            if (model.searchSession().lastDisplayedQuery()->rawText != k.text)
                continue;
            const double ms = std::chrono::duration<double, std::milli>(now - k.at).count();
            if (!k.firstAnswerMs)
                k.firstAnswerMs = ms;
            if (k.endsRun && model.searchSession().displayedResultsComplete() && !k.completeAnswerMs)
                k.completeAnswerMs = ms;
            break;
        }
    };
    // The selection is announced last in every publication, after the query and completeness are set.
    QObject::connect(&model.searchSession(), &SearchSession::selectedItemIDChanged, &model, notePublication);

    double longestStall = 0;
    SteadyClock::time_point lastTick = SteadyClock::now();
    QTimer ticker;
    ticker.setInterval(4);
    QObject::connect(&ticker, &QTimer::timeout, &model, [&] {
        const auto now = SteadyClock::now();
        longestStall = std::max(longestStall, std::chrono::duration<double, std::milli>(now - lastTick).count());
        lastTick = now;
    });
    auto idle = [&](int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    };
    idle(500);
    lastTick = SteadyClock::now();
    ticker.start();
    for (int round = 0; round < o.rounds; ++round) {
        for (const std::string& text : kRuns) {
            const QString whole = QString::fromStdString(text);
            for (qsizetype n = 1; n <= whole.size(); ++n) {
                Keystroke k;
                k.text = whole.left(n).toStdString();
                k.endsRun = n == whole.size();
                k.at = SteadyClock::now();
                keystrokes.push_back(k);
                current = keystrokes.size() - 1;
                model.searchSession().userTyped(whole.left(n));
                idle(k.endsRun ? o.pauseMs : o.keyMs);
            }
        }
    }
    ticker.stop();

    if (o.verbose) {
        for (const Keystroke& k : keystrokes)
            std::printf("  %-14s first %8.1f  complete %8.1f\n", k.text.c_str(), k.firstAnswerMs.value_or(-1),
                        k.completeAnswerMs.value_or(k.endsRun ? -1 : 0));
    }
    std::vector<double> first, complete;
    int unanswered = 0;
    int incomplete = 0;
    for (const Keystroke& k : keystrokes) {
        if (k.firstAnswerMs)
            first.push_back(*k.firstAnswerMs);
        else
            ++unanswered;
        if (k.endsRun) {
            if (k.completeAnswerMs)
                complete.push_back(*k.completeAnswerMs);
            else
                ++incomplete;
        }
    }
    std::printf("keystrokes %zu (key every %d ms, pause %d ms, limit %d)\n", keystrokes.size(), o.keyMs, o.pauseMs,
                o.limit);
    std::printf("keystroke -> published answer:          p50 %7.1f ms  p99 %7.1f ms  (%zu answered, %d superseded)\n",
                bench::nearestRankPercentile(first, 50), bench::nearestRankPercentile(first, 99), first.size(), unanswered);
    std::printf("last keystroke -> published complete:   p50 %7.1f ms  p99 %7.1f ms  (%zu runs, %d never complete)\n",
                bench::nearestRankPercentile(complete, 50), bench::nearestRankPercentile(complete, 99), complete.size(), incomplete);
    std::printf("  of which the designed pause:          %7.1f ms\n", searchbudgets::kTypingThresholdSeconds * 1000);
    std::printf("longest GUI-thread stall:               %7.1f ms\n", longestStall);
    return incomplete == 0 ? 0 : 2;
}

} // namespace
} // namespace pallix

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const auto options = pallix::parse(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: pallix-model-bench --corpus CORPUS.tsv --work DIR [--key-ms 120] [--pause-ms 1200]"
                     " [--rounds 3] [--limit 10000] [--verbose]\n");
        return 2;
    }
    return pallix::run(*options);
}
