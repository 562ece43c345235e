#include "host/modpub.h"

#include <fmt/format.h>

#include <array>
#include <optional>

#include "platform/db_connection.h"
#include "platform/dispatch.h"
#include "platform/error.h"
#include "platform/module_dir.h"
#include "platform/registry.h"

namespace orba::host {

using platform::Error;
using platform::ErrorCode;
using platform::Variant;
namespace fs = std::filesystem;

namespace {

// Where this component's file lies; the utility library derives the system directory from it.
std::string ComponentDirectory() {
    return platform::ModuleDirectory(reinterpret_cast<const void*>(&GetLocalCnn)).string();
}

// The opened connection's own string, or nothing when the provider is missing or refuses.
std::optional<std::string> TryOpen(std::string_view head, const std::string& path) {
    try {
        auto connection = platform::MakeRef<platform::DbConnection>();
        connection->Open(fmt::format("{}{};", head, path), "", "");
        return connection->ConnectionString();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void ShowOpenFailure(const std::string& path) {
    platform::Ref<platform::Object> assistant = platform::CreateObject(kAssistantProgId);
    platform::LetProperty(assistant, "Heading", {}, Variant(kOpenFailHeading));
    platform::LetProperty(assistant, "Description", {}, Variant(kOpenFailDescription));
    platform::Call(assistant, "Add", {Variant(fmt::format("{}{}{}", kOpenFailLineHead, path, kOpenFailLineTail))});
    platform::Call(assistant, "Add", {Variant(kOpenFailAdvice)});
    std::array<Variant, 1> by_reference{Variant()};
    platform::CallByName(assistant, "Show", platform::CallKind::kMethod, by_reference);
}

}  // namespace

bool IsPlainVisibleFile(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::is_regular_file(status)) return false;
    const std::string name = path.filename().string();
    return !name.empty() && name.front() != '.';
}

bool IsReadOnlyFile(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        throw Error(ErrorCode::kFileNotFound, fmt::format("File not found: '{}'", path.string()));
    }
    return (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

void ClearReadOnly(const fs::path& path) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    if (ec) {
        throw Error(ErrorCode::kIoError, fmt::format("Cannot make '{}' writable: {}", path.string(), ec.message()));
    }
}

std::string GetLocalCnn(const Variant& path) {
    std::string chosen;
    if (!path.IsEmpty()) {
        chosen = path.ToText();
    } else {
        platform::Ref<platform::Object> app = platform::CreateObject(kUtilityAppProgId);
        const std::string dir = platform::Call(app, "GetSystemDir", {Variant(ComponentDirectory())}).ToText();
        for (const std::string& candidate :
             {fmt::format("{}{}", dir, kLocalDbFileName), fmt::format("{}{}{}", dir, kLocalDbSubfolder, kLocalDbFileName)}) {
            if (IsPlainVisibleFile(candidate)) {
                chosen = candidate;
                break;
            }
        }
        if (chosen.empty()) return {};
    }
    if (IsReadOnlyFile(chosen)) ClearReadOnly(chosen);
    return OpenLocalCnn(chosen);
}

std::string OpenLocalCnn(const std::string& path) {
    if (auto cnn = TryOpen(kJet351Head, path)) return *cnn;
    if (auto cnn = TryOpen(kJet40Head, path)) return *cnn;
    try {
        ShowOpenFailure(path);
    } catch (const std::exception&) {
        // The notice is a courtesy: a missing assistant must not turn the empty result into
        // a failure of the caller.
    }
    return {};
}

void ShowAssistantNote(const std::string& text) {
    platform::Ref<platform::Object> assistant = platform::CreateObject(kAssistantProgId);
    platform::LetProperty(assistant, "Description", {}, Variant(text));
    platform::Call(assistant, "Show", {Variant(int16_t{0})});
}

}  // namespace orba::host
