#include "facade/browse_entry.h"

#include "platform/error.h"

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

}  // namespace

int32_t BrowseMode() { return g_browse_mode; }
void SetBrowseMode(int32_t mode) { g_browse_mode = mode; }

platform::Ref<host::VariantVector> SelectionResult() { return Result(); }
void SetSelectionResult(platform::Ref<host::VariantVector> result) { Result() = std::move(result); }

BrowseWindowRunner SetBrowseWindowRunner(BrowseWindowRunner runner) {
    std::swap(Runner(), runner);
    return runner;
}

void RunBrowseWindow() {
    BrowseWindowRunner runner = Runner();
    if (!runner) {
        throw platform::Error(platform::ErrorCode::kCannotCreateObject, "The browse window is not available in this process");
    }
    runner();
}

}  // namespace orba::facade
