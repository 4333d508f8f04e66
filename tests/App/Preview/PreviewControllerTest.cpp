#include "App/Preview/PreviewController.h"

#include <gtest/gtest.h>

namespace pallix {
namespace {

class RecordingPanel final : public PreviewPanel {
public:
    bool isVisible() const override { return visible; }
    const PreviewController* source() const override { return shownBy; }
    void present(PreviewController* source, int index) override
    {
        visible = true;
        shownBy = source;
        shownIndex = index;
        ++presents;
    }
    void close() override
    {
        visible = false;
        ++closes;
    }

    bool visible = false;
    PreviewController* shownBy = nullptr;
    int shownIndex = -1;
    int presents = 0;
    int closes = 0;
};

QList<QUrl> files(std::initializer_list<const char*> paths)
{
    QList<QUrl> urls;
    for (const char* p : paths)
        urls.append(QUrl::fromLocalFile(QString::fromUtf8(p)));
    return urls;
}

struct PreviewControllerTest : testing::Test {
    RecordingPanel panel;
    PreviewController controller;
    void SetUp() override { PreviewPanel::setShared(&panel); }
    void TearDown() override { PreviewPanel::setShared(nullptr); }
};

TEST_F(PreviewControllerTest, TogglingTheShownListClosesAndTogglingAgainReopens)
{
    const auto list = files({"/a/1.jpg", "/a/2.jpg"});
    controller.togglePreview(list, 1);
    ASSERT_TRUE(panel.visible);
    EXPECT_EQ(panel.shownIndex, 1);
    controller.togglePreview(list, 1);
    EXPECT_FALSE(panel.visible);
    EXPECT_EQ(panel.closes, 1);
    controller.togglePreview(list, 0);
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.shownIndex, 0);
}

TEST_F(PreviewControllerTest, AnotherOrderReplacesTheContentsAndStaysOpen)
{
    controller.togglePreview(files({"/a/1.jpg", "/a/2.jpg"}), 0);
    controller.togglePreview(files({"/a/2.jpg", "/a/1.jpg"}), 0);
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.presents, 2);
    EXPECT_EQ(panel.closes, 0);
    EXPECT_EQ(controller.itemAt(0).path(), "/a/2.jpg");
}

TEST_F(PreviewControllerTest, SameListWhilePanelHiddenOpensIt)
{
    const auto list = files({"/a/1.jpg"});
    controller.togglePreview(list, 0);
    panel.visible = false;  // closed by the user
    controller.togglePreview(list, 0);
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.closes, 0);
}

TEST_F(PreviewControllerTest, PositionIsClampedIntoTheList)
{
    const struct {
        int count;
        int index;
        int expected;
    } cases[] = {{5, -3, 0}, {5, 99, 4}, {5, 2, 2}, {0, 3, 0}};
    const auto five = files({"/1", "/2", "/3", "/4", "/5"});
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " items at " << c.index);
        controller.preview(five.first(c.count), c.index);
        EXPECT_EQ(controller.currentIndex(), c.expected);
        EXPECT_EQ(panel.shownIndex, c.expected);
    }
}

TEST_F(PreviewControllerTest, DataSourceAnswersNothingOutsideTheList)
{
    controller.preview(files({"/x", "/y"}), 0);
    EXPECT_TRUE(controller.itemAt(-1).isEmpty());
    EXPECT_TRUE(controller.itemAt(2).isEmpty());
    EXPECT_EQ(controller.itemAt(1).path(), "/y");
}

TEST(PreviewControllerNoPanel, ToggleWithoutAPanelDoesNothing)
{
    PreviewPanel::setShared(nullptr);
    PreviewController controller;
    controller.togglePreview(files({"/x"}), 0);
    EXPECT_EQ(controller.count(), 0);
}

TEST(PreviewControllerSignature, PathsJoinedByRecordSeparator)
{
    EXPECT_EQ(PreviewController::signature({}), "");
    EXPECT_EQ(PreviewController::signature(files({"/a b", "/c"})), QString("/a b") + QChar(0x1E) + "/c");
}

TEST_F(PreviewControllerTest, ALateListReplacesTheShownOneButNeverReopensAClosedPanel)
{
    controller.togglePreview(files({"/a/1.jpg"}), 0);
    controller.replaceShown(files({"/a/0.jpg", "/a/1.jpg"}), 1);
    EXPECT_EQ(controller.count(), 2);
    EXPECT_TRUE(controller.isShowing(QUrl::fromLocalFile("/a/0.jpg")));
    panel.close();  // the user closed it before the next list came
    controller.replaceShown(files({"/a/0.jpg", "/a/1.jpg", "/a/2.jpg"}), 1);
    EXPECT_FALSE(panel.visible);
    EXPECT_EQ(controller.count(), 2);
    EXPECT_FALSE(controller.isShowing(QUrl::fromLocalFile("/a/0.jpg")));
}

TEST_F(PreviewControllerTest, ToggleNeverClosesTheListOfAnotherController)
{
    const auto list = files({"/a/1.jpg"});
    controller.togglePreview(list, 0);
    PreviewController other;
    other.preview(files({"/b/x.jpg"}), 0);
    controller.togglePreview(list, 0);  // same signature, but the panel shows the other list
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.shownBy, &controller);
    EXPECT_EQ(panel.closes, 0);
}

} // namespace
} // namespace pallix
