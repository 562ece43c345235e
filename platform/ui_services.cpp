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
