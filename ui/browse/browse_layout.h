// The browse window's geometry in twips (1/1440 inch), kept apart from the widgets: the
// whole-window layout on resize, the splitter drag with its limits and the column layout
// after a drop. The window converts to pixels at the screen's resolution when it applies it.
#pragma once

#include <array>
#include <cstdint>

namespace orba::ui {

struct TwipsRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    double Right() const { return left + width; }
    double Bottom() const { return top + height; }
    friend bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

struct TwipsLine {
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
    friend bool operator==(const TwipsLine&, const TwipsLine&) = default;
};

// The places of the controls that the layout moves, starting at their design places.
struct BrowseGeometry {
    double client_width = 10035;
    double client_height = 6300;
    TwipsRect tvwBase{60, 960, 2730, 5085};
    TwipsRect imgSplitVer{2775, 525, 90, 5385};
    TwipsRect TabStrip{2940, 900, 3555, 3855};
    TwipsRect SSPTitleClass{45, 60, 2730, 315};
    TwipsRect SSPTitleItem{2880, 60, 4815, 315};
    TwipsRect picSplitVer{};
    bool picSplitVer_visible = false;
    std::array<TwipsLine, 2> Line1{TwipsLine{2805, 465, 2805, 5895}, TwipsLine{2820, 465, 2820, 5895}};
    std::array<TwipsLine, 2> Line3{TwipsLine{45, 15, 20045, 15}, TwipsLine{45, 30, 20045, 30}};
    bool status_visible = true;
    double status_height = 300;
    double StatusTop() const { return client_height - status_height; }
};

// The drag limit: the splitter bar stays this far from either edge of the window.
inline constexpr double kSplitterMargin = 1680;

// Lays out the whole window for a client area of `width` × `height` (the window was
// resized). Moves nothing sideways; the tree and the tab strip follow the bottom edge and
// the tab strip the right edge. A size that would come out negative keeps its old value.
void ArrangeWhole(BrowseGeometry& g, double width, double height);

// Re-lays the columns after the splitter was dropped at `x`: the tree gets width `x`, the
// splitter and the tab strip follow it.
void ArrangeColumns(BrowseGeometry& g, double x);

// A press on the splitter handle: the drag bar appears over the handle.
void PressSplitter(BrowseGeometry& g);

// Where the drag bar goes for a mouse at `mouse_x` within the handle; `outer_width` is the
// window's outer width, borders included.
double SplitterBarLeft(const BrowseGeometry& g, double mouse_x, double outer_width);

// A release on the handle, moved or not: the columns follow the drag bar and it hides.
void ReleaseSplitter(BrowseGeometry& g);

// Frame and grid places inside the tab strip's area.
TwipsRect BillFrameRect(const BrowseGeometry& g);
TwipsRect BillGridRect(const TwipsRect& frame);

// Conversions at a resolution in dots per inch (1440 twips an inch), to the nearest pixel.
int32_t ToPixels(double twips, double dpi);
double ToTwips(int32_t pixels, double dpi);

}  // namespace orba::ui
