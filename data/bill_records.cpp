#include "data/bill_records.h"

#include "host/variant_dictionary.h"

namespace orba::data {

using host::VariantDictionary;
using host::VariantVector;
using platform::MakeRef;
using platform::Ref;
using platform::Variant;

namespace {

// The keys of the records built here, each looked up once in the shared key table.
namespace rk {
using host::RecordKey;
const RecordKey kName{key::kName};
const RecordKey kNumber{key::kNumber};
const RecordKey kBillType{key::kBillType};
const RecordKey kTranStatus{key::kTranStatus};
const RecordKey kBillInterID{key::kBillInterID};
const RecordKey kYear{key::kYear};
const RecordKey kPeriod{key::kPeriod};
const RecordKey kDate{key::kDate};
const RecordKey kBillID{key::kBillID};
const RecordKey kOrderID{key::kOrderID};
const RecordKey kEntryID{key::kEntryID};
const RecordKey kQty{key::kQty};
const RecordKey kClassID{"ClassID"};
const RecordKey kCustomer{"Customer"};
const RecordKey kDept{"Dept"};
const RecordKey kBrIDRsv{"BrIDRsv"};
const RecordKey kBrID{"BrID"};
const RecordKey kCurrency{"Currency"};
const RecordKey kDoer{"Doer"};
const RecordKey kOrderBrID{"OrderBrID"};
const RecordKey kDirector{"Director"};
const RecordKey kExchangeRate{"ExchangeRate"};
const RecordKey kPreparer{"Preparer"};
const RecordKey kSupplyBr{"SupplyBr"};
const RecordKey kSaleType{"SaleType"};
const RecordKey kSettleType{"SettleType"};
const RecordKey kModel{"Model"};
const RecordKey kItem{"Item"};
const RecordKey kGroupName{"GroupName"};
const RecordKey kGroupNumber{"GroupNumber"};
const RecordKey kMeasureUnit{"MeasureUnit"};
const RecordKey kQtyBase{"QtyBase"};
const RecordKey kPrice{"Price"};
const RecordKey kTaxRate{"TaxRate"};
const RecordKey kTaxPrice{"TaxPrice"};
const RecordKey kDiscountRate{"DiscountRate"};
const RecordKey kAmtFor{"AmtFor"};
const RecordKey kAmt{"Amt"};
const RecordKey kTaxFor{"TaxFor"};
const RecordKey kTax{"Tax"};
const RecordKey kAmtTotalFor{"AmtTotalFor"};
const RecordKey kAmtTotal{"AmtTotal"};
const RecordKey kAmtDiscountFor{"AmtDiscountFor"};
const RecordKey kAmtDiscount{"AmtDiscount"};
const RecordKey kNote{"Note"};
const RecordKey kTranDate{"TranDate"};
const RecordKey kSourceEntryID{"SourceEntryID"};
const RecordKey kPriceRef{"PriceRef"};
const RecordKey kAmtRef{"AmtRef"};
const RecordKey kReqEntry{key::kReqEntry};
const RecordKey kNoticeEntry{key::kNoticeEntry};
}  // namespace rk

// The columns of one reference record (name and number), read once per row.
struct RefColumns {
    size_t name;
    size_t number;
};

RefColumns Columns(RowSource& rows, std::string_view name, std::string_view number) {
    return {rows.Column(name), rows.Column(number)};
}

Ref<VariantDictionary> Reference(Variant name, Variant number) {
    auto r = VariantDictionary::WithRoom(2);
    r->Append(rk::kName, std::move(name));
    r->Append(rk::kNumber, std::move(number));
    return r;
}

// Sale type and settlement carry a name and a class id, but no number.
Ref<VariantDictionary> ClassReference(Variant name) {
    auto r = VariantDictionary::WithRoom(2);
    r->Append(rk::kName, std::move(name));
    r->Append(rk::kClassID, Variant(int16_t{0}));
    return r;
}

const Variant kHundred(int32_t{100});
const Variant kOne(int32_t{1});

class Grouper {
public:
    Grouper(RowSource& rows, BillKind kind, bool tax_in_price, const BillServices& services)
        : rows_(rows), kind_(kind), tax_in_price_(tax_in_price), services_(services) {
        ResolveColumns();
    }

