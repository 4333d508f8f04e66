// One card painter serves the results grid and the folder browser: the
// highlight follows selection and drops with the style's outline, a hovered
// folder grows only under a style that grows it, the badge marks videos, and
// a covered name keeps its two lines so the subtitle does not move.

#include "UI/Common/CardPainting.h"

#include <algorithm>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>

#include "UI/Common/BandedScrollBarStyle.h"
#include "UI/Common/ResultPainting.h"

namespace pallix {
namespace {

using CardPainting::Card;
using CardPainting::CardPainter;
using CardPainting::CardStyle;

constexpr QRgb kBackground = 0xffffffff;
const CardStyle kResultsStyle{6, 0.7, 1.08};
const CardStyle kBrowserStyle{8, 0.65, 1.0};

// A 160 × 230 card at (10, 10) with a red 50 × 100 preview centred in its
// 140 × 100 preview area, and room for two name lines and a subtitle.
Card sampleCard()
{
    Card card;
    card.rect = QRect(10, 10, 160, 230);
    card.preview = QRectF(20, 20, 140, 100);
    QPixmap image(50, 100);
    image.fill(Qt::red);
    card.image = image;
    card.textLeft = 20;
    card.textWidth = 140;
    card.nameTop = 130;
    card.subtitleTop = 140;
    card.name = QStringLiteral("name");
    card.subtitle = QStringLiteral("subtitle");
    return card;
}

QImage draw(CardPainter& painter, const Card& card)
{
    QImage image(180, 260, QImage::Format_ARGB32);
    image.fill(kBackground);
    QPainter p(&image);
    painter.paint(p, card, QApplication::palette());
    return image;
}

int count(const QImage& image, const std::function<bool(QRgb)>& matches)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += matches(image.pixel(x, y)) ? 1 : 0;
    return n;
}

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}

// How far a pixel is from the white background, summed over the channels.
int ink(QRgb pixel)
{
    return 3 * 255 - qRed(pixel) - qGreen(pixel) - qBlue(pixel);
}

// The first row below `from` with any dark text pixel, or -1.
int firstTextRow(const QImage& image, int from)
{
    for (int y = from; y < image.height(); ++y)
        for (int x = 20; x < 160; ++x)
            if (ink(image.pixel(x, y)) > 150 && !isRed(image.pixel(x, y)))
                return y;
    return -1;
}

TEST(CardPainting, HighlightFollowsSelectionAndDropsWithTheStylesOutline)
{
    CardPainter results(kResultsStyle);
    CardPainter browser(kBrowserStyle);
    const QPoint inside(15, 200);  // in the card, clear of preview and text
    const QPoint edge(10, 120);    // on the card's left edge, where the outline runs
    Card card = sampleCard();

    const QImage plain = draw(results, card);
    EXPECT_EQ(plain.pixel(inside), kBackground);
    EXPECT_EQ(plain.pixel(edge), kBackground);

    card.selected = true;
    const QImage selected = draw(results, card);
    EXPECT_GT(ink(selected.pixel(inside)), 0);
    EXPECT_GT(ink(selected.pixel(edge)), ink(selected.pixel(inside))) << "the selected card has an outline";
    const QImage lighterOutline = draw(browser, card);
    EXPECT_EQ(lighterOutline.pixel(inside), selected.pixel(inside)) << "one fill for a selected card";
    EXPECT_LT(ink(lighterOutline.pixel(edge)), ink(selected.pixel(edge)));

    card.selected = false;
    card.dropTarget = true;
    const QImage dropTarget = draw(browser, card);
    EXPECT_GT(ink(dropTarget.pixel(inside)), ink(selected.pixel(inside))) << "a drop target is filled stronger";
    EXPECT_LE(ink(dropTarget.pixel(edge)), ink(dropTarget.pixel(inside))) << "and has no outline";
}

TEST(CardPainting, AHoveredFolderGrowsOnlyUnderAGrowingStyleAndTheBadgeMarksVideos)
{
    CardPainter results(kResultsStyle);
    CardPainter browser(kBrowserStyle);
    Card card = sampleCard();
    const int still = count(draw(results, card), isRed);
    EXPECT_EQ(still, 50 * 100);

    card.hoveredFolder = true;
    const int grown = count(draw(results, card), isRed);
    EXPECT_GT(grown, still * 1.1);
    EXPECT_EQ(count(draw(browser, card), isRed), still);

    // The preview's top-right corner is empty around the narrow image; the badge sits there.
    const QRect corner(120, 22, 38, 20);
    const QImage withoutBadge = draw(browser, sampleCard());
    card = sampleCard();
    card.video = true;
    const QImage withBadge = draw(browser, card);
    EXPECT_EQ(count(withoutBadge.copy(corner), [](QRgb p) { return ink(p) > 0; }), 0);
    EXPECT_GT(count(withBadge.copy(corner), [](QRgb p) { return ink(p) > 100; }), 20);
}

TEST(CardPainting, ACoveredNameKeepsTwoLinesSoTheSubtitleStaysWhereALongNamePutsIt)
{
    CardPainter browser(kBrowserStyle);
    const int nameLine = QFontMetrics(ResultPainting::font(14)).height();
    Card card = sampleCard();
    const QImage shortName = draw(browser, card);
    card.name = QStringLiteral("a very very very very long name that needs a second line.txt");
    const QImage longName = draw(browser, card);
    card.nameCovered = true;
    const QImage covered = draw(browser, card);

    const int oneLineSubtitle = firstTextRow(shortName, card.nameTop + nameLine);
    const int twoLineSubtitle = firstTextRow(longName, card.nameTop + 2 * nameLine);
    ASSERT_GT(oneLineSubtitle, 0);
    EXPECT_EQ(twoLineSubtitle - oneLineSubtitle, nameLine);
    EXPECT_EQ(firstTextRow(covered, card.nameTop), twoLineSubtitle) << "nothing drawn where the name would be";
}

