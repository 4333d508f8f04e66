#include "UI/Preview/DesktopDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace pallix {
namespace {

QMessageBox* shownBox()
{
    QMessageBox* box = nullptr;
    const bool shown = QTest::qWaitFor([&] {
        box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        return box && box->isVisible();
    });
    return shown ? box : nullptr;
}

// The trash question shows the item's name: 60 characters of it fit on one
// or two lines, and a name without spaces is never broken inside.
TEST(WidgetDesktop, TheTrashQuestionHasRoomForALongNameAndEscapeCancels)
{
    const QString names[] = {
        QStringLiteral("2024年第三季度华东区域客户满意度调查报告最终修订版本给市场部与销售部及客户服务中心审阅用的汇总表格.xlsx"),
        QStringLiteral("quarterly_customer_satisfaction_survey_east_region_final.xlsx"),
        QStringLiteral("Quarterly customer satisfaction survey, east region final.xlsx"),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_GE(name.size(), 55);
        WidgetDesktop desktop;
        std::optional<bool> answer;
        desktop.confirm({QStringLiteral("移到回收站？"), name, QStringLiteral("移到回收站"), QStringLiteral("取消")},
                        [&](bool accepted) { answer = accepted; });
        QMessageBox* box = shownBox();
        ASSERT_NE(box, nullptr);
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        ASSERT_NE(label, nullptr);
        const QFontMetrics metrics(label->font());
        const int lines = label->heightForWidth(label->width()) / metrics.lineSpacing();
        EXPECT_LE(lines, 2) << label->width();
        if (!name.contains(u' ')) {
            EXPECT_GE(label->width(), metrics.horizontalAdvance(name));  // one unbroken line
        }
        QTest::keyClick(box, Qt::Key_Escape);
        ASSERT_TRUE(answer.has_value());
        EXPECT_FALSE(*answer);
    }
}

// The safe answer is the default: Return right after Ctrl+Backspace keeps the file.
TEST(WidgetDesktop, ReturnInTheTrashQuestionCancels)
{
    WidgetDesktop desktop;
    std::optional<bool> answer;
    desktop.confirm({QStringLiteral("移到回收站？"), QStringLiteral("a.txt"), QStringLiteral("移到回收站"),
                     QStringLiteral("取消")},
                    [&](bool accepted) { answer = accepted; });
    QMessageBox* box = shownBox();
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("取消"));
    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_TRUE(answer.has_value());
    EXPECT_FALSE(*answer);
}

} // namespace
} // namespace pallix
