#include "UI/Preview/PreviewPanelWindow.h"

#include <filesystem>

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "App/Paths/SystemPaths.h"
#include "App/Preview/PhotoFiles.h"
#include "App/Preview/RegularFile.h"
#include "App/Preview/ThumbnailProvider.h"
#include "Platform/FileNames.h"
#include "Platform/SpecialFiles.h"
#include "Platform/TempTree.h"

namespace pallix {
namespace {

struct PreviewPanelWindowTest : testing::Test {
    test::TempTree tree;
    PreviewPanelWindow window;
    PreviewController controller;
    QList<QUrl> urls;

    void SetUp() override { PreviewPanel::setShared(&window); }
    void TearDown() override { PreviewPanel::setShared(nullptr); }

    QUrl add(const std::string& path)
    {
        urls.append(QUrl::fromLocalFile(QString::fromStdString(path)));
        return urls.back();
    }
    // Waits for the content of the item at `index` to be on screen.
    bool shows(int index)
    {
        return QTest::qWaitFor([&] {
            return window.index() == index && window.shownPath() == urls[index].toLocalFile()
                   && window.shown() != PreviewPanelWindow::Shown::Loading;
        });
    }
    void press(Qt::Key key) { QTest::keyClick(&window, key); }
};

TEST_F(PreviewPanelWindowTest, ShowsEachKindAndStepsThroughTheList)
{
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(tree.path("a.png"))));
    add(tree.path("a.png"));
    add(tree.file("b.txt", std::string(100 * 1024, 'x')));
    const std::string pdf = tree.path("c.pdf");
    {
        QPdfWriter writer(QString::fromStdString(pdf));
        QPainter(&writer).fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::blue);
    }
    add(pdf);
    add(tree.file("d.bin", std::string("\0\1\2\3", 4)));

    controller.togglePreview(urls, 0);
    ASSERT_TRUE(window.isVisible());
    ASSERT_TRUE(shows(0));
    EXPECT_EQ(window.shown(), PreviewPanelWindow::Shown::Picture);
    EXPECT_EQ(window.shownPicture().size(), QSize(300, 200));
    EXPECT_TRUE(window.shownDetails().startsWith("a.png"));

    press(Qt::Key_Right);
    ASSERT_TRUE(shows(1));
    EXPECT_EQ(window.shown(), PreviewPanelWindow::Shown::Text);
    EXPECT_EQ(window.shownText().size(), PreviewPanelWindow::kTextBytes);  // the first 64 KiB only
    // Sizes as the list writes them, in decimal units.
    EXPECT_TRUE(window.shownDetails().startsWith("b.txt · 102 KB · ")) << window.shownDetails().toStdString();

    press(Qt::Key_Right);
    ASSERT_TRUE(shows(2));
    ASSERT_EQ(window.shown(), PreviewPanelWindow::Shown::Picture);
    EXPECT_GT(window.shownPicture().pixelColor(20, 20).blue(), 200);

    press(Qt::Key_Right);
    ASSERT_TRUE(shows(3));
    EXPECT_EQ(window.shown(), PreviewPanelWindow::Shown::Info);
    EXPECT_TRUE(window.shownDetails().startsWith("d.bin · 4 字节 · ")) << window.shownDetails().toStdString();
    press(Qt::Key_Right);  // the end: stays
    EXPECT_EQ(window.index(), 3);
    press(Qt::Key_Left);
    ASSERT_TRUE(shows(2));
}

