#include "StoreRate.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "Core/IndexDB/Sqlite.h"
#include "Core/Semantic/ImageSemanticStore.h"

namespace pallix::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A tag text like the tagger's: colours, objects and a line of text, in both languages.
std::vector<std::string> tagsOf(int i)
{
    const char* colours[] = {"red 红色", "blue 蓝色", "green 绿色", "white 白色", "black 黑色"};
    const char* things[] = {"animal/dog dog 狗 动物", "vehicle/car car 汽车 交通工具", "person 人物",
                            "furniture/table table 桌子 家具", "food/cup cup 杯子 食物"};
    return ImageSemanticStore::splitTags(std::string(colours[i % 5]) + " " + things[(i / 5) % 5] + " ocr:第" +
                                         std::to_string(i % 977) + "页 ocr:photo" + std::to_string(i % 131));
}

std::string pathOf(int i)
{
    return "/home/user/Pictures/" + std::to_string(2010 + i % 15) + "/IMG_" + std::to_string(100000 + i) + ".jpg";
}

// N rows in the main table, written in one transaction, and the mirror marked
// as one of before: the store's own open makes it again from the main table,
// as it does for a store written by an older version.
bool seed(const std::filesystem::path& file, int rows)
{
    sqlite::Connection db;
    if (db.open(file.string(), sqlite::Connection::Mode::ReadWriteCreate) != 0 || db.exec("BEGIN;") != 0)
        return false;
    sqlite::Statement insert;
    if (insert.prepare(db, "INSERT INTO image_semantic (path, tags, updated_at, format) VALUES (?, ?, 1, 0);") != 0)
        return false;
    for (int i = 0; i < rows; ++i) {
        insert.reset();
        insert.bindText(1, pathOf(i));
        insert.bindText(2, ImageSemanticStore::joinTags(tagsOf(i)));
        insert.step();
    }
    insert.finalize();
    return db.exec("COMMIT; PRAGMA user_version = 0;") == 0;
}

// Searches of the store after the writes, each asked kSearchRounds times:
// the store's settings serve its searches as well as its writes.
constexpr int kSearchRounds = 20;
const std::vector<std::vector<std::vector<std::string>>> kSearches = {
    {{"red"}}, {{"dog", "狗"}, {"white"}}, {{"ocr:第634页"}}, {{"furn"}}, {{"汽车"}, {"blue", "蓝色"}},
};

void printSearches(ImageSemanticStore& store)
{
    std::size_t found = 0;
    const std::clock_t cpuStart = std::clock();
    const auto start = SteadyClock::now();
    for (int round = 0; round < kSearchRounds; ++round)
        for (const auto& groups : kSearches)
            found += store.searchPaths(groups, 500).size();
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const auto queries = static_cast<double>(kSearchRounds * kSearches.size());
    std::printf("                 searches: %.2f ms a query, CPU %.2f ms (%zu paths a round)\n", ms / queries,
                cpuMs / queries, found / kSearchRounds);
}

} // namespace

int runStoreRate(const StoreRateOptions& o)
{
    for (const int rows : o.rows) {
        const std::filesystem::path folder = o.work / ("rows" + std::to_string(rows));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        const std::filesystem::path file = folder / "image_semantic.sqlite";
        {
            ImageSemanticStore made(file);  // the schema, stamped as the store's
            if (made.bootstrap())
                return 1;
        }
        if (!seed(file, rows)) {
            std::fprintf(stderr, "seeding %d rows failed\n", rows);
            return 1;
        }
        ImageSemanticStore store(file);
        const auto openStart = SteadyClock::now();
        if (const auto error = store.bootstrap()) {
            std::fprintf(stderr, "%s\n", error->c_str());
            return 1;
        }
        const double openSeconds = std::chrono::duration<double>(SteadyClock::now() - openStart).count();
        const auto start = SteadyClock::now();
        // CPU time beside the wall time: on a shared machine the wall time
        // holds the waits for a core too.
        const std::clock_t cpuStart = std::clock();
        for (int w = 0; w < o.writes; ++w) {
            // Even writes tag a new image, odd ones an image tagged before.
            const int image = w % 2 ? (w * 7919) % rows : rows + w;
            store.mergeTags(pathOf(image), tagsOf(image + 1), 2, 1, ImageFileStamp{1000 + w, 1.7e9});
        }
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        std::printf("%7d stored rows: %d images in %.3f s = %.0f images/s, CPU %.3f s = %.0f images/s "
                    "(open %.3f s, mirror rows %lld)\n",
                    rows, o.writes, seconds, o.writes / seconds, cpuSeconds, o.writes / cpuSeconds, openSeconds,
                    static_cast<long long>(store.rowCount(true)));
        printSearches(store);
    }
    return 0;
}

} // namespace pallix::bench
