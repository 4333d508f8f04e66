#include "App/SharedDrives/ServerRoots.h"

#include <gtest/gtest.h>

#include "App/SharedDrives/ServerRootDetection.h"
#include "Core/Config/EditionRule.h"
#include "App/ServerTestSupport.h"

using namespace std::chrono_literals;

namespace pallix {
namespace {

using namespace testing_support;
using ServerRootDetection::VolumeCandidate;

const std::string kDetecting = "正在识别共享盘目录…（请先在文件管理器挂载服务器）";

// Volumes made as folders in the test's folder.
struct Volumes {
    TempDir dir;
    std::string make(const std::string& name, std::initializer_list<const char*> folders = {}) const
    {
        const fs::path volume = dir.path() / name;
        fs::create_directories(volume);
        for (const char* folder : folders)
            fs::create_directories(volume / folder);
        return volume.string();
    }
};

TEST(ServerRootDetection, DefaultRootsOfTheWinningVolume)
{
    Volumes v;
    const std::string own = v.make("白桦素材区");
    const std::string both = v.make("both", {"白桦素材区", "青岚共享盘"});
    const std::string plain = v.make("plain", {"其他"});
    const std::string fileNamed = v.make("file");
    writeFile(fs::path(fileNamed) / "青岚共享盘");  // a plain existence test: a file counts

    // A volume named like a default folder is the root itself.
    EXPECT_EQ(ServerRootDetection::defaultRoots({{own, "smb://srv/白桦素材区"}}, ""), std::vector<std::string>{own});
    // Both default folders, in name order.
    EXPECT_EQ(ServerRootDetection::defaultRoots({{plain, {}}, {both, {}}}, ""),
              (std::vector<std::string>{both + "/青岚共享盘", both + "/白桦素材区"}));
    EXPECT_EQ(ServerRootDetection::defaultRoots({{fileNamed, {}}}, ""),
              std::vector<std::string>{fileNamed + "/青岚共享盘"});
    EXPECT_TRUE(ServerRootDetection::defaultRoots({{plain, "smb://srv/plain"}}, "srv").empty());
    EXPECT_TRUE(ServerRootDetection::defaultRoots({}, "srv").empty());
}

TEST(ServerRootDetection, TheConfiguredServerPicksAmongVolumes)
{
    Volumes v;
    const std::string first = v.make("nas-a", {"青岚共享盘"});
    const std::string second = v.make("filer-b", {"白桦素材区"});
    const std::vector<std::string> firstRoots{first + "/青岚共享盘"}, secondRoots{second + "/白桦素材区"};

    // Its share URL first, even listed second...
    EXPECT_EQ(ServerRootDetection::defaultRoots({{first, "smb://nas/a"}, {second, "smb://filer/b"}}, "filer"),
              secondRoots);
    // ...then its volume name...
    EXPECT_EQ(ServerRootDetection::defaultRoots({{first, "smb://x/a"}, {second, {}}}, "filer-b"), secondRoots);
    EXPECT_EQ(ServerRootDetection::defaultRoots({{first, "smb://x/a"}, {second, "smb://y/b"}}, "filer"), secondRoots);
    // ...else the first volume; an empty address configures nothing.
    EXPECT_EQ(ServerRootDetection::defaultRoots({{first, "smb://x/a"}, {second, "smb://y/b"}}, "elsewhere"), firstRoots);
    EXPECT_EQ(ServerRootDetection::defaultRoots({{first, {}}, {second, "smb://filer/b"}}, ""), firstRoots);
}

// A model over fixed volumes whose shared-drive work is the model's own.
struct RootsRoad {
    Volumes volumes;
    std::vector<MountedVolume> mounted;
    ModelHarness h;

