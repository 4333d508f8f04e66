#include "App/Preview/FolderContentInspector.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace pallix {
namespace {

using Hint = FolderContentInspector::FolderContentHint;

struct FolderContentInspectorTest : testing::Test {
    fs::path root;
    FolderContentInspector inspector;

    void SetUp() override
    {
        root = fs::temp_directory_path() / ("pallix-inspector-" + std::to_string(std::random_device{}()));
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path folder(const std::string& name)
    {
        fs::create_directories(root / name);
        return root / name;
    }
    static void touch(const fs::path& p) { std::ofstream(p) << "x"; }
};

TEST_F(FolderContentInspectorTest, UpperCaseExtensionsCount)
{
    const auto dir = folder("media");
    touch(dir / "clip.MOV");
    touch(dir / "photo.JPG");
    EXPECT_EQ(inspector.hint(dir.string()), (Hint{true, true}));
}

TEST_F(FolderContentInspectorTest, ImagesInsideASubFolderDoNotCount)
{
    const auto dir = folder("outer");
    fs::create_directories(dir / "inner.jpg");  // a folder with an image-like name
    touch(dir / "inner.jpg" / "a.png");
    EXPECT_EQ(inspector.hint(dir.string()), (Hint{false, false}));
}

TEST_F(FolderContentInspectorTest, HiddenImageDoesNotCount)
{
    const auto dir = folder("hidden");
    touch(dir / ".secret.png");
    EXPECT_EQ(inspector.hint(dir.string()), (Hint{false, false}));
}

TEST_F(FolderContentInspectorTest, OnlyTheFirst220EntriesAreExamined)
{
    // Listing order is the file system's, not the creation order: the answer
    // is compared with what the first 220 entries of that order hold.
    const auto dir = folder("many");
    for (int i = 0; i < 400; ++i)
        touch(dir / ("doc" + std::to_string(i) + ".txt"));
    touch(dir / "late.png");
    int position = 0;
    bool imageWithin220 = false;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (position++ < 220 && entry.path().filename() == "late.png")
            imageWithin220 = true;
    }
    EXPECT_EQ(inspector.hint(dir.string()).hasImage, imageWithin220);
}

TEST_F(FolderContentInspectorTest, TrimmedPathSharesTheCachedAnswer)
{
    const auto dir = folder("cached");
    touch(dir / "a.png");
    EXPECT_EQ(inspector.hint("  " + dir.string() + "\n"), (Hint{false, true}));
    fs::remove(dir / "a.png");
    touch(dir / "b.mp4");
    // The answer stays what the first listing saw.
    EXPECT_EQ(inspector.hint(dir.string()), (Hint{false, true}));
}

TEST_F(FolderContentInspectorTest, AChangeReportedInTheFolderMakesItLookAgain)
{
    const auto dir = folder("changing");
    touch(dir / "a.png");
    EXPECT_EQ(inspector.hint(dir.string()), (Hint{false, true}));
    fs::remove(dir / "a.png");
    touch(dir / "b.mp4");
    inspector.invalidateChanged({(dir / "a.png").string(), (dir / "b.mp4").string()});  // the watcher's locations
    EXPECT_EQ(inspector.hint(dir.string()), (Hint{true, false}));
    touch(dir / "c.jpg");
    inspector.invalidate(" " + dir.string());
    EXPECT_EQ(inspector.hint(dir.string()), (Hint{true, true}));
}

TEST_F(FolderContentInspectorTest, MissingFolderAndBlankPathGiveNothing)
{
    EXPECT_EQ(inspector.hint((root / "absent").string()), (Hint{false, false}));
    EXPECT_EQ(inspector.hint(" \t\n"), (Hint{false, false}));
}

TEST_F(FolderContentInspectorTest, PipesAndDevicesNamedLikeMediaAreNoMedia)
{
    const auto dir = folder("pipes");
    ASSERT_EQ(::mkfifo((dir / "x.jpg").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir / "x.mp4").c_str(), 0644), 0);
    EXPECT_EQ(inspector.hint(dir.string()), (Hint{false, false}));
    const auto mixed = folder("mixed");
    ASSERT_EQ(::mkfifo((mixed / "x.jpg").c_str(), 0644), 0);
    touch(mixed / "clip.mp4");
    EXPECT_EQ(inspector.hint(mixed.string()), (Hint{true, false}));
}

// A listing that hangs (a network mount gone away) holds up neither the
// forgetting of changed folders nor the hints of other folders; an answer
// forgotten while it was being listed is not remembered.
TEST(FolderContentInspector, AHungListingHoldsUpNothingElse)
{
    std::promise<void> unhang;
    std::shared_future<void> unhung = unhang.get_future().share();
    std::promise<void> hanging;
    std::atomic<int> slowListings{0};
    FolderContentInspector inspector([&](const std::string& path) {
        if (path != "/net/slow")
            return Hint{false, true};
        if (slowListings++ == 0) {
            hanging.set_value();
            unhung.wait();
        }
        return Hint{true, false};
    });
    auto slow = std::async(std::launch::async, [&] { return inspector.hint("/net/slow"); });
    hanging.get_future().wait();

    auto others = std::async(std::launch::async, [&] {
        inspector.invalidateChanged({"/net/slow/new.mp4", "/home/u/a.png"});
        return inspector.hint("/home/u");
    });
    const bool othersAnswered = others.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    unhang.set_value();
    ASSERT_TRUE(othersAnswered) << "forgetting or another folder's hint waited for the hung listing";
    EXPECT_EQ(others.get(), (Hint{false, true}));
    EXPECT_EQ(slow.get(), (Hint{true, false}));
    // Forgotten while listed: the next hint lists it again.
    inspector.hint("/net/slow");
    EXPECT_EQ(slowListings.load(), 2);
}

} // namespace
} // namespace pallix
