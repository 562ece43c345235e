// Status updates on a real branch database: each changes exactly the rows it names, a whole
// batch at once, and every failure is shown in its own message box instead of being raised.
#include <gtest/gtest.h>

#include <map>

#include "data/data_fixtures.h"

namespace orba::data::testing {
namespace {

using host::VariantVector;
using platform::MakeRef;
using platform::MessageButtons;
using platform::MessageIcon;

// "id:value" for each row of a table, in internal-number order.
std::vector<std::string> ColumnByBill(hostkit::testing::TestDb& db, const std::string& table,
                                      const std::string& column) {
    std::vector<std::string> out;
    for (const auto& row : db.Rows("SELECT FInterID, " + column + " FROM " + table + " ORDER BY FInterID")) {
        out.push_back(row[0] + ":" + row[1]);
    }
    return out;
}

Ref<VariantVector> Orders(std::initializer_list<const char*> bill_numbers) {
    auto v = MakeRef<VariantVector>();
    for (const char* no : bill_numbers) v->Add(Variant(MakeDict({{"BillID", Variant(no)}})));
    return v;
}

Ref<platform::Object> Line(const char* bill_no, Variant entry_id, Variant qty) {
    return MakeDict({{"BillID", Variant(bill_no)}, {"EntryID", std::move(entry_id)}, {"Qty", std::move(qty)}});
}

class StatusUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        AddOrder(env_.Db(), {.inter_id = 12, .bill_no = "PO-12", .tran_status = "0"});
        AddOrder(env_.Db(), {.inter_id = 13, .bill_no = "PO-13", .tran_status = "1"});
        AddOrder(env_.Db(), {.inter_id = 15, .bill_no = "PO-15", .tran_status = "NULL", .currency = 3});
        AddOrder(env_.Db(), {.inter_id = 16, .bill_no = "O'Brien-1", .tran_status = "1", .currency = 2});
        for (int id : {12, 13, 15, 16}) {
            AddOrderLine(env_.Db(), {.inter_id = id, .entry_id = 1, .aux_qty = "2", .qty = "24", .aux_price = "2.5",
                                     .amount = "5"});
            AddOrderLine(env_.Db(), {.inter_id = id, .entry_id = 2, .aux_qty = "2", .qty = "24", .aux_price = "0.8925",
                                     .amount = "1.79"});
        }
        AddNotice(env_.Db(), {.inter_id = 21, .bill_no = "DN-21", .tran_type = 83, .tran_status = "0"});
        AddNotice(env_.Db(), {.inter_id = 22, .bill_no = "RN-22", .tran_type = 82, .tran_status = "NULL"});
        AddNotice(env_.Db(), {.inter_id = 23, .bill_no = "DN-23", .tran_type = 83, .tran_status = "0"});
        env_.Ui().Clear();
    }

    void ExpectNoMessage() {
        for (const auto& m : env_.Ui().Messages()) ADD_FAILURE() << "message: " << m.text;
    }

    DataEnv env_;
    Ref<DataTrans> data_ = MakeRef<DataTrans>();
};

TEST_F(StatusUpdate, OrderTransmissionFlagIsSetOnTheListedOrdersOnly) {
    const std::string before = Snapshot(env_.Db(), {{"POOrder", {"FTranStatus"}}});
    data_->SetOrdTranStatus("12,15");
    ExpectNoMessage();
    EXPECT_EQ(ColumnByBill(env_.Db(), "POOrder", "FTranStatus"),
              (std::vector<std::string>{"12:1", "13:1", "15:1", "16:1"}));
    EXPECT_EQ(Snapshot(env_.Db(), {{"POOrder", {"FTranStatus"}}}), before);
}

TEST_F(StatusUpdate, NoticeTransmissionFlagServesBothNoticeTypes) {
    const std::string before = Snapshot(env_.Db(), {{"SEOutStock", {"FTranStatus"}}});
    data_->SetNoticeTranStatus("21, 22");
    ExpectNoMessage();
    EXPECT_EQ(ColumnByBill(env_.Db(), "SEOutStock", "FTranStatus"),
              (std::vector<std::string>{"21:1", "22:1", "23:0"}));
    EXPECT_EQ(Snapshot(env_.Db(), {{"SEOutStock", {"FTranStatus"}}}), before);
}