    // The next bill with all its lines, or Nothing after the last. Rows of one bill follow
    // each other; a bill numbered 0 that comes first is passed over, as it always was.
    Ref<VariantDictionary> Next() {
        if (!started_) {
            started_ = true;
            while (!rows_.Eof() && rows_.Get(c_.inter_id).ToLong() == 0) rows_.MoveNext();
        }
        if (rows_.Eof()) return {};
        const int32_t inter_id = rows_.Get(c_.inter_id).ToLong();
        const bool order = kind_ == BillKind::kPurchaseOrder;
        Ref<VariantDictionary> bill = order ? OrderHeader(inter_id, year_) : NoticeHeader(inter_id, year_);
        auto entries = MakeRef<VariantVector>();
        do {
            entries->Add(Variant(order ? OrderLine() : NoticeLine()));
            rows_.MoveNext();
        } while (!rows_.Eof() && rows_.Get(c_.inter_id).ToLong() == inter_id);
        bill->Put(order ? rk::kReqEntry : rk::kNoticeEntry, Variant(entries));
        return bill;
    }

    Ref<VariantVector> Run() {
        auto result = MakeRef<VariantVector>();
        while (Ref<VariantDictionary> bill = Next()) result->Add(Variant(bill));
        if (rows_.RecordCount() <= 0 || result->UpperBound() == 0) return {};
        return result;
    }

private:
    struct ColumnIndexes {
        size_t tran_type, tran_status, inter_id, date, bill_no, exchange_rate, order_id;
        RefColumns customer, dept, relate_br, branch, currency, emp, manager;
        size_t sale_style, settle, biller;
        size_t item_name, item_number, item_model, unit_name, unit_number, unit_group_name, unit_group_number;
        size_t entry_id, aux_qty, qty, aux_price, tax_rate, cess, amount, fetch_date, note, source_entry_id;
    };

    void ResolveColumns() {
        const bool order = kind_ == BillKind::kPurchaseOrder;
        c_.tran_type = rows_.Column("FTranType");
        c_.tran_status = rows_.Column("FTranStatus");
        c_.inter_id = rows_.Column("FInterID");
        c_.date = rows_.Column("FDate");
        c_.bill_no = rows_.Column("FBillNo");
        c_.exchange_rate = rows_.Column("FExchangeRate");
        c_.customer = order ? Columns(rows_, "FSupplyName", "FSupplyNumber") : Columns(rows_, "FCustName", "FCustNumber");
        c_.dept = Columns(rows_, "FDeptName", "FDeptNumber");
        c_.relate_br = Columns(rows_, "FRelateBrName", "FRelateBrNumber");
        c_.branch = Columns(rows_, "FBrName", "FBrNumber");
        c_.currency = Columns(rows_, "FCurrencyName", "FCurrencyNumber");
        c_.emp = Columns(rows_, "FEmpName", "FEmpNumber");
        c_.manager = Columns(rows_, "FManagerName", "FManagerNumber");
        c_.biller = rows_.Column("FBillerName");
        if (!order) {
            c_.order_id = rows_.Column("FPOOrdBillNo");
            c_.sale_style = rows_.Column("FSaleStyleName");
            c_.settle = rows_.Column("FSettleName");
        }
        c_.item_name = rows_.Column("FItemName");
        c_.item_number = rows_.Column("FItemNumber");
        c_.item_model = rows_.Column("FItemModel");
        c_.unit_name = rows_.Column("FMeasureUnitName");
        c_.unit_number = rows_.Column("FMeasureUnitNumber");
        c_.unit_group_name = rows_.Column("FMeasureUnitGroupName");
        c_.unit_group_number = rows_.Column("FMeasureUnitGroupNumber");
        c_.entry_id = rows_.Column("FEntryID");
        c_.aux_qty = rows_.Column("FAuxQty");
        c_.qty = rows_.Column("FQty");
        c_.aux_price = rows_.Column("FAuxPrice");
        c_.amount = rows_.Column("FAmount");
        c_.note = rows_.Column("FNote");
        if (order) {
            c_.tax_rate = rows_.Column("FTaxRate");
            c_.cess = rows_.Column("FCess");
            c_.fetch_date = rows_.Column("FFetchDate");
        }
        if (kind_ == BillKind::kDeliveryNotice) c_.source_entry_id = rows_.Column("FSourceEntryID");
    }

    Ref<VariantDictionary> Reference(const RefColumns& c) { return data::Reference(rows_.Get(c.name), rows_.Get(c.number)); }

