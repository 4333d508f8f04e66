#include "App/AppModel.h"

#include <gtest/gtest.h>

#include "App/ModelTestSupport.h"

namespace pallix {
namespace {

using namespace testing_support;

// The preview window, as far as the model can tell.
class RecordingPanel final : public PreviewPanel {
public:
    bool isVisible() const override { return visible; }
    const PreviewController* source() const override { return shownBy; }
    void present(PreviewController* source, int) override
    {
        visible = true;
        shownBy = source;
        ++presents;
    }
    void close() override
    {
        visible = false;
        ++closes;
    }
    bool visible = false;
    const PreviewController* shownBy = nullptr;
    int presents = 0;
    int closes = 0;
};

struct SelectionTest : testing::Test {
    ModelHarness h;
    RecordingPanel panel;
    void SetUp() override
    {
        PreviewPanel::setShared(&panel);
        h.preventStartUp();
        h.start();
    }
    void TearDown() override { PreviewPanel::setShared(nullptr); }
    AppModel& model() { return *h.model; }
    void publish(const ItemList& list) { model().searchSession().applySearchResults(list, model().searchSession().currentQuerySnapshot()); }
    QStringList panelPaths()
    {
        QStringList out;
        for (int i = 0; i < model().previewController().count(); ++i)
            out.append(model().previewController().itemAt(i).toLocalFile());
        return out;
    }
};

TEST_F(SelectionTest, ArrowKeysMoveTheSelectionWithinTheResults)
{
    model().searchSession().moveSelection(1);
    EXPECT_TRUE(model().searchSession().selectedItemID().isEmpty());

    publish(fileItems({"/r/a", "/r/b", "/r/c", "/r/d"}));
    ASSERT_EQ(model().searchSession().selectedItemID(), "/r/a");
    const struct {
        int offset;
        const char* expected;
    } steps[] = {{-1, "/r/a"}, {5, "/r/d"}, {1, "/r/d"}, {-2, "/r/b"}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.offset);
        model().searchSession().moveSelection(step.offset);
        EXPECT_EQ(model().searchSession().selectedItemID(), step.expected);
    }

    model().searchSession().setImageFuzzyResults(fileItems({"/elsewhere/image.png"}));
    model().searchSession().setSelectedItemID("/elsewhere/image.png");
    model().searchSession().moveSelection(1);  // the arrows never move into the other sections
    EXPECT_EQ(model().searchSession().selectedItemID(), "/r/a");

    publish({});
    model().searchSession().moveSelection(1);
    EXPECT_TRUE(model().searchSession().selectedItemID().isEmpty());
}

TEST_F(SelectionTest, SelectedItemIsLookedUpInResultsImagesAndSharedDrivesOnly)
{
    publish(fileItems({"/r/a.txt"}));
    model().searchSession().setImageFuzzyResults(fileItems({"/i/b.png"}));
    model().searchSession().setServerResults(fileItems({"/s/c.txt"}));
    model().searchSession().setSkuRelatedResults(fileItems({"/k/d.png"}));
    for (const char* path : {"/r/a.txt", "/i/b.png", "/s/c.txt"}) {
        SCOPED_TRACE(path);
        model().searchSession().setSelectedItemID(path);
        ASSERT_TRUE(model().searchSession().selectedItem());
        EXPECT_EQ(model().searchSession().selectedItem()->path(), path);
    }
    model().searchSession().setSelectedItemID("/k/d.png");
    EXPECT_FALSE(model().searchSession().selectedItem());
    model().searchSession().setSelectedItemID(QString::fromUtf8("/r/a.txt").normalized(QString::NormalizationForm_D));
    EXPECT_TRUE(model().searchSession().selectedItem());
}

TEST_F(SelectionTest, PreviewOfADocumentShowsItAlone)
{
    publish(fileItems({"/f/notes.txt", "/f/b.png"}));
    model().searchSession().previewSelected();
    EXPECT_EQ(panelPaths(), QStringList{"/f/notes.txt"});
    ASSERT_TRUE(h.allResumed());
    EXPECT_EQ(panelPaths(), QStringList{"/f/notes.txt"});
}

TEST_F(SelectionTest, PreviewOfAnImageBrowsesTheShownImagesOfItsFolder)
{
    publish(fileItems({"/f/img10.png", "/f/notes.txt", "/g/other.png", "/f/img2.png"}));
    model().searchSession().setImageFuzzyResults(fileItems({"/f/img2.png", "/f/a.jpg"}));
    model().searchSession().setSelectedItemID("/f/img10.png");
    model().searchSession().previewSelected();
    EXPECT_EQ(panelPaths(), QStringList{"/f/img10.png"});  // at once, before the sequence
    ASSERT_TRUE(waitFor([&] { return model().previewController().count() == 3; }));
    EXPECT_EQ(panelPaths(), (QStringList{"/f/a.jpg", "/f/img2.png", "/f/img10.png"}));
    EXPECT_EQ(model().previewController().currentIndex(), 2);
    model().searchSession().previewSelected();  // Space again closes the panel
    EXPECT_FALSE(panel.visible);
}

TEST_F(SelectionTest, PreviewOfTheOnlyImageOfItsFolderStaysOpenAndSpaceAgainCloses)
{
    publish(fileItems({"/f/only.png", "/g/other.png"}));
    model().searchSession().previewSelected();
    ASSERT_TRUE(h.allResumed());  // the sequence is in
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panelPaths(), QStringList{"/f/only.png"});
    model().searchSession().previewSelected();
    EXPECT_FALSE(panel.visible);
    EXPECT_EQ(panel.closes, 1);
}

TEST_F(SelectionTest, SpaceOnAnotherImageOfTheShownSequenceClosesWithoutReopening)
{
    publish(fileItems({"/f/a.png", "/f/b.png", "/f/c.png"}));
    model().searchSession().previewSelected();
    ASSERT_TRUE(waitFor([&] { return model().previewController().count() == 3; }));
    const int presents = panel.presents;
    model().searchSession().moveSelection(1);  // the panel's list already holds /f/b.png
    model().searchSession().previewSelected();
    EXPECT_FALSE(panel.visible);
    EXPECT_EQ(panel.presents, presents);
    model().searchSession().previewSelected();  // and the next Space opens it again
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panelPaths().front(), "/f/b.png");
}

TEST_F(SelectionTest, SpaceDoesNotCloseThePanelOfAnotherController)
{
    publish(fileItems({"/f/a.txt"}));
    model().searchSession().previewSelected();
    PreviewController browser;  // a folder browser takes the panel over
    browser.preview({QUrl::fromLocalFile("/other/x.txt")}, 0);
    model().searchSession().previewSelected();
    EXPECT_TRUE(panel.visible);
    EXPECT_EQ(panel.shownBy, &model().previewController());
    EXPECT_EQ(panel.closes, 0);
}

TEST_F(SelectionTest, PreviewSequenceIsDroppedWhenTheSelectionMoved)
{
    publish(fileItems({"/f/a.png", "/f/b.png"}));
    model().searchSession().previewSelected();
    model().searchSession().moveSelection(1);
    ASSERT_TRUE(h.allResumed());  // the sequence came back to a moved selection
    EXPECT_EQ(panelPaths(), QStringList{"/f/a.png"});
}

} // namespace
} // namespace pallix