TEST_F(StatusUpdate, TwoOrderBatchClearsBothTransmissionFlagsQuoteIncluded) {
    const std::string before = Snapshot(env_.Db(), {{"POOrder", {"FTranStatus"}}});
    data_->UnSetOrdTranStatus(Orders({"PO-13", "O'Brien-1"}));
    ExpectNoMessage();
    EXPECT_EQ(ColumnByBill(env_.Db(), "POOrder", "FTranStatus"),
              (std::vector<std::string>{"12:0", "13:0", "15:NULL", "16:0"}));
    EXPECT_EQ(Snapshot(env_.Db(), {{"POOrder", {"FTranStatus"}}}), before);
}

TEST_F(StatusUpdate, ConfirmationFlagIsOneForAnyNonZeroStatusAndTwoForZero) {
    for (auto [status, flag] : std::initializer_list<std::pair<int32_t, const char*>>{{5, "1"}, {0, "2"}, {-3, "1"}}) {
        SCOPED_TRACE(status);
        data_->SetOrderAffirmStatus(Orders({"PO-12", "O'Brien-1"}), status);
        ExpectNoMessage();
        EXPECT_EQ(ColumnByBill(env_.Db(), "POOrder", "FOrderAffirm"),
                  (std::vector<std::string>{"12:" + std::string(flag), "13:0", "15:0", "16:" + std::string(flag)}));
    }
}

struct AffirmCase {
    const char* name;
    const char* bill_no;
    Variant qty;
    double aux_qty;  // expected on line 2
    double amount;   // expected on line 2: price 0.8925 times the quantity, rounded to the currency
    // Where it differs: what a server keeps of that amount in FAmount DECIMAL(20,2), which
    // rounds a third decimal half away from zero; a SQLite file keeps the value as written.
    double server_amount = 0;
    friend void PrintTo(const AffirmCase& c, std::ostream* os) { *os << c.name; }
};

const AffirmCase kAffirmCases[] = {
    // 2.6775: at two decimals 2.68; at three, 2.678, where rounding the nearest binary
    // double (2.67749999...) would give 2.677.
    {"TwoDecimals", "PO-12", Variant(int32_t{3}), 3, 2.68},
    {"ThreeDecimalsHalfwayRoundsUp", "PO-15", Variant(int32_t{3}), 3, 2.678, 2.68},
    {"NoDecimals", "O'Brien-1", Variant(int32_t{4}), 4, 4},
    {"DecimalQuantity", "PO-12", Dec("2.50"), 2.5, 2.23},
    {"TextQuantity", "PO-15", Variant(" 10 "), 10, 8.925, 8.93},
};

class AffirmQuantity : public StatusUpdate, public ::testing::WithParamInterface<AffirmCase> {};

