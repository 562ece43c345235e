// Message boxes and the mouse pointer go through one replaceable service: a window
// application installs a real one, the command-line host prints to standard error, and
// tests install a recorder so that nothing ever waits for a user.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orba::platform {

enum class MessageIcon : int32_t { kNone = 0, kCritical = 16, kQuestion = 32, kExclamation = 48, kInformation = 64 };
enum class MessageButtons : int32_t { kOk = 0, kOkCancel = 1, kYesNoCancel = 3, kYesNo = 4 };
enum class MessageResult : int32_t { kOk = 1, kCancel = 2, kYes = 6, kNo = 7 };
enum class MousePointer : int32_t { kDefault = 0, kHourglass = 11 };

class UiService {
public:
    virtual ~UiService() = default;
    virtual MessageResult ShowMessage(std::string_view text, std::string_view title, MessageIcon icon,
                                      MessageButtons buttons) = 0;
    virtual void SetMousePointer(MousePointer pointer) = 0;
    virtual MousePointer GetMousePointer() const = 0;
};

// Prints "title: text" on standard error and answers OK; keeps the pointer as a value.
class ConsoleUiService : public UiService {
public:
    MessageResult ShowMessage(std::string_view text, std::string_view title, MessageIcon icon,
                              MessageButtons buttons) override;
    void SetMousePointer(MousePointer pointer) override { pointer_ = pointer; }
    MousePointer GetMousePointer() const override { return pointer_; }

private:
    MousePointer pointer_ = MousePointer::kDefault;
};

// Keeps every message and pointer change for a test to inspect; answers OK.
class RecordingUiService : public UiService {
public:
    struct Message {
        std::string text;
        std::string title;
        MessageIcon icon;
        MessageButtons buttons;
    };

    MessageResult ShowMessage(std::string_view text, std::string_view title, MessageIcon icon,
                              MessageButtons buttons) override;
    void SetMousePointer(MousePointer pointer) override;
    MousePointer GetMousePointer() const override;

    std::vector<Message> Messages() const;
    std::vector<MousePointer> PointerChanges() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::vector<MousePointer> pointers_;
    MousePointer pointer_ = MousePointer::kDefault;
};

// The service in use; a console service until one is installed.
std::shared_ptr<UiService> Ui();
// Installs a service and returns the one it replaces.
std::shared_ptr<UiService> InstallUiService(std::shared_ptr<UiService> service);

// Installs a service for the lifetime of the guard.
class ScopedUiService {
public:
    explicit ScopedUiService(std::shared_ptr<UiService> service) : previous_(InstallUiService(std::move(service))) {}
    ~ScopedUiService() { InstallUiService(std::move(previous_)); }
    ScopedUiService(const ScopedUiService&) = delete;
    ScopedUiService& operator=(const ScopedUiService&) = delete;

private:
    std::shared_ptr<UiService> previous_;
};

// Watches the message boxes shown on the calling thread while it lives, each still shown by
// the installed service: an operation that traps its failure shows one, so a caller that
// watches learns of the failure as a value instead of counting what a service printed. Other
// threads' messages are not seen. Watches nest; each sees the messages shown in its lifetime.
class MessageWatch {
public:
    MessageWatch();
    ~MessageWatch();
    MessageWatch(const MessageWatch&) = delete;
    MessageWatch& operator=(const MessageWatch&) = delete;

    int Count() const;
    // The texts shown, in order.
    std::vector<std::string> Texts() const;

    class Forwarder;  // how a watch sees the messages: no part of its interface

private:
    std::shared_ptr<Forwarder> forwarder_;
};

// The message box every user-facing operation shows on failure: information icon, OK.
void ShowInfoMessage(std::string_view text, std::string_view title);

}  // namespace orba::platform
