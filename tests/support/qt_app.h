// Widget tests need one QApplication for the whole test program; it runs on the offscreen
// platform the test registration sets.
#pragma once

#include <QApplication>

namespace orba::testing {

inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "orba_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = QApplication::instance() ? static_cast<QApplication*>(QApplication::instance())
                                                        : new QApplication(argc, argv);
    return *app;
}

}  // namespace orba::testing
