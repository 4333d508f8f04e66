// pallix-memory-bench: the private memory of a session of use, replayed in
// one process, and of the same process idle after it.
//
// It writes an index of --items generated file names plus --photos generated
// JPEG photos (1600 × 1200) into --work and loads it as the application does
// (the fresh start: the index ready and 16 searches made). Then --rounds
// rounds, each: the typed prefixes of five words on the typing road; a grid
// page of 60 photos at 256 px, waited for until every picture arrived; two
// larger pictures (512 px, a zoom step and the panel); a burst of 2,000 new
// files written into the index and every tenth round 20,000, then freed
// memory handed back as after the watcher's last batch; meanwhile the
// image tagger works through the first --tag photos with the real
// extraction (text, objects, colour). After the last round it waits --idle
// seconds doing nothing. A sampler reads /proc/self/smaps_rollup every
// 50 ms: the peak while opening, the fresh start's private memory, the
// session's peak, the end of the session and the idle process's are printed,
// resident beside private, of the private the anonymous part (the heap; the
// rest is pages of files mapped), and the private memory of this process and
// its helper processes (thumbnails, recognisers) together.
//
// With --corpus FILE (a corpus of gen_corpus.py, as `make bench` makes in
// bench/out) the index holds the corpus's first --items paths rather than
// generated names: names as varied as a home folder's, whose search indexes
// are larger.
//
// Usage: pallix-memory-bench --work DIR [--items 1000000] [--photos 1400]
//        [--rounds 24] [--tag 60] [--idle 100] [--corpus FILE]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "App/ImageTags/ImageTagExtraction.h"
#include "App/ImageTags/ImageTagger.h"
#include "App/Preview/ThumbnailProvider.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/IndexDB/IndexStoreProbe.h"
#include "Core/Search/SearchParser.h"
#include "Core/Semantic/ImageSemanticStore.h"
#include "Platform/AllocatorArenas.h"
#include "CorpusIndex.h"
#include "SmapsRollup.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

struct Options {
    fs::path work;
    int items = 1000000;
    int photos = 1400;
    int rounds = 24;
    int tag = 60;
    int idleSeconds = 100;
    std::string corpus;
};

struct Memory {
    double privateMiB = 0;
    double residentMiB = 0;
    double anonymousMiB = 0;  // of the private: the heap and anonymous maps (the rest is mapped files)
    double withHelpersMiB = 0;  // the private memory of this process and of its helper processes together
};

// The processes this one started (the thumbnail and recogniser helpers).
std::vector<std::string> childProcesses()
{
    std::vector<std::string> children;
    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (name) state ppid ...: the name may hold spaces, so read after its ")".
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state, parent;
        rest >> state >> parent;
        if (parent == self)
            children.push_back(pid);
    }
    return children;
}

Memory readMemory()
{
    constexpr double kMiB = 1 << 20;
    const bench::SmapsRollup self = bench::readSmapsRollup();
    std::int64_t helpers = 0;
    for (const std::string& pid : childProcesses())
        helpers += bench::readSmapsRollup(pid).privateBytes;
    return {double(self.privateBytes) / kMiB, double(self.residentBytes) / kMiB, double(self.anonymousBytes) / kMiB,
            double(self.privateBytes + helpers) / kMiB};
}

// The highest private and resident memory seen since the last reset.
class Sampler {
public:
    Sampler() : m_thread([this] { run(); }) {}
    ~Sampler()
    {
        m_stop = true;
        m_thread.join();
    }
    Memory takePeak()
    {
        const Memory now = readMemory();
        return {std::max(m_privateKiB.exchange(0) / 1024.0, now.privateMiB),
                std::max(m_residentKiB.exchange(0) / 1024.0, now.residentMiB),
                std::max(m_anonymousKiB.exchange(0) / 1024.0, now.anonymousMiB),
                std::max(m_withHelpersKiB.exchange(0) / 1024.0, now.withHelpersMiB)};
    }

private:
    void run()
    {
        while (!m_stop) {
            const Memory m = readMemory();
            raise(m_privateKiB, static_cast<long>(m.privateMiB * 1024));
            raise(m_residentKiB, static_cast<long>(m.residentMiB * 1024));
            raise(m_anonymousKiB, static_cast<long>(m.anonymousMiB * 1024));
            raise(m_withHelpersKiB, static_cast<long>(m.withHelpersMiB * 1024));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    static void raise(std::atomic<long>& peak, long value)
    {
        long seen = peak.load();
        while (value > seen && !peak.compare_exchange_weak(seen, value)) {
        }
    }
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_privateKiB{0};
    std::atomic<long> m_residentKiB{0};
    std::atomic<long> m_anonymousKiB{0};
    std::atomic<long> m_withHelpersKiB{0};
    std::thread m_thread;
};

const char* kWords[] = {"report", "invoice", "photo", "budget", "draft", "final", "会议", "记录", "notes", "plan"};
const std::vector<std::string> kTyped = {"report", "invoice", "photo", "budget", "会议记录"};

IndexedItem generatedItem(int i, const std::string& top)
{
    const std::string folder = top + "/d" + std::to_string(i % 4999) + "/s" + std::to_string(i % 7);
    const std::string name = std::string(kWords[i % 10]) + "_" + kWords[(i / 10) % 10] + "_" + std::to_string(i) +
                             (i % 3 ? ".txt" : ".pdf");
    return IndexedItem(folder + "/" + name, name, folder, i % 3 ? "txt" : "pdf", 1000 + i, 1.7e9,
                       IndexedItem::ItemType::File);
}

std::vector<std::string> makePhotos(const fs::path& folder, int count)
{
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const fs::path path = folder / ("IMG_" + std::to_string(10000 + i) + ".jpg");
        paths.push_back(path.string());
        if (fs::exists(path))
            continue;
        QImage image(1600, 1200, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 37 % 360, 120, 220));
        QPainter painter(&image);
        painter.setPen(Qt::black);
        QFont font = painter.font();
        font.setPixelSize(120);
        painter.setFont(font);
        painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("会议 %1").arg(i));
        painter.end();
        image.save(QString::fromStdString(path.string()), "JPG", 85);
    }
    return paths;
}

