// DataTrans as a host reaches it: created by identifier and called by name, and reading
// record sets that a host's own connection hands back.
#include <gtest/gtest.h>

#include "data/data_fixtures.h"
#include "host/shared_connection.h"
#include "hostkit/app_connection.h"

namespace orba::data::testing {
namespace {

using host::VariantVector;
using platform::CallKind;
using platform::ErrorCode;
using platform::MakeRef;

class LateBound : public ::testing::Test {
protected:
    void SetUp() override {
        for (int id : {12, 15}) {
            AddOrder(env_.Db(), {.inter_id = id, .bill_no = "PO-" + std::to_string(id)});
            AddOrderLine(env_.Db(), {.inter_id = id, .entry_id = 1});
        }
        AddNotice(env_.Db(), {.inter_id = 21, .bill_no = "DN-21", .tran_type = 83});
        AddNotice(env_.Db(), {.inter_id = 22, .bill_no = "RN-22", .tran_type = 82, .sale_style = "NULL"});
        AddNoticeLine(env_.Db(), {.inter_id = 21, .entry_id = 1});
        AddNoticeLine(env_.Db(), {.inter_id = 22, .entry_id = 1, .amount = "NULL"});
        AddNoticeLine(env_.Db(), {.inter_id = 22, .entry_id = 2});
        env_.Ui().Clear();
    }

    Variant Call(std::string_view member, std::vector<Variant> args) {
        return platform::CallByName(object_, member, CallKind::kMethod, args);
    }

    DataEnv env_;
    Ref<platform::Object> object_ = platform::CreateObject(kDataTransProgId);
};

TEST_F(LateBound, ExtractionsTakeTheirArgumentsAsOptional) {
    for (const char* member : {"GetPOOrdVect", "GetSEOutVect", "GetSEInVect"}) {
        SCOPED_TRACE(member);
        // No list at all is an empty list, which is no list of internal numbers.
        EXPECT_EQ(ErrorOf([&] { Call(member, {}); }).Code(), ErrorCode::kBadInput);
        // For download without a branch.
        EXPECT_EQ(ErrorOf([&] { Call(member, {Variant(""), Variant(true)}); }).Code(), ErrorCode::kObjectRequired);
        EXPECT_EQ(ErrorOf([&] { Call(member, {Variant(""), Variant(true), Variant(), Variant()}); }).Code(),
                  ErrorCode::kWrongArgumentCount);
    }
    Variant listed = Call("getpoordvect", {Variant(int32_t{15})});  // names ignore case; a number is its text
    EXPECT_EQ(InterIds(platform::RefCast<VariantVector>(listed.AsObject())), (std::vector<int32_t>{15}));
    Variant all = Call("GetPOOrdVect", {Variant(""), Variant("True"), Variant(Branch("BR02", "Branch Two"))});
    EXPECT_EQ(InterIds(platform::RefCast<VariantVector>(all.AsObject())), (std::vector<int32_t>{12, 15}));
    Variant notices = Call("GetSEOutVect", {Variant("21,22"), Variant(false)});
    EXPECT_EQ(InterIds(platform::RefCast<VariantVector>(notices.AsObject())), (std::vector<int32_t>{21, 22}));
    Variant returns = Call("GetSEInVect", {Variant("22")});
    EXPECT_EQ(InterIds(platform::RefCast<VariantVector>(returns.AsObject())), (std::vector<int32_t>{22}));
    Variant none = Call("GetSEInVect", {Variant("99")});
    EXPECT_TRUE(none.IsNothing());
}

TEST_F(LateBound, SummaryAndUpdatesAreCallableByName) {
    EXPECT_TRUE(platform::RefCast<platform::RecordSet>(Call("GetBillInfo", {Variant(int32_t{71}), Variant("12")}).AsObject()));
    EXPECT_TRUE(Call("GetBillInfo", {Variant(int32_t{81}), Variant(int32_t{12})}).IsNothing());
    auto orders = MakeList({Variant(MakeDict({{"BillID", Variant("PO-15")}}))});
    auto lines = MakeList({Variant(MakeDict({{"BillID", Variant("PO-12")}, {"EntryID", Variant(int32_t{1})},
                                            {"Qty", Variant("4")}}))});
    EXPECT_TRUE(Call("SetOrdTranStatus", {Variant("12,15")}).IsEmpty());
    EXPECT_TRUE(Call("UnSetOrdTranStatus", {Variant(orders)}).IsEmpty());
    EXPECT_TRUE(Call("AffirmPurchaseOrder", {Variant(lines)}).IsEmpty());
    EXPECT_TRUE(Call("SetNoticeTranStatus", {Variant("22")}).IsEmpty());
    EXPECT_TRUE(Call("SetOrderAffirmStatus", {Variant(orders), Variant(int16_t{0})}).IsEmpty());
    EXPECT_TRUE(env_.Ui().Messages().empty());
    EXPECT_EQ(env_.Db().Rows("SELECT FInterID, FTranStatus, FOrderAffirm FROM POOrder ORDER BY 1"),
              (std::vector<std::vector<std::string>>{{"12", "1", "0"}, {"15", "0", "2"}}));
    EXPECT_EQ(env_.Db().Rows("SELECT FAuxQty, FAmount FROM POOrderEntry WHERE FInterID=12"),
              (std::vector<std::vector<std::string>>{{"4", "40"}}));
    EXPECT_EQ(env_.Db().Rows("SELECT FInterID, FTranStatus FROM SEOutStock ORDER BY 1"),
              (std::vector<std::vector<std::string>>{{"21", "0"}, {"22", "1"}}));
    EXPECT_EQ(ErrorOf([&] { Call("SetOrderAffirmStatus", {Variant(orders)}); }).Code(), ErrorCode::kWrongArgumentCount);
    EXPECT_EQ(ErrorOf([&] { Call("GetBillList", {}); }).Code(), ErrorCode::kMemberNotFound);
}

// Stands in for a host connection whose record sets are its own objects: the statements
// run on the real database, the rows come back through EOF, MoveNext, RecordCount and
// Fields(name).Value only.
class HostRecordSets : public LateBound {
protected:
    void SetUp() override {
        LateBound::SetUp();
        direct_ = host::SharedConnection();
        auto real = MakeRef<hostkit::AppConnection>();
        host::SetSharedConnection(MakeScriptedObject(
            "HostConnection", [real, this](std::string_view name, CallKind, std::span<Variant> args) -> Variant {
                if (!platform::EqualsIgnoreCase(name, "Execute")) platform::ThrowMemberNotFound("HostConnection", name);
                ++executed_;
                auto rows = real->Execute(args[0].ToText());
                return Variant(MakeHostRecordSet(*rows));
            }));
    }

