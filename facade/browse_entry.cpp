#include "facade/browse_entry.h"

#include "platform/error.h"
#include "platform/module_dir.h"

namespace orba::facade {
namespace {

// Plain values: the window and the facade run on the host's one user-interface thread.
int32_t g_browse_mode = 0;

platform::Ref<host::VariantVector>& Result() {
    static platform::Ref<host::VariantVector> result;
    return result;
}

BrowseWindowRunner& Runner() {
    static BrowseWindowRunner runner;
    return runner;
}

constexpr std::string_view kWindowModuleWhat = "The window module";

// Loaded once, on first use, by whichever thread comes first; a failure is reported again
// at every later attempt (a static whose initialisation throws is initialised next time).
const WindowModuleEntries& WindowModule() {
    static const WindowModuleEntries* const entries = [] {
        void* module = platform::LoadModuleBeside(reinterpret_cast<const void*>(&WindowModuleFileName),
                                                  WindowModuleFileName(), kWindowModuleWhat);
        return reinterpret_cast<WindowModuleEntryFn>(
            platform::ModuleSymbol(module, kWindowModuleEntry, kWindowModuleWhat))();
    }();
    return *entries;
}

}  // namespace

const char* WindowModuleFileName() { return ORBA_WINDOW_MODULE; }

int32_t BrowseMode() { return g_browse_mode; }
void SetBrowseMode(int32_t mode) { g_browse_mode = mode; }

platform::Ref<host::VariantVector> SelectionResult() { return Result(); }
void SetSelectionResult(platform::Ref<host::VariantVector> result) { Result() = std::move(result); }

namespace {
std::vector<std::string>& NotFound() {
    static std::vector<std::string> bills;
    return bills;
}
}  // namespace

std::vector<std::string> BillsNotFound() { return NotFound(); }
void SetBillsNotFound(std::vector<std::string> bills) { NotFound() = std::move(bills); }

BrowseWindowRunner SetBrowseWindowRunner(BrowseWindowRunner runner) {
    std::swap(Runner(), runner);
    return runner;
}

void RunBrowseWindow() {
    BrowseWindowRunner runner = Runner();
    if (runner) {
        runner();
        return;
    }
    WindowModule().show_browse_window();
}

void RunInWindowApplication(const std::function<void()>& body) { WindowModule().run_in_window_application(body); }

}  // namespace orba::facade
