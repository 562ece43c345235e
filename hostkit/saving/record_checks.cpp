#include "hostkit/saving/record_checks.h"

#include <fmt/format.h>

#include "hostkit/db/sqlite/text_rules.h"
#include "hostkit/bill_fingerprint.h"
#include "platform/error.h"

namespace orba::hostkit {

using platform::Error;
using platform::ErrorCode;
using platform::ListContainer;
using platform::MapContainer;
using platform::VarType;
using platform::Variant;

namespace {

// What a key of a received record must hold.
enum class Shape { kNumber, kNumberOrNull, kText, kTextOrNull, kDate, kDateOrNull, kReference, kClassReference, kList };

struct KeyRule {
    std::string_view key;
    Shape shape;
    std::string_view column;  // header/line column; reference records use it as a prefix
};

// Header keys in store order, with the column each one is saved in.
constexpr KeyRule kOrderHeader[] = {
    {"BillType", Shape::kNumber, "FTranType"},       {"TranStatus", Shape::kNumberOrNull, "FTranStatus"},
    {"BillInterID", Shape::kNumber, "FBillInterID"}, {"Year", Shape::kNumber, "FYear"},
    {"Period", Shape::kNumber, "FPeriod"},           {"Date", Shape::kDateOrNull, "FDate"},
    {"BillID", Shape::kText, "FBillNo"},             {"Customer", Shape::kReference, "FCustomer"},
    {"Dept", Shape::kReference, "FDept"},            {"BrIDRsv", Shape::kReference, "FBrIDRsv"},
    {"BrID", Shape::kReference, "FBrID"},            {"Currency", Shape::kReference, "FCurrency"},
    {"Doer", Shape::kReference, "FDoer"},            {"OrderBrID", Shape::kReference, "FOrderBr"},
    {"Director", Shape::kReference, "FDirector"},    {"ExchangeRate", Shape::kNumberOrNull, "FExchangeRate"},
    {"Preparer", Shape::kTextOrNull, "FPreparer"},   {"ReqEntry", Shape::kList, ""},
};

constexpr KeyRule kNoticeHeader[] = {
    {"BillType", Shape::kNumber, "FTranType"},          {"TranStatus", Shape::kNumberOrNull, "FTranStatus"},
    {"BillInterID", Shape::kNumber, "FBillInterID"},    {"Year", Shape::kNumber, "FYear"},
    {"Period", Shape::kNumber, "FPeriod"},              {"Date", Shape::kDateOrNull, "FDate"},
    {"BillID", Shape::kText, "FBillNo"},                {"OrderID", Shape::kText, "FOrderID"},
    {"Customer", Shape::kReference, "FCustomer"},       {"Dept", Shape::kReference, "FDept"},
    {"SupplyBr", Shape::kReference, "FSupplyBr"},       {"Currency", Shape::kReference, "FCurrency"},
    {"Doer", Shape::kReference, "FDoer"},               {"BrIDRsv", Shape::kReference, "FBrIDRsv"},
    {"BrID", Shape::kReference, "FBrID"},               {"Director", Shape::kReference, "FDirector"},
    {"SaleType", Shape::kClassReference, "FSaleType"},  {"SettleType", Shape::kClassReference, "FSettleType"},
    {"ExchangeRate", Shape::kNumberOrNull, "FExchangeRate"}, {"Preparer", Shape::kTextOrNull, "FPreparer"},
    {"NoticeEntry", Shape::kList, ""},
};

// Line keys; Item and MeasureUnit are checked and saved on their own.
constexpr KeyRule kOrderLine[] = {
    {"BillID", Shape::kTextOrNull, "FBillNo"},           {"EntryID", Shape::kNumber, "FEntryID"},
    {"Qty", Shape::kNumberOrNull, "FQty"},               {"QtyBase", Shape::kNumberOrNull, "FQtyBase"},
    {"Price", Shape::kNumberOrNull, "FPrice"},           {"TaxRate", Shape::kNumberOrNull, "FTaxRate"},
    {"TaxPrice", Shape::kNumberOrNull, "FTaxPrice"},     {"DiscountRate", Shape::kNumberOrNull, "FDiscountRate"},
    {"AmtFor", Shape::kNumberOrNull, "FAmtFor"},         {"Amt", Shape::kNumberOrNull, "FAmt"},
    {"TaxFor", Shape::kNumberOrNull, "FTaxFor"},         {"Tax", Shape::kNumberOrNull, "FTax"},
    {"AmtTotalFor", Shape::kNumberOrNull, "FAmtTotalFor"}, {"AmtTotal", Shape::kNumberOrNull, "FAmtTotal"},
    {"AmtDiscountFor", Shape::kNumberOrNull, "FAmtDiscountFor"}, {"AmtDiscount", Shape::kNumberOrNull, "FAmtDiscount"},
    {"Date", Shape::kDateOrNull, "FDate"},               {"Note", Shape::kTextOrNull, "FNote"},
    {"TranDate", Shape::kDateOrNull, "FTranDate"},
};

// Delivery-notice lines carry SourceEntryID; return-notice lines do not.
constexpr KeyRule kNoticeLine[] = {
    {"BillID", Shape::kTextOrNull, "FBillNo"},    {"EntryID", Shape::kNumber, "FEntryID"},
    {"Qty", Shape::kNumberOrNull, "FQty"},        {"QtyBase", Shape::kNumberOrNull, "FQtyBase"},
    {"PriceRef", Shape::kNumberOrNull, "FPriceRef"}, {"AmtRef", Shape::kNumberOrNull, "FAmtRef"},
    {"Note", Shape::kTextOrNull, "FNote"},
};

std::string_view ShapeText(Shape s) {
    switch (s) {
        case Shape::kNumber: return "a number";
        case Shape::kNumberOrNull: return "a number or null";
        case Shape::kText: return "a text";
        case Shape::kTextOrNull: return "a text or null";
        case Shape::kDate: return "a date";
        case Shape::kDateOrNull: return "a date or null";
        case Shape::kReference: return "a record with Name and Number";
        case Shape::kClassReference: return "a record with Name and ClassID";
        case Shape::kList: return "a list of line records";
    }
    return "?";
}

const MapContainer* AsMap(const Variant& v) {
    return v.IsObject() ? dynamic_cast<const MapContainer*>(v.AsObject().Get()) : nullptr;
}

const Variant* Lookup(const MapContainer& map, std::string_view key) {
    for (size_t i = 0; i < map.Size(); ++i) {
        if (map.KeyAt(i) == key) return &map.ValueAt(i);
    }
    return nullptr;
}

bool Fits(const Variant& v, Shape shape) {
    switch (shape) {
        case Shape::kNumberOrNull: return v.IsNull() || v.IsNumeric();
        case Shape::kNumber: return v.IsNumeric();
        case Shape::kTextOrNull: return v.IsNull() || v.IsString();
        case Shape::kText: return v.IsString();
        case Shape::kDateOrNull: return v.IsNull() || v.Type() == VarType::kDate;
        case Shape::kDate: return v.Type() == VarType::kDate;
        case Shape::kList: return AsList(v) != nullptr;
        case Shape::kReference:
        case Shape::kClassReference: {
            const MapContainer* m = AsMap(v);
            if (!m) return false;
            const Variant* name = Lookup(*m, "Name");
            const Variant* second = Lookup(*m, shape == Shape::kReference ? "Number" : "ClassID");
            return name && second && Fits(*name, Shape::kTextOrNull) &&
                   Fits(*second, shape == Shape::kReference ? Shape::kTextOrNull : Shape::kNumber);
        }
    }
    return false;
}

// Where in the package a record stands, for error messages.
struct Place {
    int bill;
    std::string bill_no;
    int line = 0;
    std::string Describe() const {
        std::string s = fmt::format("bill {}", bill);
        if (!bill_no.empty()) s += fmt::format(" ('{}')", bill_no);
        if (line) s += fmt::format(", line {}", line);
        return s;
    }
};

const Variant& Require(const MapContainer& map, const KeyRule& rule, const Place& place) {
    const Variant* v = Lookup(map, rule.key);
    if (!v) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The received {} has no key \"{}\"", place.Describe(), rule.key));
    }
    if (!Fits(*v, rule.shape)) {
        throw Error(ErrorCode::kBadInput, fmt::format("The received {} has \"{}\" as a {} where {} is expected",
                                                      place.Describe(), rule.key, v->TypeName(), ShapeText(rule.shape)));
    }
    return *v;
}


