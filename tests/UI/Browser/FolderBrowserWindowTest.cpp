// Folder browser windows: sizes at each zoom, the header and the empty text,
// drops on folder and file cards, the window's keys and mouse buttons, and
// the windows' lifetime.

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDrag>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "App/Browser/FolderBrowserModel.h"
#include "App/Preview/FolderBrowserManager.h"
#include "App/Preview/PreviewController.h"
#include "App/Preview/ThumbnailProvider.h"
#include "App/Search/GridZoom.h"
#include "Platform/TempTree.h"
#include "UI/Browser/FolderBrowserGrid.h"
#include "UI/Browser/FolderBrowserView.h"
#include "UI/Browser/FolderBrowserWindowController.h"
#include "UI/Browser/FolderBrowserWindows.h"
#include "UI/Common/GridMetrics.h"
#include "UI/Common/ResultPainting.h"
#include "UI/Common/SelectableLabel.h"
#include "UI/Preview/PreviewPanelWindow.h"

namespace fs = std::filesystem;

namespace pallix {
namespace {

namespace metrics = GridMetrics;
constexpr const metrics::Spec& kGrid = metrics::kFolderBrowserGrid;

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

IndexedItem fileItem(const std::string& name, bool folder = false)
{
    return IndexedItem("/f/" + name, name, "/f", std::string(paths::extension(name)), 0, 0,
                       folder ? IndexedItem::ItemType::Folder : IndexedItem::ItemType::File);
}

TEST(FolderBrowserMetricsTest, GridAndCardSizesFollowTheZoomWithTheirFloors)
{
    EXPECT_DOUBLE_EQ(metrics::columnWidths(kGrid, 1.0).minimum, 136);
    EXPECT_DOUBLE_EQ(metrics::columnWidths(kGrid, 1.0).maximum, 170);
    EXPECT_DOUBLE_EQ(metrics::columnWidths(kGrid, 0.7).minimum, 120);
    EXPECT_DOUBLE_EQ(metrics::columnWidths(kGrid, 0.7).maximum, 120);
    EXPECT_DOUBLE_EQ(metrics::columnWidths(kGrid, 1.9).minimum, 258.4);
    EXPECT_DOUBLE_EQ(metrics::columnWidths(kGrid, 1.9).maximum, 323);
    EXPECT_DOUBLE_EQ(FolderBrowserView::prefetchIconSize(1.0), 116);
    EXPECT_DOUBLE_EQ(FolderBrowserView::prefetchIconSize(0.7), 90);
    EXPECT_DOUBLE_EQ(FolderBrowserView::prefetchIconSize(1.9), 160);

    const auto folder = metrics::cardKind(fileItem("album", true));
    const auto image = metrics::cardKind(fileItem("a.jpg"));
    const auto text = metrics::cardKind(fileItem("a.txt"));
    EXPECT_EQ(folder, metrics::CardKind::Folder);
    EXPECT_EQ(metrics::cardKind(fileItem("a.pdf")), metrics::CardKind::Raster);
    EXPECT_EQ(metrics::cardKind(fileItem("a.mp4")), metrics::CardKind::Raster);
    EXPECT_DOUBLE_EQ(metrics::card(kGrid, folder, 1.0).iconSize, 116);
    EXPECT_DOUBLE_EQ(metrics::card(kGrid, folder, 1.0).previewMinHeight, 110);
    EXPECT_DOUBLE_EQ(metrics::card(kGrid, folder, 1.0).previewHeight, 118);
    EXPECT_DOUBLE_EQ(metrics::card(kGrid, image, 1.0).iconSize, 100);
    EXPECT_DOUBLE_EQ(metrics::card(kGrid, image, 1.0).previewHeight, 102);
    EXPECT_DOUBLE_EQ(metrics::card(kGrid, text, 0.7).iconSize, 78);
    EXPECT_NEAR(metrics::card(kGrid, text, 0.7).previewMinHeight, 61.6, 1e-9);
    EXPECT_NEAR(metrics::card(kGrid, text, 0.7).previewHeight, 65.8, 1e-9);
    EXPECT_NEAR(metrics::card(kGrid, folder, 1.9).minHeight, 323, 1e-9);
}

TEST(FolderBrowserMetricsTest, ZoomStepsAreClampedAndZeroZoomsOut)
{
    EXPECT_DOUBLE_EQ(GridZoom::stepped(1.9, 1), 1.9);
    EXPECT_DOUBLE_EQ(GridZoom::stepped(0.7, -1), 0.7);
    EXPECT_NEAR(GridZoom::stepped(1.0, 0), 0.88, 1e-9);
    EXPECT_NEAR(GridZoom::stepped(1.0, 100), 1.28, 1e-9);
}

// A fake preview panel: counts what it is asked to show, and by whom.
class RecordingPreviewPanel final : public PreviewPanel {
public:
    bool isVisible() const override { return false; }
    const PreviewController* source() const override { return lastSource; }
    void present(PreviewController* source, int index) override
    {
        lastSource = source;
        lastIndex = index;
        ++presented;
    }
    void close() override {}
    PreviewController* lastSource = nullptr;
    int lastIndex = -1;
    int presented = 0;
};

class FolderBrowserWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.dir("album");
        tree.dir("empty");
        tree.file("album/clip.mp4", "v");
        tree.file("photo.jpg");
        tree.file("notes.txt", "notes");
        PreviewPanel::setShared(&panel);
    }
    void TearDown() override { PreviewPanel::setShared(nullptr); }