TEST_F(PreviewPanelWindowTest, PhonePhotosAndCameraRawFilesShowAsPictures)
{
    for (const char* name : {"phone.heic", "phone.avif"}) {
        if (!test::encodeWithLibheif(test::redLeftBlueRight(), QString::fromStdString(tree.path(name))))
            GTEST_SKIP() << "heif-enc is not installed";
        add(tree.path(name));
    }
    QFile dng(QString::fromStdString(tree.path("camera.dng")));
    ASSERT_TRUE(dng.open(QIODevice::WriteOnly));
    dng.write(test::dngFile(test::redLeftBlueRight(), 6));
    dng.close();
    add(tree.path("camera.dng"));

    controller.togglePreview(urls, 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(urls[i].fileName().toStdString());
        if (i > 0)
            press(Qt::Key_Right);
        ASSERT_TRUE(shows(i));
        ASSERT_EQ(window.shown(), PreviewPanelWindow::Shown::Picture);
        const QImage picture = window.shownPicture();
        // The raw file lies on its side: its left half is shown on top.
        const QPoint red = i < 2 ? QPoint(10, 20) : QPoint(20, 10);
        const QPoint blue = i < 2 ? QPoint(70, 20) : QPoint(20, 70);
        EXPECT_EQ(picture.size(), i < 2 ? QSize(80, 40) : QSize(40, 80));
        EXPECT_GT(picture.pixelColor(red).red(), 180);
        EXPECT_GT(picture.pixelColor(blue).blue(), 180);
    }
}

// The next file is read on a worker and answers on a later turn of the event
// loop: until then the panel shows that file's name and nothing of the last.
TEST_F(PreviewPanelWindowTest, SteppingShowsTheNextNameAtOnceAndNothingOfThePreviousFile)
{
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(tree.path("a.png"))));
    add(tree.path("a.png"));
    add(tree.file("b.txt", "hello"));
    controller.togglePreview(urls, 0);
    ASSERT_TRUE(shows(0));
    ASSERT_EQ(window.shown(), PreviewPanelWindow::Shown::Picture);

    press(Qt::Key_Right);
    EXPECT_EQ(window.shown(), PreviewPanelWindow::Shown::Loading);
    EXPECT_TRUE(window.shownPicture().isNull());
    EXPECT_EQ(window.shownDetails(), QStringLiteral("b.txt"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("b.txt"));
    for (const QLabel* label : window.findChildren<QLabel*>())
        EXPECT_FALSE(label->isVisible() && !label->pixmap().isNull()) << "a picture is still shown";
    ASSERT_TRUE(shows(1));
    EXPECT_EQ(window.shownText(), "hello");
}

// Names unpacked from an archive made elsewhere: GBK (国), not UTF-8. The
// panel reads each file by its real bytes and shows the name with U+FFFD.
TEST_F(PreviewPanelWindowTest, NamesThatAreNotUtf8ShowTheirRealContent)
{
    const std::string folder = tree.dir("\xB9\xFA");
    QImage image(30, 20, QImage::Format_RGB32);
    image.fill(Qt::green);
    ASSERT_TRUE(image.save(QString::fromStdString(tree.path("made.png"))));
    std::filesystem::rename(tree.path("made.png"), folder + "/\xB9\xFA.png");
    const std::string pdf = tree.path("made.pdf");
    {
        QPdfWriter writer(QString::fromStdString(pdf));
        QPainter(&writer).fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::blue);
    }
    std::filesystem::rename(pdf, folder + "/\xB9\xFA.pdf");
    tree.file("\xB9\xFA/\xB9\xFA.txt", "hello");
    QStringList stored;
    for (const char* name : {"/\xB9\xFA.png", "/\xB9\xFA.pdf", "/\xB9\xFA.txt"}) {
        stored.append(QString::fromStdString(filenames::fromFileSystem(folder + name)));
        urls.append(systempaths::url(stored.back()));
    }
    const auto showing = [&](int index) {
        return QTest::qWaitFor([&] {
            return window.index() == index && window.shownPath() == stored[index]
                   && window.shown() != PreviewPanelWindow::Shown::Loading;
        });
    };

    controller.togglePreview(urls, 0);
    ASSERT_TRUE(showing(0));
    ASSERT_EQ(window.shown(), PreviewPanelWindow::Shown::Picture);
    EXPECT_EQ(window.shownPicture().size(), QSize(30, 20));
    EXPECT_TRUE(window.shownDetails().startsWith(QString::fromUtf8("\uFFFD\uFFFD.png · "))) << window.shownDetails().toStdString();
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("\uFFFD\uFFFD.png"));
    press(Qt::Key_Right);
    ASSERT_TRUE(showing(1));
    ASSERT_EQ(window.shown(), PreviewPanelWindow::Shown::Picture);  // drawn by the helper program
    EXPECT_GT(window.shownPicture().pixelColor(20, 20).blue(), 200);
    press(Qt::Key_Right);
    ASSERT_TRUE(showing(2));
    ASSERT_EQ(window.shown(), PreviewPanelWindow::Shown::Text);
    EXPECT_EQ(window.shownText(), "hello");
}

