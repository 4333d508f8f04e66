// One folder browser window's state: history, breadcrumbs, display order,
// Quick Look lists, stale listings and the moves of dropped files.

#include <filesystem>
#include <fstream>
#include <semaphore>

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include "App/Browser/FolderBrowserModel.h"
#include "App/RecordingDesktop.h"
#include "Platform/TempTree.h"

namespace fs = std::filesystem;

namespace pallix {
namespace {

QString q(std::string_view s)
{
    return QString::fromUtf8(s);
}

QStringList names(const FolderBrowserModel& model)
{
    QStringList out;
    for (const IndexedItem& item : model.items())
        out.append(q(item.name()));
    return out;
}

bool settle(const FolderBrowserModel& model)
{
    return QTest::qWaitFor([&] { return !model.isListing() && !model.isMoving(); });
}

// A lister that knows folders by name only and lists nothing in them.
FolderBrowserModel::Environment emptyFolders()
{
    FolderBrowserModel::Environment environment;
    environment.lister = [](const QString&) { return QList<IndexedItem>{}; };
    return environment;
}

TEST(FolderBrowserModelTest, HistoryCutsForwardEntriesAndNeverDoublesTheLastOne)
{
    FolderBrowserModel model("/a", emptyFolders());
    EXPECT_FALSE(model.canGoBack());
    EXPECT_FALSE(model.canGoForward());
    model.navigate("/a/b", true);
    model.navigate("/a/b/", true);  // the same folder once standardised
    model.navigate("/a/b/c", true);
    EXPECT_EQ(model.history(), QStringList({"/a", "/a/b", "/a/b/c"}));

    model.goBack();
    model.goBack();
    EXPECT_EQ(model.currentPath(), "/a");
    EXPECT_FALSE(model.canGoBack());
    model.goBack();  // nothing further back
    EXPECT_EQ(model.historyIndex(), 0);
    model.goForward();
    EXPECT_EQ(model.currentPath(), "/a/b");
    EXPECT_TRUE(model.canGoBack());
    EXPECT_TRUE(model.canGoForward());

    model.navigate("/x/../d", true);
    EXPECT_EQ(model.history(), QStringList({"/a", "/a/b", "/d"}));
    EXPECT_EQ(model.historyIndex(), 2);
    EXPECT_FALSE(model.canGoForward());
    model.goForward();  // nothing ahead
    EXPECT_EQ(model.currentPath(), "/d");
    EXPECT_TRUE(settle(model));
}

TEST(FolderBrowserModelTest, BreadcrumbsAndTitleFollowTheStandardisedPath)
{
    FolderBrowserModel model("/", emptyFolders());
    EXPECT_EQ(model.title(), "/");
    EXPECT_EQ(model.breadcrumbs(), QList<FolderBreadcrumb>({{"/", "/"}}));

    model.navigate("/home/ann/../bo/Pictures/", true);
    EXPECT_EQ(model.title(), "Pictures");
    const QList<FolderBreadcrumb> expected{
        {"/", "/"}, {"home", "/home"}, {"bo", "/home/bo"}, {"Pictures", "/home/bo/Pictures"}};
    EXPECT_EQ(model.breadcrumbs(), expected);
    EXPECT_TRUE(settle(model));
}

TEST(FolderBrowserModelTest, ListingPutsFoldersFirstAndNumbersInValueOrder)
{
    test::TempTree tree;
    for (const char* name : {"file10.txt", "File2.txt", "img1.png", ".hidden"})
        tree.file(name);
    for (const char* name : {"folder 10", "Folder 9", "folder a"})
        tree.dir(name);

    FolderBrowserModel model(q(tree.root()));
    ASSERT_TRUE(settle(model));
    EXPECT_EQ(names(model), QStringList({"Folder 9", "folder 10", "folder a", "File2.txt", "file10.txt", "img1.png"}));
    // A new listing selects its first item, a folder when there is one.
    EXPECT_EQ(model.selectedItemID(), q(tree.path("Folder 9")));

    model.setSelectedItemID(q(tree.path("img1.png")));
    tree.file("zzz.txt");
    model.navigate(model.currentPath(), false);
    ASSERT_TRUE(settle(model));
    EXPECT_EQ(model.selectedItemID(), q(tree.path("img1.png")));

    model.navigate(q(tree.path("folder a")), true);
    ASSERT_TRUE(settle(model));
    EXPECT_TRUE(model.items().isEmpty());
    EXPECT_TRUE(model.selectedItemID().isEmpty());
}

TEST(FolderBrowserModelTest, QuickLookShowsAFileAloneAndAnImageWithTheFolderImages)
{
    test::TempTree tree;
    tree.file("a.jpg");
    tree.file("notes.txt");
    tree.file("b.png");
    tree.dir("sub");
    FolderBrowserModel model(q(tree.root()));
    ASSERT_TRUE(settle(model));
    PreviewController& preview = model.previewController();

    model.setSelectedItemID(q(tree.path("notes.txt")));
    model.quickLookSelected();
    ASSERT_EQ(preview.count(), 1);
    EXPECT_EQ(preview.itemAt(0).toLocalFile(), q(tree.path("notes.txt")));

    model.setSelectedItemID(q(tree.path("b.png")));
    model.quickLookSelected();
    ASSERT_EQ(preview.count(), 2);
    EXPECT_EQ(preview.itemAt(0).toLocalFile(), q(tree.path("a.jpg")));
    EXPECT_EQ(preview.currentIndex(), 1);

    // No selection: the list stays as it was.
    model.setSelectedItemID({});
    model.quickLookSelected();
    EXPECT_EQ(preview.count(), 2);
}

TEST(FolderBrowserModelTest, OpenGoesIntoFoldersAndHandsFilesToTheDesktop)
{
    test::TempTree tree;
    tree.dir("sub");
    tree.file("a.txt");
    auto desktop = std::make_shared<testing_support::RecordingDesktop>();
    FolderBrowserModel::Environment environment;
    environment.desktop = desktop;
    FolderBrowserModel model(q(tree.root()), environment);
    ASSERT_TRUE(settle(model));
    const IndexedItem folder = model.items().at(0);
    const IndexedItem file = model.items().at(1);

    model.open(file);
    model.reveal(file);
    EXPECT_EQ(desktop->opened, QList<QUrl>({QUrl::fromLocalFile(q(tree.path("a.txt")))}));
    EXPECT_EQ(desktop->revealed, QList<QUrl>({QUrl::fromLocalFile(q(tree.path("a.txt")))}));
    model.open(folder);
    EXPECT_EQ(model.currentPath(), q(tree.path("sub")));
    EXPECT_EQ(model.history().size(), 2);
    EXPECT_EQ(desktop->opened.size(), 1);
    EXPECT_TRUE(settle(model));
}

TEST(FolderBrowserModelTest, AStaleListingIsNeverApplied)
{
    std::binary_semaphore slowMayFinish(0);
    QThreadPool pool;
    pool.setMaxThreadCount(2);
    FolderBrowserModel::Environment environment;
    environment.pool = &pool;
    environment.lister = [&](const QString& path) {
        if (path == "/slow")
            slowMayFinish.acquire();
        return QList<IndexedItem>{IndexedItem(path.toStdString() + "/child", "child of " + path.toStdString(),
                                              path.toStdString(), "", 0, 0, IndexedItem::ItemType::File)};
    };
    FolderBrowserModel model("/slow", environment);
    model.navigate("/fast", true);
    QSignalSpy listed(&model, &FolderBrowserModel::listingFinished);
    EXPECT_TRUE(listed.wait());  // not ASSERT: the slow job must be released before the pool goes
    EXPECT_EQ(names(model), QStringList({"child of /fast"}));

    slowMayFinish.release();
    ASSERT_TRUE(settle(model));
    EXPECT_EQ(names(model), QStringList({"child of /fast"}));
    EXPECT_EQ(listed.count(), 1);
}

TEST(FolderBrowserModelTest, ADropMovesEachFileOnceAndNamesWhatStayed)
{
    test::TempTree tree;
    const std::string dest = tree.dir("dest");
    tree.file("dest/a.txt", "old");
    const std::string a = tree.file("a.txt", "new");
    const std::string b = tree.file("b.txt", "b");
    FolderBrowserModel model(q(tree.root()));
    ASSERT_TRUE(settle(model));

    const QUrl aUrl = QUrl::fromLocalFile(q(a));
    model.moveFileUrls({aUrl, QUrl::fromLocalFile(q(b)), aUrl, QUrl::fromLocalFile(q(tree.path("./a.txt")))}, q(dest));
    ASSERT_TRUE(settle(model));
    EXPECT_TRUE(model.moveProblem().isEmpty()) << model.moveProblem().toStdString();
    EXPECT_TRUE(fs::exists(dest + "/a 2.txt"));
    EXPECT_TRUE(fs::exists(dest + "/b.txt"));
    EXPECT_FALSE(fs::exists(dest + "/a 3.txt"));
    EXPECT_EQ(names(model), QStringList({"dest"}));  // the folder shown was listed again

    // A folder dropped into its own child, and a file that is gone: both named, one line.
    const std::string inner = tree.dir("dest/inner");
    model.moveFileUrls({QUrl::fromLocalFile(q(dest)), QUrl::fromLocalFile(q(tree.path("gone.txt")))}, q(inner));
    ASSERT_TRUE(settle(model));
    const QString problem = model.moveProblem();
    EXPECT_TRUE(problem.startsWith("2 项留在原处：")) << problem.toStdString();  // a folder is no file
    EXPECT_TRUE(problem.contains("dest（")) << problem.toStdString();
    EXPECT_TRUE(problem.contains(q("gone.txt（" + std::system_category().message(ENOENT) + "）")));
    EXPECT_FALSE(problem.contains('\n'));
    EXPECT_TRUE(fs::is_directory(inner));
}

TEST(FolderBrowserModelTest, AMoveAcrossDisksGoesThroughTheInjectedRename)
{
    test::TempTree tree;
    const std::string dest = tree.dir("dest");
    const std::string file = tree.file("movie.mp4", "frames");
    FolderBrowserModel::Environment environment;
    environment.rename = [](const std::string&, const std::string&) { return EXDEV; };
    FolderBrowserModel model(q(tree.root()), environment);
    ASSERT_TRUE(settle(model));
    model.moveFileUrls({QUrl::fromLocalFile(q(file))}, q(dest));
    ASSERT_TRUE(settle(model));
    EXPECT_TRUE(model.moveProblem().isEmpty());
    EXPECT_FALSE(fs::exists(file));
    std::ifstream in(dest + "/movie.mp4");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "frames");
}

} // namespace
} // namespace pallix
