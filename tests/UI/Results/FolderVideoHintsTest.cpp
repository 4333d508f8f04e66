#include "UI/Results/FolderVideoHints.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "App/ModelTestSupport.h"
#include "UI/Results/ResultTexts.h"

namespace pallix {
namespace {

using namespace testing_support;

TEST(FolderVideoHints, UnknownFoldersAnswerFalseUntilTheLookupArrives)
{
    TempDir dir;
    writeFile(dir.path() / "clips" / "a.mp4");
    writeFile(dir.path() / "notes" / "a.txt");
    const std::string clips = (dir.path() / "clips").string();
    const std::string notes = (dir.path() / "notes").string();

    FolderVideoHints hints;
    QSignalSpy arrived(&hints, &FolderVideoHints::hintsArrived);
    EXPECT_FALSE(hints.hasVideo(clips));
    EXPECT_FALSE(hints.hasVideo(notes));
    EXPECT_FALSE(hints.hasVideo(clips));  // asked again while pending: no second lookup
    EXPECT_TRUE(waitFor([&] { return hints.isKnown(clips) && hints.isKnown(notes); }));
    EXPECT_EQ(arrived.count(), 1);  // asked in one turn: looked up and announced together
    EXPECT_TRUE(hints.hasVideo(clips));
    EXPECT_FALSE(hints.hasVideo(notes));
    EXPECT_EQ(ResultTexts::rowTypeDescription(fileItem(clips, true), hints.hasVideo(clips)), "文件夹（含视频）");

    // Folders found without videos look as they did while unknown: no announcement, no repaint.
    writeFile(dir.path() / "photos" / "a.jpg");
    writeFile(dir.path() / "empty" / ".keep");
    const std::string photos = (dir.path() / "photos").string();
    const std::string empty = (dir.path() / "empty").string();
    EXPECT_FALSE(hints.hasVideo(photos));
    EXPECT_FALSE(hints.hasVideo(empty));
    EXPECT_TRUE(waitFor([&] { return hints.isKnown(photos) && hints.isKnown(empty); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(arrived.count(), 1);
    EXPECT_FALSE(hints.hasVideo(photos));
}

TEST(FolderVideoHints, GoingAwayWithLookupsInFlightIsSafe)
{
    TempDir dir;
    auto hints = std::make_unique<FolderVideoHints>();
    for (int i = 0; i < 20; ++i) {
        writeFile(dir.path() / ("d" + std::to_string(i)) / "x.mkv");
        hints->hasVideo((dir.path() / ("d" + std::to_string(i))).string());
    }
    hints.reset();  // waits for the running lookups
    QCoreApplication::processEvents();  // answers posted to the gone object are dropped

    FolderVideoHints again;
    const std::string first = (dir.path() / "d0").string();
    again.hasVideo(first);
    EXPECT_TRUE(waitFor([&] { return again.isKnown(first); }));
    EXPECT_TRUE(again.hasVideo(first));
}

} // namespace
} // namespace pallix