    FolderBrowserWindowController* openActive(const std::string& path)
    {
        FolderBrowserWindowController* controller = windows.open(q(path));
        EXPECT_TRUE(QTest::qWaitForWindowActive(controller->window()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !controller->model().isListing(); }));
        return controller;
    }

    // Sends a drag of `urls` over the card at `index`, then drops it there.
    static bool dropOn(FolderBrowserGrid& grid, int index, const QList<QUrl>& urls)
    {
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = grid.cardRect(index).center() - QPoint(0, grid.verticalScrollBar()->value());
        QDragEnterEvent enter(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(grid.viewport(), &enter);
        QDragMoveEvent move(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(grid.viewport(), &move);
        if (enter.isAccepted()) {
            EXPECT_EQ(grid.dropTarget(), index);  // every card shows the hover
        }
        QDropEvent drop(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(grid.viewport(), &drop);
        return drop.isAccepted();
    }

    // Presses before a card label's centred text and drags to the end of `start`.
    static void dragOverStart(SelectableLabel& label, const QString& start)
    {
        const QFontMetrics metrics(label.font());
        const int left = (label.width() - metrics.horizontalAdvance(label.text())) / 2;
        const QPoint end(left + metrics.horizontalAdvance(start), metrics.height() / 2);
        QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(0, end.y()));
        QTest::mouseMove(&label, end);
        QTest::mouseRelease(&label, Qt::LeftButton, {}, end);
    }

    int indexOf(FolderBrowserWindowController& c, const std::string& name)
    {
        const QList<IndexedItem>& items = c.model().items();
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (items.at(i).name() == name)
                return static_cast<int>(i);
        }
        return -1;
    }

    test::TempTree tree;
    RecordingPreviewPanel panel;
    ThumbnailProvider thumbnails{Clock::system()};
    FolderBrowserWindows windows{FolderBrowserManager::shared(), thumbnails};
};

TEST_F(FolderBrowserWindowTest, HeaderFollowsTheHistoryAndTheFolder)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserView& view = *c->window();
    EXPECT_EQ(view.windowTitle(), q(fs::path(tree.root()).filename().string()));
    EXPECT_FALSE(view.backButton().isEnabled());
    EXPECT_FALSE(view.forwardButton().isEnabled());
    EXPECT_FALSE(view.showsEmptyText());

    c->model().open(c->model().items().at(indexOf(*c, "empty")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.showsEmptyText(); }));
    EXPECT_EQ(view.windowTitle(), "empty");
    EXPECT_TRUE(view.backButton().isEnabled());
    EXPECT_EQ(view.breadcrumbTitles().last(), "empty");
    EXPECT_EQ(view.breadcrumbTitles().first(), "/");

    view.backButton().click();
    EXPECT_TRUE(view.forwardButton().isEnabled());
    EXPECT_FALSE(view.backButton().isEnabled());

    c->model().navigate("/", true);
    EXPECT_EQ(view.windowTitle(), "/");
    EXPECT_EQ(view.breadcrumbTitles(), QStringList({"/"}));
}

