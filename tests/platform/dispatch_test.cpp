// Late-bound member access by name and the class registry.
#include "platform/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/registry.h"
#include "tests/support/fake_component.h"
#include "support/error_of.h"

namespace orba::platform {
namespace {

// A small class with each kind of member: a read-only property, a read-write property, a
// method with an argument by reference and a default member.
class Account : public Dispatchable<Account> {
  public:
    static const MemberTable<Account>& Members() {
        static const MemberTable<Account> table = [] {
            MemberTable<Account> t("Account");
            t.Get("Balance", 0, 0, [](Account& a, CallArgs&) { return Variant(a.balance_); })
                .Get("Name", 0, 0, [](Account& a, CallArgs&) { return Variant(a.name_); })
                .Let("Name", 0, 0,
                     [](Account& a, CallArgs& c) {
                         a.name_ = c.Assigned().ToText();
                         return Variant();
                     })
                .Method("Deposit", 1, 2,
                        [](Account& a, CallArgs& c) {
                            a.balance_ += c.Long(0);
                            // The optional second argument receives the new balance.
                            if (c.Has(1)) c[1] = Variant(a.balance_);
                            return Variant(a.balance_);
                        })
                .Get("", 0, 0, [](Account& a, CallArgs&) { return Variant(a.balance_); });
            return t;
        }();
        return table;
    }

  private:
    int32_t balance_ = 0;
    std::string name_ = "cash";
};

using orba::testing::ErrorOf;

bool Mentions(const Error& e, std::string_view word) {
    return e.Description().find(word) != std::string::npos;
}

TEST(LateBinding, CallsMembersByNameInAnyCase) {
    Ref<Object> account = MakeRef<Account>();
    EXPECT_EQ(Call(account, "Deposit", {Variant(int32_t{40})}), Variant(int32_t{40}));
    EXPECT_EQ(Call(account, "DEPOSIT", {Variant("2")}), Variant(int32_t{42}));
    EXPECT_EQ(GetProperty(account, "balance"), Variant(int32_t{42}));
    LetProperty(account, "name", {}, Variant("bank"));
    EXPECT_EQ(GetProperty(account, "Name"), Variant("bank"));
    // The default member is what a plain value conversion reads.
    EXPECT_EQ(Variant(account).ToLong(), 42);
    EXPECT_EQ(Add(Variant(account), Variant(int32_t{1})), Variant(int32_t{43}));
}

TEST(LateBinding, WritesBackArgumentsPassedByReference) {
    Ref<Object> account = MakeRef<Account>();
    std::vector<Variant> args{Variant(int16_t{5}), Variant()};
    CallByName(account, "Deposit", CallKind::kMethod, args);
    EXPECT_EQ(args[1], Variant(int32_t{5}));
    EXPECT_EQ(args[0], Variant(int16_t{5}));
}

TEST(LateBinding, FailuresNameTheMember) {
    Ref<Object> account = MakeRef<Account>();
    struct Case {
        std::function<void()> call;
        ErrorCode code;
        const char* named;
    };
    const std::vector<Case> cases = {
        {[&] { Call(account, "Withdraw", {Variant(int16_t{1})}); }, ErrorCode::kMemberNotFound,
         "Withdraw"},
        {[&] { Call(account, "Deposit"); }, ErrorCode::kWrongArgumentCount, "Deposit"},
        {[&] {
             Call(account, "Deposit", {Variant(int16_t{1}), Variant(), Variant()});
         },
         ErrorCode::kWrongArgumentCount, "Deposit"},
        {[&] { LetProperty(account, "Balance", {}, Variant(int16_t{1})); },
         ErrorCode::kWrongArgumentCount, "Balance"},
        {[&] { SetProperty(account, "Name", {}, MakeRef<Account>()); },
         ErrorCode::kWrongArgumentCount, "Name"},
        {[&] { Call(account, "Deposit", {Variant("ten")}); }, ErrorCode::kTypeMismatch, "Deposit"},
        {[&] { Call(Ref<Object>(), "Deposit", {Variant(int16_t{1})}); }, ErrorCode::kObjectRequired,
         "Deposit"},
        {[&] { GetProperty(Ref<Object>(), "Balance"); }, ErrorCode::kObjectRequired, "Balance"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Error e = ErrorOf(cases[i].call);
        EXPECT_EQ(e.Code(), cases[i].code) << "case " << i << ": " << e.Description();
        EXPECT_TRUE(Mentions(e, cases[i].named)) << "case " << i << ": " << e.Description();
    }
}

TEST(LateBinding, ArgumentErrorsSayWhichArgument) {
    Ref<Object> account = MakeRef<Account>();
    const Error e = ErrorOf([&] { Call(account, "Deposit", {Variant::Null()}); });
    EXPECT_EQ(e.Code(), ErrorCode::kInvalidUseOfNull);
    EXPECT_TRUE(Mentions(e, "argument 1")) << e.Description();
}

TEST(ClassRegistry, CreatesByIdentifierIgnoringCase) {
    ScopedClassRegistration reg("Test.Account", [] { return Ref<Object>(MakeRef<Account>()); });
    Ref<Object> a = CreateObject("test.ACCOUNT");
    Ref<Object> b = CreateObject("Test.Account");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ClassName(), "Account");
    EXPECT_FALSE(a == b) << "each creation makes a new object";
    EXPECT_TRUE(ClassRegistry::Instance().IsRegistered("TEST.account"));
}

TEST(ClassRegistry, UnknownIdentifierNamesIt) {
    const Error e = ErrorOf([] { CreateObject("Nowhere.Thing"); });
    EXPECT_EQ(e.Code(), ErrorCode::kCannotCreateObject);
    EXPECT_TRUE(Mentions(e, "Nowhere.Thing")) << e.Description();

    ScopedClassRegistration empty("Test.Empty", [] { return Ref<Object>(); });
    const Error e2 = ErrorOf([] { CreateObject("Test.Empty"); });
    EXPECT_EQ(e2.Code(), ErrorCode::kCannotCreateObject);
    EXPECT_TRUE(Mentions(e2, "Test.Empty")) << e2.Description();
}

TEST(ClassRegistry, ScopedRegistrationRestoresTheEarlierFactory) {
    auto named = [](std::string name) {
        return [name] { return Ref<Object>(MakeRef<testing::FakeComponent>(name)); };
    };
    ClassRegistry::Instance().Register("Test.Layered", named("Outer"));
    {
        ScopedClassRegistration inner("TEST.LAYERED", named("Inner"));
        EXPECT_EQ(CreateObject("Test.Layered")->ClassName(), "Inner");
    }
    EXPECT_EQ(CreateObject("Test.Layered")->ClassName(), "Outer");
    EXPECT_TRUE(ClassRegistry::Instance().Unregister("Test.Layered"));
    EXPECT_FALSE(ClassRegistry::Instance().Unregister("Test.Layered"));

    {
        ScopedClassRegistration only("Test.Fresh", named("Fresh"));
        EXPECT_TRUE(ClassRegistry::Instance().IsRegistered("Test.Fresh"));
    }
    EXPECT_FALSE(ClassRegistry::Instance().IsRegistered("Test.Fresh"));
}

TEST(ClassRegistry, RefusesARegistrationWithoutIdentifierOrFactory) {
    EXPECT_THROW(ClassRegistry::Instance().Register("", [] { return Ref<Object>(); }), Error);
    EXPECT_THROW(ClassRegistry::Instance().Register("Test.NoFactory", ClassFactory()), Error);
    EXPECT_FALSE(ClassRegistry::Instance().IsRegistered("Test.NoFactory"));
}

}  // namespace
}  // namespace orba::platform
