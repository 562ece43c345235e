// UnPackageBills with a saving component that records what it is handed: which operation
// each package reaches, the texts carried from call to call, the returned messages, the
// log it leaves and what a failure of the component does.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data/bill_records.h"
#include "facade/bill_trans.h"
#include "facade/transmit_log.h"
#include "host/user_messages.h"
#include "hostkit/hostkit.h"
#include "hostkit/login_string.h"
#include "platform/registry.h"
#include "support/branch_env.h"
#include "support/exchange_records.h"

namespace orba::facade {
namespace {

namespace fs = std::filesystem;
using host::VariantDictionary;
using host::VariantVector;
using platform::CallArgs;
using platform::Error;
using platform::ErrorCode;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;
using testing::BranchEnv;
using testing::List;
using testing::Package;
using testing::ReadFile;

// What the fake saving component was handed in one call.
struct SaveCall {
    std::string operation;
    std::string props;
    Variant bills;
    std::string text_in;
};

// Shared between the test and every fake the library creates.
struct SaveJournal {
    std::vector<SaveCall> calls;
    // The text the fake leaves for call n (1-based), given the operation and the text it got.
    std::function<std::string(int, const std::string&, const std::string&)> answer =
        [](int n, const std::string& op, const std::string& in) { return in + op + "#" + std::to_string(n) + ";"; };
    int fail_on_call = 0;  // 0: never
    bool leave_no_text = false;  // leaves a list where its message text belongs
    int objects_alive = 0;
};

constexpr std::string_view kComponentFailure = "the saving component gave up";

class FakeSaveData : public platform::Dispatchable<FakeSaveData> {
public:
    explicit FakeSaveData(std::shared_ptr<SaveJournal> journal) : journal_(std::move(journal)) {
        ++journal_->objects_alive;
    }
    ~FakeSaveData() override { --journal_->objects_alive; }

    static const platform::MemberTable<FakeSaveData>& Members() {
        static const platform::MemberTable<FakeSaveData> table = [] {
            platform::MemberTable<FakeSaveData> t("FakeSaveData");
            t.Method("UnPackageOrd", 3, 3, [](FakeSaveData& f, CallArgs& a) { return f.Save("UnPackageOrd", a); })
                .Method("UnPackageNotice", 3, 3,
                        [](FakeSaveData& f, CallArgs& a) { return f.Save("UnPackageNotice", a); });
            return t;
        }();
        return table;
    }

private:
    Variant Save(const std::string& operation, CallArgs& a) {
        SaveJournal& j = *journal_;
        j.calls.push_back({operation, a.Text(0), a[1], a.Text(2)});
        const int n = static_cast<int>(j.calls.size());
        if (n == j.fail_on_call) throw Error(ErrorCode::kBadInput, std::string(kComponentFailure));
        a[2] = j.leave_no_text ? Variant(MakeRef<VariantVector>()) : Variant(j.answer(n, operation, a.Text(2)));
        return Variant(int32_t{-1});  // not used by the caller
    }

    std::shared_ptr<SaveJournal> journal_;
};

class UnPackageBillsTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Logs written by the library land beside it; take ours away again.
        for (const fs::path& p : written_) fs::remove(p);
    }

    Ref<VariantDictionary> Unpackage(const Ref<VariantVector>& list) {
        Ref<VariantDictionary> result = trans_->UnPackageBills(list);
        if (!trans_->LastLogFile().empty()) written_.push_back(trans_->LastLogFile());
        return result;
    }

    // A bill list the fake never looks into, told apart by its one item.
    static Variant Bills(std::string_view tag) { return Variant(List({Variant(tag)})); }

    BranchEnv env_;
    std::shared_ptr<SaveJournal> journal_ = std::make_shared<SaveJournal>();
    platform::ScopedClassRegistration fake_{kSaveDataProgId, [j = journal_] {
                                                return Ref<platform::Object>(MakeRef<FakeSaveData>(j));
                                            }};
    Ref<BillTrans> trans_ = MakeRef<BillTrans>();
    std::vector<fs::path> written_;
};