TEST_F(FolderBrowserWindowTest, AnEmptyFolderSaysSoInTheSecondaryTextColour)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserView& view = *c->window();
    c->model().open(c->model().items().at(indexOf(*c, "empty")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.showsEmptyText(); }));
    QLabel* text = nullptr;
    for (QLabel* label : view.findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("这个文件夹里暂时没有可显示内容"))
            text = label;
    }
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return text->isVisible() && text->width() > 0; }));
    // The darkest pixel of the drawn text is the secondary grey, not black.
    const QImage drawn = text->grab().toImage();
    int darkest = 255;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            darkest = std::min(darkest, qGray(drawn.pixel(x, y)));
    const QColor background = view.palette().color(QPalette::Base);
    const QColor secondary = ResultPainting::secondaryText(view.palette());
    const int expected = qRound(secondary.alphaF() * qGray(secondary.rgb()) + (1 - secondary.alphaF()) * qGray(background.rgb()));
    EXPECT_NEAR(darkest, expected, 24);
}

// A folder and a file whose names would read as others ("a<RLO>txt.exe"
// as "aexe.txt") are drawn in their stored order, the controls as marks: the
// window's title, the header, the crumbs and a card's name label.
TEST_F(FolderBrowserWindowTest, NamesWithControlsAreDrawnInTheirStoredOrder)
{
    tree.dir("docs\u202Efdp");
    tree.file("docs\u202Efdp/a\u202Etxt.exe", "x");
    tree.file("docs\u202Efdp/b\nc.txt", "x");
    FolderBrowserWindowController* c = openActive(tree.path("docs\u202Efdp"));
    FolderBrowserView& view = *c->window();
    const QString folder = QStringLiteral("docs⟨RLO⟩fdp");
    EXPECT_EQ(view.windowTitle(), folder);
    EXPECT_EQ(view.breadcrumbTitles().last(), folder);
    QStringList labels;
    for (QLabel* label : view.findChildren<QLabel*>())
        labels.append(label->text());
    EXPECT_TRUE(labels.contains(folder)) << labels.join(u'|').toStdString();
    EXPECT_TRUE(labels.contains(q(tree.root()) + u'/' + folder)) << labels.join(u'|').toStdString();
    for (const QString& text : labels + view.breadcrumbTitles())
        EXPECT_FALSE(text.contains(QChar(0x202E))) << text.toStdString();

    FolderBrowserGrid& grid = c->window()->grid();
    for (const char* name : {"a\u202Etxt.exe", "b\nc.txt"}) {
        const int index = indexOf(*c, name);
        ASSERT_GE(index, 0) << name;
        const QPoint preview = grid.previewRect(index).center().toPoint() - QPoint(0, grid.verticalScrollBar()->value());
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, preview);
        ASSERT_EQ(c->model().selectedItemID(), q(tree.path("docs\u202Efdp/") + name));  // the real path
        const QString shown = QString::fromUtf8(name).replace(QChar(0x202E), QStringLiteral("⟨RLO⟩"))
                                  .replace(u'\n', QStringLiteral("⟨LF⟩"));
        bool labelled = false;
        for (SelectableLabel* label : grid.viewport()->findChildren<SelectableLabel*>())
            labelled = labelled || (label->isVisible() && label->text() == shown);
        EXPECT_TRUE(labelled) << shown.toStdString();
    }
}

// Each crumb is a chip that stands out from the header behind it.
TEST_F(FolderBrowserWindowTest, BreadcrumbsAreChipsOnTheHeader)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserView& view = *c->window();
    const QList<QPushButton*> crumbs = view.findChildren<QPushButton*>();
    ASSERT_FALSE(crumbs.isEmpty());
    const QColor header = view.palette().color(QPalette::Window);
    for (QPushButton* crumb : crumbs) {
        if (!view.breadcrumbTitles().contains(crumb->text()))
            continue;
        ASSERT_TRUE(QTest::qWaitFor([&] { return crumb->isVisible(); }));
        // Inside the top padding, clear of the rounded corners and the text.
        const QColor chip = crumb->grab().toImage().pixelColor(crumb->width() / 2, 2);
        EXPECT_GT(std::abs(qGray(chip.rgb()) - qGray(header.rgb())), 6) << crumb->text().toStdString();
    }
}