    RootsRoad()
    {
        useRealServerServices(h);
        mounted.push_back(localVolume(h.rootFolder().string()));
    }
    void start(const std::function<void(AppSettings&)>& settings = {})
    {
        h.env.volumes = std::make_shared<FixedVolumeProvider>(mounted);
        if (settings)
            h.presetSettings(settings);
        h.start();
        ASSERT_TRUE(h.settle());
    }
    AppModel& model() { return *h.model; }
    SharedDrives& drives() { return h.model->sharedDrives(); }
    const AppSettings& settings() { return h.model->settings(); }
    std::string status() { return drives().serverIndexStatusText().toStdString(); }
    bool adoptedOnce() { return h.defaults->boolean(editionDefaultsKey(DefaultsName::ServerIndexAutoConfiguredOnce)).value_or(false); }
};

TEST(ServerRoots, AdoptionTakesTheDefaultRootsOnceAndTurnsEverythingOn)
{
    RootsRoad road;
    const std::string share = road.volumes.make("smb-share:server=filer,share=team", {"青岚共享盘"});
    road.mounted.push_back(networkVolume(share, "smb://filer/team"));
    road.start([](AppSettings& s) {
        s.includeServerInSearch = false;
        s.autoResumeServerIndexingOnLaunch = true;
    });
    // The start-up adopted the roots; the first scan needs indexing on at
    // launch, which the adoption only now turned on.
    EXPECT_TRUE(road.adoptedOnce());
    EXPECT_EQ(road.settings().serverIndexedRoots, std::vector<std::string>{share + "/青岚共享盘"});
    EXPECT_TRUE(road.settings().enableServerIndexing);
    EXPECT_TRUE(road.settings().includeLocalInSearch);
    EXPECT_TRUE(road.settings().includeServerInSearch);
    EXPECT_EQ(SettingsStore(road.h.defaults).settings(), road.settings());  // persisted

    // Once done, never again: a cleared list stays cleared (with indexing off,
    // so that detection does not find the folder again).
    road.drives().updateEnableServerIndexing(false);
    road.drives().clearServerIndexedRoots();
    road.drives().roots().autoConfigureServerRootsIfNeeded();
    EXPECT_TRUE(road.settings().serverIndexedRoots.empty());
}

TEST(ServerRoots, AdoptionWithRootsConfiguredOnlySetsItsFlagAndWithoutVolumesWaits)
{
    RootsRoad road;
    road.start([](AppSettings& s) { s.serverIndexedRoots = {"/mnt/own"}; });
    EXPECT_TRUE(road.adoptedOnce());
    EXPECT_EQ(road.settings().serverIndexedRoots, std::vector<std::string>{"/mnt/own"});
    EXPECT_FALSE(road.settings().enableServerIndexing);

    RootsRoad bare;
    bare.start();
    EXPECT_FALSE(bare.adoptedOnce());  // tried again at the next call
    EXPECT_TRUE(bare.settings().serverIndexedRoots.empty());
}

TEST(ServerRoots, AddingStandardizesAndDropsRepeatsAndEmptiesThenScans)
{
    RootsRoad road;
    const std::string folder = road.volumes.make("团队素材");
    writeFile(fs::path(folder) / "a.jpg");
    road.start();
    road.drives().addServerIndexedRoots({QString::fromStdString(folder + "/"), QString(),
                                        QString::fromStdString(folder), QString::fromStdString(folder + "/./")});
    EXPECT_EQ(road.settings().serverIndexedRoots, std::vector<std::string>{folder});
    EXPECT_TRUE(road.settings().enableServerIndexing);
    EXPECT_TRUE(road.drives().runs().isRunActive());  // the first scan
    ASSERT_TRUE(waitFor([&] { return road.status() == "共享盘索引已建立（2 项）"; }));

    // Existing entries keep their order; an empty call changes nothing.
    const std::string other = road.volumes.make("其他");
    road.drives().addServerIndexedRoots({QString::fromStdString(other), QString::fromStdString(folder)});
    EXPECT_EQ(road.settings().serverIndexedRoots, (std::vector<std::string>{folder, other}));
    road.drives().addServerIndexedRoots({QString()});
    EXPECT_EQ(road.settings().serverIndexedRoots.size(), 2u);
}

TEST(ServerRoots, RemovingAndClearingSayWhatIsLeftAndDetectWhenEmpty)
{
    RootsRoad road;
    road.start([](AppSettings& s) { s.serverIndexedRoots = {"/s/a", "/s/b", "/s/c"}; });
    road.drives().removeServerIndexedRoot({0, 2});
    EXPECT_EQ(road.settings().serverIndexedRoots, std::vector<std::string>{"/s/b"});
    EXPECT_EQ(road.status(), "已移除共享盘目录");
    road.drives().removeServerIndexedRoot({5});
    EXPECT_EQ(road.settings().serverIndexedRoots, std::vector<std::string>{"/s/b"});
    EXPECT_EQ(road.status(), "已移除共享盘目录");
    road.drives().removeServerIndexedRoot({0});
    EXPECT_EQ(road.status(), "共享盘目录已清空，将重新识别…");  // indexing off: no detection

    // Clearing with indexing off keeps its own text and starts nothing...
    road.drives().clearServerIndexedRoots();
    EXPECT_EQ(road.status(), "已清除共享盘目录，将重新识别…（请先在文件管理器挂载服务器）");
    // ...with indexing on, detection takes over.
    road.drives().updateEnableServerIndexing(true);
    road.drives().clearServerIndexedRoots();
    EXPECT_EQ(road.status(), kDetecting);
    EXPECT_EQ(SettingsStore(road.h.defaults).settings().serverIndexedRoots, std::vector<std::string>{});
}

// Clearing the list while the default folder is mounted is not undone by
// detection; once gone and mounted again, the folder is news.
TEST(ServerRoots, AClearedFolderIsNotDetectedAgainWhileItStaysMounted)
{
    RootsRoad road;
    const std::string share = road.volumes.make("smb-share:server=filer,share=team", {"青岚共享盘"});
    road.mounted.push_back(networkVolume(share, "smb://filer/team"));
    road.start();
    const std::vector<std::string> adopted{share + "/青岚共享盘"};
    ASSERT_EQ(road.settings().serverIndexedRoots, adopted);
    ASSERT_TRUE(road.settings().enableServerIndexing);

    road.drives().clearServerIndexedRoots();
    EXPECT_EQ(road.status(), kDetecting);
    const auto start = road.h.clock->now();
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return road.h.clock->now() - start >= 10s; }, 500ms));
    EXPECT_TRUE(road.settings().serverIndexedRoots.empty());

    fs::rename(fs::path(share) / "青岚共享盘", fs::path(share) / "离线");
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return road.h.clock->now() - start >= 20s; }, 500ms));
    fs::rename(fs::path(share) / "离线", fs::path(share) / "青岚共享盘");
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return !road.settings().serverIndexedRoots.empty(); }, 500ms));
    EXPECT_EQ(road.settings().serverIndexedRoots, adopted);
}

