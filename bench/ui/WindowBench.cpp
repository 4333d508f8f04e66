// pallix-window-bench: a keystroke end to end. The real search window
// (offscreen) over the real application model and its index of a generated
// corpus (gen_corpus.py, written once into --work); each keystroke is a key
// event sent to the search field, and the time runs until the results for the
// field's new text have been published and the visible rows (or the empty
// panel) painted. Queries come from a query set (queries.py) and are typed a
// character at a time, so every keystroke asks for a new name; between two
// queries the field is cleared with Ctrl+A and Backspace (not timed). List
// and grid view in turn.
//
// Usage: pallix-window-bench --corpus CORPUS.tsv --queries QUERIES.tsv --work DIR
//        [--db INDEX.sqlite] [--queries-used 60] [--key-ms 40] [--limit 10000] [--verbose]
// (--verbose: every publication while a keystroke waits, with its query.)
// (--db: an index file of the same corpus, e.g. pallix-bench load's, copied
// into --work instead of writing the corpus anew.)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include "CorpusIndex.h"
#include "HostSteal.h"
#include "NearestRank.h"
#include "App/AppModel.h"
#include "Core/IndexDB/IndexStoreProbe.h"
#include "Core/IndexDB/Sqlite.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Results/EmptyResultsPanel.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsListView.h"
#include "UI/Search/SearchView.h"
#include "UI/Search/SearchWindow.h"
#include "model/CorpusModel.h"
#include "model/EventLoopWait.h"
#include "Platform/AllocatorArenas.h"

namespace pallix {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Options {
    std::string corpus;
    std::string queries;
    std::string work;
    std::string db;
    int queriesUsed = 60;
    bool verbose = false;
    int keyMs = 40;
    int limit = 10000;
};

// Plain typed queries of the set (no filters or patterns): one word, two
// words and Chinese names, taken evenly through the file.
std::vector<std::string> typedQueries(const std::string& file, int wanted)
{
    std::vector<std::string> all;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string kind = line.substr(0, tab);
        if (kind == "type_1tok" || kind == "type_2tok" || kind == "type_cjk")
            all.push_back(line.substr(tab + 1));
    }
    // The set lists every typed state; keep the whole texts (no later line extends them).
    std::vector<std::string> whole;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (i + 1 == all.size() || !all[i + 1].starts_with(all[i]))
            whole.push_back(all[i]);
    std::vector<std::string> out;
    const std::size_t step = std::max<std::size_t>(1, whole.size() / std::max(1, wanted));
    for (std::size_t i = 0; i < whole.size() && out.size() < static_cast<std::size_t>(wanted); i += step)
        out.push_back(whole[i]);
    return out;
}

// Notes when the results' viewports, or the panel that says nothing was found,
// were last painted: the end of the window's update that painted them (its
// back buffer flushed), not the moment the bench's wait next looks, which can
// come after other events of the same batch. Each watched event is delivered
// from inside the filter so that its end can be timed.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* window) : m_window(window) {}
    std::vector<SteadyClock::time_point> paints;  // since the last clear
    bool paintedAfter(SteadyClock::time_point t) const { return !paints.empty() && paints.back() > t; }
    SteadyClock::time_point firstPaintAfter(SteadyClock::time_point t) const
    {
        return *std::upper_bound(paints.begin(), paints.end(), t);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::UpdateRequest && !m_updating) {
            m_updating = true;
            m_paintedInUpdate = false;
            QCoreApplication::sendEvent(watched, event);
            m_updating = false;
            if (m_paintedInUpdate)
                paints.back() = SteadyClock::now();
            return true;
        }
        if (watched != m_window && event->type() == QEvent::Paint && !m_painting) {
            m_painting = true;
            QCoreApplication::sendEvent(watched, event);
            m_painting = false;
            m_paintedInUpdate = true;
            paints.push_back(SteadyClock::now());
            return true;
        }
        return false;
    }

private:
    QWidget* m_window;
    bool m_updating = false;
    bool m_painting = false;
    bool m_paintedInUpdate = false;
};

void sendKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &release);
}