// Where `image` differs from its top-left pixel (the background): the box
// and the darkest grey there.
struct Ink {
    QRect box;
    int darkest = 255;
};
Ink inkOf(const QImage& image, int threshold = 8)
{
    Ink ink;
    const int background = qGray(image.pixel(0, 0));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int grey = qGray(image.pixel(x, y));
            if (std::abs(grey - background) > threshold) {
                ink.box |= QRect(x, y, 1, 1);
                ink.darkest = std::min(ink.darkest, grey);
            }
        }
    }
    return ink;
}

// Between two crumbs a chevron of the 9-point semibold symbol size in the
// tertiary text colour, upright and taller than wide.
TEST_F(FolderBrowserWindowTest, CrumbsAreSeparatedByASemiboldChevronInTheTertiaryColour)
{
    FolderBrowserWindowController* c = openActive(tree.path("album"));
    FolderBrowserView& view = *c->window();
    QWidget* bar = nullptr;
    for (QPushButton* button : view.findChildren<QPushButton*>())
        if (button->text() == "album")
            bar = button->parentWidget();
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->isVisible(); }, 20000));
    QList<QLabel*> chevrons;
    for (QLabel* label : bar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (label->isVisible())
            chevrons << label;
    ASSERT_EQ(chevrons.size(), view.breadcrumbTitles().size() - 1);
    const QColor tertiary = ResultPainting::tertiaryText(view.palette());
    const QColor header = view.palette().color(QPalette::Window);
    const int expected =
        qRound(tertiary.alphaF() * qGray(tertiary.rgb()) + (1 - tertiary.alphaF()) * qGray(header.rgb()));
    for (QLabel* chevron : chevrons) {
        // On the header's own background: the label draws none of its own.
        const Ink ink = inkOf(view.grab(QRect(chevron->mapTo(&view, QPoint()), chevron->size())).toImage());
        SCOPED_TRACE(testing::Message() << "ink " << ink.box.width() << "x" << ink.box.height() << " darkest "
                                        << ink.darkest);
        EXPECT_GE(ink.box.height(), 6);
        EXPECT_LE(ink.box.height(), 9);
        EXPECT_LT(ink.box.width(), ink.box.height());
        EXPECT_NEAR(ink.darkest, expected, 12);
        // Centred on the crumbs' row.
        EXPECT_NEAR(chevron->mapTo(bar, ink.box.center()).y(), bar->height() / 2, 2);
    }
}

// The first band of rows with ink from the top of `image`: a card's name.
QImage firstLineOf(const QImage& image)
{
    int top = -1;
    for (int y = 0; y < image.height(); ++y) {
        const bool inked = !inkOf(image.copy(0, y, image.width(), 1), 0).box.isEmpty();
        if (inked && top < 0)
            top = y;
        if (!inked && top >= 0)
            return image.copy(0, top, image.width(), y - top);
    }
    return {};
}

// A hovered card's name is a label that shows it as the card paints it, down
// to the last pixel of the descenders of "g", "q" and "y".
TEST_F(FolderBrowserWindowTest, AHoveredCardsNameLabelKeepsTheDescendersTheCardPaints)
{
    // The Chinese desktop's font: at the card's size its "g" reaches below
    // its line height in whole pixels.
    const QFont desktopFont = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei")));
    const auto restoreFont = qScopeGuard([&] { QApplication::setFont(desktopFont); });
    tree.file("gqy jpg.txt", "x");
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserGrid& grid = c->window()->grid();
    const int card = indexOf(*c, "gqy jpg.txt");
    const int other = indexOf(*c, "notes.txt");
    ASSERT_GE(card, 0);
    const auto hover = [&](int index) {
        QTest::mouseMove(grid.viewport(),
                         grid.previewRect(index).center().toPoint() - QPoint(0, grid.verticalScrollBar()->value()));
    };
    // The ink of the name under the preview, wherever the card is now.
    const auto nameInk = [&] {
        const int scroll = grid.verticalScrollBar()->value();
        QRect texts = grid.cardRect(card).translated(0, -scroll);
        texts.setTop(static_cast<int>(grid.previewRect(card).bottom()) - scroll + 1);
        return inkOf(firstLineOf(grid.viewport()->grab(texts).toImage()), 0).box;
    };
    const auto labelShown = [&] {
        for (SelectableLabel* label : grid.viewport()->findChildren<SelectableLabel*>())
            if (label->isVisible() && label->text() == "gqy jpg.txt")
                return true;
        return false;
    };
    hover(other);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !labelShown(); }, 20000));
    const QRect painted = nameInk();
    ASSERT_FALSE(painted.isEmpty());
    hover(card);
    ASSERT_TRUE(QTest::qWaitFor(labelShown, 20000));
    const QRect labelled = nameInk();
    EXPECT_EQ(labelled.height(), painted.height());
    EXPECT_EQ(labelled.width(), painted.width());
}

