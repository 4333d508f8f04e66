// pallix-idle-query-bench: what the application model costs while a query
// stands in the field and nobody types. The index holds a generated corpus
// (`--items` rows, one in twenty a folder, `--images` of the files images)
// beside a real home folder that the real inotify watcher watches; the
// support folder (the index and the tag database) lies inside that home, as
// ~/.local/share does. The query is an image-content word ("猫": its tag and
// its English label, and folder names that hold "cat").
//
// Phases, each measured over `--window` seconds of the process's CPU time
// (less the time of the two bench threads below, which stand for the tagger
// and for other programs): nothing; a tagger at work (`--tag-rate` images a
// second, tags written through the model's tag store, one image in a hundred
// a cat); 50 files changed a second in the home folder (`--change-rate`);
// both; and, `--settle` seconds after both end, nothing again. Each phase says
// the searches run (the search generation) and the image sections published.
//
// The tagger's extraction is not run: what is measured is the model's answer
// to its progress, not the decoding (see bench/imagetag for that).
//
// DIR must not lie under a folder the index leaves out (/tmp, /var/tmp).
//
// Usage: pallix-idle-query-bench --work DIR [--items 1000000] [--images 100000] [--tag-rate 20]
//        [--change-rate 50] [--window 20] [--settle 15]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <time.h>
#include <sys/resource.h>

#include <QGuiApplication>

#include "CorpusIndex.h"
#include "model/EventLoopWait.h"
#include "App/AppModel.h"
#include "App/Context/AppContext.h"
#include "App/Indexing/LocalIndex.h"
#include "App/Indexing/WatcherBatches.h"
#include "App/Search/SearchSession.h"
#include "Core/Config/SettingsStore.h"
#include "Core/IndexDB/IndexStore.h"
#include "Core/Semantic/ImageTagStore.h"

