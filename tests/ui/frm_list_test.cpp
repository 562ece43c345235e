// The list selection dialog, driven with a stand-in list control registered under the
// control's identifier: what reaches the control, and the OK flag through every state.
#include <gtest/gtest.h>

#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "platform/dispatch.h"
#include "platform/error.h"
#include "platform/visual_control.h"
#include "support/fake_component.h"
#include "support/qt_app.h"
#include "ui/list/frm_list.h"
#include "ui/list/frm_list_logic.h"

namespace orba::ui {
namespace {

using platform::CallKind;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;
using platform::VarType;
using testing::FakeComponent;

// A list control without a window of its own that can raise its command event.
class FakeListControl : public FakeComponent, public platform::VisualControl {
public:
    FakeListControl() : FakeComponent("Rilvo") {}
    QWidget* Widget() override { return nullptr; }
    void Advise(Ref<platform::Object> sink) override { sink_ = std::move(sink); }
    void Raise(const std::string& command) {
        std::array<Variant, 2> args{Variant(command), Variant()};
        platform::CallByName(sink_, "Command", CallKind::kMethod, args);
    }
    int CountOf(std::string_view member) const {
        int n = 0;
        for (const auto& c : Calls()) n += platform::EqualsIgnoreCase(c.member, member) ? 1 : 0;
        return n;
    }
    const CallRecord* Last(std::string_view member) const {
        const CallRecord* found = nullptr;
        for (const auto& c : Calls()) {
            if (platform::EqualsIgnoreCase(c.member, member)) found = &c;
        }
        return found;
    }

private:
    Ref<platform::Object> sink_;
};

struct ControlAnswers {
    bool prepare = true;
    bool load = true;
    bool confirmable = true;
};

// A fresh stand-in behind "OrbaList.Rilvo" for every creation, each kept for inspection.
class FrmListTest : public ::testing::Test {
protected:
    FrmListTest()
        : registration_(kListControlProgId, [this] {
              auto c = MakeRef<FakeListControl>();
              Configure(*c);
              created_.push_back(c);
              return Ref<platform::Object>(c);
          }) {
        testing::TestApplication();
    }

    void Configure(FakeListControl& c) {
        for (const char* m : {"Left", "Top", "Width", "Height", "StartUp", "ListShowStatus", "DestBillTransType",
                              "ListID", "TranType", "BaseInfo", "MultiSelect", "CanSelectMultiRow", "Filter",
                              "LocalCnn", "SystemName", "SelectFlag"}) {
            c.On(m, [](std::span<Variant>) { return Variant(); });
        }
        c.On("Release", [this](std::span<Variant>) -> Variant {
            if (release_fails_) throw platform::Error(5, "release refused");
            return {};
        });
        c.On("PrepareList", [this](std::span<Variant>) { return Variant(setup_.prepare); });
        c.On("LoadList", [this](std::span<Variant>) { return Variant(setup_.load); });
        c.On("CanConfirm", [this](std::span<Variant>) { return Variant(setup_.confirmable); });
        c.On("ListInfo", [](std::span<Variant>) {
            auto record = MakeRef<host::VariantDictionary>();
            record->Let("FName", Variant("采购订单"));
            auto list = MakeRef<host::VariantVector>();
            list->Add(Variant(record));
            return Variant(list);
        });
        c.On("GetSelected", [this](std::span<Variant>) { return Variant(selection_); });
    }

    FakeListControl& Control() { return *created_.back(); }

