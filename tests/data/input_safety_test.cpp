// Values pasted into statements: quotes in texts give the right rows and nothing else,
// internal-number lists and quantities that are not numbers are refused before anything runs.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "data/data_fixtures.h"
#include "support/bill_statements.h"

namespace orba::data::testing {
namespace {

using host::VariantVector;
using platform::ErrorCode;
using platform::MakeRef;

constexpr BillKind kKinds[] = {BillKind::kPurchaseOrder, BillKind::kDeliveryNotice, BillKind::kReturnNotice};

Ref<VariantVector> OneOrder(const char* bill_no) {
    return MakeList({Variant(MakeDict({{"BillID", Variant(bill_no)}}))});
}

Ref<VariantVector> OneLine(Variant bill_no, Variant entry_id, Variant qty) {
    return MakeList({Variant(MakeDict({{"BillID", std::move(bill_no)}, {"EntryID", std::move(entry_id)},
                                       {"Qty", std::move(qty)}}))});
}

class InputSafety : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [id, branch] : std::initializer_list<std::pair<int, const char*>>{{1, "3"}, {2, "2"}, {3, "3"}}) {
            AddOrder(env_.Db(), {.inter_id = id, .bill_no = fmt::format("PO-{}", id), .relate_br = branch});
            AddOrderLine(env_.Db(), {.inter_id = id, .entry_id = 1});
            AddNotice(env_.Db(), {.inter_id = id, .bill_no = fmt::format("DN-{}", id), .relate_br = branch});
            AddNoticeLine(env_.Db(), {.inter_id = id, .entry_id = 1});
        }
        AddOrder(env_.Db(), {.inter_id = 4, .bill_no = "O'Brien-4", .tran_status = "1"});
        AddOrderLine(env_.Db(), {.inter_id = 4, .entry_id = 1});
        env_.Ui().Clear();
        before_ = Snapshot(env_.Db());
    }

    void ExpectDatabaseUnchanged() { EXPECT_EQ(Snapshot(env_.Db()), before_); }

    DataEnv env_;
    Ref<DataTrans> data_ = MakeRef<DataTrans>();
    std::string before_;
};

TEST_F(InputSafety, QuotesInTheBranchNumberAndNameFindThatBranch) {
    for (BillKind kind : kKinds) {
        EXPECT_EQ(InterIds(Extract(*data_, kind, "", true, Branch(" BR'03 ", "O'Brien Trading"))),
                  (std::vector<int32_t>{1, 3}));
    }
    ExpectDatabaseUnchanged();
}

TEST_F(InputSafety, InjectedBranchTextsMatchNoBranch) {
    const std::pair<const char*, const char*> attempts[] = {
        {"BR02' OR '1'='1", "x"},
        {"BR02", "Branch Two' OR FName<>'"},
        {"BR02'; DELETE FROM POOrder; --", "Branch Two"},
    };
    for (const auto& [number, name] : attempts) {
        SCOPED_TRACE(number);
        EXPECT_EQ(ErrorOf([&] { data_->GetPOOrdVect("", true, Branch(number, name)); }).Code(), ErrorCode::kNotFound);
    }
    ExpectDatabaseUnchanged();
}

TEST_F(InputSafety, QuotedBillNumbersChangeOnlyTheirOwnBill) {
    data_->UnSetOrdTranStatus(OneOrder("O'Brien-4"));
    EXPECT_EQ(env_.Db().Rows("SELECT FInterID FROM POOrder WHERE FTranStatus=1"), (std::vector<std::vector<std::string>>{}));
    data_->SetOrdTranStatus("4");
    before_ = Snapshot(env_.Db());
    for (const char* attempt : {"x' OR '1'='1", "PO-1' OR FBillNo<>'", "'; DELETE FROM POOrder; --"}) {
        data_->UnSetOrdTranStatus(OneOrder(attempt));
        data_->SetOrderAffirmStatus(OneOrder(attempt), 1);
        data_->AffirmPurchaseOrder(OneLine(Variant(attempt), Variant(int32_t{1}), Variant(int32_t{9})));
    }
    EXPECT_TRUE(env_.Ui().Messages().empty());
    ExpectDatabaseUnchanged();
}

// Lists that are not internal numbers separated by commas.
const char* const kBadLists[] = {
    "1) OR (1=1", "12;DELETE FROM POOrder", "12,", ",12", "1 2", "0x10", "12.5", "", "   ", "1e3", "12,--", "12)",
};

TEST_F(InputSafety, MalformedListsFailExtractionWithAClearError) {
    for (const char* list : kBadLists) {
        for (BillKind kind : kKinds) {
            SCOPED_TRACE(list);
            const auto error = ErrorOf([&] { Extract(*data_, kind, list); });
            EXPECT_EQ(error.Code(), ErrorCode::kBadInput);
            EXPECT_NE(error.Description().find(std::string("'") + list + "'"), std::string::npos)
                << error.Description();
        }
    }
    ExpectDatabaseUnchanged();
}

TEST_F(InputSafety, MalformedListsAreReportedByTheTransmissionUpdatesAndChangeNothing) {
    for (const char* list : kBadLists) {
        SCOPED_TRACE(list);
        env_.Ui().Clear();
        data_->SetOrdTranStatus(list);
        data_->SetNoticeTranStatus(list);
        const auto messages = env_.Ui().Messages();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].text.rfind("更新订单传输标志失败。The list of internal numbers", 0), 0u) << messages[0].text;
        EXPECT_EQ(messages[1].text.rfind("更新通知单传输标志失败。The list of internal numbers", 0), 0u)
            << messages[1].text;
    }
    ExpectDatabaseUnchanged();
}