const Variant kNull = Variant::Null();

// Adds the columns of one checked key; a reference record becomes <prefix>Name and
// <prefix>Number (or <prefix>Name alone for sale type and settlement).
void AddColumns(std::vector<Column>& columns, const KeyRule& rule, const Variant& value) {
    if (rule.shape == Shape::kList) return;
    if (rule.shape == Shape::kReference || rule.shape == Shape::kClassReference) {
        const MapContainer& ref = *AsMap(value);
        columns.push_back({std::string(rule.column) + "Name", Lookup(ref, "Name")});
        if (rule.shape == Shape::kReference) columns.push_back({std::string(rule.column) + "Number", Lookup(ref, "Number")});
        return;
    }
    columns.push_back({std::string(rule.column), &value});
}

CheckedLine CheckLine(const Variant& value, ReceivedKind kind, bool delivery, Place place) {
    const MapContainer* line = AsMap(value);
    if (!line) {
        throw Error(ErrorCode::kBadInput, fmt::format("The received {} is a {}, not a line record", place.Describe(),
                                                      value.TypeName()));
    }
    CheckedLine checked;
    const KeyRule item{"Item", Shape::kReference, "FItem"};
    const MapContainer& item_ref = *AsMap(Require(*line, item, place));
    const Variant* model = Lookup(item_ref, "Model");
    checked.columns.push_back({"FItemName", Lookup(item_ref, "Name")});
    checked.columns.push_back({"FItemNumber", Lookup(item_ref, "Number")});
    checked.columns.push_back({"FItemModel", model ? model : &kNull});
    const KeyRule unit{"MeasureUnit", Shape::kReference, "FUnit"};
    const MapContainer& unit_ref = *AsMap(Require(*line, unit, place));
    const Variant* group_name = Lookup(unit_ref, "GroupName");
    const Variant* group_number = Lookup(unit_ref, "GroupNumber");
    checked.columns.push_back({"FUnitName", Lookup(unit_ref, "Name")});
    checked.columns.push_back({"FUnitNumber", Lookup(unit_ref, "Number")});
    checked.columns.push_back({"FUnitGroupName", group_name ? group_name : &kNull});
    checked.columns.push_back({"FUnitGroupNumber", group_number ? group_number : &kNull});
    if (kind == ReceivedKind::kOrder) {
        for (const KeyRule& rule : kOrderLine) AddColumns(checked.columns, rule, Require(*line, rule, place));
    } else {
        for (const KeyRule& rule : kNoticeLine) AddColumns(checked.columns, rule, Require(*line, rule, place));
        if (delivery) {
            const KeyRule source{"SourceEntryID", Shape::kNumber, "FSourceEntryID"};
            AddColumns(checked.columns, source, Require(*line, source, place));
        }
    }
    return checked;
}


}  // namespace

