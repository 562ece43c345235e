// A component with a window of its own: a form places the control's widget in its client
// area and receives the control's events, which the control raises as calls by name (the
// event's name, its arguments by reference) on the one sink the form connects.
#pragma once

#include "platform/object.h"

class QWidget;

namespace orba::platform {

class VisualControl {
public:
    // The control's widget, or nullptr for a control that shows nothing itself. The
    // control owns it; a form that embeds it gives it back before releasing the control.
    virtual QWidget* Widget() = 0;
    // Connects the object that receives the events; Nothing disconnects.
    virtual void Advise(Ref<Object> sink) = 0;

protected:
    virtual ~VisualControl() = default;
};

}  // namespace orba::platform
