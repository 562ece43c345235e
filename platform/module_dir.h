// Where a component's shared library lies on disk: files that belong beside the component
// (its transmission log folder, for one) are placed relative to it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orba::platform {

// The directory of the shared library (or program) that contains `symbol`. Raises an Error
// when the address belongs to no loaded module.
std::filesystem::path ModuleDirectory(const void* symbol);

// Opens the shared library `file` (a path, or a name the loader looks for in its folders),
// its symbols resolved now and kept to itself; nullptr when it cannot be loaded, with
// `reason` the loader's reason (without the file's name it starts with). The library stays
// loaded for the rest of the process.
void* OpenSharedLibrary(const std::string& file, std::string& reason);

// Loads the shared library `file_name` that lies beside the module containing `symbol` (a
// part built apart so that processes which never need it do not load it) and returns its
// handle; loading it again returns the same handle. The library stays loaded for the rest
// of the process. Raises an Error naming `what`, the file and the loader's reason when it
// cannot be loaded.
void* LoadModuleBeside(const void* symbol, std::string_view file_name, std::string_view what);

// The address of `name` in a module loaded by LoadModuleBeside; raises an Error naming
// `what` when the module lacks it.
void* ModuleSymbol(void* module, const char* name, std::string_view what);

}  // namespace orba::platform