    // The keys every bill record starts with, up to and including BillID.
    Ref<VariantDictionary> CommonHeader(int32_t inter_id, int32_t& year) {
        auto bill = VariantDictionary::WithRoom(22);
        bill->Append(rk::kBillType, rows_.Get(c_.tran_type));
        bill->Append(rk::kTranStatus, rows_.Get(c_.tran_status));
        bill->Append(rk::kBillInterID, Variant(inter_id));
        const Variant bill_date = rows_.Get(c_.date);
        const int32_t period = services_.period_of(bill_date, year);
        bill->Append(rk::kYear, Variant(year));
        bill->Append(rk::kPeriod, Variant(period));
        bill->Append(rk::kDate, bill_date);
        bill->Append(rk::kBillID, rows_.Get(c_.bill_no));
        return bill;
    }

    Ref<VariantDictionary> OrderHeader(int32_t inter_id, int32_t& year) {
        auto bill = CommonHeader(inter_id, year);
        bill->Append(rk::kCustomer, Variant(Reference(c_.customer)));
        bill->Append(rk::kDept, Variant(Reference(c_.dept)));
        bill->Append(rk::kBrIDRsv, Variant(Reference(c_.relate_br)));
        bill->Append(rk::kBrID, Variant(Reference(c_.branch)));
        bill->Append(rk::kCurrency, Variant(Reference(c_.currency)));
        bill->Append(rk::kDoer, Variant(Reference(c_.emp)));
        bill->Append(rk::kOrderBrID, Variant(Reference(c_.branch)));
        bill->Append(rk::kDirector, Variant(Reference(c_.manager)));
        bill->Append(rk::kExchangeRate, rows_.Get(c_.exchange_rate));
        bill->Append(rk::kPreparer, rows_.Get(c_.biller));
        return bill;
    }

    Ref<VariantDictionary> NoticeHeader(int32_t inter_id, int32_t& year) {
        auto bill = CommonHeader(inter_id, year);
        // The purchase-order number joined to empty text: Null becomes "".
        Variant order_id = rows_.Get(c_.order_id);
        bill->Append(rk::kOrderID, Variant(order_id.IsNull() ? std::string() : order_id.ToText()));
        bill->Append(rk::kCustomer, Variant(Reference(c_.customer)));
        bill->Append(rk::kDept, Variant(Reference(c_.dept)));
        bill->Append(rk::kSupplyBr, Variant(Reference(c_.branch)));
        bill->Append(rk::kCurrency, Variant(Reference(c_.currency)));
        bill->Append(rk::kDoer, Variant(Reference(c_.emp)));
        bill->Append(rk::kBrIDRsv, Variant(Reference(c_.relate_br)));
        bill->Append(rk::kBrID, Variant(Reference(c_.branch)));
        bill->Append(rk::kDirector, Variant(Reference(c_.manager)));
        bill->Append(rk::kSaleType, Variant(ClassReference(rows_.Get(c_.sale_style))));
        bill->Append(rk::kSettleType, Variant(ClassReference(rows_.Get(c_.settle))));
        bill->Append(rk::kExchangeRate, rows_.Get(c_.exchange_rate));
        bill->Append(rk::kPreparer, rows_.Get(c_.biller));
        return bill;
    }

    // Item, MeasureUnit, BillID and EntryID open every entry record.
    Ref<VariantDictionary> LineStart(size_t capacity) {
        auto line = VariantDictionary::WithRoom(capacity);
        auto item = VariantDictionary::WithRoom(3);
        item->Append(rk::kName, rows_.Take(c_.item_name));
        item->Append(rk::kNumber, rows_.Take(c_.item_number));
        item->Append(rk::kModel, rows_.Take(c_.item_model));
        line->Append(rk::kItem, Variant(item));
        auto unit = VariantDictionary::WithRoom(4);
        unit->Append(rk::kName, rows_.Take(c_.unit_name));
        unit->Append(rk::kNumber, rows_.Take(c_.unit_number));
        unit->Append(rk::kGroupName, rows_.Take(c_.unit_group_name));
        unit->Append(rk::kGroupNumber, rows_.Take(c_.unit_group_number));
        line->Append(rk::kMeasureUnit, Variant(unit));
        line->Append(rk::kBillID, rows_.Get(c_.bill_no));
        line->Append(rk::kEntryID, rows_.Take(c_.entry_id));
        return line;
    }

