// The replaceable message box and mouse pointer service.
#include "platform/ui_services.h"

#include <gtest/gtest.h>

#include "tests/support/recording_ui.h"

namespace orba::platform {
namespace {

TEST(UiService, RecorderKeepsMessagesAndPointerChanges) {
    auto recorder = std::make_shared<RecordingUiService>();
    ScopedUiService scope(recorder);
    ShowInfoMessage("Packaging failed: no bills", "Zelto提示");
    EXPECT_EQ(Ui()->ShowMessage("Sure?", "Ask", MessageIcon::kQuestion, MessageButtons::kYesNo),
              MessageResult::kOk);
    Ui()->SetMousePointer(MousePointer::kHourglass);
    Ui()->SetMousePointer(MousePointer::kDefault);

    const auto messages = recorder->Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Packaging failed: no bills");
    EXPECT_EQ(messages[0].title, "Zelto提示");
    EXPECT_EQ(messages[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(messages[0].buttons, MessageButtons::kOk);
    EXPECT_EQ(messages[1].icon, MessageIcon::kQuestion);
    EXPECT_EQ(recorder->PointerChanges(),
              (std::vector<MousePointer>{MousePointer::kHourglass, MousePointer::kDefault}));
    EXPECT_EQ(recorder->GetMousePointer(), MousePointer::kDefault);
    recorder->Clear();
    EXPECT_TRUE(recorder->Messages().empty());
    EXPECT_TRUE(recorder->PointerChanges().empty());
}

TEST(UiService, ScopesRestoreTheServiceTheyReplaced) {
    const std::shared_ptr<UiService> original = Ui();
    {
        testing::ScopedRecordingUi outer;
        EXPECT_EQ(Ui().get(), &*outer);
        {
            testing::ScopedRecordingUi inner;
            ShowInfoMessage("inner", "t");
            EXPECT_EQ(inner->Messages().size(), 1u);
        }
        EXPECT_EQ(Ui().get(), &*outer);
        EXPECT_TRUE(outer->Messages().empty());
    }
    EXPECT_EQ(Ui(), original);
}

}  // namespace
}  // namespace orba::platform