namespace pallix {
namespace {

namespace fs = std::filesystem;
using bench::idleFor;
using bench::waitUntil;

struct Options {
    fs::path work;
    int items = 1'000'000;
    int images = 100'000;
    int tagRate = 20;
    int changeRate = 50;
    int windowSeconds = 20;
    int settleSeconds = 15;
};

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// The corpus: folders "/bench-corpus/dNNNN" and below them files and
// subfolders; one folder in 10,000 is named for cats (in both words: a
// folder must hold every word of the query's terms), so that a search for
// folders by name reads them all, as for most words.
std::vector<IndexedItem> corpus(const Options& o, std::vector<std::string>& imagePaths)
{
    std::vector<IndexedItem> items;
    items.reserve(static_cast<std::size_t>(o.items));
    const int imageEvery = std::max(1, o.items / std::max(1, o.images));
    std::string folder;
    for (int i = 0; i < o.items; ++i) {
        FileMetadata meta;
        meta.contentModifiedAt = 1'700'000'000.0 + i;
        std::string path;
        if (i % 20 == 0) {
            folder = "/bench-corpus/d" + std::to_string(i / 2000) + "/" +
                     (i % 200'000 == 0 ? "猫 cat photos " : "project notes ") + std::to_string(i);
            path = folder;
            meta.isDirectory = true;
        } else {
            meta.isDirectory = false;
            meta.fileSize = 1000 + i;
            path = folder + (i % imageEvery == 0 ? "/img" + std::to_string(i) + ".jpg"
                                                 : "/report " + std::to_string(i) + ".txt");
        }
        if (auto item = IndexedItem::from(path, meta)) {
            if (!item->isDirectory() && path.ends_with(".jpg"))
                imagePaths.push_back(path);
            items.push_back(std::move(*item));
        }
    }
    return items;
}

// Stands for the image tagger: while on, writes the tags of one image after
// another through the model's tag store at a steady pace.
class TaggerStandIn {
public:
    void start(std::shared_ptr<ImageTagStore> tags, std::vector<std::string> images, int perSecond)
    {
        m_thread = std::thread([this, tags = std::move(tags), images = std::move(images), perSecond] {
            auto due = std::chrono::steady_clock::now();
            for (std::size_t i = 0; !m_stop; ++i) {
                std::this_thread::sleep_until(due);
                due += std::chrono::microseconds(1'000'000 / std::max(1, perSecond));
                if (!m_on) {
                    due = std::chrono::steady_clock::now();
                    m_cpu = threadCpuSeconds();
                    continue;
                }
                const std::string& path = images[m_tagged % images.size()];
                const std::vector<std::string> words = m_tagged % 100 == 0
                                                           ? std::vector<std::string>{"cat", "sofa", "indoor"}
                                                           : std::vector<std::string>{"sky", "blue", "ocr:sale"};
                tags->upsert(path, words, 1'700'000'000.0);
                ++m_tagged;
                m_cpu = threadCpuSeconds();
            }
        });
    }
    void setOn(bool on) { m_on = on; }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    double cpu() const { return m_cpu; }
    long tagged() const { return m_tagged; }
    ~TaggerStandIn() { stop(); }

private:
    std::atomic<bool> m_on{false};
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_tagged{0};
    std::atomic<double> m_cpu{0};
    std::thread m_thread;
};

// Stands for other programs: while on, writes, rewrites and removes files in
// a folder of the home at a steady pace.
class DiskChurn {
public:
    DiskChurn(fs::path folder, int perSecond) : m_folder(std::move(folder)), m_perSecond(perSecond)
    {
        fs::create_directories(m_folder);
        m_thread = std::thread([this] { run(); });
    }
    void setOn(bool on) { m_on = on; }
    double cpu() const { return m_cpu; }
    long changes() const { return m_changes; }
    ~DiskChurn()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    void run()
    {
        auto due = std::chrono::steady_clock::now();
        for (long i = 0; !m_stop; ++i) {
            std::this_thread::sleep_until(due);
            due += std::chrono::microseconds(1'000'000 / std::max(1, m_perSecond));
            if (!m_on) {
                due = std::chrono::steady_clock::now();
                m_cpu = threadCpuSeconds();
                continue;
            }
            const fs::path file = m_folder / ("log" + std::to_string(m_changes % 200) + ".txt");
            if (m_changes % 3 == 2) {
                std::error_code ec;
                fs::remove(file, ec);
            } else {
                std::ofstream(file, std::ios::app) << "line " << m_changes << "\n";
            }
            ++m_changes;
            m_cpu = threadCpuSeconds();
        }
    }

    const fs::path m_folder;
    const int m_perSecond;
    std::atomic<bool> m_on{false};
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_changes{0};
    std::atomic<double> m_cpu{0};
    std::thread m_thread;
};

int run(const Options& o)
{
    const fs::path home = o.work / "home";
    const fs::path support = home / ".local" / "share" / "pallix";
    fs::create_directories(home / "Documents");
    std::ofstream(home / "Documents" / "readme.txt") << "hello\n";
    std::vector<std::string> imagePaths;
    const std::vector<IndexedItem> items = corpus(o, imagePaths);
    for (const char* name : {"image_semantic.sqlite", "image_semantic.sqlite-wal", "image_semantic.sqlite-shm"})
        fs::remove(support / name);
    if (!bench::prepareIndex(support / "index.sqlite", items))
        return 1;

    AppModelEnvironment env;
    fs::remove(o.work / "defaults.json");
    env.defaults = Defaults::atFile(o.work / "defaults.json");
    env.supportDirectory = support;
    MountedVolume volume;
    volume.mountPoint = home.string();
    volume.fileSystemType = "ext4";
    volume.kind = VolumeKind::Local;
    env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{volume});
    SettingsStore settings(env.defaults);
    AppSettings record = settings.settings();
    record.includeServerInSearch = false;
    record.enableImageFuzzySearch = true;
    settings.setSettings(record);
    settings.persist();
    TaggerStandIn tagger;
    env.services.startImageTagging = [&](std::shared_ptr<IndexStore>, std::shared_ptr<ImageTagStore> tags,
                                         const std::string& id) {
        if (id == "local")
            tagger.start(std::move(tags), imagePaths, o.tagRate);
    };
    DiskChurn churn(home / "Downloads" / "churn", o.changeRate);

    AppModel model(env);
    bool started = false;
    QObject::connect(&model, &AppModel::bootstrapEnded, &model, [&] { started = true; });
    IndexStore& store = *model.context().stores().local;
    if (!waitUntil([&] { return started && store.status().cacheReady && store.status().searchIndexesComplete
                                && !model.localIndex().isIndexing(); }, 600000)) {
        std::fprintf(stderr, "the model did not get ready\n");
        return 1;
    }
    // The folder-name part of one image-content search, alone.
    std::vector<double> folderMs;
    std::size_t folders = 0;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        folders = store.folderPathsMatchingNameTokens({"猫", "cat"}, false, 240).size();
        folderMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(folderMs.begin(), folderMs.end());
    std::printf("folders by name (猫, cat): %zu found, median of 5: %.1f ms\n", folders, folderMs[2]);

    SearchSession& session = model.searchSession();
    long imagePublications = 0;
    long batches = 0;
    QObject::connect(&session, &SearchSession::imageFuzzyResultsChanged, &model, [&] { ++imagePublications; });
    QObject::connect(&model.watcherBatches(), &WatcherBatches::batchWritten, &model, [&] { ++batches; });
    session.setSearchText(QStringLiteral("猫"));
    session.scheduleSearch(true, false);
    waitUntil([&] { return session.lastDisplayedQuery() && session.lastDisplayedQuery()->rawText == "猫"; }, 60000);
    idleFor(5000);  // the image stage follows
    std::printf("%lld items indexed; query 猫: %lld local results, %lld in the image section\n",
                static_cast<long long>(store.indexedCount()), static_cast<long long>(session.results().size()),
                static_cast<long long>(session.imageFuzzyResults().size()));

    std::printf("| phase | CPU of the model (%% of a core) | searches | image sections published | batches written | "
                "images tagged | files changed |\n|---|---|---|---|---|---|---|\n");
    const auto phase = [&](const char* name, bool tagging, bool changing, int settle) {
        tagger.setOn(tagging);
        churn.setOn(changing);
        idleFor(settle * 1000);
        const double cpu0 = processCpuSeconds(), tag0 = tagger.cpu(), churn0 = churn.cpu();
        const std::int64_t generation0 = session.searchGeneration();
        const long published0 = imagePublications, batches0 = batches, tagged0 = tagger.tagged(),
                   changed0 = churn.changes();
        const auto start = std::chrono::steady_clock::now();
        idleFor(o.windowSeconds * 1000);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = processCpuSeconds() - cpu0 - (tagger.cpu() - tag0) - (churn.cpu() - churn0);
        std::printf("| %s | %.1f | %lld | %ld | %ld | %ld | %ld |\n", name, 100 * cpu / wall,
                    static_cast<long long>(session.searchGeneration() - generation0), imagePublications - published0,
                    batches - batches0, tagger.tagged() - tagged0, churn.changes() - changed0);
        std::fflush(stdout);
    };
    phase("nothing happens", false, false, 0);
    phase("the tagger works", true, false, 2);
    phase("50 files change a second", false, true, 2);
    phase("both", true, true, 2);
    phase("both ended", false, false, o.settleSeconds);
    tagger.stop();
    return 0;
}

} // namespace
} // namespace pallix

int main(int argc, char** argv)
{
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
        else if (name == "--tag-rate")
            o.tagRate = std::stoi(value);
        else if (name == "--change-rate")
            o.changeRate = std::stoi(value);
        else if (name == "--window")
            o.windowSeconds = std::stoi(value);
        else if (name == "--settle")
            o.settleSeconds = std::stoi(value);
    }
    if (o.work.empty()) {
        std::fprintf(stderr, "usage: pallix-idle-query-bench --work DIR [--items N] [--images N] [--tag-rate N] "
                             "[--change-rate N] [--window S] [--settle S]\n");
        return 2;
    }
    return pallix::run(o);
}