    Ref<VariantDictionary> OrderLine() {
        using platform::Add;
        using platform::Divide;
        using platform::Multiply;
        auto line = LineStart(21);
        const Variant aux_price = rows_.Take(c_.aux_price);
        const Variant cess = rows_.Take(c_.cess);
        const Variant discount_rate = rows_.Take(c_.tax_rate);
        const Variant amount = rows_.Take(c_.amount);
        const Variant exchange_rate = rows_.Get(c_.exchange_rate);
        // 1 + tax rate: what a price without tax is multiplied by to include it.
        const Variant tax_factor = Add(Divide(cess, kHundred), kOne);

        line->Append(rk::kQty, rows_.Take(c_.aux_qty));
        line->Append(rk::kQtyBase, rows_.Take(c_.qty));
        line->Append(rk::kPrice, tax_in_price_ ? Divide(aux_price, tax_factor) : aux_price);
        line->Append(rk::kTaxRate, cess);
        line->Append(rk::kTaxPrice, tax_in_price_ ? aux_price : Multiply(aux_price, tax_factor));
        line->Append(rk::kDiscountRate, discount_rate);
        const Variant amt_for = tax_in_price_ ? Divide(amount, tax_factor) : amount;
        line->Append(rk::kAmtFor, amt_for);
        line->Append(rk::kAmt, Multiply(amount, exchange_rate));
        const Variant tax_for = Divide(Multiply(amt_for, cess), kHundred);
        line->Append(rk::kTaxFor, tax_for);
        line->Append(rk::kTax, Multiply(tax_for, exchange_rate));
        const Variant amt_total_for = tax_in_price_ ? amount : Multiply(amount, tax_factor);
        line->Append(rk::kAmtTotalFor, amt_total_for);
        line->Append(rk::kAmtTotal, Multiply(amt_total_for, exchange_rate));
        const Variant amt_discount_for = Divide(Multiply(amt_total_for, discount_rate), kHundred);
        line->Append(rk::kAmtDiscountFor, amt_discount_for);
        line->Append(rk::kAmtDiscount, Multiply(amt_discount_for, exchange_rate));
        line->Append(rk::kDate, rows_.Get(c_.date));
        line->Append(rk::kNote, rows_.Take(c_.note));
        line->Append(rk::kTranDate, rows_.Take(c_.fetch_date));
        return line;
    }

    Ref<VariantDictionary> NoticeLine() {
        const bool returns = kind_ == BillKind::kReturnNotice;
        auto line = LineStart(10);
        if (!returns) {
            line->Append(rk::kSourceEntryID, services_.null_to(rows_.Take(c_.source_entry_id), Variant(int16_t{0})));
        }
        // Return notices carry quantities and amount with the opposite sign; the price keeps its sign.
        auto signed_value = [&](size_t column) {
            Variant v = rows_.Take(column);
            return returns ? platform::Negate(v) : v;
        };
        line->Append(rk::kQty, signed_value(c_.aux_qty));
        line->Append(rk::kQtyBase, signed_value(c_.qty));
        line->Append(rk::kPriceRef, rows_.Take(c_.aux_price));
        line->Append(rk::kAmtRef, signed_value(c_.amount));
        line->Append(rk::kNote, rows_.Take(c_.note));
        return line;
    }

    RowSource& rows_;
    BillKind kind_;
    bool tax_in_price_;
    const BillServices& services_;
    ColumnIndexes c_{};
    bool started_ = false;
    int32_t year_ = 0;  // carried from bill to bill, as the period look-up receives it
};

}  // namespace

struct BillReader::State {
    State(std::unique_ptr<RowSource> r, BillKind kind, bool tax_in_price, BillServices s)
        : rows(std::move(r)), services(std::move(s)), grouper(*rows, kind, tax_in_price, services) {}
    std::unique_ptr<RowSource> rows;
    BillServices services;
    Grouper grouper;
};

BillReader::BillReader(std::unique_ptr<RowSource> rows, BillKind kind, bool tax_in_price, BillServices services)
    : state_(std::make_unique<State>(std::move(rows), kind, tax_in_price, std::move(services))) {}

BillReader::~BillReader() = default;

Ref<VariantDictionary> BillReader::Next() { return state_->grouper.Next(); }

Ref<VariantVector> GroupBills(RowSource& rows, BillKind kind, bool tax_in_price, const BillServices& services) {
    return Grouper(rows, kind, tax_in_price, services).Run();
}

}  // namespace orba::data
