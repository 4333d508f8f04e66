#include "UI/Search/WelcomeSheet.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "App/ModelTestSupport.h"
#include "Core/Config/EditionRule.h"
#include "UI/Search/SearchView.h"
#include "UI/Search/SearchWindow.h"

namespace pallix {

using namespace testing_support;

namespace {

class WelcomeSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.preventStartUp();
        h.start();
    }

    // Shows a new search window and answers the sheet it presents, if any.
    WelcomeSheet* showWindow()
    {
        window = std::make_unique<SearchWindow>(*h.model, h.thumbnails);
        window->show();
        // The view presents it from the event loop after the first showing.
        QCoreApplication::processEvents();
        WelcomeSheet* sheet = window->searchView()->welcomeSheet();
        EXPECT_TRUE(!sheet || sheet->isVisible());
        return sheet;
    }

    ModelHarness h;
    std::unique_ptr<SearchWindow> window;
};

TEST_F(WelcomeSheetTest, ReturnClosesItLikeTheButtonAndItIsNeverShownAgain)
{
    WelcomeSheet* sheet = showWindow();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isModal());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_FALSE(h.model->settingsOperations().welcomeSheetDismissed());
    EXPECT_TRUE(sheet->startButton()->isDefault());
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_TRUE(waitFor([&] { return window->searchView()->welcomeSheet() == nullptr; }));
    EXPECT_TRUE(h.model->settingsOperations().welcomeSheetDismissed());

    EXPECT_EQ(showWindow(), nullptr);  // a new window of the same defaults: no sheet
}

TEST_F(WelcomeSheetTest, EscapeAndTheWindowsCloseAlsoSetTheFlag)
{
    WelcomeSheet* sheet = showWindow();
    ASSERT_NE(sheet, nullptr);
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_TRUE(h.model->settingsOperations().welcomeSheetDismissed());

    h.defaults->setBoolean(editionDefaultsKey(DefaultsName::WelcomeSheetDismissed), false);
    sheet = showWindow();
    ASSERT_NE(sheet, nullptr);
    sheet->close();
    EXPECT_TRUE(h.model->settingsOperations().welcomeSheetDismissed());
}

TEST_F(WelcomeSheetTest, ParagraphsWrapAndAreNeverCut)
{
    WelcomeSheet sheet;
    sheet.show();
    EXPECT_GE(sheet.width(), WelcomeSheet::kMinimumWidth);
    const QList<QLabel*> labels = sheet.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 4);  // the title and three paragraphs
    for (QLabel* label : labels) {
        SCOPED_TRACE(label->text().toStdString());
        // Advice for another system's gatekeeper means nothing here.
        EXPECT_FALSE(label->text().contains(QStringLiteral("zip")));
        EXPECT_FALSE(label->text().contains(QStringLiteral("Control")));
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    }
}

} // namespace
} // namespace pallix