    // The same extraction through the runtime's own record sets.
    std::string Direct(BillKind kind, const std::string& ids, bool for_download = false,
                       const Ref<platform::Object>& branch = {}) {
        auto wrapped = host::SharedConnection();
        host::SetSharedConnection(direct_);
        auto bills = Extract(*data_, kind, ids, for_download, branch);
        host::SetSharedConnection(wrapped);
        return Json(Variant(bills));
    }

    Ref<platform::Object> direct_;
    Ref<DataTrans> data_ = MakeRef<DataTrans>();
    int executed_ = 0;
};

TEST_F(HostRecordSets, AreReadLikeTheRuntimesOwn) {
    struct Case {
        BillKind kind;
        const char* ids;
        bool for_download;
    };
    const Case cases[] = {{BillKind::kPurchaseOrder, "12,15", false},
                          {BillKind::kPurchaseOrder, "", true},
                          {BillKind::kDeliveryNotice, "21,22", false},
                          {BillKind::kReturnNotice, "", true}};
    for (const Case& c : cases) {
        auto branch = Branch("BR02", "Branch Two");
        const std::string expected = Direct(c.kind, c.ids, c.for_download, branch);
        const int executed_before = executed_;
        auto bills = Extract(*data_, c.kind, c.ids, c.for_download, branch);
        EXPECT_EQ(executed_ - executed_before, c.for_download ? 2 : 1);
        ASSERT_TRUE(bills);
        EXPECT_EQ(Json(Variant(bills)), expected);
    }
    EXPECT_EQ(Json(Variant(Extract(*data_, BillKind::kReturnNotice, "21,22"))),
              Direct(BillKind::kReturnNotice, "21,22"));
}

TEST_F(HostRecordSets, WithoutRowsGiveNothing) {
    EXPECT_TRUE(data_->GetPOOrdVect("99").IsNothing());
    EXPECT_TRUE(data_->GetSEOutVect("99").IsNothing());
    EXPECT_EQ(ErrorOf([&] { data_->GetSEInVect("", true, Branch("BR09", "Nowhere")); }).Code(),
              ErrorCode::kNotFound);
}

}  // namespace
}  // namespace orba::data::testing
