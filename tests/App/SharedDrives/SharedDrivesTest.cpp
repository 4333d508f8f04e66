#include "App/SharedDrives/SharedDrives.h"

#include <QMetaProperty>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "App/FakeContext.h"
#include "App/SharedDrives/ServerIndexRuns.h"
#include "App/SharedDrives/ServerRoots.h"

namespace pallix {
namespace {

using namespace testing_support;

TEST(SharedDrives, PublishedStatusIsQtPropertiesInDeclarationOrder)
{
    const char* expected[] = {"isServerIndexing", "serverIndexedCount", "serverIndexStatusText"};
    const QMetaObject& meta = SharedDrives::staticMetaObject;
    ASSERT_EQ(meta.propertyCount() - meta.propertyOffset(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < static_cast<int>(std::size(expected)); ++i) {
        const QMetaProperty p = meta.property(meta.propertyOffset() + i);
        SCOPED_TRACE(expected[i]);
        EXPECT_STREQ(p.name(), expected[i]);
        EXPECT_TRUE(p.hasNotifySignal());
    }
}

// The feature on a context of its own, with no model: the model's wiring
// replaced by spies and the local index's answer by a flag.
struct DrivesOnContext : FakeContext {
    bool localIndexing = false;
    std::unique_ptr<SharedDrives> drives;

    DrivesOnContext()
    {
        fs::create_directories(share());
        settings.enableServerIndexing = true;
        settings.includeServerInSearch = true;
        settings.serverIndexedRoots = {share().string()};
        drives = std::make_unique<SharedDrives>(*context, [this] { return localIndexing; }, nullptr);
    }
    ~DrivesOnContext()
    {
        drives->cancelJobs();
        pool.waitForDone();
    }
    fs::path share() const { return dir.path() / "shares" / "青岚共享盘"; }
    bool runEnds()
    {
        return waitFor([&] { return !drives->runs().isRunActive() && !drives->isServerIndexing(); });
    }
};

TEST(SharedDrives, RunsAskTheModelForASearchAndTellItWhenTheirWritesEnd)
{
    DrivesOnContext d;
    writeFile(d.share() / "a.jpg");
    QSignalSpy searches(d.drives.get(), &SharedDrives::searchRequested);
    QSignalSpy writes(d.drives.get(), &SharedDrives::writesEnded);
    QSignalSpy counts(d.drives.get(), &SharedDrives::serverIndexedCountChanged);

    // A first scan fills the index and says so in the status line; it does not search.
    d.drives->runs().startServerFullScanIfNeeded();
    EXPECT_TRUE(d.drives->runs().isRunActive());
    ASSERT_TRUE(d.runEnds());
    EXPECT_EQ(d.drives->serverIndexedCount(), 2);
    EXPECT_EQ(counts.count(), 1);
    EXPECT_EQ(d.drives->serverIndexStatusText(), "共享盘索引已建立（2 项）");
    ASSERT_FALSE(d.statusLines.empty());
    EXPECT_EQ(d.statusLines.back(), "共享盘索引已建立（2 项）");
    EXPECT_EQ(writes.count(), 1);
    EXPECT_EQ(searches.count(), 0);

    // An update with the shared drives in the search scope searches again.
    writeFile(d.share() / "b.jpg");
    d.drives->refreshServerIndexManually();
    ASSERT_TRUE(d.runEnds());
    EXPECT_EQ(d.drives->serverIndexStatusText(), "共享盘索引已更新（3 项，本次 +1）");
    EXPECT_EQ(writes.count(), 2);
    EXPECT_EQ(searches.count(), 1);

    // Out of the search scope: the update asks for no search.
    d.settings.includeServerInSearch = false;
    d.drives->refreshServerIndexManually();
    ASSERT_TRUE(d.runEnds());
    EXPECT_EQ(writes.count(), 3);
    EXPECT_EQ(searches.count(), 1);
}

TEST(SharedDrives, AFirstScanEndingDuringALocalRebuildLeavesTheStatusLineToIt)
{
    DrivesOnContext d;
    writeFile(d.share() / "a.jpg");
    d.localIndexing = true;
    d.drives->runs().startServerFullScanIfNeeded();
    ASSERT_TRUE(d.runEnds());
    EXPECT_EQ(d.drives->serverIndexStatusText(), "共享盘索引已建立（2 项）");
    // Only the run's opening text reached the status line.
    EXPECT_EQ(d.statusLines, std::vector<QString>{"正在建立共享盘索引（首次可能较久）…"});
}

TEST(SharedDrives, TurningIndexingOffTellsTheModelAndClearsTheStatus)
{
    DrivesOnContext d;
    d.settings.serverIndexedRoots.clear();
    QSignalSpy off(d.drives.get(), &SharedDrives::indexingTurnedOff);
    d.drives->updateEnableServerIndexing(true);  // no roots, no volumes: detection
    EXPECT_EQ(d.drives->serverIndexStatusText(), "正在识别共享盘目录…（请先在文件管理器挂载服务器）");
    EXPECT_EQ(off.count(), 0);
    ASSERT_TRUE(waitFor([&] { return d.clock->sleepers() == 1; }));  // between two polls

    d.drives->updateEnableServerIndexing(false);
    EXPECT_FALSE(d.settings.enableServerIndexing);
    EXPECT_EQ(off.count(), 1);
    EXPECT_TRUE(d.drives->serverIndexStatusText().isEmpty());
    // Detection has stopped: nobody sleeps on the clock any more.
    EXPECT_TRUE(waitFor([&] { return d.clock->sleepers() == 0; }));

    d.drives->updateAutoResumeServerIndexingOnLaunch(true);
    EXPECT_TRUE(d.settings.autoResumeServerIndexingOnLaunch);
    EXPECT_EQ(d.settingsWrites, 3);
}

} // namespace
} // namespace pallix
