// Extraction of purchase orders, delivery notices and return notices from a real branch
// database: which bills are selected, how rows become bill records, and the values they carry.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <set>

#include "data/data_fixtures.h"

namespace orba::data::testing {
namespace {

using host::VariantDictionary;
using host::VariantVector;
using platform::ErrorCode;
using platform::MakeRef;

constexpr BillKind kKinds[] = {BillKind::kPurchaseOrder, BillKind::kDeliveryNotice, BillKind::kReturnNotice};

std::string KindName(BillKind kind) { return ::testing::PrintToString(kind); }

class Extraction : public ::testing::Test {
protected:
    // One bill of the kind with one line; notices are delivery notices unless `tran_type` says otherwise.
    void AddBill(BillKind kind, int id, std::string tran_status = "0", std::string status = "1",
                 std::string relate_br = "2", int tran_type = 83) {
        const std::string no = fmt::format("B-{}", id);
        if (kind == BillKind::kPurchaseOrder) {
            AddOrder(env_.Db(), {.inter_id = id, .bill_no = no, .tran_status = tran_status, .status = status,
                                 .relate_br = relate_br});
            AddOrderLine(env_.Db(), {.inter_id = id, .entry_id = 1});
        } else {
            AddNotice(env_.Db(), {.inter_id = id, .bill_no = no, .tran_type = tran_type, .tran_status = tran_status,
                                  .status = status, .relate_br = relate_br});
            AddNoticeLine(env_.Db(), {.inter_id = id, .entry_id = 1});
        }
    }

    Ref<VariantVector> Run(BillKind kind, const std::string& ids, bool for_download = false,
                           const Ref<platform::Object>& branch = {}) {
        return Extract(*data_, kind, ids, for_download, branch);
    }

