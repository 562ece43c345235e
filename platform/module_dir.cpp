#include "platform/module_dir.h"

#include <dlfcn.h>

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

}  // namespace orba::platform
