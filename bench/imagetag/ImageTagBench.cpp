// pallix-imagetag-bench: the typing road's search latency with image tagging
// running in the background against idle, and the tagging throughput.
//
// It makes a work folder with an index of generated file names (the corpus
// the typing searches run over) and a set of photos (Debian's sample photos
// copied under many names; generated posters where they are not installed),
// checks that the real extraction names what the first ones show, then:
//   1. throughput: the image tagger over all photos (text recognition, object
//      detector, colour) with nothing else running, images per second;
//   2. typing: rounds of typed prefixes as the typing road asks them (the
//      store's capped in-memory search), each round once idle and once with
//      a tagger working, in alternating order, so load that drifts over the
//      run falls on both sides alike; the percentiles of both and their ratio.
//
// Usage: pallix-imagetag-bench --work DIR [--items 300000] [--images 200]
//        [--rounds 30] [--priority background|normal]
//        pallix-imagetag-bench --idle-cpu DIR [--images 1000] [--settle 30] [--window 60]
//                              [--priority background|normal]
//        (the idle-CPU measurement, IdleCpu.h)
//        pallix-imagetag-bench --store-rate DIR [--rows 1000,100000] [--writes 1000]
//        (images stored per second beside N stored, StoreRate.h)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "IdleCpu.h"
#include "StoreRate.h"
#include "NearestRank.h"
#include "App/ImageTags/ImageTagExtraction.h"
#include "App/ImageTags/ImageTagger.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/IndexStoreProbe.h"
#include "Core/Search/SearchParser.h"
#include "Core/Semantic/ImageSemanticStore.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

struct Options {
    fs::path work;
    int items = 300000;
    int images = 200;
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

// Debian's sample photos (python3-skimage, darknet) and a word each shows.
const std::pair<const char*, const char*> kSamplePhotos[] = {
    {"/usr/lib/python3/dist-packages/skimage/data/coffee.png", "杯子"},
    {"/usr/lib/python3/dist-packages/skimage/data/horse.png", "马"},
    {"/usr/lib/python3/dist-packages/skimage/data/motorcycle_left.png", "摩托车"},
    {"/usr/share/darknet/data/eagle.jpg", "鸟"},
    {"/usr/share/darknet/data/dog.jpg", "狗"},
    {"/usr/share/darknet/data/horses.jpg", "马"},
    {"/usr/share/darknet/data/person.jpg", "人物"},
};

std::vector<std::pair<std::string, std::string>> availablePhotos()
{
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& [path, word] : kSamplePhotos)
        if (fs::exists(path))
            found.emplace_back(path, word);
    return found;
}

// `count` copies of the sample photos, round robin, each a file of its own.
std::vector<std::string> copyPhotos(const fs::path& folder, int count,
                                    const std::vector<std::pair<std::string, std::string>>& photos)
{
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const fs::path& source = photos[static_cast<std::size_t>(i) % photos.size()].first;
        const fs::path path = folder / ("photo" + std::to_string(1000 + i) + source.extension().string());
        fs::copy_file(source, path, fs::copy_options::overwrite_existing);
        paths.push_back(path.string());
    }
    return paths;
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
                const auto found = store.typingSearch(query, {10000, 12000});
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

