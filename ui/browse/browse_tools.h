// The browse window's menu bar and toolbar as one table: five bands, each with its tools
// (name, caption, category, help text). The window builds its menus and its toolbar from
// it; a tool name is what a click dispatches on, whichever copy of the tool was clicked.
#pragma once

#include <span>
#include <string_view>

namespace orba::ui {

enum class BandKind { kMenuBar, kDropDown, kToolBar };

struct BandDef {
    std::string_view name;
    std::string_view caption;
    BandKind kind;
};

struct ToolDef {
    std::string_view band;
    std::string_view name;
    std::string_view caption;
    std::string_view category;
    std::string_view help;   // tool tip and status text; empty when the tool has none
    std::string_view opens;  // a menu-bar tool: the drop-down band it opens
    bool checked = false;
};

namespace tool {
inline constexpr std::string_view kFileSend = "mnuFileSend";
inline constexpr std::string_view kFileDownLoad = "mnuFileDownLoad";
inline constexpr std::string_view kFileFilter = "mnuFileFilter";
inline constexpr std::string_view kFileExit = "mnuFileExit";
}  // namespace tool

namespace band {
inline constexpr std::string_view kMain = "mnuMain";
inline constexpr std::string_view kFile = "mnuFile";
inline constexpr std::string_view kView = "mnuView";
inline constexpr std::string_view kHelp = "mnuHelp";
inline constexpr std::string_view kToolBar = "ToolBar";
}  // namespace band

std::span<const BandDef> BrowseBands();
// Every tool of every band, band by band in the order of BrowseBands.
std::span<const ToolDef> BrowseTools();

}  // namespace orba::ui