const ListContainer* AsList(const Variant& v) {
    return v.IsObject() ? dynamic_cast<const ListContainer*>(v.AsObject().Get()) : nullptr;
}

CheckedBill CheckBill(const Variant& value, ReceivedKind kind, int index) {
    Place place{index, {}};
    const MapContainer* bill = AsMap(value);
    if (!bill) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The received {} is a {}, not a bill record", place.Describe(), value.TypeName()));
    }
    if (const Variant* no = Lookup(*bill, "BillID"); no && no->IsString()) place.bill_no = no->AsString();

    CheckedBill checked;
    const Variant* lines = nullptr;
    auto check = [&](const KeyRule& rule) {
        const Variant& v = Require(*bill, rule, place);
        if (rule.shape == Shape::kList) lines = &v;
        AddColumns(checked.columns, rule, v);
    };
    if (kind == ReceivedKind::kOrder) {
        for (const KeyRule& rule : kOrderHeader) check(rule);
    } else {
        for (const KeyRule& rule : kNoticeHeader) check(rule);
    }
    checked.bill_no = place.bill_no;
    checked.tran_type = *Lookup(*bill, "BillType");
    checked.inter_id = Lookup(*bill, "BillInterID")->ToLong();
    // The sending branch is the one the bill names as its own.
    const MapContainer& sender = *AsMap(*Lookup(*bill, "BrID"));
    const Variant& send_number = *Lookup(sender, "Number");
    if (!send_number.IsString() || send_number.AsString().empty()) {
        throw Error(ErrorCode::kBadInput,
                    fmt::format("The received {} does not name its sending branch (\"BrID\" has no Number)",
                                place.Describe()));
    }
    checked.send_number = send_number.AsString();
    const Variant& send_name = *Lookup(sender, "Name");
    checked.send_name = send_name.IsString() ? send_name.AsString() : std::string();
    const Variant& receiver_number = *Lookup(*AsMap(*Lookup(*bill, "BrIDRsv")), "Number");
    if (receiver_number.IsString() && !receiver_number.AsString().empty()) {
        checked.receiver_number = std::string(receiver_number.AsString());
    }
    checked.fingerprint = BillFingerprint(value);

    // Delivery-notice records carry the source line of each line; return-notice records, with
    // their quantities negated, do not. The form is told by the lines themselves.
    const ListContainer& list = *AsList(*lines);
    const MapContainer* first_line = list.Count() > 0 ? AsMap(list.At(1)) : nullptr;
    const bool delivery = kind == ReceivedKind::kNotice &&
                          (first_line ? Lookup(*first_line, "SourceEntryID") != nullptr
                                      : checked.tran_type.ToLong() != kReturnNoticeType);
    checked.delivery_form = delivery;
    for (int32_t i = 1; i <= list.Count(); ++i) {
        Place line_place = place;
        line_place.line = i;
        checked.lines.push_back(CheckLine(list.At(i), kind, delivery, line_place));
    }
    return checked;
}

