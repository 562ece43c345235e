// The host's help assistant: a heading, a description and extra lines, shown as a notice
// that does not stop the caller. A window application shows it as a non-modal box, the
// command-line host prints it on standard error, and tests record it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"

namespace orba::hostkit {

inline constexpr std::string_view kAssistantProgId = "NimoAssistant.Assistant";
inline constexpr std::string_view kAssistantDefaultHeading = "提示";

struct AssistantNote {
    std::string heading;
    std::string description;
    std::vector<std::string> lines;
};

// The body of a notice: the description, then each added line, one per line.
std::string AssistantNoteText(const AssistantNote& note);

using AssistantPresenter = std::function<void(const AssistantNote&)>;

// Shows a notice the way this process can: a non-modal box when a Qt widget application
// runs (through the window module), otherwise "heading: text" on standard error.
void PresentAssistantNote(const AssistantNote& note);

// Replaces the presenter (an empty one restores the default); returns the one replaced.
AssistantPresenter InstallAssistantPresenter(AssistantPresenter presenter);

// Records every notice shown during its lifetime instead of showing it.
class ScopedAssistantRecorder {
public:
    ScopedAssistantRecorder();
    ~ScopedAssistantRecorder();
    ScopedAssistantRecorder(const ScopedAssistantRecorder&) = delete;
    ScopedAssistantRecorder& operator=(const ScopedAssistantRecorder&) = delete;
    const std::vector<AssistantNote>& Notes() const { return notes_; }

private:
    std::vector<AssistantNote> notes_;
    AssistantPresenter previous_;
};

// Heading and Description (text properties), Add(line), Show(mode): Show presents what has
// been set so far; the mode is accepted and does not change how the notice looks.
class Assistant : public platform::Dispatchable<Assistant> {
public:
    static const platform::MemberTable<Assistant>& Members();

private:
    AssistantNote note_{std::string(kAssistantDefaultHeading), {}, {}};
};

}  // namespace orba::hostkit
