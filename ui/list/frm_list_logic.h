// What the list selection dialog decides without needing a widget: its caption, what a
// command name does, how a client-area size reaches the control, and the twips arithmetic.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/variant.h"
#include "platform/visual_control.h"

namespace orba::ui {

inline constexpr std::string_view kListControlProgId = "OrbaList.Rilvo";
inline constexpr std::string_view kCaptionTail = "序时薄";
inline constexpr std::string_view kCommandSelectOk = "SelectOK";
inline constexpr std::string_view kCommandExit = "Exit";
inline constexpr int kInitialClientWidthTwips = 6690;
inline constexpr int kInitialClientHeightTwips = 5070;
inline constexpr std::string_view kControlFontFamily = "宋体";
inline constexpr int kControlFontPoints = 9;

// The control's members, by the role the dialog gives them.
namespace list_member {
inline constexpr std::string_view kStartUp = "StartUp";
inline constexpr std::string_view kPrepare = "PrepareList";
inline constexpr std::string_view kLoad = "LoadList";
inline constexpr std::string_view kListInfo = "ListInfo";
inline constexpr std::string_view kSelection = "GetSelected";
inline constexpr std::string_view kConfirmable = "CanConfirm";
inline constexpr std::string_view kRelease = "Release";
inline constexpr std::string_view kCommandEvent = "Command";
}  // namespace list_member

// The caption: the list's name followed directly by "序时薄"; a Null name adds nothing.
std::string ListCaption(const platform::Variant& list_name);

enum class CommandAction { kNone, kConfirmIfPossible, kLeave };
// Names compare exactly, letter case included.
CommandAction ActionForCommand(std::string_view name);

// The OK flag after a command, given the flag before and whether the control's selection
// can be confirmed now; `hide` says whether the dialog goes away.
struct CommandOutcome {
    bool ok;
    bool hide;
};
CommandOutcome ApplyCommand(std::string_view name, bool ok_before, bool confirmable);

// The control's new size for a client area; a side of 0 (minimised) leaves that side alone.
struct ControlSize {
    std::optional<int> width_twips;
    std::optional<int> height_twips;
};
ControlSize ControlSizeFor(int client_width_twips, int client_height_twips);

using platform::PixelsToTwips;
using platform::TwipsToPixels;

}  // namespace orba::ui