TEST_F(FolderBrowserWindowTest, DropsMoveIntoFolderCardsOnlyAndEachFileOnce)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserGrid& grid = c->window()->grid();
    const QUrl notes = QUrl::fromLocalFile(q(tree.path("notes.txt")));

    EXPECT_FALSE(dropOn(grid, indexOf(*c, "photo.jpg"), {notes}));
    EXPECT_TRUE(fs::exists(tree.path("notes.txt")));

    QSignalSpy moved(&c->model(), &FolderBrowserModel::movesFinished);
    EXPECT_TRUE(dropOn(grid, indexOf(*c, "album"), {notes, notes}));
    ASSERT_TRUE(moved.wait(20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c->model().isListing(); }));
    EXPECT_TRUE(fs::exists(tree.path("album/notes.txt")));
    EXPECT_FALSE(fs::exists(tree.path("album/notes 2.txt")));
    EXPECT_TRUE(c->window()->moveProblemText().isEmpty());
    EXPECT_EQ(indexOf(*c, "notes.txt"), -1);

    // A drop that carries no file is refused.
    EXPECT_FALSE(dropOn(grid, indexOf(*c, "album"), {QUrl("https://example.invalid/x")}));
}

TEST_F(FolderBrowserWindowTest, AMoveThatFailsSaysSoInTheWindow)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    QSignalSpy moved(&c->model(), &FolderBrowserModel::movesFinished);
    // The folder onto itself: the rename cannot take it there.
    c->model().moveFileUrls({QUrl::fromLocalFile(q(tree.path("album")))}, q(tree.path("album")));
    ASSERT_TRUE(moved.wait(20000));
    EXPECT_TRUE(c->window()->moveProblemText().startsWith("1 项留在原处：album（"));
    EXPECT_TRUE(fs::exists(tree.path("album/clip.mp4")));
}

TEST_F(FolderBrowserWindowTest, PlainSpaceInTheActiveWindowPreviewsAndAnyModifierPassesOn)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    c->model().setSelectedItemID(q(tree.path("photo.jpg")));
    int pressesSeen = 0;
    FolderBrowserGrid& grid = c->window()->grid();
    struct Counter : QObject {
        int* count;
        explicit Counter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            *count += e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Space;
            return false;
        }
    } counter(&pressesSeen);
    grid.installEventFilter(&counter);

    for (Qt::KeyboardModifier modifier :
         {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier, Qt::MetaModifier, Qt::KeypadModifier})
        QTest::keyClick(&grid, Qt::Key_Space, modifier);
    EXPECT_EQ(panel.presented, 0);
    EXPECT_EQ(pressesSeen, 5);

    QTest::keyClick(&grid, Qt::Key_Space);
    EXPECT_EQ(panel.presented, 1);
    EXPECT_EQ(panel.lastSource, &c->model().previewController());
    EXPECT_EQ(pressesSeen, 5);  // swallowed

    // Another window of the application active: Space is not this window's.
    QWidget other;
    auto* button = new QPushButton(QStringLiteral("x"), &other);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(panel.presented, 1);
}

TEST_F(FolderBrowserWindowTest, MouseBackAndForwardButtonsWalkTheHistory)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserModel& model = c->model();
    model.navigate(q(tree.path("album")), true);
    QWidget* target = c->window()->grid().viewport();
    const auto press = [&](Qt::MouseButton button) {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), button, button,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    };
    press(Qt::BackButton);
    EXPECT_EQ(model.currentPath(), q(tree.root()));
    press(Qt::ForwardButton);
    EXPECT_EQ(model.currentPath(), q(tree.path("album")));
    model.goBack();
    press(Qt::ExtraButton3);
    EXPECT_EQ(model.currentPath(), q(tree.path("album")));
    press(Qt::MiddleButton);
    press(Qt::BackButton);  // swallowed even where the history cannot move further
    press(Qt::BackButton);
    EXPECT_EQ(model.currentPath(), q(tree.root()));
    EXPECT_EQ(model.historyIndex(), 0);
}

