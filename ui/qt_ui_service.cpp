#include "ui/qt_ui_service.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/qt_text.h"

namespace orba::ui {
namespace {

QMessageBox::Icon IconOf(platform::MessageIcon icon) {
    switch (icon) {
        case platform::MessageIcon::kCritical: return QMessageBox::Critical;
        case platform::MessageIcon::kQuestion: return QMessageBox::Question;
        case platform::MessageIcon::kExclamation: return QMessageBox::Warning;
        case platform::MessageIcon::kInformation: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ButtonsOf(platform::MessageButtons buttons) {
    switch (buttons) {
        case platform::MessageButtons::kOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case platform::MessageButtons::kYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case platform::MessageButtons::kYesNo: return QMessageBox::Yes | QMessageBox::No;
        default: return QMessageBox::Ok;
    }
}

}  // namespace

platform::MessageResult QtUiService::ShowMessage(std::string_view text, std::string_view title,
                                                 platform::MessageIcon icon, platform::MessageButtons buttons) {
    // The user reads the message with the normal pointer, whatever work is under way.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
    QMessageBox box(IconOf(icon), Q(title), Q(text), ButtonsOf(buttons), QApplication::activeWindow());
    const int answer = box.exec();
    if (waiting) QApplication::restoreOverrideCursor();
    switch (answer) {
        case QMessageBox::Cancel: return platform::MessageResult::kCancel;
        case QMessageBox::Yes: return platform::MessageResult::kYes;
        case QMessageBox::No: return platform::MessageResult::kNo;
        default: return platform::MessageResult::kOk;
    }
}

void QtUiService::SetMousePointer(platform::MousePointer pointer) {
    const bool waiting = pointer_ == platform::MousePointer::kHourglass;
    if (pointer == platform::MousePointer::kHourglass && !waiting) QApplication::setOverrideCursor(Qt::WaitCursor);
    if (pointer != platform::MousePointer::kHourglass && waiting) QApplication::restoreOverrideCursor();
    pointer_ = pointer;
}

}  // namespace orba::ui
