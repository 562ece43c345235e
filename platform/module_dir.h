// Where a component's shared library lies on disk: files that belong beside the component
// (its transmission log folder, for one) are placed relative to it.
#pragma once

#include <filesystem>

namespace orba::platform {

// The directory of the shared library (or program) that contains `symbol`. Raises an Error
// when the address belongs to no loaded module.
std::filesystem::path ModuleDirectory(const void* symbol);

}  // namespace orba::platform
