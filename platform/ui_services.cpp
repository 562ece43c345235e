#include "platform/ui_services.h"

#include <iostream>

namespace orba::platform {
namespace {

std::mutex g_service_mutex;

std::shared_ptr<UiService>& Current() {
    static std::shared_ptr<UiService> service = std::make_shared<ConsoleUiService>();
    return service;
}

}  // namespace

// Passes everything on to the service installed when it is called (or to the watch it is
// nested in), keeping the texts of the messages.
class MessageWatch::Forwarder : public UiService {
public:
    explicit Forwarder(std::shared_ptr<Forwarder> outer) : outer_(std::move(outer)) {}
    MessageResult ShowMessage(std::string_view text, std::string_view title, MessageIcon icon,
                              MessageButtons buttons) override {
        texts_.emplace_back(text);
        return Next()->ShowMessage(text, title, icon, buttons);
    }
    void SetMousePointer(MousePointer pointer) override { Next()->SetMousePointer(pointer); }
    MousePointer GetMousePointer() const override { return Next()->GetMousePointer(); }

    std::vector<std::string> texts_;
    std::shared_ptr<Forwarder> outer_;

private:
    std::shared_ptr<UiService> Next() const {
        if (outer_) return outer_;
        std::lock_guard lock(g_service_mutex);
        return Current();
    }
};

namespace {
// The innermost watch of this thread.
thread_local std::shared_ptr<MessageWatch::Forwarder> t_watch;
}  // namespace

MessageWatch::MessageWatch() : forwarder_(std::make_shared<Forwarder>(t_watch)) { t_watch = forwarder_; }

MessageWatch::~MessageWatch() { t_watch = forwarder_->outer_; }

int MessageWatch::Count() const { return static_cast<int>(forwarder_->texts_.size()); }

std::vector<std::string> MessageWatch::Texts() const { return forwarder_->texts_; }

MessageResult ConsoleUiService::ShowMessage(std::string_view text, std::string_view title, MessageIcon,
                                            MessageButtons) {
    std::cerr << title << ": " << text << std::endl;
    return MessageResult::kOk;
}

MessageResult RecordingUiService::ShowMessage(std::string_view text, std::string_view title, MessageIcon icon,
                                              MessageButtons buttons) {
    std::lock_guard lock(mutex_);
    messages_.push_back(Message{std::string(text), std::string(title), icon, buttons});
    return MessageResult::kOk;
}

void RecordingUiService::SetMousePointer(MousePointer pointer) {
    std::lock_guard lock(mutex_);
    pointer_ = pointer;
    pointers_.push_back(pointer);
}

MousePointer RecordingUiService::GetMousePointer() const {
    std::lock_guard lock(mutex_);
    return pointer_;
}

std::vector<RecordingUiService::Message> RecordingUiService::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<MousePointer> RecordingUiService::PointerChanges() const {
    std::lock_guard lock(mutex_);
    return pointers_;
}

void RecordingUiService::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
    pointers_.clear();
}

std::shared_ptr<UiService> Ui() {
    if (t_watch) return t_watch;
    std::lock_guard lock(g_service_mutex);
    return Current();
}

std::shared_ptr<UiService> InstallUiService(std::shared_ptr<UiService> service) {
    std::lock_guard lock(g_service_mutex);
    if (!service) service = std::make_shared<ConsoleUiService>();
    std::swap(Current(), service);
    return service;
}

void ShowInfoMessage(std::string_view text, std::string_view title) {
    Ui()->ShowMessage(text, title, MessageIcon::kInformation, MessageButtons::kOk);
}

}  // namespace orba::platform
