// A component with a window of its own: a form places the control's widget in its client
// area and receives the control's events, which the control raises as calls by name (the
// event's name, its arguments by reference) on the one sink the form connects.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/object.h"

class QWidget;

namespace orba::platform {

// Forms and controls place and size each other in twips (1/1440 inch); these convert at a
// resolution in dots per inch, to the nearest pixel, without overflow (results clamped to
// the 32-bit range; a resolution of 0 counts 15 twips to the pixel).
inline constexpr int kTwipsPerInch = 1440;

inline int32_t ClampToInt32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

inline int TwipsToPixels(int twips, int dpi) {
    return dpi > 0 ? ClampToInt32((int64_t{twips} * dpi + kTwipsPerInch / 2) / kTwipsPerInch)
                   : ClampToInt32((int64_t{twips} + 7) / 15);
}

inline int PixelsToTwips(int pixels, int dpi) {
    return dpi > 0 ? ClampToInt32(int64_t{pixels} * kTwipsPerInch / dpi) : ClampToInt32(int64_t{pixels} * 15);
}

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
