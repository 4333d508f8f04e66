// pallix-imagetag-bench: the typing road's search latency with image tagging
// running in the background against idle, and the tagging throughput.
//
// It makes a work folder with an index of generated file names (the corpus
// the typing searches run over) and a set of generated images (posters with
// printed words and solid colours), checks that the real extraction tags a
// poster and a colour right, then:
//   1. idle: replays typed prefixes as the typing road does (the store's
//      capped in-memory search) and records each search's time;
//   2. busy: the same with the image tagger running over the index's images
//      (extraction at background priority);
//   3. reports the latency percentiles of both, their ratio, and the
//      tagger's images per second while the searches ran.
//
// Usage: pallix-imagetag-bench --work DIR [--items 300000] [--images 40]
//        [--rounds 30] [--priority background|normal]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "NearestRank.h"
#include "App/ImageTagExtraction.h"
#include "App/ImageTagger.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/Search/SearchParser.h"
#include "Core/Semantic/ImageSemanticStore.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

struct Options {
    fs::path work;
    int items = 300000;
    int images = 40;
    int rounds = 30;
    bool normalPriority = false;  // extraction at normal priority, for comparison
};

const std::vector<std::string> kTyped = {"report", "invoice", "photo", "budget", "会议记录"};
const char* kWords[] = {"report", "invoice", "photo", "budget", "draft", "final", "会议", "记录", "notes", "plan"};

std::vector<IndexedItem> corpus(int count)
{
    std::vector<IndexedItem> items;
    items.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::string folder = "/corpus/d" + std::to_string(i % 997);
        const std::string name = std::string(kWords[i % 10]) + "_" + kWords[(i / 10) % 10] + "_" + std::to_string(i) +
                                 (i % 3 ? ".txt" : ".pdf");
        items.emplace_back(folder + "/" + name, name, folder, i % 3 ? "txt" : "pdf", 1000 + i, 1.7e9,
                           IndexedItem::ItemType::File);
    }
    return items;
}

QImage poster(const QString& words, QColor background)
{
    QImage image(1600, 1000, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(220);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, words);
    return image;
}

std::vector<std::string> makeImages(const fs::path& folder, int count)
{
    fs::create_directories(folder);
    const QString words[] = {QStringLiteral("红色促销"), QStringLiteral("SALE 50%"), QStringLiteral("会议")};
    const QColor colours[] = {Qt::white, QColor(255, 220, 220), QColor(220, 220, 255)};
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const fs::path path = folder / ("image" + std::to_string(1000 + i) + ".jpg");
        poster(words[i % 3], colours[i % 3]).save(QString::fromStdString(path.string()), "JPG", 90);
        paths.push_back(path.string());
    }
    return paths;
}


// Every prefix of every typed run, `rounds` times, as the typing road asks.
std::vector<double> typeAll(IndexStore& store, int rounds)
{
    SearchParser parser;
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        for (const std::string& run : kTyped) {
            for (std::size_t n = 1; n <= run.size(); ++n) {
                if (n < run.size() && (static_cast<unsigned char>(run[n]) & 0xC0) == 0x80)
                    continue;  // not a character boundary
                const SearchQuery query = parser.parse(run.substr(0, n), {SearchContentFilter::All}, false,
                                                       SearchMatchMode::Contains, SearchSortField::Name, true, true);
                const auto start = SteadyClock::now();
                const auto found = store.quickMemorySearch(query, 10000, 12000);
                ms.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
                if (found.empty() && n == run.size())
                    std::fprintf(stderr, "no answer for %s\n", run.c_str());
            }
        }
    }
    return ms;
}

void report(const char* label, const std::vector<double>& ms)
{
    std::printf("%-6s searches %5zu  p50 %7.2f ms  p95 %7.2f ms  p99 %7.2f ms  max %7.2f ms\n", label, ms.size(),
                bench::nearestRankPercentile(ms, 50), bench::nearestRankPercentile(ms, 95), bench::nearestRankPercentile(ms, 99), bench::nearestRankPercentile(ms, 100));
}

bool checkExtraction(const std::vector<std::string>& images)
{
    const auto tags = ImageTagExtraction::system()->extractImageTags(images.front());
    const bool text = std::find(tags.begin(), tags.end(), "ocr:红色促销") != tags.end();
    const bool colour = std::find(tags.begin(), tags.end(), "白色") != tags.end();
    if (!text || !colour)
        std::fprintf(stderr, "extraction check failed on %s\n", images.front().c_str());
    return text && colour;
}

