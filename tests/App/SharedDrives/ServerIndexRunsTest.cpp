#include "App/SharedDrives/ServerIndexRuns.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>

#include "App/ServerTestSupport.h"
#include "Core/Config/EditionRule.h"
#include "TestSupport/DamagingSqliteVfs.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;

// A model whose shared-drive index is fed from a share folder in the test's
// folder. The shared-drive switches are preset before the start; the runs are
// called by the tests once the start-up has ended.
struct ShareRoad {
    ModelHarness h;

    explicit ShareRoad(const std::function<void(AppSettings&)>& settings = {})
    {
        useRealServerServices(h);
        fs::create_directories(share());
        h.presetSettings([&](AppSettings& s) {
            s.enableServerIndexing = true;
            s.serverIndexedRoots = {share().string()};
            if (settings)
                settings(s);
        });
    }

    fs::path share() const { return h.support.path() / "shares" / "青岚共享盘"; }
    std::string at(const char* relative) const { return (share() / relative).string(); }
    AppModel& model() { return *h.model; }
    SharedDrives& drives() { return h.model->sharedDrives(); }
    ServerIndexRuns& runs() { return drives().runs(); }
    IndexStore& store() { return *h.model->context().stores().server; }

    bool start()
    {
        h.start();
        return h.settle() && pumpUntil(*h.clock, [&] { return store().status().cacheReady; });
    }
    bool runEnds()
    {
        return waitFor([&] { return !drives().isServerIndexing() && runs().serverIndexRunCompletedAt().has_value(); });
    }
};

TEST(ServerIndexRuns, KeepRulesTakeFoldersMediaDocumentsAndPresentations)
{
    const double cutoff = 1'000'000.0;
    auto item = [](const char* path, bool folder, double modified) {
        const std::string name(paths::lastComponent(path));
        return IndexedItem(path, name, std::string(paths::deletingLastComponent(path)),
                           folder ? std::string() : std::string(paths::extension(name)), 1, modified,
                           folder ? IndexedItem::ItemType::Folder : IndexedItem::ItemType::File);
    };
    struct Case {
        IndexedItem item;
        bool full;
        bool daily;
    };
    const Case cases[] = {
        {item("/s/old folder", true, 0), true, true},  // a folder passes however old
        {item("/s/a.jpg", false, cutoff), true, true},  // at the cut-off passes
        {item("/s/a.JPG", false, cutoff + 1), true, true},
        {item("/s/old.jpg", false, cutoff - 1), true, false},
        {item("/s/clip.mp4", false, cutoff + 1), true, false},  // no video in the daily scan
        {item("/s/plan.docx", false, cutoff + 1), true, true},
        {item("/s/deck.pptx", false, cutoff + 1), true, true},
        {item("/s/deck.ppt", false, cutoff + 1), true, true},
        {item("/s/song.mp3", false, cutoff + 1), false, false},
        {item("/s/pack.zip", false, cutoff + 1), false, false},
        {item("/s/noext", false, cutoff + 1), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item.path());
        EXPECT_EQ(ServerIndexRuns::passesFullKeepRule(c.item), c.full);
        EXPECT_EQ(ServerIndexRuns::passesDailyKeepRule(c.item, cutoff), c.daily);
    }
}

