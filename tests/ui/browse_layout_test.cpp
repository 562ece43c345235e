// The browse window's layout arithmetic in twips, without a display: the whole-window layout
// with and without the status bar, the too-short window, and the splitter drag.
#include <gtest/gtest.h>

#include "ui/browse/browse_layout.h"

namespace orba::ui {
namespace {

struct HeightCase {
    const char* name;
    bool status_visible;
    double height;
    double tree_height;  // expected
    double tab_height;
};

TEST(BrowseLayout, PanesReachDownToTheStatusBarOrTheBottomOrKeepTheirHeight) {
    // Panes start at 60 + 315 = 375 below the top; the status bar is 300 high.
    const HeightCase cases[] = {
        {"status bar shown", true, 6300, 6300 - 375 - 300 - 30, 6300 - 375 - 300 - 30},
        {"status bar hidden", false, 6300, 6300 - 375, 6300 - 375},
        {"too short for the status bar", true, 700, 5085, 3855},
        {"just too short: H - bar - 30 equals the top", true, 375 + 300 + 30, 5085, 3855},
        {"hidden bar, window shorter than the top", false, 300, 5085, 3855},
    };
    for (const HeightCase& c : cases) {
        SCOPED_TRACE(c.name);
        BrowseGeometry g;
        g.status_visible = c.status_visible;
        ArrangeWhole(g, 10035, c.height);
        EXPECT_EQ(g.tvwBase.top, 375);
        EXPECT_EQ(g.TabStrip.top, 375);
        EXPECT_EQ(g.tvwBase.height, c.tree_height);
        EXPECT_EQ(g.TabStrip.height, c.tab_height);
        // The separator and the splitter handle end where the tree ends.
        EXPECT_EQ(g.Line1[0].y2, g.tvwBase.Bottom());
        EXPECT_EQ(g.Line1[1].y2, g.tvwBase.Bottom());
        EXPECT_EQ(g.imgSplitVer.Bottom(), g.tvwBase.Bottom());
    }
}

TEST(BrowseLayout, WholeWindowMovesNothingSidewaysAndTheTabStripFollowsTheRightEdge) {
    BrowseGeometry g;
    ArrangeWhole(g, 12000, 8000);
    EXPECT_EQ(g.Line3[0].y1, 15);
    EXPECT_EQ(g.Line3[1].y1, 30);
    EXPECT_EQ(g.SSPTitleClass.top, 60);
    EXPECT_EQ(g.tvwBase.left, 60);
    EXPECT_EQ(g.tvwBase.width, 2730);
    EXPECT_EQ(g.imgSplitVer.left, 2775);
    EXPECT_EQ(g.TabStrip.left, 2940);
    EXPECT_EQ(g.TabStrip.width, 12000 - 2940 - 30);
    EXPECT_EQ(g.SSPTitleItem.width, g.TabStrip.width);

    // Narrower than the tab strip's left edge: its width stays.
    ArrangeWhole(g, 2900, 8000);
    EXPECT_EQ(g.TabStrip.width, 12000 - 2940 - 30);
}

struct DragCase {
    const char* name;
    double mouse_x;
    double expected_left;
};

TEST(BrowseLayout, SplitterBarStaysWithinItsLimits) {
    BrowseGeometry g;  // handle at 2775
    const double outer = 10200;
    const DragCase cases[] = {
        {"far left", -2700, 1680},
        {"just at the left limit", 1680 - 2775, 1680},
        {"in between", 500, 3275},
        {"far right", 9000, outer - 1680},
        {"just at the right limit", outer - 1680 - 2775, outer - 1680},
    };
    for (const DragCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SplitterBarLeft(g, c.mouse_x, outer), c.expected_left);
    }
}

TEST(BrowseLayout, PressShowsTheBarOverTheHandle) {
    BrowseGeometry g;
    ArrangeWhole(g, 10035, 6300);
    PressSplitter(g);
    EXPECT_TRUE(g.picSplitVer_visible);
    EXPECT_EQ(g.picSplitVer.left, g.imgSplitVer.left);
    EXPECT_EQ(g.picSplitVer.top, g.imgSplitVer.top);
    EXPECT_EQ(g.picSplitVer.width, 45);
    EXPECT_EQ(g.picSplitVer.height, g.imgSplitVer.height - 20);
}

TEST(BrowseLayout, ReleaseWithoutMoveReLaysTheColumnsAtTheHandlesLeftEdge) {
    BrowseGeometry g;
    ArrangeWhole(g, 10035, 6300);
    PressSplitter(g);
    ReleaseSplitter(g);
    EXPECT_FALSE(g.picSplitVer_visible);
    EXPECT_EQ(g.tvwBase.width, 2775);
    EXPECT_EQ(g.SSPTitleClass.width, 2775);
    EXPECT_EQ(g.imgSplitVer.left, 60 + 2775);
    EXPECT_EQ(g.TabStrip.left, 60 + 2775 + 90);
    EXPECT_EQ(g.TabStrip.width, 10035 - g.TabStrip.left - 30);
    EXPECT_EQ(g.SSPTitleItem.left, g.TabStrip.left);
    EXPECT_EQ(g.SSPTitleItem.width, g.TabStrip.width);
    EXPECT_EQ(g.Line1[0].x1, 60 + 2775 + 30);
    EXPECT_EQ(g.Line1[1].x1, 60 + 2775 + 45);
}

TEST(BrowseLayout, ColumnLayoutKeepsAMarginAboveTheStatusBarAndAboveTheBottom) {
    for (bool status : {true, false}) {
        SCOPED_TRACE(status ? "status bar shown" : "status bar hidden");
        BrowseGeometry g;
        g.status_visible = status;
        ArrangeWhole(g, 10035, 6300);
        ArrangeColumns(g, 4000);
        const double bottom = status ? 6300 - 300 : 6300;
        EXPECT_EQ(g.TabStrip.height, bottom - 375 - 30);
    }
}

TEST(BrowseLayout, ADropThatLeavesNoRoomKeepsTheTabStripsWidth) {
    BrowseGeometry g;
    ArrangeWhole(g, 5000, 6300);
    const double width = g.TabStrip.width;
    ArrangeColumns(g, 4900);  // the tab strip would start beyond the window's right edge
    EXPECT_EQ(g.TabStrip.width, width);
    EXPECT_EQ(g.tvwBase.width, 4900);
}

TEST(BrowseLayout, TwipsAndPixelsAtTheScreensResolution) {
    EXPECT_EQ(ToPixels(1440, 96), 96);
    EXPECT_EQ(ToPixels(15, 96), 1);
    EXPECT_EQ(ToPixels(1680, 120), 140);
    EXPECT_DOUBLE_EQ(ToTwips(96, 96), 1440);
    EXPECT_DOUBLE_EQ(ToTwips(140, 120), 1680);
}

}  // namespace
}  // namespace orba::ui
