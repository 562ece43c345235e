// The browse window's hand-over to the bill viewer: the members a viewer receives, in order,
// for the activated grid, and a viewer that refuses one.
#include <gtest/gtest.h>

#include "browse_window_fixture.h"
#include "support/fake_component.h"

namespace orba::ui {
namespace {

using namespace browse_test;
using testing::FakeComponent;

// A stand-in bill viewer that records what reaches it.
class ViewerTest : public BrowseWindowTest {
protected:
    ViewerTest() : viewer_("OrbaBills.Bills", MakeRef<FakeComponent>("Bills")) {
        for (const char* m : {"LocalCnn", "ListRecordset", "NewBillTransType", "SystemName", "ListRSFieldVect",
                              "ShowForModeExt", "SetOpt", "TheSaleMode", "Show"}) {
            viewer_->On(m, [this, m](std::span<Variant> args) -> Variant {
                if (std::string_view(m) == "ListRecordset") {
                    shown_id_ = platform::GetProperty(args.back().ToObject(), "Fields", {Variant("FInterID")})
                                    .Resolved()
                                    .ToLong();
                }
                return {};
            });
        }
    }
    testing::ScopedFakeComponent viewer_;
    int32_t shown_id_ = 0;
};

TEST_F(ViewerTest, TheViewerReceivesItsMembersInOrderForTheActivatedGrid) {
    const auto ret = Bills(82, 2);
    auto w = Open(0);
    Ref<platform::RecordSet> empty = w->GetListRS(2);
    EXPECT_TRUE(empty->IsOpen());
    EXPECT_EQ(empty->RecordCount(), 0);
    Load(*w, 2, ret);
    w->ldgBill(2)->Activate(1);  // the header row: nothing happens
    EXPECT_TRUE(viewer_->Calls().empty());

    w->ldgBill(2)->selectRow(1);
    w->ldgBill(2)->Activate(3);
    const auto& calls = viewer_->Calls();
    std::vector<std::string> members;
    for (const auto& c : calls) members.push_back(c.member);
    ASSERT_EQ(members, (std::vector<std::string>{"LocalCnn", "ListRecordset", "NewBillTransType", "SystemName",
                                                  "ListRSFieldVect", "ShowForModeExt", "SetOpt", "TheSaleMode",
                                                  "Show"}));
    EXPECT_EQ(calls[2].args.back(), Variant("82")) << "the transaction type goes as text";
    EXPECT_EQ(calls[3].args.back(), Variant("SaleIn"));
    auto fields = platform::ObjectAs<VariantVector>(calls[4].args.back());
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->UpperBound(), 2);
    auto first = platform::ObjectAs<VariantDictionary>(fields->Item(1));
    EXPECT_EQ(first->Value("FISPrimary"), Variant(int16_t{1}));
    EXPECT_EQ(first->Value("FColName"), Variant("FInterID"));
    EXPECT_EQ(calls[5].args.back(), Variant(int16_t{2}));
    ASSERT_EQ(calls[6].args.size(), 2u);
    EXPECT_EQ(calls[6].args[0].Type(), VarType::kInteger);
    EXPECT_EQ(calls[6].args[1], Variant("orbabt"));
    EXPECT_EQ(calls[7].args.back(), Variant(int16_t{0}));
    EXPECT_EQ(calls[8].args, (std::vector<Variant>{Variant(int16_t{311}), Variant(int16_t{2})}));
    EXPECT_EQ(shown_id_, ret[1]) << "the record set stands on the activated bill";
    EXPECT_EQ(env_.Ui().PointerChanges(),
              (std::vector<platform::MousePointer>{platform::MousePointer::kHourglass, platform::MousePointer::kDefault}));
}

// The refusal goes to the help assistant, not into a message box, and the pointer comes back.
TEST_F(ViewerTest, AViewerThatRefusesAMemberIsReportedAndThePointerComesBack) {
    viewer_->On("Show", [](std::span<Variant>) -> Variant { throw platform::Error(5, "viewer refused"); });
    testing::ScopedFakeComponent assistant("NimoAssistant.Assistant", MakeRef<FakeComponent>("Assistant"));
    std::string told;
    assistant->On("Description", [&told](std::span<Variant> args) {
        told = args.back().ToText();
        return Variant();
    });
    assistant->On("Show", [](std::span<Variant>) { return Variant(); });
    auto w = Open(0);
    Load(*w, 0, Bills(71, 1));
    env_.Ui().Clear();
    w->ldgBill(0)->selectRow(1);
    w->ldgBill(0)->Activate(2);
    EXPECT_EQ(env_.Ui().GetMousePointer(), platform::MousePointer::kDefault);
    EXPECT_FALSE(told.empty());
    EXPECT_TRUE(env_.Ui().Messages().empty());
}

}  // namespace
}  // namespace orba::ui