TEST_F(UnPackageBillsTest, TextsAreCarriedBetweenCallsOfTheSameKind) {
    auto list = List({Variant(Package(501, Bills("po-1"))), Variant(Package(502, Bills("dn"))),
                      Variant(Package(504, Bills("other"))), Variant(Package(int16_t{501}, Bills("po-2"))),
                      Variant(Package(503, Bills("rn")))});
    Ref<VariantDictionary> result = Unpackage(list);

    const auto& calls = journal_->calls;
    ASSERT_EQ(calls.size(), 4u);  // 504 skipped
    struct Expected {
        std::string_view operation;
        int package;
        std::string_view text_in;
    };
    const Expected expected[] = {
        {"UnPackageOrd", 1, ""},
        {"UnPackageNotice", 2, ""},
        {"UnPackageOrd", 4, "UnPackageOrd#1;"},
        {"UnPackageNotice", 5, "UnPackageNotice#2;"},
    };
    const std::string props = hostkit::CurrentLoginProperties();
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].operation, expected[i].operation);
        EXPECT_EQ(calls[i].text_in, expected[i].text_in);
        EXPECT_EQ(calls[i].props, props);
        // The package's own bill list, handed over unchanged.
        EXPECT_EQ(calls[i].bills.AsObject().Get(), testing::BillsOf(list->Item(expected[i].package)).Get());
    }
    EXPECT_EQ(journal_->objects_alive, 0);  // every saving component released

    const std::string message = "UnPackageOrd#1;UnPackageOrd#3;\r\nUnPackageNotice#2;UnPackageNotice#4;";
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Size(), 1u);
    EXPECT_EQ(result->Value(kReturnMessageKey).ToText(), message);
    EXPECT_TRUE(env_.Ui().Messages().empty());

    const fs::path log = trans_->LastLogFile();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.parent_path(), LogDirectory());
    EXPECT_EQ(log.filename().string().substr(0, 9), LogFileName(platform::Date::Today(), 1).substr(0, 9));
    EXPECT_EQ(ReadFile(log), message);  // as returned, no line end added
}

TEST_F(UnPackageBillsTest, TheLoginPropertiesAreFetchedAfreshForEachCall) {
    const std::string elsewhere = hostkit::MakeLoginProperties("/elsewhere/branch.db");
    journal_->answer = [&elsewhere](int n, const std::string&, const std::string& in) {
        if (n == 1) hostkit::SetLoginProperties(elsewhere);  // the host logs in to another database
        return in;
    };
    const std::string first = hostkit::CurrentLoginProperties();
    Unpackage(List({Variant(Package(501, Bills("po"))), Variant(Package(503, Bills("rn")))}));
    env_.Activate();
    ASSERT_EQ(journal_->calls.size(), 2u);
    EXPECT_EQ(journal_->calls[0].props, first);
    EXPECT_EQ(journal_->calls[1].props, elsewhere);
}

