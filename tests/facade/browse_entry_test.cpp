// The facade's entry to the browse window, called by name as a host does: the mode it
// hands over, the result it hands back, and a process without a window application.
#include <gtest/gtest.h>

#include "facade/bill_trans.h"
#include "facade/browse_entry.h"
#include "host/variant_vector.h"
#include "platform/registry.h"
#include "support/branch_env.h"
#include "support/error_of.h"

namespace orba::facade {
namespace {

using platform::MakeRef;
using platform::Ref;
using platform::Variant;

// A window stand-in: records the mode it was opened in and ends as a scripted user would.
class BrowseEntryTest : public ::testing::Test {
protected:
    BrowseEntryTest() : env_() {
        previous_ = SetBrowseWindowRunner([this] {
            modes_.push_back(BrowseMode());
            if (next_) next_();
        });
    }
    ~BrowseEntryTest() override {
        SetBrowseWindowRunner(previous_);
        SetBrowseMode(0);
        SetSelectionResult({});
    }

    testing::BranchEnv env_;
    BrowseWindowRunner previous_;
    std::vector<int32_t> modes_;
    std::function<void()> next_;
};

TEST_F(BrowseEntryTest, ModeAndResultAreSharedByEveryObjectAndKeptBetweenWindows) {
    Ref<platform::Object> first = platform::CreateObject(kBillTransProgId);
    platform::Call(first, "Show");  // no mode written yet: send mode

    platform::LetProperty(first, "showtype", {}, Variant(int32_t{1}));
    first.Reset();  // the end of an object resets neither value
    Ref<platform::Object> second = platform::CreateObject(kBillTransProgId);
    auto sent = MakeRef<host::VariantVector>();
    next_ = [&] { SetSelectionResult(sent); };
    platform::Call(second, "Show");
    next_ = nullptr;
    platform::Call(second, "Show");  // a window closed by its close box leaves the result
    EXPECT_EQ(platform::GetProperty(second, "VectTransmitBill"), Variant(sent));
    EXPECT_EQ(modes_, (std::vector<int32_t>{0, 1, 1}));

    platform::LetProperty(second, "ShowType", {}, Variant(int32_t{7}));  // stored as given
    platform::Call(second, "Show");
    EXPECT_EQ(modes_.back(), 7);

    // ShowType cannot be read; VectTransmitBill cannot be written.
    EXPECT_THROW(platform::GetProperty(second, "ShowType"), platform::Error);
    EXPECT_THROW(platform::SetProperty(second, "VectTransmitBill", {}, sent), platform::Error);
    EXPECT_THROW(platform::LetProperty(second, "ShowType", {}, Variant("x")), platform::Error);
}

TEST(BrowseEntry, WithoutAWindowApplicationShowIsAnErrorForTheCaller) {
    testing::BranchEnv env;
    Ref<platform::Object> trans = platform::CreateObject(kBillTransProgId);
    const auto e = testing::ErrorOf([&] { platform::Call(trans, "Show"); });
    EXPECT_NE(e.Description().find("window application"), std::string::npos) << e.Description();
    EXPECT_TRUE(env.Ui().Messages().empty()) << "no message box: the caller decides";
}

}  // namespace
}  // namespace orba::facade
