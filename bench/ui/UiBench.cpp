// pallix-ui-bench: the results area's own share of a keystroke. A new list of
// 10,000 main results (plus image-content, SKU-related and shared-drive
// sections) is published through the model; the bench times what the window
// adds to that: the display rows' reset, the layout, and the painting of the
// visible rows into an image, for the list and for the grid, offscreen.
// Two regimes: "new names" publishes a different window of a larger set of
// names each time, so the visible rows are new to the icon cache (the
// provider draws their fallback icons during the paint); "same names"
// republishes one list (a fresh copy, so the reset is whole), icons cached.
//
// Usage: pallix-ui-bench [--iterations 300] [--results 10000] [--save DIR]
// (--save writes the last painted list and grid as PNG files, to look at.)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "NearestRank.h"
#include "App/AppModel.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Results/ResultsArea.h"
#include "UI/Results/ResultsGridView.h"
#include "UI/Results/ResultsListView.h"
#include "UI/Results/ResultsModel.h"

namespace pallix {
namespace {

using SteadyClock = std::chrono::steady_clock;

class NoWatcher final : public RootWatcher {
public:
    void start(const std::vector<std::string>&) override {}
};


double msSince(SteadyClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// Names of several kinds and scripts, under a few hundred folders.
ItemList makePool(int count)
{
    static const char* exts[] = {"txt", "png", "pdf", "docx", "mp4", "jpg", "zip", "", "xlsx", "c"};
    ItemList pool;
    pool.reserve(count);
    for (int i = 0; i < count; ++i) {
        const std::string folder = "/home/user/项目" + std::to_string(i % 300) + "/资料";
        const std::string ext = exts[i % 10];
        const bool isFolder = i % 17 == 0;
        std::string name = (i % 3 ? "report-" : "会议纪要_") + std::to_string(i);
        if (!isFolder && !ext.empty())
            name += "." + ext;
        pool.append(IndexedItem(folder + "/" + name, name, folder, isFolder ? std::string() : ext, 1000 + i * 37,
                                1.7e9 + i, isFolder ? IndexedItem::ItemType::Folder : IndexedItem::ItemType::File));
    }
    return pool;
}

struct Timing {
    std::vector<double> reset;  // rows reset + layout
    std::vector<double> paint;  // visible rows into an image
    std::vector<double> total;
    std::vector<double> cpu;    // the GUI thread's CPU time over both
};

// CPU time of the calling thread: on a loaded machine the wall time also
// counts the waits for a core.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void report(const char* mode, const char* regime, const Timing& t)
{
    std::printf("%-5s %-9s reset+layout p50 %6.2f ms  p99 %6.2f ms | paint p50 %6.2f ms  p99 %6.2f ms | "
                "UI share p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms | CPU p50 %6.2f ms  p99 %6.2f ms\n",
                mode, regime, bench::nearestRankPercentile(t.reset, 50), bench::nearestRankPercentile(t.reset, 99), bench::nearestRankPercentile(t.paint, 50),
                bench::nearestRankPercentile(t.paint, 99), bench::nearestRankPercentile(t.total, 50), bench::nearestRankPercentile(t.total, 99),
                *std::max_element(t.total.begin(), t.total.end()), bench::nearestRankPercentile(t.cpu, 50), bench::nearestRankPercentile(t.cpu, 99));
}

int run(int iterations, int results, const QString& saveDir)
{
    const auto work = std::filesystem::temp_directory_path() / ("pallix-ui-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(work);
    std::ofstream(work / "blocked") << "x";  // the stores cannot open: no index, no scan

    auto clock = std::make_shared<FakeClock>();
    ThumbnailProvider thumbnails(clock);
    AppModelEnvironment env;
    env.defaults = Defaults::inMemory();
    env.clock = clock;
    env.supportDirectory = work / "blocked" / "support";
    env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{});
    env.thumbnails = &thumbnails;
    env.services.makeWatcher = [](FSEventWatcher::Callback, FSEventWatcher::ShortfallCallback) {
        return std::make_unique<NoWatcher>();
    };
    AppModel model(env);

    // Stamps around the area's own handlers: connected before and after it.
    SteadyClock::time_point publishedAt;
    SteadyClock::time_point laidOutAt;
    double cpuPublished = 0;
    double cpuLaidOut = 0;
    QObject::connect(&model.searchSession(), &SearchSession::resultsChanged, &model, [&] {
        publishedAt = SteadyClock::now();
        cpuPublished = threadCpuMs();
    });
    ResultsArea area(model.searchSession(), nullptr, thumbnails);
    QObject::connect(&model.searchSession(), &SearchSession::resultsChanged, &model, [&] {
        laidOutAt = SteadyClock::now();
        cpuLaidOut = threadCpuMs();
    });
    area.resize(1280, 800);
    area.show();
    QApplication::processEvents();

    const ItemList pool = makePool(results * 3);
    model.searchSession().setImageFuzzyResults(ItemList(pool.begin(), pool.begin() + 700));
    model.searchSession().setSkuRelatedResults(ItemList(pool.begin() + 700, pool.begin() + 760));
    model.searchSession().setServerResults(ItemList(pool.begin() + 760, pool.begin() + 1260));

    for (const ResultDisplayMode mode : {ResultDisplayMode::List, ResultDisplayMode::Grid})
        for (const bool newNames : {true, false}) {
        model.searchSession().constraints().setDisplayMode(mode);
        ResultsCanvas* canvas = mode == ResultDisplayMode::List ? static_cast<ResultsCanvas*>(area.listView())
                                                                : static_cast<ResultsCanvas*>(area.gridView());
        QImage image(canvas->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        Timing timing;
        const int warmup = 20;
        for (int i = 0; i < iterations + warmup; ++i) {
            const qsizetype start = newNames ? (static_cast<qsizetype>(i) * 7919) % (pool.size() - results) : 0;
            const ItemList list(pool.begin() + start, pool.begin() + start + results);
            model.searchSession().applySearchResults(list, model.searchSession().currentQuerySnapshot());
            const double resetMs = std::chrono::duration<double, std::milli>(laidOutAt - publishedAt).count();
            const auto paintStart = SteadyClock::now();
            const double cpuPaintStart = threadCpuMs();
            int painted = 0;
            canvas->visibleRows(canvas->viewport()->rect(), [&](int) { ++painted; });
            canvas->viewport()->render(&image);
            const double paintMs = msSince(paintStart);
            const double cpuMs = (cpuLaidOut - cpuPublished) + (threadCpuMs() - cpuPaintStart);
            // The answer first: every result has its row, and rows were painted.
            if (area.resultsModel().filteredCount(ResultsModel::Section::Main) != results || painted == 0
                || area.currentBody() != canvas) {
                std::fprintf(stderr, "wrong rows: %d main, %d painted\n",
                             area.resultsModel().filteredCount(ResultsModel::Section::Main), painted);
                return 1;
            }
            QApplication::processEvents();  // the posted scroll to the selection, outside the timing
            if (i < warmup)
                continue;
            timing.reset.push_back(resetMs);
            timing.paint.push_back(paintMs);
            timing.total.push_back(resetMs + paintMs);
            timing.cpu.push_back(cpuMs);
        }
        report(mode == ResultDisplayMode::List ? "list" : "grid", newNames ? "new names" : "same names", timing);
        if (!saveDir.isEmpty() && !newNames) {
            model.searchSession().setSelectedItemID(QString::fromUtf8(model.searchSession().results()[2].path()));
            QApplication::processEvents();
            area.grab().save(saveDir + (mode == ResultDisplayMode::List ? "/list.png" : "/grid.png"));
        }
        }
    std::filesystem::remove_all(work);
    return 0;
}

} // namespace
} // namespace pallix

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int iterations = 300;
    int results = 10000;
    QString saveDir;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--iterations")
            iterations = std::max(1, std::atoi(argv[i + 1]));
        else if (name == "--results")
            results = std::max(1, std::atoi(argv[i + 1]));
        else if (name == "--save")
            saveDir = QString::fromLocal8Bit(argv[i + 1]);
    }
    std::printf("%d results, %d iterations, viewport 1280×800 offscreen\n", results, iterations);
    return pallix::run(iterations, results, saveDir);
}