TEST(ServerIndexRuns, FirstScanFillsAnEmptyIndexOnceAndMarksTheRun)
{
    ShareRoad road;
    writeFile(road.share() / "a.jpg");
    writeFile(road.share() / "项目/b.mp4");
    writeFile(road.share() / "项目/c.docx");
    writeFile(road.share() / "项目/d.pptx");
    writeFile(road.share() / "项目/song.mp3");
    writeFile(road.share() / "项目/pack.zip");
    ASSERT_TRUE(road.start());
    std::vector<std::string> texts;
    QObject::connect(&road.drives(), &SharedDrives::serverIndexStatusTextChanged, road.h.model.get(),
                     [&] { texts.push_back(road.drives().serverIndexStatusText().toStdString()); });

    road.runs().startServerFullScanIfNeeded();
    ASSERT_TRUE(road.runEnds());
    // The share root, its folder and the four kept files.
    EXPECT_EQ(road.drives().serverIndexedCount(), 6);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "正在建立共享盘索引（首次可能较久）…");
    EXPECT_EQ(road.drives().serverIndexStatusText(), "共享盘索引已建立（6 项）");
    EXPECT_EQ(road.model().statusMessage(), "共享盘索引已建立（6 项）");
    const std::vector<std::string> expected = {road.at("a.jpg"), road.at("项目/b.mp4"), road.at("项目/c.docx"),
                                               road.at("项目/d.pptx")};
    EXPECT_EQ(heldOf(road.store(), expected), expected);
    EXPECT_TRUE(heldOf(road.store(), {road.at("项目/song.mp3"), road.at("项目/pack.zip")}).empty());
    const double started = *road.runs().serverIndexRunStartedAt();
    EXPECT_LE(started, *road.runs().serverIndexRunCompletedAt());

    // With rows in the index a first scan changes nothing: no marker, no text, no count.
    road.h.clock->advance(10s);
    writeFile(road.share() / "new.jpg");
    texts.clear();
    road.runs().startServerFullScanIfNeeded();
    EXPECT_TRUE(road.runs().isRunActive());
    ASSERT_TRUE(waitFor([&] { return !road.runs().isRunActive(); }));
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(*road.runs().serverIndexRunStartedAt(), started);
    EXPECT_EQ(road.drives().serverIndexedCount(), 6);
    EXPECT_FALSE(road.drives().isServerIndexing());
}

TEST(ServerIndexRuns, AFirstScanOfAnUnmountedRootEndsWithAnEmptyIndex)
{
    ShareRoad road([](AppSettings& s) { s.serverIndexedRoots = {"/nonexistent/pallix/share"}; });
    ASSERT_TRUE(road.start());
    road.runs().startServerFullScanIfNeeded();
    ASSERT_TRUE(road.runEnds());
    EXPECT_EQ(road.drives().serverIndexStatusText(), "共享盘索引为空（请检查挂载与权限）");
    EXPECT_EQ(road.model().statusMessage(), "共享盘索引已建立（0 项）");
    EXPECT_EQ(road.drives().serverIndexedCount(), 0);
}

TEST(ServerIndexRuns, ManualUpdateRefusesWhenOffOrRunningAndCountsWhatItAdded)
{
    ShareRoad road([](AppSettings& s) { s.enableServerIndexing = false; });
    writeFile(road.share() / "a.jpg");
    ASSERT_TRUE(road.start());
    road.drives().refreshServerIndexManually();
    EXPECT_EQ(road.drives().serverIndexStatusText(), "请先开启共享盘索引");
    EXPECT_FALSE(road.drives().isServerIndexing());

    road.drives().updateEnableServerIndexing(true);  // starts the first scan
    ASSERT_TRUE(road.runEnds());
    EXPECT_EQ(road.drives().serverIndexStatusText(), "共享盘索引已建立（2 项）");

    int searches = 0;
    QObject::connect(&road.h.model->searchSession(), &SearchSession::serverResultsChanged, road.h.model.get(), [&] { ++searches; });
    road.model().searchSession().setSearchText("jpg");
    writeFile(road.share() / "b.jpg");
    writeFile(road.share() / "sub/c.png");
    road.drives().refreshServerIndexManually();
    road.drives().refreshServerIndexManually();  // the first one holds the run handle
    EXPECT_EQ(road.drives().serverIndexStatusText(), "共享盘索引正在运行中…");
    ASSERT_TRUE(waitFor([&] { return road.drives().serverIndexStatusText().startsWith("共享盘索引已更新"); }));
    EXPECT_EQ(road.drives().serverIndexStatusText(), "共享盘索引已更新（5 项，本次 +3）");
    EXPECT_EQ(road.drives().serverIndexedCount(), 5);
    EXPECT_FALSE(road.drives().isServerIndexing());
    // Shared drives are in the search scope: the update searches again.
    EXPECT_TRUE(waitFor([&] { return searches > 0; }));

    road.drives().refreshServerIndexManually();
    ASSERT_TRUE(waitFor([&] { return !road.runs().isRunActive(); }));
    EXPECT_EQ(road.drives().serverIndexStatusText(), "共享盘索引已更新（5 项，本次无新增）");

    // No roots: detection takes over and says so.
    road.drives().clearServerIndexedRoots();
    road.drives().refreshServerIndexManually();
    EXPECT_EQ(road.drives().serverIndexStatusText(), "正在识别共享盘目录…（请先在文件管理器挂载服务器）");
}