    ControlAnswers setup_;
    bool release_fails_ = false;
    Ref<host::VariantVector> selection_ = MakeRef<host::VariantVector>();
    std::vector<Ref<FakeListControl>> created_;
    platform::ScopedClassRegistration registration_;
};

TEST_F(FrmListTest, SettingsReachTheControlInTheFormsTheControlTakes) {
    FrmList dialog;
    EXPECT_FALSE(dialog.IsLoaded());
    dialog.ListShowStatus(2);
    dialog.DestBillTransType("83");
    dialog.ListID(26);
    dialog.TranType(71);
    dialog.BaseInfo("Data Source=a.db|12|李明");
    dialog.MultiSelect(true);
    dialog.CanSelectMultiRow(true);
    dialog.Filter("v1.FStatus IN (1)");
    dialog.LocalCnn("Provider=P;Data Source=x");
    dialog.SystemName("purchase");
    dialog.SelectFlag(3);
    ASSERT_EQ(created_.size(), 1u) << "one control for the loaded dialog";

    // Loading places the control and sets its start-up switch before any setting arrives.
    const auto& calls = Control().Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0].member, "Left");
    EXPECT_EQ(calls[0].args.back(), Variant(int32_t{0}));
    EXPECT_EQ(calls[1].member, "Top");
    EXPECT_EQ(calls[2].member, "StartUp");
    EXPECT_EQ(calls[2].args.back(), Variant(true));

    struct Expect {
        const char* member;
        Variant value;
    };
    const Expect expected[] = {
        {"ListShowStatus", Variant(int32_t{2})},
        {"DestBillTransType", Variant("83")},
        {"ListID", Variant(int32_t{26})},
        {"TranType", Variant(int32_t{71})},
        {"BaseInfo", Variant("Data Source=a.db|12|李明")},
        {"MultiSelect", Variant(int32_t{-1})},  // a 32-bit number, True being -1
        {"CanSelectMultiRow", Variant(true)},
        {"Filter", Variant("v1.FStatus IN (1)")},
        {"LocalCnn", Variant("Provider=P;Data Source=x")},
        {"SystemName", Variant("purchase")},
        {"SelectFlag", Variant(int32_t{3})},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.member);
        const auto* call = Control().Last(e.member);
        ASSERT_NE(call, nullptr);
        EXPECT_EQ(call->kind, CallKind::kLet);
        ASSERT_EQ(call->args.size(), 1u);
        EXPECT_EQ(call->args[0].Type(), e.value.Type());
        EXPECT_EQ(call->args[0], e.value);
    }
    dialog.MultiSelect(false);
    EXPECT_EQ(Control().Last("MultiSelect")->args[0], Variant(int32_t{0}));
}

// Each row: how the control answers, what happens while the dialog is shown, and what the
// dialog looks like at each step and after the modal show returns.
struct StateCase {
    const char* name;
    ControlAnswers setup;
    std::vector<std::string> steps;  // command names, or "close" for the close box
    std::vector<bool> visible_after_step;
    bool ok_after_show;
    const char* caption;
    bool loaded_after_show;
};

TEST_F(FrmListTest, OkFlagThroughEveryState) {
    const StateCase cases[] = {
        {"confirmed", {}, {"SelectOK"}, {false}, true, "采购订单序时薄", true},
        {"nothing confirmable stays open", {true, true, false}, {"SelectOK", "Exit"}, {true, false}, false,
         "采购订单序时薄", true},
        {"left", {}, {"Exit"}, {false}, false, "采购订单序时薄", true},
        {"other letter case ignored", {}, {"selectok", "EXIT", "Refresh", "SelectOK"}, {true, true, true, false}, true,
         "采购订单序时薄", true},
        {"close box", {}, {"close"}, {false}, false, "采购订单序时薄", false},
        {"preparation fails", {false, true, true}, {}, {}, false, "", false},
        {"loading finds nothing", {true, false, true}, {}, {}, false, "采购订单序时薄", false},
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.name);
        setup_ = c.setup;
        FrmList dialog;
        dialog.InitData();
        EXPECT_EQ(dialog.OK(), c.setup.prepare && c.setup.load);
        EXPECT_EQ(dialog.windowTitle().toStdString(), c.caption);
        FakeListControl& control = Control();
        EXPECT_EQ(control.CountOf("LoadList"), c.setup.prepare ? 1 : 0);

        std::vector<bool> visible;
        std::vector<bool> ok_while_open;
        QTimer::singleShot(0, &dialog, [&] {
            for (const std::string& step : c.steps) {
                if (step == "close") {
                    dialog.close();
                } else {
                    control.Raise(step);
                }
                visible.push_back(dialog.isVisible());
                ok_while_open.push_back(dialog.OK());
            }
            if (dialog.isVisible()) dialog.Unload();  // never leave a test waiting
        });
        dialog.ShowModal();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(visible, c.visible_after_step);
        for (size_t i = 0; i < visible.size(); ++i) {
            if (visible[i]) {
                EXPECT_TRUE(ok_while_open[i]) << "an open dialog stays ready at step " << i;
            }
        }
        EXPECT_EQ(dialog.OK(), c.ok_after_show);
        EXPECT_EQ(dialog.IsLoaded(), c.loaded_after_show);
        EXPECT_EQ(control.CountOf("Release"), c.loaded_after_show ? 0 : 1);
        if (dialog.OK()) {
            EXPECT_EQ(dialog.Selected().Get(), selection_.Get()) << "handed out as is";
        }

        dialog.Unload();
        EXPECT_FALSE(dialog.OK());
        EXPECT_FALSE(dialog.IsLoaded());
        EXPECT_EQ(control.CountOf("Release"), 1);
    }
}

