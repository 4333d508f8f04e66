#include "UI/Common/SelectableLabel.h"

#include <cmath>

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QTest>

namespace pallix {
namespace {

const QString kLongName = QStringLiteral("季度报告 final version for the board 2026.pdf");

TEST(SelectableLabelTest, TheOwnersWidthWinsAndANoWidthPassKeepsTheLast)
{
    QWidget window;
    auto* label = new SelectableLabel(&window);
    label->setText(kLongName);
    const int natural = QFontMetrics(label->font()).horizontalAdvance(kLongName);
    label->setGeometry(0, 0, 0, 20);  // a layout pass before the owner's
    EXPECT_EQ(label->sizeHint().width(), natural);
    label->setGeometry(0, 0, 120, 20);
    EXPECT_EQ(label->width(), 120);
    EXPECT_EQ(label->sizeHint().width(), 120);
    label->setGeometry(0, 0, 1, 20);
    EXPECT_EQ(label->sizeHint().width(), 120);
    EXPECT_EQ(label->minimumSizeHint().width(), 0);

    // One line, cut at its end; two lines wrap and the second is cut.
    label->setGeometry(0, 0, 120, 20);
    ASSERT_EQ(label->shownLines().size(), 1);
    EXPECT_TRUE(label->shownLines().front().endsWith(QChar(0x2026)));
    EXPECT_TRUE(kLongName.startsWith(label->shownLines().front().chopped(1)));
    label->setMaximumLines(2);
    const QStringList two = label->shownLines();
    ASSERT_EQ(two.size(), 2);
    EXPECT_TRUE(kLongName.startsWith(two.front()));
    EXPECT_TRUE(two.back().endsWith(QChar(0x2026)));
    const QFontMetrics metrics(label->font());
    const int lastLine = static_cast<int>(std::ceil(QFontMetricsF(label->font()).height()));
    EXPECT_EQ(label->heightForWidth(120), metrics.height() + lastLine);
    label->setText(QStringLiteral("短.txt"));
    EXPECT_EQ(label->shownLines(), QStringList{"短.txt"});
}

TEST(SelectableLabelTest, ADragPastTheEllipsisSelectsTheHiddenRestAndTheSameTextKeepsIt)
{
    QWidget window;
    window.resize(300, 100);
    auto* label = new SelectableLabel(&window);
    label->setGeometry(10, 10, 120, 24);
    label->setText(kLongName);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(0, 12));
    QTest::mouseMove(label, QPoint(119, 12));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(119, 12));
    EXPECT_EQ(label->selectedText(), kLongName);
    label->setText(kLongName);
    EXPECT_EQ(label->selectedText(), kLongName);
    label->setText(QStringLiteral("other.txt"));
    EXPECT_EQ(label->selectedText(), "");
}

} // namespace
} // namespace pallix