std::size_t typeAll(IndexStore& store)
{
    SearchParser parser;
    std::size_t answers = 0;
    for (const std::string& run : kTyped)
        for (std::size_t n = 1; n <= run.size(); ++n) {
            if (n < run.size() && (static_cast<unsigned char>(run[n]) & 0xC0) == 0x80)
                continue;
            const SearchQuery query = parser.parse(run.substr(0, n), {SearchContentFilter::All}, false,
                                                   SearchMatchMode::Contains, SearchSortField::Name, true, true);
            answers += store.typingSearch(query, {10000, 12000}).size();
        }
    return answers;
}

// Asks for every picture until each is a finished one (not the fallback icon).
bool showAll(ThumbnailProvider& provider, const std::vector<IndexedItem>& items, double side)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 120000) {
        int missing = 0;
        for (const IndexedItem& item : items) {
            const QPixmap shown =
                provider.image(item, side, true, false, ThumbnailProvider::PreviewPriority::Urgent);
            if (shown.cacheKey()
                == provider.fallbackImage(QString::fromUtf8(item.path()), false, side).cacheKey())
                ++missing;
        }
        if (missing == 0)
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void print(const char* label, const Memory& m)
{
    std::printf("%-34s private %7.1f MiB (anonymous %7.1f)  resident %7.1f MiB  with helpers %7.1f MiB\n",
                label, m.privateMiB, m.anonymousMiB, m.residentMiB, m.withHelpersMiB);
    std::fflush(stdout);
}

int run(const Options& o)
{
    fs::create_directories(o.work);
    const std::vector<std::string> photoPaths = makePhotos(o.work / "photos", o.photos);
    std::vector<IndexedItem> photos;
    for (const std::string& path : photoPaths)
        if (auto item = IndexedItem::from(path))
            photos.push_back(std::move(*item));

    const fs::path db = o.work / "index.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(db.string() + suffix);
    fs::remove_all(o.work / "cache");
    {
        auto store = std::make_shared<IndexStore>(db, Clock::system(), std::make_shared<IndexStoreProbe>());
        std::vector<IndexedItem> items;
        if (!o.corpus.empty()) {
            items = bench::readCorpus(o.corpus);
            items.resize(std::min(items.size(), static_cast<std::size_t>(o.items)));
        }
        items.reserve(static_cast<std::size_t>(o.items) + photos.size());
        for (int i = static_cast<int>(items.size()); i < o.items; ++i)
            items.push_back(generatedItem(i, "/corpus"));
        items.insert(items.end(), photos.begin(), photos.end());
        if (!store->bootstrap() || !store->upsert(items)) {
            std::fprintf(stderr, "cannot write the index in %s\n", o.work.c_str());
            return 1;
        }
    }

    // Writing the index is the bench's own doing: what it freed goes back, so
    // the start begins where a new process would.
    returnFreedMemory();

    // The start: the index opened and loaded, as the application opens it.
    Sampler sampler;
    auto probe = std::make_shared<IndexStoreProbe>();
    auto store = std::make_shared<IndexStore>(db, Clock::system(), probe);
    if (!store->bootstrap())
        return 1;
    store->waitForSearchCacheReady();
    while (!store->status().searchIndexesComplete || probe->runningBackgroundJobs() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ThumbnailProvider provider(Clock::system(), {o.work / "cache", nullptr});
    for (int i = 0; i < 16; ++i)
        store->typingSearch(SearchParser().parse(kTyped[static_cast<std::size_t>(i) % kTyped.size()],
                                                 {SearchContentFilter::All}, false, SearchMatchMode::Contains,
                                                 SearchSortField::Name, true, true),
                            {10000, 12000});
    const std::int64_t buildsAtStart = probe->indexBuildGeneration();
    const Memory fresh = readMemory();
    print("peak while opening", sampler.takePeak());
    print("fresh start (index, 16 searches)", fresh);

    // The session.
    auto tags = std::make_shared<ImageSemanticStore>(o.work / "image_semantic.sqlite");
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove((o.work / "image_semantic.sqlite").string() + suffix);
    if (tags->bootstrap())
        return 1;
    // At normal priority: on a loaded machine the background class gets a
    // core only when one is free, and the pass would not end in the run.
    ImageTagger tagger(ImageTagger::Options{ImageTagExtraction::system(), nullptr, false});
    const std::vector<std::string> tagged(photoPaths.begin(), photoPaths.begin() + std::min<std::ptrdiff_t>(
                                                                                     o.tag, std::ssize(photoPaths)));
    tagger.startIfNeeded(
        [tagged](int limit, const std::string& after) {
            std::vector<std::string> page;
            for (const std::string& path : tagged)
                if (path > after && std::ssize(page) < limit)
                    page.push_back(path);
            return page;
        },
        tags, "local");

    constexpr std::size_t kPage = 60;
    int burst = 0;
    Memory sessionPeak;
    const auto sessionStart = SteadyClock::now();
    for (int round = 0; round < o.rounds; ++round) {
        typeAll(*store);
        const std::size_t first = (static_cast<std::size_t>(round) * kPage) % photos.size();
        std::vector<IndexedItem> page;
        for (std::size_t i = 0; i < kPage; ++i)
            page.push_back(photos[(first + i) % photos.size()]);
        if (!showAll(provider, page, 256))
            std::fprintf(stderr, "round %d: a grid page did not complete\n", round);
        showAll(provider, {photos[first], photos[(first + 7) % photos.size()]}, 512);
        std::vector<IndexedItem> added;
        const int count = round % 10 == 9 ? 20000 : 2000;
        for (int i = 0; i < count; ++i)
            added.push_back(generatedItem(burst++, "/home/user/new"));
        if (!store->upsert(added))
            std::fprintf(stderr, "round %d: the burst was not written\n", round);
        // As the application does once the watcher's last batch is written.
        returnFreedMemory();
        const Memory peak = sampler.takePeak();
        sessionPeak = {std::max(sessionPeak.privateMiB, peak.privateMiB),
                       std::max(sessionPeak.residentMiB, peak.residentMiB),
                       std::max(sessionPeak.anonymousMiB, peak.anonymousMiB),
                       std::max(sessionPeak.withHelpersMiB, peak.withHelpersMiB)};
        std::printf("round %2d: tagged %3lld  peak private %7.1f MiB (anonymous %7.1f)  resident %7.1f MiB  "
                    "with helpers %7.1f MiB\n",
                    round, static_cast<long long>(tagger.extractedImages()), peak.privateMiB, peak.anonymousMiB,
                    peak.residentMiB, peak.withHelpersMiB);
        std::fflush(stdout);
    }
    const double sessionSeconds = std::chrono::duration<double>(SteadyClock::now() - sessionStart).count();
    // The tagger's pass ends once its photos are done.
    while (tagger.finishedPasses() < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    print("end of the session", readMemory());
    std::printf("session %.0f s, %lld images tagged, %lld index builds after the start's\n", sessionSeconds,
                static_cast<long long>(tagger.extractedImages()),
                static_cast<long long>(probe->indexBuildGeneration() - buildsAtStart));

    // Idle: only the event loop turns, as in an application nobody uses.
    const auto idleEnd = SteadyClock::now() + std::chrono::seconds(o.idleSeconds);
    while (SteadyClock::now() < idleEnd) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const Memory idle = readMemory();
    print("peak of the session", sessionPeak);
    print("peak after it, to the end", sampler.takePeak());
    print("idle after the session", idle);
    std::printf("idle - fresh: private %+.1f MiB (anonymous %+.1f), resident %+.1f MiB\n",
                idle.privateMiB - fresh.privateMiB, idle.anonymousMiB - fresh.anonymousMiB,
                idle.residentMiB - fresh.residentMiB);
    return 0;
}

} // namespace
} // namespace pallix

int main(int argc, char** argv)
{
    pallix::limitAllocatorArenas();
    pallix::fixAllocatorLimits();
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    pallix::Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const int value = name == "--work" || name == "--corpus" ? 0 : std::atoi(argv[i + 1]);
        if (name == "--work")
            o.work = argv[i + 1];
        else if (name == "--corpus")
            o.corpus = argv[i + 1];
        else if (name == "--items")
            o.items = value;
        else if (name == "--photos")
            o.photos = value;
        else if (name == "--rounds")
            o.rounds = value;
        else if (name == "--tag")
            o.tag = value;
        else if (name == "--idle")
            o.idleSeconds = value;
    }
    if (o.work.empty()) {
        std::fprintf(stderr, "usage: pallix-memory-bench --work DIR [--items N] [--photos N] [--rounds N] "
                             "[--tag N] [--idle S] [--corpus FILE]\n");
        return 2;
    }
    return pallix::run(o);
}