// A name breaks between words, never inside its extension; a word too long
// for the card is elided in the middle and keeps the extension whole.
TEST(CardPainting, NamesBreakBetweenWordsAndALongWordKeepsItsExtension)
{
    const QFont font = ResultPainting::font(14);
    const QFontMetrics metrics(font);
    const int narrow = metrics.horizontalAdvance(QStringLiteral("green_square.png")) - 4;
    const QStringList word = CardPainting::nameLines(QStringLiteral("green_square.png"), font, narrow);
    ASSERT_EQ(word.size(), 1);
    EXPECT_TRUE(word[0].endsWith(QStringLiteral(".png"))) << word[0].toStdString();
    EXPECT_TRUE(word[0].contains(QChar(0x2026)));
    EXPECT_LE(metrics.horizontalAdvance(word[0]), narrow);

    const int twoWords = metrics.horizontalAdvance(QStringLiteral("annual report")) + 2;
    EXPECT_EQ(CardPainting::nameLines(QStringLiteral("annual report final.pdf"), font, twoWords),
              QStringList({QStringLiteral("annual report"), QStringLiteral("final.pdf")}));
    const QStringList rest =
        CardPainting::nameLines(QStringLiteral("季度 报告 final_version_of_the_whole_year.pdf"), font, narrow);
    ASSERT_EQ(rest.size(), 2);
    EXPECT_EQ(rest[0], QStringLiteral("季度 报告"));
    EXPECT_TRUE(rest[1].endsWith(QStringLiteral(".pdf")) && rest[1].contains(QChar(0x2026)));

    // Painted: the long word takes one line, so the subtitle stays where a short name puts it.
    CardPainter results(kResultsStyle);
    Card card = sampleCard();
    card.textWidth = narrow;
    const int nameLine = metrics.height();
    const int oneLineSubtitle = firstTextRow(draw(results, card), card.nameTop + nameLine);
    card.name = QStringLiteral("green_square.png");
    EXPECT_EQ(firstTextRow(draw(results, card), card.nameTop + nameLine), oneLineSubtitle);
}

// A card's texts are shaped once and kept: a painter that drew other cards
// (other names, subtitles, widths, sizes) draws each card exactly as a new
// painter does, and none as the one drawn before it.
TEST(CardPainting, KeptTextsBelongToTheirCard)
{
    std::vector<Card> cards(7, sampleCard());
    cards[1].name = QStringLiteral("nbme");
    cards[2].subtitle = QStringLiteral("subtitlf");
    cards[3].textWidth = 60;
    cards[4].namePixelSize = 16;
    cards[5].subtitlePixelSize = 13;
    cards[6].name = QStringLiteral("averyveryveryverylongname.txt");
    CardPainter kept(kResultsStyle);
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < cards.size(); ++i) {
            CardPainter fresh(kResultsStyle);
            const QImage expected = draw(fresh, cards[i]);
            EXPECT_EQ(draw(kept, cards[i]), expected) << "card " << i << ", round " << round;
            if (i > 0) {
                EXPECT_NE(expected, draw(fresh, cards[i - 1])) << "card " << i;
            }
        }
    }
}

// Drawn in bands or at once, a fill and a blit leave the same pixels: no
// row lost or doubled at a band's edge, at one or two device pixels a point.
TEST(ResultPainting, BandsPaintWhatOneOperationPaints)
{
    QImage rows(70, 301, QImage::Format_RGB32);
    for (int y = 0; y < rows.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb*>(rows.scanLine(y)), rows.width(), qRgb(y % 256, y / 256 * 90, 40));
    for (const double scale : {1.0, 2.0}) {
        for (const double ratio : {1.0, 2.0}) {
            QPixmap pixmap = QPixmap::fromImage(rows);
            pixmap.setDevicePixelRatio(ratio);
            const auto paint = [&](bool banded) {
                QImage out(700, 700, QImage::Format_RGB32);
                out.fill(kBackground);
                QPainter painter(&out);
                painter.scale(scale, scale);
                if (banded) {
                    ResultPainting::fillInBands(painter, QRect(1, 2, 20, 299), Qt::blue);
                    ResultPainting::drawPixmapInBands(painter, QPoint(30, 3), pixmap);
                } else {
                    painter.fillRect(QRect(1, 2, 20, 299), Qt::blue);
                    painter.drawPixmap(QPoint(30, 3), pixmap);
                }
                return out;
            };
            EXPECT_EQ(paint(true), paint(false)) << "scale " << scale << ", pixel ratio " << ratio;
        }
    }
}

// A scroll bar of the banded style looks as the application's style draws
// it: no row of a band left out, drawn twice or drawn otherwise.
TEST(ResultPainting, ABandedScrollBarLooksAsThePlainOne)
{
    QScrollBar plain(Qt::Vertical);
    QScrollBar banded(Qt::Vertical);
    useBandedScrollBarStyle(&banded);
    for (QScrollBar* bar : {&plain, &banded}) {
        bar->setRange(0, 1000);
        bar->setPageStep(120);
        bar->setValue(400);
        bar->resize(15, 701);
    }
    EXPECT_EQ(banded.grab().toImage(), plain.grab().toImage());
}

} // namespace
} // namespace pallix
