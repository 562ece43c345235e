#include "ui/browse/browse_layout.h"

#include <algorithm>
#include <cmath>

namespace orba::ui {
namespace {

constexpr double kMargin = 30;  // between the panes and the window's edges or the status bar
constexpr double kLineGap = 15;  // between the two lines of an etched separator
constexpr double kTwipsInInch = 1440;

// A width or height cannot be negative; a step that would make one so changes nothing,
// and the layout carries on with the next step.
void SetExtent(double& extent, double value) {
    if (value >= 0) extent = value;
}

// The height a pane gets to reach down to the status bar (or the window's bottom edge).
void FitHeight(const BrowseGeometry& g, TwipsRect& pane, double height) {
    if (g.status_visible) {
        if (height - g.status_height - kMargin > pane.top) SetExtent(pane.height, height - pane.top - g.status_height - kMargin);
    } else if (pane.top < height) {
        SetExtent(pane.height, height - pane.top);
    }
}

}  // namespace

void ArrangeWhole(BrowseGeometry& g, double width, double height) {
    g.client_width = width;
    g.client_height = height;
    g.Line3[0].y1 = g.Line3[0].y2 = kLineGap;
    g.Line3[1].y1 = g.Line3[1].y2 = g.Line3[0].y1 + kLineGap;
    g.SSPTitleClass.top = g.SSPTitleItem.top = g.Line3[1].y1 + kMargin;
    g.tvwBase.top = g.TabStrip.top = g.SSPTitleItem.Bottom();
    FitHeight(g, g.tvwBase, height);
    FitHeight(g, g.TabStrip, height);
    if (width - kMargin > g.TabStrip.left) SetExtent(g.TabStrip.width, width - g.TabStrip.left - kMargin);
    for (TwipsLine& line : g.Line1) line.y2 = g.tvwBase.Bottom();
    SetExtent(g.imgSplitVer.height, g.tvwBase.Bottom() - g.imgSplitVer.top);
    SetExtent(g.SSPTitleItem.width, g.TabStrip.width);
}

void ArrangeColumns(BrowseGeometry& g, double x) {
    SetExtent(g.tvwBase.width, x);
    SetExtent(g.SSPTitleClass.width, x);
    g.imgSplitVer.left = g.tvwBase.Right();
    g.TabStrip.left = g.imgSplitVer.Right();
    SetExtent(g.TabStrip.width, g.client_width - g.TabStrip.left - kMargin);
    const double bottom = g.status_visible ? g.StatusTop() : g.client_height;
    SetExtent(g.TabStrip.height, bottom - g.TabStrip.top - kMargin);
    SetExtent(g.SSPTitleItem.width, g.TabStrip.width);
    g.SSPTitleItem.left = g.TabStrip.left;
    g.Line1[0].x1 = g.Line1[0].x2 = g.tvwBase.Right() + kMargin;
    g.Line1[1].x1 = g.Line1[1].x2 = g.Line1[0].x1 + kLineGap;
}

void PressSplitter(BrowseGeometry& g) {
    g.picSplitVer.left = g.imgSplitVer.left;
    g.picSplitVer.top = g.imgSplitVer.top;
    g.picSplitVer.width = std::floor(std::floor(g.imgSplitVer.width) / 2);
    g.picSplitVer.height = g.imgSplitVer.height - 20;
    g.picSplitVer_visible = true;
}

double SplitterBarLeft(const BrowseGeometry& g, double mouse_x, double outer_width) {
    const double p = g.imgSplitVer.left + mouse_x;
    if (p < kSplitterMargin) return kSplitterMargin;
    if (p > outer_width - kSplitterMargin) return outer_width - kSplitterMargin;
    return p;
}

void ReleaseSplitter(BrowseGeometry& g) {
    ArrangeColumns(g, g.picSplitVer.left);
    g.picSplitVer_visible = false;
}

TwipsRect BillFrameRect(const BrowseGeometry& g) {
    return TwipsRect{g.TabStrip.left + 50, g.TabStrip.top + 400, std::max(0.0, g.TabStrip.width - 100),
                     std::max(0.0, g.TabStrip.height - 500)};
}

TwipsRect BillGridRect(const TwipsRect& frame) {
    return TwipsRect{0, 0, std::max(0.0, frame.width - 50), std::max(0.0, frame.height - 50)};
}

int32_t ToPixels(double twips, double dpi) { return static_cast<int32_t>(std::lround(twips * dpi / kTwipsInInch)); }

double ToTwips(int32_t pixels, double dpi) { return pixels * kTwipsInInch / dpi; }

}  // namespace orba::ui