int run(const Options& o)
{
    const std::filesystem::path work = std::filesystem::absolute(o.work);
    std::filesystem::create_directories(work);
    const std::vector<IndexedItem> corpus = bench::readCorpus(o.corpus);
    if (!o.db.empty() && !std::filesystem::exists(work / "index.sqlite")) {
        std::filesystem::copy_file(o.db, work / "index.sqlite");
        if (std::filesystem::exists(o.db + "-wal"))  // what is not yet checkpointed
            std::filesystem::copy_file(o.db + "-wal", work / "index.sqlite-wal");
        std::ofstream(work / "index.sqlite.corpus") << corpus.size() << "\n";
    }
    if (corpus.empty() || !bench::prepareIndex(work / "index.sqlite", corpus)) {
        std::fprintf(stderr, "cannot prepare the index\n");
        return 1;
    }
    const std::vector<std::string> queries = typedQueries(o.queries, o.queriesUsed);
    if (queries.empty()) {
        std::fprintf(stderr, "no typed queries in %s\n", o.queries.c_str());
        return 1;
    }

    AppModelEnvironment env = bench::corpusEnvironment(corpus, work, o.limit);
    ThumbnailProvider thumbnails(Clock::system());
    env.thumbnails = &thumbnails;
    auto probe = std::make_shared<IndexStoreProbe>();
    env.localStoreProbe = probe;
    AppModel model(env);
    bool started = false;
    QObject::connect(&model, &AppModel::bootstrapEnded, &model, [&] { started = true; });
    IndexStore& store = *model.context().stores().local;
    if (!bench::waitUntil([&] { return started && store.status().cacheReady && store.status().searchIndexesComplete; },
                          600000)) {
        std::fprintf(stderr, "the search cache did not become ready\n");
        return 1;
    }

    // The start-up's background work (name order, stored lower-cased names) ends first.
    if (!bench::waitUntil([&] { return probe->runningBackgroundJobs() == 0; }, 600000)) {
        std::fprintf(stderr, "the store's background jobs did not end\n");
        return 1;
    }
    SearchWindow window(model, thumbnails);
    window.resize(1280, 860);
    window.show();
    QLineEdit* field = window.searchView()->searchField();
    ResultsArea* area = window.searchView()->resultsArea();
    PaintWatch watch(&window);
    window.installEventFilter(&watch);
    area->listView()->viewport()->installEventFilter(&watch);
    area->gridView()->viewport()->installEventFilter(&watch);
    // An empty answer is painted by the panel that says nothing was found;
    // the viewports behind it are not painted again until a list comes.
    area->emptyPanel()->installEventFilter(&watch);
    field->setFocus();
    bench::idleFor(300);

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("%zu items, %zu queries typed a character at a time, limit %d, a key every %d ms or on the paint\n",
                corpus.size(), queries.size(), o.limit, o.keyMs);
    for (const ResultDisplayMode mode : {ResultDisplayMode::List, ResultDisplayMode::Grid}) {
        model.searchSession().constraints().setDisplayMode(mode);
        const char* view = mode == ResultDisplayMode::List ? "list" : "grid";
        bench::idleFor(100);
        const bench::HostSteal steal;
        std::vector<double> total, toPublished, toPainted;
        int missed = 0, empty = 0;
        for (const std::string& query : queries) {
            sendKey(field, Qt::Key_A, Qt::ControlModifier, {});
            sendKey(field, Qt::Key_Backspace, Qt::NoModifier, {});
            bench::idleFor(o.keyMs);
            const QString whole = QString::fromStdString(query);
            for (qsizetype n = 1; n <= whole.size(); ++n) {
                const QString typed = whole.left(n);
                const QString character = whole.mid(n - 1, 1);
                // The model publishes the list before it notes the query the list
                // answers, so a publication is matched to the text once it is noted.
                auto start = SteadyClock::now();
                SteadyClock::time_point lastPublish;
                const QMetaObject::Connection noting = QObject::connect(&model.searchSession(), &SearchSession::resultsChanged, &model, [&] {
                    lastPublish = SteadyClock::now();
                    if (o.verbose)
                        std::printf("  \"%s\": published, %d results, %.2f ms\n", typed.toUtf8().constData(),
                                    int(model.searchSession().results().size()),
                                    std::chrono::duration<double, std::milli>(lastPublish - start).count());
                });
                bool published = false;
                SteadyClock::time_point publishedAt;
                watch.paints.clear();
                start = SteadyClock::now();
                const QChar c = character.at(0);
                const int key = c == u' ' ? Qt::Key_Space
                                : c.unicode() < 128 && c.isLetterOrNumber() ? int(c.toUpper().unicode())
                                                                            : int(Qt::Key_unknown);
                sendKey(field, key, Qt::NoModifier, character);
                const bool done = bench::waitUntil([&] {
                    if (!published && lastPublish > start && model.searchSession().lastDisplayedQuery() &&
                        model.searchSession().lastDisplayedQuery()->rawText == typed.toStdString()) {
                        published = true;
                        publishedAt = lastPublish;
                    }
                    return published && watch.paintedAfter(publishedAt);
                }, 3000);
                const auto end = done ? watch.firstPaintAfter(publishedAt) : SteadyClock::now();
                QObject::disconnect(noting);
                if (field->text() != typed) {
                    std::fprintf(stderr, "the field holds \"%s\", typed \"%s\"\n", field->text().toUtf8().constData(),
                                 typed.toUtf8().constData());
                    return 1;
                }
                if (o.verbose && done)
                    std::printf("  \"%s\": painted %.2f ms after its publication\n", typed.toUtf8().constData(),
                                std::chrono::duration<double, std::milli>(end - publishedAt).count());
                if (!done) {
                    ++missed;
                } else {
                    total.push_back(std::chrono::duration<double, std::milli>(end - start).count());
                    toPublished.push_back(std::chrono::duration<double, std::milli>(publishedAt - start).count());
                    toPainted.push_back(std::chrono::duration<double, std::milli>(end - publishedAt).count());
                    empty += model.searchSession().results().isEmpty() ? 1 : 0;
                }
                bench::idleFor(o.keyMs);
            }
        }
        if (total.empty()) {
            std::fprintf(stderr, "no keystroke was answered\n");
            return 1;
        }
        std::printf("%-4s key event to results painted: p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms | to published: "
                    "p50 %6.2f ms  p99 %6.2f ms | published to painted: p50 %5.2f ms  p99 %5.2f ms | %zu keystrokes, %d with "
                    "no result, %d unanswered in 3 s\n",
                    view, bench::nearestRankPercentile(total, 50),
                    bench::nearestRankPercentile(total, 99), *std::max_element(total.begin(), total.end()),
                    bench::nearestRankPercentile(toPublished, 50), bench::nearestRankPercentile(toPublished, 99),
                    bench::nearestRankPercentile(toPainted, 50), bench::nearestRankPercentile(toPainted, 99),
                    total.size(), empty, missed);
        if (const double percent = steal.percentSinceStart(); percent >= 0)
            std::printf("%-4s host: %.1f %% of the CPU time went to others (steal) during the view\n", view, percent);
    }
    return 0;
}

} // namespace
} // namespace pallix

int main(int argc, char** argv)
{
    // As the application's main() sets up the process.
    pallix::limitAllocatorArenas();
    pallix::fixAllocatorLimits();
    pallix::sqlite::configureProcess();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    pallix::Options o;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--verbose") {
            o.verbose = true;
            --i;
            continue;
        }
        if (i + 1 >= argc)
            break;
        const std::string value = argv[i + 1];
        if (name == "--corpus")
            o.corpus = value;
        else if (name == "--queries")
            o.queries = value;
        else if (name == "--work")
            o.work = value;
        else if (name == "--db")
            o.db = value;
        else if (name == "--queries-used")
            o.queriesUsed = std::stoi(value);
        else if (name == "--key-ms")
            o.keyMs = std::stoi(value);
        else if (name == "--limit")
            o.limit = std::stoi(value);
    }
    if (o.corpus.empty() || o.queries.empty() || o.work.empty()) {
        std::fprintf(stderr, "usage: pallix-window-bench --corpus CORPUS.tsv --queries QUERIES.tsv --work DIR "
                             "[--db INDEX.sqlite] [--queries-used 60] [--key-ms 40] [--limit 10000]\n");
        return 2;
    }
    return pallix::run(o);
}