TEST(ServerIndexRuns, ARunCutShortIsResumedAtTheNextLaunch)
{
    ShareRoad road([](AppSettings& s) { s.autoResumeServerIndexingOnLaunch = true; });
    for (int i = 0; i < 20; ++i)
        writeFile(road.share() / ("批次" + std::to_string(i)) / "a.jpg");
    const std::string blocked = road.at("批次7");
    // Not the daily scan: only the run may meet the blocked folder.
    road.h.defaults->setDate(editionDefaultsKey(DefaultsName::ServerLastIncrementalScanAt),
                             road.h.clock->wallSecondsSince1970());
    // The first launch's walk stops in one folder until the model is going.
    std::atomic<bool> armed{true}, reached{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    road.h.env.scanner.listingFault = [&, released](const std::string& path) {
        if (path == blocked && armed.exchange(false)) {
            reached = true;
            released.wait();
        }
        return 0;
    };
    road.h.start();
    ASSERT_TRUE(waitFor([&] { return reached.load(); }));
    EXPECT_TRUE(road.drives().isServerIndexing());
    EXPECT_TRUE(road.runs().serverIndexRunStartedAt().has_value());  // no ASSERT: the walk must be freed
    std::thread releaser([&] { release.set_value(); });
    road.h.stop();  // cancels the run and waits for it
    releaser.join();
    const std::string completedKey = editionDefaultsKey(DefaultsName::ServerIndexRunCompletedAt);
    EXPECT_FALSE(road.h.defaults->date(completedKey).has_value());

    // The next launch finds the started marker alone and resumes with an update.
    road.h.bootstrapEnded = false;
    road.h.clock->advance(60s);
    std::vector<std::string> texts;
    road.h.start();
    QObject::connect(&road.drives(), &SharedDrives::serverIndexStatusTextChanged, road.h.model.get(),
                     [&] { texts.push_back(road.drives().serverIndexStatusText().toStdString()); });
    ASSERT_TRUE(road.runEnds());
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "检测到上次共享盘索引中断，正在自动续扫…");
    EXPECT_EQ(texts[1], "正在更新共享盘索引…");
    EXPECT_TRUE(road.drives().serverIndexStatusText().startsWith("共享盘索引已更新（41 项"));
    EXPECT_GT(*road.runs().serverIndexRunCompletedAt(), *road.runs().serverIndexRunStartedAt() - 1);

    // Both markers now agree: the check does nothing.
    texts.clear();
    road.runs().maybeResumeServerIndexIfInterrupted();
    EXPECT_TRUE(texts.empty());
}

// A folder of the share that can never be read: the walk over the rest
// finishes with errors and says how many places it could not read; the next
// launch has nothing to resume, so it does not walk the whole share again.
TEST(ServerIndexRuns, ARunThatCouldNotReadAFolderFinishesWithErrorsAndIsNotResumed)
{
    ShareRoad road([](AppSettings& s) { s.autoResumeServerIndexingOnLaunch = true; });
    writeFile(road.share() / "a.jpg");
    writeFile(road.share() / "项目/b.jpg");
    writeFile(road.share() / "项目/c.docx");
    road.h.defaults->setDate(editionDefaultsKey(DefaultsName::ServerLastIncrementalScanAt),
                             road.h.clock->wallSecondsSince1970());
    const std::string locked = road.at("项目");
    road.h.env.scanner.listingFault = [locked](const std::string& path) { return path == locked ? EACCES : 0; };
    road.h.start();
    const QString finished = QStringLiteral("共享盘索引已建立（3 项，1 处无法读取）");
    ASSERT_TRUE(waitFor([&] { return road.h.bootstrapEnded && road.drives().serverIndexStatusText() == finished; }))
        << road.drives().serverIndexStatusText().toStdString();
    EXPECT_FALSE(road.drives().isServerIndexing());
    ASSERT_TRUE(road.runs().serverIndexRunCompletedAt().has_value());
    EXPECT_GE(*road.runs().serverIndexRunCompletedAt(), *road.runs().serverIndexRunStartedAt());
    road.h.stop();

    road.h.bootstrapEnded = false;
    road.h.clock->advance(60s);
    std::vector<std::string> texts;
    road.h.start();
    QObject::connect(&road.drives(), &SharedDrives::serverIndexStatusTextChanged, road.h.model.get(),
                     [&] { texts.push_back(road.drives().serverIndexStatusText().toStdString()); });
    ASSERT_TRUE(road.h.settle());
    ASSERT_TRUE(waitFor([&] { return !road.runs().isRunActive(); }));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "检测到上次共享盘索引中断，正在自动续扫…"), 0);
    EXPECT_FALSE(road.drives().isServerIndexing());
}