TEST_F(UnPackageBillsTest, BlankOrNoMessagesWriteNoLog) {
    struct Case {
        const char* name;
        std::string order_text;
        std::string notice_text;
        bool logged;
    };
    const Case cases[] = {
        {"nothing said", "", "", false},
        {"spaces only", "   ", " ", false},
        {"an order message", "saved", "", true},
        {"a notice message between spaces", "", "  saved  ", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        journal_->calls.clear();
        journal_->answer = [&c](int, const std::string& op, const std::string&) {
            return op == "UnPackageOrd" ? c.order_text : c.notice_text;
        };
        const std::string message = c.order_text + "\r\n" + c.notice_text;
        const auto before = testing::FilesHolding(LogDirectory(), message).size();
        Ref<VariantDictionary> result = Unpackage(List({Variant(Package(501, Bills("po"))), Variant(Package(502, Bills("dn")))}));
        EXPECT_EQ(result->Value(kReturnMessageKey).ToText(), message);
        EXPECT_EQ(!trans_->LastLogFile().empty(), c.logged);
        EXPECT_EQ(testing::FilesHolding(LogDirectory(), message).size(), before + (c.logged ? 1 : 0));
    }
}

TEST_F(UnPackageBillsTest, AnEmptyListReturnsALineBreakAndWritesNoLog) {
    const auto before = testing::FilesHolding(LogDirectory(), "\r\n").size();
    Ref<VariantDictionary> result = Unpackage(MakeRef<VariantVector>());
    EXPECT_EQ(result->Value(kReturnMessageKey).ToText(), "\r\n");
    EXPECT_TRUE(journal_->calls.empty());
    EXPECT_TRUE(trans_->LastLogFile().empty());
    EXPECT_EQ(testing::FilesHolding(LogDirectory(), "\r\n").size(), before);
}

TEST_F(UnPackageBillsTest, AFailingComponentStopsTheRestAndIsShownAndLogged) {
    journal_->fail_on_call = 2;
    auto list = List({Variant(Package(501, Bills("po-1"))), Variant(Package(502, Bills("dn"))),
                      Variant(Package(501, Bills("po-2")))});
    Ref<VariantDictionary> result = Unpackage(list);

    EXPECT_EQ(journal_->calls.size(), 2u);  // the third package is not processed
    EXPECT_EQ(journal_->objects_alive, 0);
    const std::string message = "UnPackageOrd#1;\r\n" + std::string(kComponentFailure);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Value(kReturnMessageKey).ToText(), message);

    const auto messages = env_.Ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, std::string(kUnpackageFailed) + std::string(kComponentFailure));
    EXPECT_EQ(messages[0].title, host::kMessageTitle);
    EXPECT_EQ(messages[0].icon, platform::MessageIcon::kInformation);

    ASSERT_FALSE(trans_->LastLogFile().empty());
    EXPECT_EQ(ReadFile(trans_->LastLogFile()), message);
}

TEST_F(UnPackageBillsTest, AMessageTextThatIsNoTextIsShownAndLoggedNotPassedToTheCaller) {
    journal_->leave_no_text = true;
    Ref<VariantDictionary> result;
    EXPECT_NO_THROW(result = Unpackage(List({Variant(Package(501, Bills("po")))})));
    ASSERT_TRUE(result);
    const auto messages = env_.Ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind(kUnpackageFailed, 0), 0u) << messages[0].text;
    EXPECT_FALSE(trans_->LastLogFile().empty());
}

TEST_F(UnPackageBillsTest, AnUnreadablePackageIsAFailureToo) {
    // The second package is no record: reading its type fails after the first was saved.
    Ref<VariantDictionary> result =
        Unpackage(List({Variant(Package(501, Bills("po"))), Variant("not a package"), Variant(Package(502, Bills("dn")))}));
    EXPECT_EQ(journal_->calls.size(), 1u);
    const auto messages = env_.Ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind(kUnpackageFailed, 0), 0u) << messages[0].text;
    EXPECT_EQ(result->Value(kReturnMessageKey).ToText().rfind("UnPackageOrd#1;\r\n", 0), 0u);
}

}  // namespace
}  // namespace orba::facade

namespace orba::facade {
namespace {

TEST_F(UnPackageBillsTest, APackageWhoseTypeIsAFractionOrNullIsSkippedNotRoundedOrAborted) {
    auto list = List({Variant(Package(501.4, Bills("fraction"))), Variant(Package(Variant::Null(), Bills("null"))),
                      Variant(Package(502.0, Bills("notice")))});
    Ref<VariantDictionary> result = Unpackage(list);
    ASSERT_TRUE(result);
    ASSERT_EQ(journal_->calls.size(), 1u);
    EXPECT_EQ(journal_->calls[0].operation, "UnPackageNotice");
    EXPECT_TRUE(env_.Ui().Messages().empty());
}

}  // namespace
}  // namespace orba::facade