TEST_F(FolderBrowserWindowTest, TwoWindowsOnOnePathAreIndependentAndClosingFreesTheirControllers)
{
    QPointer<FolderBrowserWindowController> first = openActive(tree.root());
    QPointer<FolderBrowserWindowController> second = openActive(tree.root());
    ASSERT_NE(first, second);
    EXPECT_NE(first->window(), second->window());
    EXPECT_EQ(windows.controllers().size(), 2);
    EXPECT_TRUE(FolderBrowserWindowController::isBrowserWindow(first->window()));
    second->model().navigate(q(tree.path("album")), true);
    EXPECT_EQ(first->model().currentPath(), q(tree.root()));

    QPointer<FolderBrowserModel> model = &first->model();
    first->window()->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.isNull() && model.isNull(); }));
    EXPECT_EQ(windows.controllers(), QList<FolderBrowserWindowController*>({second.data()}));

    // The manager's request opens a window too.
    FolderBrowserManager::shared().open(q(tree.path("album")));
    EXPECT_EQ(windows.controllers().size(), 2);
}

TEST_F(FolderBrowserWindowTest, CtrlWClosesTheActiveWindowAndOnlyIt)
{
    QPointer<FolderBrowserWindowController> first = openActive(tree.root());
    QPointer<FolderBrowserWindowController> second = openActive(tree.path("album"));
    QTest::keyClick(&second->window()->grid(), Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.isNull(); }, 20000));
    EXPECT_EQ(windows.controllers(), QList<FolderBrowserWindowController*>({first.data()}));
    EXPECT_TRUE(first->window()->isVisible());
}

TEST_F(FolderBrowserWindowTest, AClickSelectsACardAndAClickBetweenCardsClearsTheSelection)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserGrid& grid = c->window()->grid();
    const int photo = indexOf(*c, "photo.jpg");
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.cardRect(photo).center());
    EXPECT_EQ(c->model().selectedItemID(), q(tree.path("photo.jpg")));
    const QPoint between(grid.cardRect(0).right() + 7, grid.cardRect(0).center().y());
    ASSERT_EQ(grid.cardAt(between), -1);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, between);
    EXPECT_TRUE(c->model().selectedItemID().isEmpty());
}

// The preview panel outlives the window whose images it shows: once that
// window is closed (and its list freed), ← and → still step through them.
TEST_F(FolderBrowserWindowTest, ASelectedCardsNameIsSelectedWithTheMouseAndItsPreviewDragsTheFile)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserGrid& grid = c->window()->grid();
    const int notes = indexOf(*c, "notes.txt");
    const QPoint preview = grid.previewRect(notes).center().toPoint() - QPoint(0, grid.verticalScrollBar()->value());
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, preview);
    ASSERT_EQ(c->model().selectedItemID(), q(tree.path("notes.txt")));

    // The name, centred under the preview, is a label where the user sees it.
    SelectableLabel* name = nullptr;
    for (SelectableLabel* label : grid.viewport()->findChildren<SelectableLabel*>())
        if (label->isVisible() && label->text() == "notes.txt")
            name = label;
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(grid.cardRect(notes).translated(0, -grid.verticalScrollBar()->value()).contains(name->geometry()));
    EXPECT_EQ(grid.viewport()->childAt(name->geometry().center()), name);
    dragOverStart(*name, "notes");
    EXPECT_EQ(name->selectedText(), "notes");
    EXPECT_EQ(grid.findChild<QDrag*>(), nullptr);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(name, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "notes");

    QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, preview);
    QTest::mouseMove(grid.viewport(), preview + QPoint(0, 30));
    const QDrag* drag = grid.findChild<QDrag*>();
    ASSERT_NE(drag, nullptr);
    EXPECT_EQ(drag->mimeData()->urls(), QList<QUrl>{QUrl::fromLocalFile(q(tree.path("notes.txt")))});
    QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, preview + QPoint(0, 30));
}

