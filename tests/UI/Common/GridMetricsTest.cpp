// The results grid and the folder browser read one set of card rules, each
// with its own sizes: their cards keep the heights and preview places they
// had at the zooms a user reaches.

#include "UI/Common/GridMetrics.h"

#include <gtest/gtest.h>

namespace pallix {
namespace {

using namespace GridMetrics;

TEST(GridMetrics, EachGridKeepsItsCardHeightsAcrossTheZoomRange)
{
    struct Case {
        double zoom;
        CardKind kind;
        int results;
        int browser;
    };
    // Lines of 18 and 15 px; at 0.7 the floors hold, the folder browser's
    // minimum follows the zoom without one.
    const Case cases[] = {
        {0.7, CardKind::Folder, 176, 170}, {0.7, CardKind::Raster, 174, 159}, {0.7, CardKind::Other, 156, 153},
        {1.0, CardKind::Folder, 217, 205}, {1.0, CardKind::Raster, 205, 189}, {1.0, CardKind::Other, 187, 181},
        {1.3, CardKind::Folder, 267, 241}, {1.3, CardKind::Raster, 252, 221}, {1.3, CardKind::Other, 228, 221},
        {1.9, CardKind::Folder, 367, 323}, {1.9, CardKind::Raster, 344, 323}, {1.9, CardKind::Other, 310, 323},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "zoom " << c.zoom << ", kind " << static_cast<int>(c.kind));
        EXPECT_EQ(cardHeight(card(kResultsGrid, c.kind, c.zoom), 18, 15), c.results);
        EXPECT_EQ(cardHeight(card(kFolderBrowserGrid, c.kind, c.zoom), 18, 15), c.browser);
    }
}

TEST(GridMetrics, PreviewsSitInsideThePaddingAndOnlyTheResultsGridInsetsNonRasters)
{
    const QRect rect(100, 50, 150, 217);
    EXPECT_EQ(previewRect(kResultsGrid, card(kResultsGrid, CardKind::Folder, 1.0), rect, false, 1.0),
              QRectF(110, 58, 130, 140));
    EXPECT_EQ(previewRect(kResultsGrid, card(kResultsGrid, CardKind::Raster, 1.0), rect, true, 1.0),
              QRectF(110, 58, 130, 122));
    EXPECT_EQ(previewRect(kFolderBrowserGrid, card(kFolderBrowserGrid, CardKind::Folder, 1.0), rect, false, 1.0),
              QRectF(110, 60, 130, 118));
    EXPECT_EQ(previewRect(kFolderBrowserGrid, card(kFolderBrowserGrid, CardKind::Raster, 1.9), rect, true, 1.9),
              QRectF(110, 60, 130, 102 * 1.9));
}

} // namespace
} // namespace pallix
