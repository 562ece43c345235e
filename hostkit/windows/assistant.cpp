#include "hostkit/windows/assistant.h"

#include <cstdio>
#include <mutex>

#include "hostkit/windows/window_components.h"

namespace orba::hostkit {

namespace {

std::mutex g_presenter_mutex;
AssistantPresenter g_presenter;  // empty: the default presenter

void DefaultPresenter(const AssistantNote& note) {
    if (PresentNoteInWindow(note)) return;
    std::fprintf(stderr, "%s: %s\n", note.heading.c_str(), AssistantNoteText(note).c_str());
}

}  // namespace

std::string AssistantNoteText(const AssistantNote& note) {
    std::string text = note.description;
    for (const std::string& line : note.lines) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    return text;
}

void PresentAssistantNote(const AssistantNote& note) {
    AssistantPresenter presenter;
    {
        std::lock_guard lock(g_presenter_mutex);
        presenter = g_presenter;
    }
    if (presenter) {
        presenter(note);
    } else {
        DefaultPresenter(note);
    }
}

AssistantPresenter InstallAssistantPresenter(AssistantPresenter presenter) {
    std::lock_guard lock(g_presenter_mutex);
    std::swap(g_presenter, presenter);
    return presenter;
}

ScopedAssistantRecorder::ScopedAssistantRecorder()
    : previous_(InstallAssistantPresenter([this](const AssistantNote& note) { notes_.push_back(note); })) {}

ScopedAssistantRecorder::~ScopedAssistantRecorder() { InstallAssistantPresenter(std::move(previous_)); }

const platform::MemberTable<Assistant>& Assistant::Members() {
    static const platform::MemberTable<Assistant> table = [] {
        using platform::CallArgs;
        using platform::Variant;
        platform::MemberTable<Assistant> t("Assistant");
        t.Get("Heading", 0, 0, [](Assistant& s, CallArgs&) { return Variant(s.note_.heading); });
        t.Let("Heading", 0, 0, [](Assistant& s, CallArgs& a) {
            s.note_.heading = a.Assigned().ToText();
            return Variant();
        });
        t.Get("Description", 0, 0, [](Assistant& s, CallArgs&) { return Variant(s.note_.description); });
        t.Let("Description", 0, 0, [](Assistant& s, CallArgs& a) {
            s.note_.description = a.Assigned().ToText();
            return Variant();
        });
        t.Method("Add", 1, 1, [](Assistant& s, CallArgs& a) {
            s.note_.lines.push_back(a.Text(0));
            return Variant();
        });
        t.Method("Show", 0, 1, [](Assistant& s, CallArgs&) {
            PresentAssistantNote(s.note_);
            return Variant();
        });
        return t;
    }();
    return table;
}

}  // namespace orba::hostkit
