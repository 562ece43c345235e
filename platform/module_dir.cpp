#include "platform/module_dir.h"

#include <dlfcn.h>
#include <fmt/format.h>

#include <system_error>

#include "platform/error.h"

namespace orba::platform {

std::filesystem::path ModuleDirectory(const void* symbol) {
    Dl_info info{};
    if (dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) {
        throw Error(ErrorCode::kFileNotFound, "The module that holds the given address cannot be found");
    }
    std::error_code ec;
    std::filesystem::path file = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) file = std::filesystem::absolute(info.dli_fname);
    return file.parent_path();
}

void* OpenSharedLibrary(const std::string& file, std::string& reason) {
    // Its own dependencies are loaded with it and resolved now, so a missing one is
    // reported here rather than as a crash at the first call.
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        std::string_view text = error ? error : "the loader gave no reason";
        // The loader's text starts with the file's name, which the caller's message gives.
        const std::string prefix = file + ": ";
        if (text.starts_with(prefix)) text.remove_prefix(prefix.size());
        reason = text;
    }
    return handle;
}

void* LoadModuleBeside(const void* symbol, std::string_view file_name, std::string_view what) {
    const std::filesystem::path file = ModuleDirectory(symbol) / file_name;
    std::string reason;
    void* handle = OpenSharedLibrary(file.string(), reason);
    if (handle == nullptr) {
        throw Error(ErrorCode::kCannotCreateObject,
                    fmt::format("{} cannot be loaded from '{}': {}", what, file.string(), reason));
    }
    return handle;
}

void* ModuleSymbol(void* module, const char* name, std::string_view what) {
    dlerror();
    void* address = dlsym(module, name);
    if (address == nullptr) {
        throw Error(ErrorCode::kCannotCreateObject, fmt::format("{} lacks its entry point '{}'", what, name));
    }
    return address;
}

}  // namespace orba::platform
