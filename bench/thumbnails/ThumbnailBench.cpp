// pallix-thumbnail-bench: how fast the thumbnails of a visible page of image
// results appear, and how long the provider holds the GUI thread.
//
//   pallix-thumbnail-bench [count=2000] [page=40]
//
// Makes `count` JPEG photos (1600 × 1200) in a temporary folder, then shows
// them page by page as a grid that scrolls: each page is asked for urgently,
// the view asks again on every change notice, and the next page comes when
// this one is complete. It reports the time from a page's request to each
// thumbnail's arrival (p50, p95, max) with an empty disk cache and again with
// a warm one (a restart), and the longest stall of the GUI thread's event
// loop and the longest single provider call. Before timing it checks that
// every item got a real thumbnail of the asked size.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include "App/Preview/ThumbnailProvider.h"

using namespace pallix;

namespace {

constexpr double kIconSize = 118;

struct Figures {
    std::vector<double> latencyMs;  // request of its page → arrival, per item
    double maxStallMs = 0;          // longest gap between two event-loop turns
    double maxCallMs = 0;           // longest image()/prefetch() call
    int stallsOver16 = 0;
    int missing = 0;
};

std::vector<IndexedItem> makePhotos(const QString& folder, int count)
{
    std::vector<IndexedItem> items;
    QImage photo(1600, 1200, QImage::Format_RGB32);
    for (int i = 0; i < count; ++i) {
        photo.fill(QColor::fromHsv(i * 7 % 360, 160, 200));
        QPainter(&photo).fillRect(200 + i % 400, 200, 600, 500, Qt::white);
        const QString path = folder + QStringLiteral("/photo%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
        photo.save(path, "JPEG", 85);
        const std::string p = path.toStdString();
        items.emplace_back(p, p.substr(p.rfind('/') + 1), folder.toStdString(), "jpg", 1, 1'700'000'000.0 + i,
                           IndexedItem::ItemType::File);
    }
    return items;
}

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

Figures run(const std::vector<IndexedItem>& items, int pageSize, const QString& cacheDir)
{
    Figures figures;
    ThumbnailProvider provider(Clock::system(), {cacheDir.toStdString(), nullptr});
    QElapsedTimer sinceTurn;
    QTimer ticker;  // an idle timer runs once per event-loop turn: gaps are stalls
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const double gap = sinceTurn.nsecsElapsed() / 1e6;
        figures.maxStallMs = std::max(figures.maxStallMs, gap);
        figures.stallsOver16 += gap > 16;
        sinceTurn.restart();
    });
    auto timed = [&](auto&& call) {
        QElapsedTimer t;
        t.start();
        auto result = call();
        figures.maxCallMs = std::max(figures.maxCallMs, t.nsecsElapsed() / 1e6);
        return result;
    };
    for (std::size_t start = 0; start < items.size(); start += static_cast<std::size_t>(pageSize)) {
        const std::size_t end = std::min(items.size(), start + static_cast<std::size_t>(pageSize));
        QList<IndexedItem> page(items.begin() + static_cast<std::ptrdiff_t>(start),
                                items.begin() + static_cast<std::ptrdiff_t>(end));
        std::vector<qint64> fallbackKeys;
        for (const IndexedItem& item : page)
            fallbackKeys.push_back(provider.fallbackImage(QString::fromUtf8(item.path()), false, kIconSize).cacheKey());
        std::vector<bool> arrived(page.size(), false);
        QElapsedTimer sincePage;
        sincePage.start();
        std::size_t done = 0;
        auto look = [&] {
            for (qsizetype i = 0; i < page.size(); ++i) {
                if (arrived[static_cast<std::size_t>(i)])
                    continue;
                const QPixmap p = timed([&] {
                    return provider.image(page[i], kIconSize, true, false, ThumbnailProvider::PreviewPriority::Urgent);
                });
                if (p.cacheKey() != fallbackKeys[static_cast<std::size_t>(i)] && p.size() == QSize(118, 118)) {
                    arrived[static_cast<std::size_t>(i)] = true;
                    figures.latencyMs.push_back(sincePage.nsecsElapsed() / 1e6);
                    ++done;
                }
            }
        };
        QEventLoop loop;
        QObject::connect(&provider, &ThumbnailProvider::previewsChanged, &loop, [&] {
            look();
            if (done == static_cast<std::size_t>(page.size()))
                loop.quit();
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        timed([&] {
            provider.prefetch(page, kIconSize, false, ThumbnailProvider::PreviewPriority::Urgent);
            return 0;
        });
        look();
        sinceTurn.start();
        ticker.start(0);
        if (done < static_cast<std::size_t>(page.size()))
            loop.exec();
        ticker.stop();
        figures.missing += static_cast<int>(page.size() - static_cast<qsizetype>(done));
    }
    return figures;
}

void report(const char* name, const Figures& f)
{
    std::printf("%-6s items %zu missing %d  latency p50 %.0f ms  p95 %.0f ms  max %.0f ms  "
                
                "GUI stall max %.1f ms (%d over 16 ms)  provider call max %.2f ms\n",
                name, f.latencyMs.size(), f.missing, percentile(f.latencyMs, 0.5), percentile(f.latencyMs, 0.95),
                percentile(f.latencyMs, 1.0), f.maxStallMs, f.stallsOver16, f.maxCallMs);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int pageSize = argc > 2 ? std::atoi(argv[2]) : 40;
    QTemporaryDir work;
    QDir(work.path()).mkpath("photos");
    std::printf("making %d photos...\n", count);
    const auto items = makePhotos(work.path() + "/photos", count);
    const Figures cold = run(items, pageSize, work.path() + "/cache");
    const Figures warm = run(items, pageSize, work.path() + "/cache");
    if (cold.missing || warm.missing) {
        std::printf("FAILED: %d + %d thumbnails never arrived\n", cold.missing, warm.missing);
        return 1;
    }
    report("cold", cold);
    report("warm", warm);
    return 0;
}