TEST_F(FrmListTest, UnloadedDialogLoadsAgainOnTheNextSetting) {
    FrmList dialog;
    dialog.InitData();
    ASSERT_TRUE(dialog.OK());
    dialog.Unload();
    dialog.Unload();  // a second unload changes nothing and does not fail
    EXPECT_EQ(created_.size(), 1u);
    dialog.ListID(34);
    ASSERT_EQ(created_.size(), 2u);
    EXPECT_FALSE(dialog.OK());
    EXPECT_EQ(Control().Last("ListID")->args[0], Variant(int32_t{34}));
}

TEST_F(FrmListTest, ReleaseFailureStillUnloads) {
    FrmList dialog;
    dialog.InitData();
    release_fails_ = true;
    dialog.Unload();
    EXPECT_EQ(Control().CountOf("Release"), 1);
    EXPECT_FALSE(dialog.IsLoaded());
    EXPECT_FALSE(dialog.OK());
}

TEST_F(FrmListTest, ResizeReachesTheControlExceptForAZeroSide) {
    FrmList dialog;
    dialog.ListID(26);
    struct Case {
        int width, height;
        bool width_set, height_set;
    };
    const Case cases[] = {{400, 300, true, true}, {400, 0, true, false}, {0, 300, false, true}, {0, 0, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const int widths = Control().CountOf("Width");
        const int heights = Control().CountOf("Height");
        dialog.ClientResized(c.width, c.height);
        EXPECT_EQ(Control().CountOf("Width") - widths, c.width_set ? 1 : 0);
        EXPECT_EQ(Control().CountOf("Height") - heights, c.height_set ? 1 : 0);
        if (c.height_set) {
            EXPECT_EQ(Control().Last("Height")->args.back(), Variant(int32_t{PixelsToTwips(c.height, dialog.logicalDpiY())}));
        }
    }
}

TEST(FrmListLogic, CaptionsCommandsAndTwips) {
    EXPECT_EQ(ListCaption(Variant("发货通知单")), "发货通知单序时薄");
    EXPECT_EQ(ListCaption(Variant::Null()), "序时薄");
    struct Case {
        const char* name;
        bool ok_before, confirmable, ok_after, hide;
    };
    const Case cases[] = {
        {"SelectOK", true, true, true, true},   {"SelectOK", true, false, true, false},
        {"Exit", true, false, false, true},     {"exit", true, false, true, false},
        {"SELECTOK", true, true, true, false},  {"", false, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CommandOutcome o = ApplyCommand(c.name, c.ok_before, c.confirmable);
        EXPECT_EQ(o.ok, c.ok_after);
        EXPECT_EQ(o.hide, c.hide);
    }
    EXPECT_EQ(TwipsToPixels(kInitialClientWidthTwips, 96), 446);
    EXPECT_EQ(TwipsToPixels(kInitialClientHeightTwips, 96), 338);
    EXPECT_EQ(PixelsToTwips(446, 96), 6690);
    EXPECT_EQ(TwipsToPixels(2147483647, 96), 143165576);  // no overflow on the way
    EXPECT_EQ(PixelsToTwips(2147483647, 96), 2147483647);  // clamped
}

}  // namespace
}  // namespace orba::ui