// The share is unmounted half-way through the walk: what was not walked
// cannot be told from what is not there, so the run is incomplete.
TEST(ServerIndexRuns, AShareThatVanishesMidRunLeavesTheRunIncomplete)
{
    ShareRoad road;
    for (int i = 0; i < 6; ++i)
        writeFile(road.share() / ("批次" + std::to_string(i)) / "a.jpg");
    const fs::path away = road.share().string() + "-离线";
    const std::string cut = road.at("批次3");
    std::atomic<bool> armed{true};
    road.h.env.scanner.listingFault = [&, cut](const std::string& path) {
        if (path == cut && armed.exchange(false))
            fs::rename(road.share(), away);
        return 0;
    };
    ASSERT_TRUE(road.start());
    road.runs().startServerFullScanIfNeeded();
    ASSERT_TRUE(waitFor([&] { return !road.runs().isRunActive() && !road.drives().isServerIndexing(); }));
    EXPECT_TRUE(road.drives().serverIndexStatusText().startsWith("共享盘索引未完成（共享盘在扫描中断开）"))
        << road.drives().serverIndexStatusText().toStdString();
    EXPECT_EQ(road.model().statusMessage(), road.drives().serverIndexStatusText());
    EXPECT_FALSE(road.runs().serverIndexRunCompletedAt().has_value());

    // Mounted again: the resume check takes the run up.
    fs::rename(away, road.share());
    road.runs().maybeResumeServerIndexIfInterrupted();
    ASSERT_TRUE(road.runEnds());
    EXPECT_EQ(road.drives().serverIndexedCount(), 13);
}

// Batches the store refuses are counted: the run says so and is not complete.
TEST(ServerIndexRuns, ARunWhoseWritesFailSaysSoAndIsNotComplete)
{
    ShareRoad road;
    writeFile(road.share() / "a.jpg");
    ASSERT_TRUE(road.start());
    road.runs().startServerFullScanIfNeeded();
    ASSERT_TRUE(road.runEnds());
    ASSERT_EQ(road.drives().serverIndexedCount(), 2);
    const double completed = *road.runs().serverIndexRunCompletedAt();

    // Another program makes the file refuse every new row.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(road.model().context().stores().serverDatabasePath.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "CREATE TRIGGER refuse_insert BEFORE INSERT ON file_index BEGIN SELECT RAISE(ABORT, 'no'); END;"
                           "CREATE TRIGGER refuse_update BEFORE UPDATE ON file_index BEGIN SELECT RAISE(ABORT, 'no'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(other);
    sqlite3_close(other);

    road.h.clock->advance(10s);
    writeFile(road.share() / "b.jpg");
    road.drives().refreshServerIndexManually();
    ASSERT_TRUE(waitFor([&] { return !road.runs().isRunActive() && !road.drives().isServerIndexing(); }));
    // Auto-resume is off: nothing promises the next launch will go on.
    EXPECT_EQ(road.drives().serverIndexStatusText(), "共享盘索引未完成（1 批未能写入索引），已收录 2 项");
    EXPECT_EQ(road.model().statusMessage(), road.drives().serverIndexStatusText());
    EXPECT_EQ(*road.runs().serverIndexRunCompletedAt(), completed) << "no new completion marker";
    EXPECT_GT(*road.runs().serverIndexRunStartedAt(), completed);

    road.drives().updateAutoResumeServerIndexingOnLaunch(true);
    road.drives().refreshServerIndexManually();
    ASSERT_TRUE(waitFor([&] { return !road.runs().isRunActive() && !road.drives().isServerIndexing(); }));
    EXPECT_EQ(road.drives().serverIndexStatusText(), "共享盘索引未完成（1 批未能写入索引），已收录 2 项，下次启动将继续");
}