TEST_F(InputSafety, WellFormedListsWithBlanksAndSignsAreAccepted) {
    EXPECT_EQ(InterIds(data_->GetPOOrdVect(" 3 ,\t1")), (std::vector<int32_t>{1, 3}));
    EXPECT_TRUE(data_->GetSEOutVect("-3,-1").IsNothing());
    data_->SetNoticeTranStatus(" 2 , 3 ");
    EXPECT_TRUE(env_.Ui().Messages().empty());
    EXPECT_EQ(env_.Db().Rows("SELECT FInterID FROM SEOutStock WHERE FTranStatus=1 ORDER BY 1"),
              (std::vector<std::vector<std::string>>{{"2"}, {"3"}}));
}

TEST_F(InputSafety, QuantityOrLineThatIsNotANumberRefusesTheWholeBatch) {
    struct Refused {
        Variant entry;
        Variant qty;
        const char* key;  // the one the message names
    };
    const Variant one(int32_t{1});
    const Refused refused[] = {
        {one, Variant("3; DROP TABLE x"), "\"Qty\""},
        {Variant("1 OR 1=1"), Variant(int32_t{3}), "\"EntryID\""},
        {one, Variant("abc"), "\"Qty\""},
        {one, Variant(""), "\"Qty\""},
        {one, Variant("1,5"), "\"Qty\""},
        {one, Variant("0x10"), "\"Qty\""},
        {one, Variant(true), "\"Qty\""},
        {one, Variant::Null(), "\"Qty\""},
        {Variant(platform::Date::FromParts(2024, 1, 1)), Variant(int32_t{3}), "\"EntryID\""},
        // Numbers, but beyond what the database can hold: they would be stored as infinity.
        {one, Dec("1E+6000"), "\"Qty\""},
        {Dec("-1E+400"), Variant(int32_t{3}), "\"EntryID\""},
    };
    for (const auto& [entry, qty, key] : refused) {
        SCOPED_TRACE(Json(entry).substr(0, 40) + " / " + Json(qty).substr(0, 40));
        env_.Ui().Clear();
        // A good line first: nothing of the batch may run.
        auto lines = OneLine(Variant("PO-1"), Variant(int32_t{1}), Variant(int32_t{7}));
        lines->Add(Variant(MakeDict({{"BillID", Variant("PO-2")}, {"EntryID", entry}, {"Qty", qty}})));
        data_->AffirmPurchaseOrder(lines);
        const auto messages = env_.Ui().Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text.rfind("更新订单确认数量失败。", 0), 0u) << messages[0].text;
        EXPECT_NE(messages[0].text.find(key), std::string::npos) << messages[0].text;
    }
    ExpectDatabaseUnchanged();
}

TEST(NumberText, QuantitiesAndLinesOfAnyNumericKindEnterInPlainDecimalForm) {
    orba::testing::RegisterEverything();
    auto ui = std::make_shared<platform::RecordingUiService>();
    platform::ScopedUiService ui_scope(ui);
    RecordingConnection connection;
    const std::pair<Variant, const char*> cases[] = {
        {Variant(int32_t{3}), "3"},
        {Variant(int16_t{2}), "2"},
        {Dec("2.50"), "2.5"},
        {Dec("1E+3"), "1000"},
        {Variant(2.5), "2.5"},
        {Variant(1e-7), "0.0000001"},
        {Variant(1e20), "100000000000000000000"},
        {Variant(" 4 "), "4"},
        {Variant("+5"), "5"},
        {Variant("-0.5"), "-0.5"},
        {Variant("1e2"), "100"},
    };
    auto data = MakeRef<DataTrans>();
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        connection.Log().calls.clear();
        data->AffirmPurchaseOrder(OneLine(Variant("A1"), value, value));
        ASSERT_EQ(connection.Log().calls.size(), 1u);
        EXPECT_EQ(connection.Log().calls[0].sql, hostkit::testing::AffirmPurchaseOrderBatch({{"A1", text, text}}));
    }
    EXPECT_TRUE(ui->Messages().empty());
}

TEST(NumberText, RefusedValuesRunNoStatementAtAll) {
    orba::testing::RegisterEverything();
    auto ui = std::make_shared<platform::RecordingUiService>();
    platform::ScopedUiService ui_scope(ui);
    RecordingConnection connection;
    auto data = MakeRef<DataTrans>();
    data->AffirmPurchaseOrder(OneLine(Variant("A1"), Variant(int32_t{1}), Variant("3; DROP TABLE x")));
    data->SetOrdTranStatus("1) OR (1=1");
    data->SetNoticeTranStatus("1) OR (1=1");
    for (BillKind kind : kKinds) {
        EXPECT_EQ(ErrorOf([&] { Extract(*data, kind, "1) OR (1=1"); }).Code(), ErrorCode::kBadInput);
    }
    EXPECT_TRUE(connection.Log().calls.empty());
    EXPECT_EQ(ui->Messages().size(), 3u);
}

}  // namespace
}  // namespace orba::data::testing
