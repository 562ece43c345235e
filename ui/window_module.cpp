// The entry point of the window module: what the facade calls to open a window, found by
// name when the facade loads this module on the first window a process needs.
#include <QApplication>

#include <memory>
#include <type_traits>

#include "facade/browse_entry.h"
#include "platform/ui_services.h"
#include "ui/browse/frm_browse_base.h"
#include "ui/qt_ui_service.h"

namespace orba::ui {
namespace {

void RunInWindowApplication(const std::function<void()>& body) {
    static int argc = 1;
    static char name[] = "orbabt";
    static char* argv[] = {name, nullptr};
    // A host that already runs a window application (a test, say) keeps its own.
    std::unique_ptr<QApplication> app;
    if (!QApplication::instance()) app = std::make_unique<QApplication>(argc, argv);
    platform::ScopedUiService window_messages(std::make_shared<QtUiService>());
    body();
}

const facade::WindowModuleEntries kEntries{&ShowBrowseWindow, &RunInWindowApplication};

}  // namespace
}  // namespace orba::ui

extern "C" __attribute__((visibility("default"))) const orba::facade::WindowModuleEntries* OrbaBillTransmitWindowEntries() {
    return &orba::ui::kEntries;
}

static_assert(std::is_same_v<decltype(&OrbaBillTransmitWindowEntries), orba::facade::WindowModuleEntryFn>,
              "the entry point has the type the facade calls it by");