int run(const Options& o)
{
    fs::create_directories(o.work);
    const std::vector<std::string> images = makeImages(o.work / "images", o.images);
    if (!checkExtraction(images))
        return 1;

    // The typing corpus and the images in one index, as on a real disk: the
    // tagger pages the images from the store the searches use.
    const fs::path db = o.work / "index.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(db.string() + suffix);
    auto store = std::make_shared<IndexStore>(db);
    std::vector<IndexedItem> items = corpus(o.items);
    for (const std::string& path : images)
        if (auto item = IndexedItem::from(path))
            items.push_back(std::move(*item));
    if (!store->bootstrap() || !store->upsert(items)) {
        std::fprintf(stderr, "cannot build the index in %s\n", o.work.c_str());
        return 1;
    }
    store->waitForSearchCacheReady();
    while (!store->isSearchIndexesComplete() || store->runningBackgroundJobs() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    typeAll(*store, 2);  // warm caches before timing
    const std::vector<double> idle = typeAll(*store, o.rounds);

    const fs::path tagsFile = o.work / "image_semantic.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(tagsFile.string() + suffix);
    auto tags = std::make_shared<ImageSemanticStore>(tagsFile);
    if (tags->bootstrap())
        return 1;
    ImageTagger tagger(ImageTagger::Options{nullptr, nullptr, !o.normalPriority});
    tagger.startIfNeeded(store, tags, "local");
    // The searches should meet a tagger at work, its models loaded.
    while (tagger.extractedImages() < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::int64_t before = tagger.extractedImages();
    const auto busyStart = SteadyClock::now();
    const std::vector<double> busy = typeAll(*store, o.rounds);
    const double busySeconds = std::chrono::duration<double>(SteadyClock::now() - busyStart).count();
    const std::int64_t duringSearches = tagger.extractedImages() - before;

    // Throughput alone: until the pass is over.
    const auto aloneStart = SteadyClock::now();
    const std::int64_t aloneBefore = tagger.extractedImages();
    while (tagger.finishedPasses() < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double aloneSeconds = std::chrono::duration<double>(SteadyClock::now() - aloneStart).count();
    const std::int64_t alone = tagger.extractedImages() - aloneBefore;
    tagger.stopAll();
    const bool tagged = tags->searchPaths({{"红色促销"}}, 1000).size() == static_cast<std::size_t>((o.images + 2) / 3);

    std::printf("index %d items, %d images (1600x1000 JPEG), %u cores, extraction at %s priority; every poster "
                "tagged: %s\n",
                o.items, o.images, std::thread::hardware_concurrency(), o.normalPriority ? "normal" : "background",
                tagged ? "yes" : "NO");
    report("idle", idle);
    report("busy", busy);
    std::printf("busy/idle  p50 x%.2f  p95 x%.2f\n", bench::nearestRankPercentile(busy, 50) / bench::nearestRankPercentile(idle, 50),
                bench::nearestRankPercentile(busy, 95) / bench::nearestRankPercentile(idle, 95));
    std::printf("tagging while searching: %lld images in %.2f s = %.2f images/s\n",
                static_cast<long long>(duringSearches), busySeconds, duringSearches / busySeconds);
    if (alone > 0)
        std::printf("tagging alone:           %lld images in %.2f s = %.2f images/s\n", static_cast<long long>(alone),
                    aloneSeconds, alone / aloneSeconds);
    return 0;
}

} // namespace
} // namespace pallix

int main(int argc, char** argv)
{
    // Fonts for the posters, no display needed.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    pallix::Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--work")
            o.work = value;
        else if (name == "--items")
            o.items = std::stoi(value);
        else if (name == "--images")
            o.images = std::stoi(value);
        else if (name == "--rounds")
            o.rounds = std::stoi(value);
        else if (name == "--priority")
            o.normalPriority = value == "normal";
    }
    if (o.work.empty()) {
        std::fprintf(stderr, "usage: pallix-imagetag-bench --work DIR [--items N] [--images N] [--rounds N] "
                             "\n");
        return 2;
    }
    return pallix::run(o);
}
