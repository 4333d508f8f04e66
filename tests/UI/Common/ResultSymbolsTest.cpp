// The symbols bundled with the results stand in for an icon theme that lacks
// their names. Its own program: the symbols are looked up once per process,
// and here the first lookup happens under such a theme.

#include "UI/Common/ResultSymbols.h"

#include <gtest/gtest.h>

#include <QIcon>
#include <QLabel>
#include <QTemporaryDir>

#include "UI/Results/EmptyResultsPanel.h"
#include "UI/Results/ResultsTestSupport.h"

namespace pallix {
namespace {

bool drawsSomething(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
        }
    }
    return false;
}

TEST(ResultSymbols, TheBundledSymbolsDrawUnderAThemeWithoutTheirNames)
{
    QTemporaryDir noThemes;
    ASSERT_TRUE(noThemes.isValid());
    QIcon::setThemeSearchPaths({noThemes.path()});
    QIcon::setFallbackSearchPaths({});
    QIcon::setThemeName(QStringLiteral("pallix-test-empty"));
    QIcon::setFallbackThemeName(QStringLiteral("pallix-test-empty"));

    for (const char* name : {"arrow.turn.down.right", "arrow.down.right.and.arrow.up.left", "folder", "eye",
                             "play.rectangle.fill"})
        EXPECT_TRUE(drawsSomething(ResultSymbols::icon(QString::fromLatin1(name)).pixmap(24, 24))) << name;

    testing_support::ResultsFixture f;
    EmptyResultsPanel panel(f.model().searchSession());
    const QList<QLabel*> labels = panel.findChildren<QLabel*>();
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_TRUE(drawsSomething(labels.front()->pixmap()));  // the magnifying glass
}

} // namespace
} // namespace pallix
