#include "UI/Common/SelectableLabel.h"

#include <cmath>

#include <gtest/gtest.h>

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QTest>

#include "UI/Common/CardPainting.h"
#include "UI/Common/ResultPainting.h"

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
    label->setLineRule({2, Qt::ElideRight});
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

// Over a card, the label shows the name as the card painted it: a word wider
// than the card on one line, elided in its middle; a longer name broken
// between words.
TEST(SelectableLabelTest, ACardNameShowsThePaintedLines)
{
    QWidget window;
    auto* label = new SelectableLabel(&window);
    const QFont font = ResultPainting::font(13);
    label->setFont(font);
    label->setLineRule(CardPainting::kNameRule);
    label->setGeometry(0, 0, 110, 40);

    const QString word = QStringLiteral("green_square_and_more.png");
    label->setText(word);
    const QStringList painted = CardPainting::nameLines(word, font, 110);
    ASSERT_EQ(painted.size(), 1);
    EXPECT_TRUE(painted[0].endsWith(QStringLiteral(".png")) && painted[0].contains(QChar(0x2026)));
    EXPECT_EQ(label->shownLines(), painted);
    EXPECT_EQ(label->heightForWidth(110), static_cast<int>(std::ceil(QFontMetricsF(font).height())));

    const QString twoLines = QStringLiteral("季度 报告 final version for the board.pdf");
    label->setText(twoLines);
    const QStringList paintedTwo = CardPainting::nameLines(twoLines, font, 110);
    ASSERT_EQ(paintedTwo.size(), 2);
    EXPECT_EQ(label->shownLines(), paintedTwo);
    EXPECT_EQ(label->lineCount(), 2);
}

// A folder cut in its middle: the label shows the painted text, and a drag
// from its head across "…" into its tail selects, and copies, every
// character "…" hides.
TEST(SelectableLabelTest, AFolderElidedInItsMiddleShowsThePaintedTextAndCopiesWhatTheEllipsisHides)
{
    QWidget window;
    window.resize(400, 100);
    auto* label = new SelectableLabel(&window);
    label->setGeometry(10, 10, 200, 24);
    label->setLineRule({1, Qt::ElideMiddle});
    const QString folder = QStringLiteral("/home/用户/一个很长的文件夹名字/另一个很长的文件夹/项目/图片");
    label->setText(folder);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const QFontMetrics metrics(label->font());
    const QString painted = metrics.elidedText(folder, Qt::ElideMiddle, 200);
    const qsizetype cut = painted.indexOf(QChar(0x2026));
    ASSERT_GT(cut, 4);
    ASSERT_GT(painted.size() - cut, 3);
    EXPECT_EQ(label->shownLines(), QStringList{painted});

    const qsizetype tail = painted.size() - cut - 1;
    const QPoint from(metrics.horizontalAdvance(painted.left(3)), 12);
    const QPoint to(metrics.horizontalAdvance(painted.left(cut + 3)), 12);
    QTest::mousePress(label, Qt::LeftButton, {}, from);
    QTest::mouseMove(label, to);
    QTest::mouseRelease(label, Qt::LeftButton, {}, to);
    const QString expected = folder.mid(3, folder.size() - tail + 2 - 3);
    EXPECT_EQ(label->selectedText(), expected);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
}

} // namespace
} // namespace pallix