TEST_P(AffirmQuantity, WritesTheQuantityAndTheAmountRoundedToTheCurrency) {
    const AffirmCase& c = GetParam();
    const IgnoredColumns changed = {{"POOrderEntry", {"FAuxQty", "FAmount"}}};
    const std::string before = Snapshot(env_.Db(), changed);
    const auto lines_before = env_.Db().Rows("SELECT FInterID, FEntryID, FAuxQty, FAmount FROM POOrderEntry "
                                             "ORDER BY FInterID, FEntryID");
    data_->AffirmPurchaseOrder(MakeList({Variant(Line(c.bill_no, Variant(int32_t{2}), c.qty))}));
    ExpectNoMessage();
    EXPECT_EQ(Snapshot(env_.Db(), changed), before) << "FQty and the other columns stay";
    const auto lines_after = env_.Db().Rows("SELECT FInterID, FEntryID, FAuxQty, FAmount FROM POOrderEntry "
                                            "ORDER BY FInterID, FEntryID");
    ASSERT_EQ(lines_after.size(), lines_before.size());
    const std::string inter_id = env_.Db().Rows("SELECT FInterID FROM POOrder WHERE FBillNo=" + Quoted(c.bill_no))[0][0];
    for (size_t i = 0; i < lines_after.size(); ++i) {
        if (lines_after[i][0] == inter_id && lines_after[i][1] == "2") {
            EXPECT_DOUBLE_EQ(std::stod(lines_after[i][2]), c.aux_qty);
            EXPECT_DOUBLE_EQ(std::stod(lines_after[i][3]),
                             env_.Db().OnServer() && c.server_amount != 0 ? c.server_amount : c.amount);
        } else {
            EXPECT_EQ(lines_after[i], lines_before[i]) << "line " << lines_after[i][0] << "/" << lines_after[i][1];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rounding, AffirmQuantity, ::testing::ValuesIn(kAffirmCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatusUpdate, AffirmedQuantityOfThreeAtTwoAndAHalfIsSevenAndAHalf) {
    data_->AffirmPurchaseOrder(MakeList({Variant(Line("PO-12", Variant(int32_t{1}), Variant(int32_t{3}))),
                                         Variant(Line("PO-13", Variant(int32_t{1}), Variant(int32_t{4})))}));
    ExpectNoMessage();
    EXPECT_EQ(env_.Db().Rows("SELECT FInterID, FAuxQty, FAmount, FQty FROM POOrderEntry WHERE FEntryID=1 "
                             "ORDER BY FInterID"),
              (std::vector<std::vector<std::string>>{
                  {"12", "3", "7.5", "24"}, {"13", "4", "10", "24"}, {"15", "2", "5", "24"}, {"16", "2", "5", "24"}}));
}

TEST_F(StatusUpdate, EmptyListIsReportedInAMessageAndChangesNothing) {
    const std::string before = Snapshot(env_.Db());
    data_->SetOrdTranStatus("");
    EXPECT_EQ(Snapshot(env_.Db()), before);
    const auto messages = env_.Ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    const std::string fixed = "更新订单传输标志失败。";
    EXPECT_EQ(messages[0].text.rfind(fixed, 0), 0u) << messages[0].text;
    EXPECT_GT(messages[0].text.size(), fixed.size()) << "the description follows the fixed message";
    EXPECT_EQ(messages[0].title, "Zelto提示");
    EXPECT_EQ(messages[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(messages[0].buttons, MessageButtons::kOk);
}

// The statements match bill numbers as the account database server does: letter case and
// trailing blanks make no difference, leading and inner blanks do.
TEST_F(StatusUpdate, BillNumbersMatchWhateverTheirLetterCaseAndTrailingBlanks) {
    struct Form {
        const char* bill_no;
        bool matches;
    };
    const Form forms[] = {{"PO-13", true},   {"po-13", true},   {"Po-13  ", true},
                          {" PO-13", false}, {"PO -13", false}, {"PO-13x", false}};
    for (const Form& f : forms) {
        SCOPED_TRACE(f.bill_no);
        env_.Db().Exec("UPDATE POOrder SET FTranStatus=1, FOrderAffirm=0 WHERE FInterID=13;"
                       "UPDATE POOrderEntry SET FAuxQty=2 WHERE FInterID=13");
        data_->UnSetOrdTranStatus(Orders({f.bill_no}));
        data_->SetOrderAffirmStatus(Orders({f.bill_no}), 1);
        data_->AffirmPurchaseOrder(MakeList({Variant(Line(f.bill_no, Variant(int32_t{1}), Variant(int32_t{7})))}));
        ExpectNoMessage();
        EXPECT_EQ(env_.Db().Rows("SELECT FTranStatus, FOrderAffirm FROM POOrder WHERE FInterID=13")[0],
                  (f.matches ? std::vector<std::string>{"0", "1"} : std::vector<std::string>{"1", "0"}));
        EXPECT_EQ(env_.Db().Rows("SELECT FAuxQty FROM POOrderEntry WHERE FInterID=13 AND FEntryID=1")[0][0],
                  f.matches ? "7" : "2");
    }
}

// A quantity beyond the columns' precision fails the batch as the server does, instead of
// storing an impossible value; the earlier line of the batch is not kept either.
TEST_F(StatusUpdate, QuantityBeyondTheColumnsPrecisionIsRefusedAndNothingIsWritten) {
    const std::string before = Snapshot(env_.Db());
    data_->AffirmPurchaseOrder(MakeList({Variant(Line("PO-12", Variant(int32_t{1}), Variant(int32_t{3}))),
                                         Variant(Line("PO-13", Variant(int32_t{1}), Variant(1e300)))}));
    EXPECT_EQ(Snapshot(env_.Db()), before);
    const auto messages = env_.Ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("更新订单确认数量失败。", 0), 0u) << messages[0].text;
    EXPECT_NE(messages[0].text.find("Arithmetic overflow error converting numeric to data type numeric"),
              std::string::npos)
        << messages[0].text;
}

struct FailureCase {
    const char* name;
    std::function<void(DataTrans&)> call;
    const char* message;
    friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

const FailureCase kFailures[] = {
    {"SetOrdTranStatus", [](DataTrans& d) { d.SetOrdTranStatus("12"); }, "更新订单传输标志失败。"},
    {"UnSetOrdTranStatus", [](DataTrans& d) { d.UnSetOrdTranStatus(Orders({"PO-12"})); }, "更新订单传输标志失败。"},
    {"SetOrderAffirmStatus", [](DataTrans& d) { d.SetOrderAffirmStatus(Orders({"PO-12"}), 1); },
     "更新订单确认标志失败。"},
    {"AffirmPurchaseOrder",
     [](DataTrans& d) { d.AffirmPurchaseOrder(MakeList({Variant(Line("PO-12", Variant(int32_t{1}), Variant(int32_t{1})))})); },
     "更新订单确认数量失败。"},
    {"SetNoticeTranStatus", [](DataTrans& d) { d.SetNoticeTranStatus("21"); }, "更新通知单传输标志失败。"},
};

class FailingUpdate : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailingUpdate, ShowsItsOwnMessageFollowedByTheDescriptionAndReturns) {
    orba::testing::RegisterEverything();
    auto ui = std::make_shared<platform::RecordingUiService>();
    platform::ScopedUiService ui_scope(ui);
    RecordingConnection connection;
    connection.Log().failure = "the account database is read-only";
    auto data = MakeRef<DataTrans>();
    EXPECT_NO_THROW(GetParam().call(*data));
    EXPECT_EQ(connection.Log().calls.size(), 1u);
    const auto messages = ui->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, std::string(GetParam().message) + "the account database is read-only");
    EXPECT_EQ(messages[0].title, "Zelto提示");
    EXPECT_EQ(messages[0].icon, MessageIcon::kInformation);
    EXPECT_EQ(messages[0].buttons, MessageButtons::kOk);
}

INSTANTIATE_TEST_SUITE_P(Updates, FailingUpdate, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orba::data::testing

namespace orba::data::testing {
namespace {

TEST_F(StatusUpdate, ANullBillNumberMatchesNoBillAndTheRestOfTheBatchStillRuns) {
    struct Case {
        const char* name;
        std::function<void(const Ref<VariantVector>&)> update;
        const char* column;
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"transmission flag", [&](const Ref<VariantVector>& v) { data_->UnSetOrdTranStatus(v); }, "FTranStatus",
         {"12:0", "13:0", "15:NULL", "16:1"}},
        {"confirmation flag", [&](const Ref<VariantVector>& v) { data_->SetOrderAffirmStatus(v, 1); }, "FOrderAffirm",
         {"12:0", "13:1", "15:0", "16:0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto orders = MakeRef<VariantVector>();
        orders->Add(Variant(MakeDict({{"BillID", Variant::Null()}})));
        orders->Add(Variant(MakeDict({{"BillID", Variant("PO-13")}})));
        c.update(orders);
        ExpectNoMessage();
        EXPECT_EQ(ColumnByBill(env_.Db(), "POOrder", c.column), c.after);
    }
}

}  // namespace
}  // namespace orba::data::testing