bool holds(const std::vector<std::string>& tags, const std::string& tag)
{
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// The real extraction names what each sample photo shows, or reads a poster.
bool checkExtraction(ImageTagExtractor& extraction, const std::vector<std::string>& images,
                     const std::vector<std::pair<std::string, std::string>>& photos)
{
    bool ok = true;
    for (std::size_t i = 0; i < std::min(images.size(), std::max<std::size_t>(photos.size(), 1)); ++i) {
        const auto tags = extraction.extractImageTags(images[i]);
        const std::string wanted = photos.empty() ? "ocr:红色促销" : photos[i].second;
        if (!holds(tags, wanted)) {
            std::fprintf(stderr, "extraction check failed on %s: no %s\n", images[i].c_str(), wanted.c_str());
            ok = false;
        }
    }
    return ok;
}

// A tag store that has nothing and keeps nothing: a tagger over it works
// through every image again on each pass, so it never runs out of work.
class EndlessWork final : public ImageTagStore {
public:
    std::optional<std::string> bootstrap() override { return std::nullopt; }
};

int run(const Options& o)
{
    fs::create_directories(o.work);
    const auto photos = availablePhotos();
    const std::vector<std::string> images = photos.empty() ? makeImages(o.work / "images", o.images)
                                                           : copyPhotos(o.work / "images", o.images, photos);
    const std::shared_ptr<ImageTagExtractor> extraction = ImageTagExtraction::system();
    if (!checkExtraction(*extraction, images, photos))
        return 1;

    // The typing corpus and the images in one index, as on a real disk: the
    // tagger pages the images from the store the searches use.
    const fs::path db = o.work / "index.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(db.string() + suffix);
    auto probe = std::make_shared<IndexStoreProbe>();
    auto store = std::make_shared<IndexStore>(db, Clock::system(), probe);
    std::vector<IndexedItem> items = corpus(o.items);
    for (const std::string& path : images)
        if (auto item = IndexedItem::from(path))
            items.push_back(std::move(*item));
    if (!store->bootstrap() || !store->upsert(items)) {
        std::fprintf(stderr, "cannot build the index in %s\n", o.work.c_str());
        return 1;
    }
    store->waitForSearchCacheReady();
    while (!store->status().searchIndexesComplete || probe->runningBackgroundJobs() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // 1. Throughput: one pass of the tagger over every image, alone.
    const fs::path tagsFile = o.work / "image_semantic.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(tagsFile.string() + suffix);
    auto tags = std::make_shared<ImageSemanticStore>(tagsFile);
    if (tags->bootstrap())
        return 1;
    const auto aloneStart = SteadyClock::now();
    std::int64_t alone = 0;
    {
        ImageTagger tagger(ImageTagger::Options{extraction, nullptr, !o.normalPriority});
        tagger.startIfNeeded(store, tags, "local");
        while (tagger.finishedPasses() < 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        alone = tagger.extractedImages();
    }
    const double aloneSeconds = std::chrono::duration<double>(SteadyClock::now() - aloneStart).count();
    std::set<std::string> words;
    for (const auto& photo : photos)
        words.insert(photo.second);
    std::size_t named = 0;
    for (const std::string& word : words)
        named += tags->searchPaths({{word}}, 1000).size();

    // 2. Typing, idle and busy rounds alternated.
    typeAll(*store, 2);  // warm caches before timing
    std::vector<double> idle, busy;
    std::int64_t duringSearches = 0;
    double busySeconds = 0;
    const auto endless = std::make_shared<EndlessWork>();
    for (int r = 0; r < o.rounds; ++r) {
        for (int half = 0; half < 2; ++half) {
            if ((r + half) % 2 == 0) {
                const auto more = typeAll(*store, 1);
                idle.insert(idle.end(), more.begin(), more.end());
                continue;
            }
            ImageTagger tagger(ImageTagger::Options{extraction, nullptr, !o.normalPriority});
            tagger.startIfNeeded(store, endless, "busy");
            while (tagger.extractedImages() < 1)  // the searches meet a tagger at work
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const std::int64_t before = tagger.extractedImages();
            const auto start = SteadyClock::now();
            const auto more = typeAll(*store, 1);
            busySeconds += std::chrono::duration<double>(SteadyClock::now() - start).count();
            duringSearches += tagger.extractedImages() - before;
            busy.insert(busy.end(), more.begin(), more.end());
        }
    }

    std::printf("index %d items, %d images (%s), %u cores, extraction at %s priority\n", o.items, o.images,
                photos.empty() ? "1600x1000 JPEG posters" : "copies of Debian's sample photos",
                std::thread::hardware_concurrency(), o.normalPriority ? "normal" : "background");
    std::printf("tagging alone:           %lld images in %.2f s = %.2f images/s; images found by their sample word: %zu\n",
                static_cast<long long>(alone), aloneSeconds, alone / aloneSeconds, named);
    report("idle", idle);
    report("busy", busy);
    std::printf("busy/idle  p50 x%.2f  p95 x%.2f  p99 x%.2f\n",
                bench::nearestRankPercentile(busy, 50) / bench::nearestRankPercentile(idle, 50),
                bench::nearestRankPercentile(busy, 95) / bench::nearestRankPercentile(idle, 95),
                bench::nearestRankPercentile(busy, 99) / bench::nearestRankPercentile(idle, 99));
    std::printf("tagging while searching: %lld images in %.2f s = %.2f images/s\n",
                static_cast<long long>(duringSearches), busySeconds, duringSearches / busySeconds);
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
    pallix::bench::IdleCpuOptions idle;
    pallix::bench::StoreRateOptions rate;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--idle-cpu")
            idle.work = value;
        else if (name == "--store-rate")
            rate.work = value;
        else if (name == "--writes")
            rate.writes = std::stoi(value);
        else if (name == "--rows") {
            rate.rows.clear();
            for (std::size_t at = 0; at < value.size();) {
                const std::size_t comma = std::min(value.find(',', at), value.size());
                rate.rows.push_back(std::stoi(value.substr(at, comma - at)));
                at = comma + 1;
            }
        }
        else if (name == "--settle")
            idle.settleSeconds = std::stoi(value);
        else if (name == "--window")
            idle.windowSeconds = std::stoi(value);
        else if (name == "--work")
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
    if (!rate.work.empty())
        return pallix::bench::runStoreRate(rate);
    if (!idle.work.empty()) {
        idle.images = o.images == pallix::Options{}.images ? idle.images : o.images;
        idle.normalPriority = o.normalPriority;
        return pallix::bench::runIdleCpu(idle);
    }
    if (o.work.empty()) {
        std::fprintf(stderr, "usage: pallix-imagetag-bench --work DIR [--items N] [--images N] [--rounds N] "
                             "\n");
        return 2;
    }
    return pallix::run(o);
}
