#include "ui/list/frm_list_logic.h"

#include <algorithm>
#include <cstdint>

namespace orba::ui {

std::string ListCaption(const platform::Variant& list_name) {
    std::string caption = list_name.IsNull() || list_name.IsEmpty() ? std::string() : list_name.ToText();
    caption += kCaptionTail;
    return caption;
}

CommandAction ActionForCommand(std::string_view name) {
    if (name == kCommandSelectOk) return CommandAction::kConfirmIfPossible;
    if (name == kCommandExit) return CommandAction::kLeave;
    return CommandAction::kNone;
}

CommandOutcome ApplyCommand(std::string_view name, bool ok_before, bool confirmable) {
    switch (ActionForCommand(name)) {
        case CommandAction::kConfirmIfPossible:
            return confirmable ? CommandOutcome{true, true} : CommandOutcome{ok_before, false};
        case CommandAction::kLeave:
            return {false, true};
        case CommandAction::kNone:
            break;
    }
    return {ok_before, false};
}

ControlSize ControlSizeFor(int client_width_twips, int client_height_twips) {
    ControlSize size;
    if (client_height_twips > 0) size.height_twips = client_height_twips;
    if (client_width_twips > 0) size.width_twips = client_width_twips;
    return size;
}


}  // namespace orba::ui