TEST(ServerRoots, DetectionPollsEveryThreeSecondsUntilADefaultFolderIsMounted)
{
    RootsRoad road;
    const std::string share = road.volumes.make("smb-share:server=filer,share=team");
    writeFile(fs::path(share) / "placeholder.txt");
    road.mounted.push_back(networkVolume(share, "smb://filer/team"));
    road.start();
    int statusChanges = 0;
    QObject::connect(&road.drives(), &SharedDrives::serverIndexStatusTextChanged, road.h.model.get(),
                     [&] { ++statusChanges; });
    road.drives().updateEnableServerIndexing(true);
    EXPECT_EQ(road.status(), kDetecting);
    EXPECT_EQ(statusChanges, 1);

    // Polls change nothing while nothing is found.
    const auto start = road.h.clock->now();
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return road.h.clock->now() - start >= 10s; }, 500ms));
    EXPECT_EQ(statusChanges, 1);
    EXPECT_TRUE(road.settings().serverIndexedRoots.empty());

    // The share's default folder appears: the next poll adopts it and scans.
    writeFile(fs::path(share) / "白桦素材区" / "a.png");
    ASSERT_TRUE(pumpUntil(*road.h.clock, [&] { return !road.settings().serverIndexedRoots.empty(); }, 1s));
    EXPECT_EQ(road.settings().serverIndexedRoots, std::vector<std::string>{share + "/白桦素材区"});
    ASSERT_TRUE(waitFor([&] { return road.status() == "共享盘索引已建立（2 项）"; }));
}

TEST(ServerRoots, TurningIndexingOffStopsDetectionAndClearsTheSection)
{
    RootsRoad road;
    const std::string share = road.volumes.make("nfs-share");
    road.mounted.push_back(networkVolume(share, "nfs://nas/export"));
    road.start();
    road.drives().updateEnableServerIndexing(true);
    EXPECT_EQ(road.status(), kDetecting);
    road.model().searchSession().setServerResults(fileItems({"/s/a.jpg"}));
    road.drives().updateEnableServerIndexing(false);
    EXPECT_FALSE(road.settings().enableServerIndexing);
    EXPECT_TRUE(road.model().searchSession().serverResults().isEmpty());
    EXPECT_EQ(road.status(), "");

    // Detection has stopped: a default folder appearing later is not adopted.
    fs::create_directories(fs::path(share) / "青岚共享盘");
    for (int i = 0; i < 3; ++i) {
        road.h.clock->advance(ServerRoots::kDetectionInterval);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(road.settings().serverIndexedRoots.empty());

    road.drives().updateAutoResumeServerIndexingOnLaunch(true);
    EXPECT_TRUE(SettingsStore(road.h.defaults).settings().autoResumeServerIndexingOnLaunch);
}

} // namespace
} // namespace pallix
