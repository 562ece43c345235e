// The entry point of the host kit's window module: makes its components by identifier and
// shows the assistant's notices as boxes, for the host kit that loads it.
#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <type_traits>

#include "hostkit/assistant.h"
#include "hostkit/bill_viewer.h"
#include "hostkit/list_control.h"
#include "hostkit/window_components.h"

namespace orba::hostkit {
namespace {

platform::Ref<platform::Object> Create(std::string_view prog_id) {
    if (prog_id == kListControlProgId) return platform::Ref<platform::Object>(platform::MakeRef<ListControl>());
    if (prog_id == kBillViewerProgId) return platform::Ref<platform::Object>(platform::MakeRef<BillViewer>());
    return {};
}

bool PresentNote(const AssistantNote& note) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(note.heading),
                                QString::fromStdString(AssistantNoteText(note)), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return true;
}

const HostKitWindowEntries kEntries{&Create, &PresentNote};

}  // namespace
}  // namespace orba::hostkit

extern "C" __attribute__((visibility("default"))) const orba::hostkit::HostKitWindowEntries* OrbaHostKitWindowEntries() {
    return &orba::hostkit::kEntries;
}

static_assert(std::is_same_v<decltype(&OrbaHostKitWindowEntries), orba::hostkit::HostKitWindowsEntryFn>,
              "the entry point has the type the host kit calls it by");
