// Makes `images` photo-like JPEGs without any text (soft gradients and
// blurred blobs of colour, seeded, each file different), indexes them, runs
// the image tagger over them as the application does (real extraction, real
// tag store, extraction at background priority unless asked) until its first pass is
// over, waits `settle` seconds and then reads the process's CPU time over
// `window` seconds. Nothing else runs in the process meanwhile, so that time
// is what the idle application spends on tagging.

#include "IdleCpu.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include <sys/resource.h>

#include <QImage>
#include <QPainter>
#include <QRadialGradient>

#include "App/ImageTags/ImageTagExtraction.h"
#include "App/ImageTags/ImageTagger.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/Semantic/ImageSemanticStore.h"

namespace pallix::bench {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

QImage photoWithoutText(std::mt19937& random)
{
    std::uniform_int_distribution<int> channel(0, 255), x(0, 1023), y(0, 767), radius(80, 420);
    QImage image(1024, 768, QImage::Format_RGB32);
    QLinearGradient sky(0, 0, 0, 768);
    sky.setColorAt(0, QColor(channel(random), channel(random), channel(random)));
    sky.setColorAt(1, QColor(channel(random), channel(random), channel(random)));
    QPainter painter(&image);
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    for (int blob = 0; blob < 6; ++blob) {
        const QPointF centre(x(random), y(random));
        const int r = radius(random);
        QRadialGradient soft(centre, r);
        soft.setColorAt(0, QColor(channel(random), channel(random), channel(random), 220));
        soft.setColorAt(1, QColor(0, 0, 0, 0));
        painter.setBrush(soft);
        painter.drawEllipse(centre, r, r);
    }
    return image;
}

std::vector<std::string> makePhotos(const fs::path& folder, int count)
{
    fs::create_directories(folder);
    std::mt19937 random(20261210);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const fs::path path = folder / ("photo" + std::to_string(10000 + i) + ".jpg");
        photoWithoutText(random).save(QString::fromStdString(path.string()), "JPG", 88);
        paths.push_back(path.string());
    }
    return paths;
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::shared_ptr<IndexStore> indexOf(const fs::path& db, const std::vector<std::string>& images)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(db.string() + suffix);
    auto store = std::make_shared<IndexStore>(db);
    std::vector<IndexedItem> items;
    for (const std::string& path : images)
        if (auto item = IndexedItem::from(path))
            items.push_back(std::move(*item));
    if (!store->bootstrap() || !store->upsert(items))
        return nullptr;
    store->waitForSearchCacheReady();
    return store;
}

} // namespace

int runIdleCpu(const IdleCpuOptions& o)
{
    const std::vector<std::string> images = makePhotos(o.work / "photos", o.images);
    const auto index = indexOf(o.work / "index.sqlite", images);
    const fs::path tagsFile = o.work / "image_semantic.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(tagsFile.string() + suffix);
    auto tags = std::make_shared<ImageSemanticStore>(tagsFile);
    if (!index || tags->bootstrap()) {
        std::fprintf(stderr, "cannot make the stores in %s\n", o.work.c_str());
        return 1;
    }

    ImageTagger tagger(ImageTagger::Options{ImageTagExtraction::system(), nullptr, !o.normalPriority});
    const auto start = SteadyClock::now();
    tagger.startIfNeeded(index, tags, "local");
    while (tagger.finishedPasses() < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double firstPass = std::chrono::duration<double>(SteadyClock::now() - start).count();
    const std::int64_t firstReads = tagger.extractedImages();
    const std::size_t withText = tags->searchPaths({{"ocr"}}, o.images).size();

    std::this_thread::sleep_for(std::chrono::seconds(o.settleSeconds));
    const std::int64_t readsBefore = tagger.extractedImages();
    const std::int64_t passesBefore = tagger.finishedPasses();
    const double cpuBefore = processCpuSeconds();
    const auto windowStart = SteadyClock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.windowSeconds));
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(SteadyClock::now() - windowStart).count();

    std::printf("extraction at %s priority\n", o.normalPriority ? "normal" : "background");
    std::printf("%d photos without text; first pass: %lld images read in %.1f s; rows with an ocr: tag: %zu\n",
                o.images, static_cast<long long>(firstReads), firstPass, withText);
    std::printf("idle window: %d s after the first pass, for %.1f s: CPU %.2f s = %.1f %% of a core; "
                "%lld images read again, %lld passes ended\n",
                o.settleSeconds, wall, cpu, 100 * cpu / wall,
                static_cast<long long>(tagger.extractedImages() - readsBefore),
                static_cast<long long>(tagger.finishedPasses() - passesBefore));
    return 0;
}

} // namespace pallix::bench
