// Finding the directory of the shared library that holds a symbol.
#include "platform/module_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/error.h"
#include "platform/variant.h"

namespace orba::platform {
namespace {

TEST(ModuleDirectory, IsWhereTheRuntimeLibraryLies) {
    // The build puts every library beside the test programs.
    const auto exe_dir = std::filesystem::canonical("/proc/self/exe").parent_path();
    const auto dir = ModuleDirectory(reinterpret_cast<const void*>(&Val));
    EXPECT_EQ(dir, exe_dir);
    EXPECT_TRUE(std::filesystem::is_directory(dir));
}

TEST(ModuleDirectory, AnAddressOutsideEveryModuleIsAnError) {
    try {
        ModuleDirectory(nullptr);
        ADD_FAILURE() << "found a module for a null address";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), ErrorCode::kFileNotFound);
    }
}

}  // namespace
}  // namespace orba::platform
