// Message boxes and the mouse pointer of a window application: a modal message box over the
// active window, and the wait cursor while the library works.
#pragma once

#include "platform/ui_services.h"

namespace orba::ui {

class QtUiService : public platform::UiService {
public:
    platform::MessageResult ShowMessage(std::string_view text, std::string_view title, platform::MessageIcon icon,
                                        platform::MessageButtons buttons) override;
    void SetMousePointer(platform::MousePointer pointer) override;
    platform::MousePointer GetMousePointer() const override { return pointer_; }

private:
    platform::MousePointer pointer_ = platform::MousePointer::kDefault;
};

}  // namespace orba::ui