// The disk damages the shared-drive index while the application runs: the
// run that meets the damage leaves a fresh file, said once and filled at once
// by an update run.
TEST(ServerIndexRuns, DamageMetByARunIsToldAndTheSharesAreWalkedAgain)
{
    testsupport::DamagingSqliteVfs disk;
    ShareRoad road;
    writeFile(road.share() / "a.jpg");
    writeFile(road.share() / "项目/c.docx");
    ASSERT_TRUE(road.start());
    road.runs().startServerFullScanIfNeeded();
    ASSERT_TRUE(road.runEnds());
    ASSERT_EQ(road.drives().serverIndexedCount(), 4);

    disk.damage(road.model().context().stores().serverDatabasePath);
    writeFile(road.share() / "项目/new.png");
    road.drives().refreshServerIndexManually();
    const std::string notice =
        "notice:共享盘索引数据库已损坏，已另存为 server_index.sqlite.corrupt，正在重新建立共享盘索引";
    ASSERT_TRUE(waitFor([&] { return road.h.logged(notice); }));
    ASSERT_TRUE(waitFor([&] { return !road.runs().isRunActive() && road.drives().serverIndexedCount() == 5; }));
    EXPECT_EQ(std::count(road.h.log.begin(), road.h.log.end(), notice), 1);
    EXPECT_TRUE(fs::exists(road.model().context().stores().serverDatabasePath.string() + ".corrupt"));
    const std::vector<std::string> all = {road.at("a.jpg"), road.at("项目/c.docx"), road.at("项目/new.png")};
    EXPECT_EQ(heldOf(road.store(), all), all);
    EXPECT_EQ(road.model().localIndex().indexedCount(), 1) << "the local index was not touched";
}

TEST(ServerIndexRuns, DailyScanAddsRecentImagesAndDocumentsOnceADay)
{
    ShareRoad road;
    ASSERT_TRUE(road.start());
    const double now = road.h.clock->wallSecondsSince1970();
    writeFile(road.share() / "recent.jpg");
    writeFile(road.share() / "recent.mp4");
    writeFile(road.share() / "old.jpg");
    writeFile(road.share() / "旧目录/recent.docx");
    setModified(road.share() / "recent.jpg", now - 3600);
    setModified(road.share() / "recent.mp4", now - 3600);
    setModified(road.share() / "old.jpg", now - 2 * 86400);
    setModified(road.share() / "旧目录/recent.docx", now - 3600);
    setModified(road.share() / "旧目录", now - 30 * 86400);

    auto daily = road.runs().maybeRunServerIncrementalScanOnLaunch();
    ASSERT_TRUE(waitFor([&] { return road.runs().serverLastIncrementalScanAt().has_value(); }));
    const std::vector<std::string> all = {road.at("recent.jpg"), road.at("recent.mp4"), road.at("old.jpg"),
                                          road.at("旧目录"), road.at("旧目录/recent.docx")};
    EXPECT_EQ(heldOf(road.store(), all),
              (std::vector<std::string>{road.at("recent.jpg"), road.at("旧目录"), road.at("旧目录/recent.docx")}));
    // The daily scan is no run: no markers, no state.
    EXPECT_FALSE(road.runs().serverIndexRunStartedAt().has_value());
    EXPECT_FALSE(road.drives().isServerIndexing());
    EXPECT_EQ(*road.runs().serverLastIncrementalScanAt(), now);

    // Not due again within the day; due at exactly 86400 s.
    road.h.clock->advance(86399s);
    auto early = road.runs().maybeRunServerIncrementalScanOnLaunch();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(*road.runs().serverLastIncrementalScanAt(), now);
    road.h.clock->advance(1s);
    auto due = road.runs().maybeRunServerIncrementalScanOnLaunch();
    EXPECT_TRUE(waitFor([&] { return *road.runs().serverLastIncrementalScanAt() == now + 86400; }));
}

} // namespace
} // namespace pallix