// The folder is listed again (its files changed) while the pointer rests on
// a card's name: the name stays a label there, and a drag selects characters.
TEST_F(FolderBrowserWindowTest, TheNameUnderARestingPointerStaysALabelWhenTheFolderIsListedAgain)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserGrid& grid = c->window()->grid();
    const int notes = indexOf(*c, "notes.txt");
    QCursor::setPos(c->window()->frameGeometry().bottomRight() + QPoint(40, 40));
    QTest::mouseMove(grid.viewport(), grid.previewRect(notes).center().toPoint());
    const auto labelAt = [&](QPoint at) { return qobject_cast<SelectableLabel*>(grid.viewport()->childAt(at)); };
    QPoint at;
    for (SelectableLabel* label : grid.viewport()->findChildren<SelectableLabel*>())
        if (label->isVisible() && label->text() == "notes.txt")
            at = label->geometry().topLeft() + QPoint(2, label->height() / 2);
    ASSERT_NE(labelAt(at), nullptr);
    QTest::mouseMove(grid.viewport(), at);

    QSignalSpy listed(&c->model(), &FolderBrowserModel::listingFinished);
    c->model().navigate(q(tree.root()), false);
    ASSERT_TRUE(listed.wait());
    SelectableLabel* name = labelAt(at);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "notes.txt");
    dragOverStart(*name, "notes");
    EXPECT_EQ(name->selectedText(), "notes");
    EXPECT_EQ(c->model().selectedItemID(), q(tree.path("notes.txt")));
    EXPECT_EQ(grid.findChild<QDrag*>(), nullptr);
}

TEST_F(FolderBrowserWindowTest, ClosingTheWindowLeavesThePreviewPanelItsImages)
{
    tree.dir("pics");
    tree.file("pics/1.jpg");
    tree.file("pics/2.jpg");
    PreviewPanelWindow previewWindow;
    PreviewPanel::setShared(&previewWindow);
    QPointer<FolderBrowserWindowController> c = openActive(tree.path("pics"));
    FolderBrowserGrid& grid = c->window()->grid();
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.cardRect(indexOf(*c, "1.jpg")).center());
    QTest::keyClick(&grid, Qt::Key_Space);
    ASSERT_TRUE(previewWindow.isVisible());
    EXPECT_EQ(previewWindow.shownPath(), q(tree.path("pics/1.jpg")));

    c->window()->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.isNull(); }));
    EXPECT_EQ(previewWindow.source(), nullptr);  // no stale identity for a new controller to match
    QTest::keyClick(&previewWindow, Qt::Key_Right);
    EXPECT_EQ(previewWindow.shownPath(), q(tree.path("pics/2.jpg")));
    QTest::keyClick(&previewWindow, Qt::Key_Left);
    EXPECT_EQ(previewWindow.shownPath(), q(tree.path("pics/1.jpg")));
}

// Going back while a folder is still being listed rebuilds the crumbs; the
// old ones must not outlive the window as windows of their own: the next
// browser window would never become active.
TEST_F(FolderBrowserWindowTest, AWindowClosedRightAfterGoingBackLeavesTheNextOneActive)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    c->model().open(c->model().items().at(indexOf(*c, "album")));
    c->window()->backButton().click();
    c->window()->close();
    FolderBrowserWindowController* next = windows.open(q(tree.path("album")));
    EXPECT_TRUE(QTest::qWaitForWindowActive(next->window()));
    EXPECT_TRUE(QApplication::topLevelWidgets().size() == 1) << "widgets left without their window";
}

TEST_F(FolderBrowserWindowTest, ZoomKeysStepTheGridAndResetIt)
{
    FolderBrowserWindowController* c = openActive(tree.root());
    FolderBrowserView& view = *c->window();
    const double narrow = view.grid().columns().width;
    QTest::keyClick(&view.grid(), Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_NEAR(view.gridZoom(), 1.12, 1e-9);
    EXPECT_GT(view.grid().columns().width, narrow);
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(&view.grid(), Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view.gridZoom(), 0.7);
    QTest::keyClick(&view.grid(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view.gridZoom(), 1.0);
    EXPECT_GE(view.grid().cardRect(0).height(), 170);
}

} // namespace
} // namespace pallix
