// The entry point of the host kit's window module: makes its components by identifier and
// shows the assistant's notices as boxes, for the host kit that loads it.
#include <type_traits>

#include "hostkit/windows/assistant_box.h"
#include "hostkit/windows/bill_viewer.h"
#include "hostkit/windows/list_control.h"
#include "hostkit/windows/window_components.h"

namespace orba::hostkit {
namespace {

platform::Ref<platform::Object> Create(std::string_view prog_id) {
    if (prog_id == kListControlProgId) return platform::Ref<platform::Object>(platform::MakeRef<ListControl>());
    if (prog_id == kBillViewerProgId) return platform::Ref<platform::Object>(platform::MakeRef<BillViewer>());
    return {};
}

const HostKitWindowEntries kEntries{&Create, &PresentNoteInBox};

}  // namespace
}  // namespace orba::hostkit

extern "C" __attribute__((visibility("default"))) const orba::hostkit::HostKitWindowEntries* OrbaHostKitWindowEntries() {
    return &orba::hostkit::kEntries;
}

static_assert(std::is_same_v<decltype(&OrbaHostKitWindowEntries), orba::hostkit::HostKitWindowsEntryFn>,
              "the entry point has the type the host kit calls it by");