std::string_view KindCode(ReceivedKind kind) { return kind == ReceivedKind::kOrder ? "ORDER" : "NOTICE"; }

std::string_view KindName(ReceivedKind kind, const Variant& tran_type) {
    if (kind == ReceivedKind::kOrder) return "Purchase order";
    return tran_type.ToLong() == kReturnNoticeType ? "Return notice" : "Delivery notice";
}

// The sending branch selects notices for a package of delivery notices and for one of return
// notices without regard to their own type, so each notice arrives twice: once in the
// delivery form (quantities as stored, source lines) and once in the return form
// (quantities negated). Only the form that matches the notice's own type is saved;
// saving the other would keep a delivery notice with negated quantities, or a return
// notice with the delivery sign.
bool InItsOwnForm(ReceivedKind kind, const CheckedBill& bill) {
    if (kind == ReceivedKind::kOrder) return true;
    return bill.delivery_form == (bill.tran_type.ToLong() != kReturnNoticeType);
}


std::string Contradiction(ReceivedKind kind, const CheckedBill& bill, const std::optional<ReceivedList>& list,
                          const std::string& own_number) {
    const int32_t type = bill.tran_type.ToLong();
    if (kind == ReceivedKind::kOrder && type != kPurchaseOrderType) {
        return fmt::format("its own bill type {} is not that of a purchase order ({})", type, kPurchaseOrderType);
    }
    if (kind == ReceivedKind::kNotice && type != kDeliveryNoticeType && type != kReturnNoticeType) {
        return fmt::format("its own bill type {} is that of neither a delivery notice ({}) nor a return notice ({})",
                           type, kDeliveryNoticeType, kReturnNoticeType);
    }
    if (list && CompareServerText(bill.send_number, list->sender_number) != 0) {
        return fmt::format("it names branch {} as its own (BrID), but the list was sent by branch {}",
                           bill.send_number, list->sender_number);
    }
    if (!bill.receiver_number) {
        return fmt::format("it is addressed to no branch (BrIDRsv), not to this branch {}", own_number);
    }
    if (CompareServerText(*bill.receiver_number, own_number) != 0) {
        return fmt::format("it is addressed to branch {} (BrIDRsv), not to this branch {}", *bill.receiver_number,
                           own_number);
    }
    return {};
}

// What can be told of a bill record that failed its checks, for its outcome.
SaveOutcome OutcomeOfUnchecked(const Variant& value) {
    SaveOutcome outcome;
    if (const MapContainer* bill = AsMap(value)) {
        if (const Variant* id = Lookup(*bill, "BillInterID")) outcome.bill_inter_id = *id;
        if (const Variant* no = Lookup(*bill, "BillID"); no && no->IsString()) outcome.bill_no = no->AsString();
        if (const Variant* type = Lookup(*bill, "BillType"); type && type->IsNumeric()) {
            try {
                outcome.tran_type = type->ToLong();
            } catch (const Error&) {
            }
        }
    }
    return outcome;
}


}  // namespace orba::hostkit
