#include "hostkit/windows/assistant_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

namespace orba::hostkit {

bool PresentNoteInBox(const AssistantNote& note) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(note.heading),
                                QString::fromStdString(AssistantNoteText(note)), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return true;
}

}  // namespace orba::hostkit