    DataEnv env_;
    Ref<DataTrans> data_ = MakeRef<DataTrans>();
};

// --- Purchase-order amounts --------------------------------------------------------------------

struct TaxCase {
    const char* name;
    std::optional<std::string> option;  // the system option's text; unset when absent
    std::string aux_price, cess, amount, discount, exchange_rate;
    std::vector<std::pair<std::string, std::string>> expected;  // key, decimal text or "NULL"
    friend void PrintTo(const TaxCase& c, std::ostream* os) { *os << c.name; }
};

const std::vector<std::pair<std::string, std::string>> kPricesIncludeTax = {
    {"Price", "100"},        {"TaxRate", "25"},      {"TaxPrice", "125"},        {"DiscountRate", "10"},
    {"AmtFor", "1000"},      {"Amt", "2500"},        {"TaxFor", "250"},          {"Tax", "500"},
    {"AmtTotalFor", "1250"}, {"AmtTotal", "2500"},   {"AmtDiscountFor", "125"},  {"AmtDiscount", "250"}};
const std::vector<std::pair<std::string, std::string>> kPricesWithoutTax = {
    {"Price", "100"},        {"TaxRate", "25"},      {"TaxPrice", "125"},        {"DiscountRate", "10"},
    {"AmtFor", "1000"},      {"Amt", "2000"},        {"TaxFor", "250"},          {"Tax", "500"},
    {"AmtTotalFor", "1250"}, {"AmtTotal", "2500"},   {"AmtDiscountFor", "125"},  {"AmtDiscount", "250"}};

const TaxCase kTaxCases[] = {
    {"OptionTrue", "True", "125", "25", "1250", "10", "2", kPricesIncludeTax},
    {"OptionTrueAsOne", "1", "125", "25", "1250", "10", "2", kPricesIncludeTax},
    {"OptionFalse", "False", "100", "25", "1000", "10", "2", kPricesWithoutTax},
    {"OptionAbsentMeansFalse", std::nullopt, "100", "25", "1000", "10", "2", kPricesWithoutTax},
    {"SeventeenPercentStaysExact", "False", "100", "17", "100", "0", "1",
     {{"Price", "100"}, {"TaxPrice", "117"}, {"TaxFor", "17"}, {"AmtTotalFor", "117"}, {"AmtTotal", "117"},
      {"AmtDiscount", "0"}}},
    {"OptionTrueSeventeenPercentStaysExact", "True", "117", "17", "11.7", "0", "1.5",
     {{"Price", "100"}, {"AmtFor", "10"}, {"TaxFor", "1.7"}, {"Tax", "2.55"}, {"Amt", "17.55"}}},
    {"NullExchangeRateNullsOnlyTheHomeAmounts", "True", "125", "25", "1250", "10", "NULL",
     {{"Price", "100"}, {"TaxPrice", "125"}, {"AmtFor", "1000"}, {"TaxFor", "250"}, {"AmtTotalFor", "1250"},
      {"AmtDiscountFor", "125"}, {"Amt", "NULL"}, {"Tax", "NULL"}, {"AmtTotal", "NULL"}, {"AmtDiscount", "NULL"}}},
    {"NegativeHundredPercentWithoutTaxInPriceDoesNotDivide", "False", "100", "-100", "1000", "0", "1",
     {{"Price", "100"}, {"TaxPrice", "0"}, {"AmtTotalFor", "0"}, {"TaxFor", "-1000"}}},
};

class OrderAmounts : public Extraction, public ::testing::WithParamInterface<TaxCase> {};

TEST_P(OrderAmounts, AreExactDecimalsFromTheStoredLine) {
    const TaxCase& c = GetParam();
    if (c.option) SetSystemOption(env_.Db(), "IC", "POOrderTaxInPrice", *c.option);
    AddOrder(env_.Db(), {.inter_id = 12, .bill_no = "PO-12", .exchange_rate = c.exchange_rate});
    AddOrderLine(env_.Db(), {.inter_id = 12, .entry_id = 1, .aux_price = c.aux_price, .cess = c.cess,
                             .tax_rate = c.discount, .amount = c.amount});
    auto bills = data_->GetPOOrdVect("12");
    auto& line = Dict(EntriesOf(BillAt(bills, 1)).Item(1));
    for (const auto& [key, text] : c.expected) {
        // Equality of Variants also checks the kind: Decimal, never Double.
        EXPECT_TRUE(line.Value(key) == (text == "NULL" ? Variant::Null() : Dec(text)))
            << key << " is " << Json(line.Value(key));
    }
}

INSTANTIATE_TEST_SUITE_P(TaxInPrice, OrderAmounts, ::testing::ValuesIn(kTaxCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Extraction, MinusHundredPercentTaxWithPricesIncludingTaxIsADivisionByZero) {
    SetSystemOption(env_.Db(), "IC", "POOrderTaxInPrice", "True");
    AddOrder(env_.Db(), {.inter_id = 12, .bill_no = "PO-12"});
    AddOrderLine(env_.Db(), {.inter_id = 12, .entry_id = 1, .cess = "-100"});
    EXPECT_EQ(ErrorOf([&] { data_->GetPOOrdVect("12"); }).Code(), ErrorCode::kDivisionByZero);
}

TEST_F(Extraction, OrderRecordCarriesEveryHeaderAndLineValue) {
    AddOrder(env_.Db(), {.inter_id = 12, .bill_no = "PO-12", .exchange_rate = "6.5"});
    AddOrderLine(env_.Db(), {.inter_id = 12, .entry_id = 1, .aux_qty = "4", .qty = "48", .aux_price = "3",
                             .amount = "12", .date = "'2024-04-20'", .note = "' urgent '", .item = 2});
    auto bills = data_->GetPOOrdVect("12");
    auto& bill = BillAt(bills, 1);
    const std::pair<const char*, const char*> header[] = {
        {"BillType", "71"},
        {"TranStatus", "0"},
        {"BillInterID", "12"},
        {"Year", "2024"},
        {"Period", "3"},
        {"Date", R"({"$date": "2024-03-05"})"},
        {"BillID", R"("PO-12")"},
        {"Customer", R"({"Name":"Supplier One","Number":"S01"})"},
        {"Dept", R"({"Name":"Purchasing","Number":"D01"})"},
        {"BrIDRsv", R"({"Name":"Branch Two","Number":"BR02"})"},
        {"BrID", R"({"Name":"Branch One","Number":"BR01"})"},
        {"Currency", R"({"Name":"Yuan","Number":"RMB"})"},
        {"Doer", R"({"Name":"Clerk","Number":"E01"})"},
        {"OrderBrID", R"({"Name":"Branch One","Number":"BR01"})"},
        {"Director", R"({"Name":"Manager","Number":"E02"})"},
        {"ExchangeRate", R"({"$decimal": "6.5"})"},
        {"Preparer", R"("Li")"},
    };
    for (const auto& [key, json] : header) EXPECT_EQ(Json(bill.Value(key)), json) << key;
    auto& line = Dict(EntriesOf(bill).Item(1));
    const std::pair<const char*, const char*> values[] = {
        {"Item", R"({"Name":"Nut","Number":"I02","Model":null})"},
        {"MeasureUnit", R"({"Name":"Piece","Number":"PCS","GroupName":"Count","GroupNumber":"G01"})"},
        {"BillID", R"("PO-12")"},
        {"EntryID", "1"},
        {"Qty", R"({"$decimal": "4"})"},
        {"QtyBase", R"({"$decimal": "48"})"},
        {"Amt", R"({"$decimal": "78"})"},
        {"Date", R"({"$date": "2024-03-05"})"},
        {"Note", R"(" urgent ")"},  // blanks kept as stored
        {"TranDate", R"({"$date": "2024-04-20"})"},
    };
    for (const auto& [key, json] : values) EXPECT_EQ(Json(line.Value(key)), json) << key;
}

// --- Selection -----------------------------------------------------------------------------------

class Selection : public Extraction, public ::testing::WithParamInterface<BillKind> {
protected:
    void SetUp() override {
        const BillKind k = GetParam();
        // Return notices (82) and delivery notices (83) share the table, and the download
        // selection does not look at the transaction type.
        AddBill(k, 1, "0", "1", "2", 83);
        AddBill(k, 2, "NULL", "2", "2", 82);
        AddBill(k, 3, "1", "1", "2");     // transmitted
        AddBill(k, 4, "0", "0", "2");     // status 0
        AddBill(k, 5, "0", "3", "2");     // status 3
        AddBill(k, 6, "0", "1", "4");     // for another branch
        AddBill(k, 7, "NULL", "1", "NULL");  // for no branch
    }
};

TEST_P(Selection, DownloadTakesUntransmittedBillsInStatusOneOrTwoForTheBranch) {
    EXPECT_EQ(InterIds(Run(GetParam(), "", true, Branch("BR02", "Branch Two"))), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(InterIds(Run(GetParam(), "", true, Branch("BR04", "North  Side"))), (std::vector<int32_t>{6}));
}

TEST_P(Selection, BlanksAroundTheBranchNumberAndNameAreIgnoredButNotThoseInside) {
    EXPECT_EQ(InterIds(Run(GetParam(), "", true, Branch("  BR02 ", " Branch Two  "))), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(InterIds(Run(GetParam(), "", true, Branch(" BR04", "North  Side "))), (std::vector<int32_t>{6}));
    EXPECT_EQ(ErrorOf([&] { Run(GetParam(), "", true, Branch("BR04", "North Side")); }).Code(),
              ErrorCode::kNotFound);
}

TEST_P(Selection, BranchIsFoundWhateverTheLetterCaseOfItsNumberAndName) {
    EXPECT_EQ(InterIds(Run(GetParam(), "", true, Branch("br02", "BRANCH two"))), (std::vector<int32_t>{1, 2}));
    env_.Db().Exec("UPDATE t_SonCompany SET FName='North  Side   ' WHERE FNumber='BR04'");
    EXPECT_EQ(InterIds(Run(GetParam(), "", true, Branch("Br04", "north  side"))), (std::vector<int32_t>{6}));
}

TEST_P(Selection, ListedBillsComeBackWhateverTheirStatusInAscendingOrder) {
    EXPECT_EQ(InterIds(Run(GetParam(), "7,5, 3 ,6,4")), (std::vector<int32_t>{3, 4, 5, 6, 7}));
}

TEST_P(Selection, BillWithoutRelatedBranchHasANullBranchRecord) {
    auto bills = Run(GetParam(), "7");
    auto& bill = BillAt(bills, 1);
    EXPECT_EQ(Json(bill.Value("BrIDRsv")), R"({"Name":null,"Number":null})");
}

TEST_P(Selection, NoRowsGiveNothingNotAnEmptyList) {
    EXPECT_TRUE(Run(GetParam(), "999").IsNothing());
    EXPECT_TRUE(Run(GetParam(), "", true, Branch("BR'03", "O'Brien Trading")).IsNothing());
}

TEST_P(Selection, UnknownBranchOrNoBranchIsAClearError) {
    const auto unknown = ErrorOf([&] { Run(GetParam(), "", true, Branch("BR09", "Nowhere")); });
    EXPECT_EQ(unknown.Code(), ErrorCode::kNotFound);
    EXPECT_NE(unknown.Description().find("'BR09'"), std::string::npos) << unknown.Description();
    EXPECT_NE(unknown.Description().find("'Nowhere'"), std::string::npos) << unknown.Description();
    EXPECT_EQ(ErrorOf([&] { Run(GetParam(), "", true, {}); }).Code(), ErrorCode::kObjectRequired);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Selection, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return KindName(info.param); });

// --- Grouping and record shape --------------------------------------------------------------

class Grouping : public Extraction, public ::testing::WithParamInterface<BillKind> {
protected:
    void SetUp() override {
        const BillKind k = GetParam();
        // Lines stored out of order; bill 15 comes first in the list.
        for (int id : {12, 15}) {
            if (k == BillKind::kPurchaseOrder) {
                AddOrder(env_.Db(), {.inter_id = id, .bill_no = fmt::format("B-{}", id)});
            } else {
                AddNotice(env_.Db(), {.inter_id = id, .bill_no = fmt::format("B-{}", id),
                                      .tran_type = k == BillKind::kReturnNotice ? 82 : 83});
            }
        }
        for (auto [id, entry] : std::initializer_list<std::pair<int, int>>{{12, 3}, {15, 1}, {12, 1}, {12, 2}}) {
            if (k == BillKind::kPurchaseOrder) {
                AddOrderLine(env_.Db(), {.inter_id = id, .entry_id = entry});
            } else {
                AddNoticeLine(env_.Db(), {.inter_id = id, .entry_id = entry});
            }
        }
    }
};

TEST_P(Grouping, EachBillHasItsOwnLinesInLineOrder) {
    auto bills = Run(GetParam(), "15,12");
    ASSERT_EQ(InterIds(bills), (std::vector<int32_t>{12, 15}));
    auto& first = EntriesOf(BillAt(bills, 1));
    auto& second = EntriesOf(BillAt(bills, 2));
    EXPECT_NE(&first, &second);
    std::vector<int32_t> entries;
    for (int32_t i = 1; i <= first.UpperBound(); ++i) {
        entries.push_back(Dict(first.Item(i)).Value("EntryID").ToLong());
        EXPECT_EQ(Dict(first.Item(i)).Value("BillID"), Variant("B-12"));
    }
    EXPECT_EQ(entries, (std::vector<int32_t>{1, 2, 3}));
    ASSERT_EQ(second.UpperBound(), 1);
    EXPECT_EQ(Dict(second.Item(1)).Value("BillID"), Variant("B-15"));
}

TEST_P(Grouping, EveryReferenceRecordIsASeparateObject) {
    auto bills = Run(GetParam(), "12,15");
    std::set<const platform::Object*> seen;
    int references = 0;
    auto collect = [&](const VariantDictionary& record) {
        for (size_t i = 0; i < record.Size(); ++i) {
            const Variant& v = record.ValueAt(i);
            if (!v.IsObject() || dynamic_cast<VariantVector*>(v.AsObject().Get())) continue;
            ++references;
            seen.insert(v.AsObject().Get());
        }
    };
    for (int32_t b = 1; b <= 2; ++b) {
        auto& bill = BillAt(bills, b);
        collect(bill);
        auto& lines = EntriesOf(bill);
        for (int32_t i = 1; i <= lines.UpperBound(); ++i) collect(Dict(lines.Item(i)));
        // This branch appears twice in every bill, each time in its own record.
        const char* twin = GetParam() == BillKind::kPurchaseOrder ? "OrderBrID" : "SupplyBr";
        EXPECT_EQ(Json(bill.Value("BrID")), Json(bill.Value(twin)));
    }
    EXPECT_EQ(references, GetParam() == BillKind::kPurchaseOrder ? 8 * 2 + 2 * 4 : 10 * 2 + 2 * 4);
    EXPECT_EQ(seen.size(), static_cast<size_t>(references));
}

TEST_P(Grouping, KeysAreStoredInTheExchangeOrder) {
    auto bills = Run(GetParam(), "12");
    auto& bill = BillAt(bills, 1);
    auto& line = Dict(EntriesOf(bill).Item(1));
    const std::vector<std::string> order_keys = {
        "BillType", "TranStatus", "BillInterID", "Year", "Period", "Date", "BillID", "Customer", "Dept", "BrIDRsv",
        "BrID", "Currency", "Doer", "OrderBrID", "Director", "ExchangeRate", "Preparer", "ReqEntry"};
    const std::vector<std::string> notice_keys = {
        "BillType", "TranStatus", "BillInterID", "Year", "Period", "Date", "BillID", "OrderID", "Customer", "Dept",
        "SupplyBr", "Currency", "Doer", "BrIDRsv", "BrID", "Director", "SaleType", "SettleType", "ExchangeRate",
        "Preparer", "NoticeEntry"};
    const std::vector<std::string> order_line_keys = {
        "Item", "MeasureUnit", "BillID", "EntryID", "Qty", "QtyBase", "Price", "TaxRate", "TaxPrice",
        "DiscountRate", "AmtFor", "Amt", "TaxFor", "Tax", "AmtTotalFor", "AmtTotal", "AmtDiscountFor",
        "AmtDiscount", "Date", "Note", "TranDate"};
    const std::vector<std::string> delivery_line_keys = {
        "Item", "MeasureUnit", "BillID", "EntryID", "SourceEntryID", "Qty", "QtyBase", "PriceRef", "AmtRef", "Note"};
    const std::vector<std::string> return_line_keys = {
        "Item", "MeasureUnit", "BillID", "EntryID", "Qty", "QtyBase", "PriceRef", "AmtRef", "Note"};
    switch (GetParam()) {
        case BillKind::kPurchaseOrder:
            EXPECT_EQ(KeysOf(bill), order_keys);
            EXPECT_EQ(KeysOf(line), order_line_keys);
            break;
        case BillKind::kDeliveryNotice:
            EXPECT_EQ(KeysOf(bill), notice_keys);
            EXPECT_EQ(KeysOf(line), delivery_line_keys);
            break;
        case BillKind::kReturnNotice:
            EXPECT_EQ(KeysOf(bill), notice_keys);
            EXPECT_EQ(KeysOf(line), return_line_keys);
            break;
    }
    EXPECT_EQ(KeysOf(Dict(bill.Value("Customer"))), (std::vector<std::string>{"Name", "Number"}));
    EXPECT_EQ(KeysOf(Dict(line.Value("Item"))), (std::vector<std::string>{"Name", "Number", "Model"}));
    EXPECT_EQ(KeysOf(Dict(line.Value("MeasureUnit"))),
              (std::vector<std::string>{"Name", "Number", "GroupName", "GroupNumber"}));
    if (GetParam() != BillKind::kPurchaseOrder) {
        EXPECT_EQ(KeysOf(Dict(bill.Value("SaleType"))), (std::vector<std::string>{"Name", "ClassID"}));
        EXPECT_EQ(KeysOf(Dict(bill.Value("SettleType"))), (std::vector<std::string>{"Name", "ClassID"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Grouping, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return KindName(info.param); });

// --- Notice values -----------------------------------------------------------------------------

TEST_F(Extraction, ReturnLinesCarryQuantitiesAndAmountNegatedAndThePriceAsStored) {
    AddNotice(env_.Db(), {.inter_id = 31, .bill_no = "RN-31", .tran_type = 82});
    AddNoticeLine(env_.Db(), {.inter_id = 31, .entry_id = 1, .aux_qty = "4", .qty = "8", .aux_price = "2.5",
                              .amount = "10"});
    AddNoticeLine(env_.Db(), {.inter_id = 31, .entry_id = 2, .aux_qty = "-3", .qty = "-6", .aux_price = "1",
                              .amount = "-3"});
    AddNoticeLine(env_.Db(), {.inter_id = 31, .entry_id = 3, .aux_qty = "NULL", .qty = "5", .aux_price = "NULL",
                              .amount = "NULL"});
    struct Expected {
        const char* qty;
        const char* qty_base;
        const char* price;
        const char* amount;
    };
    const Expected returned[] = {{"-4", "-8", "2.5", "-10"}, {"3", "6", "1", "3"}, {"NULL", "-5", "NULL", "NULL"}};
    const Expected delivered[] = {{"4", "8", "2.5", "10"}, {"-3", "-6", "1", "-3"}, {"NULL", "5", "NULL", "NULL"}};
    auto value = [](const char* text) { return std::string(text) == "NULL" ? Variant::Null() : Dec(text); };
    auto check = [&](const Ref<VariantVector>& bills, const Expected* expected) {
        auto& lines = EntriesOf(BillAt(bills, 1));
        ASSERT_EQ(lines.UpperBound(), 3);
        for (int32_t i = 1; i <= 3; ++i) {
            SCOPED_TRACE(i);
            auto& line = Dict(lines.Item(i));
            const Expected& e = expected[i - 1];
            EXPECT_TRUE(line.Value("Qty") == value(e.qty)) << Json(line.Value("Qty"));
            EXPECT_TRUE(line.Value("QtyBase") == value(e.qty_base)) << Json(line.Value("QtyBase"));
            EXPECT_TRUE(line.Value("PriceRef") == value(e.price)) << Json(line.Value("PriceRef"));
            EXPECT_TRUE(line.Value("AmtRef") == value(e.amount)) << Json(line.Value("AmtRef"));
        }
    };
    auto returns = data_->GetSEInVect("31");
    auto deliveries = data_->GetSEOutVect("31");
    check(returns, returned);
    check(deliveries, delivered);
    // The same notice read both ways has the same header.
    auto& a = BillAt(returns, 1);
    auto& b = BillAt(deliveries, 1);
    for (size_t i = 0; i + 1 < a.Size(); ++i) EXPECT_EQ(Json(a.ValueAt(i)), Json(b.ValueAt(i))) << a.KeyAt(i);
}

TEST_F(Extraction, OrderIdIsThePurchaseOrderNumberOfTheSalesOrderOrEmptyText) {
    AddSalesOrder(env_.Db(), 141, "NULL");
    AddSalesOrder(env_.Db(), 142, "'PO-9'");
    const std::pair<int, const char*> notices[] = {{41, "141"}, {42, "142"}, {43, "0"}, {44, "NULL"}};
    for (auto [id, cnn] : notices) {
        AddNotice(env_.Db(), {.inter_id = id, .bill_no = fmt::format("DN-{}", id), .cnn_inter_id = cnn});
        AddNoticeLine(env_.Db(), {.inter_id = id, .entry_id = 1});
    }
    for (BillKind kind : {BillKind::kDeliveryNotice, BillKind::kReturnNotice}) {
        auto bills = Run(kind, "41,42,43,44");
        std::vector<Variant> order_ids;
        for (int32_t i = 1; i <= 4; ++i) order_ids.push_back(BillAt(bills, i).Value("OrderID"));
        EXPECT_EQ(order_ids, (std::vector<Variant>{Variant(""), Variant("PO-9"), Variant(""), Variant("")}));
    }
}

TEST_F(Extraction, SourceEntryIdComesFromTheSalesOrderLineOrIsZero) {
    // The sub-select looks for a sales order with the notice's own internal number.
    AddSalesOrder(env_.Db(), 51, "NULL");
    AddSalesOrderLine(env_.Db(), 51, 2, "9");
    AddSalesOrderLine(env_.Db(), 51, 3, "NULL");
    AddNotice(env_.Db(), {.inter_id = 51, .bill_no = "DN-51"});
    AddNoticeLine(env_.Db(), {.inter_id = 51, .entry_id = 1, .source_entry_id = "2"});
    AddNoticeLine(env_.Db(), {.inter_id = 51, .entry_id = 2, .source_entry_id = "5"});
    AddNoticeLine(env_.Db(), {.inter_id = 51, .entry_id = 3, .source_entry_id = "3"});
    auto bills = data_->GetSEOutVect("51");
    auto& lines = EntriesOf(BillAt(bills, 1));
    EXPECT_EQ(Dict(lines.Item(1)).Value("SourceEntryID"), Variant(int32_t{9}));
    EXPECT_EQ(Dict(lines.Item(2)).Value("SourceEntryID"), Variant(int16_t{0}));
    EXPECT_EQ(Dict(lines.Item(3)).Value("SourceEntryID"), Variant(int16_t{0}));
}

TEST_F(Extraction, SaleAndSettlementTypesHaveANameAndClassIdZeroButNoNumber) {
    AddNotice(env_.Db(), {.inter_id = 61, .bill_no = "DN-61"});
    AddNotice(env_.Db(), {.inter_id = 62, .bill_no = "DN-62", .sale_style = "NULL", .settle = "NULL"});
    AddNoticeLine(env_.Db(), {.inter_id = 61, .entry_id = 1});
    AddNoticeLine(env_.Db(), {.inter_id = 62, .entry_id = 1});
    auto bills = data_->GetSEOutVect("61,62");
    EXPECT_EQ(Json(BillAt(bills, 1).Value("SaleType")), R"({"Name":"Cash sale","ClassID":{"$int16": 0}})");
    EXPECT_EQ(Json(BillAt(bills, 1).Value("SettleType")), R"({"Name":"Cash","ClassID":{"$int16": 0}})");
    EXPECT_EQ(Json(BillAt(bills, 2).Value("SaleType")), R"({"Name":null,"ClassID":{"$int16": 0}})");
    EXPECT_EQ(Json(BillAt(bills, 2).Value("SettleType")), R"({"Name":null,"ClassID":{"$int16": 0}})");
}

// --- Accounting year and period ----------------------------------------------------------------

class Periods : public Extraction, public ::testing::WithParamInterface<BillKind> {};

TEST_P(Periods, YearAndPeriodComeFromTheSystemInformationComponent) {
    SetSystemOption(env_.Db(), "GL", "PeriodStartDate", "2023-04-01");
    const BillKind k = GetParam();
    const int tran_type = k == BillKind::kReturnNotice ? 82 : 83;
    for (auto [id, date] : std::initializer_list<std::pair<int, const char*>>{{1, "'2024-03-05'"}, {2, "'2024-04-10'"}}) {
        if (k == BillKind::kPurchaseOrder) {
            AddOrder(env_.Db(), {.inter_id = id, .bill_no = fmt::format("B-{}", id), .date = date});
            AddOrderLine(env_.Db(), {.inter_id = id, .entry_id = 1});
        } else {
            AddNotice(env_.Db(), {.inter_id = id, .bill_no = fmt::format("B-{}", id), .tran_type = tran_type,
                                  .date = date});
            AddNoticeLine(env_.Db(), {.inter_id = id, .entry_id = 1});
        }
    }
    auto bills = Run(k, "1,2");
    EXPECT_EQ(BillAt(bills, 1).Value("Year"), Variant(int32_t{2023}));
    EXPECT_EQ(BillAt(bills, 1).Value("Period"), Variant(int32_t{12}));
    EXPECT_EQ(BillAt(bills, 2).Value("Year"), Variant(int32_t{2024}));
    EXPECT_EQ(BillAt(bills, 2).Value("Period"), Variant(int32_t{1}));
}

// The host is asked once for each bill date of an extraction (with the year carried in from
// the bill before), not once per bill: on a server database every question is a round trip.
TEST_P(Periods, YearVariableIsCarriedFromBillToBillAndEachDateIsAskedOnce) {
    FakeSysInfo sys_info;
    // The second call leaves the year as it was given.
    sys_info.Script().next_year = [](int call) -> std::optional<int32_t> {
        if (call == 2) return std::nullopt;
        return 2030 + call;
    };
    for (int id : {1, 2, 3, 4}) AddBill(GetParam(), id, "0", "1", "2", GetParam() == BillKind::kReturnNotice ? 82 : 83);
    env_.Db().Exec(fmt::format("UPDATE {} SET FDate='2024-05-06' WHERE FInterID=4",
                               GetParam() == BillKind::kPurchaseOrder ? "POOrder" : "SEOutStock"));
    auto bills = Run(GetParam(), "1,2,3,4");
    // Bill 3 has bill 2's date and year: its answer is bill 2's, not asked again.
    EXPECT_EQ(sys_info.Script().years_passed_in,
              (std::vector<Variant>{Variant(int32_t{0}), Variant(int32_t{2031}), Variant(int32_t{2031})}));
    EXPECT_EQ(sys_info.Script().dates_passed_in.back(), Variant(platform::Date::FromParts(2024, 5, 6)));
    std::vector<std::pair<int32_t, int32_t>> year_period;
    for (int32_t i = 1; i <= 4; ++i) {
        year_period.emplace_back(BillAt(bills, i).Value("Year").AsLong(), BillAt(bills, i).Value("Period").AsLong());
    }
    EXPECT_EQ(year_period, (std::vector<std::pair<int32_t, int32_t>>{{2031, 1}, {2031, 2}, {2031, 2}, {2033, 3}}));
    // Purchase orders also ask it for the tax-in-price option, once.
    EXPECT_EQ(sys_info.Script().created, GetParam() == BillKind::kPurchaseOrder ? 4 : 3);
}

TEST_P(Periods, FailingPeriodLookUpFailsTheExtraction) {
    FakeSysInfo sys_info;
    sys_info.Script().period_fails = true;
    AddBill(GetParam(), 1);
    const auto error = ErrorOf([&] { Run(GetParam(), "1"); });
    EXPECT_EQ(error.Description(), "the accounting calendar is closed");
}

INSTANTIATE_TEST_SUITE_P(Kinds, Periods, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return KindName(info.param); });

TEST_F(Extraction, TaxInPriceOptionIsReadAsATruthValueAndFallsBackToFalse) {
    AddOrder(env_.Db(), {.inter_id = 12, .bill_no = "PO-12"});
    AddOrderLine(env_.Db(), {.inter_id = 12, .entry_id = 1, .aux_price = "125", .cess = "25"});
    FakeSysInfo sys_info;
    struct Case {
        const char* option;  // nullptr: the component fails to answer
        const char* price;   // nullptr: the extraction fails
    };
    const Case cases[] = {{"True", "100"},   {"true", "100"}, {" TRUE ", "100"}, {"1", "100"},  {"-1", "100"},
                          {"False", "125"},  {"0", "125"},    {nullptr, "125"},   {"yes", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option ? c.option : "(fails)");
        sys_info.Script().option_fails = c.option == nullptr;
        sys_info.Script().option = c.option ? c.option : "";
        if (c.price) {
            auto bills = data_->GetPOOrdVect("12");
            auto& line = Dict(EntriesOf(BillAt(bills, 1)).Item(1));
            EXPECT_TRUE(line.Value("Price") == Dec(c.price)) << Json(line.Value("Price"));
        } else {
            EXPECT_EQ(ErrorOf([&] { data_->GetPOOrdVect("12"); }).Code(), ErrorCode::kTypeMismatch);
        }
    }
}

}  // namespace
}  // namespace orba::data::testing
