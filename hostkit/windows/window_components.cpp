#include "hostkit/windows/window_components.h"

#include <dlfcn.h>

#include "platform/error.h"
#include "platform/module_dir.h"

namespace orba::hostkit {
namespace {

constexpr std::string_view kWhat = "The host kit's window module";
// Loaded in every process that runs a window application; the module is needed only then.
constexpr const char* kWindowToolkitLibrary = "libQt6Widgets.so.6";

// Loaded once, on first use, by whichever thread comes first; a failure is reported again
// at every later attempt (a static whose initialisation throws is initialised next time).
const HostKitWindowEntries& WindowModule() {
    static const HostKitWindowEntries* const entries = [] {
        void* module = platform::LoadModuleBeside(reinterpret_cast<const void*>(&HostKitWindowModuleFileName),
                                                  HostKitWindowModuleFileName(), kWhat);
        return reinterpret_cast<HostKitWindowsEntryFn>(platform::ModuleSymbol(module, kHostKitWindowsEntry, kWhat))();
    }();
    return *entries;
}

bool WindowToolkitLoaded() {
    void* toolkit = dlopen(kWindowToolkitLibrary, RTLD_LAZY | RTLD_NOLOAD);
    if (toolkit == nullptr) return false;
    dlclose(toolkit);
    return true;
}

}  // namespace

const char* HostKitWindowModuleFileName() { return ORBA_HOSTKIT_WINDOW_MODULE; }

platform::Ref<platform::Object> CreateWindowComponent(std::string_view prog_id) {
    platform::Ref<platform::Object> made = WindowModule().create(prog_id);
    if (!made) {
        throw platform::Error(platform::ErrorCode::kCannotCreateObject,
                              std::string(kWhat) + " has no class '" + std::string(prog_id) + "'");
    }
    return made;
}

bool PresentNoteInWindow(const AssistantNote& note) {
    if (!WindowToolkitLoaded()) return false;
    try {
        return WindowModule().present_note(note);
    } catch (const platform::Error&) {
        return false;  // without its module the notice still reaches standard error
    }
}

}  // namespace orba::hostkit