// A name that would read as another ("a<RLO>fdp.txt" as "atxt.pdf") is
// captioned and titled in its stored order, its control as a mark; the file
// itself is read by its real name.
TEST_F(PreviewPanelWindowTest, ANameWithControlsIsCaptionedInItsStoredOrder)
{
    add(tree.file("a\u202Efdp.txt", "hello"));
    controller.togglePreview(urls, 0);
    ASSERT_TRUE(shows(0));
    ASSERT_EQ(window.shown(), PreviewPanelWindow::Shown::Text);
    EXPECT_EQ(window.shownText(), "hello");
    EXPECT_TRUE(window.shownDetails().startsWith(QStringLiteral("a⟨RLO⟩fdp.txt · "))) << window.shownDetails().toStdString();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("a⟨RLO⟩fdp.txt"));
}

TEST_F(PreviewPanelWindowTest, SpaceAndEscapeClose)
{
    add(tree.file("a.txt", "hello"));
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Escape}) {
        controller.togglePreview(urls, 0);
        ASSERT_TRUE(window.isVisible());
        EXPECT_EQ(window.source(), &controller);
        press(key);
        EXPECT_FALSE(window.isVisible());
    }
    ASSERT_TRUE(shows(0));
    EXPECT_EQ(window.shownText(), "hello");
}

TEST_F(PreviewPanelWindowTest, SpecialFilesShowTheirTypeAtOnceAndARealImageAfterThem)
{
    const test::SpecialFiles special = test::makeSpecialFiles(tree);
    const struct {
        std::string path;
        QString type;
    } cases[] = {{special.pipes[0], "命名管道"}, {special.pipes[1], "命名管道"}, {special.pipes[2], "命名管道"},
                 {special.pipes[3], "命名管道"}, {special.pipes[4], "命名管道"}, {special.socket, "套接字"},
                 {special.devices[0], "设备文件"}, {special.devices[1], "设备文件"}};
    for (const auto& c : cases)
        add(c.path);
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(tree.path("z.png"))));
    add(tree.path("z.png"));

    controller.togglePreview(urls, 0);
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(cases[i].path);
        if (i > 0)
            press(Qt::Key_Right);
        ASSERT_TRUE(shows(i));
        EXPECT_EQ(window.shown(), PreviewPanelWindow::Shown::Info);
        const QString name = QFileInfo(QString::fromStdString(cases[i].path)).fileName();
        EXPECT_TRUE(window.shownDetails().startsWith(name + " · " + cases[i].type + " · ")) << window.shownDetails().toStdString();
        // The type's icon, not the icon the name's extension would give.
        const qint64 typeIcon =
            ThumbnailProvider::shared().typeImage(RegularFile::typeOf(cases[i].path), 192).cacheKey();
        bool iconShown = false;
        for (const QLabel* label : window.findChildren<QLabel*>())
            iconShown = iconShown || label->pixmap().cacheKey() == typeIcon;
        EXPECT_TRUE(iconShown);
    }
    press(Qt::Key_Right);
    ASSERT_TRUE(shows(int(std::size(cases))));
    EXPECT_EQ(window.shown(), PreviewPanelWindow::Shown::Picture);
    EXPECT_EQ(window.shownPicture().size(), QSize(300, 200));
}

TEST_F(PreviewPanelWindowTest, AnEmptyListOpensTheWindowWithNothing)
{
    controller.togglePreview({}, 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.shown(), PreviewPanelWindow::Shown::Nothing);
}

} // namespace
} // namespace pallix
