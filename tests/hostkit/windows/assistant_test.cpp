// The help assistant in a window application: its notice is a box that does not stop the
// caller, with the heading as its title and the added lines under the description.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>

#include "hostkit/hostkit.h"
#include "hostkit/windows/assistant.h"
#include "platform/dispatch.h"
#include "platform/registry.h"
#include "support/qt_app.h"

namespace orba::hostkit {
namespace {

using platform::Variant;

TEST(AssistantInWindowApplication, ShowsANonModalNoticeAndReturns) {
    orba::testing::TestApplication();
    RegisterHostKit();
    auto assistant = platform::CreateObject(kAssistantProgId);
    platform::LetProperty(assistant, "Heading", {}, Variant("Zelto提示"));
    platform::LetProperty(assistant, "Description", {}, Variant("系统初始化失败。"));
    platform::Call(assistant, "Add", {Variant("第一行")});
    platform::Call(assistant, "Add", {Variant("第二行")});
    platform::Call(assistant, "Show", {Variant()});  // returns at once: nothing waits for the user

    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = dynamic_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
    }
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->windowTitle().toStdString(), "Zelto提示");
    EXPECT_EQ(box->text().toStdString(), "系统初始化失败。\n第一行\n第二行");
    box->close();
}

}  // namespace
}  // namespace orba::hostkit
