// The entry point of the window module: what the facade calls to open a window, found by
// name when the facade loads this module on the first window a process needs.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <unistd.h>

#include <memory>
#include <type_traits>

#include "facade/browse_entry.h"
#include "platform/ui_services.h"
#include "ui/browse/frm_browse_base.h"
#include "ui/qt_ui_service.h"

namespace orba::ui {
namespace {

// Qt wants a private folder for its runtime files; where the session names none (a service,
// a remote shell) one is made in the temporary folder, as Qt would, without its warning.
void EnsureRuntimeFolder() {
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) return;
    const QString folder = QDir::tempPath() + QStringLiteral("/runtime-%1").arg(getuid());
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", folder.toLocal8Bit());
}

void RunInWindowApplication(const std::function<void()>& body) {
    static int argc = 1;
    static char name[] = "orbabt";
    static char* argv[] = {name, nullptr};
    // A host that already runs a window application (a test, say) keeps its own, with its
    // own translations.
    std::unique_ptr<QApplication> app;
    QTranslator standard_texts;
    if (!QApplication::instance()) {
        EnsureRuntimeFolder();
        app = std::make_unique<QApplication>(argc, argv);
        // Qt's own texts (the buttons of a message box, say) in the user's language.
        if (standard_texts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                                QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            app->installTranslator(&standard_texts);
        }
    }
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
